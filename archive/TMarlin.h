#pragma once
// The archive component: settings, the archive's directory and geometry, messages and
// events, and the operations on archives.

#include <atomic>
#include <cstdint>
#include <exception>
#include <ctime>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "EMarlin.h"
#include "FileHandle.h"
#include "MarlinTypes.h"
#include "MarlinUi.h"
#include "VolumeService.h"
#include "ZipContents.h"
#include "ZipRecords.h"
#include "CompressionLibraries.h"
#include "CodePages.h"

class TMarlin;
struct SpanCall;

using TNotifyEvent = std::function<void(TMarlin* sender)>;
using TProgressEvent =
    std::function<void(TMarlin* sender, ProgressType progrType, const std::string& filename, int64_t fileSize)>;
using TMessageEvent = std::function<void(TMarlin* sender, int errCode, const std::string& message)>;

// Where an archive's central directory lies, as read from its end records (the Zip64
// ones included, which the 22-byte record alone cannot describe).
struct CentralDirLocation {
  uint32_t DiskNumber = 0;
  uint32_t CentralStartDisk = 0;
  uint64_t EntriesTotal = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirStart = 0;
  // Bytes of Zip64 end record and locator in front of the 22-byte record; 0 without them.
  uint64_t Zip64Bytes = 0;
};

class TMarlin {
 public:
  // `ui` may be null: then no box can be shown. The volume service defaults to the
  // running system's.
  explicit TMarlin(MarlinUi* ui = nullptr, std::shared_ptr<VolumeService> volumes = nullptr);
  virtual ~TMarlin();
  TMarlin(const TMarlin&) = delete;
  TMarlin& operator=(const TMarlin&) = delete;

  static constexpr const char* kVersionInfo = "1.52 K";

  // ---- collaborators ----
  MarlinUi* Ui() const { return ui_; }
  void SetUi(MarlinUi* ui) { ui_ = ui; }
  VolumeService& Volumes() const { return *volumes_; }
  void SetVolumeService(std::shared_ptr<VolumeService> volumes);
  // While designing, assigning ZipFilename does not list and List does nothing.
  bool Designing() const { return designing_; }
  void SetDesigning(bool designing) { designing_ = designing; }

  // ---- published properties ----
  bool Verbose() const { return fVerbose; }
  void SetVerbose(bool v) { fVerbose = v; }
  bool Trace() const { return fTrace; }
  void SetTrace(bool v) { fTrace = v; }
  int AddCompLevel() const { return fAddCompLevel; }
  void SetAddCompLevel(int v) { fAddCompLevel = v; }
  AddOpts AddOptions() const { return fAddOptions; }
  void SetAddOptions(AddOpts v) { fAddOptions = v; }
  const std::string& ExtrBaseDir() const { return fExtrBaseDir; }
  void SetExtrBaseDir(const std::string& v) { fExtrBaseDir = v; }
  ExtrOpts ExtrOptions() const { return fExtrOptions; }
  void SetExtrOptions(ExtrOpts v) { fExtrOptions = v; }
  SFXOpts SFXOptions() const { return fSFXOptions; }
  void SetSFXOptions(SFXOpts v) { fSFXOptions = v; }
  const std::vector<std::string>& FSpecArgs() const { return fFSpecArgs; }
  void SetFSpecArgs(const std::vector<std::string>& v) { fFSpecArgs = v; }
  bool Unattended() const { return fUnattended; }
  void SetUnattended(bool v) { fUnattended = v; }
  const std::string& ZipFilename() const { return fZipFilename; }
  // Stores the name and, unless designing, lists the archive at once.
  void SetZipFilename(const std::string& v);
  const std::string& Password() const { return fPassword; }
  void SetPassword(const std::string& v);  // at most 255 bytes are kept
  const std::string& SFXPath() const { return fSFXPath; }
  void SetSFXPath(const std::string& v) { fSFXPath = v; }
  const std::string& DLLDirectory() const { return fDLLDirectory; }
  void SetDLLDirectory(const std::string& v);
  OvrOpts SFXOverWriteMode() const { return fSFXOverWriteMode; }
  void SetSFXOverWriteMode(OvrOpts v) { fSFXOverWriteMode = v; }
  const std::string& SFXCaption() const { return fSFXCaption; }
  void SetSFXCaption(const std::string& v) { fSFXCaption = v; }
  const std::string& SFXDefaultDir() const { return fSFXDefaultDir; }
  void SetSFXDefaultDir(const std::string& v) { fSFXDefaultDir = v; }
  const std::string& SFXCommandLine() const { return fSFXCommandLine; }
  void SetSFXCommandLine(const std::string& v) { fSFXCommandLine = v; }
  const std::string& TempDir() const { return fTempDir; }
  void SetTempDir(const std::string& v) { fTempDir = v; }
  int64_t KeepFreeOnDisk1() const { return fKeepFreeOnDisk1; }
  void SetKeepFreeOnDisk1(int64_t v) { fKeepFreeOnDisk1 = v; }
  int64_t MaxVolumeSize() const { return fMaxVolumeSize; }
  void SetMaxVolumeSize(int64_t v) { fMaxVolumeSize = v; }
  int64_t MinFreeVolumeSize() const { return fMinFreeVolumeSize; }
  void SetMinFreeVolumeSize(int64_t v) { fMinFreeVolumeSize = v; }
  bool ConfirmErase() const { return fConfirmErase; }
  void SetConfirmErase(bool v) { fConfirmErase = v; }
  CodePageOpts CodePage() const { return fCodePage; }
  void SetCodePage(CodePageOpts v) { fCodePage = v; }
  // The code page of names and comments stored without the UTF-8 flag, as the user chose
  // it (a Windows code page number, 65001 for UTF-8); 0, the default, judges it from the
  // archive's own texts. Takes effect at the next List.
  int NameCodePage() const { return fNameCodePage; }
  void SetNameCodePage(int codePage) { fNameCodePage = codePage; }
  DeleteOpts HowToDelete() const { return fHowToDelete; }
  void SetHowToDelete(DeleteOpts v) { fHowToDelete = v; }
  std::string VersionInfo() const { return kVersionInfo; }
  void SetVersionInfo(const std::string&) {}  // fixed; assignments are ignored

