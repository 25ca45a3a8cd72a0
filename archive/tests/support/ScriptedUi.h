#pragma once
// A user interface for tests: records every box and answers from a script.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "MarlinUi.h"

class ScriptedUi : public MarlinUi {
 public:
  struct Answer {
    int Button = boxresult::Ok;
    // Runs before the answer is given, as a user would act while the box is open
    // (inserting a disk, say).
    std::function<void()> Action;
  };

  // Queues the answer to the next box; boxes beyond the script get 0 (not shown).
  void Then(int button, std::function<void()> action = {}) { answers_.push_back({button, std::move(action)}); }
  // Boxes with only an OK button are answered OK without a script entry when set.
  bool AutoConfirmNotices = true;
  // Texts given to the next AskText calls; none left means cancelled.
  std::deque<std::string> TextAnswers;

  std::vector<BoxRequest> Boxes;
  std::vector<std::string> TextPrompts;
  int BusyDepth = 0;
  int ProcessEventsCalls = 0;

  int ShowBox(const BoxRequest& box) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
               int maxLength) override;
  void ProcessEvents() override { ++ProcessEventsCalls; }
  void SetBusyCursor(bool busy) override { BusyDepth += busy ? 1 : -1; }

  std::vector<std::string> BoxTexts() const;

 private:
  std::deque<Answer> answers_;
};
