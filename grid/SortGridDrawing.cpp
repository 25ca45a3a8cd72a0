// TSortGrid: cell drawing through OnGetCellFormat, footer rows, bevels, the sort symbol,
// proportional scroll bars and automatic column widths.

#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "SortGrid.h"
#include "SortSymbols.h"

namespace {

TCellBevel BevelOf(TCellBevelStyle style, const QPalette& palette) {
  TCellBevel bevel;
  bevel.Style = style;
  switch (style) {
    case TCellBevelStyle::cbRaised:
      bevel.UpperLeftColor = palette.color(QPalette::Light);
      bevel.LowerRightColor = palette.color(QPalette::Dark);
      break;
    case TCellBevelStyle::cbLowered:
      bevel.UpperLeftColor = palette.color(QPalette::Dark);
      bevel.LowerRightColor = palette.color(QPalette::Light);
      break;
    default:
      bevel.UpperLeftColor = palette.color(QPalette::Base);
      bevel.LowerRightColor = palette.color(QPalette::Base);
  }
  return bevel;
}

// Thumb size of a bar whose positions count rows (columns): the visible share of the
// whole, in the bar's own units.
int ScrollPage(int visible, int count, int minimum, int maximum) {
  const double page = static_cast<double>(visible) / count * (maximum - minimum + 1);
  return std::max(1, static_cast<int>(std::nearbyint(page)));  // halves to even
}

}  // namespace

void TSortGrid::InitFormatOptions(int ACol, int ARow, TFormatOptions& FormatOptions) {
  TCanvas& canvas = Canvas();
  TCellBevelStyle style = bevelStyle_;
  if (ARow > RowCount() - 1 - footerRows_) {
    canvas.Font = footerFont_;
    canvas.Brush.setColor(footerColor_);
    style = footerBevelStyle_;
  }
  (void)ACol;
  FormatOptions.HideText = false;
  FormatOptions.Font = &canvas.Font;
  FormatOptions.Brush = &canvas.Brush;
  FormatOptions.AlignmentHorz = alignmentHorz_;
  FormatOptions.AlignmentVert = alignmentVert_;
  FormatOptions.Bevel = BevelOf(style, palette());
}

void TSortGrid::DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) {
  TFormatOptions format;
  InitFormatOptions(ACol, ARow, format);
  if (OnGetCellFormat) OnGetCellFormat(this, ACol, ARow, AState, format);
  if (!DefaultDrawing()) {
    TStringGrid::DrawCell(ACol, ARow, ARect, AState);
    return;
  }
  TCanvas& canvas = Canvas();
  const QString text = Cells(ACol, ARow);
  const int textWidth = canvas.TextWidth(text);
  const int textHeight = canvas.TextHeight(text);
  const int left = ARect.left(), top = ARect.top();
  const int right = left + ARect.width(), bottom = top + ARect.height();

  int dx = 2;
  if (format.AlignmentHorz == TAlignment::taRightJustify) dx = (right - left) - textWidth - 2;
  else if (format.AlignmentHorz == TAlignment::taCenter) dx = ((right - left) - textWidth) / 2;
  int dy = 2;
  if (format.AlignmentVert == TVertAlignment::taBottomJustify) dy = (bottom - top) - textHeight - 3;
  else if (format.AlignmentVert == TVertAlignment::taMiddle) dy = ((bottom - top) - textHeight) / 2;

  canvas.TextRect(ARect, left + dx, top + dy, format.HideText ? QString() : text);

  if (sortSymbol_ != TSortSymbol::sgNone && ARow == 0 && ACol == sortColumn_ && FixedRows() >= 1) {
    // Kept inside its cell, which neighbours painted later would otherwise cover in part.
    QPainter* painter = canvas.Painter();
    if (painter) {
      painter->save();
      painter->setClipRect(ARect);
    }
    DrawSortSymbol(left + dx + textWidth + sortSpacingHor_, top + dy + sortSpacingVert_);
    if (painter) painter->restore();
  }

  if (format.Bevel.Style != TCellBevelStyle::cbNone && ACol >= FixedCols() && ARow >= FixedRows()) {
    const bool vert = Options().Contains(TGridOption::goFixedVertLine);
    const bool horz = Options().Contains(TGridOption::goFixedHorzLine);
    if (vert) {
      canvas.Pen.setColor(format.Bevel.LowerRightColor);
      canvas.Line(right - 1, top, right - 1, bottom);
    }
    if (horz) {
      canvas.Pen.setColor(format.Bevel.LowerRightColor);
      canvas.Line(left, bottom - 1, right, bottom - 1);
    }
    if (vert) {
      canvas.Pen.setColor(format.Bevel.UpperLeftColor);
      canvas.Line(left, top, left, bottom);
    }
    if (horz) {
      canvas.Pen.setColor(format.Bevel.UpperLeftColor);
      canvas.Line(left, top, right, top);
    }
  }
  if (OnDrawCell) OnDrawCell(this, ACol, ARow, ARect, AState);
}

