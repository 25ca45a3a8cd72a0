// Conversions of cell texts for sorting. The locale supplies the decimal separator, the
// short date and time formats, the month names and the AM/PM markers.

#include "SortGridConversions.h"

#include <QDate>
#include <algorithm>
#include <charconv>
#include <string>

namespace {

constexpr int64_t kMsPerDay = 86400000;
const int64_t kDayZero = QDate(1899, 12, 30).toJulianDay();

bool IsBlank(char32_t c) { return QChar::isSpace(c) || QChar::category(c) == QChar::Other_Format; }

struct Scanner {
  QStringView s;
  qsizetype pos = 0;

  bool AtEnd() const { return pos >= s.size(); }
  QChar Peek() const { return AtEnd() ? QChar() : s[pos]; }
  // Spaces and invisible format marks (such as the right-to-left marks of some date
  // formats) separate nothing.
  void SkipBlanks() {
    while (!AtEnd() && (s[pos] == u' ' || (s[pos].unicode() >= 0x80 && IsBlank(s[pos].unicode())))) ++pos;
  }
  bool SkipChar(QChar c) {
    if (Peek() != c) return false;
    ++pos;
    return true;
  }
  // The value of the decimal digit at the scanner, of any script (some are outside the
  // basic plane), and its length in code units; -1 when there is none.
  int Digit(int& length) const {
    if (AtEnd()) return -1;
    const char16_t c = s[pos].unicode();
    length = 1;
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c < 0x80) return -1;
    char32_t code = c;
    if (QChar::isHighSurrogate(c) && pos + 1 < s.size() && s[pos + 1].isLowSurrogate()) {
      code = QChar::surrogateToUcs4(c, s[pos + 1].unicode());
      length = 2;
    }
    return QChar::category(code) == QChar::Number_DecimalDigit ? QChar::digitValue(code) : -1;
  }
  // 1 to `maxDigits` digits.
  bool Number(int& value, int& digits, int maxDigits) {
    value = 0;
    digits = 0;
    int length = 0;
    for (int d; (d = Digit(length)) >= 0; pos += length) {
      if (++digits > maxDigits) return false;
      value = value * 10 + d;
    }
    return digits > 0;
  }
  // `folded` (case-folded) as it stands, letters in any case.
  bool SkipFolded(QStringView folded) {
    qsizetype p = pos;
    for (qsizetype i = 0; i < folded.size();) {
      if (p >= s.size() || !SameFolded(p, folded, i)) return false;
    }
    if (p == pos) return false;
    pos = p;
    return true;
  }
  // A literal of a format: its visible characters, blanks anywhere between them; a
  // literal of blanks alone needs at least one.
  bool SkipLiteral(QStringView core) {
    const qsizetype before = pos;
    SkipBlanks();
    if (core.isEmpty()) return pos > before;
    for (qsizetype i = 0; i < core.size();) {
      SkipBlanks();
      if (AtEnd() || !SameFolded(pos, core, i)) return false;
    }
    return true;
  }

 private:
  static char32_t CodeAt(QStringView v, qsizetype i, qsizetype& length) {
    const char16_t c = v[i].unicode();
    length = 1;
    if (QChar::isHighSurrogate(c) && i + 1 < v.size() && v[i + 1].isLowSurrogate()) {
      length = 2;
      return QChar::surrogateToUcs4(c, v[i + 1].unicode());
    }
    return c;
  }
  // Compares one character of the text at `p` with one of `folded` at `i`, moving both on.
  bool SameFolded(qsizetype& p, QStringView folded, qsizetype& i) const {
    qsizetype lc = 0, lt = 0;
    const char32_t c = CodeAt(s, p, lc);
    const char32_t t = CodeAt(folded, i, lt);
    if (c != t && QChar::toCaseFolded(c) != t) return false;
    p += lc;
    i += lt;
    return true;
  }
};

// The fields read from a text; -1 where absent.
struct Fields {
  int day = -1, month = -1, year = -1, yearDigits = 0;
  int hour = -1, minute = 0, second = 0, msec = 0;
  int pm = -1;  // 0 for AM, 1 for PM
};

