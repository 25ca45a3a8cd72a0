#pragma once
// What the archive component needs of a user interface. The component has no widgets of
// its own; the application implements this with Qt dialogs, tests with a script.

#include <string>

// The button sets and icons of a modal box, and the button codes it returns
// (0 when the box could not be shown).
enum class BoxButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class BoxIcon { None, Information, Question, Warning, Stop };
namespace boxresult {
inline constexpr int None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7;
}

struct BoxRequest {
  std::string Text;
  std::string Caption;
  BoxButtons Buttons = BoxButtons::Ok;
  BoxIcon Icon = BoxIcon::None;
  int DefaultButton = 0;  // 0-based index into the button set
};

class MarlinUi {
 public:
  virtual ~MarlinUi() = default;
  // Shows a modal box and returns the button pressed, or 0 when none could be shown.
  virtual int ShowBox(const BoxRequest& box) = 0;
  // Asks for a line of text; false when the user cancelled or nothing could be shown.
  virtual bool AskText(const std::string& caption, const std::string& prompt, std::string& value,
                       bool masked, int maxLength) = 0;
  virtual void ProcessEvents() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
};
