#include "TesseraWindows.h"

#include <QApplication>

#include "AddDialog.h"
#include "ExtractDialog.h"
#include "MainWindow.h"
#include "MessageWindow.h"
#include "SfxDialog.h"
#include "WindowPlacement.h"

TesseraWindows::TesseraWindows(AppUi& ui, const QString& archive)
    : Mainform(std::make_unique<TMainform>(ui, archive)) {
  CentreOnScreen(Mainform.get());
  // The others are children of the main window and go with it.
  Msgform = new TMsgform(*Mainform);
  CentreOnScreen(Msgform);
  Extract = new TExtract(*Mainform);
  AddForm = new TAddForm(*Mainform);
  MakeSFX = new TMakeSFX(*Mainform);
}

TesseraWindows::~TesseraWindows() = default;

void SetUpApplication() {
  // Without TZ, the C library looks at /etc/localtime again on every local-time
  // conversion, and sorting a date column converts hundreds of thousands of times.
  // Naming the same zone file explicitly makes it read the file once.
  if (!qEnvironmentVariableIsSet("TZ")) qputenv("TZ", ":/etc/localtime");
  // The component titles its boxes with the application's name.
  QCoreApplication::setApplicationName("Tessera 4");
  QGuiApplication::setApplicationDisplayName("Tessera 4");
  QGuiApplication::setDesktopFileName("tessera");
  QApplication::setFont(QFont("Arial", 9));
}
