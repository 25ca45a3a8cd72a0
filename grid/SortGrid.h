#pragma once
// TSortGrid: a string grid that sorts its rows by one column on a header click or on
// request (text, number, date-time or time comparison chosen from the column's texts;
// stable; footer rows kept in place; the last sort can be undone), draws its cells
// through a per-cell format event with sort symbols and footer rows, and offers row and
// column operations, cell validation, search and loading and saving as text.
//
// Typical use for a table with a totals row:
//   grid.SetFixedRows(1); grid.SetRowCount(1 + n + 1); grid.SetFooterRows(1);
//   ... SetCells(col, row, text) ...
//   grid.SortByColumn(grid.SortColumn());   // detect, ascending; OnEndSort fills totals

#include <QImage>
#include <functional>
#include <stdexcept>
#include <vector>

#include "StringGrid.h"

class TSortGrid;

enum class TSortDirection { sdAscending, sdDescending };
enum class TSortSymbol { sgNone, sgArrow, sgGlyph, sgCustom };
enum class TCellBevelStyle { cbNone, cbRaised, cbLowered };
enum class TVertAlignment { taTopJustify, taBottomJustify, taMiddle };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TSortStyle { ssAutomatic, ssAlphabetic, ssNumeric, ssDateTime, ssTime, ssCustom };

// Negative, 0 or positive as the first text sorts before, with or after the second.
using TSortCompare = std::function<int(const QString& First, const QString& Second)>;

// The options of one sort. A default-constructed value means: detect the kind,
// ascending, not case sensitive, no function.
struct TSortOptions {
  TSortStyle SortStyle = TSortStyle::ssAutomatic;
  TSortDirection SortDirection = TSortDirection::sdAscending;
  bool SortCaseSensitive = false;
  TSortCompare SortCompare;  // used only with ssCustom
};

struct TCellBevel {
  TCellBevelStyle Style = TCellBevelStyle::cbNone;
  QColor UpperLeftColor;
  QColor LowerRightColor;
};

// The format of one cell. Brush and Font are the canvas's own: changing them changes
// how the cell is drawn (or measured).
struct TFormatOptions {
  QBrush* Brush = nullptr;
  TFont* Font = nullptr;
  TAlignment AlignmentHorz = TAlignment::taLeftJustify;
  TVertAlignment AlignmentVert = TVertAlignment::taTopJustify;
  TCellBevel Bevel;
  bool HideText = false;
};

// One remembered row of the last sort.
struct TSortedListEntry {
  QString Str;  // the sort column's text
  int RowNum = 0;  // the row's index before the sort
};
using TSortedList = std::vector<TSortedListEntry>;

// A file that cannot be read or written by LoadFromFile / SaveToFile.
class EGridError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TFormatDrawCellEvent =
    std::function<void(TSortGrid* Sender, int Col, int Row, TGridDrawState State, TFormatOptions& FormatOptions)>;
using TClickSortEvent = std::function<void(TSortGrid* Sender, int Col, int Row, TSortOptions& SortOptions)>;
using TBeginSortEvent = std::function<void(TSortGrid* Sender, int Col, TSortOptions& SortOptions)>;
using TEndSortEvent = std::function<void(TSortGrid* Sender, int Col)>;
using TUpdateGridEvent = std::function<void(TSortGrid* Sender, int Index)>;
using TSortGridNotifyEvent = std::function<void(TSortGrid* Sender)>;
using TSizeChangedEvent = std::function<void(TSortGrid* Sender, int OldColCount, int OldRowCount)>;
using TCellValidateEvent = std::function<void(TSortGrid* Sender, int Col, int Row, QString& Value, bool& Valid)>;

class TSortGrid : public TStringGrid {
 public:
  explicit TSortGrid(QWidget* parent = nullptr);
  ~TSortGrid() override;

