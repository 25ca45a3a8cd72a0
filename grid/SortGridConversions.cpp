// Conversions of cell texts for sorting. The locale supplies the separators, the order
// of the date's fields, the month names and the AM/PM markers.

#include "SortGridConversions.h"

#include <QDate>
#include <charconv>
#include <string>

namespace {

constexpr int64_t kMsPerDay = 86400000;
const int64_t kDayZero = QDate(1899, 12, 30).toJulianDay();

struct Scanner {
  QStringView s;
  qsizetype pos = 0;

  bool AtEnd() const { return pos >= s.size(); }
  QChar Peek() const { return AtEnd() ? QChar() : s[pos]; }
  // Spaces and invisible format marks (such as the right-to-left marks of some date
  // formats) separate nothing.
  void SkipBlanks() {
    while (!AtEnd() && (s[pos].isSpace() || s[pos].category() == QChar::Other_Format)) ++pos;
  }
  bool SkipChar(QChar c) {
    if (Peek() != c) return false;
    ++pos;
    return true;
  }
  bool SkipText(const QString& t) {
    if (t.isEmpty() || s.size() - pos < t.size()) return false;
    if (s.mid(pos, t.size()).compare(t, Qt::CaseInsensitive) != 0) return false;
    pos += t.size();
    return true;
  }
  // 1 to `maxDigits` ASCII digits.
  bool Number(int& value, int& digits, int maxDigits = 4) {
    value = 0;
    digits = 0;
    while (!AtEnd() && s[pos] >= u'0' && s[pos] <= u'9') {
      if (++digits > maxDigits) return false;
      value = value * 10 + (s[pos].unicode() - u'0');
      ++pos;
    }
    return digits > 0;
  }
};

bool ScanTime(Scanner& sc, const TLocaleFormats& f, int64_t& msecs) {
  int hour = 0, minute = 0, second = 0, msec = 0, digits = 0;
  sc.SkipBlanks();
  if (!sc.Number(hour, digits)) return false;
  if (sc.SkipChar(f.TimeSeparator)) {
    if (!sc.Number(minute, digits)) return false;
    if (sc.SkipChar(f.TimeSeparator)) {
      if (!sc.Number(second, digits)) return false;
      if (sc.SkipText(f.DecimalPoint)) {
        int fraction = 0;
        if (!sc.Number(fraction, digits, 3)) return false;
        msec = fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
      }
    }
  }
  sc.SkipBlanks();
  int base = -1;
  if (!sc.AtEnd()) {
    if (sc.SkipText(f.AmText) || sc.SkipText(QStringLiteral("AM"))) base = 0;
    else if (sc.SkipText(f.PmText) || sc.SkipText(QStringLiteral("PM"))) base = 12;
  }
  if (base >= 0) {
    if (hour == 0 || hour > 12) return false;
    hour = hour % 12 + base;
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  msecs = ((hour * 60 + minute) * 60 + second) * int64_t{1000} + msec;
  return true;
}

bool ScanDatePart(Scanner& sc, const TLocaleFormats& f, int kind, int& value, int& digits) {
  sc.SkipBlanks();
  if (kind == 1 && sc.Peek().isLetter()) {
    for (int i = 0; i < f.MonthNames.size(); ++i) {
      if (sc.SkipText(f.MonthNames[i])) {
        value = i % 12 + 1;
        digits = 0;
        return true;
      }
    }
  }
  return sc.Number(value, digits);
}

bool ScanSeparator(Scanner& sc, QChar sep) {
  if (sep.isSpace()) {
    const qsizetype before = sc.pos;
    sc.SkipBlanks();
    return sc.pos > before;
  }
  sc.SkipBlanks();
  return sc.SkipChar(sep);
}

int ExpandYear(int year, int digits) {
  if (digits > 2) return year;
  // Two-digit years fall within fifty years of today.
  const int now = QDate::currentDate().year();
  int full = now / 100 * 100 + year;
  if (full > now + 49) full -= 100;
  else if (full < now - 50) full += 100;
  return full;
}

// A date of `parts` fields (3, or 2 without the year) in the locale's order.
bool ScanDate(Scanner& sc, const TLocaleFormats& f, int parts, int64_t& days) {
  int fields[3] = {0, 0, QDate::currentDate().year()};
  int yearDigits = 4;
  int done = 0;
  for (int kind : f.Order) {
    if (parts == 2 && kind == 2) continue;
    if (done > 0 && !ScanSeparator(sc, f.DateSeparator)) return false;
    int value = 0, digits = 0;
    if (!ScanDatePart(sc, f, kind, value, digits)) return false;
    if (kind == 2) {
      if (digits == 0) return false;
      yearDigits = digits;
    }
    fields[kind] = value;
    ++done;
  }
  const QDate date(ExpandYear(fields[2], yearDigits), fields[1], fields[0]);
  if (!date.isValid()) return false;
  days = date.toJulianDay() - kDayZero;
  return true;
}

bool DateWithOptionalTime(QStringView text, const TLocaleFormats& f, int parts, int64_t& msecs) {
  Scanner sc{text};
  int64_t days = 0;
  if (!ScanDate(sc, f, parts, days)) return false;
  int64_t time = 0;
  const qsizetype afterDate = sc.pos;
  sc.SkipBlanks();
  if (!sc.AtEnd()) {
    if (sc.pos == afterDate) return false;  // a time must be set apart from the date
    if (!ScanTime(sc, f, time)) return false;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
  }
  msecs = days * kMsPerDay + time;
  return true;
}

}  // namespace

TLocaleFormats TLocaleFormats::FromLocale(const QLocale& locale) {
  TLocaleFormats f;
  f.DecimalPoint = locale.decimalPoint();
  const QString date = locale.dateFormat(QLocale::ShortFormat);
  int n = 0;
  bool sepFound = false;
  f.DateSeparator = QChar('/');
  QChar last;
  for (QChar c : date) {
    const int kind = c == u'd' ? 0 : c == u'M' ? 1 : c == u'y' ? 2 : -1;
    if (kind >= 0) {
      if (c != last && n < 3) f.Order[n++] = kind;
    } else if (!sepFound && n > 0 && c.category() != QChar::Other_Format && c != u'\'') {
      f.DateSeparator = c;
      sepFound = true;
    }
    last = c;
  }
  if (n != 3) {  // an unusual format: fall back to month, day, year
    f.Order[0] = 1;
    f.Order[1] = 0;
    f.Order[2] = 2;
  }
  f.TimeSeparator = QChar(':');
  for (QChar c : locale.timeFormat(QLocale::ShortFormat)) {
    if (!c.isLetter() && !c.isSpace() && c.category() != QChar::Other_Format && c != u'\'') {
      f.TimeSeparator = c;
      break;
    }
  }
  // Long names first, so that "June" is not read as "Jun" followed by "e".
  for (int m = 1; m <= 12; ++m) f.MonthNames.append(locale.monthName(m, QLocale::LongFormat));
  QStringList shortNames;
  for (int m = 1; m <= 12; ++m) shortNames.append(locale.monthName(m, QLocale::ShortFormat));
  f.MonthNames.append(shortNames);
  f.AmText = locale.amText();
  f.PmText = locale.pmText();
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
  }
  int digits = 0;
  bool separator = false;
  bool digitBeforeSeparator = false;
  while (!sc.AtEnd()) {
    const QChar c = sc.Peek();
    if (c >= u'0' && c <= u'9') {
      buf += static_cast<char>(c.unicode());
      ++digits;
      if (!separator) digitBeforeSeparator = true;
      ++sc.pos;
    } else if (!separator && sc.SkipText(f.DecimalPoint)) {
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
    while (!sc.AtEnd() && sc.Peek() >= u'0' && sc.Peek() <= u'9') {
      buf += static_cast<char>(sc.Peek().unicode());
      ++expDigits;
      ++sc.pos;
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
  // A date without its year is tried when the three-part reading fails, as it does
  // when the third number read is the hour of a time.
  if (DateWithOptionalTime(text, f, 3, msecs) || DateWithOptionalTime(text, f, 2, msecs)) return true;
  int64_t time = 0;
  if (!TextToTime(text, f, time)) return false;
  msecs = time;
  return true;
}
