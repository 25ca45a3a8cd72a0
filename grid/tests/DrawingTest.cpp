// Drawing, checked on rendered images: footer rows, alignment and clipping, the sort
// symbol's place, bevels, scroll bar pages, the in-place editor's text and auto-sized
// columns.

#include <QFontMetrics>
#include <functional>
#include <QFrame>
#include <QLineEdit>
#include <QScrollBar>

#include "GridTestSupport.h"
#include "SortSymbols.h"

namespace {

const QColor kBase(250, 250, 240), kLight(255, 255, 255), kDark(100, 100, 100), kButton(210, 210, 210);

class DrawingTest : public GridTest {
 protected:
  void SetUp() override {
    GridTest::SetUp();
    QPalette p = g.palette();
    p.setColor(QPalette::Base, kBase);
    p.setColor(QPalette::Light, kLight);
    p.setColor(QPalette::Dark, kDark);
    p.setColor(QPalette::Button, kButton);
    p.setColor(QPalette::Text, Qt::black);
    g.setPalette(p);
    g.setFrameStyle(QFrame::NoFrame);
    g.SetScrollBars(TScrollStyle::ssNone);
    Fill(g, {{"", "Name", "Size"}, {"1", "alpha", "120"}, {"2", "beta", "3"}, {"", "Total", "123"}});
    g.resize(400, 300);
    g.show();
  }
  QImage Render() { return g.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // Pixels of `rect` for which `match` holds.
  static int Count(const QImage& img, const QRect& rect, const std::function<bool(QColor)>& match) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
      for (int x = rect.left(); x <= rect.right(); ++x) n += match(img.pixelColor(x, y));
    return n;
  }
  static int Ink(const QImage& img, const QRect& rect, QColor background) {
    return Count(img, rect, [&](QColor c) { return c != background; });
  }
  TSortGrid g;
};

TEST_F(DrawingTest, FooterRowsHaveTheirColourFontAndBevelEvenWhenSelected) {
  g.SetFooterRows(1);
  TFont font(g.font(), QColor(0, 0, 255));
  font.setBold(true);
  g.SetFooterFont(font);
  g.SetFooterBevelStyle(TCellBevelStyle::cbRaised);
  g.SetRow(3);  // the footer row is the selected one
  g.SetCol(1);
  QImage img = Render();
  const QRect footer = g.CellRect(2, 3), plain = g.CellRect(2, 2);
  const int midX = footer.center().x(), midY = footer.center().y();
  EXPECT_EQ(img.pixelColor(footer.right() - 1, footer.top() + 1), QColor(0, 255, 255));
  EXPECT_GT(Count(img, footer, [](QColor c) { return c.blue() > 150 && c.red() < 100 && c.green() < 100; }), 5);
  EXPECT_EQ(img.pixelColor(footer.left(), midY), kLight);
  EXPECT_EQ(img.pixelColor(midX, footer.top()), kLight);
  EXPECT_EQ(img.pixelColor(footer.right(), midY), kDark);
  EXPECT_EQ(img.pixelColor(midX, footer.bottom()), kDark);
  EXPECT_EQ(img.pixelColor(plain.right() - 1, plain.top() + 1), kBase);
  EXPECT_EQ(img.pixelColor(plain.left(), plain.center().y()), kBase);

  // A lowered footer shows that the fixed footer cell keeps the fixed cell's own edges.
  g.SetFooterBevelStyle(TCellBevelStyle::cbLowered);
  img = Render();
  EXPECT_EQ(img.pixelColor(footer.left(), midY), kDark);
  const QRect fixedFooter = g.CellRect(0, 3);
  EXPECT_EQ(img.pixelColor(fixedFooter.left(), fixedFooter.center().y()), kLight);
}

TEST_F(DrawingTest, RightAlignedTextWiderThanItsCellIsClippedAtTheLeft) {
  g.SetAlignmentHorz(TAlignment::taRightJustify);
  g.SetCells(1, 2, "");
  g.SetColWidths(2, 30);
  g.SetCells(2, 2, "WWWWWWWWWWWW");
  const QImage img = Render();
  const QRect cell = g.CellRect(2, 2);
  EXPECT_GT(Ink(img, QRect(cell.left(), cell.top(), 3, cell.height()), kBase), 0);
  EXPECT_EQ(Ink(img, g.CellRect(1, 2), kBase), 0);
  // The right end of the text stays 2 pixels inside the cell.
  EXPECT_EQ(Ink(img, QRect(cell.right() - 1, cell.top(), 2, cell.height()), kBase), 0);
  EXPECT_GT(Ink(img, QRect(cell.right() - 5, cell.top(), 3, cell.height()), kBase), 0);
}

TEST_F(DrawingTest, SortSymbolSitsBesideTheHeaderTextInRowZeroOnly) {
  const QImage glyph = SortSymbolPicture("SORTAZ");
  g.SetColWidths(1, 150);
  g.SetSortSymbol(TSortSymbol::sgGlyph);
  g.SetSortColumn(1);
  auto symbolAt = [&](const QImage& img, int x, int y) {
    for (int j = 0; j < glyph.height(); ++j)
      for (int i = 0; i < glyph.width(); ++i) {
        const QColor c = glyph.pixelColor(i, j);
        const QColor want = c == QColor(0, 255, 255) ? kButton : c;
        if (img.pixelColor(x + i, y + j) != want) return false;
      }
    return true;
  };
  const QRect header = g.CellRect(1, 0);
  const int x = header.left() + 2 + QFontMetrics(g.font()).horizontalAdvance("Name") + 2;
  EXPECT_TRUE(symbolAt(Render(), x, header.top() + 2));

  // Hidden text leaves the symbol where the text would have put it.
  g.OnGetCellFormat = [](TSortGrid*, int, int, TGridDrawState, TFormatOptions& f) { f.HideText = true; };
  EXPECT_TRUE(symbolAt(Render(), x, header.top() + 2));
  g.OnGetCellFormat = nullptr;

  g.SetFixedRows(2);
  const QImage two = Render();
  EXPECT_TRUE(symbolAt(two, x, header.top() + 2));
  const QRect second = g.CellRect(1, 1);
  EXPECT_FALSE(symbolAt(two, second.left() + 2 + QFontMetrics(g.font()).horizontalAdvance("alpha") + 2,
                        second.top() + 2));

  g.SetFixedRows(0);
  const QImage none = Render();
  EXPECT_EQ(Count(none, none.rect(), [](QColor c) { return c == QColor(0, 0, 128); }), 0);
}

TEST_F(DrawingTest, ScrollBarPageIsTheVisibleShareAndATrackClickPagesByTheRowsInView) {
  g.SetScrollBars(TScrollStyle::ssVertical);
  g.SetColCount(2);
  g.SetDefaultRowHeight(20);
  g.SetRowCount(40);
  g.resize(300, 220);  // ten rows of 21 pixels: the header and 9 scrolling rows
  QApplication::processEvents();
  ASSERT_EQ(g.VisibleRowCount(), 9);
  QScrollBar* bar = g.verticalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  ASSERT_EQ(bar->maximum(), 30);
  EXPECT_EQ(bar->pageStep(), 8);  // 10 / 40 * 31 = 7.75
  const QPoint track(bar->width() / 2, bar->height() - 30);  // below the thumb, above the arrow
  QTest::mouseClick(bar, Qt::LeftButton, {}, track);
  EXPECT_EQ(bar->value(), 9);
  EXPECT_EQ(g.TopRow(), 10);
  g.SetProportionalScrollBars(false);
  EXPECT_EQ(bar->pageStep(), 0);
  QTest::mouseClick(bar, Qt::LeftButton, {}, track);
  EXPECT_EQ(bar->value(), 18);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(g.TopRow(), 10);
  g.SetProportionalScrollBars(true);
  g.SetRowCount(80);  // the page follows the grid's size
  EXPECT_EQ(bar->maximum(), 70);
  EXPECT_EQ(bar->pageStep(), 9);  // 10 / 80 * 71 = 8.875

  g.SetScrollBars(TScrollStyle::ssHorizontal);
  g.SetColCount(30);
  QApplication::processEvents();
  const int columns = g.VisibleColCount();
  ASSERT_GT(columns, 1);
  g.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(g.LeftCol(), 1 + columns);
}

TEST_F(DrawingTest, EditorTextStandsWhereTheCellDrewIt) {
  // The text's inked box in the cell, drawn by the grid and then by the editor.
  auto inkBox = [&](const QImage& img, const QRect& cell) {
    QRect box;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x)
        if (img.pixelColor(x, y) != kBase) box |= QRect(x, y, 1, 1);
    return box;
  };
  g.SetOptions(TGridOptions(g.Options()).Include(TGridOption::goEditing));
  g.SetDefaultRowHeight(30);
  g.SetColWidths(1, 120);
  g.SetCells(1, 1, "Edit Me");
  for (auto vert : {TVertAlignment::taTopJustify, TVertAlignment::taMiddle, TVertAlignment::taBottomJustify}) {
    g.SetAlignmentVert(vert);
    g.SetCol(2);
    g.SetRow(2);
    const QRect cell = g.CellRect(1, 1);
    const QImage drawn = Render();
    const QRect expected = inkBox(drawn, cell);
    ASSERT_FALSE(expected.isEmpty());
    g.SetCol(1);
    g.SetRow(1);
    g.SetEditorMode(true);
    ASSERT_TRUE(g.EditorMode());
    QLineEdit* editor = g.InplaceEditor();
    editor->deselect();
    editor->clearFocus();  // no cursor in the picture
    const QImage editing = Render();
    EXPECT_EQ(inkBox(editing, cell), expected) << "vertical alignment " << static_cast<int>(vert);
    g.SetEditorMode(false);
  }
}

