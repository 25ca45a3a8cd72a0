// TSortGrid: row and column operations, the keyboard commands for them, validation of
// edited cells and the search for a cell text.

#include <QKeyEvent>
#include <algorithm>

#include "SortGrid.h"

// ---- the editor option ----
// Rows and columns move and disappear with the always-shown editor out of the way; it
// comes back over the current cell afterwards.

void TSortGrid::HoldEditorOption() {
  if (Options().Contains(TGridOption::goAlwaysShowEditor)) {
    editorOptionHeld_ = true;
    SetOptions(TGridOptions(Options()).Exclude(TGridOption::goAlwaysShowEditor));
  }
}

void TSortGrid::ReleaseEditorOption() {
  if (editorOptionHeld_) {
    editorOptionHeld_ = false;
    SetOptions(TGridOptions(Options()).Include(TGridOption::goAlwaysShowEditor));
  }
}

void TSortGrid::RememberedRowMoved(int from, int to) {
  if (editRow_ == from) editRow_ = to;
  else if (from < to && editRow_ > from && editRow_ <= to) --editRow_;
  else if (from > to && editRow_ >= to && editRow_ < from) ++editRow_;
}

// ---- rows ----

void TSortGrid::InsertRow(int ARow) {
  if (ARow < 0 || ARow > RowCount()) return;
  SetRowCount(RowCount() + 1);
  MoveRow(RowCount() - 1, ARow);
  ClearRow(ARow);
  SetRow(ARow);
  sorted_ = false;
  if (OnRowInsert) OnRowInsert(this, ARow);
}

bool TSortGrid::InsertRows(int ARow, int Count) {
  if (ARow < 0 || ARow >= RowCount()) return false;
  for (int i = 0; i < Count; ++i) {
    SetRowCount(RowCount() + 1);
    MoveRow(RowCount() - 1, ARow);
    ClearRow(ARow);
    SetRow(ARow);
    if (OnRowInsert) OnRowInsert(this, ARow);
  }
  return true;
}

void TSortGrid::DeleteRow(int ARow) {
  if (ARow < 0 || ARow >= RowCount()) return;
  ClearRow(ARow);
  if (editRow_ == ARow) RememberCell();  // its data is gone
  else if (editRow_ > ARow) --editRow_;
  HoldEditorOption();
  TStringGrid::DeleteRow(ARow);
  ReleaseEditorOption();
  if (OnRowDelete) OnRowDelete(this, ARow);
  if (RowCount() - FixedRows() < footerRows_) SetFooterRows(RowCount() - FixedRows());
}

bool TSortGrid::DeleteRows(int First, int Last) {
  if (First < 0 || First > Last || Last >= RowCount()) return false;
  for (int r = Last; r >= First; --r) {
    ClearRow(r);
    DeleteRow(r);
  }
  return true;
}

void TSortGrid::MoveRow(int FromIndex, int ToIndex) {
  if (FromIndex < 0 || FromIndex >= RowCount() || ToIndex < 0 || ToIndex >= RowCount()) return;
  HoldEditorOption();
  TStringGrid::MoveRow(FromIndex, ToIndex);
  RememberedRowMoved(FromIndex, ToIndex);
  ReleaseEditorOption();
  sorted_ = false;
}

void TSortGrid::SwapRows(int ARow1, int ARow2) {
  // Each move checks its own indices; one bad index would leave half a swap done.
  if (ARow1 < 0 || ARow2 < 0 || ARow1 >= RowCount() || ARow2 >= RowCount()) return;
  if (ARow2 > ARow1) {
    MoveRow(ARow2, ARow1);
    MoveRow(ARow1 + 1, ARow2);
  } else if (ARow1 > ARow2) {
    MoveRow(ARow1, ARow2);
    MoveRow(ARow2 + 1, ARow1);
  }
}

bool TSortGrid::ClearRows(int First, int Last) {
  if (First < 0 || First > Last || Last >= RowCount()) return false;
  for (int r = First; r <= Last; ++r) ClearRow(r);
  modified_ = false;
  SetSortDirection(TSortDirection::sdAscending);
  sorted_ = false;
  RememberCell();  // the remembered text is gone; an old one must not come back
  return true;
}

void TSortGrid::ClearAll() { ClearRows(0, RowCount() - 1); }

void TSortGrid::ClearFrom(int FirstRow) { ClearRows(FirstRow, RowCount() - 1); }

// ---- columns ----

void TSortGrid::InsertColumn(int ACol) {
  if (ACol < 0 || ACol > ColCount()) return;
  SetColCount(ColCount() + 1);
  MoveColumn(ColCount() - 1, ACol);
  ClearCol(ACol);
  SetCol(ACol);
  if (OnColumnInsert) OnColumnInsert(this, ACol);
}

bool TSortGrid::InsertColumns(int ACol, int Count) {
  if (ACol < 0 || ACol >= ColCount()) return false;
  for (int i = 0; i < Count; ++i) {
    SetColCount(ColCount() + 1);
    MoveColumn(ColCount() - 1, ACol);
    ClearCol(ACol);
    SetCol(ACol);
    if (OnColumnInsert) OnColumnInsert(this, ACol);
  }
  return true;
}

