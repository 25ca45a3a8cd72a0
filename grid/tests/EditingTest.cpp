// Row and column operations with their events, keyboard commands, validation of edited
// cells, search, and the property rules.

#include <QLineEdit>

#include "GridTestSupport.h"

namespace {

class EditingTest : public GridTest {
 protected:
  void SetUp() override {
    GridTest::SetUp();
    std::vector<QStringList> rows(5);  // h0..h4 above a0..a4 to d0..d4
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) rows[r] << QString("habcd"[r]) + QString::number(c);
    Fill(g, rows);
    g.OnRowInsert = [this](TSortGrid*, int i) { events.push_back(QString("row+%1").arg(i)); };
    g.OnRowDelete = [this](TSortGrid*, int i) { events.push_back(QString("row-%1").arg(i)); };
    g.OnColumnInsert = [this](TSortGrid*, int i) { events.push_back(QString("col+%1").arg(i)); };
    g.OnColumnDelete = [this](TSortGrid*, int i) { events.push_back(QString("col-%1").arg(i)); };
  }
  TSortGrid g;
  QStringList events;
};

TEST_F(EditingTest, RowOperations) {
  g.InsertRow(2);
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "a0", "", "b0", "c0", "d0"}));
  EXPECT_EQ(g.Row(), 2);
  g.InsertRow(6);  // appends
  EXPECT_EQ(g.Cells(0, 5), "d0");
  EXPECT_EQ(g.RowCount(), 7);
  g.InsertRow(99);  // nowhere to insert
  EXPECT_EQ(g.RowCount(), 7);
  EXPECT_TRUE(g.DeleteRows(6, 6));
  EXPECT_FALSE(g.DeleteRows(3, 9));
  EXPECT_FALSE(g.DeleteRows(3, 2));
  g.DeleteRow(2);
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "a0", "b0", "c0", "d0"}));
  EXPECT_EQ(events, QStringList({"row+2", "row+6", "row-6", "row-2"}));

  g.SwapRows(1, 4);
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "d0", "b0", "c0", "a0"}));
  // One bad index on either side changes nothing.
  for (auto [a, b] : {std::pair{-1, 3}, {3, -1}, {2, 5}, {5, 2}}) g.SwapRows(a, b);
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "d0", "b0", "c0", "a0"}));
  EXPECT_TRUE(g.InsertRows(1, 2));
  EXPECT_FALSE(g.InsertRows(7, 1));
  EXPECT_EQ(g.Cols(0).mid(0, 4), QStringList({"h0", "", "", "d0"}));
}

TEST_F(EditingTest, ColumnOperations) {
  g.InsertColumn(1);
  EXPECT_EQ(g.Rows(1), QStringList({"a0", "", "a1", "a2", "a3", "a4"}));
  EXPECT_EQ(g.Col(), 1);
  g.DeleteColumn(1);
  g.SwapColumns(0, 3);
  EXPECT_EQ(g.Rows(1), QStringList({"a3", "a1", "a2", "a0", "a4"}));
  for (auto [a, b] : {std::pair{-1, 2}, {2, -1}, {1, 5}, {5, 1}}) g.SwapColumns(a, b);
  EXPECT_EQ(g.Rows(1), QStringList({"a3", "a1", "a2", "a0", "a4"}));
  EXPECT_TRUE(g.DeleteColumns(3, 4));
  EXPECT_EQ(g.ColCount(), 3);
  EXPECT_EQ(events, QStringList({"col+1", "col-1", "col-4", "col-3"}));

  // Every column of the range is cleared.
  Fill(g, {{"0", "1", "2", "3", "4", "5"}});
  EXPECT_TRUE(g.ClearColumns(0, 4));
  EXPECT_EQ(g.Rows(0), QStringList({"", "", "", "", "", "5"}));
  EXPECT_FALSE(g.ClearColumns(2, 6));
}

TEST_F(EditingTest, ClearRowsResetsTheSortState) {
  g.SortByColumn(1, {TSortStyle::ssAlphabetic, TSortDirection::sdDescending, false, {}});
  EXPECT_TRUE(g.Sorted());
  EXPECT_TRUE(g.ClearRows(1, 2));
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "", "", "b0", "a0"}));
  EXPECT_FALSE(g.Sorted());
  EXPECT_EQ(g.SortDirection(), TSortDirection::sdAscending);
  EXPECT_FALSE(g.ClearRows(3, 5));
  g.ClearFrom(1);
  EXPECT_EQ(g.Cols(1), QStringList({"h1", "", "", "", ""}));
}

