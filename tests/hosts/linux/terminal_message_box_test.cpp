// Terminal message boxes: which answers count, and that a box never waits
// when nobody can answer.
#include "hosts/linux/terminal_message_box.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vellora::linux_host {
namespace {

struct Asked {
  int answer = 0;
  std::string printed;
  std::string unread;
};

Asked ask(const std::string& typed, bool is_interactive, int scripted, std::uint32_t style = kStyleYesNoWarning) {
  std::istringstream in(typed);
  std::ostringstream out;
  TerminalMessageBox box(in, out, is_interactive, scripted);
  Asked asked{.answer = box.show("Overwrite a.txt?", "Vellora", style), .printed = {}, .unread = {}};
  asked.printed = out.str();
  std::getline(in, asked.unread, '\0');
  return asked;
}

TEST(TerminalMessageBox, InteractiveAnswers) {
  for (const char* yes : {"y\n", " YES \r\n", "y"}) EXPECT_EQ(ask(yes, true, kAnswerNo).answer, kAnswerYes);
  for (const char* no : {"n\n", "No\n", "\n", ""}) EXPECT_EQ(ask(no, true, kAnswerYes).answer, kAnswerNo);

  auto asked = ask("maybe\ny\n", true, kAnswerNo);
  EXPECT_EQ(asked.answer, kAnswerYes);
  EXPECT_EQ(asked.printed,
            "Vellora: Overwrite a.txt? [y/N] Please answer y or n.\n"
            "Vellora: Overwrite a.txt? [y/N] ");
  asked = ask("a\nb\nc\ny\n", true, kAnswerYes);  // gives up after kMaxPromptAttempts
  EXPECT_EQ(asked.answer, kAnswerNo);
  EXPECT_EQ(asked.unread, "y\n");
}

TEST(TerminalMessageBox, ScriptedAndOkBoxesPrintAndNeverRead) {
  auto asked = ask("n\n", false, kAnswerYes);
  EXPECT_EQ(asked.answer, kAnswerYes);
  EXPECT_EQ(asked.printed, "Vellora: Overwrite a.txt? -> yes\n");
  EXPECT_EQ(asked.unread, "n\n");
  EXPECT_EQ(ask("", false, kAnswerNo).printed, "Vellora: Overwrite a.txt? -> no\n");
  EXPECT_EQ(ask("", false, 12345).answer, kAnswerNo);  // not Yes: nothing is lost

  asked = ask("y\n", true, kAnswerYes, kStyleOkWarning);
  EXPECT_EQ(asked.answer, kAnswerOk);
  EXPECT_EQ(asked.printed, "Vellora: Overwrite a.txt?\n");
  EXPECT_EQ(asked.unread, "y\n");
}

}  // namespace
}  // namespace vellora::linux_host
