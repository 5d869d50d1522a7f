// SPDX-License-Identifier: GPL-3.0-or-later
// A second, separately written reading of DV frame metadata for checking vantrel-probe: it walks
// the packs itself (nothing from dv/) and formats the four info panel lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::tests {

class IndependentReading {
public:
    // The probe's output line for one frame: number, TAB, line 1, TAB, line 2, TAB, line 3, TAB,
    // time code line. Frames must come in order; the remembered shutter carries over.
    std::string probeLine(const std::uint8_t* frame, std::size_t size, bool isPal, long frameNumber);

private:
    int m_lastShutter = -1;
};

}  // namespace vantrel::tests
