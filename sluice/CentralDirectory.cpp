#include "CentralDirectory.h"

#include "CodePage437.h"
#include "CodePages.h"
#include "EntryPaths.h"
#include "EntrySpans.h"
#include "EntryTexts.h"
#include "ZipRecords.h"
#include "FileIo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>

namespace sluice {
using fileio::ReadAt;
namespace {

constexpr size_t kEndSize = EndOfCentralDir::Size, kCentralSize = CentralFileHeader::Size,
                 kZip64EndSize = Zip64EndOfCentralDir::MinSize,
                 kLocatorSize = Zip64EndLocator::Size;
constexpr auto LE16 = GetLE16;
constexpr auto LE32 = GetLE32;
constexpr auto LE64 = GetLE64;


int64_t DosToUnix(uint32_t dos) {
  const DosDateTime d = DosDateTime::FromPacked(dos);
  tm t{};
  t.tm_year = d.Year - 1900;
  t.tm_mon = d.Month - 1;
  t.tm_mday = d.Day;
  t.tm_hour = d.Hour;
  t.tm_min = d.Minute;
  t.tm_sec = d.Second;
  t.tm_isdst = -1;
  return int64_t(std::mktime(&t));
}

// The exact times of the Unix and NTFS extra fields, and what WinZip AES hides.
void ReadExtra(ArchiveEntry& e, const uint8_t* p, size_t size) {
  while (size >= 4) {
    const uint16_t id = LE16(p), len = LE16(p + 2);
    if (size_t(len) + 4 > size) break;
    const uint8_t* d = p + 4;
    if (id == 0x9901 && len >= 7) {
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

// Finds every entry's data behind its local header. One read takes the headers that lie
// within 64 KiB of the first of them: copying the small entries' data between them costs
// less than a read an entry. A header the group's read did not reach is read alone.
void LocateAll(int fd, std::vector<ArchiveEntry>& entries, uint64_t limit) {
  constexpr uint64_t kSpan = 64 * 1024, kLocalSize = LocalFileHeader::Size;
  std::vector<size_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return entries[a].localOffset < entries[b].localOffset; });
  std::vector<uint8_t> group(kSpan);
  for (size_t i = 0; i < order.size();) {
    const uint64_t from = entries[order[i]].localOffset;
    size_t j = i + 1;
    while (j < order.size() && entries[order[j]].localOffset - from <= kSpan - kLocalSize) ++j;
    const uint64_t last = entries[order[j - 1]].localOffset + kLocalSize;
    const uint64_t to = from < limit ? std::min(limit, last) : from;
    const bool read = to > from && ReadAt(fd, from, group.data(), size_t(to - from));
    for (; i < j; ++i) {
      ArchiveEntry& e = entries[order[i]];
      uint16_t extra = 0;
      e.localBad = read && e.localOffset + kLocalSize <= to
                       ? !entryspans::LocateDataIn(&group[size_t(e.localOffset - from)], e.localOffset, e.packed,
                                                   limit, e.dataOffset, extra)
                       : !entryspans::LocateData(fd, e.localOffset, e.packed, limit, e.dataOffset, extra);
    }
  }
}

// Marks every entry whose local header and data share bytes with another's.
void MarkOverlaps(std::vector<ArchiveEntry>& entries) {
  std::vector<entryspans::Span> spans(entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].localBad) spans[i] = {entries[i].localOffset, entries[i].dataOffset + entries[i].packed, true};
  const std::vector<bool> shared = entryspans::Overlapping(spans);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].overlaps = shared[i];
}

}  // namespace

bool ArchiveEntry::IsSymlink() const { return S_ISLNK(UnixMode()); }

namespace {

// The entry's name by the code page the component listed the archive in, and whether its
// stored bytes, split where that code page has separators, stay inside the folder too.
void ReadName(ArchiveEntry& e, std::string_view stored, const uint8_t* extra, size_t extraLength,
              entrynames::NameDecoder& decoder) {
  e.name.assign(stored);
  const bool ascii = entrynames::IsAscii(stored);
  // As the component lists it: a matching Unicode path field wins, even over an ASCII name.
  if (auto text = entrynames::UnicodeFieldText(extra, extraLength, entrynames::kUnicodePathField, stored))
    e.name = std::move(*text);
  else if (!ascii)
    e.name = decoder.Decode(stored);
  if (ascii) return;
  std::vector<std::string> parts;
  e.storedNameSafe = entrypaths::SplitEntryName(decoder.SeparatorsMarked(stored), parts);
}

}  // namespace

