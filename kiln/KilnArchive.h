#pragma once
// Opening an archive for change and reporting what went wrong with it.

#include "KilnArchiveFile.h"

#include <zip.h>

#include <ctime>
#include <string>
#include <vector>

namespace kiln {

class Reporter;

// The archive of one add or delete, from reading its directory to the commit: open, locked
// against Tessera's other writers (an advisory lock, so that two writers land one after the
// other instead of one losing the other's change), with its state when it was read.
class HeldArchive {
 public:
  HeldArchive() = default;
  ~HeldArchive();
  HeldArchive(const HeldArchive&) = delete;
  HeldArchive& operator=(const HeldArchive&) = delete;

  // Waits a bounded time for another writer to finish. A missing archive is locked through
  // a lock file beside it (removed again) when `mayCreate`. False after a reported failure,
  // or a cancel.
  bool Take(const std::string& path, bool mayCreate, Reporter& reporter);

  ArchiveFileInfo info;  // the descriptor of the archive as read, and its state

 private:
  void Release();

  std::string lockName_;
  int lockFd_ = -1;  // locked while the archive does not exist yet
};

// Opens the held archive in libzip through the prefix-keeping source; null after a reported failure.
zip_t* OpenArchive(const std::string& path, ArchiveFileInfo& info, bool create, bool truncate,
                   Reporter& reporter);

// The entries' names as libzip gives them: the stored bytes, or the text of a Unicode path
// field that matches them.
std::vector<std::string> LibzipNames(zip_t* archive);

// The entries' names as the component shows them and names them in specifications: names
// stored without the UTF-8 flag read in `codePage` (0: as stored), '\\' as '/'.
std::vector<std::string> ShownNames(zip_t* archive, int codePage);

// Lets the component see time pass (and cancel) while libzip writes the archive.
void WatchClose(zip_t* archive, Reporter& reporter);

// Reports a failed zip_close with the code the component expects.
void ReportCloseError(zip_t* archive, const std::string& path, const ArchiveFileInfo& info, Reporter& reporter);

// Reports that another program changed the archive since it was read.
void ReportReplaced(const std::string& path, Reporter& reporter);

// Sets the archive file's modification time.
void SetArchiveTime(const std::string& path, time_t when);

// The DOS time a file time becomes in an entry, as a time_t again (even seconds, local).
time_t DosRounded(time_t t);

}  // namespace kiln
