#include "KilnArchiveFile.h"
#include "FileIo.h"

#include <ZipRecords.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace kiln {
using fileio::WriteAll;

namespace {

constexpr uint64_t kBufferSize = 1 << 20;


bool PWriteAll(int fd, const void* data, size_t length, uint64_t at) {
  auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    ssize_t n = pwrite(fd, p, length, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    at += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  const char* chars = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 8; ++i) s += chars[rng() % 36];
  return s;
}

}  // namespace

struct ArchiveFile {
  std::string path;
  std::string dir;
  std::string base;
  const ArchiveFileInfo* info;
  zip_error_t error{};

  int readFd = -1;
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
    if (stat(path.c_str(), &s) != 0) return Fail(ZIP_ER_READ, errno);
    if (!S_ISREG(s.st_mode)) return Fail(ZIP_ER_READ, EISDIR);
    zip_stat_init(st);
    st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
    st->size = static_cast<uint64_t>(s.st_size);
    st->mtime = s.st_mtime;
    return sizeof(zip_stat_t);
  }

  int64_t Open() {
    readFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (readFd < 0) return Fail(ZIP_ER_OPEN, errno);
    struct stat s;
    fstat(readFd, &s);
    size = static_cast<uint64_t>(s.st_size);
    readPos = 0;
    readBuffer.clear();
    return 0;
  }

  int64_t Read(void* data, uint64_t length) {
    if (readPos < readBufferStart || readPos >= readBufferStart + readBuffer.size()) {
      if (length >= kBufferSize) return ReadDirect(data, length);
      readBuffer.resize(kBufferSize);
      ssize_t n;
      do n = pread(readFd, readBuffer.data(), readBuffer.size(), static_cast<off_t>(readPos));
      while (n < 0 && errno == EINTR);
      if (n < 0) {
        readBuffer.clear();
        return Fail(ZIP_ER_READ, errno);
      }
      readBuffer.resize(static_cast<size_t>(n));
      readBufferStart = readPos;
      if (n == 0) return 0;
    }
    uint64_t at = readPos - readBufferStart;
    uint64_t n = std::min<uint64_t>(length, readBuffer.size() - at);
    std::memcpy(data, readBuffer.data() + at, n);
    readPos += n;
    return static_cast<int64_t>(n);
  }

  int64_t ReadDirect(void* data, uint64_t length) {
    ssize_t n;
    do n = pread(readFd, data, length, static_cast<off_t>(readPos));
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(ZIP_ER_READ, errno);
    readPos += static_cast<uint64_t>(n);
    return n;
  }

  bool Flush() {
    if (writeBuffer.empty()) return true;
    // At writePos rather than the file position: CopyRange writes without moving it.
    if (!PWriteAll(writeFd, writeBuffer.data(), writeBuffer.size(), writePos)) return false;
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
    writeFd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (writeFd < 0) {
      for (int attempt = 0; attempt < 100 && writeFd < 0; ++attempt) {
        tempName = dir + "/." + base + ".kiln-" + RandomSuffix();
        writeFd = open(tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (writeFd < 0 && errno != EEXIST) break;
      }
      if (writeFd < 0) {
        int err = errno;
        tempName.clear();
        return Fail(ZIP_ER_TMPOPEN, err);
      }
    }
    struct stat old;
    if (stat(path.c_str(), &old) == 0) {
      fchmod(writeFd, old.st_mode & 07777);
      if (fchown(writeFd, old.st_uid, old.st_gid) != 0) { /* keeping the owner is a courtesy */ }
    }
    if (info->prefix > 0) {
      int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (in < 0) return Fail(ZIP_ER_READ, errno);
      std::vector<uint8_t> buffer(1 << 16);
      uint64_t left = info->prefix, at = 0;
      while (left > 0) {
        ssize_t n = pread(in, buffer.data(), std::min<uint64_t>(left, buffer.size()), static_cast<off_t>(at));
        if (n <= 0 || !WriteAll(writeFd, buffer.data(), static_cast<size_t>(n))) {
          int err = n < 0 ? errno : (n == 0 ? EIO : errno);
          close(in);
          return Fail(n <= 0 ? ZIP_ER_READ : ZIP_ER_WRITE, err);
        }
        left -= static_cast<uint64_t>(n);
        at += static_cast<uint64_t>(n);
      }
      close(in);
    }
    writePos = info->prefix;
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
      ssize_t n;
      do n = pread(in, copyBuffer.data(), std::min<uint64_t>(length, kBufferSize), static_cast<off_t>(from));
      while (n < 0 && errno == EINTR);
      if (n < 0) return false;
      if (n == 0) {  // the old file is shorter than its directory says
        errno = EIO;
        return false;
      }
      if (!PWriteAll(writeFd, copyBuffer.data(), static_cast<size_t>(n), writePos)) return false;
      from += static_cast<uint64_t>(n);
      writePos += static_cast<uint64_t>(n);
      length -= static_cast<uint64_t>(n);
    }
    // As in Flush: the flush before the rename then has little left to do.
    sync_file_range(writeFd, static_cast<off_t>(start), static_cast<off_t>(writePos - start), SYNC_FILE_RANGE_WRITE);
    return true;
  }

  int64_t SeekWrite(int64_t offset, int whence) {
    if (!Flush()) return Fail(ZIP_ER_WRITE, errno);
    off_t at = lseek(writeFd, offset, whence);
    if (at < 0) return Fail(ZIP_ER_SEEK, errno);
    writePos = static_cast<uint64_t>(at);
    return 0;
  }

  // Flushed, then put in place by one rename.
  int64_t Commit() {
    if (!Flush() || fsync(writeFd) != 0) return Fail(ZIP_ER_WRITE, errno);
    if (tempName.empty()) {
      std::string fdPath = "/proc/self/fd/" + std::to_string(writeFd);
      for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = dir + "/." + base + ".kiln-" + RandomSuffix();
        if (linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          tempName = name;
          break;
        }
        if (errno != EEXIST) return Fail(ZIP_ER_WRITE, errno);
      }
      if (tempName.empty()) return Fail(ZIP_ER_WRITE, EEXIST);
    }
    if (rename(tempName.c_str(), path.c_str()) != 0) return Fail(ZIP_ER_RENAME, errno);
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
    if (!tempName.empty()) unlink(tempName.c_str());
    tempName.clear();
  }

  // libzip removes an archive left without entries; a user's file is kept as an empty
  // archive instead (with its prefix, so a self-extractor stays one).
  int64_t Remove() {
    if (BeginWrite() < 0) return -1;
    EndOfCentralDir record;
    record.CentralDirStart = static_cast<uint32_t>(info->prefix);
    size_t clen = std::min<size_t>(info->comment.size(), 0xFFFF);
    record.ArchiveCommentLength = static_cast<uint16_t>(clen);
    auto end = record.Bytes();
    if (!WriteAll(writeFd, end.data(), end.size()) || !WriteAll(writeFd, info->comment.data(), clen)) {
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
      if (a->readFd >= 0) close(a->readFd);
      a->readFd = -1;
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
      if (a->readFd >= 0) close(a->readFd);
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

static void SetPath(ArchiveFile& a, const std::string& path, const ArchiveFileInfo* info) {
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

zip_source_t* MakeArchiveSource(const std::string& path, const ArchiveFileInfo* info, zip_error_t* error) {
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

ArchiveWriter::ArchiveWriter(const std::string& path, const ArchiveFileInfo& info) : file_(new ArchiveFile) {
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

bool ArchiveWriter::Commit() {
  if (file_->Commit() == 0) return true;
  Saved(false);
  file_->Discard();
  return false;
}

bool ArchiveWriter::Saved(bool ok) {
  if (!ok && error_ == 0) {
    int sys = zip_error_code_system(&file_->error);
    error_ = sys != 0 ? sys : (errno != 0 ? errno : EIO);
  }
  return ok;
}

}  // namespace kiln
