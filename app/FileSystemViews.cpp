#include "FileSystemViews.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QSet>
#include <QStorageInfo>

#include "MinimizeName.h"

// ---- drives ----

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  Refill();
  connect(this, &QComboBox::currentIndexChanged, this, [this](int) {
    if (!quiet_ && dirList_) dirList_->SetDirectory(Drive());
  });
}

void TDriveComboBox::Refill() {
  quiet_ = true;
  const QString keep = Drive();
  clear();
  QStringList roots;
  for (const QStorageInfo& s : QStorageInfo::mountedVolumes())
    if (s.isValid() && s.isReady()) roots << s.rootPath();
  roots.removeDuplicates();
  roots.sort();
  QFileIconProvider icons;
  for (const QString& r : roots) {
    const QString root = r.endsWith('/') ? r : r + '/';
    addItem(icons.icon(QFileIconProvider::Drive), root, root);
  }
  if (!keep.isEmpty()) setCurrentIndex(findData(keep));
  quiet_ = false;
}

QString TDriveComboBox::Drive() const { return currentData().toString(); }

void TDriveComboBox::SetDriveOf(const QString& path) {
  QString root = MountPointOf(path) + '/';
  int at = findData(root);
  quiet_ = true;
  if (at < 0) {
    addItem(QFileIconProvider().icon(QFileIconProvider::Drive), root, root);
    at = count() - 1;
  }
  setCurrentIndex(at);
  quiet_ = false;
}

// ---- folders ----

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QTreeView(parent), model_(new QFileSystemModel(this)) {
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  model_->setRootPath(QDir::rootPath());
  setModel(model_);
  for (int c = 1; c < model_->columnCount(); ++c) hideColumn(c);
  header()->hide();
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformRowHeights(true);
  SetDirectory(QDir::rootPath());
}

void TDirectoryListBox::SetDirectory(const QString& path) {
  const QString clean = QDir::cleanPath(QDir(path).absolutePath());
  if (!QFileInfo(clean).isDir()) return;
  const QModelIndex index = model_->index(clean);
  following_ = true;
  directory_ = clean;
  if (index.isValid()) {
    setCurrentIndex(index);
    expand(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
  }
  following_ = false;
  if (fileList_) fileList_->SetDirectory(directory_);
  if (driveCombo_) driveCombo_->SetDriveOf(directory_);
  if (OnDirectoryChanged) OnDirectoryChanged(directory_);
}

bool TDirectoryListBox::HasSelection() const { return currentIndex().isValid(); }

void TDirectoryListBox::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTreeView::currentChanged(current, previous);
  if (following_ || !current.isValid()) return;
  directory_ = model_->filePath(current);
  if (fileList_) fileList_->SetDirectory(directory_);
  if (driveCombo_) driveCombo_->SetDriveOf(directory_);
  if (OnDirectoryChanged) OnDirectoryChanged(directory_);
}

// ---- files ----

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformItemSizes(true);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Update(); });
}

void TFileListBox::SetDirectory(const QString& path) {
  if (!directory_.isEmpty()) watcher_.removePath(directory_);
  directory_ = path;
  clear();
  Update();
  if (!directory_.isEmpty()) watcher_.addPath(directory_);
}

void TFileListBox::Update() {
  QSet<QString> selected;
  for (QListWidgetItem* item : selectedItems()) selected.insert(item->text());
  clear();
  if (directory_.isEmpty()) return;
  const QFileInfoList files =
      QDir(directory_).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  QFileIconProvider icons;
  // Icons by file type cost a look into each file's type; a huge folder gets plain ones.
  const bool byType = files.size() <= 2000;
  const QIcon plain = icons.icon(QFileIconProvider::File);
  for (const QFileInfo& f : files) {
    auto* item = new QListWidgetItem(byType ? icons.icon(f) : plain, f.fileName(), this);
    if (selected.contains(f.fileName())) item->setSelected(true);
  }
}
