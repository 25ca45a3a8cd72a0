#pragma once
// The archive file as libzip sees it: read from the file in place, written to a new file
// beside it that starts with the old file's prefix (so stored offsets count from the start
// of the file) and that replaces the old one only once complete and on disk. The new file
// has no name while it is written where the file system allows, so that nothing is left
// behind even when the process is killed.

#include <zip.h>

#include <cstdint>
#include <string>

namespace kiln {

struct ArchiveFileInfo {
  uint64_t prefix = 0;        // bytes kept in front of the first entry
  std::string comment;        // written into an archive left without entries
};

// A source over `path`, which need not exist. `info` must outlive the source.
zip_source_t* MakeArchiveSource(const std::string& path, const ArchiveFileInfo* info, zip_error_t* error);

}  // namespace kiln
