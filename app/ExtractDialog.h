#pragma once
// The extract dialog: target folder and the three choices of an extract.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class TDriveComboBox;
class TDirectoryListBox;
class TRadioGroup;
class TMainform;

class TExtract : public QDialog {
 public:
  explicit TExtract(TMainform& main);
  TMainform& Main() { return main_; }

  TDriveComboBox* DriveComboBox1;
  TDirectoryListBox* DirectoryListBox1;
  QPushButton* OKBut;
  QPushButton* CancelBut;
  TRadioGroup* RadioGroup1;  // "Expand ZIP Dirs"
  TRadioGroup* RadioGroup2;  // "OverWrite Existing"
  TRadioGroup* RadioGroup3;  // "Files to Extract"
  QLineEdit* PathEdit;        // the target folder, shown and typed
  QPushButton* NewFolderBut;
  QCheckBox* NamedFolderCB;  // into a folder named after the archive

  void OKButClick();
  void CancelButClick();
  // Makes a folder, named by the user, in the current folder and selects it.
  void NewFolderButClick();
  // The folder an OK would extract into, or an empty text when the typed path is no
  // usable folder name.
  QString TargetFolder() const;

 protected:
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;
  void reject() override { CancelButClick(); }

 private:
  void FormActivate();
  TMainform& main_;
};
