// What the office converter's ForeignToRtf32 and RtfToForeign32 answer.
#pragma once

#include <cstdint>

namespace vellora::office {

constexpr std::int16_t kOk = 0;
constexpr std::int16_t kInputUnreadable = -1;
constexpr std::int16_t kNoOffice = -2;      // no soffice to run
constexpr std::int16_t kOfficeFailed = -3;  // it failed, ran too long or wrote no RTF
constexpr std::int16_t kCancelled = -4;     // the output callback asked to stop
constexpr std::int16_t kBadArguments = -5;  // no buffer or no callback
constexpr std::int16_t kNoWorkspace = -6;   // no private temporary folder
constexpr std::int16_t kNotSupported = -7;  // RTF to Word is not offered

}  // namespace vellora::office
