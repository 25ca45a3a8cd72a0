#pragma once
// The component's message table: texts by numeric id, looked up when used.

#include <initializer_list>
#include <string>
#include <string_view>

// The text of `id`, or an empty view when the table has none.
std::string_view MessageTableText(int id);

// "ParleyXX.res ... Missing String ID is: <id>", the text given for an id without text.
std::string MissingMessageText(int id);

// Fills the printf-style placeholders (%s, %d, %.1d) of `text` in order with `args`;
// anything else is kept as it stands, so a text never reads past its arguments.
std::string FormatMessageText(std::string_view text, std::initializer_list<std::string> args);
