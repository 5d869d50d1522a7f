// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the C library from re-reading the system's time zone file for every recording date.
#pragma once

namespace vantrel::avi {

// With TZ unset, glibc's mktime checks /etc/localtime again on every call (a stat, about 3 µs):
// more than the rest of a frame's analysis. Naming the same file in TZ once at start-up keeps
// the local time the same and lets the C library keep what it read. A TZ already set is kept.
// Call it from main(), before any thread starts.
void PinLocalTimeZone();

}  // namespace vantrel::avi
