#include "EntryTexts.h"

#include <uchardet/uchardet.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "CodePages.h"

namespace entrynames {

bool IsUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = int32_t(text.size());
  int32_t i = 0;
  while (i < length) {
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

size_t TerminalColumns(std::string_view text) {
  if (IsAscii(text)) return text.size();
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = int32_t(text.size());
  int32_t i = 0;
  size_t columns = 0;
  while (i < length) {
    if (s[i] < 0x80) {
      ++columns, ++i;
      continue;
    }
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      ++columns;
      continue;
    }
    // The scripts of most names answered at once: a listing asks for every name.
    if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3)) {
      columns += 2;
      continue;
    }
    if (c >= 0xA0 && c < 0x300) {
      ++columns;
      continue;
    }
    const int8_t type = u_charType(c);
    if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK) continue;
    const int width = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
    columns += (width == U_EA_WIDE || width == U_EA_FULLWIDTH) ? 2 : 1;
  }
  return columns;
}

std::optional<std::string> UnicodeFieldText(const uint8_t* extra, size_t length, uint16_t id,
                                            std::string_view stored) {
  size_t pos = 0;
  while (extra && pos + 4 <= length) {
    const uint16_t kind = uint16_t(extra[pos] | extra[pos + 1] << 8);
    const size_t size = size_t(extra[pos + 2] | extra[pos + 3] << 8);
    if (pos + 4 + size > length) break;
    const uint8_t* data = extra + pos + 4;
    // Version 1, the CRC-32 of the stored text, then the UTF-8 text.
    if (kind == id && size >= 5 && data[0] == 1) {
      const uint32_t crc = uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16 |
                           uint32_t(data[4]) << 24;
      const uint32_t actual = uint32_t(
          crc32(0, reinterpret_cast<const Bytef*>(stored.data()), uInt(stored.size())));
      std::string text(reinterpret_cast<const char*>(data + 5), size - 5);
      if (crc == actual && IsUtf8(text) && text.find('\0') == std::string::npos) return text;
      return std::nullopt;
    }
    pos += 4 + size;
  }
  return std::nullopt;
}

namespace {

// The detector sees at most this much text: enough for any verdict, and a listing of
// many entries stays as fast.
constexpr size_t kSampleBytes = 64 * 1024;
// The share of "language" characters a reading must reach to count as evidence.
constexpr double kPlausible = 0.5;

bool IsCjk(int cp) { return cp == 932 || cp == 936 || cp == 950 || cp == 949; }
bool IsCyrillic(int cp) { return cp == 866 || cp == 1251; }
bool AsciiLetter(UChar32 c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// How much a reading of the sample looks like the words of the language its code page
// serves: from 1 (every character outside ASCII fits) down to negative values (symbols,
// undefined bytes, letters of the wrong kind).
double Plausibility(int cp, const std::u32string& text) {
  double sum = 0;
  size_t counted = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const UChar32 c = UChar32(text[i]);
    if (c < 0x80) continue;
    ++counted;
    const UChar32 prev = i > 0 ? UChar32(text[i - 1]) : 0;
    const UChar32 next = i + 1 < text.size() ? UChar32(text[i + 1]) : 0;
    if (c == 0xFFFD || (c >= 0xE000 && c <= 0xF8FF) || (c >= 0x80 && c <= 0x9F)) {
      sum -= 3;  // undefined, private or control: no writer puts these in names
      continue;
    }
    UErrorCode err = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &err);
    const int8_t type = u_charType(c);
    if (IsCjk(cp)) {
      if (script == USCRIPT_HAN) {
        sum += 1;
      } else if (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA) {
        // Half-width katakana are what other double-byte text turns into in Shift-JIS.
        sum += (c >= 0xFF61 && c <= 0xFF9F) ? -1 : (cp == 932 ? 1.5 : 0.3);
      } else if (script == USCRIPT_HANGUL) {
        sum += cp == 949 ? 1.5 : 0;
      } else if (c == 0x3000 || c == 0x3001 || c == 0x3002 || c == 0x30FC || (c >= 0xFF01 && c <= 0xFF5E)) {
        sum += 0.5;  // ideographic space and punctuation, full-width forms
      } else {
        sum -= 1;
      }
    } else if (IsCyrillic(cp)) {
      const bool russian = (c >= 0x410 && c <= 0x44F) || c == 0x401 || c == 0x451;
      const bool other = c == 0x406 || c == 0x456 || c == 0x407 || c == 0x457 || c == 0x404 || c == 0x454 ||
                         c == 0x490 || c == 0x491 || c == 0x40E || c == 0x45E;
      // Cyrillic words do not have Latin letters inside them; Latin accents read as
      // Cyrillic do.
      if (!russian && !other) sum -= 1;
      else if (AsciiLetter(prev) || AsciiLetter(next)) sum -= 1;
      else sum += russian ? 1 : 0.5;
    } else {
      const bool letter = script == USCRIPT_LATIN && (type == U_LOWERCASE_LETTER || type == U_UPPERCASE_LETTER);
      const bool prevAccented = prev >= 0x80 && u_isalpha(prev), nextAccented = next >= 0x80 && u_isalpha(next);
      // Western words carry an accent here and there among plain letters; a run of
      // accented letters, or a capital after a small letter, is other text read wrongly.
      if (!letter) sum -= 1;
      else if (prevAccented && nextAccented) sum += 0;
      else if (type == U_UPPERCASE_LETTER && prev >= 'a' && prev <= 'z') sum -= 1;
      else sum += 1;
    }
  }
  return counted ? sum / double(counted) : 0;
}

