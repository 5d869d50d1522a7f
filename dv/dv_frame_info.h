// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded metadata of one DV frame, as the info panel shows it and the analysis store keeps it.
#pragma once

#include <ctime>
#include <type_traits>

namespace vantrel::dv {

// One record per frame. A value the frame does not carry reads as:
//   dShutter -1.0, nGain 0, dIris 0.0, the four texts "No data recorded",
//   tmRecorded with tm_sec, tm_min, tm_hour, tm_mon and tm_year at -1.
// szTimeCode is always written by AnalyseFrame. A record whose every field is
// zero has never been analysed (the store is cleared to zero before a run).
struct DVFrameInfo {
    double dShutter;               // 1/N second as N, a whole number
    int nGain;                     // gain code 0..15 of the camera pack
    double dIris;                  // F-number
    char szTimeCode[256];          // "TimeCode hh:mm:ss   ff"
    std::tm tmRecorded;            // local recording time, normalised by mktime
    char szWhiteBalanceMode[32];
    char szWhiteBalance[32];       // light source
    char szFocus[32];
    char szExposure[32];           // automatic exposure mode
};

static_assert(std::is_trivially_copyable_v<DVFrameInfo>);
static_assert(sizeof(int) == 4, "gain and the tm fields are 32-bit");

// True for a record that was never analysed: every field zero, every text empty.
bool isNeverAnalysed(const DVFrameInfo& info) noexcept;

}  // namespace vantrel::dv