  TNotifyEvent OnDirUpdate;
  TProgressEvent OnProgress;
  TMessageEvent OnMessage;

  // ---- run-time properties ----
  const ZipContents& Contents() const { return fContents; }
  int EntryCount() const;
  int SuccessCount() const { return fSuccessCount; }
  int LastErrCode() const { return fLastErrCode; }
  int LastLibErrCode() const { return fLastLibErrCode; }
  const std::string& LastMessage() const { return fLastMessage; }
  bool CancelRequested() const { return fCancelRequested; }
  void SetCancelRequested(bool v) { fCancelRequested = v; }
  bool KilnBusy() const { return fKilnBusy; }
  bool SluiceBusy() const { return fSluiceBusy; }
  // The comment as read by List, decoded by the current code-page rules.
  std::string ArchiveComment() const;
  // The code page the last List read names and comments without the UTF-8 flag in: the
  // one chosen (NameCodePage) or judged from them; 437 when nothing told.
  int ArchiveCodePage() const { return fArchiveCodePage; }
  // How many names and comments that code page decided (not ASCII, no flag, no Unicode
  // field): 0 when it did not matter.
  int TextsInCodePage() const { return fTextsInCodePage; }
  // The library's version; a library not loaded is loaded for the question. 0 when it
  // cannot be loaded or lacks an entry point.
  int KilnVersion();
  int SluiceVersion();
  int64_t BatchTotalSize() const { return fBatchTotalSize; }
  uintptr_t OwnerWindow() const { return fOwnerWindow; }

  // ---- archive geometry, as the last List left it ----
  const std::string& ReadName() const { return fReadName; }
  const std::string& DriveRoot() const { return fDriveRoot; }
  const std::string& VolumeLabel() const { return fVolumeLabel; }
  uint32_t VolumeSerial() const { return fVolumeSerial; }
  uint64_t PrefixSize() const { return fPrefixSize; }
  uint64_t CentralDirOffset() const { return fCentralDirOffset; }
  uint64_t EOCDOffset() const { return fEOCDOffset; }
  uint64_t LogicalSize() const { return fLogicalSize; }
  uint64_t PhysicalSize() const { return fPhysicalSize; }
  bool OffsetMismatch() const { return fOffsetMismatch; }
  bool IsSpanned() const { return fIsSpanned; }
  int LastDiskNo() const { return fLastDiskNo; }
  int CurrentDiskNo() const { return fCurrentDiskNo; }
  int HostSystem() const { return fHostSystem; }
  int SpecVersion() const { return fSpecVersion; }
  bool AutoSFX() const { return fAutoSFX; }
  int64_t VolumeFreeBytes() const { return fVolumeFreeBytes; }
  int64_t VolumeSizeBytes() const { return fVolumeSizeBytes; }
  const CentralDirLocation& CentralDir() const { return fCentralDir; }

