#pragma once
// Program-wide state through which the dialogs hand their answers to the main window.

#include <QSettings>
#include <string>

extern std::string OpenDir;     // folder the Open dialog starts in, ending in '/'
extern std::string NewDir;      // the same for the New dialog
extern std::string ExtractDir;  // target of an extract; empty when the dialog was cancelled
extern bool ExpandDirs;         // recreate stored folders when extracting
extern bool OverWr;             // overwrite existing files when extracting
extern bool AllFiles;           // extract every entry, not only the selected rows
extern bool Canceled;           // the add or extract dialog closed without confirmation

// What the program remembers between runs: window size, folders, recent archives.
class TesseraSettings : public QSettings {
 public:
  TesseraSettings() : QSettings("tessera", "tessera") {}
};
