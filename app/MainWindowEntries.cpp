// What the main window offers beyond its buttons: opening an entry with the desktop's
// program, dragging rows out and files in, keys and the right-click menu on the grid,
// the recent archives and what is remembered between runs.

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QUrl>

#include "AddDialog.h"
#include "AppState.h"
#include "ExtractDialog.h"
#include "MainWindow.h"
#include "MessageWindow.h"
#include "RadioGroup.h"

namespace {
constexpr int kRecentCountLimit = 8;
}  // namespace

// ---- opening and dragging entries ----

QString TMainform::PrivateFolder() {
  if (!private_) {
    private_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tessera-XXXXXX");
    if (!private_->isValid()) {
      private_.reset();
      return {};
    }
  }
  // A folder of its own for each use, so that one never overwrites what another opened.
  static int counter = 0;
  const QString folder = private_->path() + "/" + QString::number(++counter);
  return QDir().mkpath(folder) ? folder : QString();
}

bool TMainform::ExtractQuietly(const std::vector<std::string>& names, const QString& folder) {
  if (names.empty() || folder.isEmpty() || Marlin1.SluiceBusy()) return false;
  const std::string baseDir = Marlin1.ExtrBaseDir();
  const ExtrOpts options = Marlin1.ExtrOptions();
  const QString cwd = QDir::currentPath();
  Marlin1.SetExtrBaseDir(folder.toStdString());
  Marlin1.SetExtrOptions(ExtrOpts{ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite});
  Marlin1.SetFSpecArgs(names);
  running_ = true;
  run_ = {};
  componentUi_.StartRun();
  try {
    Marlin1.Extract();
  } catch (...) {
    run_.Failed = std::max(run_.Failed, 1);
  }
  running_ = false;
  Marlin1.SetExtrBaseDir(baseDir);
  Marlin1.SetExtrOptions(options);
  QDir::setCurrent(cwd);
  const bool ok = Marlin1.SuccessCount() == int(names.size());
  if (!ok) {
    const std::string summary = run_.Summary();
    ShowMessage(summary.empty() ? "Could not extract the entries" : summary);
  }
  return ok;
}

void TMainform::OpenEntry(int row) {
  const TSortGrid& g = *StringGrid1;
  if (row < g.FixedRows() || row >= g.RowCount() - 1) return;
  const std::string name = (g.Cells(5, row) + g.Cells(0, row)).toStdString();
  const QString folder = PrivateFolder();
  if (!ExtractQuietly({name}, folder)) return;
  const QString file = folder + "/" + QString::fromStdString(name);
  if (!ui_.OpenUrl(QUrl::fromLocalFile(file)))
    ShowMessage("No program opens " + QFileInfo(file).fileName().toStdString() + " on this desktop");
}

QMimeData* TMainform::DragDataForSelection() {
  const std::vector<std::string> names = SelectedEntryNames();
  const QString folder = PrivateFolder();
  if (!ExtractQuietly(names, folder)) return nullptr;
  QList<QUrl> urls;
  for (const std::string& name : names) {
    QString path = folder + "/" + QString::fromStdString(name);
    if (path.endsWith('/')) path.chop(1);
    if (QFileInfo::exists(path)) urls << QUrl::fromLocalFile(path);
  }
  if (urls.isEmpty()) return nullptr;
  auto* data = new QMimeData;
  data->setUrls(urls);
  return data;
}

void TMainform::AddDropped(const QStringList& paths) {
  if (paths.isEmpty() || Marlin1.KilnBusy()) return;
  int files = 0, folders = 0;
  for (const QString& p : paths) (QFileInfo(p).isDir() ? folders : files)++;
  std::string what = std::to_string(files) + (files == 1 ? " file" : " files");
  if (folders > 0) what += " and " + std::to_string(folders) + (folders == 1 ? " folder" : " folders");
  if (!AskYesNo("Add " + what + " to " + Marlin1.ZipFilename() + "?")) return;
  // Stored as the file manager shows them: relative to the folder they were dropped from.
  const QString parent = QFileInfo(paths.first()).absolutePath();
  std::vector<std::string> specs;
  for (const QString& p : paths) {
    const QFileInfo info(p);
    const QString spec = info.absolutePath() == parent ? info.fileName() : info.absoluteFilePath();
    specs.push_back((info.isDir() ? spec + "/*.*" : spec).toStdString());
  }
  StartRun("Beginning Add to " + Marlin1.ZipFilename());
  Marlin1.SetAddOptions(AddOpts{AddOptsEnum::AddRecurseDirs, AddOptsEnum::AddDirNames});
  Marlin1.SetFSpecArgs(specs);
  const QString cwd = QDir::currentPath();
  QDir::setCurrent(parent);
  const uint32_t start = TickCount();
  try {
    Marlin1.Add();
  } catch (...) {
    ShowMessage("Error in Add; Fatal DLL Exception in mainunit");
  }
  QDir::setCurrent(cwd);
  FinishRun(start, " added");
}

// ---- keys, clicks and the right-click menu on the grid ----