ArchiveDirectory ReadDirectory(int fd, int nameCodePage) {
  ArchiveDirectory a;
  std::optional<entrynames::NameDecoder> decoder;
  if (nameCodePage != 0) decoder.emplace(nameCodePage);
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
    if (LE32(&tail[i]) == zipsig::EndOfCentral && i + kEndSize + LE16(&tail[i + 20]) <= window) {
      at = i;
      break;
    }
  if (at == SIZE_MAX) {
    a.error = "not a ZIP archive";
    return a;
  }
  const EndOfCentralDir end = EndOfCentralDir::Decode(&tail[at]);
  const uint64_t endAt = fileSize - window + at;
  a.archiveEnd = endAt + kEndSize + end.ArchiveCommentLength;
  if (end.DiskNumber != 0 || end.CentralStartDisk != 0) {
    a.error = "an archive of several volumes must be joined first";
    return a;
  }
  uint64_t count = end.EntriesTotal, dirSize = end.CentralDirSize, dirStart = end.CentralDirStart;
  uint64_t dirEnd = endAt;  // where the directory really ends
  Zip64EndLocator locator;
  if (at >= kLocatorSize && Zip64EndLocator::Decode(&tail[at - kLocatorSize], locator)) {
    // The stored offset may not count the prefix; the record lies just before the locator
    // (unless it carries extensible data). Where both places hold one, they must agree:
    // another reader may take either, and find other entries at other offsets.
    const uint64_t expected = endAt - kLocatorSize - kZip64EndSize;
    Zip64EndOfCentralDir end64;
    uint64_t found = UINT64_MAX;
    for (uint64_t candidate : {expected, locator.EndOffset}) {
      uint8_t rec[kZip64EndSize];
      Zip64EndOfCentralDir read;
      if (candidate > expected || !ReadAt(fd, candidate, rec, sizeof rec) || !Zip64EndOfCentralDir::Decode(rec, read))
        continue;
      if (found == UINT64_MAX) {
        found = candidate, end64 = read;
      } else if (candidate != found &&
                 (read.EntriesTotal != end64.EntriesTotal || read.EntriesOnDisk != end64.EntriesOnDisk ||
                  read.CentralDirSize != end64.CentralDirSize || read.CentralDirStart != end64.CentralDirStart ||
                  read.DiskNumber != end64.DiskNumber || read.CentralStartDisk != end64.CentralStartDisk)) {
        a.error = "the archive's two Zip64 end records disagree";
        return a;
      }
    }
    if (found == UINT64_MAX) {
      a.error = "the Zip64 end record is missing";
      return a;
    }
    count = end64.EntriesTotal, dirSize = end64.CentralDirSize, dirStart = end64.CentralDirStart;
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

  // Read in windows, so that memory follows the entries, not a size the file claims.
  std::vector<uint8_t> dir;
  uint64_t dirFrom = 0;  // offset in the directory of dir[0]
  auto directory = [&](uint64_t from, size_t size) -> const uint8_t* {
    if (from > dirSize || size > dirSize - from) return nullptr;
    if (from < dirFrom || from + size > dirFrom + dir.size()) {
      dir.resize(size_t(std::min<uint64_t>(std::max<size_t>(size, 1 << 20), dirSize - from)));
      dirFrom = from;
      if (!ReadAt(fd, dirAt + from, dir.data(), dir.size())) return nullptr;
    }
    return &dir[size_t(from - dirFrom)];
  };
  uint64_t p = 0;
  for (uint64_t n = 0; n < count; ++n) {
    const uint8_t* fixed = directory(p, kCentralSize);
    if (!fixed || LE32(fixed) != zipsig::Central) {
      a.error = "the archive's directory is damaged";
      return a;
    }
    const CentralFileHeader h = CentralFileHeader::Decode(fixed);
    const uint8_t* record = directory(p, kCentralSize + h.VariableLength());
    if (!record) {
      a.error = "the archive's directory is damaged";
      return a;
    }
    const uint8_t* name = record + kCentralSize;
    const uint8_t* extra = name + h.NameLength;
    ZipDirEntry z;
    z.AssignHeader(h);
    z.ApplyZip64Extra(extra, h.ExtraLength);
    ArchiveEntry e;
    e.hostSystem = h.HostSystem;
    e.flags = h.GeneralFlag;
    e.method = h.Method;
    e.dosTime = h.ModDateTime;
    e.crc = h.Crc32;
    e.packed = z.PackedSize64, e.unpacked = z.UnpackedSize64, e.localOffset = z.LocalHeaderOffset64;
    e.externalAttr = h.ExternalAttr;
    const std::string_view stored(reinterpret_cast<const char*>(name), h.NameLength);
    if (z.IsUtf8()) {
      e.name.assign(stored);
    } else if (decoder) {
      ReadName(e, stored, extra, h.ExtraLength, *decoder);
    } else {
      e.name.assign(stored);
      if (e.hostSystem == 0 || e.hostSystem == 6 || (e.hostSystem == 11 && h.SpecVersion == 50))
        e.name = Cp437ToUtf8(e.name);
    }
    ReadExtra(e, extra, h.ExtraLength);
    if (!e.exactTime) e.mtime = DosToUnix(e.dosTime);
    e.localOffset += shift;
    a.entries.push_back(std::move(e));
    p += kCentralSize + h.VariableLength();
  }
  LocateAll(fd, a.entries, dirAt);
  MarkOverlaps(a.entries);
  return a;
}

}  // namespace sluice
