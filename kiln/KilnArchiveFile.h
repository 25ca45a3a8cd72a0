#pragma once
// The archive file as libzip sees it: read from the file in place, written to a new file
// beside it that starts with the old file's prefix (so stored offsets count from the start
// of the file) and that replaces the old one only once complete and on disk. The new file
// has no name while it is written where the file system allows, so that nothing is left
// behind even when the process is killed.

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>

namespace kiln {

struct ArchiveFileInfo {
  uint64_t prefix = 0;        // bytes kept in front of the first entry
  std::string comment;        // written into an archive left without entries
};

// A source over `path`, which need not exist. `info` must outlive the source.
zip_source_t* MakeArchiveSource(const std::string& path, const ArchiveFileInfo* info, zip_error_t* error);

struct ArchiveFile;

// The same new file, written directly rather than through libzip: for rewrites that only
// move bytes of the old file. Unless committed, nothing is left behind.
class ArchiveWriter {
 public:
  ArchiveWriter(const std::string& path, const ArchiveFileInfo& info);
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  const std::string& Path() const;  // the file replaced: a link's target
  bool Begin();                      // the new file, holding the old prefix
  bool Write(const void* data, size_t length);
  bool Copy(int in, uint64_t from, uint64_t length);
  uint64_t Position() const;  // in the new file
  bool Commit();               // flushed, then renamed over the old one
  int Error() const { return error_; }  // errno of the first failure

 private:
  bool Saved(bool ok);
  std::unique_ptr<ArchiveFile> file_;
  int error_ = 0;
};

}  // namespace kiln