bool ScanAmPm(Scanner& sc, const TLocaleFormats& f, Fields& v) {
  sc.SkipBlanks();
  // The longer marker first, in case one begins with the other.
  const bool amFirst = f.AmText.size() >= f.PmText.size();
  const QString* order[2] = {amFirst ? &f.AmText : &f.PmText, amFirst ? &f.PmText : &f.AmText};
  for (const QString* t : order) {
    if (sc.SkipFolded(*t)) {
      v.pm = t == &f.PmText ? 1 : 0;
      return true;
    }
  }
  static const QString am = QStringLiteral("am"), pm = QStringLiteral("pm");
  if (sc.SkipFolded(am)) v.pm = 0;
  else if (sc.SkipFolded(pm)) v.pm = 1;
  return v.pm >= 0;
}

bool ScanMinutesAndSeconds(Scanner& sc, const TLocaleFormats& f, const TFormatToken& t, Fields& v) {
  const qsizetype start = sc.pos;
  if (!sc.SkipLiteral(t.text)) {  // the hour alone
    sc.pos = start;
    return true;
  }
  int digits = 0;
  sc.SkipBlanks();
  if (!sc.Number(v.minute, digits, 2)) return false;
  const qsizetype afterMinutes = sc.pos;
  if (!sc.SkipLiteral(t.text2)) {
    sc.pos = afterMinutes;
    return true;
  }
  sc.SkipBlanks();
  if (!sc.Number(v.second, digits, 2)) {
    sc.pos = afterMinutes;
    return true;
  }
  if (sc.SkipFolded(f.DecimalPoint)) {
    int fraction = 0;
    if (!sc.Number(fraction, digits, 3)) return false;
    v.msec = fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
  }
  return true;
}

bool ScanToken(Scanner& sc, const TLocaleFormats& f, const TFormatToken& t, Fields& v) {
  int digits = 0;
  switch (t.kind) {
    case TFormatToken::Literal:
      return sc.SkipLiteral(t.text);
    case TFormatToken::AmPm:
      return ScanAmPm(sc, f, v);
    case TFormatToken::MinuteAndSeconds:
      return ScanMinutesAndSeconds(sc, f, t, v);
    case TFormatToken::DayName:
      sc.SkipBlanks();
      return std::any_of(f.DayNames.begin(), f.DayNames.end(), [&](const QString& n) { return sc.SkipFolded(n); });
    case TFormatToken::Month:
      sc.SkipBlanks();
      // A month's name or its number, whichever the format asks for.
      if (sc.Peek().isLetter()) {
        for (const auto& [name, number] : f.MonthNames) {
          if (sc.SkipFolded(name)) {
            v.month = number;
            return true;
          }
        }
        return false;
      }
      return sc.Number(v.month, digits, 2);
    case TFormatToken::Day:
      sc.SkipBlanks();
      return sc.Number(v.day, digits, 2);
    case TFormatToken::Year:
      sc.SkipBlanks();
      if (!sc.Number(v.year, digits, 4)) return false;
      v.yearDigits = digits;
      return true;
    case TFormatToken::Hour:
      sc.SkipBlanks();
      return sc.Number(v.hour, digits, 2);
  }
  return false;
}

bool ScanTokens(Scanner& sc, const TLocaleFormats& f, const std::vector<TFormatToken>& tokens, Fields& v) {
  for (const TFormatToken& t : tokens) {
    const qsizetype start = sc.pos;
    if (ScanToken(sc, f, t, v)) continue;
    if (!t.optional) return false;
    sc.pos = start;
  }
  return true;
}

bool ScanTime(Scanner& sc, const TLocaleFormats& f, int64_t& msecs) {
  Fields v;
  if (!ScanTokens(sc, f, f.Time, v) || v.hour < 0) return false;
  if (v.pm < 0) {  // a marker the format puts elsewhere may still follow
    const qsizetype start = sc.pos;
    if (!ScanAmPm(sc, f, v)) sc.pos = start;
  }
  int hour = v.hour;
  if (v.pm >= 0) {
    if (hour == 0 || hour > 12) return false;
    hour = hour % 12 + 12 * v.pm;
  }
  if (hour > 23 || v.minute > 59 || v.second > 59) return false;
  msecs = ((hour * 60 + v.minute) * 60 + v.second) * int64_t{1000} + v.msec;
  return true;
}

