// TStringGrid: cell storage, dimensions, the current cell and selection, scrolling and
// geometry.

#include "StringGrid.h"

#include <QCollator>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>

namespace {

// Where index `idx` ends up when the item at `from` moves to `to`.
void MoveAdjust(int& idx, int from, int to) {
  if (idx == from) idx = to;
  else if (from < to && idx > from && idx <= to) --idx;
  else if (from > to && idx >= to && idx < from) ++idx;
}

}  // namespace

TStringGrid::TStringGrid(QWidget* parent) : QAbstractScrollArea(parent) {
  rows_.resize(rowCount_);
  colWidths_.assign(colCount_, defaultColWidth_);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setAutoFillBackground(false);
  // A click in a bar's track pages by the rows (columns) in view, whatever the bar's
  // page size, which a descendant may set for the thumb's sake alone.
  for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar](int action) {
      if (action != QAbstractSlider::SliderPageStepAdd && action != QAbstractSlider::SliderPageStepSub) return;
      const int page = std::max(1, bar == verticalScrollBar() ? VisibleRowCount() : VisibleColCount());
      bar->setSliderPosition(bar->value() + (action == QAbstractSlider::SliderPageStepAdd ? page : -page));
    });
  }
  UpdateScrollRange();
}

TStringGrid::~TStringGrid() = default;

// ---- cells ----

QString TStringGrid::Cells(int ACol, int ARow) const {
  if (ARow < 0 || ARow >= rowCount_ || ACol < 0 || !rows_[ARow]) return {};
  const auto& texts = rows_[ARow]->texts;
  return ACol < static_cast<int>(texts.size()) ? texts[ACol] : QString();
}

void TStringGrid::SetCells(int ACol, int ARow, const QString& Value) {
  if (ARow < 0 || ARow >= rowCount_ || ACol < 0 || ACol >= colCount_) return;
  if (!rows_[ARow] && Value.isEmpty()) return;
  auto& texts = RowData(ARow).texts;
  if (ACol >= static_cast<int>(texts.size())) {
    if (Value.isEmpty()) return;
    texts.resize(ACol + 1);
  }
  texts[ACol] = Value;
  if (editor_ && EditorMode() && ACol == current_.X && ARow == current_.Y) {
    auto* edit = editor_;
    if (edit->text() != Value) edit->setText(Value);
  }
  if (isVisible() && (ARow < fixedRows_ || (ARow >= topRow_ && ARow <= topRow_ + VisibleRowCount())))
    InvalidateCell(ACol, ARow);
}

QVariant TStringGrid::Objects(int ACol, int ARow) const {
  if (ARow < 0 || ARow >= rowCount_ || ACol < 0 || !rows_[ARow]) return {};
  const auto& objects = rows_[ARow]->objects;
  return ACol < static_cast<int>(objects.size()) ? objects[ACol] : QVariant();
}

void TStringGrid::SetObjects(int ACol, int ARow, const QVariant& Value) {
  if (ARow < 0 || ARow >= rowCount_ || ACol < 0 || ACol >= colCount_) return;
  if (!rows_[ARow] && !Value.isValid()) return;
  auto& objects = RowData(ARow).objects;
  if (ACol >= static_cast<int>(objects.size())) {
    if (!Value.isValid()) return;
    objects.resize(ACol + 1);
  }
  objects[ACol] = Value;
}

QStringList TStringGrid::Rows(int ARow) const {
  QStringList list;
  if (ARow < 0 || ARow >= rowCount_) return list;
  list.reserve(colCount_);
  for (int c = 0; c < colCount_; ++c) list.append(Cells(c, ARow));
  return list;
}

void TStringGrid::SetRows(int ARow, const QStringList& Value) {
  if (ARow < 0 || ARow >= rowCount_) return;
  auto& texts = RowData(ARow).texts;
  texts.assign(Value.begin(), Value.begin() + std::min<qsizetype>(Value.size(), colCount_));
  InvalidateRow(ARow);
}

