#pragma once
// The archive's central directory as read by the library itself: libzip does not tell where
// an entry's data lies, which the overlap check and the raw decoders need.

#include <cstdint>
#include <string>
#include <vector>

namespace sluice {

struct ArchiveEntry {
  std::string name;          // as the component reads it (see ReadDirectory)
  bool storedNameSafe = true;  // the stored bytes, as their code page splits them, stay inside
  uint16_t flags = 0, method = 0;
  uint8_t hostSystem = 0;
  uint32_t crc = 0, externalAttr = 0, dosTime = 0;
  uint64_t packed = 0, unpacked = 0;
  uint64_t localOffset = 0;  // in the file, prefix included
  uint64_t dataOffset = 0;   // in the file; 0 when the local header is unusable
  int64_t mtime = 0;         // seconds since the epoch
  bool exactTime = false;    // from an extra field rather than the 2-second DOS time
  bool overlaps = false;     // its bytes are shared with another entry's
  bool localBad = false;     // no local header where the directory says
  uint16_t aesVersion = 0;   // WinZip AES: 1, or 2 when the CRC is not stored
  uint16_t aesMethod = 0;    // the compression method behind WinZip AES
  uint8_t aesStrength = 0;   // 1, 2, 3: 128, 192, 256-bit keys

  bool Encrypted() const { return flags & 1; }
  bool Aes() const { return method == 99 && aesVersion != 0; }
  uint16_t Method() const { return Aes() ? aesMethod : method; }
  bool IsDir() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
  uint32_t UnixMode() const { return hostSystem == 3 ? externalAttr >> 16 : 0; }
  bool IsSymlink() const;
};

struct ArchiveDirectory {
  std::vector<ArchiveEntry> entries;
  uint64_t archiveStart = 0;  // where offsets count from, for libzip
  uint64_t archiveEnd = 0;    // end of the end record and its comment
  std::string error;          // empty on success
};

// Reads the directory of the archive open as `fd`. Every size is checked against the file's,
// so nothing is allocated beyond what the file holds. Names and comments without the UTF-8
// flag are read in `nameCodePage` as the component reads them, or with 0 by the rule of
// older components (code page 437 for DOS, OS/2 and NT 5.0 names, others as stored).
ArchiveDirectory ReadDirectory(int fd, int nameCodePage = 0);

}  // namespace sluice
