#include "EMarlin.h"

#include "MarlinMessages.h"

namespace {

// A missing id is never formatted: the fallback has no placeholders for the value.
std::string TextOf(int id, const std::string* arg) {
  const std::string_view text = MessageTableText(id);
  if (text.empty()) return MissingMessageText(id);
  if (!arg) return std::string(text);
  return FormatMessageText(text, {*arg});
}

}  // namespace

EMarlin::EMarlin(int id, bool display) : std::runtime_error(TextOf(id, nullptr)), Display(display), MsgId(id) {}

EMarlin::EMarlin(int id, int value)
    : std::runtime_error([&] { const std::string v = std::to_string(value); return TextOf(id, &v); }()),
      Display(true),
      MsgId(id) {}

EMarlin::EMarlin(int id, const std::string& text) : std::runtime_error(TextOf(id, &text)), Display(true), MsgId(id) {}
