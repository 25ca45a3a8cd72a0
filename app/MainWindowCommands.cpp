// The archive commands of the main window: each checks its inputs in a fixed order,
// runs one component operation and reports its outcome.

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>

#include "AddDialog.h"
#include "AppState.h"
#include "ExtractDialog.h"
#include "MainWindow.h"
#include "MessageWindow.h"
#include "SfxDialog.h"

std::vector<std::string> TMainform::SelectedEntryNames() const {
  std::vector<std::string> names;
  const TSortGrid& g = *StringGrid1;
  const int footer = g.RowCount() - 1;
  for (int row : g.SelectedRows())
    if (row >= g.FixedRows() && row < footer) names.push_back((g.Cells(5, row) + g.Cells(0, row)).toStdString());
  return names;
}

void TMainform::StartRun(const std::string& beginning) {
  if (Msgform) {
    Msgform->ClearLog();
    Msgform->ShowModeless();
  }
  Marlin1Message(0, beginning);
  running_ = true;
  run_ = {};
  componentUi_.StartRun();
}

namespace {
std::string WithSummary(std::string text, const RunTally& tally) {
  const std::string summary = tally.Summary();
  return summary.empty() ? text : text + "\n" + summary;
}
}  // namespace

void TMainform::FinishRun(uint32_t start, const char* verb) {
  running_ = false;
  if (Msgform) Msgform->Refresh();
  TimeLabel->setText(QString::fromStdString(ElapsedText(start, TickCount())));
  ShowMessage(WithSummary(CountMessage(Marlin1.SuccessCount(), verb), run_));
}

void TMainform::AddButClick() {
  if (Marlin1.ZipFilename().empty()) {
    ShowMessage("Error - open a zip file first");
    return;
  }
  Canceled = false;
  AddForm->exec();
  if (Canceled) return;
  QListWidget* list = AddForm->SelectedList;
  if (list->count() == 0) {
    ShowMessage("No files selected");
    return;
  }
  StartRun("Beginning Add to " + Marlin1.ZipFilename());
  AddOpts options;
  switch (AddForm->Action) {
    case 2: options.Include(AddOptsEnum::AddUpdate); break;
    case 3: options.Include(AddOptsEnum::AddFreshen); break;
    case 4: options.Include(AddOptsEnum::AddMove); break;
    default: break;
  }
  if (AddForm->RecurseCB->isChecked()) options.Include(AddOptsEnum::AddRecurseDirs);
  if (AddForm->DirNameCB->isChecked()) options.Include(AddOptsEnum::AddDirNames);
  if (AddForm->DiskSpanCB->isChecked()) options.Include(AddOptsEnum::AddDiskSpan);
  if (AddForm->EncryptCB->isChecked()) options.Include(AddOptsEnum::AddEncrypt);
  Marlin1.SetAddOptions(options);
  std::vector<std::string> specs;
  for (int i = 0; i < list->count(); ++i) specs.push_back(list->item(i)->text().toStdString());
  Marlin1.SetFSpecArgs(specs);
  list->clear();
  const uint32_t start = TickCount();
  try {
    Marlin1.Add();
  } catch (...) {
    ShowMessage("Error in Add; Fatal DLL Exception in mainunit");
  }
  if (options.Contains(AddOptsEnum::AddDiskSpan)) FollowNumberedSet();
  FinishRun(start, " added");
}

void TMainform::ExtractButClick() {
  const std::string& name = Marlin1.ZipFilename();
  if (name.empty() || !QFileInfo(QString::fromStdString(name)).isFile()) {
    ShowMessage("Error: file not found: " + name);
    return;
  }
  Extract->exec();
  if (ExtractDir.empty() || Canceled) return;
  if (Marlin1.EntryCount() < 1) {
    ShowMessage("Error - no files to extract");
    return;
  }
  Marlin1.SetFSpecArgs({});
  if (!AllFiles) {
    // Empty, the library takes every entry: so no selection must stop here.
    Marlin1.SetFSpecArgs(SelectedEntryNames());
    if (Marlin1.FSpecArgs().empty()) {
      ShowMessage("Error - no files selected");
      return;
    }
  }
  StartRun("Beginning Extract from " + Marlin1.ZipFilename());
  Marlin1.SetExtrBaseDir(ExtractDir);
  ExtrOpts options;
  if (ExpandDirs) options.Include(ExtrOptsEnum::ExtrDirNames);
  if (OverWr) options.Include(ExtrOptsEnum::ExtrOverWrite);
  Marlin1.SetExtrOptions(options);
  const uint32_t start = TickCount();
  try {
    Marlin1.Extract();
  } catch (...) {
    ShowMessage("Error in Extract; Fatal DLL Exception in mainunit");
  }
  FinishRun(start, " extracted");
}

