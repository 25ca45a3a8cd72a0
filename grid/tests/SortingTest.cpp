// Sorting: detection of the comparison kind, stable order, footer rows, Unsort, header
// clicks and the current row.

#include <QCollator>
#include <QDateTime>
#include <functional>
#include <numeric>
#include <random>

#include "GridTestSupport.h"
#include "SortGridConversions.h"
#include "SortSymbols.h"

namespace {

class SortingTest : public GridTest {};

// A grid with a header row and one fixed column holding row labels, so that whole rows
// can be followed by their label.
void FillKeys(TSortGrid& g, const QStringList& keys) {
  g.SetColCount(2);
  g.SetRowCount(static_cast<int>(keys.size()) + 1);
  g.SetCells(0, 0, "label");
  g.SetCells(1, 0, "key");
  for (int i = 0; i < keys.size(); ++i) {
    g.SetCells(0, i + 1, QString("r%1").arg(i));
    g.SetCells(1, i + 1, keys[i]);
  }
}

QStringList Keys(const TSortGrid& g) { return g.Cols(1).mid(1); }
QStringList Labels(const TSortGrid& g) { return g.Cols(0).mid(1); }
// The grid's keys are `keys` in some order: no row lost or doubled.
QStringList Sorted(QStringList keys) {
  keys.sort();
  return keys;
}

TEST_F(SortingTest, DetectsTheKindFromTheTextsAndSortsByIt) {
  struct Case {
    QStringList keys;
    TSortStyle kind;
    QStringList sorted;
  };
  const std::vector<Case> cases{
      {{"10", "9", "100", "-2.5e1"}, TSortStyle::ssNumeric, {"-2.5e1", "9", "10", "100"}},
      // One empty cell turns the column into text.
      {{"10", "9", "", "100"}, TSortStyle::ssAlphabetic, {"", "10", "100", "9"}},
      {{"12/31/2023 11:00 PM", "1/2/2024", "12/31/2023 9:15 AM", "3/1/24 0:00"},
       TSortStyle::ssDateTime,
       {"12/31/2023 9:15 AM", "12/31/2023 11:00 PM", "1/2/2024", "3/1/24 0:00"}},
      // A time alone is also a date and time; it sorts by the time of day.
      {{"1:00 PM", "9:30", "12:00 AM", "13:00:01"}, TSortStyle::ssDateTime, {"12:00 AM", "9:30", "1:00 PM", "13:00:01"}},
      // Not case sensitive: Apple and apple tie and keep their order.
      {{"banana", "Apple", "cherry", "apple"}, TSortStyle::ssAlphabetic, {"Apple", "apple", "banana", "cherry"}},
  };
  TSortGrid g;
  for (const Case& c : cases) {
    FillKeys(g, c.keys);
    EXPECT_EQ(g.DetectSortStyle(1), c.kind) << c.keys.join(" | ").toStdString();
    g.SortByColumn(1);
    EXPECT_EQ(Keys(g), c.sorted);
  }
  FillKeys(g, cases[3].keys);
  g.SortByColumn(1, {TSortStyle::ssTime, TSortDirection::sdDescending, false, {}});
  EXPECT_EQ(Keys(g), QStringList({"13:00:01", "1:00 PM", "9:30", "12:00 AM"}));
}

TEST_F(SortingTest, ConversionsFollowTheLocaleItsDigitsMarkersAndLiterals) {
  const TLocaleFormats de = TLocaleFormats::FromLocale(QLocale(QLocale::German, QLocale::Germany));
  long double n = 0;
  int64_t a = 0, b = 0;
  EXPECT_TRUE(TextToNumber(u" -1,5e2 ", de, n));
  EXPECT_EQ(n, -150);
  for (const char16_t* bad : {u"1.000,5", u"1,5,0", u"+", u"1e"})  // no thousands separators
    EXPECT_FALSE(TextToNumber(bad, de, n)) << QString::fromUtf16(bad).toStdString();
  EXPECT_TRUE(TextToDateTime(u"02.01.2024 10:30", de, a));
  EXPECT_TRUE(TextToDateTime(u"1.2.2024", de, b));
  EXPECT_GT(b, a);  // day first: 1 February is after 2 January
  EXPECT_FALSE(TextToDateTime(u"31.02.2024", de, a));
  EXPECT_FALSE(TextToTime(u"24:00", de, a));
  EXPECT_FALSE(TextToTime(u"13:00 PM", de, a));
  EXPECT_FALSE(TextToDateTime(u"", de, a));

  const TLocaleFormats bg = TLocaleFormats::FromLocale(QLocale("bg_BG"));
  EXPECT_TRUE(TextToDateTime(u"19.01.23 \u0433. 15:00 \u0447.", bg, a));
  EXPECT_TRUE(TextToDateTime(u"19.01.23 15:00", bg, b));  // the words may be left out
  EXPECT_EQ(a, b);

  // A marker before the time, and after it where the locale puts it before.
  const TLocaleFormats ko = TLocaleFormats::FromLocale(QLocale("ko_KR"));
  EXPECT_TRUE(TextToTime(u"3:00 \uc624\ud6c4", ko, b));  // before it: read back in every locale below
  EXPECT_EQ(b, 15 * 3600000);
  EXPECT_FALSE(TextToTime(u"\uc624\ud6c4 13:00", ko, a));

  // Arabic-Indic digits in dates and numbers, with the locale's own minus sign.
  const QLocale arLocale("ar_EG");
  const TLocaleFormats ar = TLocaleFormats::FromLocale(arLocale);
  EXPECT_TRUE(TextToNumber(arLocale.toString(-12.5), ar, n));
  EXPECT_EQ(n, -12.5);
  EXPECT_TRUE(TextToNumber(u"\u0661\u0662", ar, n));
  EXPECT_EQ(n, 12);
  EXPECT_FALSE(TextToNumber(u"\u00b2", ar, n));  // a superscript is no digit
}

TEST_F(SortingTest, ReadsBackTheShortDatesAndTimesOfEveryLocale) {
  // Whatever QLocale writes must read back to the same moment, in upper case too (an
  // ordinary sort compares upper-cased texts), and sort by time rather than as text.
  const QList<QLocale> locales =
      QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
  ASSERT_GT(locales.size(), 300);
  const int year = QDate::currentDate().year();  // two-digit years stay near today
  const std::vector<QDateTime> moments{
      {QDate(year, 1, 19), QTime(15, 0)},      {QDate(year, 1, 19), QTime(8, 35)},
      {QDate(year - 1, 12, 31), QTime(23, 59)}, {QDate(year, 1, 9), QTime(0, 5)},
      {QDate(year + 1, 10, 5), QTime(12, 0)},   {QDate(year - 20, 11, 30), QTime(13, 45)},
      {QDate(year, 1, 9), QTime(1, 0)}};
  const int64_t dayZero = QDate(1899, 12, 30).toJulianDay();
  auto msecs = [&](const QDateTime& m) {
    return (m.date().toJulianDay() - dayZero) * 86400000 + m.time().msecsSinceStartOfDay();
  };
  auto sortedBy = [&](auto key) {
    std::vector<int> order(moments.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return key(moments[a]) < key(moments[b]); });
    return order;
  };
  const std::vector<int> byMoment = sortedBy(msecs);
  const std::vector<int> byTime = sortedBy([](const QDateTime& m) { return m.time(); });

