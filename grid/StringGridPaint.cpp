// TStringGrid: painting. Only the cells in view are visited, so painting costs the
// same whatever the number of rows.

#include <QPainter>
#include <QPaintEvent>

#include "StringGrid.h"

TGridDrawState TStringGrid::DrawStateOf(int ACol, int ARow) const {
  TGridDrawState state;
  const bool fixed = ACol < fixedCols_ || ARow < fixedRows_;
  if (fixed) {
    state.Include(TGridDrawFlag::gdFixed);
    return state;
  }
  const bool focusCell = ACol == current_.X && ARow == current_.Y;
  if (focusCell && Focused()) state.Include(TGridDrawFlag::gdFocused);
  const bool inSelection = marks_.empty() ? Selection().Contains(ACol, ARow) : RowSelected(ARow);
  if (inSelection &&
      (!focusCell || !Focused() || options_.Contains(TGridOption::goDrawFocusSelected) ||
       options_.Contains(TGridOption::goRowSelect)))
    state.Include(TGridDrawFlag::gdSelected);
  return state;
}

void TStringGrid::DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) {
  if (defaultDrawing_) canvas_.TextRect(ARect, ARect.left() + 2, ARect.top() + 2, Cells(ACol, ARow));
  if (OnDrawCell) OnDrawCell(this, ACol, ARow, ARect, AState);
}

void TStringGrid::PaintCell(QPainter& painter, int ACol, int ARow, const QRect& rect) {
  const TGridDrawState state = DrawStateOf(ACol, ARow);
  const bool fixed = state.Contains(TGridDrawFlag::gdFixed);
  const bool selected = state.Contains(TGridDrawFlag::gdSelected);
  const QPalette& pal = palette();
  canvas_.Font = Font();
  if (selected) canvas_.Font.SetColor(pal.color(QPalette::HighlightedText));
  canvas_.Brush = QBrush(fixed ? FixedColor() : selected ? pal.color(QPalette::Highlight) : Color());
  canvas_.Pen = QPen(pal.color(QPalette::Text));
  painter.save();
  if (defaultDrawing_) canvas_.FillRect(rect);
  DrawCell(ACol, ARow, rect, state);
  painter.restore();

  const int left = rect.left(), top = rect.top();
  const int right = rect.left() + rect.width(), bottom = rect.top() + rect.height();
  const bool vert = options_.Contains(TGridOption::goFixedVertLine);
  const bool horz = options_.Contains(TGridOption::goFixedHorzLine);
  if (fixed && (vert || horz)) {
    // Fixed cells look like buttons: raised edges on the sides that have fixed lines.
    painter.setPen(pal.color(QPalette::Light));
    if (horz) painter.drawLine(left, top, right - 1, top);
    if (vert) painter.drawLine(left, top, left, bottom - 1);
    painter.setPen(pal.color(QPalette::Dark));
    if (horz) painter.drawLine(left, bottom - 1, right - 1, bottom - 1);
    if (vert) painter.drawLine(right - 1, top, right - 1, bottom - 1);
  }
  if (state.Contains(TGridDrawFlag::gdFocused) && !EditorMode() && !options_.Contains(TGridOption::goRowSelect)) {
    QPen pen(pal.color(QPalette::Text));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
  }
}

void TStringGrid::paintEvent(QPaintEvent* e) {
  QPainter painter(viewport());
  painter.fillRect(e->rect(), Color());
  canvas_.SetPainter(&painter);

  const int width = viewport()->width();
  const int height = viewport()->height();
  const int rowStep = defaultRowHeight_ + 1;

  // Columns and rows in view, with their positions: fixed ones first, then from
  // LeftCol / TopRow until the viewport is full.
  std::vector<std::pair<int, int>> cols, rows;
  for (int c = 0, x = 0; c < colCount_ && x < width; ++c) {
    if (c == fixedCols_) c = leftCol_;
    if (c >= colCount_) break;
    cols.emplace_back(c, x);
    x += colWidths_[c] + 1;
  }
  for (int r = 0, y = 0; r < rowCount_ && y < height; ++r) {
    if (r == fixedRows_) r = topRow_;
    if (r >= rowCount_) break;
    rows.emplace_back(r, y);
    y += rowStep;
  }

  const QRect dirty = e->rect();
  for (const auto& [r, y] : rows) {
    if (y > dirty.bottom() || y + rowStep <= dirty.top()) continue;
    for (const auto& [c, x] : cols) {
      const QRect rect(x, y, colWidths_[c], defaultRowHeight_);
      if (!rect.adjusted(0, 0, 1, 1).intersects(dirty)) continue;
      PaintCell(painter, c, r, rect);
    }
  }

  // Grid lines, in the gaps right of and below every cell.
  if (cols.empty() || rows.empty()) {
    canvas_.SetPainter(nullptr);
    return;
  }
  const int gridRight = cols.back().second + colWidths_[cols.back().first] + 1;
  const int gridBottom = rows.back().second + rowStep;
  const int fixedBottom = FixedHeight();
  const QColor fixedLine = palette().color(QPalette::Shadow);
  const QColor line = palette().color(QPalette::Midlight);
  auto vertical = [&](int x, int y1, int y2, bool fixed) {
    const bool on = options_.Contains(fixed ? TGridOption::goFixedVertLine : TGridOption::goVertLine);
    if (on && y2 > y1) {
      painter.setPen(fixed ? fixedLine : line);
      painter.drawLine(x, y1, x, y2 - 1);
    }
  };
  auto horizontal = [&](int y, int x1, int x2, bool fixed) {
    const bool on = options_.Contains(fixed ? TGridOption::goFixedHorzLine : TGridOption::goHorzLine);
    if (on && x2 > x1) {
      painter.setPen(fixed ? fixedLine : line);
      painter.drawLine(x1, y, x2 - 1, y);
    }
  };
  const int fixedRight = FixedWidth();
  for (const auto& [c, x] : cols) {
    const int lx = x + colWidths_[c];
    vertical(lx, 0, std::min(fixedBottom, gridBottom), true);
    vertical(lx, fixedBottom, gridBottom, c < fixedCols_);
  }
  for (const auto& [r, y] : rows) {
    const int ly = y + defaultRowHeight_;
    horizontal(ly, 0, std::min(fixedRight, gridRight), true);
    horizontal(ly, fixedRight, gridRight, r < fixedRows_);
  }
  canvas_.SetPainter(nullptr);
}
