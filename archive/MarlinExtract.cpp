// Extracting or testing entries through the decompressor library, joining a
// multi-volume set into a temporary archive first.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "MarlinLibraries.h"
#include "TMarlin.h"

namespace {

std::string AbsoluteName(const std::string& name) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(name, ec);
  return ec ? name : p.lexically_normal().string();
}

}  // namespace

void TMarlin::Extract() {
  fSuccessCount = 0;
  struct stat st {};
  if (fZipFilename.empty() || ::stat(fZipFilename.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return ReportMessage(10102);
  if (fSluiceBusy) return;
  // Cut to fit, it could pass a test of entries encrypted with the same cut password.
  if (fPassword.size() > marlinlib::kPasswordLimit) return ReportMessage(10106);

  // Unattended, nobody can be asked for a password: a filler that matches nothing makes
  // encrypted entries fail instead. It is used for this call only, so that no later
  // operation encrypts with a password the user never chose.
  std::string password = fPassword;
  if (fUnattended && fAddOptions.Contains(AddOptsEnum::AddEncrypt) && fPassword.empty()) {
    password.assign(79, '~');
    ReportMessage(10502);
  }

  fSluiceBusy = true;
  fCancelRequested = false;
  marlinlib::Library& sluice = marlinlib::Sluice();
  const bool loadedHere = !sluice.Loaded();
  bool called = false;
  auto finish = [&] {
    if (called) fFSpecArgs.clear();
    if (loadedHere) UnloadSluiceLib();
    fCancelRequested = false;
    fSluiceBusy = false;
  };
  if (loadedHere) LoadSluiceLib();
  if (!sluice.Usable()) return finish();

  // The library is given a full path: the current directory changes below.
  std::string archive = AbsoluteName(fZipFilename);
  std::string joined;
  if (fLastDiskNo != 0) {
    std::string folder = fTempDir;
    if (folder.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      folder = tmp && *tmp ? tmp : "/tmp";
    }
    if (folder.back() != '/') folder += '/';
    if (ReadSpan(fZipFilename, folder) != 0) {
      if (loadedHere) UnloadSluiceLib();
      fSluiceBusy = false;
      return;
    }
    joined = archive = AbsoluteName(folder);
    // ReadSpan clears the flag when it ends; the library call ahead still needs it.
    fSluiceBusy = true;
  }

  // Files go below the extract folder, or nowhere: a folder that cannot be made or
  // entered must not send them into whatever folder the program happens to be in.
  if (fExtrOptions.Contains(ExtrOptsEnum::ExtrTest)) {
    if (DirExists(fExtrBaseDir) && ::chdir(fExtrBaseDir.c_str()) != 0) {
      // A test writes nothing: any folder serves.
    }
  } else if (!fExtrBaseDir.empty()) {
    std::error_code made;
    std::filesystem::create_directories(fExtrBaseDir, made);
    const int err = made ? made.value() : ::chdir(fExtrBaseDir.c_str()) != 0 ? errno : 0;
    if (err != 0) {
      if (!joined.empty()) ::unlink(joined.c_str());
      ReportMessage(10503, fExtrBaseDir + ": " + std::strerror(err));
      return finish();
    }
  }

  const int version = sluice.VersionNumber();
  fSluiceVersion = version;
  if (version < SLUICE_CURRENT_LAYOUT_VERSION && fFSpecArgs.size() > OLDER_LAYOUT_SPEC_SLOTS) {
    if (!joined.empty()) ::unlink(joined.c_str());
    ReportMessage(10705);
    return finish();
  }
  const Trapped failure = Trap([&] {
    called = true;
    fSuccessCount = CallSluice(archive, password, version);
  });
  // The joined copy is this call's own: it goes however the call ended.
  if (!joined.empty()) ::unlink(joined.c_str());
  if (failure.Failed()) ReportTrapped(failure, 10501);
  finish();
}
