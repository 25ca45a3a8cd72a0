// Loading the compression libraries, the parameter records handed to them, and the
// callback through which they report back.

#include "MarlinLibraries.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "TMarlin.h"

namespace marlinlib {

int Library::VersionNumber() const {
  if (!Usable()) return 0;
  return reinterpret_cast<int32_t (*)()>(Version)();
}

void Library::Unload() {
  if (Handle) {
    if (CallsRunning > 0) PendingClose.push_back(Handle);
    else ::dlclose(Handle);
  }
  Handle = nullptr;
}

Library& Kiln() {
  static Library lib;
  return lib;
}

Library& Sluice() {
  static Library lib;
  return lib;
}

CallGuard::~CallGuard() {
  if (--lib_.CallsRunning == 0) {
    for (void* h : lib_.PendingClose) ::dlclose(h);
    lib_.PendingClose.clear();
  }
}

std::function<void(const char*, size_t)> TextReleasedHook;

size_t PasswordPrefixLength(const std::string& password, size_t limit) {
  size_t n = std::min(password.size(), limit);
  // Never hand over half of a multibyte character, whoever cut the text before us.
  size_t start = n;
  while (start > 0 && (uint8_t(password[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0) {
    const uint8_t lead = uint8_t(password[start - 1]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (start - 1 + length > n) n = start - 1;
  }
  return n;
}

}  // namespace marlinlib

using namespace marlinlib;

namespace {

struct LibraryNames {
  const char* File;
  const char* ExecName;
  const char* VersionName;
  int Loaded, NoExec, NoVersion, NotFound;
};

constexpr LibraryNames kKilnNames{KILN_LIBRARY_NAME, "KilnExec", "GetKilnVersion", 10601, 10602, 10603, 10604};
constexpr LibraryNames kSluiceNames{SLUICE_LIBRARY_NAME, "SluiceExec", "GetSluiceVersion", 10701, 10702, 10703, 10704};

bool IsFile(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int32_t Flag(bool on) { return on ? LIBRARY_FLAG_TRUE : LIBRARY_FLAG_FALSE; }

// Texts handed to a library: each its own zero-terminated copy, all freed together
// when the call is over, however it ended.
class LibraryTexts {
 public:
  char* Copy(const std::string& text) {
    char* buffer = Allocate(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return buffer;
  }
  char* Password(const std::string& password) {
    char* buffer = Allocate(PASSWORD_BUFFER_SIZE);
    std::memcpy(buffer, password.data(), PasswordPrefixLength(password, PASSWORD_BUFFER_SIZE - 1));
    return buffer;
  }
  ~LibraryTexts() {
    // The password does not stay in freed memory.
    for (auto& [text, size] : texts_) {
      ::explicit_bzero(text.get(), size);
      if (TextReleasedHook) TextReleasedHook(text.get(), size);
    }
  }

 private:
  char* Allocate(size_t size) {
    texts_.emplace_back(std::make_unique<char[]>(size), size);  // zero-filled
    return texts_.back().first.get();
  }
  std::vector<std::pair<std::unique_ptr<char[]>, size_t>> texts_;
};

}  // namespace

static void LoadLibrary(TMarlin& m, Library& lib, const LibraryNames& names) {
  std::string path;
  if (!m.DLLDirectory().empty()) {
    const std::string candidate = m.DLLDirectory() + "/" + names.File;
    if (IsFile(candidate)) path = candidate;
  }
  if (path.empty()) path = names.File;  // the loader's search path: our RUNPATH first
  try {
    // Each load replaces the stored handle; the one it replaces is let go.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    lib.Unload();
    lib.Exec = lib.Version = nullptr;
    if (!handle) {
      m.ReportMessage(names.NotFound);
      return;
    }
    lib.Handle = handle;
    if (m.Trace()) m.ReportMessage(names.Loaded);
    lib.Exec = ::dlsym(handle, names.ExecName);
    lib.Version = ::dlsym(handle, names.VersionName);
    if (!lib.Exec) m.ReportMessage(names.NoExec);
    if (!lib.Version) m.ReportMessage(names.NoVersion);
  } catch (...) {
    // An event handler's failure does not make the load fail.
  }
}

void TMarlin::LoadKilnLib() { LoadLibrary(*this, Kiln(), kKilnNames); }
void TMarlin::LoadSluiceLib() { LoadLibrary(*this, Sluice(), kSluiceNames); }
void TMarlin::UnloadKilnLib() { Kiln().Unload(); }
void TMarlin::UnloadSluiceLib() { Sluice().Unload(); }

namespace {

int AskVersion(TMarlin& m, Library& lib, void (TMarlin::*load)()) {
  const bool loadedHere = !lib.Loaded();
  if (loadedHere) (m.*load)();
  const int version = lib.VersionNumber();
  if (loadedHere) lib.Unload();
  return version;
}

}  // namespace

int TMarlin::KilnVersion() { return fKilnVersion = AskVersion(*this, Kiln(), &TMarlin::LoadKilnLib); }
int TMarlin::SluiceVersion() { return fSluiceVersion = AskVersion(*this, Sluice(), &TMarlin::LoadSluiceLib); }

int32_t TMarlin::CallKiln(bool deleting, const std::string& archivePath, int version) {
  LibraryTexts texts;
  const bool older = version < KILN_CURRENT_LAYOUT_VERSION;
  std::unique_ptr<KilnParams> current;
  std::unique_ptr<KilnParamsOlder> old;
  std::vector<KilnFileData> fileData;
  KilnParamsCommon* p;
  if (older) {
    old = std::make_unique<KilnParamsOlder>();
    old->Marker = PARAMS_MARKER;
    for (size_t i = 0; i < fFSpecArgs.size() && i < OLDER_LAYOUT_SPEC_SLOTS; ++i)
      old->SpecTexts[i] = texts.Copy(fFSpecArgs[i]);
    p = &old->Common;
  } else {
    current = std::make_unique<KilnParams>();
    current->Marker = PARAMS_MARKER;
    if (!fTempDir.empty()) current->TempDirText = texts.Copy(fTempDir);
    fileData.resize(fFSpecArgs.size());
    for (size_t i = 0; i < fFSpecArgs.size(); ++i) fileData[i].Text = texts.Copy(fFSpecArgs[i]);
    current->FileData = fileData.empty() ? nullptr : fileData.data();
    p = &current->Common;
  }

  const bool adding = !deleting;
  p->WindowHandle = fUnattended ? 0 : fOwnerWindow;
  p->Caller = this;
  p->RecordVersion = KILN_RECORD_VERSION;
  p->CallbackProc = &TMarlin::DllCallback;
  p->TraceOn = Flag(fTrace);
  p->PasswordText = texts.Password(fPassword);
  p->NameCodePage = fArchiveCodePage;
  p->EncryptOn = Flag(adding && fAddOptions.Contains(AddOptsEnum::AddEncrypt));
  p->HiddenFilesOn = Flag(fAddOptions.Contains(AddOptsEnum::AddHiddenFiles));
  p->NoDirEntriesOn = Flag(!fAddOptions.Contains(AddOptsEnum::AddSeparateDirs));
  p->VerboseOn = Flag(fVerbose || fTrace);
  p->AlwaysOn = LIBRARY_FLAG_TRUE;
  p->Level = fAddCompLevel;
  p->NoDirNamesOn = Flag(adding && !fAddOptions.Contains(AddOptsEnum::AddDirNames));
  p->RecurseOn = int16_t(adding && fAddOptions.Contains(AddOptsEnum::AddRecurseDirs) ? 0xFFFF : 0);
  p->AppendOn = Flag(adding);
  p->ForceDosOn = Flag(fAddOptions.Contains(AddOptsEnum::AddForceDOS));
  p->MoveOn = Flag(adding && fAddOptions.Contains(AddOptsEnum::AddMove));
  p->DeleteOn = Flag(deleting);
  p->UpdateOn = Flag(adding && fAddOptions.Contains(AddOptsEnum::AddUpdate));
  p->FreshenOn = Flag(adding && fAddOptions.Contains(AddOptsEnum::AddFreshen) &&
                      !fAddOptions.Contains(AddOptsEnum::AddUpdate));
  p->ZipTimeOn = Flag(fAddOptions.Contains(AddOptsEnum::AddZipTime));
  p->SpecCount = int32_t(fFSpecArgs.size());
  p->ArchivePath = texts.Copy(archivePath);

  fCallbackError = nullptr;
  int32_t result;
  {
    CallGuard guard(Kiln());
    result = reinterpret_cast<KilnExecFn>(Kiln().Exec)(p);
  }
  if (fCallbackError) std::rethrow_exception(std::exchange(fCallbackError, nullptr));
  return std::max<int32_t>(result, 0);
}

int32_t TMarlin::CallSluice(const std::string& archivePath, const std::string& password, int version) {
  LibraryTexts texts;
  const bool older = version < SLUICE_CURRENT_LAYOUT_VERSION;
  std::unique_ptr<SluiceParams> current;
  std::unique_ptr<SluiceParamsOlder> old;
  std::vector<SluiceFileData> fileData;
  SluiceParamsCommon* p;
  if (older) {
    old = std::make_unique<SluiceParamsOlder>();
    old->Marker = PARAMS_MARKER;
    for (size_t i = 0; i < fFSpecArgs.size() && i < OLDER_LAYOUT_SPEC_SLOTS; ++i)
      old->SpecTexts[i] = texts.Copy(fFSpecArgs[i]);
    p = &old->Common;
  } else {
    current = std::make_unique<SluiceParams>();
    current->Marker = PARAMS_MARKER;
    fileData.resize(fFSpecArgs.size());
    for (size_t i = 0; i < fFSpecArgs.size(); ++i) fileData[i].Text = texts.Copy(fFSpecArgs[i]);
    current->FileData = fileData.empty() ? nullptr : fileData.data();
    p = &current->Common;
  }

  p->WindowHandle = fUnattended ? 0 : fOwnerWindow;
  p->Caller = this;
  p->RecordVersion = SLUICE_RECORD_VERSION;
  p->CallbackProc = &TMarlin::DllCallback;
  p->TraceOn = Flag(fTrace);
  p->PasswordText = texts.Password(password);
  p->TestOn = Flag(fExtrOptions.Contains(ExtrOptsEnum::ExtrTest));
  p->NameCodePage = fArchiveCodePage;
  p->AlwaysOn = LIBRARY_FLAG_TRUE;
  p->VerboseOn = Flag(fVerbose || fTrace);
  p->UpdateOn = Flag(fExtrOptions.Contains(ExtrOptsEnum::ExtrUpdate));
  p->FreshenOn = Flag(fExtrOptions.Contains(ExtrOptsEnum::ExtrFreshen) &&
                      !fExtrOptions.Contains(ExtrOptsEnum::ExtrUpdate));
  p->DirNamesOn = Flag(fExtrOptions.Contains(ExtrOptsEnum::ExtrDirNames));
  p->OverwriteOn = Flag(fExtrOptions.Contains(ExtrOptsEnum::ExtrOverWrite));
  p->SpecCount = int32_t(fFSpecArgs.size());
  p->ArchivePath = texts.Copy(archivePath);

  fCallbackError = nullptr;
  int32_t result;
  {
    CallGuard guard(Sluice());
    result = reinterpret_cast<SluiceExecFn>(Sluice().Exec)(p);
  }
  if (fCallbackError) std::rethrow_exception(std::exchange(fCallbackError, nullptr));
  return std::max<int32_t>(result, 0);
}

namespace {

std::string CallbackText(const CallbackRecord& r) {
  return std::string(r.Text, ::strnlen(r.Text, CALLBACK_TEXT_SIZE));
}

int64_t CallbackSize(const CallbackRecord& r) {
  // Libraries that know only the 32-bit field leave the wide one 0.
  return r.FileSize64 != 0 ? r.FileSize64 : int64_t(r.FileSize);
}

}  // namespace

int32_t TMarlin::AnswerPasswordRequest(CallbackRecord& r) {
  // Unattended nobody can answer: the library is left without a password and fails
  // that entry.
  if (fUnattended || !ui_) return 0;
  const std::string entry = CallbackText(r);
  std::string answer;
  // Longer answers are taken, and refused below: an answer cut to fit is a password the
  // user never typed.
  if (!ui_->AskText(ApplicationTitle(), "Password for " + entry + ":", answer, true, 255)) return -1;
  const bool tooLong = answer.size() > marlinlib::kPasswordLimit;
  if (!tooLong) {
    std::memset(r.Text, 0, CALLBACK_TEXT_SIZE);
    std::memcpy(r.Text, answer.data(), answer.size());
  }
  ::explicit_bzero(answer.data(), answer.size());
  if (marlinlib::TextReleasedHook) marlinlib::TextReleasedHook(answer.data(), answer.size());
  if (tooLong) {
    ReportMessage(10106);
    return -1;
  }
  return 0;
}

int32_t TMarlin::DllCallback(CallbackRecord* record) {
  if (!record || !record->Caller) return 0;
  CallbackRecord& r = *record;
  TMarlin& m = *static_cast<TMarlin*>(r.Caller);
  int32_t result = 0;
  try {
    switch (r.ActionCode) {
      case kActionNewFile:
        if (m.OnProgress) m.OnProgress(&m, ProgressType::ProgrNewFile, CallbackText(r), CallbackSize(r));
        break;
      case kActionProgress:
        if (m.OnProgress) m.OnProgress(&m, ProgressType::ProgrUpdate, "", CallbackSize(r));
        break;
      case kActionEndOfBatch:
        if (m.OnProgress) m.OnProgress(&m, ProgressType::ProgrEndOfBatch, "", 0);
        break;
      case kActionMessage: {
        std::string text = CallbackText(r);
        while (!text.empty() && uint8_t(text.back()) <= ' ') text.pop_back();
        m.fLastMessage = text;
        if (r.ErrorCode != 0) {
          m.fLastErrCode = r.ErrorCode & 0xFF;
          m.fLastLibErrCode = r.ErrorCode;
        }
        if (m.OnMessage) m.OnMessage(&m, r.ErrorCode, text);
        break;
      }
      case kActionTotalFiles:
        if (m.OnProgress) m.OnProgress(&m, ProgressType::ProgrTotalFiles, "", CallbackSize(r));
        break;
      case kActionTotalSize:
        m.fBatchTotalSize = CallbackSize(r);
        if (m.OnProgress) m.OnProgress(&m, ProgressType::ProgrTotalSize, "", CallbackSize(r));
        break;
      case kActionPassword:
        result = m.AnswerPasswordRequest(r);
        break;
      default:
        break;
    }
    if (m.fCancelRequested) result = -1;
    m.ProcessEvents();
  } catch (...) {
    // Stop the library; the operation reports the failure once the library has returned.
    if (!m.fCallbackError) m.fCallbackError = std::current_exception();
    result = -1;
  }
  return result;
}
