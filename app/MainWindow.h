#pragma once
// The main window: the archive component and its entry grid, the archive commands and
// the handlers through which the component reports.

#include <QMainWindow>
#include <cstdint>
#include <string>

#include "AppUi.h"
#include "SortGrid.h"
#include "TMarlin.h"

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class TMsgform;
class TExtract;
class TAddForm;
class TMakeSFX;

class TMainform : public QMainWindow {
 public:
  // Loads the libraries and, when `archive` is not empty, opens it.
  TMainform(AppUi& ui, const QString& archive);
  ~TMainform() override;

  // The windows created after this one announce themselves.
  void AttachMsgform(TMsgform* w) { Msgform = w; }
  void AttachExtract(TExtract* w) { Extract = w; }
  void AttachAddForm(TAddForm* w) { AddForm = w; }
  void AttachMakeSFX(TMakeSFX* w) { MakeSFX = w; }

  AppUi& Ui() { return ui_; }

  TMarlin Marlin1;
  TSortGrid* StringGrid1;

  QPushButton* ZipOpenBut;
  QPushButton* NewZipBut;
  QPushButton* DeleteZipBut;
  QPushButton* AddBut;
  QPushButton* ExtractBut;
  QPushButton* ConvertBut;
  QPushButton* TestBut;
  QPushButton* DeleteBut;
  QPushButton* MsgBut;
  QLabel* TimeLabel;
  QLabel* ZipFName;
  QPushButton* CloseBut;
  QCheckBox* VerboseCB;
  QCheckBox* TraceCB;
  QCheckBox* UnattendedCB;
  QLabel* FilesLabel;
  QAction* Exit1;
  QAction* Showlasterror1;
  QAction* Zipcomment1;
  QAction* DLLversioninfo1;

  TMsgform* Msgform = nullptr;
  TExtract* Extract = nullptr;
  TAddForm* AddForm = nullptr;
  TMakeSFX* MakeSFX = nullptr;

  // Totals of the last refill; 64 bits, so that archives of 4 GiB and more add up.
  uint64_t TotUncomp = 0;
  uint64_t TotComp = 0;
  bool DoIt = false;
  int64_t CurFileSize = 0, CurFileDone = 0, BatchSize = 0, BatchDone = 0;

  // ---- start-up and archive naming ----
  void ZipOpenButClick();
  void NewZipButClick();
  void DeleteZipButClick();
  void CloseButClick() { close(); }
  void SetZipFName(const std::string& name, bool assign);
  void GetSpecialFolder(std::string& path);
  // Lets the user pick a folder; true with `folder` set (ending in '/') when one was picked.
  bool AskDirDialog(QWidget* owner, std::string& folder);
  // Opens the archive as if chosen with Open (used by a drop on the window).
  void OpenArchive(const QString& file);

  // ---- grid ----
  void Marlin1DirUpdate();
  void FillGrid();
  void ShowTotals();

  // ---- commands ----
  void AddButClick();
  void ExtractButClick();
  void DeleteButClick();
  void TestButClick();
  void ConvertButClick();
  void MsgButClick();
  void Showlasterror1Click();
  void Zipcomment1Click();
  void DLLversioninfo1Click();

  // ---- reports of the component ----
  void Marlin1Progress(ProgressType type, const std::string& filename, int64_t fileSize);
  void Marlin1Message(int errCode, const std::string& text);

  // A plain message box and a Yes/No question (true for Yes).
  void ShowMessage(const std::string& text);
  bool AskYesNo(const std::string& text);

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void BuildControls();
  void SetUpMarlin();
  void SetUpGrid();
  void FormCreate(const QString& archive);
  void FormResize();
  void StartRun(const std::string& beginning);
  void FinishRun(uint32_t start, const char* verb);
  // Full stored names of the selected data rows, top to bottom.
  std::vector<std::string> SelectedEntryNames() const;

  AppUi& ui_;
};

// "mm:ss" of the time between two millisecond ticks (32-bit, wrapping).
std::string ElapsedText(uint32_t start, uint32_t end);
// Milliseconds of a monotonic clock, cut to 32 bits.
uint32_t TickCount();
// "n file was"/"n files were" and the verb.
std::string CountMessage(int count, const char* verb);
// The ratio cell of `packed` of `unpacked` bytes: "45% ", "0% " for nothing unpacked.
QString RatioText(uint64_t packed, uint64_t unpacked);
// Whether an archive name has the self-extracting ".EXE" extension, in any case.
bool IsExeName(const std::string& name);
