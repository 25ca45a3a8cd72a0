#pragma once
// How the text of an entry's name or comment is read when its entry lacks the UTF-8 flag:
// from a Unicode extra field that matches it, or in the code page chosen for the archive,
// which is judged from all such texts of the archive together.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace entrynames {

inline constexpr uint16_t kUnicodePathField = 0x7075;
inline constexpr uint16_t kUnicodeCommentField = 0x6375;

// Eight bytes at a time: every name of a listing is asked.
inline bool IsAscii(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; n > 0; ++p, --n)
    if (static_cast<unsigned char>(*p) & 0x80) return false;
  return true;
}
bool IsUtf8(std::string_view text);
// Columns UTF-8 text takes on a terminal: two for wide East Asian characters, none for
// combining marks.
size_t TerminalColumns(std::string_view text);

// The UTF-8 text that an extra field of kind `id` (a Unicode path or comment field) holds
// for `stored`, when the extra data has such a field, well formed, whose CRC-32 is that of
// `stored`: a field whose CRC differs describes a text that was changed since, by a tool
// that did not know the field.
std::optional<std::string> UnicodeFieldText(const uint8_t* extra, size_t length, uint16_t id,
                                            std::string_view stored);

// The code page of an archive's texts without the UTF-8 flag, judged from all of them
// together (those that hold a byte of 0x80 or more): UTF-8 when every one is valid UTF-8;
// otherwise what a character-set detector finds among the code pages of Windows systems
// (932, 936, 950, 949, 866, 1251, 850, 1252) once the texts read without undefined bytes
// and as words of the language in it; 437 when the evidence is weak.
int DetectCodePage(const std::vector<std::string_view>& texts);
// The same for `count` texts that `text` gives by index, held nowhere else at once.
int DetectCodePage(size_t count, const std::function<std::string_view(size_t)>& text);

}  // namespace entrynames
