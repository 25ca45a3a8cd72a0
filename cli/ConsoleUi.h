#pragma once
// The component's boxes on a terminal. Notices (OK only) are not repeated here: every
// message the component reports also reaches standard error through OnMessage.

#include "MarlinUi.h"

class ConsoleUi : public MarlinUi {
 public:
  // When set, questions are answered with their default button instead of asked.
  bool AnswerDefaults = false;

  int ShowBox(const BoxRequest& box) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
               int maxLength) override;
  void ProcessEvents() override {}
  void SetBusyCursor(bool) override {}
};