bool ScanDate(Scanner& sc, const TLocaleFormats& f, const std::vector<TFormatToken>& tokens, int64_t& days) {
  Fields v;
  if (!ScanTokens(sc, f, tokens, v) || v.day < 0 || v.month < 0) return false;
  int year = v.year;
  if (year < 0) {
    year = f.CurrentYear;
  } else if (v.yearDigits <= 2) {
    year += f.CurrentYear / 100 * 100;
    if (year > f.CurrentYear + 49) year -= 100;
    else if (year < f.CurrentYear - 50) year += 100;
  }
  const QDate date(year, v.month, v.day);
  if (!date.isValid()) return false;
  days = date.toJulianDay() - kDayZero;
  return true;
}

bool DateWithOptionalTime(QStringView text, const TLocaleFormats& f, const std::vector<TFormatToken>& date,
                          int64_t& msecs) {
  Scanner sc{text};
  int64_t days = 0;
  if (!ScanDate(sc, f, date, days)) return false;
  int64_t time = 0;
  const qsizetype afterDate = sc.pos;
  sc.SkipBlanks();
  if (sc.SkipChar(u',')) sc.SkipBlanks();
  else if (!sc.AtEnd() && sc.pos == afterDate) return false;  // a time must be set apart from the date
  if (!sc.AtEnd()) {
    if (!ScanTime(sc, f, time)) return false;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
  }
  msecs = days * kMsPerDay + time;
  return true;
}

// ---- compiling a format ----

bool IsFormatLetter(QChar c) {
  return c == u'd' || c == u'M' || c == u'y' || c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u'z' ||
         c == u'a' || c == u'A' || c == u't';
}

// The pieces of a format in QLocale's notation: fields, and literal text (quoted, or
// any character that is not a field letter).
std::vector<TFormatToken> Tokenize(const QString& format, std::vector<QChar>& fieldLetters) {
  std::vector<TFormatToken> tokens;
  QString literal;
  auto flush = [&] {
    if (literal.isEmpty()) return;
    TFormatToken t;
    for (const QChar c : literal)
      if (!IsBlank(c.unicode())) t.text += c.toCaseFolded();
    tokens.push_back(t);
    fieldLetters.push_back(QChar());
    literal.clear();
  };
  auto field = [&](TFormatToken::Kind kind, QChar letter) {
    flush();
    TFormatToken t;
    t.kind = kind;
    tokens.push_back(t);
    fieldLetters.push_back(letter);
  };
  const qsizetype n = format.size();
  for (qsizetype i = 0; i < n;) {
    const QChar c = format[i];
    if (c == u'\'') {
      if (i + 1 < n && format[i + 1] == u'\'') {
        literal += u'\'';
        i += 2;
        continue;
      }
      // Quoted text, in which '' stands for one quote.
      for (++i; i < n; ++i) {
        if (format[i] != u'\'') {
          literal += format[i];
        } else if (i + 1 < n && format[i + 1] == u'\'') {
          literal += u'\'';
          ++i;
        } else {
          ++i;
          break;
        }
      }
      continue;
    }
    if (!IsFormatLetter(c)) {
      literal += c;
      ++i;
      continue;
    }
    qsizetype run = 1;
    while (i + run < n && format[i + run] == c) ++run;
    if (c == u'y') {  // QLocale knows yy and yyyy only
      if (run < 2) {
        literal += c;
        ++i;
        continue;
      }
      run = run >= 4 ? 4 : 2;
      field(TFormatToken::Year, c);
    } else if (c == u'd') {
      run = std::min<qsizetype>(run, 4);
      field(run <= 2 ? TFormatToken::Day : TFormatToken::DayName, c);
    } else if (c == u'M') {
      run = std::min<qsizetype>(run, 4);
      field(TFormatToken::Month, c);
    } else if (c == u'a' || c == u'A') {
      run = 1;
      if (i + 1 < n && (format[i + 1] == u'p' || format[i + 1] == u'P')) run = 2;
      field(TFormatToken::AmPm, c);
    } else if (c == u't' || c == u'z') {
      // Time zones and fractions are not in short formats; a fraction is read after any
      // seconds anyway.
      run = c == u'z' ? std::min<qsizetype>(run, 3) : run;
      field(TFormatToken::Literal, c);
    } else {
      run = std::min<qsizetype>(run, 2);
      field(TFormatToken::Hour, c);  // h, H, m or s: told apart below
    }
    i += run;
  }
  flush();
  return tokens;
}

