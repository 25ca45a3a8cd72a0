// The desktop program's archive commands, timed as a user runs them: the real windows
// and dialogs, the real user interface (boxes are answered OK or Yes at once), the real
// message window with its progress. Run by bench/app_commands.sh beside tessera-cli.
//
//   app_commands add ARCHIVE FOLDER      add FOLDER's content, recursed, with folder names
//   app_commands extract ARCHIVE FOLDER  extract everything into FOLDER, overwriting
//   app_commands test ARCHIVE
//   app_commands delete ARCHIVE ENTRY
//
// Prints the command's wall time in seconds (from the button that starts the work, the
// dialog's own where there is one, until the command's last box)
// and the box texts; exits 1 when the command reported a failure.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <string>

#include "AddDialog.h"
#include "AppState.h"
#include "AppUi.h"
#include "ExtractDialog.h"
#include "FileSystemViews.h"
#include "MainWindow.h"
#include "MessageWindow.h"
#include "RadioGroup.h"
#include "SortGrid.h"
#include "TesseraWindows.h"

namespace {

// The real user interface, with a user who answers every box with OK or Yes at once.
class AnsweringUi : public QtAppUi {
 public:
  std::vector<std::string> boxes;
  QString file;
  int ShowBox(const BoxRequest& box) override {
    boxes.push_back(box.Text);
    return box.Buttons == BoxButtons::YesNo || box.Buttons == BoxButtons::YesNoCancel ? boxresult::Yes
                                                                                     : boxresult::Ok;
  }
  QString AskFileName(QWidget*, const FileDialogRequest&) override { return file; }
};

void WhenDialogOpens(std::function<void()> action) { QTimer::singleShot(0, action); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: app_commands add|extract|test|delete ARCHIVE [FOLDER|ENTRY]\n");
    return 2;
  }
  QApplication app(argc, argv);
  SetUpApplication();
  AnsweringUi ui;
  const std::string command = argv[1];
  const QString archive = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
  const QString arg = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  TesseraWindows windows(ui, command == "add" ? QString() : archive);
  TMainform& m = *windows.Mainform;
  m.show();
  QCoreApplication::processEvents();

  QElapsedTimer clock;
  if (command == "add") {
    ui.file = archive;
    m.NewZipButClick();
    TAddForm& add = *windows.AddForm;
    WhenDialogOpens([&] {
      add.DirectoryListBox1->SetDirectory(QFileInfo(arg).absoluteFilePath());
      add.AddDirButClick();
      add.RecurseCB->setChecked(true);
      add.DirNameCB->setChecked(true);
      clock.start();  // the user's part ends with the dialog's button
      add.OKButClick();
    });
    m.AddButClick();
  } else if (command == "extract") {
    TExtract& ex = *windows.Extract;
    WhenDialogOpens([&] {
      ex.PathEdit->setText(QFileInfo(arg).absoluteFilePath());
      ex.RadioGroup1->SetItemIndex(1);
      ex.RadioGroup2->SetItemIndex(1);
      ex.RadioGroup3->SetItemIndex(0);
      clock.start();
      ex.OKButClick();
    });
    m.ExtractButClick();
  } else if (command == "test") {
    clock.start();
    m.TestButClick();
  } else if (command == "delete") {
    TSortGrid& g = *m.StringGrid1;
    int row = -1;
    for (int r = 1; r < g.RowCount() - 1 && row < 0; ++r)
      if (g.Cells(5, r) + g.Cells(0, r) == arg) row = r;
    if (row < 0) {
      std::fprintf(stderr, "no entry %s\n", qPrintable(arg));
      return 1;
    }
    g.SetSelection(TGridRect{0, row, 5, row});
    clock.start();
    m.DeleteButClick();
  } else {
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
  }
  const double seconds = clock.nsecsElapsed() / 1e9;
  std::printf("%.3f\n", seconds);
  bool failed = false;
  for (const std::string& box : ui.boxes) {
    std::fprintf(stderr, "box: %s\n", box.c_str());
    if (box.find("ERROR") != std::string::npos || box.find("failed") != std::string::npos) failed = true;
  }
  return failed ? 1 : 0;
}
