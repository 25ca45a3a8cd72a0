#include "ExtractDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppState.h"
#include "FileSystemViews.h"
#include "MainWindow.h"
#include "RadioGroup.h"
#include "WindowPlacement.h"

TExtract::TExtract(TMainform& main) : QDialog(&main), main_(main) {
  setWindowTitle("Select Extract Directory");

  DriveComboBox1 = new TDriveComboBox;
  DirectoryListBox1 = new TDirectoryListBox;
  DriveComboBox1->SetDirList(DirectoryListBox1);
  DirectoryListBox1->SetDriveCombo(DriveComboBox1);
  PathEdit = new QLineEdit;
  PathEdit->setPlaceholderText("Folder to extract into");
  NewFolderBut = new QPushButton("New &Folder...");
  NewFolderBut->setAutoDefault(false);
  NamedFolderCB = new QCheckBox("Into a folder &named after the archive");
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(PathEdit, 1);
  pathRow->addWidget(NewFolderBut);
  auto* left = new QVBoxLayout;
  left->addWidget(DriveComboBox1);
  left->addWidget(DirectoryListBox1, 1);
  left->addLayout(pathRow);
  left->addWidget(NamedFolderCB);

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
  connect(NewFolderBut, &QPushButton::clicked, this, [this] { NewFolderButClick(); });
  DirectoryListBox1->OnDirectoryChanged = [this](const QString& dir) { PathEdit->setText(dir); };

  resize(488, 458);
  CentreOnScreen(this);

  // FormCreate: start in the folder of the last extract, else the desktop folder.
  std::string start = TesseraSettings().value("folders/extract").toString().toStdString();
  if (start.empty() || !QFileInfo(QString::fromStdString(start)).isDir()) main.GetSpecialFolder(start);
  if (!start.empty()) DirectoryListBox1->SetDirectory(QString::fromStdString(start));
  PathEdit->setText(DirectoryListBox1->Directory());
  main.AttachExtract(this);
}

QString TExtract::TargetFolder() const {
  const QString typed = PathEdit->text().trimmed();
  if (typed.isEmpty()) return {};
  // A typed "~/..." means the home folder, as in a shell; other relative paths are
  // taken from the folder shown.
  QString path = typed.startsWith("~/") || typed == "~" ? QDir::homePath() + typed.mid(1) : typed;
  if (QDir::isRelativePath(path)) path = DirectoryListBox1->Directory() + "/" + path;
  path = QDir::cleanPath(path);
  if (NamedFolderCB->isChecked()) {
    const QString archive = QFileInfo(QString::fromStdString(main_.Marlin1.ZipFilename())).completeBaseName();
    if (!archive.isEmpty()) path += "/" + archive;
  }
  return path;
}

void TExtract::NewFolderButClick() {
  std::string name;
  const QString parent = DirectoryListBox1->Directory();
  if (!main_.Ui().AskText("New Folder", "Name of the new folder in " + parent.toStdString() + ":", name, false, 255))
    return;
  const QString folder = QString::fromStdString(name).trimmed();
  if (folder.isEmpty()) return;
  if (folder.contains('/') || folder == "." || folder == ".." || !QDir(parent).mkdir(folder)) {
    main_.ShowMessage("Could not create the folder " + folder.toStdString() + " in " + parent.toStdString());
    return;
  }
  DirectoryListBox1->SetDirectory(parent + "/" + folder);
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
  const QString target = TargetFolder();
  // A typed folder that is not there yet is made, as the command line's -d does.
  if (target.isEmpty() || !QDir().mkpath(target)) {
    main_.ShowMessage("Cannot extract into " + target.toStdString() + ": the folder cannot be made");
    return;
  }
  Canceled = false;
  ExtractDir = target.toStdString();
  TesseraSettings().setValue("folders/extract", NamedFolderCB->isChecked() ? QFileInfo(target).path() : target);
  ExpandDirs = RadioGroup1->ItemIndex() != 0;
  OverWr = RadioGroup2->ItemIndex() != 0;
  AllFiles = RadioGroup3->ItemIndex() == 0;
  accept();
}

void TExtract::CancelButClick() {
  ExtractDir.clear();
  QDialog::reject();
}