// Leading and trailing literals, markers and what stands beside them may be missing.
void MarkOptional(std::vector<TFormatToken>& tokens) {
  if (tokens.empty()) return;
  if (tokens.front().kind == TFormatToken::Literal) tokens.front().optional = true;
  if (tokens.back().kind == TFormatToken::Literal) tokens.back().optional = true;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != TFormatToken::AmPm && tokens[i].kind != TFormatToken::DayName) continue;
    tokens[i].optional = true;
    if (i > 0 && tokens[i - 1].kind == TFormatToken::Literal) tokens[i - 1].optional = true;
    if (i + 1 < tokens.size() && tokens[i + 1].kind == TFormatToken::Literal) tokens[i + 1].optional = true;
  }
}

std::vector<TFormatToken> CompileDate(const QString& format) {
  std::vector<QChar> letters;
  std::vector<TFormatToken> raw = Tokenize(format, letters), tokens;
  for (size_t i = 0; i < raw.size(); ++i) {
    // Time fields and the other pieces without a place in a date are left out.
    if (letters[i].isNull() || raw[i].kind == TFormatToken::Day || raw[i].kind == TFormatToken::Month ||
        raw[i].kind == TFormatToken::Year || raw[i].kind == TFormatToken::DayName)
      tokens.push_back(raw[i]);
  }
  const auto has = [&](TFormatToken::Kind k) {
    return std::any_of(tokens.begin(), tokens.end(), [k](const TFormatToken& t) { return t.kind == k; });
  };
  if (!has(TFormatToken::Day) || !has(TFormatToken::Month)) return CompileDate(QStringLiteral("M/d/yyyy"));
  MarkOptional(tokens);
  return tokens;
}

// The date without its year and the separator that went with it.
std::vector<TFormatToken> WithoutYear(std::vector<TFormatToken> tokens) {
  const auto year = std::find_if(tokens.begin(), tokens.end(), [](const TFormatToken& t) { return t.kind == TFormatToken::Year; });
  if (year == tokens.end()) return tokens;
  size_t i = year - tokens.begin();
  const bool last = std::none_of(year + 1, tokens.end(), [](const TFormatToken& t) {
    return t.kind == TFormatToken::Day || t.kind == TFormatToken::Month;
  });
  if (last && i > 0 && tokens[i - 1].kind == TFormatToken::Literal) {
    tokens.erase(tokens.begin() + i - 1, tokens.begin() + i + 1);
  } else if (!last && i + 1 < tokens.size() && tokens[i + 1].kind == TFormatToken::Literal) {
    tokens.erase(tokens.begin() + i, tokens.begin() + i + 2);
  } else {
    tokens.erase(tokens.begin() + i);
  }
  for (auto& t : tokens) t.optional = false;
  MarkOptional(tokens);
  return tokens;
}

std::vector<TFormatToken> CompileTime(const QString& format) {
  std::vector<QChar> letters;
  const std::vector<TFormatToken> raw = Tokenize(format, letters);
  auto find = [&](auto pred) {
    for (size_t i = 0; i < raw.size(); ++i)
      if (pred(letters[i])) return static_cast<int>(i);
    return -1;
  };
  const int hour = find([](QChar c) { return c == u'h' || c == u'H'; });
  const int minute = find([](QChar c) { return c == u'm'; });
  const int second = find([](QChar c) { return c == u's'; });
  // Minutes and seconds follow the hour with at most one literal between each.
  if (hour < 0 || minute < 0 || minute - hour > 2 || (second >= 0 && second - minute > 2))
    return CompileTime(QStringLiteral("H:mm"));
  TFormatToken ms;
  ms.kind = TFormatToken::MinuteAndSeconds;
  ms.text = minute - hour == 2 ? raw[hour + 1].text : QString();
  ms.text2 = second >= 0 ? (second - minute == 2 ? raw[minute + 1].text : QString()) : ms.text;
  if (ms.text.isEmpty() && minute - hour == 1) ms.text = QStringLiteral(":");
  if (ms.text2.isEmpty()) ms.text2 = QStringLiteral(":");
  const int end = second >= 0 ? second : minute;
  std::vector<TFormatToken> tokens;
  for (int i = 0; i < static_cast<int>(raw.size()); ++i) {
    if (i == hour) {
      TFormatToken h;
      h.kind = TFormatToken::Hour;
      tokens.push_back(h);
      tokens.push_back(ms);
      i = end;
    } else if (letters[i].isNull() || raw[i].kind == TFormatToken::AmPm) {
      tokens.push_back(raw[i]);
    }
  }
  MarkOptional(tokens);
  return tokens;
}

}  // namespace