  QStringList failures;
  for (const QLocale& locale : locales) {
    QLocale::setDefault(locale);
    const TLocaleFormats f = TLocaleFormats::FromLocale(locale);
    QStringList dateTimes, times, expectDateTimes, expectTimes;
    auto fail = [&](const QString& what, const QString& text) {
      failures.append(QString("%1: %2 \"%3\"").arg(locale.name(), what, text));
    };
    for (const QDateTime& m : moments) {
      const QString dt = locale.toString(m, QLocale::ShortFormat);
      const QString d = locale.toString(m.date(), QLocale::ShortFormat);
      const QString t = locale.toString(m.time(), QLocale::ShortFormat);
      dateTimes.append(dt);
      times.append(t);
      for (const QString& s : {dt, locale.toUpper(dt)}) {
        int64_t v = -1;
        if (!TextToDateTime(s, f, v) || v != msecs(m)) fail("date and time", s);
      }
      int64_t v = -1;
      if (!TextToDateTime(d, f, v) || v != msecs(QDateTime(m.date(), QTime(0, 0)))) fail("date", d);
      for (const QString& s : {t, locale.toUpper(t)}) {
        if (!TextToTime(s, f, v) || v != m.time().msecsSinceStartOfDay()) fail("time", s);
      }
    }
    for (int i : byMoment) expectDateTimes.append(dateTimes[i]);
    for (int i : byTime) expectTimes.append(times[i]);
    TSortGrid g;
    FillKeys(g, dateTimes);
    if (g.DetectSortStyle(1) != TSortStyle::ssDateTime) fail("detected as", dateTimes.join(" | "));
    g.SortByColumn(1);
    if (Keys(g) != expectDateTimes) fail("sorted", Keys(g).join(" | "));
    FillKeys(g, times);
    g.SortByColumn(1);
    if (Keys(g) != expectTimes) fail("sorted times", Keys(g).join(" | "));
  }
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_TRUE(failures.isEmpty()) << failures.size() << " failures, first ones:\n"
                                  << failures.mid(0, 20).join("\n").toStdString();
}

