// TStringGrid: mouse, keyboard, focus and the in-place editor.

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <algorithm>

#include "StringGrid.h"

// The in-place editor: a frameless line edit over the current cell. Keys that move
// between cells, Enter and Escape belong to the grid.
class TInplaceEdit : public QLineEdit {
 public:
  explicit TInplaceEdit(TStringGrid* grid) : QLineEdit(grid->viewport()), grid_(grid) {
    setFrame(false);
    connect(this, &QLineEdit::textEdited, this,
            [this](const QString& text) { grid_->SetEditText(grid_->Col(), grid_->Row(), text); });
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::KeyPress && grid_->Options().Contains(TGridOption::goTabs)) {
      auto* ke = static_cast<QKeyEvent*>(e);
      if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
        grid_->HandleKey(ke);
        return true;
      }
    }
    return QLineEdit::event(e);
  }

  void keyPressEvent(QKeyEvent* e) override {
    switch (e->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Return:
      case Qt::Key_Enter:
        grid_->HandleKey(e);
        return;
      case Qt::Key_Escape:
        // Undo the edit of this cell, then leave the editor unless it always shows.
        if (text() != grid_->editorOriginal_) {
          setText(grid_->editorOriginal_);
          grid_->SetEditText(grid_->Col(), grid_->Row(), grid_->editorOriginal_);
        }
        if (!grid_->Options().Contains(TGridOption::goAlwaysShowEditor)) grid_->HideEditor();
        return;
      default:
        QLineEdit::keyPressEvent(e);
    }
  }

  void focusInEvent(QFocusEvent* e) override {
    QLineEdit::focusInEvent(e);
    grid_->FocusEntered();
  }

  void focusOutEvent(QFocusEvent* e) override {
    QLineEdit::focusOutEvent(e);
    grid_->FocusLeft(e->reason());
  }

 private:
  TStringGrid* grid_;
};

// ---- editor ----

bool TStringGrid::EditorMode() const { return editor_ && editor_->isVisible(); }

void TStringGrid::SetEditorMode(bool Value) {
  if (Value) ShowEditor();
  else HideEditor();
}

QLineEdit* TStringGrid::InplaceEditor() const { return editor_; }

void TStringGrid::ShowEditor(const QString* initialText) {
  if (!options_.Contains(TGridOption::goEditing)) return;
  if (!editor_) editor_ = new TInplaceEdit(this);
  ScrollIntoView(current_.X, current_.Y);
  editorOriginal_ = Cells(current_.X, current_.Y);
  editor_->setFont(font());
  if (initialText) {
    editor_->setText(*initialText);
    editor_->end(false);
  } else {
    editor_->setText(editorOriginal_);
    editor_->selectAll();
  }
  editor_->show();
  UpdateEditorGeometry();
  editor_->setFocus(Qt::OtherFocusReason);
  if (initialText) SetEditText(current_.X, current_.Y, *initialText);
  viewport()->update();
}

void TStringGrid::HideEditor() {
  if (!EditorMode()) return;
  // Take the focus back first, or Qt would hand it on to the next widget of the window.
  if (editor_->hasFocus()) setFocus(Qt::OtherFocusReason);
  editor_->hide();
  viewport()->update();
}

void TStringGrid::UpdateEditorGeometry() {
  if (!EditorMode()) return;
  const QRect r = CellRect(current_.X, current_.Y);
  // A cell scrolled out of view keeps its editor, out of sight.
  editor_->setGeometry(r.isEmpty() ? QRect(-10000, -10000, 10, 10) : r);
  // The text stands where the cell draws it, so that it does not jump when editing
  // starts. A frameless QLineEdit puts its text one pixel below the top margin and two
  // right of the left one, and centres it unless told otherwise.
  const Qt::Alignment align = EditorAlignment();
  const int textHeight = QFontMetrics(editor_->font()).height();
  const int height = r.isEmpty() ? 10 : r.height();
  int top = 2;
  if (align & Qt::AlignBottom) top = height - textHeight - 3;
  else if (align & Qt::AlignVCenter) top = (height - textHeight) / 2;
  editor_->setTextMargins(0, std::max(0, top - 1), 0, 0);
  editor_->setAlignment((align & Qt::AlignHorizontal_Mask) | Qt::AlignTop);
}