QStringList TStringGrid::Cols(int ACol) const {
  QStringList list;
  if (ACol < 0 || ACol >= colCount_) return list;
  list.reserve(rowCount_);
  for (int r = 0; r < rowCount_; ++r) list.append(Cells(ACol, r));
  return list;
}

void TStringGrid::SetCols(int ACol, const QStringList& Value) {
  if (ACol < 0 || ACol >= colCount_) return;
  for (int r = 0; r < rowCount_; ++r) SetCells(ACol, r, r < Value.size() ? Value[r] : QString());
}

void TStringGrid::CopyRow(int From, int To) {
  if (From < 0 || From >= rowCount_ || To < 0 || To >= rowCount_ || From == To) return;
  rows_[To] = rows_[From] ? std::make_unique<CellRow>(*rows_[From]) : nullptr;
  InvalidateRow(To);
}

void TStringGrid::ClearRow(int ARow) {
  if (ARow < 0 || ARow >= rowCount_) return;
  rows_[ARow].reset();
  if (EditorMode() && ARow == current_.Y) SetCells(current_.X, ARow, QString());
  InvalidateRow(ARow);
}

void TStringGrid::ClearCol(int ACol) {
  if (ACol < 0 || ACol >= colCount_) return;
  for (auto& row : rows_) {
    if (!row) continue;
    if (ACol < static_cast<int>(row->texts.size())) row->texts[ACol].clear();
    if (ACol < static_cast<int>(row->objects.size())) row->objects[ACol] = QVariant();
  }
  if (EditorMode() && ACol == current_.X) SetCells(ACol, current_.Y, QString());
  InvalidateGrid();
}

int TStringGrid::IndexOfInCol(int ACol, const QString& S) const {
  if (ACol < 0 || ACol >= colCount_) return -1;
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  for (int r = 0; r < rowCount_; ++r)
    if (collator.compare(Cells(ACol, r), S) == 0) return r;
  return -1;
}

int TStringGrid::IndexOfInRow(int ARow, const QString& S) const {
  if (ARow < 0 || ARow >= rowCount_) return -1;
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  for (int c = 0; c < colCount_; ++c)
    if (collator.compare(Cells(c, ARow), S) == 0) return c;
  return -1;
}

TStringGrid::CellRow& TStringGrid::RowData(int ARow) {
  if (!rows_[ARow]) rows_[ARow] = std::make_unique<CellRow>();
  return *rows_[ARow];
}

// ---- dimensions ----

void TStringGrid::SetColCount(int Value) {
  Value = std::max(1, Value);
  if (Value != colCount_) ChangeSize(Value, rowCount_);
}

void TStringGrid::SetRowCount(int Value) {
  Value = std::max(1, Value);
  if (Value != rowCount_) ChangeSize(colCount_, Value);
}

void TStringGrid::ChangeSize(int newColCount, int newRowCount) {
  marks_.clear();
  const int oldColCount = colCount_;
  const int oldRowCount = rowCount_;
  fixedCols_ = std::min(fixedCols_, newColCount - 1);
  fixedRows_ = std::min(fixedRows_, newRowCount - 1);
  colWidths_.resize(newColCount, defaultColWidth_);
  rows_.resize(newRowCount);
  if (newColCount < oldColCount) {
    // Cut texts off at the new edge, so that widening again shows empty cells.
    for (auto& row : rows_) {
      if (!row) continue;
      if (static_cast<int>(row->texts.size()) > newColCount) row->texts.resize(newColCount);
      if (static_cast<int>(row->objects.size()) > newColCount) row->objects.resize(newColCount);
    }
  }
  colCount_ = newColCount;
  rowCount_ = newRowCount;
  ClampCurrent();
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
  SizeChanged(oldColCount, oldRowCount);
}

void TStringGrid::SetFixedCols(int Value) {
  if (Value < 0 || Value >= colCount_ || Value == fixedCols_) return;
  fixedCols_ = Value;
  ClampCurrent();
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
}