TEST_F(SortingTest, MatchesAStableSortOfRandomKeysInBothDirections) {
  // The converted keys must give exactly the order of comparing the values themselves, and
  // equal keys keep their order either way. Many rows, so that the sort cannot fall back on
  // a small stable insertion sort.
  QCollator collator;
  const QLocale locale;
  auto ranked = [](const QStringList& order) {
    return [order](const QString& a, const QString& b) { return order.indexOf(a) - order.indexOf(b); };
  };
  const QStringList words{"alpha", "Alpha", "ALPHA", "alphax", "beta", "Äpfel", "apfel", "zeta", "10", "9", "é", "e", "E", "ex"};
  const QStringList numbers{"-3", "1", "2.5"}, times{"3:00 PM", "1/2/2024", "1/2/2024 9:00 AM"};
  const std::vector<std::tuple<QStringList, bool, std::function<int(const QString&, const QString&)>>> cases{
      {words, false, [&](const QString& a, const QString& b) { return collator.compare(locale.toUpper(a), locale.toUpper(b)); }},
      {words, true, [&](const QString& a, const QString& b) { return collator.compare(a, b); }},
      {numbers, false, ranked(numbers)},
      {times, false, ranked(times)}};
  std::mt19937 rng(7);
  for (const auto& [values, caseSensitive, compare] : cases) {
    QStringList keys;
    for (int i = 0; i < 400; ++i) keys.append(values[rng() % values.size()]);
    for (auto direction : {TSortDirection::sdAscending, TSortDirection::sdDescending}) {
      TSortGrid g;
      FillKeys(g, keys);
      g.SortByColumn(1, {TSortStyle::ssAutomatic, direction, caseSensitive, {}});
      std::vector<int> expected(keys.size());
      std::iota(expected.begin(), expected.end(), 0);
      const int sign = direction == TSortDirection::sdAscending ? 1 : -1;
      std::stable_sort(expected.begin(), expected.end(),
                       [&](int a, int b) { return sign * compare(keys[a], keys[b]) < 0; });
      QStringList expectedLabels;
      for (int i : expected) expectedLabels.append(QString("r%1").arg(i));
      EXPECT_EQ(Labels(g), expectedLabels) << values[0].toStdString() << " case sensitive: " << caseSensitive
                                           << " direction " << static_cast<int>(direction);
    }
  }
}

TEST_F(SortingTest, TextsThatDoNotConvertTieAndNothingIsLost) {
  // 2 < x and x < 1 by row order, 1 < 2 by value: no order satisfies all three, and the
  // middle-pivot quicksort leaves these three rows as they are.
  TSortGrid g;
  FillKeys(g, {"2", "x", "1"});
  const TSortOptions numeric{TSortStyle::ssNumeric, TSortDirection::sdAscending, false, {}};
  g.SortByColumn(1, numeric);
  EXPECT_EQ(Keys(g), QStringList({"2", "x", "1"}));

  std::mt19937 rng(3);
  QStringList keys;
  for (int i = 0; i < 500; ++i) keys.append(rng() % 4 ? QString::number(rng() % 50) : QString("n/a"));
  FillKeys(g, keys);
  g.SortByColumn(1, numeric);
  EXPECT_EQ(Sorted(Keys(g)), Sorted(keys));
  g.Unsort();
  EXPECT_EQ(Keys(g), keys);
}

