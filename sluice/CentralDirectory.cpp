#include "CentralDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace sluice {
namespace {

constexpr uint32_t kLocalSig = 0x04034B50, kCentralSig = 0x02014B50, kEndSig = 0x06054B50,
                   kZip64EndSig = 0x06064B50, kZip64LocatorSig = 0x07064B50;
constexpr size_t kEndSize = 22, kCentralSize = 46, kLocalSize = 30, kZip64EndSize = 56,
                 kLocatorSize = 20;

uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t LE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t LE64(const uint8_t* p) { return LE32(p) | (uint64_t(LE32(p + 4)) << 32); }

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(fd, p, count, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n, offset += uint64_t(n), count -= size_t(n);
  }
  return true;
}

int64_t DosToUnix(uint32_t dos) {
  tm t{};
  t.tm_year = int(((dos >> 25) & 0x7F) + 80);
  t.tm_mon = int(((dos >> 21) & 0x0F)) - 1;
  t.tm_mday = int((dos >> 16) & 0x1F);
  t.tm_hour = int((dos >> 11) & 0x1F);
  t.tm_min = int((dos >> 5) & 0x3F);
  t.tm_sec = int((dos & 0x1F) * 2);
  t.tm_isdst = -1;
  return int64_t(std::mktime(&t));
}

// Zip64 sizes and offset, and the exact times of the Unix and NTFS extra fields.
void ReadExtra(ArchiveEntry& e, const uint8_t* p, size_t size, uint32_t packed32, uint32_t unpacked32,
               uint32_t offset32) {
  while (size >= 4) {
    const uint16_t id = LE16(p), len = LE16(p + 2);
    if (size_t(len) + 4 > size) break;
    const uint8_t* d = p + 4;
    if (id == 0x0001) {
      size_t at = 0;
      if (unpacked32 == 0xFFFFFFFFu && at + 8 <= len) e.unpacked = LE64(d + at), at += 8;
      if (packed32 == 0xFFFFFFFFu && at + 8 <= len) e.packed = LE64(d + at), at += 8;
      if (offset32 == 0xFFFFFFFFu && at + 8 <= len) e.localOffset = LE64(d + at), at += 8;
    } else if (id == 0x9901 && len >= 7) {
      e.aesVersion = LE16(d);
      e.aesStrength = d[4];
      e.aesMethod = LE16(d + 5);
    } else if (id == 0x5455 && len >= 5 && (d[0] & 1)) {
      e.mtime = int32_t(LE32(d + 1));
      e.exactTime = true;
    } else if (id == 0x000A && len >= 32 && !e.exactTime) {
      // NTFS: a list of tags; tag 1 holds modification, access and creation FILETIMEs.
      size_t at = 4;
      while (at + 4 <= len) {
        const uint16_t tag = LE16(d + at), tagLen = LE16(d + at + 2);
        if (tag == 1 && tagLen >= 8 && at + 4 + 8 <= len) {
          const uint64_t ft = LE64(d + at + 4);
          e.mtime = int64_t(ft / 10000000ull) - 11644473600ll;
          e.exactTime = true;
          break;
        }
        at += 4 + size_t(tagLen);
      }
    }
    p += 4 + len, size -= 4 + size_t(len);
  }
}

// Marks every entry whose local header and data share bytes with another's.
void MarkOverlaps(std::vector<ArchiveEntry>& entries) {
  std::vector<size_t> order;
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].localBad) order.push_back(i);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return entries[a].localOffset < entries[b].localOffset; });
  uint64_t reach = 0;
  size_t reacher = SIZE_MAX;
  for (size_t i : order) {
    ArchiveEntry& e = entries[i];
    const uint64_t end = e.dataOffset + e.packed;
    if (reacher != SIZE_MAX && e.localOffset < reach) {
      e.overlaps = true;
      entries[reacher].overlaps = true;
    }
    if (reacher == SIZE_MAX || end > reach) reach = end, reacher = i;
  }
}

}  // namespace

bool ArchiveEntry::IsSymlink() const { return S_ISLNK(UnixMode()); }

