#pragma once
// The main window: the archive component and its entry grid, the archive commands and
// the handlers through which the component reports.

#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>

#include "AppUi.h"
#include "SortGrid.h"
#include "TMarlin.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QMimeData;
class QPushButton;
class QTemporaryDir;
class TMsgform;
class TExtract;
class TAddForm;
class TMakeSFX;
class NameEncodingMenu;

// What the library reported of single files during one run, for its last box.
struct RunTally {
  int Existing = 0;  // not overwritten
  int Skipped = 0;
  int Failed = 0;
  void Count(int libraryCode);
  // "3 files skipped: they exist", "1 failed", one per line; empty when all went well.
  std::string Summary() const;
};

class TMainform;

// The component asks the user through the main window: a cancelled password prompt
// stops the whole run (the message window's Cancel is out of reach behind the prompt),
// and a prompt that comes back for the same entry says the password was wrong.
class ComponentUi : public MarlinUi {
 public:
  explicit ComponentUi(TMainform& main) : main_(main) {}
  int ShowBox(const BoxRequest& box) override;
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
               int maxLength) override;
  void ProcessEvents() override;
  void SetBusyCursor(bool busy) override;
  void StartRun() { lastPrompt_.clear(); }

 private:
  TMainform& main_;
  std::string lastPrompt_;
};

class TMainform : public QMainWindow {
  // Made before the component, which keeps a pointer to it.
  ComponentUi componentUi_;

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
  NameEncodingMenu* NameMenu = nullptr;
  QMenu* ViewMenu;    // further views are added here
  QMenu* RecentMenu;  // File, the archives opened last
  // The entry grid's right-click menu.
  QMenu* EntryMenu;
  QAction* OpenEntry1;
  QAction* ExtractEntries1;
  QAction* TestEntries1;
  QAction* DeleteEntries1;

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
  // Opens the archive as if chosen with Open (used by a drop and by the recent list).
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

  // A plain message box and a Yes/No question (true for Yes). A question whose Yes
  // destroys data defaults to No, so that a stray Enter keeps everything.
  void ShowMessage(const std::string& text);
  bool AskYesNo(const std::string& text, bool destroys = false);

  // ---- beyond the archive commands ----
  // Extracts the entry of a data row into a private folder (removed at exit) and hands
  // it to the desktop's default program.
  void OpenEntry(int row);
  // The selected entries, extracted into a private folder, as file URLs for a drag.
  // Null when nothing could be extracted.
  QMimeData* DragDataForSelection();
  // Adds dropped files and folders to the open archive after one question.
  void AddDropped(const QStringList& paths);
  // Names of the archives opened last, newest first.
  const QStringList& RecentArchives() const { return recent_; }
  // Full stored names of the selected data rows, top to bottom.
  std::vector<std::string> SelectedEntryNames() const;

  // ---- state of a run ----
  bool Running() const { return running_; }
  RunTally& Tally() { return run_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildControls();
  void SetUpMarlin();
  void SetUpGrid();
  void FormCreate(const QString& archive);
  void FormResize();
  void BuildEntryMenu();
  void StartRun(const std::string& beginning);
  void FinishRun(uint32_t start, const char* verb);
  // "name.zip — Vell Tessera 4", or the caption alone with no archive.
  void UpdateTitle();
  // Widens the number and date columns to what they show, in any locale.
  void FitColumns();
  // After a spanned add onto numbered files, the set's last volume is the archive.
  void FollowNumberedSet();
  void RememberArchive(const QString& file);
  void FillRecentMenu();
  void LoadSettings();
  void SaveSettings();
  // A private folder for opened and dragged entries, made when first needed.
  QString PrivateFolder();
  // Extracts `names` below `folder`, keeping their folders; the user's extract settings
  // are left as they were. True when every entry came out.
  bool ExtractQuietly(const std::vector<std::string>& names, const QString& folder);

  AppUi& ui_;
  bool running_ = false;
  RunTally run_;
  QStringList recent_;
  std::unique_ptr<QTemporaryDir> private_;
  QPoint dragStart_;
  bool dragArmed_ = false;
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
