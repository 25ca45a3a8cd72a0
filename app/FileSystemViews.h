#pragma once
// The drive list, folder list and file list of the dialogs: a combo of the mounted
// volumes, a folder tree and the files of one folder.

#include <QComboBox>
#include <QFileSystemWatcher>
#include <QListWidget>
#include <QTreeView>
#include <functional>

class QFileSystemModel;
class TDirectoryListBox;
class TFileListBox;

// The mounted volumes by mount point. Choosing one makes it the bound folder list's
// current folder.
class TDriveComboBox : public QComboBox {
 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);
  void SetDirList(TDirectoryListBox* list) { dirList_ = list; }
  // Mount point of the chosen volume, with a trailing '/'.
  QString Drive() const;
  // Chooses the volume that holds `path` (added when the list lacks it).
  void SetDriveOf(const QString& path);
  void Refill();

 private:
  TDirectoryListBox* dirList_ = nullptr;
  bool quiet_ = false;
};

// Folders only, as a tree from the root; the current folder is the selected one.
class TDirectoryListBox : public QTreeView {
 public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);
  void SetFileList(TFileListBox* list) { fileList_ = list; }
  void SetDriveCombo(TDriveComboBox* combo) { driveCombo_ = combo; }
  // The current folder: an absolute path, never with a trailing '/' except the root.
  QString Directory() const { return directory_; }
  void SetDirectory(const QString& path);
  bool HasSelection() const;
  // Follows every change of the current folder.
  std::function<void(const QString&)> OnDirectoryChanged;

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  QFileSystemModel* model_;
  TFileListBox* fileList_ = nullptr;
  TDriveComboBox* driveCombo_ = nullptr;
  QString directory_;
  bool following_ = false;
};

// The files of one folder, with icons; several may be selected.
class TFileListBox : public QListWidget {
 public:
  explicit TFileListBox(QWidget* parent = nullptr);
  QString Directory() const { return directory_; }
  void SetDirectory(const QString& path);
  // Lists the folder again, keeping the selection of the names still there.
  void Update();

 private:
  QString directory_;
  QFileSystemWatcher watcher_;
};
