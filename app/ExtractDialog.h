#pragma once
// The extract dialog: target folder and the three choices of an extract.

#include <QDialog>

class QPushButton;
class TDriveComboBox;
class TDirectoryListBox;
class TRadioGroup;
class TMainform;

class TExtract : public QDialog {
 public:
  explicit TExtract(TMainform& main);

  TDriveComboBox* DriveComboBox1;
  TDirectoryListBox* DirectoryListBox1;
  QPushButton* OKBut;
  QPushButton* CancelBut;
  TRadioGroup* RadioGroup1;  // "Expand ZIP Dirs"
  TRadioGroup* RadioGroup2;  // "OverWrite Existing"
  TRadioGroup* RadioGroup3;  // "Files to Extract"

  void OKButClick();
  void CancelButClick();

 protected:
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;
  void reject() override { CancelButClick(); }

 private:
  void FormActivate();
};
