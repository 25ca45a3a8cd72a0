#pragma once
// Shared set-up of the grid tests: one QApplication on the offscreen platform with a
// fixed locale, and helpers to fill and read a grid.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QStringList>
#include <QTest>

#include "SortGrid.h"

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline void EnsureApp() {
  static int argc = 1;
  static char name[] = "grid-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* a = new QApplication(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return a;
  }();
  (void)app;
}

class GridTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureApp(); }
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
};

// Rows are given from row 0; the grid gets as many rows and columns as needed.
inline void Fill(TStringGrid& grid, const std::vector<QStringList>& rows) {
  int cols = 1;
  for (const auto& r : rows) cols = std::max(cols, static_cast<int>(r.size()));
  grid.SetColCount(cols);
  grid.SetRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r)
    for (int c = 0; c < rows[r].size(); ++c) grid.SetCells(c, r, rows[r][c]);
}

// Shows the grid in an active window with the focus on it, as a user would meet it.
inline void ShowFocused(QWidget& w) {
  w.resize(400, 300);
  w.show();
  w.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
  w.setFocus(Qt::OtherFocusReason);
  QApplication::processEvents();
}