void TMainform::BuildEntryMenu() {
  EntryMenu = new QMenu(this);
  OpenEntry1 = EntryMenu->addAction("&Open");
  ExtractEntries1 = EntryMenu->addAction("&Extract...");
  TestEntries1 = EntryMenu->addAction("&Test");
  EntryMenu->addSeparator();
  DeleteEntries1 = EntryMenu->addAction("&Delete");
  connect(OpenEntry1, &QAction::triggered, this, [this] { OpenEntry(StringGrid1->Row()); });
  connect(ExtractEntries1, &QAction::triggered, this, [this] {
    Extract->RadioGroup3->SetItemIndex(1);  // the selected rows
    ExtractButClick();
  });
  connect(TestEntries1, &QAction::triggered, this, [this] { TestButClick(); });
  connect(DeleteEntries1, &QAction::triggered, this, [this] { DeleteButClick(); });
}

bool TMainform::eventFilter(QObject* watched, QEvent* e) {
  TSortGrid& g = *StringGrid1;
  if (watched == &g && e->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->matches(QKeySequence::SelectAll)) {
      if (g.RowCount() > 2) g.SetSelection(TGridRect{0, 1, g.ColCount() - 1, g.RowCount() - 2});
      return true;
    }
    if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
      DeleteButClick();
      return true;
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier) {
      OpenEntry(g.Row());
      return true;
    }
    return false;
  }
  if (watched != g.viewport()) return QMainWindow::eventFilter(watched, e);
  switch (e->type()) {
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(e);
      const TGridCoord cell = g.MouseCoord(int(mouse->position().x()), int(mouse->position().y()));
      if (mouse->button() != Qt::LeftButton || cell.Y < g.FixedRows() || cell.Y >= g.RowCount() - 1) return false;
      OpenEntry(cell.Y);
      return true;
    }
    case QEvent::MouseButtonPress: {
      // A press on a selected row may start a drag: the selection must stay as it is.
      auto* mouse = static_cast<QMouseEvent*>(e);
      const TGridCoord cell = g.MouseCoord(int(mouse->position().x()), int(mouse->position().y()));
      dragArmed_ = mouse->button() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier &&
                   cell.Y >= g.FixedRows() && cell.Y < g.RowCount() - 1 && g.RowSelected(cell.Y);
      if (!dragArmed_) return false;
      dragStart_ = mouse->position().toPoint();
      g.setFocus(Qt::MouseFocusReason);
      return true;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(e);
      if (!dragArmed_ || !(mouse->buttons() & Qt::LeftButton)) return false;
      if ((mouse->position().toPoint() - dragStart_).manhattanLength() < QApplication::startDragDistance()) return true;
      dragArmed_ = false;
      if (QMimeData* data = DragDataForSelection()) {
        auto* drag = new QDrag(&g);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
      }
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (!dragArmed_) return false;
      // No drag after all: the click selects its row, as any click does.
      dragArmed_ = false;
      auto* mouse = static_cast<QMouseEvent*>(e);
      const TGridCoord cell = g.MouseCoord(int(mouse->position().x()), int(mouse->position().y()));
      if (cell.Y >= g.FixedRows() && cell.Y < g.RowCount()) g.FocusCell(std::max(cell.X, 0), cell.Y, true);
      return true;
    }
    default:
      return false;
  }
}

// ---- recent archives and remembered settings ----

void TMainform::RememberArchive(const QString& file) {
  recent_.removeAll(file);
  recent_.prepend(file);
  while (recent_.size() > kRecentCountLimit) recent_.removeLast();
  TesseraSettings().setValue("recent", recent_);
  FillRecentMenu();
}

void TMainform::FillRecentMenu() {
  RecentMenu->clear();
  for (int i = 0; i < recent_.size(); ++i) {
    const QString file = recent_[i];
    QAction* a = RecentMenu->addAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(file).fileName()));
    a->setToolTip(file);
    a->setData(file);
    connect(a, &QAction::triggered, this, [this, file] {
      if (QFileInfo(file).isFile())
        OpenArchive(file);
      else
        ShowMessage("Zip file not found: " + file.toStdString());
    });
  }
  RecentMenu->setEnabled(!recent_.isEmpty());
}

void TMainform::LoadSettings() {
  TesseraSettings s;
  const QSize size = s.value("main/size").toSize();
  if (size.isValid() && size.width() >= 200 && size.height() >= 150) resize(size);
  recent_ = s.value("recent").toStringList();
  OpenDir = s.value("folders/open").toString().toStdString();
  NewDir = s.value("folders/new").toString().toStdString();
  FillRecentMenu();
}

void TMainform::SaveSettings() {
  TesseraSettings s;
  s.setValue("main/size", size());
  s.setValue("folders/open", QString::fromStdString(OpenDir));
  s.setValue("folders/new", QString::fromStdString(NewDir));
  if (Msgform) s.setValue("messages/size", Msgform->size());
}

void TMainform::closeEvent(QCloseEvent* e) {
  SaveSettings();
  QMainWindow::closeEvent(e);
}

// ---- spanned sets ----

void TMainform::FollowNumberedSet() {
  const QString name = QString::fromStdString(Marlin1.ZipFilename());
  if (name.isEmpty() || QFileInfo::exists(name)) return;
  // Volumes on a fixed disk are numbered files: set.zip gives set001.zip, set002.zip, ...
  const QFileInfo info(name);
  const QString suffix = info.suffix().isEmpty() ? QString() : "." + info.suffix();
  const QString stem = info.absolutePath() + "/" + info.completeBaseName();
  QString last;
  for (int n = 1; n <= 999; ++n) {
    const QString volume = stem + QString("%1").arg(n, 3, 10, QChar('0')) + suffix;
    if (!QFileInfo::exists(volume)) break;
    last = volume;
  }
  if (!last.isEmpty()) SetZipFName(last.toStdString(), true);
}
