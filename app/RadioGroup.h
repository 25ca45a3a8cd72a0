#pragma once
// A titled group of radio buttons read and set by item index, -1 for none.

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>

class TRadioGroup : public QGroupBox {
 public:
  TRadioGroup(const QString& title, const QStringList& items, int itemIndex, QWidget* parent = nullptr)
      : QGroupBox(title, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(2);
    for (int i = 0; i < items.size(); ++i) {
      auto* b = new QRadioButton(items[i]);
      group_.addButton(b, i);
      layout->addWidget(b);
    }
    SetItemIndex(itemIndex);
  }
  int ItemIndex() const { return group_.checkedId(); }
  void SetItemIndex(int i) {
    if (QAbstractButton* b = group_.button(i)) b->setChecked(true);
  }
  QRadioButton* Item(int i) const { return static_cast<QRadioButton*>(group_.button(i)); }

 private:
  QButtonGroup group_;
};