TEST_F(DrawingTest, AutoSizeMeasuresCellsAsTheyAreDrawn) {
  g.SetColCount(5);
  g.AutoSizeCol(4);
  EXPECT_EQ(g.ColWidths(4), QFontMetrics(g.font()).horizontalAdvance("x"));

  QFont big = g.font(), bold = g.font();
  big.setPointSize(big.pointSize() * 3);
  bold.setBold(true);
  g.SetCells(2, 0, "Modified at");
  g.OnGetCellFormat = [&](TSortGrid*, int col, int row, TGridDrawState state, TFormatOptions& f) {
    if (col == 1 && row == 2) *f.Font = TFont(big);
    if (state.Contains(TGridDrawFlag::gdFixed)) f.Font->setBold(true);
  };
  g.AutoSizeCol(1);
  // "beta" in the big font is the widest; the big font stays for the rows after it.
  const QFontMetrics bigMetrics(big), boldMetrics(bold);
  EXPECT_EQ(g.ColWidths(1), std::max(bigMetrics.horizontalAdvance("beta"), bigMetrics.horizontalAdvance("Total")) +
                                bigMetrics.horizontalAdvance("x"));
  g.AutoSizeCol(2);
  EXPECT_EQ(g.ColWidths(2), boldMetrics.horizontalAdvance("Modified at") + boldMetrics.horizontalAdvance("x"));
}

}  // namespace