void TStringGrid::SetFixedRows(int Value) {
  if (Value < 0 || Value >= rowCount_ || Value == fixedRows_) return;
  fixedRows_ = Value;
  ClampCurrent();
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
}

void TStringGrid::SetDefaultColWidth(int Value) {
  if (Value < 0 || Value == defaultColWidth_) return;
  defaultColWidth_ = Value;
  colWidths_.assign(colCount_, Value);
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
  ColWidthsChanged();
}

void TStringGrid::SetDefaultRowHeight(int Value) {
  if (Value < 1 || Value == defaultRowHeight_) return;
  defaultRowHeight_ = Value;
  ClampCurrent();
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
  RowHeightsChanged();
}

int TStringGrid::ColWidths(int ACol) const {
  return (ACol >= 0 && ACol < colCount_) ? colWidths_[ACol] : 0;
}

void TStringGrid::SetColWidths(int ACol, int Value) {
  if (ACol < 0 || ACol >= colCount_ || Value < 0 || colWidths_[ACol] == Value) return;
  colWidths_[ACol] = Value;
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
  ColWidthsChanged();
}

// ---- current cell, selection, scrolling ----

void TStringGrid::SetCol(int Value) { FocusCell(Value, current_.Y, true); }
void TStringGrid::SetRow(int Value) { FocusCell(current_.X, Value, true); }

void TStringGrid::FocusCell(int ACol, int ARow, bool MoveAnchor) {
  MoveCurrent(ACol, ARow, MoveAnchor, true);
  Click();
}

bool TStringGrid::MoveCurrent(int ACol, int ARow, bool MoveAnchor, bool Show) {
  if (ACol < fixedCols_ || ACol >= colCount_ || ARow < fixedRows_ || ARow >= rowCount_) return false;
  if (!SelectCell(ACol, ARow)) return false;
  const TGridCoord old = current_;
  if (!keepMarks_ && !marks_.empty()) marks_.clear();
  const bool rowSelect = options_.Contains(TGridOption::goRowSelect);
  current_ = {rowSelect ? fixedCols_ : ACol, ARow};
  if (MoveAnchor || !options_.Contains(TGridOption::goRangeSelect)) anchor_ = current_;
  if (Show) ScrollIntoView(ACol, ARow);
  if (EditorMode() && !(current_ == old)) {
    if (options_.Contains(TGridOption::goAlwaysShowEditor)) {
      auto* edit = editor_;
      editorOriginal_ = Cells(current_.X, current_.Y);
      edit->setText(editorOriginal_);
      edit->selectAll();
      UpdateEditorGeometry();
    } else {
      HideEditor();
    }
  }
  viewport()->update();
  return true;
}

TGridRect TStringGrid::Selection() const {
  TGridRect r{std::min(anchor_.X, current_.X), std::min(anchor_.Y, current_.Y),
              std::max(anchor_.X, current_.X), std::max(anchor_.Y, current_.Y)};
  if (options_.Contains(TGridOption::goRowSelect)) {
    r.Left = fixedCols_;
    r.Right = colCount_ - 1;
  }
  return r;
}

bool TStringGrid::RowSelected(int ARow) const {
  if (!marks_.empty()) return std::binary_search(marks_.begin(), marks_.end(), ARow);
  const TGridRect r = Selection();
  return ARow >= r.Top && ARow <= r.Bottom;
}

std::vector<int> TStringGrid::SelectedRows() const {
  if (!marks_.empty()) return marks_;
  std::vector<int> rows;
  const TGridRect r = Selection();
  for (int row = std::max(r.Top, fixedRows_); row <= r.Bottom && row < rowCount_; ++row) rows.push_back(row);
  return rows;
}