TEST_F(SortingTest, FooterRowsStayUnlessSortFooter) {
  // A text footer neither moves nor makes a number column sort as text.
  TSortGrid g;
  FillKeys(g, {"10", "9", "100", "Total"});
  g.SetFooterRows(5);  // more than the rows below the header
  g.SetFooterRows(-1);
  EXPECT_EQ(g.FooterRows(), 0);
  g.SetFooterRows(1);
  EXPECT_EQ(g.DetectSortStyle(1), TSortStyle::ssNumeric);
  g.SortByColumn(1);
  EXPECT_EQ(Keys(g), QStringList({"9", "10", "100", "Total"}));
  g.SetSortFooter(true);
  g.SortByColumn(1);
  EXPECT_EQ(Keys(g), QStringList({"10", "100", "9", "Total"}));
  g.SetSortFooter(false);
  g.SetFooterRows(4);
  g.SortByColumn(1, {TSortStyle::ssAlphabetic, TSortDirection::sdDescending, false, {}});
  EXPECT_EQ(Keys(g), QStringList({"10", "100", "9", "Total"}));  // all are footer rows: nothing moves
  // Deleting rows shrinks the footer to the rows left.
  g.DeleteRow(1);
  EXPECT_EQ(g.FooterRows(), 3);
}

TEST_F(SortingTest, ABrokenComparisonLosesNoRowAndAFailingOneLeavesUnsortAlone) {
  // A comparison that never says equal breaks the contract; the worst allowed outcome is a
  // wrong order.
  TSortOptions o;
  o.SortStyle = TSortStyle::ssCustom;
  o.SortCompare = [](const QString& a, const QString& b) { return a < b ? -1 : 1; };
  for (const QStringList& keys : {QStringList(60, "same"), QStringList{"b", "a", "b", "c", "a", "b", "a", "c", "b"}}) {
    for (auto direction : {TSortDirection::sdAscending, TSortDirection::sdDescending}) {
      TSortGrid g;
      FillKeys(g, keys);
      o.SortDirection = direction;
      g.SortByColumn(1, o);
      EXPECT_EQ(Sorted(Keys(g)), Sorted(keys));
    }
  }

  TSortGrid g;
  FillKeys(g, {"c", "a", "b"});
  o.SortDirection = TSortDirection::sdAscending;
  o.SortCompare = [](const QString&, const QString&) -> int { throw std::runtime_error("no"); };
  bool ended = false;
  g.OnEndSort = [&](TSortGrid*, int) { ended = true; };
  EXPECT_THROW(g.SortByColumn(1, o), std::runtime_error);
  EXPECT_FALSE(ended);
  EXPECT_FALSE(g.Sorting());
  EXPECT_TRUE(g.Sorted());
  g.Unsort();
  EXPECT_EQ(Keys(g), QStringList({"c", "a", "b"}));
  o.SortCompare = [](const QString& a, const QString& b) { return b.compare(a); };
  g.SortByColumn(1, o);
  EXPECT_EQ(Keys(g), QStringList({"c", "b", "a"}));
}

TEST_F(SortingTest, UnsortRestoresTheOrderBeforeTheLastSort) {
  TSortGrid g;
  FillKeys(g, {"c", "a", "b"});
  g.SetRow(1);  // holds c
  g.SortByColumn(1);
  EXPECT_EQ(g.Row(), 3);  // the current row followed its data
  g.SetCells(0, 1, "edited");  // edits stay with their rows
  ASSERT_TRUE(g.CanUnsort());
  g.Unsort();
  EXPECT_EQ(Keys(g), QStringList({"c", "a", "b"}));
  EXPECT_EQ(g.Cells(0, 2), "edited");
  EXPECT_EQ(g.Row(), 1);
  EXPECT_FALSE(g.Sorted());
  EXPECT_FALSE(g.CanUnsort());

  // An excluded footer row makes Unsort change nothing, twice.
  FillKeys(g, {"c", "a", "b", "total"});
  g.SetFooterRows(1);
  g.SortByColumn(1);
  const QStringList sorted = Keys(g);
  g.Unsort();
  g.Unsort();
  EXPECT_EQ(Keys(g), sorted);
}

