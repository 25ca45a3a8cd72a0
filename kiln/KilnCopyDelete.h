#pragma once
// Deleting by copying: the kept entries' local headers and data are runs of the old file,
// copied as they are, followed by their central records with the offsets moved. Used
// only for archives whose layout is plain enough to be sure of (no overlapping entries,
// offsets pointing at local headers, one volume); libzip does the rest.

#include "KilnArchiveFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiln {

class Reporter;

class CopyDelete {
 public:
  // Reads the directory of the archive `path` open as `fd`; false (nothing reported) when the
  // archive is not one this can rewrite, or when it does not list exactly `names` in this order.
  bool Plan(const std::string& path, int fd, const std::vector<std::string>& names);

  // Writes the archive `held` (the one planned) without the marked entries, copying from
  // the same descriptor, and puts it in place; false after a reported failure or a cancel,
  // the old archive unchanged.
  bool Run(const ArchiveFileInfo& held, const std::vector<bool>& marked, Reporter& reporter);

 private:
  struct Entry {
    uint64_t offset = 0;    // of the local header
    uint64_t end = 0;       // where the next entry (or the directory) starts
    size_t record = 0;      // of its central record in directory_
    size_t recordSize = 0;
    size_t offset64At = 0;  // of the Zip64 offset in directory_, 0 when the 32-bit field holds it
  };

  std::string path_;
  uint64_t prefix_ = 0;
  bool zip64_ = false;
  std::vector<uint8_t> directory_;
  std::vector<Entry> entries_;  // in directory order
  std::string comment_;
};

}  // namespace kiln
