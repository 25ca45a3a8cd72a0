#pragma once

#include <string>
#include <string_view>

// Converts DOS code page 437 text (the OEM code page of ZIP names) to UTF-8.
std::string Cp437ToUtf8(std::string_view raw);