void TStringGrid::ToggleRowMark(int ARow) {
  if (ARow < fixedRows_ || ARow >= rowCount_) return;
  std::vector<int> marks = SelectedRows();
  const auto at = std::lower_bound(marks.begin(), marks.end(), ARow);
  if (at != marks.end() && *at == ARow)
    marks.erase(at);
  else
    marks.insert(at, ARow);
  // The current cell follows the click; the marks keep the rest of the selection.
  keepMarks_ = true;
  MoveCurrent(current_.X, ARow, true, true);
  keepMarks_ = false;
  marks_ = std::move(marks);
  viewport()->update();
}

void TStringGrid::SetSelection(const TGridRect& Value) {
  if (!MoveCurrent(Value.Left, Value.Top, true, true)) return;
  if (options_.Contains(TGridOption::goRangeSelect)) {
    anchor_ = {std::clamp(Value.Right, fixedCols_, colCount_ - 1), std::clamp(Value.Bottom, fixedRows_, rowCount_ - 1)};
    viewport()->update();
  }
}

void TStringGrid::SetTopRow(int Value) {
  Value = std::clamp(Value, fixedRows_, MaxTopRow());
  if (Value == topRow_) return;
  topRow_ = Value;
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
}

void TStringGrid::SetLeftCol(int Value) {
  Value = std::clamp(Value, fixedCols_, MaxLeftCol());
  if (Value == leftCol_) return;
  leftCol_ = Value;
  UpdateScrollRange();
  UpdateEditorGeometry();
  viewport()->update();
}

int TStringGrid::VisibleRowCount() const {
  const int fit = std::max(0, (viewport()->height() - FixedHeight()) / (defaultRowHeight_ + 1));
  return std::min(fit, rowCount_ - topRow_);
}

int TStringGrid::VisibleColCount() const {
  int x = FixedWidth();
  int n = 0;
  for (int c = leftCol_; c < colCount_; ++c) {
    x += colWidths_[c] + 1;
    if (x > viewport()->width()) break;
    ++n;
  }
  return n;
}

void TStringGrid::SetScrollBars(TScrollStyle Value) {
  if (Value == scrollBars_) return;
  scrollBars_ = Value;
  UpdateScrollRange();
}

int TStringGrid::MaxTopRow() const {
  const int fit = std::max(1, (viewport()->height() - FixedHeight()) / (defaultRowHeight_ + 1));
  return std::max(fixedRows_, rowCount_ - fit);
}

int TStringGrid::MaxLeftCol() const {
  const int avail = viewport()->width() - FixedWidth();
  int used = 0;
  int c = colCount_ - 1;
  while (c > fixedCols_ && used + colWidths_[c] + 1 + colWidths_[c - 1] + 1 <= avail) {
    used += colWidths_[c] + 1;
    --c;
  }
  return std::max(fixedCols_, c);
}

int TStringGrid::FixedWidth() const {
  int w = 0;
  for (int c = 0; c < fixedCols_; ++c) w += colWidths_[c] + 1;
  return w;
}

int TStringGrid::FixedHeight() const { return fixedRows_ * (defaultRowHeight_ + 1); }

void TStringGrid::ClampCurrent() {
  current_.X = std::clamp(current_.X, fixedCols_, colCount_ - 1);
  current_.Y = std::clamp(current_.Y, fixedRows_, rowCount_ - 1);
  if (options_.Contains(TGridOption::goRowSelect)) current_.X = fixedCols_;
  anchor_.X = std::clamp(anchor_.X, fixedCols_, colCount_ - 1);
  anchor_.Y = std::clamp(anchor_.Y, fixedRows_, rowCount_ - 1);
  topRow_ = std::clamp(topRow_, fixedRows_, MaxTopRow());
  leftCol_ = std::clamp(leftCol_, fixedCols_, MaxLeftCol());
}