void TSortGrid::DeleteColumn(int ACol) {
  if (ACol < 0 || ACol >= ColCount()) return;
  ClearCol(ACol);
  if (editCol_ == ACol) RememberCell();
  else if (editCol_ > ACol) --editCol_;
  HoldEditorOption();
  TStringGrid::DeleteColumn(ACol);
  ReleaseEditorOption();
  if (OnColumnDelete) OnColumnDelete(this, ACol);
}

bool TSortGrid::DeleteColumns(int First, int Last) {
  if (First < 0 || First > Last || Last >= ColCount()) return false;
  for (int c = Last; c >= First; --c) {
    ClearCol(c);
    DeleteColumn(c);
  }
  return true;
}

void TSortGrid::MoveColumn(int FromIndex, int ToIndex) {
  if (FromIndex < 0 || FromIndex >= ColCount() || ToIndex < 0 || ToIndex >= ColCount()) return;
  HoldEditorOption();
  TStringGrid::MoveColumn(FromIndex, ToIndex);
  if (editCol_ == FromIndex) editCol_ = ToIndex;
  else if (FromIndex < ToIndex && editCol_ > FromIndex && editCol_ <= ToIndex) --editCol_;
  else if (FromIndex > ToIndex && editCol_ >= ToIndex && editCol_ < FromIndex) ++editCol_;
  ReleaseEditorOption();
}

void TSortGrid::SwapColumns(int ACol1, int ACol2) {
  if (ACol1 < 0 || ACol2 < 0 || ACol1 >= ColCount() || ACol2 >= ColCount()) return;
  if (ACol2 > ACol1) {
    MoveColumn(ACol2, ACol1);
    MoveColumn(ACol1 + 1, ACol2);
  } else if (ACol1 > ACol2) {
    MoveColumn(ACol1, ACol2);
    MoveColumn(ACol2 + 1, ACol1);
  }
}

bool TSortGrid::ClearColumns(int First, int Last) {
  if (First < 0 || First > Last || Last >= ColCount()) return false;
  for (int c = First; c <= Last; ++c) ClearCol(c);
  return true;
}

// ---- cells ----

void TSortGrid::MoveToCell(int ACol, int ARow) {
  ACol = std::max(ACol, FixedCols());
  ARow = std::max(ARow, FixedRows());
  if (ACol >= ColCount() || ARow >= RowCount()) return;
  if (MoveCurrent(ACol, ARow, true, true)) Click();
}

bool TSortGrid::FindCell(const QString& S, int& ACol, int& ARow) {
  for (int c = 0; c < ColCount(); ++c) {
    const int r = IndexOfInCol(c, S);
    if (r >= 0) {
      ACol = c;
      ARow = r;
      return true;
    }
  }
  return false;
}

// ---- keyboard ----

void TSortGrid::KeyDown(int& Key, Qt::KeyboardModifiers Shift) {
  TStringGrid::KeyDown(Key, Shift);
  if (!extendedKeys_ || EditorMode()) return;
  const Qt::KeyboardModifiers mods =
      Shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  const bool ctrl = mods == Qt::ControlModifier;
  const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
  if (Key == Qt::Key_Insert && ctrl) {
    InsertRow(Row());
  } else if (Key == Qt::Key_Delete && ctrl) {
    if (RowCount() > FixedRows() + 1) DeleteRow(Row());
  } else if (Key == Qt::Key_Insert && ctrlShift) {
    InsertColumn(Col());
  } else if (Key == Qt::Key_Delete && ctrlShift) {
    if (ColCount() > FixedCols() + 1) DeleteColumn(Col());
  }
}

void TSortGrid::KeyPress(QChar& Key) {
  if (Key == QChar('\r')) ValidateCell();
  TStringGrid::KeyPress(Key);
}

// ---- validation ----

void TSortGrid::SetEditText(int ACol, int ARow, const QString& Value) {
  if (Value != Cells(ACol, ARow)) modified_ = true;
  TStringGrid::SetEditText(ACol, ARow, Value);
}

void TSortGrid::RememberCell() {
  editCol_ = Col();
  editRow_ = Row();
  rememberedText_ = Cells(editCol_, editRow_);
  savedModified_ = modified_;
}

void TSortGrid::ValidateCell() {
  const bool exists = editCol_ >= 0 && editCol_ < ColCount() && editRow_ >= 0 && editRow_ < RowCount();
  const QString text = Cells(editCol_, editRow_);
  if (exists && text != rememberedText_) {
    QString value = text;
    bool valid = true;
    if (OnCellValidate) OnCellValidate(this, editCol_, editRow_, value, valid);
    if (valid) {
      if (value != Cells(editCol_, editRow_)) SetCells(editCol_, editRow_, value);
    } else {
      SetCells(editCol_, editRow_, value != Cells(editCol_, editRow_) ? value : rememberedText_);
      modified_ = savedModified_;
    }
  }
  RememberCell();
}

void TSortGrid::Click() {
  try {
    TStringGrid::Click();
  } catch (...) {
    if (entered_) ValidateCell();
    throw;
  }
  if (entered_) ValidateCell();
}

void TSortGrid::DoEnter() {
  entered_ = true;
  TStringGrid::DoEnter();
  RememberCell();
}

void TSortGrid::DoExit() {
  Click();
  TStringGrid::DoExit();
  entered_ = false;
}
