#include "KilnArchive.h"

#include "KilnPrefix.h"
#include "KilnReporter.h"
#include "KilnSeams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "CodePages.h"

namespace kiln {

namespace {

constexpr int kLockWaitMs = 30000;

// Where the lock of an archive that does not exist yet is taken.
std::string LockName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." + path + ".kiln-lock" : path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".kiln-lock";
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

HeldArchive::~HeldArchive() { Release(); }

void HeldArchive::Release() {
  CloseFd(info.fd);  // which also lets the lock go
  // Removed while still locked: a writer waiting on it finds it gone and starts again.
  if (lockFd_ >= 0) unlink(lockName_.c_str());
  CloseFd(lockFd_);
}

bool HeldArchive::Take(const std::string& path, bool mayCreate, Reporter& reporter) {
  // A user who may not write the archive does not get it replaced behind its permissions.
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
    reporter.Message(kLibErrWrite, path + ": cannot be changed (" + std::strerror(errno) + "), left as it is");
    return false;
  }
  const int waitMs = Seams().LockWaitMs >= 0 ? Seams().LockWaitMs : kLockWaitMs;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  bool told = false;
  lockName_ = LockName(path);
  for (;;) {
    CloseFd(info.fd);
    CloseFd(lockFd_);
    info.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (info.fd < 0) {
      if (errno != ENOENT || !mayCreate) {
        reporter.Message(kLibErrRead, path + ": " + std::strerror(errno));
        return false;
      }
      lockFd_ = open(lockName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (lockFd_ < 0) {
        reporter.Message(kLibErrWrite, path + ": " + std::strerror(errno));
        return false;
      }
    }
    int locked = flock(info.fd >= 0 ? info.fd : lockFd_, LOCK_EX | LOCK_NB);
    if (locked != 0 && errno == EBADF && info.fd >= 0) {
      // Network file systems lock only descriptors open for writing.
      const int writable = open(path.c_str(), O_RDWR | O_CLOEXEC);
      if (writable >= 0) {
        CloseFd(info.fd);
        info.fd = writable;
        locked = flock(info.fd, LOCK_EX | LOCK_NB);
      }
    }
    // A file system without locks is written unlocked: the check before the commit still
    // keeps another program's archive from being replaced.
    if (locked == 0 || (errno != EWOULDBLOCK && errno != EINTR)) {
      // The writer before may have replaced the file that was locked: then lock the new one.
      struct stat now;
      if (info.fd >= 0) {
        if (fstat(info.fd, &info.read) == 0 && stat(path.c_str(), &now) == 0 && now.st_dev == info.read.st_dev &&
            now.st_ino == info.read.st_ino)
          return true;
      } else if (fstat(lockFd_, &info.read) == 0 && stat(lockName_.c_str(), &now) == 0 &&
                 now.st_dev == info.read.st_dev && now.st_ino == info.read.st_ino) {
        info.read = {};
        // Made meanwhile by the writer before: lock the archive instead.
        if (stat(path.c_str(), &now) != 0 && errno == ENOENT) return true;
        Release();
        continue;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      reporter.Message(kLibErrWrite, path + ": in use by another program for " + std::to_string(waitMs / 1000) +
                                         " s, left as it is");
      return false;
    }
    if (!told) {
      told = true;
      if (!reporter.Message(0, path + ": waiting for another program to finish with it")) return false;
    }
    if (!reporter.Heartbeat()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<std::string> LibzipNames(zip_t* archive) {
  const zip_int64_t count = std::max<zip_int64_t>(zip_get_num_entries(archive, 0), 0);
  std::vector<std::string> names(static_cast<size_t>(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* n = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    names[static_cast<size_t>(i)] = n ? n : "";
  }
  return names;
}

std::vector<std::string> ShownNames(zip_t* archive, int codePage) {
  const zip_int64_t count = std::max<zip_int64_t>(zip_get_num_entries(archive, 0), 0);
  std::vector<std::string> shown(static_cast<size_t>(count));
  std::optional<entrynames::NameDecoder> decoder;
  if (codePage != 0) decoder.emplace(codePage);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto at = static_cast<zip_uint64_t>(i);
    const char* raw = zip_get_name(archive, at, ZIP_FL_ENC_RAW);
    std::string& name = shown[static_cast<size_t>(i)];
    name = raw ? raw : "";
    // libzip gives the text of a matching Unicode path field in place of the stored bytes,
    // and reads both as UTF-8 strictly; stored bytes of a code page it reads as code page
    // 437, so they differ from their strict reading.
    const char* strict = decoder ? zip_get_name(archive, at, ZIP_FL_ENC_STRICT) : nullptr;
    if (strict && name != strict) name = decoder->Decode(name);
    std::replace(name.begin(), name.end(), '\\', '/');
  }
  return shown;
}

zip_t* OpenArchive(const std::string& path, ArchiveFileInfo& info, bool create, bool truncate,
                   Reporter& reporter) {
  info.prefix = info.fd >= 0 && !truncate ? FindPrefix(info.fd) : 0;
  info.comment.clear();
  info.replaced = false;
  if (info.fd < 0 && !create) {
    reporter.Message(kLibErrRead, path + ": " + std::strerror(ENOENT));
    return nullptr;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = MakeArchiveSource(path, &info, &error);
  zip_t* za = nullptr;
  if (src) {
    za = zip_open_from_source(src, (create ? ZIP_CREATE : 0) | (truncate ? ZIP_TRUNCATE : 0), &error);
    if (!za) zip_source_free(src);
  }
  if (!za) {
    int code = zip_error_code_zip(&error);
    bool damaged = code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS || code == ZIP_ER_CRC ||
                   code == ZIP_ER_EOF || code == ZIP_ER_COMPNOTSUPP;
    reporter.Message(damaged ? kLibErrBadArchive : kLibErrRead,
                     path + ": " + (damaged ? "not a zip archive or damaged (" : "cannot open (") +
                         zip_error_strerror(&error) + ")");
    zip_error_fini(&error);
    return nullptr;
  }
  zip_error_fini(&error);
  int len = 0;
  if (const char* c = zip_get_archive_comment(za, &len, ZIP_FL_ENC_RAW))
    info.comment.assign(c, static_cast<size_t>(len));
  return za;
}

void WatchClose(zip_t* archive, Reporter& reporter) {
  zip_register_cancel_callback_with_state(
      archive, [](zip_t*, void* r) { return static_cast<Reporter*>(r)->Heartbeat() ? 0 : 1; }, nullptr, &reporter);
}

void ReportReplaced(const std::string& path, Reporter& reporter) {
  reporter.Message(kLibErrWrite, path + ": changed by another program meanwhile, left as that program wrote it");
}

void ReportCloseError(zip_t* archive, const std::string& path, const ArchiveFileInfo& info, Reporter& reporter) {
  if (info.replaced) return ReportReplaced(path, reporter);
  zip_error_t* error = zip_get_error(archive);
  int sys = zip_error_code_system(error);
  int zipCode = zip_error_code_zip(error);
  if (sys == ENOSPC || sys == EDQUOT) {
    reporter.Message(kLibErrDiskFull, path + ": disk full, archive left unchanged");
    return;
  }
  int32_t code = kLibErrWrite;
  if (zipCode == ZIP_ER_INCONS || zipCode == ZIP_ER_NOZIP || zipCode == ZIP_ER_CRC || zipCode == ZIP_ER_EOF)
    code = kLibErrBadArchive;
  else if (zipCode == ZIP_ER_MEMORY)
    code = kLibErrMemory;
  reporter.Message(code, path + ": " + zip_error_strerror(error) + ", archive left unchanged");
}

void SetArchiveTime(const std::string& path, time_t when) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

time_t DosRounded(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return t;
  if (tm.tm_year < 80) return t;
  tm.tm_sec &= ~1;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

}  // namespace kiln
