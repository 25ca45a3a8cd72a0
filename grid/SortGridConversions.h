#pragma once
// Locale-aware conversion of cell texts to numbers, times of day and dates with times,
// as sorting and sort-kind detection need them. Each conversion must consume the whole
// text (spaces around it aside); an empty text never converts.
//
// Dates and times are read by the locale's own short formats, so that whatever QLocale
// writes reads back: digits of any script, literal text in the format, separators after
// the last field and AM/PM markers before or after the time. Letters are compared
// without regard to case, because sorting compares upper-cased texts.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <utility>
#include <vector>

// One piece of a compiled date or time format.
struct TFormatToken {
  enum Kind : uint8_t { Day, Month, Year, DayName, Hour, MinuteAndSeconds, AmPm, Literal };
  Kind kind = Literal;
  // A literal that may be missing (at either end of a format, or beside an AM/PM marker).
  bool optional = false;
  // Literal: its visible characters, case-folded (blanks and format marks are left out,
  // they are skipped wherever they stand). MinuteAndSeconds: the separator before the
  // minutes; `text2` the one before the seconds.
  QString text;
  QString text2;
};

// The grammar parameters taken from one locale, prepared once per sort.
struct TLocaleFormats {
  static TLocaleFormats FromLocale(const QLocale& locale);

  QString DecimalPoint;
  QString NegativeSign;
  std::vector<TFormatToken> Date;        // the short date
  std::vector<TFormatToken> DateNoYear;  // the same without its year
  std::vector<TFormatToken> Time;        // the short time
  // Case-folded month and day names, longest first, so that "June" is not read as
  // "Jun" followed by "e"; with the month's number (1 to 12).
  std::vector<std::pair<QString, int>> MonthNames;
  QStringList DayNames;
  QString AmText;  // case-folded
  QString PmText;
  int CurrentYear = 2000;  // two-digit years fall within fifty years of it
};

// A number: optional spaces, an optional sign, decimal digits with at most one decimal
// separator (at least one digit or separator), an optional exponent, optional spaces.
// No thousands separators. Digits of any script count.
bool TextToNumber(QStringView text, const TLocaleFormats& formats, long double& value);
// A time of day in the locale's form: hours, optionally minutes, seconds and a decimal
// fraction of seconds, with an optional AM/PM marker. The result counts milliseconds
// since midnight.
bool TextToTime(QStringView text, const TLocaleFormats& formats, int64_t& msecs);
// A date in the locale's form (the year may be left out), optionally followed by a
// time; or a time alone, which counts as a time on day zero. The result counts
// milliseconds since the start of day zero (30 December 1899).
bool TextToDateTime(QStringView text, const TLocaleFormats& formats, int64_t& msecs);