ArchiveDirectory ReadDirectory(int fd) {
  ArchiveDirectory a;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    a.error = "cannot read the archive";
    return a;
  }
  const uint64_t fileSize = uint64_t(st.st_size);
  const size_t window = size_t(std::min<uint64_t>(fileSize, 65535 + kEndSize + kLocatorSize + kZip64EndSize));
  std::vector<uint8_t> tail(window);
  if (window < kEndSize || !ReadAt(fd, fileSize - window, tail.data(), window)) {
    a.error = "not a ZIP archive";
    return a;
  }
  size_t at = SIZE_MAX;
  for (size_t i = window - kEndSize + 1; i-- > 0;)
    if (LE32(&tail[i]) == kEndSig && i + kEndSize + LE16(&tail[i + 20]) <= window) {
      at = i;
      break;
    }
  if (at == SIZE_MAX) {
    a.error = "not a ZIP archive";
    return a;
  }
  const uint8_t* end = &tail[at];
  const uint64_t endAt = fileSize - window + at;
  a.archiveEnd = endAt + kEndSize + LE16(end + 20);
  if (LE16(end + 4) != 0 || LE16(end + 6) != 0) {
    a.error = "an archive of several volumes must be joined first";
    return a;
  }
  uint64_t count = LE16(end + 10), dirSize = LE32(end + 12), dirStart = LE32(end + 16);
  uint64_t dirEnd = endAt;  // where the directory really ends
  if (at >= kLocatorSize && LE32(&tail[at - kLocatorSize]) == kZip64LocatorSig) {
    const uint64_t zip64At = LE64(&tail[at - kLocatorSize + 8]);
    uint8_t rec[kZip64EndSize];
    // The stored offset may not count the prefix; the record lies just before the locator.
    const uint64_t expected = endAt - kLocatorSize - kZip64EndSize;
    uint64_t found = UINT64_MAX;
    for (uint64_t candidate : {expected, zip64At})
      if (candidate <= expected && ReadAt(fd, candidate, rec, sizeof rec) && LE32(rec) == kZip64EndSig) {
        found = candidate;
        break;
      }
    if (found == UINT64_MAX) {
      a.error = "the Zip64 end record is missing";
      return a;
    }
    count = LE64(rec + 32), dirSize = LE64(rec + 40), dirStart = LE64(rec + 48);
    dirEnd = found;
  }
  if (dirSize > dirEnd || dirStart > dirEnd - dirSize || count > dirSize / kCentralSize) {
    a.error = "the archive's directory is damaged";
    return a;
  }
  // Offsets may count from the start of the file or from the start of the archive behind a
  // prefix: the distance between the stored and the real directory tells which.
  const uint64_t dirAt = dirEnd - dirSize;
  const uint64_t shift = dirAt - dirStart;
  a.archiveStart = shift;

  std::vector<uint8_t> dir(dirSize);
  if (!ReadAt(fd, dirAt, dir.data(), dir.size())) {
    a.error = "cannot read the archive's directory";
    return a;
  }
  size_t p = 0;
  for (uint64_t n = 0; n < count; ++n) {
    if (p + kCentralSize > dir.size() || LE32(&dir[p]) != kCentralSig) {
      a.error = "the archive's directory is damaged";
      return a;
    }
    const uint8_t* h = &dir[p];
    ArchiveEntry e;
    e.hostSystem = h[5];
    e.flags = LE16(h + 8);
    e.method = LE16(h + 10);
    e.dosTime = LE32(h + 12);
    e.crc = LE32(h + 16);
    const uint32_t packed32 = LE32(h + 20), unpacked32 = LE32(h + 24), offset32 = LE32(h + 42);
    e.packed = packed32, e.unpacked = unpacked32, e.localOffset = offset32;
    const size_t nameLen = LE16(h + 28), extraLen = LE16(h + 30), commentLen = LE16(h + 32);
    e.externalAttr = LE32(h + 38);
    if (p + kCentralSize + nameLen + extraLen + commentLen > dir.size()) {
      a.error = "the archive's directory is damaged";
      return a;
    }
    e.name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLen);
    ReadExtra(e, h + kCentralSize + nameLen, extraLen, packed32, unpacked32, offset32);
    if (!e.exactTime) e.mtime = DosToUnix(e.dosTime);
    e.localOffset += shift;
    uint8_t local[kLocalSize];
    if (e.localOffset > dirAt || dirAt - e.localOffset < kLocalSize || !ReadAt(fd, e.localOffset, local, kLocalSize) ||
        LE32(local) != kLocalSig) {
      e.localBad = true;
    } else {
      e.dataOffset = e.localOffset + kLocalSize + LE16(local + 26) + LE16(local + 28);
      if (e.dataOffset > dirAt || e.packed > dirAt - e.dataOffset) e.localBad = true;
    }
    a.entries.push_back(std::move(e));
    p += kCentralSize + nameLen + extraLen + commentLen;
  }
  MarkOverlaps(a.entries);
  return a;
}

}  // namespace sluice
