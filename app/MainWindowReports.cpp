// How the component's reports reach the message window: log lines, a summing-up of the
// files that were skipped or failed, and the two progress bars with the status panels.

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "CompressionLibraries.h"
#include "MainWindow.h"
#include "MessageWindow.h"

void TMainform::Marlin1Message(int errCode, const std::string& text) {
  if (!Msgform) return;  // still starting up
  Msgform->AppendLine(QString::fromStdString(text));
  Msgform->PostScrollCaret();
  if (errCode <= 0) return;
  // During a run, a box per file would bury the user (one per skipped file of an
  // extract); they are counted and summed up in the run's last box instead.
  if (running_) {
    // After a cancel the entries that stop with it are no failures of their own.
    if (!Marlin1.CancelRequested()) run_.Count(errCode);
    return;
  }
  if (!Marlin1.Unattended()) ShowMessage("Error Msg: " + text);
}

void RunTally::Count(int libraryCode) {
  switch (libraryCode & 0xFF) {
    case kLibErrExists: ++Existing; break;
    case kLibErrSkipped: ++Skipped; break;
    case kLibErrCancelled: break;  // the run's end says so
    default: ++Failed; break;
  }
}

std::string RunTally::Summary() const {
  std::string text;
  auto line = [&text](const std::string& s) { text += (text.empty() ? "" : "\n") + s; };
  if (Existing == 1) line("1 file skipped: it exists");
  if (Existing > 1) line(std::to_string(Existing) + " files skipped: they exist");
  if (Skipped > 0) line(std::to_string(Skipped) + (Skipped == 1 ? " file skipped" : " files skipped"));
  if (Failed > 0) line(std::to_string(Failed) + " failed");
  return text;
}

namespace {
// A library that reports more than it announced must not push a bar out of its range.
int BarValue(int64_t v) { return int(std::clamp<int64_t>(v, 1, 10001)); }
}  // namespace

void TMainform::Marlin1Progress(ProgressType type, const std::string& filename, int64_t fileSize) {
  if (!Msgform) return;
  TMsgform& m = *Msgform;
  switch (type) {
    case ProgressType::ProgrNewFile:
      m.ShowFileName(QString::fromStdString(filename));
      m.ShowFileBar(1);
      CurFileSize = fileSize;
      CurFileDone = 0;
      break;
    case ProgressType::ProgrUpdate:
      CurFileDone += fileSize;
      BatchDone += fileSize;
      if (CurFileSize == 0)
        m.ShowFileBar(10001);
      else
        m.ShowFileBar(BarValue(CurFileDone * 10000 / CurFileSize + 1));
      if (BatchSize != 0) m.ShowBatchBar(BarValue(BatchDone * 10000 / BatchSize + 1));
      break;
    case ProgressType::ProgrEndOfBatch:
      m.ShowFileName({});
      m.ShowFileBar(1);
      m.ShowPanel0({});
      m.ShowPanel1({});
      m.ShowBatchBar(1);
      break;
    case ProgressType::ProgrTotalFiles:
      m.ShowPanel1(QString::number(fileSize) + " files");
      break;
    case ProgressType::ProgrTotalSize:
      m.ShowPanel0("Total size: " + QString::number(fileSize / 1024) + " Kb");
      m.ShowBatchBar(1);
      BatchSize = fileSize;
      BatchDone = 0;
      break;
    default:
      break;
  }
}