void TStringGrid::ScrollIntoView(int ACol, int ARow) {
  int top = topRow_;
  if (ARow >= fixedRows_ && ARow < rowCount_) {
    const int fit = std::max(1, (viewport()->height() - FixedHeight()) / (defaultRowHeight_ + 1));
    if (ARow < top) top = ARow;
    else if (ARow >= top + fit) top = ARow - fit + 1;
  }
  int left = leftCol_;
  if (ACol >= fixedCols_ && ACol < colCount_) {
    if (ACol < left) {
      left = ACol;
    } else {
      const int avail = viewport()->width() - FixedWidth();
      auto span = [&](int from) {
        int w = 0;
        for (int c = from; c <= ACol; ++c) w += colWidths_[c] + 1;
        return w;
      };
      while (left < ACol && span(left) > avail) ++left;
    }
  }
  top = std::clamp(top, fixedRows_, MaxTopRow());
  left = std::clamp(left, fixedCols_, std::max(MaxLeftCol(), left));
  if (top != topRow_ || left != leftCol_) {
    topRow_ = top;
    leftCol_ = left;
    UpdateScrollRange();
    UpdateEditorGeometry();
    viewport()->update();
  }
}

void TStringGrid::UpdateScrollRange() {
  updatingScroll_ = true;
  const bool vert = scrollBars_ == TScrollStyle::ssVertical || scrollBars_ == TScrollStyle::ssBoth;
  const bool horz = scrollBars_ == TScrollStyle::ssHorizontal || scrollBars_ == TScrollStyle::ssBoth;
  setVerticalScrollBarPolicy(vert ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(horz ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, MaxTopRow() - fixedRows_);
  v->setSingleStep(1);
  v->setPageStep(std::max(1, VisibleRowCount()));
  v->setValue(topRow_ - fixedRows_);
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, MaxLeftCol() - fixedCols_);
  h->setSingleStep(1);
  h->setPageStep(std::max(1, VisibleColCount()));
  h->setValue(leftCol_ - fixedCols_);
  updatingScroll_ = false;
  ScrollRangeChanged();
}

void TStringGrid::scrollContentsBy(int, int) {
  if (updatingScroll_) return;
  topRow_ = std::clamp(fixedRows_ + verticalScrollBar()->value(), fixedRows_, rowCount_ - 1);
  leftCol_ = std::clamp(fixedCols_ + horizontalScrollBar()->value(), fixedCols_, colCount_ - 1);
  UpdateEditorGeometry();
  viewport()->update();
}

// ---- geometry ----

int TStringGrid::ColumnLeft(int ACol) const {
  if (ACol < 0 || ACol >= colCount_) return -1;
  int x = 0;
  if (ACol < fixedCols_) {
    for (int c = 0; c < ACol; ++c) x += colWidths_[c] + 1;
    return x;
  }
  if (ACol < leftCol_) return -1;
  x = FixedWidth();
  for (int c = leftCol_; c < ACol; ++c) {
    x += colWidths_[c] + 1;
    if (x > viewport()->width()) return -1;
  }
  return x;
}

QRect TStringGrid::CellRect(int ACol, int ARow) const {
  if (ARow < 0 || ARow >= rowCount_) return {};
  const int x = ColumnLeft(ACol);
  if (x < 0 || x >= viewport()->width()) return {};
  int y;
  if (ARow < fixedRows_) y = ARow * (defaultRowHeight_ + 1);
  else if (ARow < topRow_) return {};
  else y = FixedHeight() + (ARow - topRow_) * (defaultRowHeight_ + 1);
  if (y >= viewport()->height()) return {};
  return QRect(x, y, colWidths_[ACol], defaultRowHeight_);
}

TGridCoord TStringGrid::MouseCoord(int X, int Y) const {
  TGridCoord result{-1, -1};
  int x = 0;
  for (int c = 0; c < colCount_ && x <= X; ++c) {
    if (c == fixedCols_) {
      c = leftCol_;
    }
    const int w = colWidths_[c] + 1;
    if (X >= x && X < x + w) {
      result.X = c;
      break;
    }
    x += w;
  }
  const int h = defaultRowHeight_ + 1;
  if (Y >= 0) {
    if (Y < FixedHeight()) {
      result.Y = Y / h;
    } else {
      const int r = topRow_ + (Y - FixedHeight()) / h;
      if (r < rowCount_) result.Y = r;
    }
  }
  return result;
}

