#include "ScriptedUi.h"

int ScriptedUi::ShowBox(const BoxRequest& box) {
  Boxes.push_back(box);
  if (AutoConfirmNotices && box.Buttons == BoxButtons::Ok) return boxresult::Ok;
  if (answers_.empty()) return boxresult::None;
  Answer a = std::move(answers_.front());
  answers_.pop_front();
  if (a.Action) a.Action();
  return a.Button;
}

bool ScriptedUi::AskText(const std::string&, const std::string& prompt, std::string& value, bool, int maxLength) {
  TextPrompts.push_back(prompt);
  if (TextAnswers.empty()) return false;
  value = TextAnswers.front().substr(0, size_t(maxLength));
  TextAnswers.pop_front();
  return true;
}

std::vector<std::string> ScriptedUi::BoxTexts() const {
  std::vector<std::string> texts;
  for (const auto& b : Boxes) texts.push_back(b.Text);
  return texts;
}
