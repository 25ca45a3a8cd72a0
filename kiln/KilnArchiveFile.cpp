#include "KilnArchiveFile.h"

#include "FileIo.h"
#include "KilnFileState.h"
#include "KilnSeams.h"
#include "KilnTemporaries.h"

#include <ZipRecords.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kiln {
using fileio::ReadAt;
using fileio::WriteAll;
using fileio::WriteAt;

namespace {

constexpr uint64_t kBufferSize = 1 << 20;

}  // namespace

struct ArchiveFile {
  std::string path;
  std::string dir;
  std::string base;
  ArchiveFileInfo* info;
  zip_error_t error{};

  uint64_t readPos = 0;
  uint64_t size = 0;

  // libzip reads and writes in small pieces; these keep the system calls few.
  std::vector<uint8_t> readBuffer;
  uint64_t readBufferStart = 0;
  std::vector<uint8_t> writeBuffer;
  uint64_t writePos = 0;  // of the file, where the buffered bytes go

  int writeFd = -1;
  std::vector<uint8_t> copyBuffer;
  std::string tempName;  // set when the new file has a name before it is complete

  int64_t Fail(int zipError, int sysError) {
    zip_error_set(&error, zipError, sysError);
    return -1;
  }

  int64_t Stat(zip_stat_t* st) {
    struct stat s;
    // No archive yet: libzip makes a new one.
    if (info->fd < 0) return Fail(ZIP_ER_READ, ENOENT);
    if (fstat(info->fd, &s) != 0) return Fail(ZIP_ER_READ, errno);
    if (!S_ISREG(s.st_mode)) return Fail(ZIP_ER_READ, EISDIR);
    zip_stat_init(st);
    st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
    st->size = static_cast<uint64_t>(s.st_size);
    st->mtime = s.st_mtime;
    return sizeof(zip_stat_t);
  }

  int64_t Open() {
    struct stat s;
    if (info->fd < 0) return Fail(ZIP_ER_OPEN, ENOENT);
    if (fstat(info->fd, &s) != 0) return Fail(ZIP_ER_OPEN, errno);
    size = static_cast<uint64_t>(s.st_size);
    readPos = 0;
    readBuffer.clear();
    return 0;
  }

  int64_t Read(void* data, uint64_t length) {
    if (readPos >= size) return 0;
    length = std::min(length, size - readPos);
    if (length >= kBufferSize) {
      if (!ReadAt(info->fd, readPos, data, length)) return Fail(ZIP_ER_READ, errno != 0 ? errno : EIO);
      readPos += length;
      return static_cast<int64_t>(length);
    }
    if (readPos < readBufferStart || readPos >= readBufferStart + readBuffer.size()) {
      readBuffer.resize(std::min(kBufferSize, size - readPos));
      if (!ReadAt(info->fd, readPos, readBuffer.data(), readBuffer.size())) {
        readBuffer.clear();
        return Fail(ZIP_ER_READ, errno != 0 ? errno : EIO);
      }
      readBufferStart = readPos;
    }
    const uint64_t at = readPos - readBufferStart;
    const uint64_t n = std::min<uint64_t>(length, readBuffer.size() - at);
    std::memcpy(data, readBuffer.data() + at, n);
    readPos += n;
    return static_cast<int64_t>(n);
  }

  bool Flush() {
    if (writeBuffer.empty()) return true;
    // At writePos rather than the file position: CopyRange writes without moving it.
    if (!WriteAt(writeFd, writePos, writeBuffer.data(), writeBuffer.size())) return false;
    // Start writing back now, so that the flush before the rename has little left to do.
    sync_file_range(writeFd, static_cast<off_t>(writePos), static_cast<off_t>(writeBuffer.size()),
                    SYNC_FILE_RANGE_WRITE);
    writePos += writeBuffer.size();
    writeBuffer.clear();
    return true;
  }

