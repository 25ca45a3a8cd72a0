#pragma once
// The windows under test: one QApplication on the offscreen platform, a user interface
// that answers from a script, and the five windows made as the program makes them.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AddDialog.h"
#include "AppState.h"
#include "AppUi.h"
#include "ElidedLabel.h"
#include "ExtractDialog.h"
#include "FileSystemViews.h"
#include "MainWindow.h"
#include "MessageWindow.h"
#include "MinimizeName.h"
#include "RadioGroup.h"
#include "SfxDialog.h"
#include "TesseraWindows.h"
#include "TestFiles.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline bool Exists(const std::string& p) { return QFileInfo::exists(QString::fromStdString(p)); }

class ScriptedAppUi : public AppUi {
 public:
  std::vector<std::string> Boxes;    // texts of every box shown
  std::vector<int> Defaults;         // the default button of each box, by its index
  std::deque<int> Answers;           // answers to boxes with a choice; none left: No/Cancel
  std::deque<QString> Files;         // answers to file dialogs; none left: cancelled
  std::deque<QString> Folders;       // answers to folder dialogs
  std::deque<std::string> Texts;     // answers to text questions; none left: cancelled
  std::vector<std::string> TextCaptions;
  std::vector<std::string> TextPrompts;
  std::function<void(const std::string&)> OnBox;  // runs while a box is "open"

  int ShowBox(const BoxRequest& box) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
               int maxLength) override;
  void ProcessEvents() override {
    QCoreApplication::processEvents();
    if (OnEvents) OnEvents();
  }
  std::function<void()> OnEvents;  // runs at every callback of a running operation
  void SetBusyCursor(bool) override {}
  QString AskFileName(QWidget*, const FileDialogRequest& r) override;
  QString AskFolder(QWidget*, const QString&, const QString&) override;
  bool OpenUrl(const QUrl& url) override {
    Opened.push_back(url);
    return true;
  }
  std::vector<QUrl> Opened;  // what was handed to the desktop's programs
  FileDialogRequest LastFileRequest;
  std::string LastBox() const { return Boxes.empty() ? std::string() : Boxes.back(); }
};

class AppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;
  // Makes the windows; `archive` is opened as from the command line.
  void Start(const QString& archive = {});
  TMainform& Main() { return *windows->Mainform; }
  // Runs `action` once the next modal dialog is up.
  static void WhenDialogOpens(std::function<void()> action) { QTimer::singleShot(0, action); }
  // Writes a picture of the window into the test's build folder.
  static void Screenshot(QWidget* w, const QString& name);

  // An archive of Python's zipfile: each file is (name, text, stored?).
  struct Member {
    std::string Name;
    std::string Text;
    bool Stored = false;
  };
  std::string MakeZip(const std::string& name, const std::vector<Member>& members, const std::string& comment = {});
  // Makes such an archive and opens it as from the command line.
  std::string StartWith(const std::string& name, const std::vector<Member>& members, const std::string& comment = {});
  // Makes the folder `name` in the test's folder with files of (relative name, text).
  std::string Folder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files = {});
  std::vector<std::string> ZipNames(const std::string& archive);
  std::vector<QString> GridColumn(int col);
  // Shows in the message window what the reports since its last refresh left waiting.
  void ShowReports();
  // Extracts every entry into `folder` through the extract dialog, flat unless `expand`.
  void ExtractAllTo(const std::string& folder, bool expand = true, bool overwrite = false);

  QString startFolder;
  std::unique_ptr<testfiles::TempDir> tmp;
  ScriptedAppUi ui;
  std::unique_ptr<TesseraWindows> windows;
};