TEST_F(EditingTest, ExtendedKeysInsertAndDeleteWithExactModifiers) {
  g.SetRow(2);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(g.RowCount(), 5);  // off by default
  g.SetExtendedKeys(true);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(g.RowCount(), 5);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "a0", "c0", "d0"}));
  QTest::keyClick(&g, Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(g.Cols(0), QStringList({"h0", "a0", "", "c0", "d0"}));
  g.SetCol(3);
  QTest::keyClick(&g, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(g.ColCount(), 6);
  EXPECT_EQ(g.Cells(3, 1), "");
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(g.Rows(1), QStringList({"a0", "a1", "a2", "a3", "a4"}));
  EXPECT_EQ(events, QStringList({"row-2", "row+2", "col+3", "col-3"}));
}

class ValidationTest : public EditingTest {
 protected:
  void SetUp() override {
    EditingTest::SetUp();
    g.SetCells(1, 1, "5");
    g.SetOptions(TGridOptions(g.Options()).Include(TGridOption::goEditing));
    g.SetCol(1);
    g.SetRow(1);
    ShowFocused(g);
    g.OnCellValidate = [this](TSortGrid*, int col, int row, QString& value, bool& valid) {
      checked.push_back({col, row});
      if (substitute) value = *substitute;
      valid = accept;
    };
  }
  // Types into the current cell through the editor and moves down, as a user would.
  void EditAndLeave(const QString& text) {
    QTest::keyClick(&g, Qt::Key_F2);
    ASSERT_TRUE(g.EditorMode());
    g.InplaceEditor()->selectAll();
    QTest::keyClicks(g.InplaceEditor(), text);
    QTest::keyClick(g.InplaceEditor(), Qt::Key_Down);
  }
  std::vector<TGridCoord> checked;
  bool accept = true;
  std::optional<QString> substitute;
};

TEST_F(ValidationTest, OnlyTheLeftCellIsCheckedAndIsRestoredReplacedOrKept) {
  accept = false;
  EditAndLeave("7");
  EXPECT_EQ(g.Cells(1, 1), "5");
  EXPECT_FALSE(g.Modified());
  ASSERT_EQ(checked.size(), 1u);
  EXPECT_EQ(checked[0], (TGridCoord{1, 1}));
  QTest::keyClick(&g, Qt::Key_Down);  // leaving an unchanged cell checks nothing
  EXPECT_EQ(checked.size(), 1u);

  g.SetRow(1);
  substitute = "6";
  EditAndLeave("7");
  EXPECT_EQ(g.Cells(1, 1), "6");

  g.SetRow(1);
  substitute.reset();
  accept = true;
  EditAndLeave("7");
  EXPECT_EQ(g.Cells(1, 1), "7");
  EXPECT_TRUE(g.Modified());

  // Enter validates the cell without leaving it.
  g.SetRow(1);
  accept = false;
  QTest::keyClick(&g, Qt::Key_F2);
  QTest::keyClicks(g.InplaceEditor(), "9");
  QTest::keyClick(g.InplaceEditor(), Qt::Key_Return);
  EXPECT_EQ(g.Cells(1, 1), "7");
  EXPECT_FALSE(g.EditorMode());
}

TEST_F(ValidationTest, RowsMovedUnderTheRememberedCellAreNotChecked) {
  g.SetCells(1, 2, "1");
  g.SetCells(1, 3, "3");
  g.SetCells(1, 4, "4");
  g.SortByColumn(1);  // moves row 1's data elsewhere
  QTest::keyClick(&g, Qt::Key_Down);
  g.InsertRow(1);
  QTest::keyClick(&g, Qt::Key_Down);
  EXPECT_TRUE(checked.empty());
}

TEST_F(ValidationTest, TheRememberedCellFollowsARowMovedOntoIt) {
  // Row 1 moves down onto the remembered cell's row: the cell's text is now one row up,
  // and validation must compare it there, not write it into the row that came down.
  accept = false;
  g.SetRow(3);
  g.ValidateCell();  // remembers (1, 3), which holds c1
  g.MoveRow(1, 3);
  g.ValidateCell();
  EXPECT_TRUE(checked.empty());
  EXPECT_EQ(g.Cols(1), QStringList({"h1", "b1", "c1", "5", "d1"}));
  g.MoveRow(3, 1);  // and back up over it
  g.ValidateCell();
  EXPECT_TRUE(checked.empty());
  EXPECT_EQ(g.Cols(1), QStringList({"h1", "5", "b1", "c1", "d1"}));
}

TEST_F(EditingTest, FindCellIgnoresCaseAndSearchesColumnsFirst) {
  g.SetCells(0, 4, "abc");
  g.SetCells(1, 2, "ABC");
  int col = -5, row = -5;
  EXPECT_TRUE(g.FindCell("Abc", col, row));
  EXPECT_EQ(col, 0);
  EXPECT_EQ(row, 4);
  EXPECT_FALSE(g.FindCell("zzz", col, row));
  EXPECT_EQ(col, 0);
}

TEST_F(EditingTest, SortColumnStaysAmongTheColumns) {
  g.SetSortColumn(-1);
  g.SetSortColumn(g.ColCount());
  EXPECT_EQ(g.SortColumn(), 1);
  g.SetSortColumn(3);
  EXPECT_EQ(g.SortColumn(), 3);
}

}  // namespace