void TStringGrid::InvalidateCell(int ACol, int ARow) {
  const QRect r = CellRect(ACol, ARow);
  if (!r.isEmpty()) viewport()->update(r.adjusted(-1, -1, 1, 1));
}

void TStringGrid::InvalidateRow(int ARow) {
  if (ARow < 0 || ARow >= rowCount_) return;
  int y;
  if (ARow < fixedRows_) y = ARow * (defaultRowHeight_ + 1);
  else if (ARow < topRow_) return;
  else y = FixedHeight() + (ARow - topRow_) * (defaultRowHeight_ + 1);
  if (y < viewport()->height()) viewport()->update(0, y - 1, viewport()->width(), defaultRowHeight_ + 2);
}

void TStringGrid::InvalidateGrid() { viewport()->update(); }

// ---- rows and columns ----

void TStringGrid::RearrangeRows(int First, const std::vector<int>& Sources) {
  // Follow the permutation's cycles, moving each row once, with no scratch copy.
  const int n = static_cast<int>(Sources.size());
  std::vector<bool> done(n, false);
  for (int start = 0; start < n; ++start) {
    if (done[start]) continue;
    std::unique_ptr<CellRow> carried = std::move(rows_[First + start]);
    int at = start;
    for (;;) {
      done[at] = true;
      const int from = Sources[at] - First;
      if (from == start) break;
      rows_[First + at] = std::move(rows_[First + from]);
      at = from;
    }
    rows_[First + at] = std::move(carried);
  }
  if (!marks_.empty()) {
    std::vector<int> where(n, -1);  // new place of each moved row
    for (int i = 0; i < n; ++i) where[Sources[i] - First] = First + i;
    for (int& row : marks_)
      if (row >= First && row < First + n) row = where[row - First];
    std::sort(marks_.begin(), marks_.end());
  }
  if (EditorMode()) editor_->setText(Cells(current_.X, current_.Y));
  viewport()->update();
}

void TStringGrid::MoveRowData(int from, int to) {
  marks_.clear();
  if (from < to) std::rotate(rows_.begin() + from, rows_.begin() + from + 1, rows_.begin() + to + 1);
  else std::rotate(rows_.begin() + to, rows_.begin() + from, rows_.begin() + from + 1);
  MoveAdjust(current_.Y, from, to);
  MoveAdjust(anchor_.Y, from, to);
  ClampCurrent();
}

void TStringGrid::MoveColumnData(int from, int to) {
  const int lo = std::min(from, to);
  const int hi = std::max(from, to);
  auto move = [&](auto& cells) {
    if (static_cast<int>(cells.size()) <= lo) return;
    if (static_cast<int>(cells.size()) <= hi) cells.resize(hi + 1);
    if (from < to) std::rotate(cells.begin() + from, cells.begin() + from + 1, cells.begin() + to + 1);
    else std::rotate(cells.begin() + to, cells.begin() + from, cells.begin() + from + 1);
  };
  for (auto& row : rows_) {
    if (!row) continue;
    move(row->texts);
    move(row->objects);
  }
  move(colWidths_);
  MoveAdjust(current_.X, from, to);
  MoveAdjust(anchor_.X, from, to);
  ClampCurrent();
}

void TStringGrid::MoveRow(int FromIndex, int ToIndex) {
  if (FromIndex < 0 || FromIndex >= rowCount_ || ToIndex < 0 || ToIndex >= rowCount_ || FromIndex == ToIndex) return;
  MoveRowData(FromIndex, ToIndex);
  if (EditorMode()) editor_->setText(Cells(current_.X, current_.Y));
  viewport()->update();
}

