#pragma once
// Locale-aware conversion of cell texts to numbers, times of day and dates with times,
// as sorting and sort-kind detection need them. Each conversion must consume the whole
// text (spaces around it aside); an empty text never converts.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>

// The grammar parameters taken from one locale, prepared once per sort.
struct TLocaleFormats {
  static TLocaleFormats FromLocale(const QLocale& locale);

  QString DecimalPoint;
  QChar DateSeparator;
  QChar TimeSeparator;
  // The order of day (0), month (1) and year (2) in the locale's short date.
  int Order[3] = {1, 0, 2};
  QStringList MonthNames;  // short and long names, both accepted in a month's place
  QString AmText;
  QString PmText;
};

// A number: optional spaces, an optional sign, decimal digits with at most one decimal
// separator (at least one digit or separator), an optional exponent, optional spaces.
// No thousands separators.
bool TextToNumber(QStringView text, const TLocaleFormats& formats, long double& value);
// A time of day: hours, optionally minutes, seconds and a decimal fraction of seconds,
// with an optional AM/PM marker. The result counts milliseconds since midnight.
bool TextToTime(QStringView text, const TLocaleFormats& formats, int64_t& msecs);
// A date in the locale's order (the year may be left out), optionally followed by a
// time; or a time alone, which counts as a time on day zero. The result counts
// milliseconds since the start of day zero (30 December 1899).
bool TextToDateTime(QStringView text, const TLocaleFormats& formats, int64_t& msecs);
