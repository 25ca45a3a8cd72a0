#pragma once
// TStringGrid: a table of texts with fixed (header) rows at the top and fixed columns at
// the left that stay in place while the rest scrolls, a current cell, a selection, an
// in-place editor and keyboard navigation. It paints only the cells in view, so its cost
// does not grow with the number of rows. TSortGrid builds on the hooks it offers.

#include <QAbstractScrollArea>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "GridCanvas.h"
#include "GridTypes.h"

class QLineEdit;
class TInplaceEdit;
class TStringGrid;

using TSelectCellEvent = std::function<void(TStringGrid* Sender, int ACol, int ARow, bool& CanSelect)>;
using TDrawCellEvent =
    std::function<void(TStringGrid* Sender, int ACol, int ARow, const QRect& ARect, TGridDrawState AState)>;
using TGridNotifyEvent = std::function<void(TStringGrid* Sender)>;

class TStringGrid : public QAbstractScrollArea {
 public:
  explicit TStringGrid(QWidget* parent = nullptr);
  ~TStringGrid() override;

  // ---- cells ----
  // A cell that was never written reads as an empty text; indices outside the grid read
  // as empty and are ignored when written.
  QString Cells(int ACol, int ARow) const;
  void SetCells(int ACol, int ARow, const QString& Value);
  // One object per cell, moved with its cell's text by every row and column operation.
  QVariant Objects(int ACol, int ARow) const;
  void SetObjects(int ACol, int ARow, const QVariant& Value);
  QStringList Rows(int ARow) const;
  // The texts fill the row from column 0; cells beyond the list are emptied.
  void SetRows(int ARow, const QStringList& Value);
  QStringList Cols(int ACol) const;
  void SetCols(int ACol, const QStringList& Value);
  // Row `To` takes texts and objects of row `From`.
  void CopyRow(int From, int To);
  void ClearRow(int ARow);
  void ClearCol(int ACol);
  // First row (column) holding a text equal to S ignoring case by the locale's rules; -1.
  int IndexOfInCol(int ACol, const QString& S) const;
  int IndexOfInRow(int ARow, const QString& S) const;

  // ---- dimensions ----
  int ColCount() const { return colCount_; }
  // At least 1; FixedCols is lowered when it would leave no scrolling column.
  void SetColCount(int Value);
  int RowCount() const { return rowCount_; }
  void SetRowCount(int Value);
  int FixedCols() const { return fixedCols_; }
  // Values that would leave no scrolling column (row) are ignored.
  void SetFixedCols(int Value);
  int FixedRows() const { return fixedRows_; }
  void SetFixedRows(int Value);
  int DefaultColWidth() const { return defaultColWidth_; }
  void SetDefaultColWidth(int Value);
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(int Value);
  int ColWidths(int ACol) const;
  void SetColWidths(int ACol, int Value);
  int RowHeights(int) const { return defaultRowHeight_; }
  int GridLineWidth() const { return 1; }

