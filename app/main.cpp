// tessera: the desktop program.

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "AppUi.h"
#include "MainWindow.h"
#include "TesseraWindows.h"
#include "UDisksManager.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit then fails a write, which is reported, instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "tessera: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Start it from a desktop session, or use tessera-cli on the command line.\n");
    return 2;
  }
  QApplication app(argc, argv);
  SetUpApplication();
  LinuxVolumeService::SetDiskManager(MakeUDisksManager());
  QtAppUi ui;
  const QStringList args = QApplication::arguments();
  TesseraWindows windows(ui, args.size() > 1 ? args.at(1) : QString());
  windows.Mainform->show();
  return app.exec();
}
