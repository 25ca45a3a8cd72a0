// Adding files to an archive through the compressor library, directly or through a
// temporary archive that is then split onto volumes.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "MarlinLibraries.h"
#include "TMarlin.h"

namespace {

bool Exists(const std::string& name) {
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0;
}

std::string UpperExtension(const std::string& name) {
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return ext;
}

std::string SystemTempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = dir && *dir ? dir : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

// A new unique name in `folder`; the file mkstemp creates is removed again so that the
// library starts a fresh archive under it. Empty when no name could be made.
std::string TemporaryArchiveName(const std::string& folder) {
  std::string pattern = folder + "zipXXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return {};
  ::close(fd);
  ::unlink(pattern.c_str());
  return pattern;
}

}  // namespace

void TMarlin::Add() {
  fSuccessCount = 0;
  if (fFSpecArgs.empty()) return ReportMessage(10301);
  if (fZipFilename.empty()) return ReportMessage(10102);
  if (fUnattended && fAddOptions.Contains(AddOptsEnum::AddEncrypt) && fPassword.empty()) return ReportMessage(10302);
  // Cut to fit, it would encrypt with a password the user never typed.
  if (fAddOptions.Contains(AddOptsEnum::AddEncrypt) && fPassword.size() > marlinlib::kPasswordLimit)
    return ReportMessage(10106);

  const bool spanning =
      fAddOptions.Contains(AddOptsEnum::AddDiskSpan) || fAddOptions.Contains(AddOptsEnum::AddDiskSpanErase);
  std::string tempName;
  if (spanning) {
    if (fAddOptions.Contains(AddOptsEnum::AddFreshen) || fAddOptions.Contains(AddOptsEnum::AddUpdate))
      return ReportMessage(10303);
    if (UpperExtension(fZipFilename) == ".EXE") return ReportMessage(11041);
    if (!fTempDir.empty() && fTempDir.back() != '/') fTempDir += '/';
    tempName = TemporaryArchiveName(fTempDir.empty() ? SystemTempFolder() : fTempDir);
    if (tempName.empty()) return ReportMessage(11027);
    if (fVerbose && OnMessage) OnMessage(this, 0, "Temporary zipfile: " + tempName);
  }

  if (fKilnBusy) return;
  fKilnBusy = true;
  fCancelRequested = false;

  marlinlib::Library& kiln = marlinlib::Kiln();
  const bool loadedHere = !kiln.Loaded();
  bool called = false;
  auto finish = [&] {
    if (called) fFSpecArgs.clear();
    if (loadedHere) UnloadKilnLib();
    fCancelRequested = false;
    fKilnBusy = false;
  };

  if (UpperExtension(fZipFilename) == ".EXE" && fPrefixSize == 0 && !Exists(fZipFilename)) {
    fAutoSFX = true;
    const int made = ConvertSFX();
    fAutoSFX = false;
    // Without its program the archive would be a plain one under an .exe name: stop
    // here, ConvertSFX has told why.
    if (made != 0) return finish();
  }

  if (loadedHere) LoadKilnLib();
  if (!kiln.Usable()) return finish();
  const int version = kiln.VersionNumber();
  fKilnVersion = version;
  if (version < KILN_CURRENT_LAYOUT_VERSION && fFSpecArgs.size() > OLDER_LAYOUT_SPEC_SLOTS) {
    ReportMessage(10605);
    return finish();
  }

  bool keepTemp = false;
  const Trapped failure = Trap([&] {
    called = true;
    fSuccessCount = CallKiln(false, spanning ? tempName : fZipFilename, version);
    if (fSuccessCount > 0 && spanning) {
      if (WriteSpan(tempName, fZipFilename) != 0) {
        fSuccessCount = 0;
        // Moved files exist nowhere else now.
        if (fAddOptions.Contains(AddOptsEnum::AddMove) && Exists(tempName)) {
          keepTemp = true;
          ReportMessage(10304, tempName);
        }
      }
    }
  });
  // The temporary archive is ours alone: it never outlives the call, whatever happened,
  // unless it holds the only copy of moved files.
  if (spanning && !keepTemp) ::unlink(tempName.c_str());
  if (failure.Failed()) ReportTrapped(failure, 10101);
  finish();
  if (fSuccessCount > 0) List();
}
