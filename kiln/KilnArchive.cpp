#include "KilnArchive.h"

#include "KilnPrefix.h"
#include "KilnReporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "CodePages.h"

namespace kiln {

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
  info = {};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (!truncate) info.prefix = FindPrefix(fd);
    close(fd);
  } else if (errno != ENOENT || !create) {
    reporter.Message(kLibErrRead, path + ": " + std::strerror(errno));
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

void ReportCloseError(zip_t* archive, const std::string& path, Reporter& reporter) {
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