void TMainform::DeleteButClick() {
  if (Marlin1.EntryCount() < 1) {
    ShowMessage("Error - no files to delete");
    return;
  }
  if (!AskYesNo("Delete selected files from: " + Marlin1.ZipFilename() + "?", true)) return;
  const std::vector<std::string> specs = SelectedEntryNames();
  Marlin1.SetFSpecArgs(specs);
  if (specs.empty()) {
    ShowMessage("Error - no files selected");
    return;
  }
  StartRun("Beginning delete from " + Marlin1.ZipFilename());
  const uint32_t start = TickCount();
  try {
    Marlin1.Delete();
  } catch (...) {
    ShowMessage("Fatal error trying to delete");
  }
  FinishRun(start, " deleted");
}

void TMainform::TestButClick() {
  if (Marlin1.EntryCount() < 1) {
    ShowMessage("Error - nothing to Test");
    return;
  }
  StartRun("Beginning test of " + Marlin1.ZipFilename());
  Marlin1.SetExtrOptions(Marlin1.ExtrOptions().Include(ExtrOptsEnum::ExtrTest));
  Marlin1.SetFSpecArgs({"*.*"});
  const uint32_t start = TickCount();
  try {
    Marlin1.Extract();
  } catch (const std::exception& e) {
    // Nothing may escape into the event loop: the failure ends the command here.
    running_ = false;
    ShowMessage(e.what());
    return;
  } catch (...) {
    running_ = false;
    ShowMessage("Error in Extract; Fatal DLL Exception in mainunit");
    return;
  }
  running_ = false;
  if (Msgform) Msgform->Refresh();
  TimeLabel->setText(QString::fromStdString(ElapsedText(start, TickCount())));
  const int entries = Marlin1.EntryCount();
  const int good = Marlin1.SuccessCount();
  run_.Failed = 0;  // the count of bad files says it already
  if (entries == good)
    ShowMessage(WithSummary("All " + std::to_string(entries) + " files tested OK", run_));
  else
    ShowMessage(WithSummary("ERROR: " + std::to_string(entries - good) + " files tested as bad, or skipped!", run_));
}

void TMainform::ConvertButClick() {
  if (Marlin1.EntryCount() == 0) {
    ShowMessage("Error: no files in archive");
    return;
  }
  if (IsExeName(Marlin1.ZipFilename())) {
    const int r = Marlin1.ConvertZIP();
    if (r != 0)
      ShowMessage("Error " + std::to_string(r) + " occured in making .ZIP file");
    else
      ShowMessage("Filename is now: " + Marlin1.ZipFilename());
    return;
  }
  MakeSFX->exec();
  if (!DoIt) return;
  const int r = Marlin1.ConvertSFX();
  if (r != 0)
    ShowMessage("Error " + std::to_string(r) + " occured in making .EXE file");
  else
    ShowMessage("Filename is now: " + Marlin1.ZipFilename());
}

void TMainform::MsgButClick() {
  if (Msgform) Msgform->ShowModeless();
}

void TMainform::Showlasterror1Click() {
  if (Marlin1.LastErrCode() != 0)
    ShowMessage(std::to_string(Marlin1.LastErrCode()) + " " + Marlin1.LastMessage());
  else
    ShowMessage("No last error present");
}

void TMainform::Zipcomment1Click() {
  if (Marlin1.ArchiveComment().empty()) {
    ShowMessage("No Zip comment in this zip file");
    return;
  }
  if (!Msgform) return;
  Msgform->ClearLog();
  Msgform->AppendLine(QString::fromStdString(Marlin1.ArchiveComment()));
  Msgform->ShowModeless();
}

void TMainform::DLLversioninfo1Click() {
  const int sluice = Marlin1.SluiceVersion();
  const int kiln = Marlin1.KilnVersion();
  ShowMessage("Sluice version: " + std::to_string(sluice) + "\n  Kiln version: " + std::to_string(kiln));
}
