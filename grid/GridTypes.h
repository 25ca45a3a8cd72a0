#pragma once
// Small value types shared by the string grid and the sort grid: option sets, cell
// coordinates and ranges, and a font that carries its text colour.

#include <QColor>
#include <QFont>
#include <cstdint>

#include "OptionSet.h"

template <typename E>
using TGridSet = OptionSet<E>;

enum class TGridOption {
  goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect,
  goDrawFocusSelected, goRowSizing, goColSizing, goRowMoving, goColMoving, goEditing,
  goTabs, goRowSelect, goAlwaysShowEditor, goThumbTracking
};
using TGridOptions = TGridSet<TGridOption>;

enum class TGridDrawFlag { gdSelected, gdFocused, gdFixed };
using TGridDrawState = TGridSet<TGridDrawFlag>;

enum class TGridState { gsNormal, gsSelecting, gsRowSizing, gsColSizing, gsRowMoving, gsColMoving };

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

struct TGridCoord {
  int X = 0;
  int Y = 0;
  bool operator==(const TGridCoord&) const = default;
};

// An inclusive range of cells.
struct TGridRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool Contains(int ACol, int ARow) const {
    return ACol >= Left && ACol <= Right && ARow >= Top && ARow <= Bottom;
  }
  bool operator==(const TGridRect&) const = default;
};

// QFont has no colour, but a cell's text colour travels with its font everywhere the
// grid hands fonts around (footer font, per-cell format), so the two are kept together.
class TFont : public QFont {
 public:
  TFont() = default;
  TFont(const QFont& font, QColor color = Qt::black) : QFont(font), color_(color) {}
  QColor Color() const { return color_; }
  void SetColor(QColor c) { color_ = c; }
  bool operator==(const TFont& o) const { return QFont::operator==(o) && color_ == o.color_; }

 private:
  QColor color_ = Qt::black;
};