  // ---- operations ----
  // Reads the directory of ZipFilename into Contents; reports every failure itself and
  // fires OnDirUpdate in every case.
  void List();

  // Adds the files of FSpecArgs to ZipFilename by the compressor library (splitting the
  // result onto volumes when asked); SuccessCount is the number of files added.
  void Add();
  // Extracts (or with ExtrTest, tests) the entries of FSpecArgs, every entry when it is
  // empty, by the decompressor library below ExtrBaseDir.
  void Extract();
  // Removes the entries of FSpecArgs from ZipFilename by the compressor library.
  void Delete();

  // ---- compression libraries, shared by every instance ----
  void LoadKilnLib();
  void LoadSluiceLib();
  static void UnloadKilnLib();
  static void UnloadSluiceLib();
  // The libraries' callback: progress, messages, passwords; -1 asks them to stop.
  static int32_t DllCallback(CallbackRecord* record);

  // ---- shared helpers ----
  // Reports a component message: box (unless Unattended), LastMessage/LastErrCode, OnMessage.
  void ReportMessage(int id, const std::string& extra = {});
  void ReportException(const EMarlin& e);
  std::string LoadMessageText(int id, const std::string& defaultText) const;
  void ClearContents();
  // 0 on success, -1 when the file does not exist, another nonzero value on failure.
  int RemoveFile(const std::string& name, DeleteOpts mode);
  static bool DirExists(const std::string& path);
  void QueryDiskSpace(DiskSpaceWanted which);

  // Opens ReadName into ReadHandle and finds the end record. With `raise`, failures are
  // thrown as EMarlin; without, an unopenable file is reported and false returned.
  bool OpenEOC(EndOfCentralDir& e, bool raise);
  // Text stored without the UTF-8 flag to UTF-8, in ArchiveCodePage, by the CodePage rules
  // and the header read last; text whose entry is flagged UTF-8 is kept as it is.
  std::string DecodeEntryText(std::string_view raw, bool utf8Flag = false) const;

  // ---- volumes of a set ----
  // Three digits of CurrentDiskNo + 1 ("001" for volume 0).
  std::string VolumeNumberText() const;
  bool CheckDrive();
  // Keeps DriveRoot on the drive's current disk where the system mounts each disk under a
  // path of its own; false when the drive holds no usable disk. See fDriveId.
  bool FollowDrive();
  DriveKind AskForDisk();
  bool IsRightDisk(DriveKind kind);
  void OpenVolume(int n);

  // ---- self-extracting archives (MarlinSfx.cpp) ----
  // A self-extracting archive is the stub program, a kSfxHeaderSize-byte header for it,
  // and the archive with every stored offset moved past both.
  static constexpr size_t kSfxHeaderSize = 256;
  // Turns ZipFilename (.zip) into a self-extracting .exe beside it or, while AutoSFX is
  // set, writes an empty self-extracting archive under ZipFilename. 0 or a negative code.
  int ConvertSFX();
  // Turns ZipFilename (an .exe with a prefix) into a plain .zip beside it. 0 or a
  // negative code.
  int ConvertZIP();
  // Copies from the source's position to the destination's through one 8192-byte
  // buffer: `count` bytes, or up to the end when negative. 0, or -2 on a failure.
  int CopyFileData(FileHandle& source, FileHandle& dest, int64_t count);
  // Copies the central directory at ReadHandle's position and then the end record `e`
  // (updated in place) with its comment, moving every stored offset by `delta`. 0 or -2.
  int CopyCentralDir(FileHandle& dest, EndOfCentralDir& e, int64_t delta);
  void SetAutoSFX(bool v) { fAutoSFX = v; }

 protected:
  // Title of the application, the caption of every box.
  static std::string ApplicationTitle();
  int ShowBox(const std::string& text, BoxButtons buttons, BoxIcon icon, int defaultButton = 0);
  void ProcessEvents();

