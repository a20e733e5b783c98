// Modal message boxes without an owner window: the overwrite questions and
// the end-of-session warning. The style is the classic box style number
// (0x34: warning icon with Yes and No; 0x30: warning icon with OK).
#pragma once

#include <cstdint>
#include <string_view>

namespace vellora {

constexpr std::uint32_t kStyleYesNoWarning = 0x34;
constexpr std::uint32_t kStyleOkWarning = 0x30;

constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

// Named in the plural so that it cannot meet the Windows headers' macro of
// the singular name.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows the box and waits for the answer: kAnswerYes, kAnswerNo or kAnswerOk.
  virtual int show(std::string_view text, std::string_view caption, std::uint32_t style) = 0;
};

}  // namespace vellora
