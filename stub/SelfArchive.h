// The self-extractor's own file: the program image, the header behind it and the
// archive behind that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "ZipRecords.h"
#include "FileIo.h"

namespace stubby {

constexpr uint32_t kCentralSig = 0x02014B50, kEndSig = 0x06054B50,
                   kZip64LocatorSig = 0x07064B50;
constexpr size_t kHeaderSize = 256, kEndSize = 22, kCentralSize = 46;
constexpr size_t kEndSearch = 65535 + kEndSize;
constexpr size_t kChunk = 64 * 1024;
constexpr uint32_t kMaxLinkTarget = 4095;

// Option bits of the header's fourth byte.
enum : uint8_t {
  kAskCmdLine = 1, kAskFiles = 2, kHideOverwrite = 4, kOverwriteAlways = 8, kOverwriteNever = 16,
  kNoSizeCheck = 32, kAutoRun = 64
};

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kNotSfx = 3 };
enum class Overwrite { Ask, Always, Never };

// A message on standard error, after what standard output holds.
void Error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Names and captions come from the file: control characters never reach the terminal.
std::string Printable(const std::string& s);
using fileio::ReadAt;
using fileio::WriteAll;

struct Entry {
  std::string rawName;
  std::string name;  // for display and for the file system: '/' separated, UTF-8 where known
  uint8_t hostSystem = 0;
  uint16_t flags = 0, method = 0;
  uint32_t dosTime = 0, crc = 0, packed = 0, unpacked = 0, externalAttr = 0;
  uint64_t localOffset = 0;  // in the file
  uint64_t dataOffset = 0;   // in the file, behind the local header and its extra field
  uint16_t localExtra = 0;   // length of the local extra field, right before the data
  bool localBad = false;     // no local header where the directory says, or data past it
  bool overlaps = false;     // its bytes are shared with another entry's

  bool IsDir() const { return !name.empty() && name.back() == '/'; }
  bool Encrypted() const { return flags & 1; }
  uint32_t UnixMode() const { return hostSystem == 3 ? externalAttr >> 16 : 0; }
  bool IsSymlink() const { return S_ISLNK(UnixMode()); }
};

// The program's own file: the stub, the header and the archive behind them.
struct SelfArchive {
  int fd = -1;
  uint64_t fileSize = 0;
  uint64_t headerAt = 0;    // where the header lies; the stub is everything before it
  uint64_t archiveEnd = 0;  // end of the archive comment
  uint8_t bits = 0;
  std::string caption, defaultDir, command;
  std::vector<Entry> entries;
};

// End of the ELF image: the furthest byte any header, segment or section names; 0 when
// the file is no 64-bit ELF file.
uint64_t ElfImageSize(int fd);
// Reads the header at `headerAt` and the directory of the archive behind it from `a.fd`;
// false when they are not there.
bool ReadArchive(SelfArchive& a, uint64_t headerAt);
// Opens the running program's file and reads it; a message and false when this is no
// self-extractor.
bool OpenSelf(SelfArchive& a);

}  // namespace stubby
