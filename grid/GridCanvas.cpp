#include "GridCanvas.h"

#include <QFontMetrics>
#include <QPainter>

int TCanvas::TextWidth(const QString& text) const {
  return QFontMetrics(Font).horizontalAdvance(text);
}

int TCanvas::TextHeight(const QString&) const { return QFontMetrics(Font).height(); }

void TCanvas::TextRect(const QRect& rect, int x, int y, const QString& text) {
  if (!painter_) return;
  painter_->save();
  painter_->setClipRect(rect);
  if (Brush.style() != Qt::NoBrush) painter_->fillRect(rect, Brush);
  if (!text.isEmpty()) {
    painter_->setFont(Font);
    painter_->setPen(Font.Color());
    painter_->drawText(QPoint(x, y + QFontMetrics(Font).ascent()), text);
  }
  painter_->restore();
}

void TCanvas::FillRect(const QRect& rect) {
  if (painter_ && Brush.style() != Qt::NoBrush) painter_->fillRect(rect, Brush);
}

void TCanvas::Line(int x1, int y1, int x2, int y2) {
  if (!painter_ || (x1 == x2 && y1 == y2)) return;
  // Only the grid's axis-parallel edges are drawn; step back one pixel from the end.
  if (x1 == x2) y2 += (y2 > y1) ? -1 : 1;
  else if (y1 == y2) x2 += (x2 > x1) ? -1 : 1;
  painter_->save();
  painter_->setRenderHint(QPainter::Antialiasing, false);
  QPen pen(Pen.color());
  pen.setWidth(0);
  painter_->setPen(pen);
  painter_->drawLine(x1, y1, x2, y2);
  painter_->restore();
}

void TCanvas::DrawTransparent(int x, int y, const QImage& image, QColor transparent) {
  if (!painter_ || image.isNull()) return;
  QImage copy = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = transparent.rgb() & 0xFFFFFF;
  const bool fill = Brush.style() != Qt::NoBrush;
  const QRgb brush = Brush.color().rgba();
  for (int row = 0; row < copy.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(copy.scanLine(row));
    for (int col = 0; col < copy.width(); ++col)
      if ((line[col] & 0xFFFFFF) == key) line[col] = fill ? brush : 0;
  }
  painter_->drawImage(QPoint(x, y), copy);
}
