// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the C library from re-reading the system's time zone file for every recording date.
#include "avi/local_time_zone.h"

#include <cstdlib>
#include <ctime>

namespace vantrel::avi {

void PinLocalTimeZone()
{
    if (std::getenv("TZ") == nullptr) {
        setenv("TZ", ":/etc/localtime", 0);
        tzset();
    }
}

}  // namespace vantrel::avi
