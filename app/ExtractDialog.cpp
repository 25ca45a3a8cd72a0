#include "ExtractDialog.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppState.h"
#include "FileSystemViews.h"
#include "MainWindow.h"
#include "RadioGroup.h"
#include "WindowPlacement.h"

TExtract::TExtract(TMainform& main) : QDialog(&main) {
  setWindowTitle("Select Extract Directory");

  DriveComboBox1 = new TDriveComboBox;
  DirectoryListBox1 = new TDirectoryListBox;
  DriveComboBox1->SetDirList(DirectoryListBox1);
  DirectoryListBox1->SetDriveCombo(DriveComboBox1);
  auto* left = new QVBoxLayout;
  left->addWidget(DriveComboBox1);
  left->addWidget(DirectoryListBox1, 1);

  RadioGroup1 = new TRadioGroup("Expand ZIP Dirs", {"No", "Yes"}, 1);
  RadioGroup2 = new TRadioGroup("OverWrite Existing", {"No", "Yes"}, 0);
  RadioGroup3 = new TRadioGroup("Files to Extract", {"All Files", "Selected Files"}, 0);
  OKBut = new QPushButton("&Ok");
  QFont bold = OKBut->font();
  bold.setBold(true);
  OKBut->setFont(bold);
  OKBut->setDefault(true);
  CancelBut = new QPushButton("&Cancel");
  CancelBut->setAutoDefault(false);
  auto* right = new QVBoxLayout;
  right->addWidget(RadioGroup1);
  right->addWidget(RadioGroup2);
  right->addWidget(RadioGroup3);
  right->addStretch(1);
  right->addWidget(OKBut);
  right->addWidget(CancelBut);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(right);

  setTabOrder(OKBut, CancelBut);
  setTabOrder(CancelBut, RadioGroup1);
  setTabOrder(RadioGroup1, RadioGroup2);
  setTabOrder(RadioGroup2, RadioGroup3);

  connect(OKBut, &QPushButton::clicked, this, [this] { OKButClick(); });
  connect(CancelBut, &QPushButton::clicked, this, [this] { CancelButClick(); });

  resize(488, 418);
  CentreOnScreen(this);

  // FormCreate: start in the desktop folder.
  std::string desktop;
  main.GetSpecialFolder(desktop);
  if (!desktop.empty()) DirectoryListBox1->SetDirectory(QString::fromStdString(desktop));
  main.AttachExtract(this);
}

void TExtract::FormActivate() { Canceled = true; }

void TExtract::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormActivate();
  OKBut->setFocus();
}

bool TExtract::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && isVisible()) FormActivate();
  return QDialog::event(e);
}

void TExtract::OKButClick() {
  Canceled = false;
  ExtractDir = DirectoryListBox1->Directory().toStdString();
  ExpandDirs = RadioGroup1->ItemIndex() != 0;
  OverWr = RadioGroup2->ItemIndex() != 0;
  AllFiles = RadioGroup3->ItemIndex() == 0;
  accept();
}

void TExtract::CancelButClick() {
  ExtractDir.clear();
  QDialog::reject();
}
