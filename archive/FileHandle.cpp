#include "FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FileHandle::OpenRead(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  // A folder opens for reading on Linux but is never an archive or a volume.
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    Close();
    return false;
  }
  return true;
}

bool FileHandle::OpenReadWrite(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  return fd_ >= 0;
}

bool FileHandle::Create(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool FileHandle::CreateNew(const std::string& path, unsigned mode) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
  return fd_ >= 0;
}

void FileHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int64_t FileHandle::Read(void* buffer, size_t count) {
  if (fd_ < 0) return -1;
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? int64_t(done) : -1;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return int64_t(done);
}

int64_t FileHandle::Write(const void* buffer, size_t count) {
  if (fd_ < 0) return -1;
  const auto* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return int64_t(done);
}

int64_t FileHandle::Seek(int64_t offset, int whence) {
  if (fd_ < 0) return -1;
  const off_t r = ::lseek(fd_, off_t(offset), whence);
  return r < 0 ? -1 : int64_t(r);
}

int64_t FileHandle::Position() const {
  if (fd_ < 0) return -1;
  const off_t r = ::lseek(fd_, 0, SEEK_CUR);
  return r < 0 ? -1 : int64_t(r);
}

int64_t FileHandle::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return int64_t(st.st_size);
}

bool FileHandle::Truncate(int64_t size) { return fd_ >= 0 && ::ftruncate(fd_, off_t(size)) == 0; }

bool FileHandle::Sync() { return fd_ >= 0 && ::fsync(fd_) == 0; }

BufferedReader::BufferedReader(FileHandle& file, size_t bufferSize) : file_(file) {
  buffer_.resize(bufferSize);
}

size_t BufferedReader::Read(void* out, size_t count) {
  auto* p = static_cast<char*>(out);
  size_t done = 0;
  while (done < count) {
    if (begin_ == end_) {
      // Large reads bypass the buffer.
      if (count - done >= buffer_.size()) {
        const int64_t n = file_.Read(p + done, count - done);
        if (n > 0) done += size_t(n);
        break;
      }
      const int64_t n = file_.Read(buffer_.data(), buffer_.size());
      if (n <= 0) break;
      begin_ = 0;
      end_ = size_t(n);
    }
    const size_t take = std::min(count - done, end_ - begin_);
    std::memcpy(p + done, buffer_.data() + begin_, take);
    begin_ += take;
    done += take;
  }
  return done;
}

bool BufferedReader::Skip(uint64_t count) {
  const size_t buffered = end_ - begin_;
  if (count <= buffered) {
    begin_ += size_t(count);
    return true;
  }
  const uint64_t rest = count - buffered;
  begin_ = end_ = 0;
  return file_.Seek(int64_t(rest), SEEK_CUR) >= 0;
}

void BufferedReader::Reset() { begin_ = end_ = 0; }
