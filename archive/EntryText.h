#pragma once
// How an entry is shown: file-name and folder parts, date and time, ratio. Shared by the
// entry grid and the command-line listing so that both show the same texts.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

// The text after the last '/', and everything up to and including it.
std::string_view EntryFileName(std::string_view entryName);
std::string_view EntryPath(std::string_view entryName);

// (1 - packed/unpacked) x 100, rounded half to even, then "% "; "0% " for an empty entry.
std::string RatioText(uint64_t packed, uint64_t unpacked);
// The same for the totals row, whose empty form is "0 % ".
std::string TotalRatioText(uint64_t packed, uint64_t unpacked);

// DOS date and time in the locale's short date, two blanks and its short time. Dates
// repeat a lot within an archive, so converted texts are kept.
class EntryDateFormatter {
 public:
  const std::string& Text(uint32_t modDateTime);

 private:
  std::unordered_map<uint32_t, std::string> cache_;
};
