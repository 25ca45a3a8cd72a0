// TSortGrid: construction, properties and the string grid's notifications.

#include "SortGrid.h"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>

TSortGrid::TSortGrid(QWidget* parent) : TStringGrid(parent) {
  footerFont_ = TFont(QGuiApplication::font(), QGuiApplication::palette().color(QPalette::Text));
  RememberCell();
}

TSortGrid::~TSortGrid() = default;

void TSortGrid::SetAlignmentHorz(TAlignment Value) {
  alignmentHorz_ = Value;
  InvalidateGrid();
}

void TSortGrid::SetAlignmentVert(TVertAlignment Value) {
  alignmentVert_ = Value;
  InvalidateGrid();
}

void TSortGrid::SetBevelStyle(TCellBevelStyle Value) {
  bevelStyle_ = Value;
  InvalidateGrid();
}

void TSortGrid::SetProportionalScrollBars(bool Value) {
  proportionalScrollBars_ = Value;
  UpdateScrollPage();
}

void TSortGrid::SetSortSymbol(TSortSymbol Value) {
  if (Value == sortSymbol_) return;
  sortSymbol_ = Value;
  UpdateSortSymbol();
  InvalidateRow(0);
}

void TSortGrid::SetSortSpacingHor(int Value) {
  if (Value == sortSpacingHor_) return;
  sortSpacingHor_ = Value;
  InvalidateRow(0);
}

void TSortGrid::SetSortSpacingVert(int Value) {
  if (Value == sortSpacingVert_) return;
  sortSpacingVert_ = Value;
  InvalidateRow(0);
}

void TSortGrid::SetSortDirection(TSortDirection Value) {
  if (Value == sortDirection_) return;
  sortDirection_ = Value;
  UpdateSortSymbol();
  InvalidateRow(0);
}

void TSortGrid::SetSortBitMapA(const QImage& Value) {
  if (&Value == &sortBitMapA_) return;
  sortBitMapA_ = Value.copy();
  UpdateSortSymbol();
  InvalidateRow(0);
}

void TSortGrid::SetSortBitMapD(const QImage& Value) {
  if (&Value == &sortBitMapD_) return;
  sortBitMapD_ = Value.copy();
  UpdateSortSymbol();
  InvalidateRow(0);
}

void TSortGrid::SetSortColumn(int Value) {
  if (Value == sortColumn_ || Value < 0 || Value >= ColCount()) return;
  sortColumn_ = Value;
  InvalidateRow(0);
}

void TSortGrid::SetSortOnClick(bool Value) {
  if (Value == sortOnClick_) return;
  sortOnClick_ = Value;
  InvalidateRow(0);
}

void TSortGrid::SetSortFooter(bool Value) {
  sortFooter_ = Value;
  unsortedFooterRows_ = sortFooter_ ? 0 : footerRows_;
}

void TSortGrid::RepaintFooterRows(int count) {
  for (int i = 0; i < count; ++i) InvalidateRow(RowCount() - 1 - i);
}

void TSortGrid::SetFooterRows(int Value) {
  if (Value >= 0 && Value <= RowCount() - FixedRows() && Value != footerRows_) {
    RepaintFooterRows(std::max(footerRows_, Value));
    footerRows_ = Value;
  }
  if (!sortFooter_) unsortedFooterRows_ = footerRows_;
}

void TSortGrid::SetFooterColor(QColor Value) {
  if (Value == footerColor_) return;
  footerColor_ = Value;
  RepaintFooterRows(footerRows_);
}

void TSortGrid::SetFooterFont(const TFont& Value) {
  if (&Value == &footerFont_) return;
  footerFont_ = Value;
  RepaintFooterRows(footerRows_);
}

void TSortGrid::SetFooterBevelStyle(TCellBevelStyle Value) {
  if (Value == footerBevelStyle_) return;
  footerBevelStyle_ = Value;
  RepaintFooterRows(footerRows_);
}

// ---- notifications of the string grid ----

bool TSortGrid::SelectCell(int ACol, int ARow) { return TStringGrid::SelectCell(ACol, ARow); }

void TSortGrid::ColWidthsChanged() {
  TStringGrid::ColWidthsChanged();
  if (OnColumnWidthsChanged) OnColumnWidthsChanged(this);
  UpdateScrollPage();
}

void TSortGrid::RowHeightsChanged() {
  TStringGrid::RowHeightsChanged();
  if (OnRowHeightsChanged) OnRowHeightsChanged(this);
  UpdateScrollPage();
}

void TSortGrid::SizeChanged(int OldColCount, int OldRowCount) {
  TStringGrid::SizeChanged(OldColCount, OldRowCount);
  if (OnSizeChanged) OnSizeChanged(this, OldColCount, OldRowCount);
  UpdateScrollPage();
}

void TSortGrid::Resize() {
  TStringGrid::Resize();
  UpdateScrollPage();
}

void TSortGrid::ScrollRangeChanged() {
  TStringGrid::ScrollRangeChanged();
  UpdateScrollPage();
}

void TSortGrid::MouseEnter() {
  TStringGrid::MouseEnter();
  if (OnMouseEnter) OnMouseEnter(this);
}

void TSortGrid::MouseLeave() {
  TStringGrid::MouseLeave();
  if (OnMouseLeave) OnMouseLeave(this);
}