  // ---- properties ----
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool Value) { caseSensitive_ = Value; }
  TAlignment AlignmentHorz() const { return alignmentHorz_; }
  void SetAlignmentHorz(TAlignment Value);
  TVertAlignment AlignmentVert() const { return alignmentVert_; }
  void SetAlignmentVert(TVertAlignment Value);
  TCellBevelStyle BevelStyle() const { return bevelStyle_; }
  void SetBevelStyle(TCellBevelStyle Value);
  bool ProportionalScrollBars() const { return proportionalScrollBars_; }
  void SetProportionalScrollBars(bool Value);
  bool ExtendedKeys() const { return extendedKeys_; }
  void SetExtendedKeys(bool Value) { extendedKeys_ = Value; }
  TSortSymbol SortSymbol() const { return sortSymbol_; }
  void SetSortSymbol(TSortSymbol Value);
  int SortSpacingHor() const { return sortSpacingHor_; }
  void SetSortSpacingHor(int Value);
  int SortSpacingVert() const { return sortSpacingVert_; }
  void SetSortSpacingVert(int Value);
  TSortDirection SortDirection() const { return sortDirection_; }
  void SetSortDirection(TSortDirection Value);
  const QImage& SortBitMapA() const { return sortBitMapA_; }
  void SetSortBitMapA(const QImage& Value);
  const QImage& SortBitMapD() const { return sortBitMapD_; }
  void SetSortBitMapD(const QImage& Value);
  int SortColumn() const { return sortColumn_; }
  void SetSortColumn(int Value);
  bool SortOnClick() const { return sortOnClick_; }
  void SetSortOnClick(bool Value);
  bool SortFooter() const { return sortFooter_; }
  void SetSortFooter(bool Value);
  int FooterRows() const { return footerRows_; }
  void SetFooterRows(int Value);
  QColor FooterColor() const { return footerColor_; }
  void SetFooterColor(QColor Value);
  const TFont& FooterFont() const { return footerFont_; }
  void SetFooterFont(const TFont& Value);
  TCellBevelStyle FooterBevelStyle() const { return footerBevelStyle_; }
  void SetFooterBevelStyle(TCellBevelStyle Value);

  // Read-only state: a sort has been done since the rows last moved; a sort is running;
  // a cell was changed through the in-place editor.
  bool Sorted() const { return sorted_; }
  bool Sorting() const { return sorting_; }
  bool Modified() const { return modified_; }
  // True for the last FooterRows rows.
  bool IsFooterRow(int ARow) const { return ARow > RowCount() - 1 - footerRows_ && ARow < RowCount(); }
  // The picture currently drawn as sort symbol (null when none).
  const QImage& SymbolBitmap() const { return symbolBitmap_; }

  // ---- sorting ----
  // Sorts by ACol (nothing for a column outside the grid, while the in-place editor is
  // active, or with fewer than two rows below the fixed rows). Failures of a comparison
  // function or an event handler pass on to the caller.
  virtual void SortByColumn(int ACol, TSortOptions Options = {});
  virtual TSortStyle DetectSortStyle(int ACol);
  virtual bool CanUnsort();
  virtual void Unsort();

  // ---- drawing ----
  virtual void AutoSizeCol(int ACol);
  virtual void AutoSizeColumns(bool IncludeFixed, int ExtraWidth);

  // ---- rows, columns, cells ----
  virtual void InsertRow(int ARow);
  virtual bool InsertRows(int ARow, int Count);
  virtual void InsertColumn(int ACol);
  virtual bool InsertColumns(int ACol, int Count);
  void DeleteRow(int ARow) override;
  virtual bool DeleteRows(int First, int Last);
  void DeleteColumn(int ACol) override;
  virtual bool DeleteColumns(int First, int Last);
  void MoveRow(int FromIndex, int ToIndex) override;
  void MoveColumn(int FromIndex, int ToIndex) override;
  virtual void SwapRows(int ARow1, int ARow2);
  virtual void SwapColumns(int ACol1, int ACol2);
  virtual bool ClearRows(int First, int Last);
  virtual bool ClearColumns(int First, int Last);
  virtual void ClearAll();
  virtual void ClearFrom(int FirstRow);
  virtual void MoveToCell(int ACol, int ARow);
  virtual bool FindCell(const QString& S, int& ACol, int& ARow);
  // Throw EGridError when the file cannot be read (the grid is then left as it was) or
  // written (an existing file of one's own with a single name is then left as it was;
  // FIFOs, devices, hard-linked and other users' files are written in place). Lines
  // load as UTF-8 where valid, else as Latin-1; saving writes UTF-8. A symbolic link
  // is written through to its target.
  virtual void LoadFromFile(const QString& FileName, QChar Separator);
  virtual void SaveToFile(const QString& FileName, QChar Separator);
  virtual void ValidateCell();

  // ---- events ----
  TFormatDrawCellEvent OnGetCellFormat;
  TClickSortEvent OnClickSort;
  TBeginSortEvent OnBeginSort;
  TEndSortEvent OnEndSort;
  TUpdateGridEvent OnRowInsert;
  TUpdateGridEvent OnRowDelete;
  TUpdateGridEvent OnColumnInsert;
  TUpdateGridEvent OnColumnDelete;
  TSortGridNotifyEvent OnColumnWidthsChanged;
  TSortGridNotifyEvent OnRowHeightsChanged;
  TSizeChangedEvent OnSizeChanged;
  TCellValidateEvent OnCellValidate;
  TSortGridNotifyEvent OnMouseEnter;
  TSortGridNotifyEvent OnMouseLeave;

 protected:
  virtual void SortRows(int ACol, const TSortOptions& Options);
  virtual void UpdateScrollPage();
  virtual void RememberCell();
  void InitFormatOptions(int ACol, int ARow, TFormatOptions& FormatOptions);
  void DrawSortSymbol(int X, int Y);
  void UpdateSortSymbol();
  TGridDrawState GetDrawState(int ACol, int ARow) const;

  // ---- hooks of the string grid ----
  void DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) override;
  bool SelectCell(int ACol, int ARow) override;
  void MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, Qt::MouseButtons Held, QPoint Pos) override;
  void KeyDown(int& Key, Qt::KeyboardModifiers Shift) override;
  void KeyPress(QChar& Key) override;
  void SetEditText(int ACol, int ARow, const QString& Value) override;
  void Click() override;
  void DoEnter() override;
  void DoExit() override;
  void ColWidthsChanged() override;
  void RowHeightsChanged() override;
  void SizeChanged(int OldColCount, int OldRowCount) override;
  void Resize() override;
  void MouseEnter() override;
  void MouseLeave() override;
  void ScrollRangeChanged() override;
  Qt::Alignment EditorAlignment() const override;

 private:
  // First and last row that sorting moves (last < first when there is none).
  int SortFirstRow() const { return FixedRows(); }
  int SortLastRow() const { return RowCount() - 1 - unsortedFooterRows_; }
  void RepaintFooterRows(int count);
  void HoldEditorOption();
  void ReleaseEditorOption();
  // Row operations move the remembered cell's data; it follows, so that validation never
  // compares one row's text with another's.
  void RememberedRowMoved(int from, int to);

  bool caseSensitive_ = false;
  TAlignment alignmentHorz_ = TAlignment::taLeftJustify;
  TVertAlignment alignmentVert_ = TVertAlignment::taTopJustify;
  TCellBevelStyle bevelStyle_ = TCellBevelStyle::cbNone;
  bool proportionalScrollBars_ = true;
  bool extendedKeys_ = false;
  TSortSymbol sortSymbol_ = TSortSymbol::sgNone;
  int sortSpacingHor_ = 2;
  int sortSpacingVert_ = 0;
  TSortDirection sortDirection_ = TSortDirection::sdAscending;
  QImage sortBitMapA_;
  QImage sortBitMapD_;
  int sortColumn_ = 1;
  bool sortOnClick_ = true;
  bool sortFooter_ = false;
  int footerRows_ = 0;
  QColor footerColor_{0, 255, 255};
  TFont footerFont_;
  TCellBevelStyle footerBevelStyle_ = TCellBevelStyle::cbNone;

  TSortedList sortedList_;
  int unsortedFooterRows_ = 0;
  QImage symbolBitmap_;
  QColor symbolTransparent_{0, 255, 255};
  int editCol_ = 0;
  int editRow_ = 0;
  QString rememberedText_;
  bool modified_ = false;
  bool savedModified_ = false;
  bool entered_ = false;
  bool editorOptionHeld_ = false;
  bool sorted_ = false;
  bool sorting_ = false;
};
