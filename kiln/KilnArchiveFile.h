#pragma once
// The archive file as libzip sees it: read through the descriptor it was opened (and locked)
// with, written to a new file beside it that starts with the old file's prefix (so stored
// offsets count from the start of the file) and that replaces the old one only once complete
// and on disk, and only while the name still holds the file that was read, unchanged. The
// new file has no name while it is written where the file system allows, so that nothing is
// left behind even when the process is killed.

#include <sys/stat.h>
#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>

namespace kiln {

struct ArchiveFileInfo {
  int fd = -1;                // the archive as read; -1 when there was none
  struct stat read {};        // its state then
  uint64_t prefix = 0;        // bytes kept in front of the first entry
  std::string comment;        // written into an archive left without entries
  bool replaced = false;      // set when another file turned up at the name before the commit
};

// A source over `path`. `info` must outlive the source; its descriptor is not closed.
zip_source_t* MakeArchiveSource(const std::string& path, ArchiveFileInfo* info, zip_error_t* error);

struct ArchiveFile;

// The same new file, written directly rather than through libzip: for rewrites that only
// move bytes of the old file. Unless committed, nothing is left behind.
class ArchiveWriter {
 public:
  ArchiveWriter(const std::string& path, ArchiveFileInfo& info);
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  const std::string& Path() const;  // the file replaced: a link's target
  bool Begin();                      // the new file, holding the old prefix
  bool Write(const void* data, size_t length);
  bool Copy(int in, uint64_t from, uint64_t length);
  uint64_t Position() const;  // in the new file
  bool Seek(uint64_t position);                                // where the next write goes
  bool Truncate();                                             // the file ends at the position
  bool ReadBack(uint64_t from, void* data, size_t length);  // what was written
  // A source through which libzip writes a new archive into this file from the position on
  // (its offsets counting from the file's start). libzip's commit only flushes: the caller
  // completes the file and commits it. Free it (zip_close, zip_discard) before this writer.
  zip_source_t* AppendSource(zip_error_t* error);
  bool Commit();               // flushed, then renamed over the old one
  int Error() const { return error_; }  // errno of the first failure
  bool Replaced() const;                 // the commit found another file at the name

 private:
  bool Saved(bool ok);
  std::unique_ptr<ArchiveFile> file_;
  int error_ = 0;
};

}  // namespace kiln