Qt::Alignment TStringGrid::EditorAlignment() const { return Qt::AlignLeft | Qt::AlignTop; }

// ---- focus ----

bool TStringGrid::Focused() const {
  QWidget* fw = QApplication::focusWidget();
  return fw && (fw == this || isAncestorOf(fw));
}

void TStringGrid::focusInEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusInEvent(e);
  FocusEntered();
}

void TStringGrid::focusOutEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusOutEvent(e);
  FocusLeft(e->reason());
}

void TStringGrid::FocusEntered() {
  viewport()->update();
  if (inside_) return;
  inside_ = true;
  DoEnter();
}

void TStringGrid::FocusLeft(Qt::FocusReason reason) {
  viewport()->update();
  if (Focused() || !inside_) return;
  // The window losing activation or a popup opening is no move of the focus elsewhere.
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
  inside_ = false;
  DoExit();
}

void TStringGrid::DoEnter() {
  if (options_.Contains(TGridOption::goEditing) && options_.Contains(TGridOption::goAlwaysShowEditor) && !EditorMode())
    ShowEditor();
}

void TStringGrid::DoExit() {
  if (!options_.Contains(TGridOption::goAlwaysShowEditor)) HideEditor();
}

bool TStringGrid::focusNextPrevChild(bool next) {
  if (options_.Contains(TGridOption::goTabs)) return false;  // Tab moves between cells
  return QAbstractScrollArea::focusNextPrevChild(next);
}

// ---- mouse ----

void TStringGrid::enterEvent(QEnterEvent* e) {
  QAbstractScrollArea::enterEvent(e);
  MouseEnter();
}

void TStringGrid::leaveEvent(QEvent* e) {
  QAbstractScrollArea::leaveEvent(e);
  MouseLeave();
}

int TStringGrid::SizingColumnAt(QPoint p) const {
  if (!options_.Contains(TGridOption::goColSizing) || p.y() < 0 || p.y() >= FixedHeight()) return -1;
  for (int c = 0; c < colCount_; ++c) {
    const int x = ColumnLeft(c);
    if (x < 0) continue;
    const int edge = x + colWidths_[c];
    if (std::abs(p.x() - edge) <= 2) return c;
  }
  return -1;
}

void TStringGrid::mousePressEvent(QMouseEvent* e) {
  MouseDown(e->button(), e->modifiers(), e->buttons(), e->position().toPoint());
}

void TStringGrid::mouseReleaseEvent(QMouseEvent* e) {
  MouseUp(e->button(), e->modifiers(), e->buttons(), e->position().toPoint());
}

void TStringGrid::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, Qt::MouseButtons, QPoint Pos) {
  if (!Focused()) setFocus(Qt::MouseFocusReason);
  if (Button != Qt::LeftButton) return;
  const int sizing = SizingColumnAt(Pos);
  if (sizing >= 0) {
    gridState_ = TGridState::gsColSizing;
    sizingCol_ = sizing;
    sizingOrigin_ = Pos.x();
    sizingStartWidth_ = colWidths_[sizing];
    return;
  }
  const TGridCoord cell = MouseCoord(Pos.x(), Pos.y());
  if (cell.X < fixedCols_ || cell.Y < fixedRows_) return;
  if (EditorMode() && cell == current_) return;
  if ((Shift & Qt::ControlModifier) && options_.Contains(TGridOption::goRangeSelect) &&
      options_.Contains(TGridOption::goRowSelect)) {
    ToggleRowMark(cell.Y);
    Click();
    return;
  }
  const bool extend = (Shift & Qt::ShiftModifier) && options_.Contains(TGridOption::goRangeSelect);
  if (options_.Contains(TGridOption::goRangeSelect)) gridState_ = TGridState::gsSelecting;
  FocusCell(cell.X, cell.Y, !extend);
}

