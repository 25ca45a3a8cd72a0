#pragma once
// The drawing surface a grid hands to its cell drawing and measuring code: the current
// font, brush and pen, and the few drawing operations cells need. Outside painting it
// still measures texts, which column auto-sizing relies on.

#include <QBrush>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QString>

#include "GridTypes.h"

class QPainter;

class TCanvas {
 public:
  TFont Font;
  QBrush Brush{Qt::white, Qt::SolidPattern};
  QPen Pen{Qt::black};

  // Null outside painting; the drawing operations then do nothing.
  QPainter* Painter() const { return painter_; }
  void SetPainter(QPainter* p) { painter_ = p; }

  int TextWidth(const QString& text) const;
  int TextHeight(const QString& text) const;
  // Fills `rect` with the brush (unless the brush is clear) and writes `text` with its
  // top-left corner at (x, y), clipped to `rect`.
  void TextRect(const QRect& rect, int x, int y, const QString& text);
  void FillRect(const QRect& rect);
  // A line in the pen's colour that, like a pen moved and drawn to a point, leaves
  // out its end point.
  void Line(int x1, int y1, int x2, int y2);
  // Copies `image` with its top-left corner at (x, y); pixels of the transparent colour
  // take the brush's colour, or stay unpainted when the brush is clear.
  void DrawTransparent(int x, int y, const QImage& image, QColor transparent);

 private:
  QPainter* painter_ = nullptr;
};