  // A new file beside the target with the old prefix copied in.
  int64_t BeginWrite() {
    Discard();
    // Whoever left these is gone, and this writer holds the archive's lock.
    RemoveStaleTemporaries(dir, base);
    if (!Seams().NamedTemporary) writeFd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (writeFd < 0) {
      for (int attempt = 0; attempt < 100 && writeFd < 0; ++attempt) {
        tempName = TemporaryName(dir, base);
        writeFd = open(tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (writeFd < 0 && errno != EEXIST) break;
      }
      if (writeFd < 0) {
        int err = errno;
        tempName.clear();
        return Fail(ZIP_ER_TMPOPEN, err);
      }
      WatchTemporary(tempName);
    }
    struct stat old;
    if (info->fd >= 0 && fstat(info->fd, &old) == 0) {
      fchmod(writeFd, old.st_mode & 07777);
      if (fchown(writeFd, old.st_uid, old.st_gid) != 0) { /* keeping the owner is a courtesy */ }
    }
    writePos = 0;
    if (info->prefix > 0 && !CopyRange(info->fd, 0, info->prefix)) return Fail(ZIP_ER_WRITE, errno);
    return 0;
  }

  int64_t Write(const void* data, uint64_t length) {
    auto* p = static_cast<const uint8_t*>(data);
    writeBuffer.insert(writeBuffer.end(), p, p + length);
    if (writeBuffer.size() >= kBufferSize && !Flush()) return Fail(ZIP_ER_WRITE, errno);
    return static_cast<int64_t>(length);
  }

  // Appends `length` bytes of `in` from `from`. Plain reads and writes in large pieces:
  // on ext4 copy_file_range measured slower than this (it splices page by page).
  bool CopyRange(int in, uint64_t from, uint64_t length) {
    if (!Flush()) return false;
    const uint64_t start = writePos;
    copyBuffer.resize(kBufferSize);
    while (length > 0) {
      const size_t n = static_cast<size_t>(std::min(length, kBufferSize));
      if (!ReadAt(in, from, copyBuffer.data(), n)) {
        if (errno == 0) errno = EIO;  // the old file is shorter than its directory says
        return false;
      }
      if (!WriteAt(writeFd, writePos, copyBuffer.data(), n)) return false;
      from += n;
      writePos += n;
      length -= n;
    }
    // As in Flush: the flush before the rename then has little left to do.
    sync_file_range(writeFd, static_cast<off_t>(start), static_cast<off_t>(writePos - start), SYNC_FILE_RANGE_WRITE);
    return true;
  }

  int64_t SeekWrite(int64_t offset, int whence) {
    if (!Flush()) return Fail(ZIP_ER_WRITE, errno);
    // Writes are positioned (pwrite): the descriptor's own offset means nothing here.
    int64_t base = 0;
    struct stat st;
    if (whence == SEEK_CUR) base = static_cast<int64_t>(writePos);
    else if (whence == SEEK_END) base = fstat(writeFd, &st) == 0 ? st.st_size : -1;
    else if (whence != SEEK_SET) base = -1;
    if (base < 0 || base + offset < 0) return Fail(ZIP_ER_SEEK, EINVAL);
    writePos = static_cast<uint64_t>(base + offset);
    return 0;
  }

  // Whether the name still holds what was read: the same file, unchanged, or still nothing.
  bool StillInPlace() const {
    struct stat now;
    if (info->fd < 0) return stat(path.c_str(), &now) != 0 && errno == ENOENT;
    return stat(path.c_str(), &now) == 0 && SameFileState(now, info->read);
  }

  // Puts the new file at the name. Where nothing was, nothing that turned up since the check
  // is replaced (a link to nothing is, as always).
  bool Publish() {
    struct stat st;
    if (info->fd < 0 && lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
      if (renameat2(AT_FDCWD, tempName.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return true;
      if (errno != EINVAL && errno != ENOSYS) return false;
    }
    return rename(tempName.c_str(), path.c_str()) == 0;
  }

  // Flushed, then put in place by one rename, unless another program changed the archive
  // since it was read: its file is then left as it is.
  int64_t Commit() {
    if (!Flush() || fsync(writeFd) != 0) return Fail(ZIP_ER_WRITE, errno);
    if (tempName.empty()) {
      std::string fdPath = "/proc/self/fd/" + std::to_string(writeFd);
      for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(dir, base);
        if (linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          tempName = name;
          WatchTemporary(tempName);
          break;
        }
        if (errno != EEXIST) return Fail(ZIP_ER_WRITE, errno);
      }
      if (tempName.empty()) return Fail(ZIP_ER_WRITE, EEXIST);
    }
    if (!StillInPlace()) {
      info->replaced = true;
      return Fail(ZIP_ER_CHANGED, 0);
    }
    if (!Publish()) {
      if (errno == EEXIST) info->replaced = true;
      return Fail(info->replaced ? ZIP_ER_CHANGED : ZIP_ER_RENAME, errno);
    }
    ForgetTemporary(tempName);
    tempName.clear();
    close(writeFd);
    writeFd = -1;
    int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
      fsync(d);
      close(d);
    }
    return 0;
  }

  void Discard() {
    writeBuffer.clear();
    writeBuffer.shrink_to_fit();
    if (writeFd >= 0) close(writeFd);
    writeFd = -1;
    if (!tempName.empty()) {
      unlink(tempName.c_str());
      ForgetTemporary(tempName);
    }
    tempName.clear();
  }

  // libzip removes an archive left without entries; a user's file is kept as an empty
  // archive instead (with its prefix, so a self-extractor stays one). Its directory offset is
  // 0, counted from the end record back, the only form of an empty archive behind a prefix
  // that other readers accept; and no Zip64 records, which nothing needs here.
  int64_t Remove() {
    if (BeginWrite() < 0) return -1;
    EndOfCentralDir record;
    size_t clen = std::min<size_t>(info->comment.size(), 0xFFFF);
    record.ArchiveCommentLength = static_cast<uint16_t>(clen);
    auto end = record.Bytes();
    if (Write(end.data(), end.size()) < 0 || Write(info->comment.data(), clen) < 0) {
      int err = errno;
      Discard();
      return Fail(ZIP_ER_WRITE, err);
    }
    if (Commit() < 0) {
      Discard();
      return -1;
    }
    return 0;
  }
};

namespace {

zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* a = static_cast<ArchiveFile*>(userdata);
  switch (cmd) {
    case ZIP_SOURCE_STAT:
      if (len < sizeof(zip_stat_t)) return a->Fail(ZIP_ER_INVAL, 0);
      return a->Stat(static_cast<zip_stat_t*>(data));
    case ZIP_SOURCE_OPEN:
      return a->Open();
    case ZIP_SOURCE_READ:
      return a->Read(data, len);
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_SEEK: {
      zip_int64_t to = zip_source_seek_compute_offset(a->readPos, a->size, data, len, &a->error);
      if (to < 0) return -1;
      a->readPos = static_cast<uint64_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(a->readPos);
    case ZIP_SOURCE_BEGIN_WRITE:
      return a->BeginWrite();
    case ZIP_SOURCE_WRITE:
      return a->Write(data, len);
    case ZIP_SOURCE_SEEK_WRITE: {
      auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &a->error);
      if (!args) return -1;
      return a->SeekWrite(args->offset, args->whence);
    }
    case ZIP_SOURCE_TELL_WRITE:
      return static_cast<zip_int64_t>(a->writePos + a->writeBuffer.size());
    case ZIP_SOURCE_COMMIT_WRITE: {
      int64_t rc = a->Commit();
      if (rc < 0) a->Discard();
      return rc;
    }
    case ZIP_SOURCE_ROLLBACK_WRITE:
      a->Discard();
      return 0;
    case ZIP_SOURCE_REMOVE:
      return a->Remove();
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&a->error, data, len);
    case ZIP_SOURCE_FREE:
      a->Discard();
      zip_error_fini(&a->error);
      delete a;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(
          ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
          ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE,
          ZIP_SOURCE_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE,
          ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
    default:
      return a->Fail(ZIP_ER_OPNOTSUPP, 0);
  }
}

}  // namespace

