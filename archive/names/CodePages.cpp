#include "CodePages.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cctype>

namespace entrynames {

namespace {

const std::vector<CodePageInfo> kCodePages = {
    {437, "cp437", "DOS, United States", "ibm-437", "ibm437 437 oem dos"},
    {932, "cp932", "Japanese, Shift-JIS", "windows-932", "932 shift-jis shift_jis sjis ms932 windows-932"},
    {936, "cp936", "Simplified Chinese, GBK", "windows-936", "936 gbk gb2312 ms936 windows-936"},
    {950, "cp950", "Traditional Chinese, Big5", "windows-950", "950 big5 big-5 ms950 windows-950"},
    {949, "cp949", "Korean, UHC", "windows-949", "949 uhc euc-kr ks_c_5601-1987 ms949 windows-949"},
    {866, "cp866", "Russian, DOS", "ibm-866", "866 ibm866"},
    {1251, "cp1251", "Cyrillic, Windows", "windows-1251", "1251 windows-1251"},
    {850, "cp850", "Western European, DOS", "ibm-850", "850 ibm850"},
    {1252, "cp1252", "Western European, Windows", "windows-1252", "1252 windows-1252 latin1"},
    {kUtf8CodePage, "utf-8", "Unicode", "UTF-8", "utf8 65001"},
    {737, "cp737", "Greek, DOS", "ibm-737", "737 ibm737"},
    {775, "cp775", "Baltic, DOS", "ibm-775", "775 ibm775"},
    {852, "cp852", "Central European, DOS", "ibm-852", "852 ibm852"},
    {855, "cp855", "Cyrillic, DOS", "ibm-855", "855 ibm855"},
    {857, "cp857", "Turkish, DOS", "ibm-857", "857 ibm857"},
    {860, "cp860", "Portuguese, DOS", "ibm-860", "860 ibm860"},
    {862, "cp862", "Hebrew, DOS", "ibm-862", "862 ibm862"},
    {863, "cp863", "Canadian French, DOS", "ibm-863", "863 ibm863"},
    {865, "cp865", "Nordic, DOS", "ibm-865", "865 ibm865"},
    {869, "cp869", "Greek, DOS (modern)", "ibm-869", "869 ibm869"},
    {874, "cp874", "Thai", "windows-874", "874 windows-874 tis-620"},
    {1250, "cp1250", "Central European, Windows", "windows-1250", "1250 windows-1250"},
    {1253, "cp1253", "Greek, Windows", "windows-1253", "1253 windows-1253"},
    {1254, "cp1254", "Turkish, Windows", "windows-1254", "1254 windows-1254"},
    {1255, "cp1255", "Hebrew, Windows", "windows-1255", "1255 windows-1255"},
    {1256, "cp1256", "Arabic, Windows", "windows-1256", "1256 windows-1256"},
    {1257, "cp1257", "Baltic, Windows", "windows-1257", "1257 windows-1257"},
    {1258, "cp1258", "Vietnamese, Windows", "windows-1258", "1258 windows-1258"},
    {20866, "koi8-r", "Russian, KOI8-R", "KOI8-R", "koi8r 20866"},
};

std::string Folded(std::string_view s) {
  std::string out;
  for (const char c : s) out += c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Counts the undefined sequences and puts U+FFFD in their place.
void CountUndefined(const void* context, UConverterToUnicodeArgs* args, const char*, int32_t,
                    UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone
  ++*static_cast<size_t*>(const_cast<void*>(context));
  *err = U_ZERO_ERROR;
  static const UChar kReplacement = 0xFFFD;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

}  // namespace

const std::vector<CodePageInfo>& CodePages() { return kCodePages; }

const CodePageInfo* FindCodePage(int number) {
  for (const CodePageInfo& c : kCodePages)
    if (c.Number == number) return &c;
  return nullptr;
}

int ParseCodePage(std::string_view text) {
  const std::string wanted = Folded(text);
  if (wanted.empty()) return 0;
  for (const CodePageInfo& c : kCodePages) {
    if (Folded(c.Name) == wanted) return c.Number;
    const std::string aliases = c.Aliases;
    size_t from = 0;
    while (from < aliases.size()) {
      size_t to = aliases.find(' ', from);
      if (to == std::string::npos) to = aliases.size();
      if (Folded(std::string_view(aliases).substr(from, to - from)) == wanted) return c.Number;
      from = to + 1;
    }
  }
  return 0;
}

std::string CodePageLabel(int number) {
  const CodePageInfo* c = FindCodePage(number);
  if (!c) return "cp" + std::to_string(number);
  if (number == kUtf8CodePage) return c->Name;
  return std::string(c->Name) + " (" + c->Description + ")";
}

struct NameDecoder::Converter {
  UConverter* cnv = nullptr;
  size_t undefined = 0;
  ~Converter() {
    if (cnv) ucnv_close(cnv);
  }
};

NameDecoder::NameDecoder(int codePage) : codePage_(FindCodePage(codePage) ? codePage : kDefaultCodePage) {
  UErrorCode err = U_ZERO_ERROR;
  auto converter = std::make_unique<Converter>();
  converter->cnv = ucnv_open(FindCodePage(codePage_)->Converter, &err);
  if (U_FAILURE(err) || !converter->cnv) {
    // The conversion data cannot be missing where the library is installed; should it be,
    // unknown bytes read as U+FFFD rather than failing the listing.
    for (auto& h : high_) h = {'\xEF', '\xBF', '\xBD', 3};
    return;
  }
  ucnv_setToUCallBack(converter->cnv, CountUndefined, &converter->undefined, nullptr, nullptr, &err);
  const UConverterType type = ucnv_getType(converter->cnv);
  if (type == UCNV_SBCS) {
    // A table is much faster than a call per name, and keeps bytes below 0x80 as ASCII
    // (some IBM tables move the control characters around).
    for (int b = 0x80; b < 0x100; ++b) {
      const char byte = char(b);
      UChar u[4];
      err = U_ZERO_ERROR;
      const int32_t n = ucnv_toUChars(converter->cnv, u, 4, &byte, 1, &err);
      std::string utf8;
      AppendUtf8(utf8, U_SUCCESS(err) && n == 1 ? u[0] : 0xFFFD);
      auto& slot = high_[size_t(b - 0x80)];
      std::copy(utf8.begin(), utf8.end(), slot.begin());
      slot[3] = char(utf8.size());
    }
    return;
  }
  singleByte_ = false;
  if (type == UCNV_MBCS || type == UCNV_DBCS) {
    UBool starters[256] = {};
    err = U_ZERO_ERROR;
    ucnv_getStarters(converter->cnv, starters, &err);
    if (U_SUCCESS(err))
      for (int b = 0x80; b < 0x100; ++b) leadBytes_[size_t(b)] = starters[b];
  }
  converter_ = std::move(converter);
  // Code pages of one or two bytes a character, where the second byte is never below
  // 0x40 ("/" among them): all of those names are read in but UTF-8.
  pairTables_ = codePage_ != kUtf8CodePage && std::any_of(leadBytes_.begin(), leadBytes_.end(), [](bool b) { return b; });
  if (pairTables_) {
    // Bytes of 0x80 and more that stand alone (Shift-JIS half-width katakana).
    for (int b = 0x80; b < 0x100; ++b) {
      size_t undefined = 0;
      const std::string utf8 = leadBytes_[size_t(b)] ? std::string() : ConvertedByLibrary(std::string(1, char(b)), undefined);
      auto& slot = high_[size_t(b - 0x80)];
      if (!leadBytes_[size_t(b)] && undefined == 0 && utf8.size() <= 3) {
        std::copy(utf8.begin(), utf8.end(), slot.begin());
        slot[3] = char(utf8.size());
      }
    }
  }
}

const std::array<NameDecoder::Utf8Char, 256>& NameDecoder::Pairs(unsigned char lead) {
  auto& table = pairs_[lead];
  if (!table) {
    table = std::make_unique<std::array<Utf8Char, 256>>();
    for (int trail = 0x40; trail < 0x100; ++trail) {
      const char pair[2] = {char(lead), char(trail)};
      size_t undefined = 0;
      const std::string utf8 = ConvertedByLibrary(std::string_view(pair, 2), undefined);
      // A pair that is no character, or reads as more than one, is left to the library.
      if (undefined != 0 || utf8.empty() || utf8.size() > 3 || static_cast<unsigned char>(utf8[0]) < 0x80) continue;
      Utf8Char& slot = (*table)[size_t(trail)];
      std::copy(utf8.begin(), utf8.end(), slot.begin());
      slot[3] = char(utf8.size());
    }
  }
  return *table;
}

std::string NameDecoder::ConvertedByLibrary(std::string_view raw, size_t& undefined) {
  // At most three bytes of UTF-8 for every byte read: a double-byte character becomes
  // at most three, a stray byte U+FFFD.
  std::string out(raw.size() * 3 + 4, '\0');
  converter_->undefined = 0;
  UErrorCode err = U_ZERO_ERROR;
  const int32_t n = ucnv_toAlgorithmic(UCNV_UTF8, converter_->cnv, out.data(), int32_t(out.size()), raw.data(),
                                       int32_t(raw.size()), &err);
  out.resize(U_SUCCESS(err) ? size_t(n) : 0);
  undefined = converter_->undefined;
  return out;
}

NameDecoder::~NameDecoder() = default;

size_t NameDecoder::DecodeTo(std::string_view raw, std::string& out) {
  size_t undefined = 0;
  if (singleByte_) {
    for (const char c : raw) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) {
        out += c;
        continue;
      }
      const auto& slot = high_[b - 0x80];
      out.append(slot.data(), size_t(slot[3]));
      if (slot[3] == 3 && slot[0] == '\xEF' && slot[1] == '\xBF' && slot[2] == '\xBD') ++undefined;
    }
    return undefined;
  }
  if (!converter_) return 0;
  if (pairTables_) {
    // Names are short and many: a table lookup a character, built from the library's
    // mapping; anything the tables do not hold goes to the library whole.
    const size_t at = out.size();
    bool whole = true;
    for (size_t i = 0; i < raw.size() && whole; ++i) {
      const auto b = static_cast<unsigned char>(raw[i]);
      if (b < 0x80) {
        out += char(b);
      } else if (!leadBytes_[b]) {
        const auto& slot = high_[b - 0x80];
        if (slot[3] == 0) whole = false;
        else out.append(slot.data(), size_t(slot[3]));
      } else if (i + 1 < raw.size()) {
        const auto& slot = Pairs(b)[static_cast<unsigned char>(raw[++i])];
        if (slot[3] == 0) whole = false;
        else out.append(slot.data(), size_t(slot[3]));
      } else {
        whole = false;
      }
    }
    if (whole) return 0;
    out.resize(at);
  }
  out += ConvertedByLibrary(raw, undefined);
  return undefined;
}

std::string NameDecoder::Decode(std::string_view raw) {
  std::string out;
  out.reserve(raw.size() + raw.size() / 2);
  DecodeTo(raw, out);
  return out;
}

std::string NameDecoder::SeparatorsMarked(std::string_view raw) const {
  std::string out(raw);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (leadBytes_[b] && i + 1 < out.size()) {
      ++i;  // the second byte belongs to this character, whatever its value
      if (out[i] == '\\') out[i] = '_';
    } else if (b == '\\') {
      out[i] = '/';
    }
  }
  return out;
}

}  // namespace entrynames
