#include "SelfArchive.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "CodePage437.h"
#include "EntrySpans.h"
#include "TerminalText.h"

namespace stubby {

void Error(const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Names and captions come from the file: control characters never reach the terminal.
// Keeps errno: callers pass std::strerror(errno) in the same argument list.
std::string Printable(const std::string& s) {
  const int saved = errno;
  std::string shown = VisibleText(s);
  errno = saved;
  return shown;
}



// End of the ELF image: the furthest byte any header, segment or section names.
uint64_t ElfImageSize(int fd) {
  Elf64_Ehdr eh;
  if (!ReadAt(fd, 0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64)
    return 0;
  uint64_t end = sizeof eh;
  end = std::max<uint64_t>(end, eh.e_phoff + uint64_t(eh.e_phnum) * eh.e_phentsize);
  end = std::max<uint64_t>(end, eh.e_shoff + uint64_t(eh.e_shnum) * eh.e_shentsize);
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph;
    if (!ReadAt(fd, eh.e_phoff + uint64_t(i) * eh.e_phentsize, &ph, sizeof ph)) return 0;
    end = std::max<uint64_t>(end, ph.p_offset + ph.p_filesz);
  }
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh;
    if (!ReadAt(fd, eh.e_shoff + uint64_t(i) * eh.e_shentsize, &sh, sizeof sh)) return 0;
    if (sh.sh_type != SHT_NOBITS) end = std::max<uint64_t>(end, sh.sh_offset + sh.sh_size);
  }
  return end;
}

std::string DecodeName(const std::string& raw, uint8_t host, uint8_t version, uint16_t flags) {
  std::string name = raw;
  const bool utf8 = flags & 0x0800;
  if (!utf8 && (host == 0 || host == 6 || (host == 11 && version == 50))) name = Cp437ToUtf8(raw);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// Reads the header at `headerAt` and the directory of the archive behind it from `a.fd`;
// false when they are not there.
bool ReadArchive(SelfArchive& a, uint64_t headerAt) {
  struct stat st {};
  if (a.fd < 0 || ::fstat(a.fd, &st) != 0) return false;
  a.fileSize = uint64_t(st.st_size);
  const size_t window = size_t(std::min<uint64_t>(kEndSearch, a.fileSize));
  std::vector<uint8_t> tail(window);
  if (window < kEndSize || !ReadAt(a.fd, a.fileSize - window, tail.data(), window)) return false;
  size_t at = window;  // index of the end record in `tail`
  for (size_t i = window - kEndSize + 1; i-- > 0;) {
    if (GetLE32(&tail[i]) == kEndSig && i + kEndSize + GetLE16(&tail[i + 20]) <= window) {
      at = i;
      break;
    }
  }
  if (at == window) return false;
  const uint8_t* end = &tail[at];
  const uint64_t endAt = a.fileSize - window + at;
  const uint16_t count = GetLE16(end + 10);
  const uint32_t dirSize = GetLE32(end + 12), dirStart = GetLE32(end + 16);
  a.archiveEnd = endAt + kEndSize + GetLE16(end + 20);
  if (GetLE16(end + 4) != 0 || GetLE16(end + 6) != 0 || dirSize > endAt) return false;
  if (at >= 20 && GetLE32(&tail[at - 20]) == kZip64LocatorSig) {
    Error("This archive uses Zip64 records, which this extractor does not read.");
    return false;
  }
  // Stored offsets may count from the start of the file or from the start of the
  // archive: the distance between the stored and the real directory tells which.
  const uint64_t dirAt = endAt - dirSize;
  if (dirStart > dirAt) return false;
  const uint64_t shift = dirAt - dirStart;

  std::vector<uint8_t> dir(dirSize);
  if (!ReadAt(a.fd, dirAt, dir.data(), dir.size())) return false;
  uint64_t firstLocal = dirAt;
  size_t p = 0;
  for (unsigned n = 0; n < count; ++n) {
    if (p + kCentralSize > dir.size() || GetLE32(&dir[p]) != kCentralSig) return false;
    const uint8_t* h = &dir[p];
    Entry e;
    e.hostSystem = h[5];
    e.flags = GetLE16(h + 8);
    e.method = GetLE16(h + 10);
    e.dosTime = GetLE32(h + 12);
    e.crc = GetLE32(h + 16);
    e.packed = GetLE32(h + 20);
    e.unpacked = GetLE32(h + 24);
    const size_t nameLen = GetLE16(h + 28), extraLen = GetLE16(h + 30), commentLen = GetLE16(h + 32);
    e.externalAttr = GetLE32(h + 38);
    const uint32_t local = GetLE32(h + 42);
    if (local == 0xFFFFFFFFu || e.packed == 0xFFFFFFFFu || e.unpacked == 0xFFFFFFFFu) {
      Error("This archive uses Zip64 records, which this extractor does not read.");
      return false;
    }
    if (p + kCentralSize + nameLen + extraLen + commentLen > dir.size()) return false;
    e.rawName.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLen);
    e.name = DecodeName(e.rawName, e.hostSystem, h[4], e.flags);
    e.localOffset = local + shift;
    firstLocal = std::min(firstLocal, e.localOffset);
    e.localBad = !entryspans::LocateData(a.fd, e.localOffset, e.packed, dirAt, e.dataOffset, e.localExtra);
    a.entries.push_back(std::move(e));
    p += kCentralSize + nameLen + extraLen + commentLen;
  }
  // Entries that share bytes unpack one stream many times over: the same rule as the
  // decompressor library's refuses them.
  std::vector<entryspans::Span> spans(a.entries.size());
  for (size_t i = 0; i < spans.size(); ++i)
    if (!a.entries[i].localBad) spans[i] = {a.entries[i].localOffset, a.entries[i].dataOffset + a.entries[i].packed, true};
  const std::vector<bool> shared = entryspans::Overlapping(spans);
  for (size_t i = 0; i < spans.size(); ++i) a.entries[i].overlaps = shared[i];

  // The archive lies behind the header; what the archive had in front of its first entry
  // was copied along and lies between them.
  if (headerAt > UINT64_MAX - kHeaderSize || firstLocal < headerAt + kHeaderSize) return false;
  a.headerAt = headerAt;
  uint8_t header[kHeaderSize];
  if (!ReadAt(a.fd, a.headerAt, header, sizeof header) || std::memcmp(header, "MPU", 3) != 0) return false;
  const size_t captionLen = header[4], dirLen = header[5], commandLen = header[6];
  if (captionLen + dirLen + commandLen > kHeaderSize - 7) return false;
  a.bits = header[3];
  const char* text = reinterpret_cast<const char*>(header + 7);
  a.caption.assign(text, captionLen);
  a.defaultDir.assign(text + captionLen, dirLen);
  a.command.assign(text + captionLen + dirLen, commandLen);
  return true;
}

// The header follows the program's image: the conversion copies the stub and writes it
// right behind, whatever the archive carries in front of its entries.
bool OpenSelf(SelfArchive& a) {
  a.fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (a.fd < 0) {
    Error("Cannot open the program's own file: %s", std::strerror(errno));
    return false;
  }
  const uint64_t image = ElfImageSize(a.fd);
  return image > 0 && ReadArchive(a, image);
}

}  // namespace stubby
