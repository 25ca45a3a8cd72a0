#include "NameEncodingMenu.h"

#include <QActionGroup>
#include <QMenu>

#include "CodePages.h"
#include "TMarlin.h"

NameEncodingMenu::NameEncodingMenu(QMenu* view, TMarlin& marlin, std::function<void(const std::string&)> show)
    : QObject(view), marlin_(marlin), show_(std::move(show)) {
  Archiveinformation1 = view->addAction("Archive information");
  Nameencoding1 = view->addMenu("Name encoding");
  group_ = new QActionGroup(this);
  automatic_ = Nameencoding1->addAction("Automatic");
  automatic_->setCheckable(true);
  automatic_->setChecked(true);
  group_->addAction(automatic_);
  connect(automatic_, &QAction::triggered, this, [this] { Choose(0); });
  Nameencoding1->addSeparator();
  for (const entrynames::CodePageInfo& c : entrynames::CodePages()) {
    QAction* a = Nameencoding1->addAction(QString::fromStdString(entrynames::CodePageLabel(c.Number)));
    a->setCheckable(true);
    a->setData(c.Number);
    group_->addAction(a);
    const int number = c.Number;
    connect(a, &QAction::triggered, this, [this, number] { Choose(number); });
  }
  connect(Nameencoding1, &QMenu::aboutToShow, this, [this] { Refresh(); });
  connect(Archiveinformation1, &QAction::triggered, this, [this] { show_(InformationText()); });
}

void NameEncodingMenu::ArchiveChanged() {
  marlin_.SetNameCodePage(0);
  automatic_->setChecked(true);
}

void NameEncodingMenu::Choose(int codePage) {
  if (codePage == marlin_.NameCodePage()) return;
  marlin_.SetNameCodePage(codePage);
  if (!marlin_.ZipFilename().empty()) marlin_.List();
}

void NameEncodingMenu::Refresh() {
  // "Automatic" tells what the names were judged to be.
  const bool judged = marlin_.NameCodePage() == 0;
  QString text = "Automatic";
  if (judged && marlin_.TextsInCodePage() > 0)
    text += " (" + QString::fromStdString(entrynames::CodePageLabel(marlin_.ArchiveCodePage())) + ")";
  automatic_->setText(text);
  for (QAction* a : group_->actions())
    a->setChecked(a == automatic_ ? judged : !judged && a->data().toInt() == marlin_.NameCodePage());
}

std::string NameEncodingMenu::InformationText() const {
  if (marlin_.ZipFilename().empty()) return "No archive is open";
  std::string text = "Archive: " + marlin_.ZipFilename() + "\nEntries: " + std::to_string(marlin_.EntryCount()) +
                     "\nSize: " + std::to_string(marlin_.PhysicalSize()) + " bytes";
  if (marlin_.PrefixSize() > 0) text += "\nSelf-extracting program: " + std::to_string(marlin_.PrefixSize()) + " bytes";
  text += "\nNames: ";
  if (marlin_.TextsInCodePage() == 0)
    text += "UTF-8 or ASCII throughout";
  else
    text += "read as " + entrynames::CodePageLabel(marlin_.ArchiveCodePage()) +
            (marlin_.NameCodePage() != 0 ? ", as chosen in View, Name encoding"
                                         : ", judged from the names (" + std::to_string(marlin_.TextsInCodePage()) +
                                               " of them)");
  return text;
}
