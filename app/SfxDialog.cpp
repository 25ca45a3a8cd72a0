#include "SfxDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "MainWindow.h"
#include "RadioGroup.h"
#include "WindowPlacement.h"

TMakeSFX::TMakeSFX(TMainform& main) : QDialog(&main), main_(main) {
  setWindowTitle("Make Self Extracting Archive");

  DfltOverWriteGrp =
      new TRadioGroup("Default Overwrite Action", {"Ask User", "Always Overwrite", "Skip extraction"}, 0);
  CmdLineCB = new QCheckBox("Allow User to avoid running the command line");
  FileListCB = new QCheckBox("Allow User to modify the file list to be extracted");
  FileListCB->setChecked(true);
  HideOverWriteCB = new QCheckBox("Hide the Overwrite Action group box at run time");
  AutoRunCB = new QCheckBox("Create an AutoRun SFX");
  ExecBut = new QPushButton("Do It Now");
  QFont bold = ExecBut->font();
  bold.setBold(true);
  ExecBut->setFont(bold);
  ExecBut->setDefault(true);
  CancelBut = new QPushButton("Cancel");
  CancelBut->setAutoDefault(false);

  auto* boxes = new QVBoxLayout;
  boxes->addWidget(CmdLineCB);
  boxes->addWidget(FileListCB);
  boxes->addWidget(HideOverWriteCB);
  boxes->addWidget(AutoRunCB);
  boxes->addStretch(1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ExecBut);
  buttons->addWidget(CancelBut);
  buttons->addStretch(1);
  auto* upper = new QHBoxLayout;
  upper->addWidget(DfltOverWriteGrp);
  upper->addSpacing(8);
  upper->addLayout(boxes, 1);
  upper->addLayout(buttons);

  CaptionEdit = new QLineEdit(QString::fromStdString(main.Marlin1.SFXCaption()));
  DirectoryEdit = new QLineEdit(QString::fromStdString(main.Marlin1.SFXDefaultDir()));
  CommandEdit = new QLineEdit(QString::fromStdString(main.Marlin1.SFXCommandLine()));
  BitBtn1 = new QToolButton;
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  BitBtn1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(DirectoryEdit, 1);
  dirRow->addWidget(BitBtn1);
  auto* example = new QLabel("notepad|><readme.txt");
  example->setFont(bold);

  auto* lower = new QVBoxLayout;
  lower->setSpacing(3);
  lower->addWidget(new QLabel("Caption of the Self Extracting Archive Program"));
  lower->addWidget(CaptionEdit);
  lower->addSpacing(6);
  lower->addWidget(new QLabel(
      "Default Extract Directory on User's Computer  (if '><' then the temporary directory will be used)"));
  lower->addLayout(dirRow);
  lower->addSpacing(6);
  lower->addWidget(new QLabel("Special Command Line Symbols:"));
  lower->addWidget(new QLabel("A vertical bar '|' separates the program name from the argument list"));
  lower->addWidget(new QLabel("Two Arrows '><' will be replaced by the actual extract directory"));
  lower->addWidget(new QLabel("The following example runs notepad to display readme.txt in extract dir:"));
  lower->addWidget(example);
  lower->addSpacing(6);
  lower->addWidget(new QLabel("Command Line to Exec After Extraction"));
  lower->addWidget(CommandEdit);
  lower->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(upper);
  layout->addSpacing(10);
  layout->addLayout(lower, 1);

  QWidget* order[] = {DfltOverWriteGrp, CmdLineCB, FileListCB, HideOverWriteCB, ExecBut, CancelBut, AutoRunCB,
                      CaptionEdit, DirectoryEdit, BitBtn1, CommandEdit};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(ExecBut, &QPushButton::clicked, this, [this] { ExecButClick(); });
  connect(CancelBut, &QPushButton::clicked, this, [this] { CancelButClick(); });
  connect(BitBtn1, &QToolButton::clicked, this, [this] { BitBtn1Click(); });

  resize(716, 483);
  CentreOnScreen(this);
  main.AttachMakeSFX(this);
}

void TMakeSFX::ExecButClick() {
  TMarlin& m = main_.Marlin1;
  SFXOpts o = m.SFXOptions();
  auto apply = [&o](QCheckBox* box, SFXOptsEnum option) {
    if (box->isChecked())
      o.Include(option);
    else
      o.Exclude(option);
  };
  apply(CmdLineCB, SFXOptsEnum::SFXAskCmdLine);
  apply(FileListCB, SFXOptsEnum::SFXAskFiles);
  apply(HideOverWriteCB, SFXOptsEnum::SFXHideOverWriteBox);
  apply(AutoRunCB, SFXOptsEnum::SFXAutoRun);
  m.SetSFXOptions(o);
  switch (DfltOverWriteGrp->ItemIndex()) {
    case 0: m.SetSFXOverWriteMode(OvrOpts::OvrConfirm); break;
    case 1: m.SetSFXOverWriteMode(OvrOpts::OvrAlways); break;
    case 2: m.SetSFXOverWriteMode(OvrOpts::OvrNever); break;
    default: break;
  }
  m.SetSFXCaption(CaptionEdit->text().toStdString());
  m.SetSFXDefaultDir(DirectoryEdit->text().toStdString());
  m.SetSFXCommandLine(CommandEdit->text().toStdString());
  main_.DoIt = true;
  accept();
}

void TMakeSFX::CancelButClick() {
  main_.DoIt = false;
  QDialog::reject();
}

void TMakeSFX::BitBtn1Click() {
  std::string folder = DirectoryEdit->text().toStdString();
  main_.AskDirDialog(this, folder);
  DirectoryEdit->setText(QString::fromStdString(folder));
}
