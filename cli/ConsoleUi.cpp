#include "ConsoleUi.h"

#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "TerminalText.h"

namespace {

struct Choice {
  const char* Word;
  int Result;
};

std::vector<Choice> ChoicesOf(BoxButtons buttons) {
  using namespace boxresult;
  switch (buttons) {
    case BoxButtons::Ok: return {{"ok", Ok}};
    case BoxButtons::OkCancel: return {{"ok", Ok}, {"cancel", Cancel}};
    case BoxButtons::YesNo: return {{"yes", Yes}, {"no", No}};
    case BoxButtons::YesNoCancel: return {{"yes", Yes}, {"no", No}, {"cancel", Cancel}};
    case BoxButtons::RetryCancel: return {{"retry", Retry}, {"cancel", Cancel}};
    case BoxButtons::AbortRetryIgnore: return {{"abort", Abort}, {"retry", Retry}, {"ignore", Ignore}};
  }
  return {};
}

std::string ReadLine(bool masked) {
  termios old {};
  const bool hide = masked && ::tcgetattr(STDIN_FILENO, &old) == 0;
  if (hide) {
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (hide) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputc('\n', stderr);
  }
  return line;
}

}  // namespace

int ConsoleUi::ShowBox(const BoxRequest& box) {
  const std::vector<Choice> choices = ChoicesOf(box.Buttons);
  if (choices.size() <= 1) return boxresult::Ok;
  const size_t def = size_t(box.DefaultButton) < choices.size() ? size_t(box.DefaultButton) : 0;
  if (AnswerDefaults) {
    std::fprintf(stderr, "%s\n[answered: %s]\n", VisibleText(box.Text, TextLayout::LineBreaks).c_str(), choices[def].Word);
    return choices[def].Result;
  }
  if (!::isatty(STDIN_FILENO)) return boxresult::None;
  for (;;) {
    std::fprintf(stderr, "%s\n", VisibleText(box.Text, TextLayout::LineBreaks).c_str());
    for (size_t i = 0; i < choices.size(); ++i)
      std::fprintf(stderr, "%s[%c]%s", i ? " / " : "", std::toupper(choices[i].Word[0]), choices[i].Word + 1);
    std::fprintf(stderr, " (Enter: %s)? ", choices[def].Word);
    std::fflush(stderr);
    if (!std::cin) return boxresult::None;
    const std::string answer = ReadLine(false);
    if (answer.empty()) return choices[def].Result;
    for (const Choice& c : choices)
      if (std::tolower(uint8_t(answer[0])) == c.Word[0]) return c.Result;
  }
}

bool ConsoleUi::AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
                        int maxLength) {
  if (AnswerDefaults || !::isatty(STDIN_FILENO)) return false;
  std::fprintf(stderr, "%s: %s ", VisibleText(caption).c_str(), VisibleText(prompt, TextLayout::LineBreaks).c_str());
  std::fflush(stderr);
  if (!std::cin) return false;
  value = ReadLine(masked).substr(0, size_t(maxLength));
  return true;
}
