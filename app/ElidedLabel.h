#pragma once
// A one-line label that shows as much of its text as fits, cut in the middle so that both
// ends stay readable, with the whole text as its tooltip. It never asks its window for
// more room: a long name must not widen the window that shows it.

#include <QLabel>
#include <QResizeEvent>

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SetFullText(text);
  }
  const QString& FullText() const { return full_; }
  void SetFullText(const QString& text) {
    full_ = text;
    Elide();
  }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QLabel::resizeEvent(e);
    Elide();
  }

 private:
  void Elide() {
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(contentsRect().width(), 0));
    setToolTip(shown == full_ ? QString() : full_);
    if (shown != text()) setText(shown);
  }
  QString full_;
};