void TStringGrid::MoveColumn(int FromIndex, int ToIndex) {
  if (FromIndex < 0 || FromIndex >= colCount_ || ToIndex < 0 || ToIndex >= colCount_ || FromIndex == ToIndex) return;
  MoveColumnData(FromIndex, ToIndex);
  UpdateScrollRange();
  UpdateEditorGeometry();
  if (EditorMode()) editor_->setText(Cells(current_.X, current_.Y));
  viewport()->update();
  ColWidthsChanged();
}

void TStringGrid::DeleteRow(int ARow) {
  if (ARow < 0 || ARow >= rowCount_) return;
  // The current cell keeps its place when its own row goes, rather than chase it.
  const bool wasCurrent = current_.Y == ARow;
  if (ARow != rowCount_ - 1) MoveRowData(ARow, rowCount_ - 1);
  if (wasCurrent) current_.Y = anchor_.Y = ARow;
  rows_[rowCount_ - 1].reset();
  if (rowCount_ > 1) SetRowCount(rowCount_ - 1);
  else viewport()->update();
}

void TStringGrid::DeleteColumn(int ACol) {
  if (ACol < 0 || ACol >= colCount_) return;
  const bool wasCurrent = current_.X == ACol;
  if (ACol != colCount_ - 1) MoveColumnData(ACol, colCount_ - 1);
  if (wasCurrent) current_.X = anchor_.X = ACol;
  for (auto& row : rows_) {
    if (!row) continue;
    if (static_cast<int>(row->texts.size()) >= colCount_) row->texts.resize(colCount_ - 1);
    if (static_cast<int>(row->objects.size()) >= colCount_) row->objects.resize(colCount_ - 1);
  }
  if (colCount_ > 1) SetColCount(colCount_ - 1);
  else viewport()->update();
}

// ---- options, appearance ----

void TStringGrid::SetOptions(TGridOptions Value) {
  if (Value == options_) return;
  const bool wasAlways = options_.Contains(TGridOption::goAlwaysShowEditor);
  options_ = Value;
  const bool always = options_.Contains(TGridOption::goAlwaysShowEditor);
  if (!options_.Contains(TGridOption::goEditing) || (wasAlways && !always)) HideEditor();
  else if (always && !wasAlways && Focused()) ShowEditor();
  ClampCurrent();
  if (!options_.Contains(TGridOption::goRangeSelect)) anchor_ = current_;
  viewport()->update();
}

void TStringGrid::SetDefaultDrawing(bool Value) {
  defaultDrawing_ = Value;
  viewport()->update();
}

TFont TStringGrid::Font() const { return TFont(font(), palette().color(QPalette::Text)); }

void TStringGrid::SetFont(const TFont& Value) {
  setFont(Value);
  QPalette p = palette();
  p.setColor(QPalette::Text, Value.Color());
  setPalette(p);
  viewport()->update();
}

QColor TStringGrid::Color() const { return palette().color(QPalette::Base); }
QColor TStringGrid::FixedColor() const { return palette().color(QPalette::Button); }

// ---- default hooks ----

bool TStringGrid::SelectCell(int ACol, int ARow) {
  bool canSelect = true;
  if (OnSelectCell) OnSelectCell(this, ACol, ARow, canSelect);
  return canSelect;
}

void TStringGrid::Click() {
  if (OnClick) OnClick(this);
}

void TStringGrid::ColWidthsChanged() {}
void TStringGrid::RowHeightsChanged() {}
void TStringGrid::SizeChanged(int, int) {}
void TStringGrid::Resize() {}
void TStringGrid::MouseEnter() {}
void TStringGrid::MouseLeave() {}
void TStringGrid::ScrollRangeChanged() {}

void TStringGrid::SetEditText(int ACol, int ARow, const QString& Value) { SetCells(ACol, ARow, Value); }

void TStringGrid::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  ClampCurrent();
  UpdateScrollRange();
  UpdateEditorGeometry();
  Resize();
}