  // What went wrong in the trapped part of an operation. Operations report it only once
  // the busy cursor is gone, so that no box shows busy.
  struct Trapped {
    enum class Kind { None, Marlin, Memory, Other } kind = Kind::None;
    std::optional<EMarlin> error;
    bool Failed() const { return kind != Kind::None; }
  };
  template <typename Body>
  static Trapped Trap(Body&& body) {
    Trapped t;
    try {
      body();
    } catch (const EMarlin& e) {
      t.kind = Trapped::Kind::Marlin;
      t.error.emplace(e);
    } catch (const std::bad_alloc&) {
      t.kind = Trapped::Kind::Memory;
    } catch (...) {
      t.kind = Trapped::Kind::Other;
    }
    return t;
  }
  // Reports a trapped failure: the EMarlin itself, 10103 for memory, `otherId` for the
  // rest. Returns 0, or -7, -8, -9 in the same order.
  int ReportTrapped(const Trapped& t, int otherId);

  // Shows the busy cursor for the lifetime of the guard.
  class BusyCursor {
   public:
    explicit BusyCursor(TMarlin& m);
    ~BusyCursor();
   private:
    TMarlin& m_;
  };

  MarlinUi* ui_ = nullptr;
  std::shared_ptr<VolumeService> volumes_;
  bool designing_ = false;

  bool fVerbose = false;
  bool fTrace = false;
  int fAddCompLevel = 9;
  AddOpts fAddOptions;
  std::string fExtrBaseDir;
  ExtrOpts fExtrOptions;
  SFXOpts fSFXOptions{SFXOptsEnum::SFXCheckSize};
  std::vector<std::string> fFSpecArgs;
  bool fUnattended = false;
  std::string fZipFilename;
  std::string fPassword;
  std::string fSFXPath = "Stubby.bin";
  std::string fDLLDirectory;
  OvrOpts fSFXOverWriteMode = OvrOpts::OvrConfirm;
  std::string fSFXCaption = "Self-extracting Archive";
  std::string fSFXDefaultDir;
  std::string fSFXCommandLine;
  std::string fTempDir;
  int64_t fKeepFreeOnDisk1 = 0;
  int64_t fMaxVolumeSize = 0;
  int64_t fMinFreeVolumeSize = 65536;
  bool fConfirmErase = true;
  CodePageOpts fCodePage = CodePageOpts::cpAuto;
  int fNameCodePage = 0;
  DeleteOpts fHowToDelete = DeleteOpts::htdAllowUndo;

  ZipContents fContents;
  int fSuccessCount = 0;
  int fLastErrCode = 0;
  int fLastLibErrCode = 0;
  std::string fLastMessage;
  bool fCancelRequested = false;
  bool fKilnBusy = false;
  bool fSluiceBusy = false;
  std::string fArchiveComment;  // raw bytes
  int fArchiveCodePage = entrynames::kDefaultCodePage;
  int fTextsInCodePage = 0;
  mutable std::unique_ptr<entrynames::NameDecoder> fNameDecoder;  // for fArchiveCodePage
  int fKilnVersion = 0;
  int fSluiceVersion = 0;
  int64_t fBatchTotalSize = 0;
  uintptr_t fOwnerWindow = 1;

  std::string fReadName;
  FileHandle fReadHandle;
  std::string fDriveRoot;
  // The removable drive behind fDriveRoot (its device) and the root it was learnt at: an
  // operation that sets a new DriveRoot makes FollowDrive learn the drive afresh.
  std::string fDriveId;
  std::string fDriveIdRoot;
  std::string fVolumeLabel;
  uint32_t fVolumeSerial = 0;
  uint64_t fPrefixSize = 0;
  uint64_t fCentralDirOffset = 0;
  uint64_t fEOCDOffset = 0;
  uint64_t fLogicalSize = 0;
  uint64_t fPhysicalSize = 0;
  bool fOffsetMismatch = false;
  bool fIsSpanned = false;
  int fLastDiskNo = 0;
  int fCurrentDiskNo = 0;
  bool fNewDiskRequested = false;
  int fHostSystem = 0;
  int fSpecVersion = 0;
  bool fAutoSFX = false;
  int64_t fVolumeFreeBytes = -1;
  int64_t fVolumeSizeBytes = -1;
  CentralDirLocation fCentralDir;

