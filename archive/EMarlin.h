#pragma once

#include <stdexcept>
#include <string>

// The component's exception: a message id, its text, and whether the user is to see it.
class EMarlin : public std::runtime_error {
 public:
  // Text of `id`; Display as given.
  EMarlin(int id, bool display);
  // Text of `id` with its one %d filled; displayed.
  EMarlin(int id, int value);
  // Text of `id` with its one %s filled (a drive); displayed.
  EMarlin(int id, const std::string& text);
  EMarlin(int id, const char* text) : EMarlin(id, std::string(text)) {}

  bool Display;
  int MsgId;
};
