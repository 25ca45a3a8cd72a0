#pragma once
// An extracted file is written unnamed (O_TMPFILE) in its target folder and named only once
// it is complete and checked, so that neither a damaged entry nor a killed process leaves a
// partial file. Where the file system has no unnamed files, a hidden name of the process's
// own stands in, and RemoveStale removes those of processes that no longer run the next
// time something is extracted into that folder. Shared by the decompressor library and the
// static stub; POSIX and Linux only.
//
// Two seams for tests: TESSERA_NO_TMPFILE (any value) takes the named stand-in, and
// TESSERA_TEST_KILL_AFTER_BYTES=N kills the process once a file has N bytes, midway.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FileIo.h"

namespace stagedfile {

inline constexpr char kPrefix[] = ".tessera-";

// ".tessera-PID-N.part" and ".tessera-PID-N.link": the PID, or 0 for any other name.
inline pid_t OwnerOf(const char* name) {
  const size_t prefix = sizeof kPrefix - 1;
  if (std::strncmp(name, kPrefix, prefix) != 0) return 0;
  char* rest = nullptr;
  const char* digits = name + prefix;
  if (*digits < '1' || *digits > '9') return 0;
  const long pid = std::strtol(digits, &rest, 10);
  if (*rest != '-' || rest[1] < '0' || rest[1] > '9') return 0;
  std::strtoul(rest + 1, &rest, 10);
  if (std::strcmp(rest, ".part") != 0 && std::strcmp(rest, ".link") != 0) return 0;
  return pid > 0 && pid <= 0x3FFFFFFF ? pid_t(pid) : 0;
}

// A name of this process's own for a file or link being made in a folder.
inline std::string TempName(const char* suffix) {
  static std::atomic<unsigned> counter{0};
  return kPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix;
}

// Removes the stand-ins that processes which no longer run left in the folder. A process
// that runs (or one of another PID namespace that reuses the number) keeps its own.
inline void RemoveStale(int dirFd) {
  const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (const dirent* d = ::readdir(dir)) {
    const pid_t pid = OwnerOf(d->d_name);
    if (pid == 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlinkat(dirFd, d->d_name, 0);
  }
  ::closedir(dir);
}

class StagedFile {
 public:
  StagedFile() = default;
  ~StagedFile() { Discard(); }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Opens the file in the folder `dirFd`; false with errno set.
  bool Open(int dirFd) { return Open(dirFd, UnnamedFiles(), kNoMode); }
  // The same, for callers that open many files: `unnamed` is UnnamedFiles(), asked once.
  // `mode` (unless kNoMode) is the file's when named: an unnamed file is made with it (nobody
  // can open it meanwhile), the named stand-in gets it just before it takes its name.
  static constexpr mode_t kNoMode = mode_t(-1);
  bool Open(int dirFd, bool unnamed, mode_t mode) {
    Discard();
    dir_ = dirFd;
    mode_ = mode;
    if (unnamed) {
      fd_ = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode == kNoMode ? 0600 : mode);
      if (fd_ >= 0) return true;
      // EISDIR: a kernel without O_TMPFILE; the others: a file system without it.
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    }
    for (int i = 0; i < 100 && fd_ < 0; ++i) {
      name_ = TempName(".part");
      fd_ = ::openat(dirFd, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) name_.clear();
    return fd_ >= 0;
  }
  int Fd() const { return fd_; }
  // The stand-in's name, empty while the file is unnamed.
  const std::string& Name() const { return name_; }

  // False with errno set (ENOSPC when nothing more is taken).
  bool Write(const void* data, size_t size) {
    if (!fileio::WriteAll(fd_, data, size)) return false;
    written_ += size;
    if (const char* kill = std::getenv("TESSERA_TEST_KILL_AFTER_BYTES"); kill && written_ >= std::strtoull(kill, nullptr, 10))
      ::raise(SIGKILL);
    return true;
  }

  // Gives the file its name in the folder, replacing a file or link there only when
  // `replace`; otherwise fails with EEXIST. Closes it: errors a file system reports only
  // on closing (a full quota on a network share) fail the file before it is named.
  bool Publish(const std::string& name, bool replace) {
    const int probe = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (probe < 0 || ::close(probe) != 0) return false;
    if (!name_.empty() && mode_ != kNoMode && ::fchmod(fd_, mode_) != 0) return false;
    bool named = false;
    if (name_.empty()) {
      // An unnamed file is linked in; to replace, under a name of its own first.
      std::string as = replace ? TempName(".part") : name;
      named = Link(as);
      if (named && replace) {
        name_ = as;
        named = ::renameat(dir_, name_.c_str(), dir_, name.c_str()) == 0;
      }
    } else {
      named = Rename(name, replace);
    }
    const int err = errno;
    if (named) name_.clear();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && named) {
      const int closeErr = errno;
      ::unlinkat(dir_, name.c_str(), 0);
      errno = closeErr;
      return false;
    }
    if (!named) {
      Discard();
      errno = err;
    }
    return named;
  }

  // Drops a file not yet named.
  void Discard() {
    const int err = errno;
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
    fd_ = -1;
    name_.clear();
    errno = err;
  }

  // Whether files can be made unnamed here: linking one needs /proc, or the privilege to
  // link by descriptor (CAP_DAC_READ_SEARCH).
  static bool UnnamedFiles() {
    if (std::getenv("TESSERA_NO_TMPFILE")) return false;
    return ::access("/proc/self/fd", F_OK) == 0 || ::geteuid() == 0;
  }

 private:
  // By descriptor where the process may (it spares a walk through /proc), else through /proc.
  bool Link(const std::string& as) {
    static std::atomic<bool> byDescriptor{true};  // until refused once
    if (byDescriptor.load(std::memory_order_relaxed)) {
      if (::linkat(fd_, "", dir_, as.c_str(), AT_EMPTY_PATH) == 0) return true;
      if (errno == EEXIST) return false;
      if (errno == ENOENT || errno == EPERM) byDescriptor.store(false, std::memory_order_relaxed);
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    return ::linkat(AT_FDCWD, self.c_str(), dir_, as.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }

  // The stand-in renamed; without `replace` never over a name that is there.
  bool Rename(const std::string& name, bool replace) {
    if (replace) return ::renameat(dir_, name_.c_str(), dir_, name.c_str()) == 0;
    if (::renameat2(dir_, name_.c_str(), dir_, name.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot refuse by itself: looked at first.
    struct stat st{};
    if (::fstatat(dir_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return errno = EEXIST, false;
    return ::renameat(dir_, name_.c_str(), dir_, name.c_str()) == 0;
  }

  int dir_ = -1, fd_ = -1;
  mode_t mode_ = kNoMode;
  std::string name_;
  uint64_t written_ = 0;
};

}  // namespace stagedfile
