#pragma once
// Rewriting by copying: the kept entries' local headers and data are runs of the old file,
// copied as they are, followed by their central records with the offsets moved. So a delete
// or an add leaves every other entry byte for byte as it was, its stored name and extra
// fields included (libzip would write them anew, a Unicode path field turned into a flagged
// name). Used only for archives whose layout is plain enough to be sure of (no overlapping
// entries, offsets pointing at local headers, one volume); libzip does the rest.

#include "KilnArchiveFile.h"

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiln {

class Reporter;

class CopyEntries {
 public:
  CopyEntries();
  ~CopyEntries();
  CopyEntries(const CopyEntries&) = delete;
  CopyEntries& operator=(const CopyEntries&) = delete;

  // Reads the directory of the archive `path` open as `fd`; false (nothing reported) when the
  // archive is not one this can rewrite, or when it does not list exactly `names` in this order.
  bool Plan(const std::string& path, int fd, const std::vector<std::string>& names);

  // Writes the archive `held` (the one planned) without the marked entries, copying from
  // the same descriptor, and puts it in place; false after a reported failure or a cancel,
  // the old archive unchanged.
  bool Delete(const ArchiveFileInfo& held, const std::vector<bool>& marked, Reporter& reporter);

  // Adding, in steps. A new libzip archive, empty, whose entries will be written into the
  // new file behind the kept ones (null after a reported failure); then CopyKept, before
  // libzip writes; then, once zip_close of that archive succeeded, FinishAdd. Each false
  // after a reported failure or a cancel, the old archive unchanged.
  zip_t* BeginAdd(const ArchiveFileInfo& held, Reporter& reporter);
  // The new file with its prefix and every entry not `dropped` (the ones replaced).
  bool CopyKept(const std::vector<bool>& dropped, Reporter& reporter);
  // The directory of both put together, and the file in place. `placeOf[j]`: the old entry
  // whose place in the directory the new entry j takes, or -1 for one that goes at the end.
  bool FinishAdd(const std::vector<long>& placeOf, Reporter& reporter);
  // Why libzip failed to write: the archive replaced meanwhile counts too.
  const ArchiveFileInfo& Info() const { return info_; }

 private:
  struct Entry {
    uint64_t offset = 0;    // of the local header
    uint64_t end = 0;       // where the next entry (or the directory) starts
    size_t record = 0;      // of its central record in directory_
    size_t recordSize = 0;
    size_t offset64At = 0;  // of the Zip64 offset in directory_, 0 when the 32-bit field holds it
  };

  bool Begin(const ArchiveFileInfo& held, Reporter& reporter);
  bool Copy(const std::vector<bool>& dropped, Reporter& reporter);
  // Appends the kept entry `i`'s central record, its offset moved, to `records`.
  void AppendRecord(size_t i, std::vector<uint8_t>& records) const;
  // Writes the directory `records` of `count` entries and the end records at the current
  // position, and puts the file in place.
  bool Finish(std::vector<uint8_t>& records, uint64_t count, Reporter& reporter);
  bool Failed(Reporter& reporter);

  std::string path_;
  uint64_t prefix_ = 0;
  bool zip64_ = false;
  std::vector<uint8_t> directory_;
  std::vector<Entry> entries_;  // in directory order
  std::string comment_;

  // The rewrite under way.
  ArchiveFileInfo info_;
  std::unique_ptr<ArchiveWriter> out_;
  int fd_ = -1;                 // the old archive
  std::vector<bool> dropped_;
  std::vector<uint64_t> moved_;  // new offsets of the kept entries
  uint64_t addedStart_ = 0;      // where libzip's part begins
};

}  // namespace kiln
