#pragma once
// The self-extractor options dialog: the texts and switches written into the header of
// a self-extracting archive.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class TRadioGroup;
class TMainform;

class TMakeSFX : public QDialog {
 public:
  explicit TMakeSFX(TMainform& main);

  TRadioGroup* DfltOverWriteGrp;
  QCheckBox* CmdLineCB;
  QCheckBox* FileListCB;
  QCheckBox* HideOverWriteCB;
  QPushButton* ExecBut;
  QPushButton* CancelBut;
  QCheckBox* AutoRunCB;
  QLineEdit* CaptionEdit;
  QLineEdit* DirectoryEdit;
  QToolButton* BitBtn1;
  QLineEdit* CommandEdit;

  void ExecButClick();
  void CancelButClick();
  void BitBtn1Click();

 protected:
  // Esc and the title bar cancel, like the Cancel button.
  void reject() override { CancelButClick(); }

 private:
  TMainform& main_;
};
