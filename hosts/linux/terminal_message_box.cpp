// TerminalMessageBox: the Linux host's message boxes as terminal lines.
#include "hosts/linux/terminal_message_box.h"

#include <unistd.h>

#include <string>

#include "base/ascii.h"
#include "hosts/linux/terminal_text.h"

namespace vellora::linux_host {

namespace {

constexpr std::uint32_t kButtonMask = 0x0F;
constexpr std::uint32_t kButtonsYesNo = 0x04;

std::string lower_trimmed(std::string_view line) {
  const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && is_space(line.front())) line.remove_prefix(1);
  while (!line.empty() && is_space(line.back())) line.remove_suffix(1);
  return to_lower_ascii(line);
}

std::string headline(std::string_view caption, std::string_view text) {
  std::string line;
  if (!caption.empty()) line.append(caption).append(": ");
  return line.append(text);
}

}  // namespace

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

TerminalMessageBox::TerminalMessageBox(std::istream& in, std::ostream& out, bool is_interactive, int scripted_answer)
    : in_(in),
      out_(out),
      is_interactive_(is_interactive),
      scripted_answer_(scripted_answer == kAnswerYes ? kAnswerYes : kAnswerNo) {}

int TerminalMessageBox::show(std::string_view text, std::string_view caption, std::uint32_t style) {
  const std::string question = terminal_safe(headline(caption, text));
  if ((style & kButtonMask) != kButtonsYesNo) {
    out_ << question << '\n' << std::flush;
    return kAnswerOk;
  }
  if (is_interactive_) return ask(question);
  out_ << question << (scripted_answer_ == kAnswerYes ? " -> yes" : " -> no") << '\n' << std::flush;
  return scripted_answer_;
}

int TerminalMessageBox::ask(std::string_view question) {
  for (int attempt = 0; attempt < kMaxPromptAttempts; ++attempt) {
    out_ << question << " [y/N] " << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      out_ << '\n' << std::flush;  // keep the next output off the prompt line
      return kAnswerNo;
    }
    const std::string answer = lower_trimmed(line);
    if (answer == "y" || answer == "yes") return kAnswerYes;
    if (answer.empty() || answer == "n" || answer == "no") return kAnswerNo;
    out_ << "Please answer y or n.\n";
  }
  out_ << "-> no\n" << std::flush;
  return kAnswerNo;
}

}  // namespace vellora::linux_host
