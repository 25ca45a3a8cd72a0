#pragma once
// Opening an archive for change and reporting what went wrong with it.

#include "KilnArchiveFile.h"

#include <zip.h>

#include <ctime>
#include <string>
#include <vector>

namespace kiln {

class Reporter;

// Opens `path` through the prefix-keeping source; null after a reported failure.
zip_t* OpenArchive(const std::string& path, ArchiveFileInfo& info, bool create, bool truncate,
                   Reporter& reporter);

// The entries' names as the component shows them and names them in specifications: names
// stored without the UTF-8 flag read in `codePage` (0: as stored), '\\' as '/'.
std::vector<std::string> ShownNames(zip_t* archive, int codePage);

// Lets the component see time pass (and cancel) while libzip writes the archive.
void WatchClose(zip_t* archive, Reporter& reporter);

// Reports a failed zip_close with the code the component expects.
void ReportCloseError(zip_t* archive, const std::string& path, Reporter& reporter);

// Sets the archive file's modification time.
void SetArchiveTime(const std::string& path, time_t when);

// The DOS time a file time becomes in an entry, as a time_t again (even seconds, local).
time_t DosRounded(time_t t);

}  // namespace kiln
