#pragma once
// The code pages that entry names without the UTF-8 flag may be stored in, and reading
// such names into UTF-8. Shared by the archive component and the decompressor library, so
// that both read every name alike.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace entrynames {

inline constexpr int kUtf8CodePage = 65001;
// The rule when nothing better is known: the DOS code page of the first PCs.
inline constexpr int kDefaultCodePage = 437;

struct CodePageInfo {
  int Number;               // Windows code page number
  const char* Name;         // the name shown and taken first: "cp932"
  const char* Description;  // "Japanese (Shift-JIS)"
  const char* Converter;    // the conversion library's name for it
  const char* Aliases;      // further names accepted, blank-separated
};

// Every code page a name can be read in, the detected ones first.
const std::vector<CodePageInfo>& CodePages();
// The code page of a number, or null.
const CodePageInfo* FindCodePage(int number);
// The code page a user names: "cp932", "932", "shift-jis", "GBK", "utf8"... (case and '-'
// against '_' do not matter). 0 when the name is unknown.
int ParseCodePage(std::string_view text);
// "cp932 (Japanese, Shift-JIS)"; "utf-8" for 65001.
std::string CodePageLabel(int number);

// Reads byte strings of one code page as UTF-8.
class NameDecoder {
 public:
  // An unknown number reads as code page 437.
  explicit NameDecoder(int codePage);
  ~NameDecoder();
  NameDecoder(const NameDecoder&) = delete;
  NameDecoder& operator=(const NameDecoder&) = delete;

  int CodePage() const { return codePage_; }
  // The text as UTF-8; a byte sequence the code page does not define reads as U+FFFD.
  std::string Decode(std::string_view raw);
  // The same, appended to `out`; returns how many sequences were not defined.
  size_t DecodeTo(std::string_view raw, std::string& out);
  // The stored bytes as this code page splits them into a path: every separator made '/',
  // and a '\\' that is the second byte of a double-byte character (Shift-JIS "ソ" is 0x83
  // 0x5C) made '_', since it separates nothing. For judging where a stored name leads.
  std::string SeparatorsMarked(std::string_view raw) const;

 private:
  int codePage_;
  struct Converter;
  std::unique_ptr<Converter> converter_;  // multi-byte code pages
  // Single-byte code pages: the UTF-8 of bytes 0x80 to 0xFF (length in the last byte).
  std::array<std::array<char, 4>, 128> high_{};
  std::array<bool, 256> leadBytes_{};
  bool singleByte_ = true;
  // Double-byte code pages: the UTF-8 of each pair, filled a first byte at a time as
  // names need it (a length of 0: the pair is not defined), and of the single bytes.
  using Utf8Char = std::array<char, 4>;
  std::array<std::unique_ptr<std::array<Utf8Char, 256>>, 256> pairs_;
  bool pairTables_ = false;
  const std::array<Utf8Char, 256>& Pairs(unsigned char lead);
  std::string ConvertedByLibrary(std::string_view raw, size_t& undefined);
};

}  // namespace entrynames