 private:
  // One call of a library's entry point with a record in the layout `version` selects;
  // every text and record is freed before it returns. Returns the library's result.
  int32_t CallKiln(bool deleting, const std::string& archivePath, int version);
  int32_t CallSluice(const std::string& archivePath, const std::string& password, int version);
  // Answers a library's password request (the callback's action 7).
  int32_t AnswerPasswordRequest(CallbackRecord& record);
  // A handler that threw inside the callback; rethrown once the library has returned,
  // since an exception must not unwind through the library's frames.
  std::exception_ptr fCallbackError;

  // Names and comments kept as stored until the archive's code page is known.
  struct WaitingTexts {
    struct Text {
      uint32_t index, length;
      uint64_t offset;
    };
    std::vector<Text> names, comments;
    std::string bytes;
    void Add(std::vector<Text>& list, size_t index, std::string_view text) {
      list.push_back({uint32_t(index), uint32_t(text.size()), bytes.size()});
      bytes.append(text);
    }
    std::string_view View(const Text& t) const { return std::string_view(bytes).substr(t.offset, t.length); }
  };
  void ReadCentralDirectory();
  void ReadCentralHeaders(BufferedReader& reader, WaitingTexts& waiting);
  // Whether a text of an entry made on `host` with `version` is read in the code page.
  bool InCodePage(int host, int version) const;
  entrynames::NameDecoder& Decoder() const;
  // Chooses the archive's code page and reads the names and comments that await it.
  void DecodeWaitingTexts(const WaitingTexts& waiting);
  void ReadZip64End(const EndOfCentralDir& e);
  // ==== multi-volume sets: span writer, span reader, disk formatting ====
 public:
  // Splits the single-file archive `inFileName` onto volumes named after `outFileName`:
  // labelled removable disks, or numbered files (name001.zip, ...) on a hard disk.
  // 0 on success; -7 after a reported error, -8 out of memory, -9 any other failure.
  int WriteSpan(const std::string& inFileName, const std::string& outFileName);
  // Joins the set whose last volume is `inFileName` into one archive. `outFileName` is a
  // file name (its extension becomes ".zip") or a folder ending in '/' (a new unique
  // name there); on success it holds the joined archive's name. Results as WriteSpan;
  // a failed join leaves no joined file behind.
  int ReadSpan(const std::string& inFileName, std::string& outFileName);
  // Formats the removable disk in DriveRoot with the label VolumeLabel, asking first when
  // ConfirmErase is set: -1 error (also while another format runs anywhere in the
  // program), -2 cancelled by the user, -3 no format took place, 0 formatted.
  int FormatVolume();

  const std::string& WriteName() const { return fWriteName; }
  int64_t BytesOnVolume() const { return fBytesOnVolume; }
  int FormatState() const { return fFormatState.load(); }
  int FormatResult() const { return fFormatResult; }

 protected:
  // Writes `len` bytes to the volumes, starting the next volume first when fewer than
  // `minFit` bytes are left on this one (a header group is never cut).
  void WriteToVolume(const void* buffer, int64_t len, int64_t minFit);
  // Copies `len` bytes from ReadHandle to the volumes; a short read raises `errId`.
  void CopyToVolumes(int64_t len, int errId);
  // Copies `len` bytes from the volumes (going on to the next one at the end of a
  // volume) to the joined file; a short read elsewhere raises `errId`.
  void CopyFromVolumes(int64_t len, int errId);
  // Appends `len` bytes to the joined file; a short write raises `errId`.
  void WriteJoined(const void* buffer, int64_t len, int errId);

  std::string fWriteName;
  FileHandle fWriteHandle;
  int64_t fBytesOnVolume = 0;
  timespec fSetDateTime{};  // the date stamp every volume or joined file gets
  bool fSpanProgress = false;
  std::atomic<int> fFormatState{0};  // 0 waiting, 2 finished
  int fFormatResult = -3;

 private:
  void SplitOntoVolumes();
  void PrepareVolume(int64_t minFit);
  void OpenNextVolume();
  bool CloseVolume();
  void AdvanceVolume();
  void JoinVolumes(std::string& outFileName);
  void ReadAcross(void* buffer, size_t len, int errId);
  void SkipAcross(int64_t len, int errId);
  void NextVolumeIfAtEnd(int errId);
  void OpenSetVolume(int n);
  void OpenNextSetVolume(int errId);
  void CreateJoinedFile(const std::string& folder, bool keepPrivate);
  std::string NameJoinedFile(const std::string& folder);

  SpanCall* span_ = nullptr;  // state of the running WriteSpan or ReadSpan
  // ==== end of multi-volume sets ====
};
