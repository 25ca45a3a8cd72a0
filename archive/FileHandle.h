#pragma once
// A plain file handle over POSIX descriptors: whole-count reads and writes, 64-bit
// positions, and no buffering of its own.

#include <cstddef>
#include <cstdint>
#include <string>

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileHandle& operator=(FileHandle&& other) noexcept;

  bool OpenRead(const std::string& path);
  bool OpenReadWrite(const std::string& path);
  // Creates or truncates; mode as the umask allows.
  bool Create(const std::string& path);
  // Creates a file that must not exist yet, with `mode` less the umask.
  bool CreateNew(const std::string& path, unsigned mode);
  void Close();
  // Takes over an open descriptor (closing the one held before).
  void Adopt(int fd) {
    Close();
    fd_ = fd;
  }
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Reads up to `count` bytes, retrying short reads; returns the bytes read (fewer only
  // at the end of the file) or -1 on an error.
  int64_t Read(void* buffer, size_t count);
  // Writes all `count` bytes unless an error stops it; returns the bytes written.
  int64_t Write(const void* buffer, size_t count);
  // Returns the new position, or -1 when it would be negative or the seek failed.
  int64_t Seek(int64_t offset, int whence);
  int64_t Position() const;
  int64_t Size() const;
  bool Truncate(int64_t size);
  bool Sync();

 private:
  int fd_ = -1;
};

// Reads a file front to back through one buffer, for the many small reads of a
// directory walk.
class BufferedReader {
 public:
  explicit BufferedReader(FileHandle& file, size_t bufferSize = 256 * 1024);
  // Bytes delivered, fewer than `count` only at the end of the file or on an error.
  size_t Read(void* out, size_t count);
  // Moves forward; false when the position cannot be set.
  bool Skip(uint64_t count);
  // Drops the buffer and continues from the file's current position.
  void Reset();

 private:
  FileHandle& file_;
  std::string buffer_;
  size_t begin_ = 0, end_ = 0;
};
