// Text that came from an archive (names, comments, captions) on its way to a terminal.
// Header-only: the static self-extractor shows names through the same rule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TextLayout {
  OneLine,     // every control character escaped, line breaks too
  Tsv,         // tab, line feed, carriage return and backslash as \t \n \r \\, for one-line records
  LineBreaks,  // line breaks kept (a CR LF pair becomes one line feed), for multi-line messages
};

// Control characters (C0, DEL, and C1 U+0080..U+009F) would let a crafted name move the
// cursor, rewrite the window title or hide itself; bytes that are not UTF-8 could start
// such a sequence in a terminal that reads them otherwise. Both are shown as \xNN (C1 as
// \u00NN); everything else is kept as it is.
// The same, appended to `out`.
inline void AppendVisibleText(std::string& out, std::string_view s, TextLayout layout = TextLayout::OneLine) {
  static constexpr char kHex[] = "0123456789abcdef";
  // Bytes kept as they are go out in runs: names are long and mostly plain.
  size_t run = 0;
  auto flush = [&](size_t upTo) {
    out.append(s.data() + run, upTo - run);
  };
  auto hexByte = [&](const char* prefix, uint8_t b) {
    out += prefix;
    out += kHex[b >> 4];
    out += kHex[b & 15];
  };
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = uint8_t(s[i]);
    if (c < 0x80) {
      const bool tsvEscape = layout == TextLayout::Tsv && (c == '\t' || c == '\n' || c == '\r' || c == '\\');
      const bool lineBreak = layout == TextLayout::LineBreaks && (c == '\n' || c == '\r');
      if (!tsvEscape && !lineBreak && c >= 0x20 && c != 0x7F) {
        ++i;
        continue;
      }
      flush(i);
      if (tsvEscape) {
        out += '\\';
        out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
      } else if (layout == TextLayout::LineBreaks && c == '\n') {
        out += '\n';
      } else if (layout == TextLayout::LineBreaks && c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
        // the line feed that follows makes the break
      } else {
        hexByte("\\x", c);
      }
      run = ++i;
      continue;
    }
    // Length and smallest value of a well-formed sequence starting with this byte.
    size_t n = 0;
    uint32_t cp = 0, least = 0;
    if ((c & 0xE0) == 0xC0) n = 2, cp = c & 0x1F, least = 0x80;
    else if ((c & 0xF0) == 0xE0) n = 3, cp = c & 0x0F, least = 0x800;
    else if ((c & 0xF8) == 0xF0) n = 4, cp = c & 0x07, least = 0x10000;
    bool valid = n != 0 && i + n <= s.size();
    for (size_t k = 1; valid && k < n; ++k) {
      const uint8_t cc = uint8_t(s[i + k]);
      valid = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3F);
    }
    valid = valid && cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (valid && cp > 0x9F) {
      i += n;
      continue;
    }
    flush(i);
    if (!valid) {
      hexByte("\\x", c);
      ++i;
    } else {
      hexByte("\\u00", uint8_t(cp));
      i += n;
    }
    run = i;
  }
  flush(s.size());
}

inline std::string VisibleText(std::string_view s, TextLayout layout = TextLayout::OneLine) {
  std::string out;
  out.reserve(s.size());
  AppendVisibleText(out, s, layout);
  return out;
}