TEST_F(SortingTest, BeginSortSeesTheDetectedKindAndMayChangeTheOptions) {
  // How an owner sorts "45% " by its number: detection says text, the handler says
  // otherwise for that column only, for header clicks and calls alike.
  TSortGrid g;
  FillKeys(g, {"45% ", "5% ", "100% ", "0% ", "5% ", "Total"});
  g.SetFooterRows(1);
  std::vector<TSortStyle> seen;
  int ended = -1;
  g.OnBeginSort = [&](TSortGrid*, int col, TSortOptions& o) {
    seen.push_back(o.SortStyle);
    if (col != 1) return;
    o.SortStyle = TSortStyle::ssCustom;
    o.SortCompare = [](const QString& a, const QString& b) {
      const int x = a.section('%', 0, 0).toInt(), y = b.section('%', 0, 0).toInt();
      return x < y ? -1 : x > y ? 1 : 0;
    };
  };
  g.OnEndSort = [&](TSortGrid*, int col) { ended = col; };
  g.SetSortSymbol(TSortSymbol::sgArrow);
  g.SortByColumn(1);
  EXPECT_EQ(seen, std::vector<TSortStyle>{TSortStyle::ssAlphabetic});
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(Keys(g), QStringList({"0% ", "5% ", "5% ", "45% ", "100% ", "Total"}));
  EXPECT_EQ(Labels(g).mid(1, 2), QStringList({"r1", "r4"}));
  ShowFocused(g);
  QTest::mouseClick(g.viewport(), Qt::RightButton, {}, g.CellRect(1, 0).center());
  EXPECT_EQ(Keys(g), QStringList({"100% ", "45% ", "5% ", "5% ", "0% ", "Total"}));
  EXPECT_EQ(Labels(g).mid(2, 2), QStringList({"r1", "r4"}));  // equal keys keep their order
  EXPECT_EQ(g.SymbolBitmap(), SortSymbolPicture("SORTDN"));
}

TEST_F(SortingTest, HeaderButtonChoosesTheDirectionAndModifiersOrTheEditorPreventTheSort) {
  TSortGrid g;
  std::vector<TGridCoord> clicks;
  int begun = 0;
  g.OnClickSort = [&](TSortGrid*, int col, int row, TSortOptions&) { clicks.push_back({col, row}); };
  g.OnBeginSort = [&](TSortGrid*, int, TSortOptions&) { ++begun; };
  // Too few rows, or a column that is not there, sort nothing.
  FillKeys(g, {"b"});
  g.SortByColumn(1);
  FillKeys(g, {"b", "a"});
  g.SortByColumn(-1);
  g.SortByColumn(2);
  EXPECT_EQ(begun, 0);
  EXPECT_EQ(Keys(g), QStringList({"b", "a"}));

  FillKeys(g, {"b", "c", "a"});
  ShowFocused(g);
  auto ClickHeader = [&](Qt::MouseButton button, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(g.viewport(), button, mods, g.CellRect(1, 0).center());
  };
  ClickHeader(Qt::RightButton);
  EXPECT_EQ(Keys(g), QStringList({"c", "b", "a"}));
  ClickHeader(Qt::LeftButton);
  EXPECT_EQ(Keys(g), QStringList({"a", "b", "c"}));
  ClickHeader(Qt::RightButton);
  ClickHeader(Qt::MiddleButton);
  EXPECT_EQ(Keys(g), QStringList({"a", "b", "c"}));
  ASSERT_EQ(clicks.size(), 4u);
  EXPECT_EQ(clicks[0], (TGridCoord{1, 0}));

  for (auto mod : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) ClickHeader(Qt::RightButton, mod);
  EXPECT_EQ(Keys(g), QStringList({"a", "b", "c"}));
  EXPECT_EQ(clicks.size(), 4u);

  g.SetSortOnClick(false);
  ClickHeader(Qt::RightButton);
  EXPECT_EQ(Keys(g), QStringList({"a", "b", "c"}));
  EXPECT_EQ(clicks.size(), 4u);

  // No sort while the editor is shown.
  g.SetSortOnClick(true);
  begun = 0;
  g.SetOptions(TGridOptions(g.Options()).Include(TGridOption::goEditing).Include(TGridOption::goAlwaysShowEditor));
  QApplication::processEvents();
  ASSERT_TRUE(g.EditorMode());
  ClickHeader(Qt::RightButton);
  EXPECT_EQ(clicks.size(), 5u);  // the click is reported, but sorts nothing
  EXPECT_EQ(begun, 0);
  EXPECT_EQ(Keys(g), QStringList({"a", "b", "c"}));
}

}  // namespace
