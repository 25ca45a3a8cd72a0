#include "KilnPrefix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace kiln {

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }
uint64_t U64(const uint8_t* p) { return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32; }

bool ReadAt(int fd, uint64_t offset, uint8_t* out, size_t length) {
  while (length > 0) {
    ssize_t n = pread(fd, out, length, static_cast<off_t>(offset));
    if (n <= 0) return false;
    out += n;
    length -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

}  // namespace

uint64_t FindPrefix(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < 22) return 0;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  uint64_t tailStart = size > 65557 ? size - 65557 : 0;
  std::vector<uint8_t> tail(size - tailStart);
  if (!ReadAt(fd, tailStart, tail.data(), tail.size())) return 0;

  // The last end record whose comment reaches the end of the file; else the last one.
  long eocd = -1;
  for (long i = static_cast<long>(tail.size()) - 22; i >= 0; --i) {
    if (U32(&tail[i]) != 0x06054b50) continue;
    if (eocd < 0) eocd = i;
    if (static_cast<size_t>(i) + 22 + U16(&tail[i + 20]) == tail.size()) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) return 0;
  const uint8_t* e = &tail[eocd];
  uint64_t entries = U16(e + 10);
  uint64_t cdSize = U32(e + 12);
  uint64_t cdOffset = U32(e + 16);
  uint64_t eocdPos = tailStart + static_cast<uint64_t>(eocd);
  if ((entries == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) && eocdPos >= 20) {
    uint8_t loc[20], z64[56];
    if (ReadAt(fd, eocdPos - 20, loc, 20) && U32(loc) == 0x07064b50 &&
        ReadAt(fd, U64(loc + 8), z64, 56) && U32(z64) == 0x06064b50) {
      entries = U64(z64 + 32);
      cdSize = U64(z64 + 40);
      cdOffset = U64(z64 + 48);
    }
  }
  if (cdOffset > size || cdSize > size - cdOffset) return 0;

  // Streams through the central directory for the smallest local header offset.
  uint64_t first = cdOffset;
  std::vector<uint8_t> cd;
  constexpr uint64_t kChunk = 1 << 20;
  uint64_t chunkStart = cdOffset, pos = cdOffset, end = cdOffset + cdSize;
  auto have = [&](uint64_t at, uint64_t n) -> const uint8_t* {
    if (at + n > end) return nullptr;
    if (at < chunkStart || at + n > chunkStart + cd.size()) {
      chunkStart = at;
      cd.resize(std::min(std::max(kChunk, n), end - at));
      if (!ReadAt(fd, at, cd.data(), cd.size())) return nullptr;
    }
    return cd.data() + (at - chunkStart);
  };
  for (uint64_t i = 0; i < entries; ++i) {
    const uint8_t* h = have(pos, 46);
    if (!h || U32(h) != 0x02014b50) break;
    uint16_t nameLen = U16(h + 28), extraLen = U16(h + 30), commentLen = U16(h + 32);
    uint64_t local = U32(h + 42);
    bool needSize = U32(h + 24) == 0xFFFFFFFF, needComp = U32(h + 20) == 0xFFFFFFFF;
    if (local == 0xFFFFFFFF) {
      // Zip64 extra field: the 8-byte values present appear in a fixed order.
      const uint8_t* x = have(pos + 46 + nameLen, extraLen);
      for (size_t k = 0; x && k + 4 <= extraLen;) {
        uint16_t id = U16(x + k), len = U16(x + k + 2);
        if (id == 1) {
          size_t skip = (needSize ? 8 : 0) + (needComp ? 8 : 0);
          if (skip + 8 <= len) local = U64(x + k + 4 + skip);
          break;
        }
        k += 4 + len;
      }
    }
    first = std::min(first, local);
    pos += 46 + nameLen + extraLen + commentLen;
  }
  return first;
}

}  // namespace kiln