static void SetPath(ArchiveFile& a, const std::string& path, ArchiveFileInfo* info) {
  a.path = path;
  // Replacing an archive reached through a link writes the file it points to, not a new
  // file in place of the link.
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      a.path = real;
      free(real);
    }
  }
  size_t slash = a.path.rfind('/');
  a.dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : a.path.substr(0, slash));
  a.base = slash == std::string::npos ? a.path : a.path.substr(slash + 1);
  a.info = info;
}

zip_source_t* MakeArchiveSource(const std::string& path, ArchiveFileInfo* info, zip_error_t* error) {
  auto* a = new ArchiveFile;
  SetPath(*a, path, info);
  zip_error_init(&a->error);
  zip_source_t* src = zip_source_function_create(Callback, a, error);
  if (!src) {
    zip_error_fini(&a->error);
    delete a;
  }
  return src;
}

ArchiveWriter::ArchiveWriter(const std::string& path, ArchiveFileInfo& info) : file_(new ArchiveFile) {
  SetPath(*file_, path, &info);
  zip_error_init(&file_->error);
}

ArchiveWriter::~ArchiveWriter() {
  file_->Discard();
  zip_error_fini(&file_->error);
}

const std::string& ArchiveWriter::Path() const { return file_->path; }

bool ArchiveWriter::Begin() { return Saved(file_->BeginWrite() == 0); }

