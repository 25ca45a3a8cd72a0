#pragma once
// Whole reads and writes on a descriptor, for code that cannot use Qt (the static stub,
// the compression libraries). POSIX only.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace fileio {

// Reads exactly `count` bytes at `offset`; false with errno set (0 when the file ends early).
inline bool ReadAt(int fd, uint64_t offset, void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(fd, p, count, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      return false;
    }
    p += n, offset += uint64_t(n), count -= size_t(n);
  }
  return true;
}

// Writes all of `count` bytes; false with errno set (ENOSPC when nothing more is taken).
inline bool WriteAll(int fd, const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n, count -= size_t(n);
  }
  return true;
}

// Writes all of `count` bytes at `offset`, leaving the file position alone; as WriteAll.
inline bool WriteAt(int fd, uint64_t offset, const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, p, count, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n, offset += uint64_t(n), count -= size_t(n);
  }
  return true;
}

}  // namespace fileio