std::u32string CodePoints(const std::string& utf8) {
  std::u32string out;
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const int32_t length = int32_t(utf8.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    out += char32_t(c < 0 ? 0xFFFD : c);
  }
  return out;
}

double ReadingScore(int cp, const std::string& sample) {
  NameDecoder decoder(cp);
  return Plausibility(cp, CodePoints(decoder.Decode(sample)));
}

int DetectorVerdict(const std::string& sample) {
  uchardet_t detector = uchardet_new();
  if (!detector) return 0;
  int cp = 0;
  if (uchardet_handle_data(detector, sample.data(), sample.size()) == 0) {
    uchardet_data_end(detector);
    std::string name = uchardet_get_charset(detector);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    if (name == "SHIFT_JIS") cp = 932;
    else if (name == "GB18030" || name == "GB2312" || name == "GBK") cp = 936;
    else if (name == "BIG5") cp = 950;
    else if (name == "EUC-KR" || name == "UHC" || name == "CP949") cp = 949;
    else if (name == "IBM866") cp = 866;
    else if (name == "WINDOWS-1251") cp = 1251;
  }
  uchardet_delete(detector);
  return cp;
}

}  // namespace

int DetectCodePage(const std::vector<std::string_view>& texts) {
  return DetectCodePage(texts.size(), [&texts](size_t i) { return texts[i]; });
}

int DetectCodePage(size_t count, const std::function<std::string_view(size_t)>& text) {
  if (count == 0) return kDefaultCodePage;
  size_t total = 0;
  bool utf8 = true;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view t = text(i);
    total += t.size() + 1;
    utf8 = utf8 && IsUtf8(t);
  }
  if (utf8) return kUtf8CodePage;

  // A sample spread over the whole archive, one text a line.
  const size_t step = std::max<size_t>(1, (total + kSampleBytes - 1) / kSampleBytes);
  std::string sample;
  for (size_t i = 0; i < count && sample.size() < kSampleBytes; i += step) {
    sample.append(text(i));
    sample += '\n';
  }

  // The detector's statistics of characters and their sequences tell the double-byte
  // code pages and the Cyrillic ones apart; it is trusted when the sample reads well in
  // its answer.
  const int verdict = DetectorVerdict(sample);
  if (verdict != 0 && ReadingScore(verdict, sample) >= kPlausible) return verdict;

  // The detector does not know the DOS code pages of western Europe and is unsure on
  // short texts: the reading that looks most like words decides; on a tie the earlier
  // code page, so code page 437 keeps names that read alike in 850.
  int best = kDefaultCodePage;
  double bestScore = -1e9;
  for (const int cp : {437, 850, 1252, 866, 1251}) {
    const double score = ReadingScore(cp, sample);
    if (score > bestScore + 1e-9) best = cp, bestScore = score;
  }
  return bestScore >= kPlausible ? best : kDefaultCodePage;
}

}  // namespace entrynames
