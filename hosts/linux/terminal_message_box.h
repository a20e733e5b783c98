// Message boxes on the terminal for the Linux host. A Yes/No question is
// asked on the terminal when someone is there to answer it; otherwise the
// question is printed with the scripted answer, so a run from cron or a
// pipe never waits. An OK box is printed and never waits.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string_view>

#include "platform/message_box.h"

namespace vellora::linux_host {

// Times an unclear answer is asked again before it counts as No.
constexpr int kMaxPromptAttempts = 3;

// True when standard input is a terminal.
bool stdin_is_terminal();

class TerminalMessageBox : public MessageBoxes {
 public:
  // The streams must outlive the box. `scripted_answer` is kAnswerYes or
  // kAnswerNo; anything else counts as kAnswerNo, the answer that loses
  // nothing.
  TerminalMessageBox(std::istream& in, std::ostream& out, bool is_interactive, int scripted_answer);

  // Styles whose button set (low four bits) is Yes/No (0x34) ask
  //   "<caption>: <text> [y/N] "
  // and take y or yes as Yes; n, no, an empty line or end of input as No;
  // anything else asks again. Not interactive, they print
  //   "<caption>: <text> -> yes" (or "-> no")
  // and return the scripted answer. Every other style prints
  // "<caption>: <text>" and returns kAnswerOk.
  int show(std::string_view text, std::string_view caption, std::uint32_t style) override;

 private:
  int ask(std::string_view question);

  std::istream& in_;
  std::ostream& out_;
  bool is_interactive_;
  int scripted_answer_;
};

}  // namespace vellora::linux_host
