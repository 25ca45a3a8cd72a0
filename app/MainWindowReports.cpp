// How the component's reports reach the message window: log lines, boxes for errors,
// and the two progress bars with the status panels.

#include <QLabel>
#include <algorithm>
#include <QProgressBar>

#include "MainWindow.h"
#include "MessageWindow.h"

void TMainform::Marlin1Message(int errCode, const std::string& text) {
  if (!Msgform) return;  // still starting up
  Msgform->AppendLine(QString::fromStdString(text));
  Msgform->PostScrollCaret();
  if (errCode > 0 && !Marlin1.Unattended()) ShowMessage("Error Msg: " + text);
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
      m.FileBeingZipped->setText(QString::fromStdString(filename));
      m.ProgressBar1->setValue(1);
      CurFileSize = fileSize;
      CurFileDone = 0;
      break;
    case ProgressType::ProgrUpdate:
      CurFileDone += fileSize;
      BatchDone += fileSize;
      if (CurFileSize == 0)
        m.ProgressBar1->setValue(10001);
      else
        m.ProgressBar1->setValue(BarValue(CurFileDone * 10000 / CurFileSize + 1));
      if (BatchSize != 0) m.ProgressBar2->setValue(BarValue(BatchDone * 10000 / BatchSize + 1));
      break;
    case ProgressType::ProgrEndOfBatch:
      m.FileBeingZipped->clear();
      m.ProgressBar1->setValue(1);
      m.StatusPanel0->clear();
      m.StatusPanel1->clear();
      m.ProgressBar2->setValue(1);
      break;
    case ProgressType::ProgrTotalFiles:
      m.StatusPanel1->setText(QString::number(fileSize) + " files");
      break;
    case ProgressType::ProgrTotalSize:
      m.StatusPanel0->setText("Total size: " + QString::number(fileSize / 1024) + " Kb");
      m.ProgressBar2->setValue(1);
      BatchSize = fileSize;
      BatchDone = 0;
      break;
    default:
      break;
  }
}
