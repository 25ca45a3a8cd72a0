#include "KilnPrefix.h"
#include "FileIo.h"

#include <ZipRecords.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace kiln {
using fileio::ReadAt;

uint64_t FindPrefix(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(EndOfCentralDir::Size)) return 0;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t tailStart = size > 65557 ? size - 65557 : 0;
  std::vector<uint8_t> tail(size - tailStart);
  if (!ReadAt(fd, tailStart, tail.data(), tail.size())) return 0;

  // The last end record whose comment reaches the end of the file; else the last one.
  long found = -1;
  for (long i = static_cast<long>(tail.size() - EndOfCentralDir::Size); i >= 0; --i) {
    if (GetLE32(&tail[static_cast<size_t>(i)]) != zipsig::EndOfCentral) continue;
    if (found < 0) found = i;
    EndOfCentralDir e = EndOfCentralDir::Decode(&tail[static_cast<size_t>(i)]);
    if (static_cast<size_t>(i) + EndOfCentralDir::Size + e.ArchiveCommentLength == tail.size()) {
      found = i;
      break;
    }
  }
  if (found < 0) return 0;
  const EndOfCentralDir end = EndOfCentralDir::Decode(&tail[static_cast<size_t>(found)]);
  const uint64_t endPos = tailStart + static_cast<uint64_t>(found);
  uint64_t entries = end.EntriesTotal, cdSize = end.CentralDirSize, cdStart = end.CentralDirStart;
  uint64_t recordsStart = endPos;  // of the end records
  if ((entries == 0xFFFF || cdSize == 0xFFFFFFFF || cdStart == 0xFFFFFFFF) && endPos >= Zip64EndLocator::Size) {
    uint8_t loc[Zip64EndLocator::Size], z64[Zip64EndOfCentralDir::MinSize];
    Zip64EndLocator locator;
    Zip64EndOfCentralDir end64;
    if (ReadAt(fd, endPos - Zip64EndLocator::Size, loc, sizeof loc) && Zip64EndLocator::Decode(loc, locator) &&
        ReadAt(fd, locator.EndOffset, z64, sizeof z64) && Zip64EndOfCentralDir::Decode(z64, end64)) {
      entries = end64.EntriesTotal;
      cdSize = end64.CentralDirSize;
      cdStart = end64.CentralDirStart;
      recordsStart = locator.EndOffset;
    }
  }
  // An empty archive's directory offset may count from the end record back (0), the form
  // other writers give one behind a prefix: the prefix then ends where the records begin.
  if (entries == 0) return cdStart == 0 ? recordsStart : std::min(cdStart, recordsStart);
  if (cdStart > size || cdSize > size - cdStart) return 0;

  // Streams through the central directory for the smallest local header offset.
  uint64_t first = cdStart;
  const uint64_t stop = cdStart + cdSize;
  std::vector<uint8_t> chunk;
  uint64_t chunkStart = 0;
  auto view = [&](uint64_t at, uint64_t n) -> const uint8_t* {
    if (at + n > stop) return nullptr;
    if (chunk.empty() || at < chunkStart || at + n > chunkStart + chunk.size()) {
      chunkStart = at;
      chunk.resize(std::min<uint64_t>(std::max<uint64_t>(1 << 20, n), stop - at));
      if (!ReadAt(fd, at, chunk.data(), chunk.size())) return nullptr;
    }
    return chunk.data() + (at - chunkStart);
  };
  uint64_t pos = cdStart;
  for (uint64_t i = 0; i < entries; ++i) {
    const uint8_t* p = view(pos, CentralFileHeader::Size);
    if (!p) break;
    CentralFileHeader h = CentralFileHeader::Decode(p);
    if (h.Signature != zipsig::Central) break;
    ZipDirEntry entry;
    entry.AssignHeader(h);
    if (h.LocalHeaderOffset == 0xFFFFFFFF && h.ExtraLength > 0)
      if (const uint8_t* extra = view(pos + CentralFileHeader::Size + h.NameLength, h.ExtraLength))
        entry.ApplyZip64Extra(extra, h.ExtraLength);
    first = std::min(first, entry.LocalHeaderOffset64);
    pos += CentralFileHeader::Size + h.VariableLength();
  }
  return first;
}

}  // namespace kiln
