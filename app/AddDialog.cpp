#include "AddDialog.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCollator>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppState.h"
#include "FileSystemViews.h"
#include "MainWindow.h"
#include "WindowPlacement.h"

namespace {

QLabel* Heading(const char* text) {
  auto* l = new QLabel(text);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

QPushButton* Button(const char* caption) {
  auto* b = new QPushButton(caption);
  b->setAutoDefault(false);
  return b;
}

int CompareSpecs(const QString& a, const QString& b) {
  static const QCollator collator = [] {
    QCollator c;
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  return collator.compare(a, b);
}

}  // namespace

TAddForm::TAddForm(TMainform& main) : QDialog(&main), main_(main) {
  setWindowTitle("Add Files");

  // Left: the file browser.
  DriveComboBox1 = new TDriveComboBox;
  DirectoryListBox1 = new TDirectoryListBox;
  SelectAllBut = Button("Select All Files");
  FileListBox1 = new TFileListBox;
  DriveComboBox1->SetDirList(DirectoryListBox1);
  DirectoryListBox1->SetDriveCombo(DriveComboBox1);
  DirectoryListBox1->SetFileList(FileListBox1);
  auto* left = new QVBoxLayout;
  left->addWidget(DriveComboBox1);
  left->addWidget(DirectoryListBox1, 1);
  left->addWidget(SelectAllBut);
  left->addWidget(FileListBox1, 1);

  // Middle: options and actions.
  DirNameCB = new QCheckBox("Save DirNames");
  EncryptCB = new QCheckBox("Encrypt Files");
  RecurseCB = new QCheckBox("Recurse Dirs");
  DiskSpanCB = new QCheckBox("Span disk");
  AddBtn = Button("Action: Add");
  VolSizeBut = Button("Set max. vol. size");
  VolSizeBut->setEnabled(false);
  FreeDisk1But = Button("Set free on disk 1");
  FreeDisk1But->setEnabled(false);
  AddFileBut = Button("&Add File ==>");
  AddDirBut = Button("Add &Dir  ==>");
  RemoveBut = Button("&Remove <==");
  OKBut = new QPushButton("DO IT &NOW");
  QFont bold = OKBut->font();
  bold.setBold(true);
  OKBut->setFont(bold);
  OKBut->setDefault(true);
  CancelBut = Button("&Cancel");
  // The middle column keeps its captions whole; the lists share what is left.
  for (QPushButton* b : {AddBtn, VolSizeBut, FreeDisk1But, AddFileBut, AddDirBut, RemoveBut, OKBut, CancelBut})
    b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 28);
  auto* middle = new QVBoxLayout;
  middle->setSpacing(4);
  middle->addWidget(Heading("Options"), 0, Qt::AlignHCenter);
  middle->addWidget(DirNameCB);
  middle->addWidget(EncryptCB);
  middle->addWidget(RecurseCB);
  middle->addWidget(DiskSpanCB);
  middle->addWidget(AddBtn);
  middle->addWidget(VolSizeBut);
  middle->addWidget(FreeDisk1But);
  middle->addSpacing(10);
  middle->addWidget(AddFileBut);
  middle->addWidget(AddDirBut);
  middle->addWidget(RemoveBut);
  middle->addStretch(1);
  middle->addWidget(OKBut);
  middle->addWidget(CancelBut);

  // Right: the result.
  SortBut = Button("&Sort");
  SelectedList = new QListWidget;
  SelectedList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  SelectedList->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  auto* rightTop = new QHBoxLayout;
  rightTop->addWidget(Heading("Files to Add:"));
  rightTop->addStretch(1);
  rightTop->addWidget(SortBut);
  auto* right = new QVBoxLayout;
  right->addLayout(rightTop);
  right->addWidget(SelectedList, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 4);
  layout->addLayout(middle, 0);
  layout->addLayout(right, 6);

  // The middle column's tab order differs from its visual order.
  QWidget* order[] = {DriveComboBox1, DirectoryListBox1, SelectAllBut, FileListBox1,
                      AddFileBut, RemoveBut, OKBut, CancelBut, DirNameCB, RecurseCB, AddDirBut,
                      EncryptCB, DiskSpanCB, FreeDisk1But, VolSizeBut, AddBtn, SortBut};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  PopupMenu1 = new QMenu(this);
  auto* group = new QActionGroup(PopupMenu1);
  group->setExclusive(true);
  const char* captions[] = {"Add", "Update", "Freshen", "Move"};
  QAction* items[4];
  for (int i = 0; i < 4; ++i) {
    items[i] = PopupMenu1->addAction(captions[i]);
    items[i]->setCheckable(true);
    items[i]->setData(i + 1);  // the tag
    group->addAction(items[i]);
    connect(items[i], &QAction::triggered, this, [this, item = items[i]] { Add1Click(item); });
  }
  Add1 = items[0], Update1 = items[1], Freshen1 = items[2], Move1 = items[3];
  Add1->setChecked(true);
  QFont menuBold = Add1->font();
  menuBold.setBold(true);
  Add1->setFont(menuBold);
  PopupMenu1->setDefaultAction(Add1);

  connect(AddFileBut, &QPushButton::clicked, this, [this] { AddFileButClick(); });
  connect(AddDirBut, &QPushButton::clicked, this, [this] { AddDirButClick(); });
  connect(RemoveBut, &QPushButton::clicked, this, [this] { RemoveButClick(); });
  connect(SelectAllBut, &QPushButton::clicked, this, [this] { SelectAllButClick(); });
  connect(SortBut, &QPushButton::clicked, this, [this] { SortButClick(); });
  connect(AddBtn, &QPushButton::clicked, this, [this] { AddBtnClick(); });
  connect(DiskSpanCB, &QCheckBox::clicked, this, [this] { DiskSpanCBClick(); });
  connect(VolSizeBut, &QPushButton::clicked, this, [this] { VolSizeButClick(); });
  connect(FreeDisk1But, &QPushButton::clicked, this, [this] { FreeDisk1ButClick(); });
  connect(OKBut, &QPushButton::clicked, this, [this] { OKButClick(); });
  connect(CancelBut, &QPushButton::clicked, this, [this] { CancelButClick(); });

  resize(620, 507);
  CentreOnScreen(this);

  // FormCreate: start in the folder of the last add, else the desktop folder.
  std::string start = TesseraSettings().value("folders/add").toString().toStdString();
  if (start.empty() || !QFileInfo(QString::fromStdString(start)).isDir()) main.GetSpecialFolder(start);
  if (!start.empty()) DirectoryListBox1->SetDirectory(QString::fromStdString(start));
  main.AttachAddForm(this);
}

QString TAddForm::CurrentFolder() const {
  QString dir = DirectoryListBox1->Directory();
  if (!dir.endsWith('/')) dir += '/';
  return dir;
}

void TAddForm::AddSpec(const QString& spec) {
  for (int i = 0; i < SelectedList->count(); ++i)
    if (SelectedList->item(i)->text().compare(spec, Qt::CaseInsensitive) == 0) return;
  if (!sorted_) {
    SelectedList->addItem(spec);
    return;
  }
  int at = 0;
  while (at < SelectedList->count() && CompareSpecs(SelectedList->item(at)->text(), spec) <= 0) ++at;
  SelectedList->insertItem(at, spec);
}

void TAddForm::ScrollListToEnd() {
  const int last = SelectedList->count() - 1;
  if (last < 0) return;
  SelectedList->scrollToItem(SelectedList->item(last));
}

void TAddForm::AddFileButClick() {
  Canceled = true;
  const QString folder = CurrentFolder();
  for (int i = 0; i < FileListBox1->count(); ++i) {
    QListWidgetItem* item = FileListBox1->item(i);
    if (!item->isSelected()) continue;
    AddSpec(folder + item->text());
    item->setSelected(false);
  }
  ScrollListToEnd();
}

void TAddForm::AddDirButClick() {
  Canceled = true;
  if (DirectoryListBox1->HasSelection()) AddSpec(CurrentFolder() + "*.*");
  ScrollListToEnd();
}

void TAddForm::RemoveButClick() {
  for (int i = SelectedList->count() - 1; i >= 0; --i)
    if (SelectedList->item(i)->isSelected()) delete SelectedList->takeItem(i);
}

void TAddForm::SelectAllButClick() { FileListBox1->selectAll(); }

void TAddForm::SortButClick() {
  sorted_ = true;
  QStringList items;
  for (int i = 0; i < SelectedList->count(); ++i) items << SelectedList->item(i)->text();
  std::stable_sort(items.begin(), items.end(), [](const QString& a, const QString& b) { return CompareSpecs(a, b) < 0; });
  SelectedList->clear();
  SelectedList->addItems(items);
  SortBut->setEnabled(false);
}

void TAddForm::AddBtnClick() { PopupMenu1->popup(AddBtn->mapToGlobal(QPoint(4, 4))); }

void TAddForm::Add1Click(QAction* item) {
  Action = item->data().toInt();
  item->setChecked(true);
  for (QAction* a : PopupMenu1->actions()) {
    QFont f = a->font();
    f.setBold(a == item);
    a->setFont(f);
  }
  PopupMenu1->setDefaultAction(item);
  AddBtn->setText("Action: " + item->text());
}

void TAddForm::DiskSpanCBClick() {
  VolSizeBut->setEnabled(DiskSpanCB->isChecked());
  FreeDisk1But->setEnabled(DiskSpanCB->isChecked());
}

bool TAddForm::AskNumber(const char* caption, const char* prompt, int64_t& value) {
  std::string text = std::to_string(value);
  // An input box gives back its default when cancelled.
  if (!main_.Ui().AskText(caption, prompt, text, false, 0)) text = std::to_string(value);
  bool ok = false;
  const qlonglong n = QString::fromStdString(text).trimmed().toLongLong(&ok);
  value = ok ? n : 0;
  return ok;
}

void TAddForm::VolSizeButClick() {
  int64_t v = main_.Marlin1.MaxVolumeSize();
  AskNumber("Max Vol size", "Maximum size of an archive part", v);
  main_.Marlin1.SetMaxVolumeSize(v);
}

void TAddForm::FreeDisk1ButClick() {
  int64_t v = main_.Marlin1.KeepFreeOnDisk1();
  AskNumber("Keep free on Disk", "Unused bytes on disk 1", v);
  main_.Marlin1.SetKeepFreeOnDisk1(v);
}

void TAddForm::OKButClick() {
  Canceled = false;
  TesseraSettings().setValue("folders/add", DirectoryListBox1->Directory());
  accept();
}

void TAddForm::CancelButClick() {
  Canceled = true;
  QDialog::reject();
}
