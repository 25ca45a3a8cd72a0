#pragma once
// The program's five windows, created once in a fixed order and kept until the end.

#include <memory>

#include <QString>

class AppUi;
class TMainform;
class TMsgform;
class TExtract;
class TAddForm;
class TMakeSFX;

struct TesseraWindows {
  // Creates main window, message window, extract, add and self-extractor dialogs, in
  // that order; the main window opens `archive` when it is not empty.
  TesseraWindows(AppUi& ui, const QString& archive);
  ~TesseraWindows();

  std::unique_ptr<TMainform> Mainform;
  TMsgform* Msgform;
  TExtract* Extract;
  TAddForm* AddForm;
  TMakeSFX* MakeSFX;
};

// The application's look: title and the fonts the windows are laid out for.
void SetUpApplication();
