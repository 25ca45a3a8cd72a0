#pragma once
// The add dialog: browse for files and folders, collect their specifications, choose
// the add options and the action.

#include <QDialog>

class QAction;
class QCheckBox;
class QListWidget;
class QMenu;
class QPushButton;
class TDriveComboBox;
class TDirectoryListBox;
class TFileListBox;
class TMainform;

class TAddForm : public QDialog {
 public:
  explicit TAddForm(TMainform& main);

  TDriveComboBox* DriveComboBox1;
  TDirectoryListBox* DirectoryListBox1;
  QPushButton* SelectAllBut;
  TFileListBox* FileListBox1;
  QCheckBox* DirNameCB;
  QCheckBox* EncryptCB;
  QCheckBox* RecurseCB;
  QCheckBox* DiskSpanCB;
  QPushButton* AddBtn;
  QPushButton* VolSizeBut;
  QPushButton* FreeDisk1But;
  QPushButton* AddFileBut;
  QPushButton* AddDirBut;
  QPushButton* RemoveBut;
  QPushButton* OKBut;
  QPushButton* CancelBut;
  QPushButton* SortBut;
  QListWidget* SelectedList;
  QMenu* PopupMenu1;
  QAction* Add1;
  QAction* Update1;
  QAction* Freshen1;
  QAction* Move1;

  int Action = 0;  // tag of the action item last chosen; 0 counts as Add
  bool ListSorted() const { return sorted_; }

  void AddFileButClick();
  void AddDirButClick();
  void RemoveButClick();
  void SelectAllButClick();
  void SortButClick();
  void AddBtnClick();
  void Add1Click(QAction* item);
  void DiskSpanCBClick();
  void VolSizeButClick();
  void FreeDisk1ButClick();
  void OKButClick();
  void CancelButClick();

 protected:
  // Esc and the title bar cancel, like the Cancel button.
  void reject() override { CancelButClick(); }

 private:
  // Appends (or, once sorted, inserts in order) unless an item equal but for case is there.
  void AddSpec(const QString& spec);
  void ScrollListToEnd();
  QString CurrentFolder() const;
  bool AskNumber(const char* caption, const char* prompt, int64_t& value);

  TMainform& main_;
  bool sorted_ = false;
};