void TStringGrid::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (gridState_ == TGridState::gsColSizing) {
    const int width = std::max(0, sizingStartWidth_ + p.x() - sizingOrigin_);
    if (width != colWidths_[sizingCol_]) {
      colWidths_[sizingCol_] = width;
      UpdateEditorGeometry();
      viewport()->update();
    }
    return;
  }
  if (gridState_ == TGridState::gsSelecting && (e->buttons() & Qt::LeftButton)) {
    const TGridCoord cell = MouseCoord(p.x(), p.y());
    const int c = std::clamp(cell.X < 0 ? colCount_ - 1 : cell.X, fixedCols_, colCount_ - 1);
    const int r = std::clamp(cell.Y < 0 ? rowCount_ - 1 : cell.Y, fixedRows_, rowCount_ - 1);
    if (c != current_.X || r != current_.Y) MoveCurrent(c, r, false, true);
    return;
  }
  viewport()->setCursor(SizingColumnAt(p) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TStringGrid::MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, Qt::MouseButtons, QPoint) {
  const TGridState state = gridState_;
  gridState_ = TGridState::gsNormal;
  sizingCol_ = -1;
  if (state == TGridState::gsColSizing) {
    UpdateScrollRange();
    ColWidthsChanged();
  }
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  const TGridCoord cell = MouseCoord(p.x(), p.y());
  if (e->button() == Qt::LeftButton && cell == current_ && options_.Contains(TGridOption::goEditing)) {
    ShowEditor();
    return;
  }
  mousePressEvent(e);
}

// ---- keyboard ----

void TStringGrid::keyPressEvent(QKeyEvent* e) { HandleKey(e); }

void TStringGrid::HandleKey(QKeyEvent* e) {
  int key = e->key();
  KeyDown(key, e->modifiers());
  if (key != 0 && !e->text().isEmpty()) {
    QChar ch = e->text().at(0);
    KeyPress(ch);
  }
  e->accept();
}

void TStringGrid::KeyDown(int& Key, Qt::KeyboardModifiers Shift) {
  const bool ctrl = Shift & Qt::ControlModifier;
  const bool extend = (Shift & Qt::ShiftModifier) && options_.Contains(TGridOption::goRangeSelect);
  const bool rowSelect = options_.Contains(TGridOption::goRowSelect);
  int c = current_.X;
  int r = current_.Y;
  const int page = std::max(1, VisibleRowCount());
  switch (Key) {
    case Qt::Key_Up: --r; break;
    case Qt::Key_Down: ++r; break;
    case Qt::Key_PageUp: r -= page; break;
    case Qt::Key_PageDown: r += page; break;
    case Qt::Key_Left:
      if (rowSelect) { SetLeftCol(leftCol_ - 1); return; }
      --c;
      break;
    case Qt::Key_Right:
      if (rowSelect) { SetLeftCol(leftCol_ + 1); return; }
      ++c;
      break;
    case Qt::Key_Home:
      if (ctrl) r = fixedRows_;
      else c = fixedCols_;
      break;
    case Qt::Key_End:
      if (ctrl) r = rowCount_ - 1;
      else c = colCount_ - 1;
      break;
    case Qt::Key_Tab:
      if (!options_.Contains(TGridOption::goTabs)) return;
      if (++c >= colCount_) { c = fixedCols_; ++r; }
      break;
    case Qt::Key_Backtab:
      if (!options_.Contains(TGridOption::goTabs)) return;
      if (--c < fixedCols_) { c = colCount_ - 1; --r; }
      break;
    case Qt::Key_F2:
      ShowEditor();
      return;
    default:
      return;
  }
  c = std::clamp(c, fixedCols_, colCount_ - 1);
  r = std::clamp(r, fixedRows_, rowCount_ - 1);
  if (c != current_.X || r != current_.Y) FocusCell(c, r, !extend);
}

void TStringGrid::KeyPress(QChar& Key) {
  if (Key == QChar('\r')) {
    if (options_.Contains(TGridOption::goEditing) && !options_.Contains(TGridOption::goAlwaysShowEditor))
      SetEditorMode(!EditorMode());
    Key = QChar(0);
    return;
  }
  if (options_.Contains(TGridOption::goEditing) && !EditorMode() && Key.isPrint()) {
    const QString typed(Key);
    ShowEditor(&typed);
    Key = QChar(0);
  }
}
