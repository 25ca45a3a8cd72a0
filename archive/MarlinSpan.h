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
  uint16_t DiskStart = 0;      // where it was written
  uint32_t LocalHeaderOffset = 0;
  bool Met = false;            // the local header was found and copied
};

class SpanRecords {
 public:
  void Reserve(size_t n) { records_.reserve(n); }
  void Add(uint16_t disk, uint32_t offset, uint32_t packedSize);
  // Sorts by position; call once after the last Add.
  void Seal();
  // The records of the local header at that position; empty when there is none.
  std::pair<SpanRecord*, SpanRecord*> FindSpanRecord(uint16_t disk, uint32_t offset);

 private:
  std::vector<SpanRecord> records_;
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
  std::string JoinedName;  // the file being written, until it is complete
  int64_t JoinedSize = 0;
};

namespace span {

enum class CopyResult { Ok, ShortRead, WriteFailed };

// Copies `count` bytes from the current position of `in` to that of `out`, in the kernel
// where the file systems allow it, else through the call's buffer.
CopyResult CopyBytes(FileHandle& in, FileHandle& out, int64_t count, SpanCall& call);

bool IsHardDisk(DriveKind kind);
std::string AbsolutePath(const std::string& name);
// Modification time of an open file; zero when it cannot be read.
timespec FileTime(const FileHandle& f);
void StampFileTime(const FileHandle& f, const timespec& t);
// DOS date and time (local, two-second steps) of a file time, as FAT keeps it.
uint32_t DosFileTime(const timespec& t);

}  // namespace span
