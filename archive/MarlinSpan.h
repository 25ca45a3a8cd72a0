#pragma once
// What the span writer and the span reader share: the per-entry records that tie each
// central header to its local header, the state of one running call, and the copying.

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "FileHandle.h"
#include "VolumeService.h"

inline constexpr const char* kSetLabelPrefix = "PKBACK# ";

// One entry of the set. Entries are matched by where their local header lies, never by
// name: names may differ only in letter case, and a name search per entry is quadratic.
struct SpanRecord {
  uint16_t SourceDisk = 0;     // where the local header lies in the input
  uint32_t SourceOffset = 0;
  uint32_t PackedSize = 0;     // from the central header
  uint32_t Crc32 = 0;          // from the central header, to recognise a data descriptor
  uint16_t DiskStart = 0;      // where it was written
  uint32_t LocalHeaderOffset = 0;
  bool Met = false;            // the local header was found and copied
};

class SpanRecords {
 public:
  void Reserve(size_t n) { records_.reserve(n); }
  void Add(uint16_t disk, uint32_t offset, uint32_t packedSize, uint32_t crc);
  // Sorts by position; call once after the last Add.
  void Seal();
  // The records of the local header at that position; empty when there is none.
  std::pair<SpanRecord*, SpanRecord*> FindSpanRecord(uint16_t disk, uint32_t offset);

 private:
  std::vector<SpanRecord> records_;
};

// Reads a volume or the source through a buffer, so that the headers of many small
// entries cost a few large reads instead of several system calls each. Large runs of
// data still go straight from file to file (see span::CopyBytes).
class SpanInput {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;
  // Reads `f` from its current position on; its size is taken once, here.
  void Attach(FileHandle& f);
  int64_t Position() const { return filePos_ - int64_t(end_ - begin_); }
  int64_t Size() const { return size_; }
  // Up to `n` bytes, fewer only at the end of the file; -1 on a read error.
  int64_t Read(void* out, size_t n);
  bool Seek(int64_t pos);
  size_t Buffered() const { return end_ - begin_; }
  const char* Peek() const { return buf_.data() + begin_; }
  void Consume(size_t n) { begin_ += n; }
  // Refills an empty buffer; the bytes now buffered (0 at the end, -1 on an error).
  int64_t Fill();
  // The file for a direct copy: the buffer must be empty, and the file stands at Position().
  FileHandle& File() { return *f_; }
  void Advanced(int64_t n) { filePos_ += n; }

 private:
  FileHandle* f_ = nullptr;
  std::vector<char> buf_;
  size_t begin_ = 0, end_ = 0;
  int64_t filePos_ = 0;  // the file's own position: just past the buffered bytes
  int64_t size_ = 0;
};

// Collects small writes (headers, names, small entries) into large ones. Every write
// error is found at the latest by Flush, which a volume or the joined file must pass
// before it counts as written.
class SpanOutput {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;
  void Attach(FileHandle& f);
  bool Write(const void* p, size_t n);
  bool Flush();
  // Forgets what is buffered, for a file that is being thrown away.
  void Discard() { buf_.clear(); }
  FileHandle& File() { return *f_; }

 private:
  FileHandle* f_ = nullptr;
  std::string buf_;
};

// State of one WriteSpan or ReadSpan call.
struct SpanCall {
  // One buffer for all copying, large enough for the longest header group
  // (46 + 3 x 65535 bytes), so names, extra fields and comments are never cut.
  // Allocated inside the call's error trap, so that running out of memory is reported.
  static constexpr size_t kBufferSize = 1 << 20;
  std::vector<char> Buffer;
  bool KernelCopy = true;  // copy_file_range works between these files
  SpanRecords Records;
  SpanInput In;    // the source, or the volume being read
  SpanOutput Out;  // the volume being written, or the joined file

  // Writer: the source file, and the volume files made by this call, so that a failed
  // call can take back what it wrote.
  dev_t SourceDev = 0;
  ino_t SourceIno = 0;
  std::vector<std::string> HardDiskVolumes;
  std::string OpenVolumeName;
  int DirectoryDisk = -1;       // volume on which central headers were last written
  int DirectoryEntriesOnDisk = 0;

  // Reader: every volume file read, so the joined file can never replace one of them.
  std::vector<std::pair<dev_t, ino_t>> VolumesRead;
  std::vector<int64_t> VolumeSizes;  // by volume number, as each was opened
  std::string JoinedName;  // the file being written, until it is complete
  int64_t JoinedSize = 0;
};

namespace span {

enum class CopyResult { Ok, ShortRead, WriteFailed };

// Copies `count` bytes from `in` to `out`: what is buffered first, then large runs in the
// kernel where the file systems allow it, the rest through the buffers.
CopyResult CopyBytes(SpanInput& in, SpanOutput& out, int64_t count, SpanCall& call);
// Whether an extra field holds a Zip64 record (header id 1).
bool HasZip64Extra(const uint8_t* extra, size_t length);
// Length of the data descriptor at `p` (`available` bytes there, at least 12): 16 with
// its signature, 12 without, 0 when neither form carries the entry's CRC.
size_t DataDescriptorLength(const uint8_t* p, size_t available, uint32_t crc);

bool IsHardDisk(DriveKind kind);
std::string AbsolutePath(const std::string& name);
// Modification time of an open file; zero when it cannot be read.
timespec FileTime(const FileHandle& f);
void StampFileTime(const FileHandle& f, const timespec& t);
// DOS date and time (local, two-second steps) of a file time, as FAT keeps it.
uint32_t DosFileTime(const timespec& t);

}  // namespace span