bool ArchiveWriter::Write(const void* data, size_t length) { return Saved(file_->Write(data, length) >= 0); }

bool ArchiveWriter::Copy(int in, uint64_t from, uint64_t length) { return Saved(file_->CopyRange(in, from, length)); }

uint64_t ArchiveWriter::Position() const { return file_->writePos + file_->writeBuffer.size(); }

bool ArchiveWriter::Seek(uint64_t position) {
  return Saved(file_->SeekWrite(static_cast<int64_t>(position), SEEK_SET) == 0);
}

bool ArchiveWriter::Truncate() {
  return Saved(file_->Flush() && ftruncate(file_->writeFd, static_cast<off_t>(file_->writePos)) == 0);
}

bool ArchiveWriter::ReadBack(uint64_t from, void* data, size_t length) {
  return Saved(file_->Flush() && ReadAt(file_->writeFd, from, data, length));
}

namespace {

// libzip's view of the file behind an ArchiveWriter: no archive yet, and writes forwarded.
zip_int64_t AppendCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* a = static_cast<ArchiveFile*>(userdata);
  switch (cmd) {
    case ZIP_SOURCE_STAT:
    case ZIP_SOURCE_OPEN:
      return a->Fail(ZIP_ER_READ, ENOENT);
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_COMMIT_WRITE:
      return a->Flush() ? 0 : a->Fail(ZIP_ER_WRITE, errno);
    case ZIP_SOURCE_ROLLBACK_WRITE:
      return 0;  // the writer's owner discards the file
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                            ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE,
                                            ZIP_SOURCE_REMOVE, -1);
    case ZIP_SOURCE_REMOVE:
      return a->Fail(ZIP_ER_INTERNAL, 0);  // never left without entries
    default:
      return Callback(userdata, data, len, cmd);
  }
}

}  // namespace

zip_source_t* ArchiveWriter::AppendSource(zip_error_t* error) {
  return zip_source_function_create(AppendCallback, file_.get(), error);
}

bool ArchiveWriter::Commit() {
  if (file_->Commit() == 0) return true;
  Saved(false);
  file_->Discard();
  return false;
}

bool ArchiveWriter::Replaced() const { return file_->info->replaced; }

bool ArchiveWriter::Saved(bool ok) {
  if (!ok && error_ == 0) {
    int sys = zip_error_code_system(&file_->error);
    error_ = sys != 0 ? sys : (errno != 0 ? errno : EIO);
  }
  return ok;
}

}  // namespace kiln
