#pragma once
// Whether a file is still what it was: the same file (device and inode), the same size and the
// same modification time to the nanosecond. Used for sources while they are read and for the
// archive between reading its directory and replacing it.

#include <sys/stat.h>

namespace kiln {

inline bool SameFileState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace kiln