TLocaleFormats TLocaleFormats::FromLocale(const QLocale& locale) {
  TLocaleFormats f;
  f.DecimalPoint = locale.decimalPoint();
  f.NegativeSign = locale.negativeSign();
  f.Date = CompileDate(locale.dateFormat(QLocale::ShortFormat));
  f.DateNoYear = WithoutYear(f.Date);
  f.Time = CompileTime(locale.timeFormat(QLocale::ShortFormat));
  for (int m = 1; m <= 12; ++m) {
    for (auto format : {QLocale::LongFormat, QLocale::ShortFormat}) {
      f.MonthNames.emplace_back(locale.monthName(m, format).toCaseFolded(), m);
      f.MonthNames.emplace_back(locale.standaloneMonthName(m, format).toCaseFolded(), m);
    }
  }
  std::erase_if(f.MonthNames, [](const auto& n) { return n.first.isEmpty(); });
  std::stable_sort(f.MonthNames.begin(), f.MonthNames.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  for (int d = 1; d <= 7; ++d) {
    f.DayNames.append(locale.dayName(d, QLocale::LongFormat).toCaseFolded());
    f.DayNames.append(locale.dayName(d, QLocale::ShortFormat).toCaseFolded());
  }
  f.DayNames.removeAll(QString());
  std::stable_sort(f.DayNames.begin(), f.DayNames.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
  f.AmText = locale.amText().toCaseFolded();
  f.PmText = locale.pmText().toCaseFolded();
  f.CurrentYear = QDate::currentDate().year();
  return f;
}

bool TextToNumber(QStringView text, const TLocaleFormats& f, long double& value) {
  Scanner sc{text};
  while (!sc.AtEnd() && sc.Peek() == u' ') ++sc.pos;
  std::string buf;
  buf.reserve(static_cast<size_t>(text.size()) + 2);
  if (sc.Peek() == u'-') {
    buf += '-';
    ++sc.pos;
  } else if (sc.Peek() == u'+') {
    ++sc.pos;
  } else if (f.NegativeSign != u"-" && sc.SkipFolded(f.NegativeSign)) {
    buf += '-';
  }
  int digits = 0, digit = 0, length = 0;
  bool separator = false;
  bool digitBeforeSeparator = false;
  while (!sc.AtEnd()) {
    if ((digit = sc.Digit(length)) >= 0) {
      buf += static_cast<char>('0' + digit);
      ++digits;
      if (!separator) digitBeforeSeparator = true;
      sc.pos += length;
    } else if (!separator && sc.SkipFolded(f.DecimalPoint)) {
      if (!digitBeforeSeparator) buf += '0';
      buf += '.';
      separator = true;
    } else {
      break;
    }
  }
  if (digits == 0 && !separator) return false;
  if (!buf.empty() && buf.back() == '.') buf += '0';
  if (sc.Peek() == u'e' || sc.Peek() == u'E') {
    ++sc.pos;
    buf += 'e';
    if (sc.Peek() == u'-' || sc.Peek() == u'+') {
      buf += static_cast<char>(sc.Peek().unicode());
      ++sc.pos;
    }
    int expDigits = 0;
    while ((digit = sc.Digit(length)) >= 0) {
      buf += static_cast<char>('0' + digit);
      ++expDigits;
      sc.pos += length;
    }
    if (expDigits == 0) return false;
  }
  while (!sc.AtEnd() && sc.Peek() == u' ') ++sc.pos;
  if (!sc.AtEnd()) return false;
  const auto [end, ec] = std::from_chars(buf.data(), buf.data() + buf.size(), value);
  return ec == std::errc() && end == buf.data() + buf.size();
}

bool TextToTime(QStringView text, const TLocaleFormats& f, int64_t& msecs) {
  Scanner sc{text};
  if (!ScanTime(sc, f, msecs)) return false;
  sc.SkipBlanks();
  return sc.AtEnd();
}

bool TextToDateTime(QStringView text, const TLocaleFormats& f, int64_t& msecs) {
  // A date without its year is tried when the full reading fails, as it does when the
  // third number read is the hour of a time.
  if (DateWithOptionalTime(text, f, f.Date, msecs) || DateWithOptionalTime(text, f, f.DateNoYear, msecs)) return true;
  int64_t time = 0;
  if (!TextToTime(text, f, time)) return false;
  msecs = time;
  return true;
}