  // ---- current cell, selection, scrolling ----
  int Col() const { return current_.X; }
  void SetCol(int Value);
  int Row() const { return current_.Y; }
  void SetRow(int Value);
  TGridRect Selection() const;
  void SetSelection(const TGridRect& Value);
  // Rows picked one by one (Ctrl+click with whole-row range selection). While any row is
  // marked, the marked rows are the selection; any other move of the current cell, or a
  // new selection, clears the marks.
  bool RowSelected(int ARow) const;
  std::vector<int> SelectedRows() const;
  // Adds the row to the selection, or takes it out when it is in.
  void ToggleRowMark(int ARow);
  bool HasRowMarks() const { return !marks_.empty(); }
  int TopRow() const { return topRow_; }
  void SetTopRow(int Value);
  int LeftCol() const { return leftCol_; }
  void SetLeftCol(int Value);
  // Scrolling columns (rows) wholly in view from LeftCol (TopRow).
  int VisibleColCount() const;
  int VisibleRowCount() const;
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle Value);

  // ---- options and state ----
  TGridOptions Options() const { return options_; }
  void SetOptions(TGridOptions Value);
  bool DefaultDrawing() const { return defaultDrawing_; }
  void SetDefaultDrawing(bool Value);
  TGridState GridState() const { return gridState_; }
  bool EditorMode() const;
  void SetEditorMode(bool Value);
  // The in-place editor, or null before it was first shown.
  QLineEdit* InplaceEditor() const;
  // True while the input focus is on the grid or its editor.
  bool Focused() const;

  // ---- appearance ----
  TFont Font() const;
  void SetFont(const TFont& Value);
  QColor Color() const;
  QColor FixedColor() const;
  TCanvas& Canvas() { return canvas_; }

  // ---- geometry ----
  // Column and row under a point of the viewport; -1 where there is none.
  TGridCoord MouseCoord(int X, int Y) const;
  // The cell's rectangle in viewport coordinates (empty when it is out of view).
  QRect CellRect(int ACol, int ARow) const;
  void InvalidateCell(int ACol, int ARow);
  void InvalidateRow(int ARow);
  void InvalidateGrid();

  // ---- rows and columns ----
  // Moving shifts the rows (columns) between by one; deleting moves the row (column) to
  // the end and lowers the count. Indices outside the grid do nothing.
  virtual void MoveColumn(int FromIndex, int ToIndex);
  virtual void MoveRow(int FromIndex, int ToIndex);
  virtual void DeleteColumn(int ACol);
  virtual void DeleteRow(int ARow);

  // Makes (ACol, ARow) current if the cell-selection check allows it, then notifies Click.
  void FocusCell(int ACol, int ARow, bool MoveAnchor);

  // ---- events ----
  TSelectCellEvent OnSelectCell;
  TDrawCellEvent OnDrawCell;
  TGridNotifyEvent OnClick;

 protected:
  // ---- hooks for descendants ----
  virtual void DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState);
  virtual bool SelectCell(int ACol, int ARow);
  virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, Qt::MouseButtons Held, QPoint Pos);
  virtual void MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, Qt::MouseButtons Held, QPoint Pos);
  // Key is the Qt key code; a handler may set it to 0 to consume it.
  virtual void KeyDown(int& Key, Qt::KeyboardModifiers Shift);
  // A typed character; 0 consumes it.
  virtual void KeyPress(QChar& Key);
  // The in-place editor stores its text into the cell.
  virtual void SetEditText(int ACol, int ARow, const QString& Value);
  // Follows every change of the current cell.
  virtual void Click();
  virtual void DoEnter();
  virtual void DoExit();
  virtual void ColWidthsChanged();
  virtual void RowHeightsChanged();
  virtual void SizeChanged(int OldColCount, int OldRowCount);
  virtual void Resize();
  virtual void MouseEnter();
  virtual void MouseLeave();
  // The scroll bars' range was recomputed.
  virtual void ScrollRangeChanged();
  // How the current cell's text is placed, for the in-place editor to match: left, right
  // or centred; top, bottom or middle.
  virtual Qt::Alignment EditorAlignment() const;

  // Row First + i takes the content of row Sources[i]; Sources is a permutation of
  // First .. First + size - 1.
  void RearrangeRows(int First, const std::vector<int>& Sources);
  // Makes a scrolling cell current if the cell-selection check allows it, without the
  // Click notification; false when refused or outside the scrolling cells.
  bool MoveCurrent(int ACol, int ARow, bool MoveAnchor, bool Show);
  void ShowEditor(const QString* initialText = nullptr);
  void HideEditor();
  TGridDrawState DrawStateOf(int ACol, int ARow) const;
  // Set while the current cell follows rows that moved: the picked rows stay picked.
  bool keepMarks_ = false;

  // ---- Qt event plumbing ----
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  bool focusNextPrevChild(bool next) override;

 private:
  friend class TInplaceEdit;
  struct CellRow {
    std::vector<QString> texts;
    std::vector<QVariant> objects;
  };

  CellRow& RowData(int ARow);
  void ChangeSize(int newColCount, int newRowCount);
  void MoveRowData(int from, int to);
  void MoveColumnData(int from, int to);
  void UpdateScrollRange();
  void ScrollIntoView(int ACol, int ARow);
  int MaxTopRow() const;
  int MaxLeftCol() const;
  int FixedWidth() const;
  int FixedHeight() const;
  int ColumnLeft(int ACol) const;  // viewport x of a column in view, or -1
  void ClampCurrent();
  void UpdateEditorGeometry();
  void HandleKey(QKeyEvent* e);
  void FocusEntered();
  void FocusLeft(Qt::FocusReason reason);
  int SizingColumnAt(QPoint p) const;
  void PaintCell(QPainter& painter, int ACol, int ARow, const QRect& rect);

  std::vector<int> marks_;  // sorted rows picked one by one
  // One pointer per row, null while the row is empty: rows are cheap to create and to
  // move around, which sorting does with all of them.
  std::vector<std::unique_ptr<CellRow>> rows_;
  std::vector<int> colWidths_;
  int colCount_ = 5;
  int rowCount_ = 5;
  int fixedCols_ = 1;
  int fixedRows_ = 1;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  TGridCoord current_{1, 1};
  TGridCoord anchor_{1, 1};
  int topRow_ = 1;
  int leftCol_ = 1;
  TScrollStyle scrollBars_ = TScrollStyle::ssBoth;
  TGridOptions options_{TGridOption::goFixedVertLine, TGridOption::goFixedHorzLine, TGridOption::goVertLine,
                        TGridOption::goHorzLine, TGridOption::goRangeSelect};
  bool defaultDrawing_ = true;
  TGridState gridState_ = TGridState::gsNormal;
  int sizingCol_ = -1;
  int sizingOrigin_ = 0;
  int sizingStartWidth_ = 0;
  bool inside_ = false;
  bool updatingScroll_ = false;
  QString editorOriginal_;
  QLineEdit* editor_ = nullptr;
  TCanvas canvas_;
};
