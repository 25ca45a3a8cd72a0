// Removing entries from an archive through the compressor library.

#include <sys/stat.h>

#include "MarlinLibraries.h"
#include "TMarlin.h"

void TMarlin::Delete() {
  fSuccessCount = 0;
  if (fFSpecArgs.empty()) return ReportMessage(10401);
  struct stat st {};
  if (fZipFilename.empty() || ::stat(fZipFilename.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return ReportMessage(10102);
  if (fKilnBusy) return;
  fKilnBusy = true;
  fCancelRequested = false;

  marlinlib::Library& kiln = marlinlib::Kiln();
  const bool loadedHere = !kiln.Loaded();
  bool called = false;
  auto finish = [&] {
    if (called) fFSpecArgs.clear();
    if (loadedHere) UnloadKilnLib();
    fKilnBusy = false;
    fCancelRequested = false;
  };

  if (loadedHere) LoadKilnLib();
  if (!kiln.Usable()) return finish();
  const int version = kiln.VersionNumber();
  fKilnVersion = version;
  if (version < KILN_CURRENT_LAYOUT_VERSION && fFSpecArgs.size() > OLDER_LAYOUT_SPEC_SLOTS) {
    ReportMessage(10605);
    return finish();
  }

  const Trapped failure = Trap([&] {
    called = true;
    fSuccessCount = CallKiln(true, fZipFilename, version);
  });
  if (failure.Failed()) ReportTrapped(failure, 10101);
  finish();
  if (fSuccessCount > 0) List();
}