void TSortGrid::DrawSortSymbol(int X, int Y) {
  if (!symbolBitmap_.isNull()) Canvas().DrawTransparent(X, Y, symbolBitmap_, symbolTransparent_);
}

void TSortGrid::UpdateSortSymbol() {
  symbolBitmap_ = QImage();
  symbolTransparent_ = QColor(0, 255, 255);
  if (sortSymbol_ == TSortSymbol::sgNone) return;
  const bool descending = sortDirection_ == TSortDirection::sdDescending;
  if (sortSymbol_ == TSortSymbol::sgCustom) {
    symbolBitmap_ = (descending ? sortBitMapD_ : sortBitMapA_).copy();
    if (!symbolBitmap_.isNull()) symbolTransparent_ = symbolBitmap_.pixelColor(0, 0);
    return;
  }
  const int index = (sortSymbol_ == TSortSymbol::sgGlyph ? 2 : 0) + (descending ? 1 : 0);
  symbolBitmap_ = SortSymbolPicture(QStringLiteral("SORTUPSORTDNSORTAZSORTZA").mid(6 * index, 6));
}

void TSortGrid::UpdateScrollPage() {
  const TScrollStyle bars = ScrollBars();
  if (bars == TScrollStyle::ssVertical || bars == TScrollStyle::ssBoth) {
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(proportionalScrollBars_
                         ? ScrollPage(VisibleRowCount() + FixedRows(), RowCount(), bar->minimum(), bar->maximum())
                         : 0);
  }
  if (bars == TScrollStyle::ssHorizontal || bars == TScrollStyle::ssBoth) {
    QScrollBar* bar = horizontalScrollBar();
    bar->setPageStep(proportionalScrollBars_
                         ? ScrollPage(VisibleColCount() + FixedCols(), ColCount(), bar->minimum(), bar->maximum())
                         : 0);
  }
}

Qt::Alignment TSortGrid::EditorAlignment() const {
  const Qt::Alignment horz = alignmentHorz_ == TAlignment::taRightJustify ? Qt::AlignRight
                             : alignmentHorz_ == TAlignment::taCenter     ? Qt::AlignHCenter
                                                                          : Qt::AlignLeft;
  const Qt::Alignment vert = alignmentVert_ == TVertAlignment::taBottomJustify ? Qt::AlignBottom
                             : alignmentVert_ == TVertAlignment::taMiddle      ? Qt::AlignVCenter
                                                                               : Qt::AlignTop;
  return horz | vert;
}

// Measuring passes the state drawing would pass, so that a format chosen by state (a
// bold header, say) is measured as it will be drawn.
TGridDrawState TSortGrid::GetDrawState(int ACol, int ARow) const { return DrawStateOf(ACol, ARow); }

void TSortGrid::AutoSizeCol(int ACol) {
  if (ACol < 0 || ACol >= ColCount()) return;
  TCanvas& canvas = Canvas();
  canvas.Font = Font();
  int widest = 0;
  for (int r = 0; r < RowCount(); ++r) {
    TFormatOptions format;
    InitFormatOptions(ACol, r, format);
    if (OnGetCellFormat) OnGetCellFormat(this, ACol, r, GetDrawState(ACol, r), format);
    if (format.Font != &canvas.Font) canvas.Font = *format.Font;
    widest = std::max(widest, canvas.TextWidth(Cells(ACol, r)));
  }
  SetColWidths(ACol, widest + canvas.TextWidth(QStringLiteral("x")));
}

void TSortGrid::AutoSizeColumns(bool IncludeFixed, int ExtraWidth) {
  auto size = [&](int c) {
    AutoSizeCol(c);
    if (ExtraWidth != 0) SetColWidths(c, ColWidths(c) + ExtraWidth);
  };
  if (IncludeFixed)
    for (int c = 0; c < FixedCols(); ++c) size(c);
  for (int c = FixedCols(); c < ColCount(); ++c) size(c);
}
