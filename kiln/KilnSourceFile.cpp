#include "KilnSourceFile.h"

#include "FileIo.h"
#include "KilnFileState.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kiln {

bool SourceFile::Failed(int error) {
  error_ = error != 0 ? error : EIO;
  Close();
  return false;
}

bool SourceFile::Open(const std::string& path, const struct stat& walked) {
  Close();
  error_ = 0;
  path_ = path;
  walked_ = walked;
  fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) return Failed(errno);
  struct stat now;
  if (fstat(fd_, &now) != 0) return Failed(errno);
  // Replaced or rewritten between the walk and now.
  if (!SameFileState(now, walked_)) return Failed(kSourceChanged);
  return true;
}

bool SourceFile::Read(uint64_t offset, void* buffer, size_t length) {
  if (fd_ < 0) return Failed(error_);
  if (fileio::ReadAt(fd_, offset, buffer, length)) return true;
  return Failed(errno != 0 ? errno : kSourceChanged);  // errno 0: it ended early
}

bool SourceFile::Finish() {
  if (fd_ < 0) return Failed(error_);
  struct stat now, named;
  // Written meanwhile, or no longer the file at its name (renamed over): the bytes read may
  // be a state the user never saw, and moving the source would remove the other file.
  const bool same = fstat(fd_, &now) == 0 && SameFileState(now, walked_) && lstat(path_.c_str(), &named) == 0 &&
                    SameFileState(named, walked_);
  if (!same) return Failed(kSourceChanged);
  Close();
  return true;
}

void SourceFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace kiln
