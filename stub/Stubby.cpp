// The self-extractor: a static program that finds the ZIP archive appended to its own
// file, reads the 256-byte header in front of it, and extracts the archive as that
// header asks. It runs on a machine where nothing of Tessera is installed.

#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "CodePage437.h"
#include "EntryPaths.h"
#include "TerminalText.h"

namespace {

constexpr uint32_t kLocalSig = 0x04034B50, kCentralSig = 0x02014B50, kEndSig = 0x06054B50,
                   kZip64LocatorSig = 0x07064B50;
constexpr size_t kHeaderSize = 256, kEndSize = 22, kCentralSize = 46, kLocalSize = 30;
constexpr size_t kEndSearch = 65535 + kEndSize;
constexpr size_t kChunk = 64 * 1024;

// Option bits of the header's fourth byte.
enum : uint8_t {
  kAskCmdLine = 1, kAskFiles = 2, kHideOverwrite = 4, kOverwriteAlways = 8, kOverwriteNever = 16,
  kNoSizeCheck = 32, kAutoRun = 64
};

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kNotSfx = 3 };
enum class Overwrite { Ask, Always, Never };

uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t LE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void Error(const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Names and captions come from the file: control characters never reach the terminal.
std::string Printable(const std::string& s) { return VisibleText(s); }

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

bool WriteAll(int fd, const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n, count -= size_t(n);
  }
  return true;
}

struct Entry {
  std::string rawName;
  std::string name;  // for display and for the file system: '/' separated, UTF-8 where known
  uint8_t hostSystem = 0;
  uint16_t flags = 0, method = 0;
  uint32_t dosTime = 0, crc = 0, packed = 0, unpacked = 0, externalAttr = 0;
  uint64_t localOffset = 0;  // in the file

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
    if (LE32(&tail[i]) == kEndSig && i + kEndSize + LE16(&tail[i + 20]) <= window) {
      at = i;
      break;
    }
  }
  if (at == window) return false;
  const uint8_t* end = &tail[at];
  const uint64_t endAt = a.fileSize - window + at;
  const uint16_t count = LE16(end + 10);
  const uint32_t dirSize = LE32(end + 12), dirStart = LE32(end + 16);
  a.archiveEnd = endAt + kEndSize + LE16(end + 20);
  if (LE16(end + 4) != 0 || LE16(end + 6) != 0 || dirSize > endAt) return false;
  if (at >= 20 && LE32(&tail[at - 20]) == kZip64LocatorSig) {
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
    if (p + kCentralSize > dir.size() || LE32(&dir[p]) != kCentralSig) return false;
    const uint8_t* h = &dir[p];
    Entry e;
    e.hostSystem = h[5];
    e.flags = LE16(h + 8);
    e.method = LE16(h + 10);
    e.dosTime = LE32(h + 12);
    e.crc = LE32(h + 16);
    e.packed = LE32(h + 20);
    e.unpacked = LE32(h + 24);
    const size_t nameLen = LE16(h + 28), extraLen = LE16(h + 30), commentLen = LE16(h + 32);
    e.externalAttr = LE32(h + 38);
    const uint32_t local = LE32(h + 42);
    if (local == 0xFFFFFFFFu || e.packed == 0xFFFFFFFFu || e.unpacked == 0xFFFFFFFFu) {
      Error("This archive uses Zip64 records, which this extractor does not read.");
      return false;
    }
    if (p + kCentralSize + nameLen + extraLen + commentLen > dir.size()) return false;
    e.rawName.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLen);
    e.name = DecodeName(e.rawName, e.hostSystem, h[4], e.flags);
    e.localOffset = local + shift;
    firstLocal = std::min(firstLocal, e.localOffset);
    a.entries.push_back(std::move(e));
    p += kCentralSize + nameLen + extraLen + commentLen;
  }

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

// ---- the terminal and interruptions ----

bool gInteractive = false;

// What an interrupting signal must undo before the program ends: echo turned off at a
// password prompt, and a file being written under its temporary name.
termios gSavedTerminal;
volatile sig_atomic_t gEchoOff = 0;
volatile sig_atomic_t gPendingDir = -1;
char gPendingName[64];

void OnFatalSignal(int sig) {
  if (gEchoOff) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
  if (gPendingDir >= 0) ::unlinkat(gPendingDir, gPendingName, 0);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void CatchSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    ::sigaction(sig, &action, nullptr);
  }
}

void SetPendingFile(int dirFd, const std::string& name) {
  gPendingDir = -1;
  if (dirFd < 0 || name.size() >= sizeof gPendingName) return;
  std::memcpy(gPendingName, name.c_str(), name.size() + 1);
  gPendingDir = dirFd;
}

std::string ReadLine(bool echo = true) {
  termios saved {};
  const bool hide = !echo && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (hide) {
    termios quiet = saved;
    quiet.c_lflag &= tcflag_t(~ECHO);
    gSavedTerminal = saved;
    gEchoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  char buf[512];
  while (std::fgets(buf, sizeof buf, stdin)) {
    line += buf;
    if (!line.empty() && line.back() == '\n') break;
  }
  if (hide) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    gEchoOff = 0;
    std::fputc('\n', stdout);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// Asks a question and returns the answer, or `fallback` for an empty one.
std::string Ask(const std::string& question, const std::string& fallback) {
  std::fputs(question.c_str(), stdout);
  std::fflush(stdout);
  const std::string answer = ReadLine();
  return answer.empty() ? fallback : answer;
}

char AskChoice(const std::string& question, const std::string& choices, char fallback) {
  for (;;) {
    const std::string answer = Ask(question, std::string(1, fallback));
    if (answer.size() == 1 && choices.find(answer[0]) != std::string::npos) return answer[0];
    std::printf("Please answer one of: %s\n", choices.c_str());
  }
}

// ---- decryption (traditional PKWARE) ----

class ZipCrypto {
 public:
  explicit ZipCrypto(const std::string& password) {
    for (char c : password) Update(uint8_t(c));
  }
  uint8_t Decrypt(uint8_t c) {
    const uint16_t t = uint16_t(k2_ | 2);
    const uint8_t plain = c ^ uint8_t((t * (t ^ 1)) >> 8);
    Update(plain);
    return plain;
  }

 private:
  void Update(uint8_t c) {
    k0_ = table_[(k0_ ^ c) & 0xFF] ^ (k0_ >> 8);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = table_[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
  }
  const z_crc_t* table_ = get_crc_table();
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

// ---- extraction ----

struct Options {
  std::string dir;
  bool dirGiven = false, yes = false, list = false, test = false;
  std::string password;
  bool passwordGiven = false;
};

class Extractor {
 public:
  Extractor(SelfArchive& a, Options& o) : a_(a), o_(o) {}

  // Writes the entry below `rootFd` (or only checks it when `rootFd` is -1).
  bool Extract(const Entry& e, int rootFd);
  void SetOverwrite(Overwrite mode) { overwrite_ = mode; }
  // Folder times are set last: the files written into a folder change its time.
  void RestoreFolderTimes(int rootFd);

 private:
  // Where an entry's data lies, and its decryption once the password is known.
  struct Source {
    uint64_t at = 0, left = 0;
    ZipCrypto crypto{std::string()};
  };
  // Everything that can fail or ask before anything is written: the local header, the
  // method and the password.
  bool Begin(const Entry& e, Source& src);
  bool Unpack(const Entry& e, Source& src, int outFd);
  bool Password(const Entry& e, ZipCrypto& crypto, const uint8_t* head);
  bool OpenParent(int rootFd, const std::vector<std::string>& parts, size_t count, int& fd, const Entry& e);
  bool MayWrite(int parentFd, const std::string& last, const Entry& e);
  time_t ModTime(const Entry& e, const std::vector<uint8_t>& localExtra) const;

  SelfArchive& a_;
  Options& o_;
  Overwrite overwrite_ = Overwrite::Ask;
  std::vector<std::pair<std::vector<std::string>, time_t>> folderTimes_;
  std::vector<uint8_t> localExtra_;
};

bool Extractor::OpenParent(int rootFd, const std::vector<std::string>& parts, size_t count, int& fd,
                           const Entry& e) {
  entrypaths::FolderFailure why;
  int err = 0;
  fd = entrypaths::OpenFolders(rootFd, parts, count, true, why, err);
  switch (why) {
    case entrypaths::FolderFailure::None: break;
    case entrypaths::FolderFailure::Create:
      Error("%s: cannot create folder: %s", Printable(e.name).c_str(), std::strerror(err));
      break;
    case entrypaths::FolderFailure::LinkInWay:
      Error("%s: refused: a symbolic link or a file stands on its way", Printable(e.name).c_str());
      break;
    case entrypaths::FolderFailure::Open:
      Error("%s: cannot open folder: %s", Printable(e.name).c_str(), std::strerror(err));
      break;
  }
  return fd >= 0;
}

bool Extractor::MayWrite(int parentFd, const std::string& last, const Entry& e) {
  struct stat st {};
  if (::fstatat(parentFd, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    Error("%s: a folder of that name exists", Printable(e.name).c_str());
    return false;
  }
  switch (overwrite_) {
    case Overwrite::Always: return true;
    case Overwrite::Never: break;
    case Overwrite::Ask:
      if (!gInteractive) break;
      switch (AskChoice("Overwrite existing file " + Printable(e.name) + "? [y]es, [n]o, [a]ll, n[o]ne (n): ",
                        "ynao", 'n')) {
        case 'y': return true;
        case 'a': overwrite_ = Overwrite::Always; return true;
        case 'o': overwrite_ = Overwrite::Never; break;
        default: break;
      }
  }
  std::printf("  skipped (exists): %s\n", Printable(e.name).c_str());
  return false;
}

time_t Extractor::ModTime(const Entry& e, const std::vector<uint8_t>& extra) const {
  // The extended timestamp field holds the exact time in UTC.
  for (size_t p = 0; p + 4 <= extra.size();) {
    const uint16_t id = LE16(&extra[p]), len = LE16(&extra[p + 2]);
    if (p + 4 + len > extra.size()) break;
    if (id == 0x5455 && len >= 5 && (extra[p + 4] & 1)) return time_t(int32_t(LE32(&extra[p + 5])));
    p += 4 + len;
  }
  tm t {};
  t.tm_year = int((e.dosTime >> 25) & 0x7F) + 80;
  t.tm_mon = int((e.dosTime >> 21) & 0x0F) - 1;
  t.tm_mday = int((e.dosTime >> 16) & 0x1F);
  t.tm_hour = int((e.dosTime >> 11) & 0x1F);
  t.tm_min = int((e.dosTime >> 5) & 0x3F);
  t.tm_sec = int((e.dosTime & 0x1F) * 2);
  t.tm_isdst = -1;
  return std::mktime(&t);
}

bool Extractor::Password(const Entry& e, ZipCrypto& crypto, const uint8_t* head) {
  // The last byte of the encryption header repeats part of the CRC (or of the time, when
  // the sizes follow the data).
  const uint8_t check = (e.flags & 8) ? uint8_t(e.dosTime >> 8) : uint8_t(e.crc >> 24);
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!o_.passwordGiven) {
      if (!gInteractive) {
        Error("%s: encrypted; give the password with --password", Printable(e.name).c_str());
        return false;
      }
      std::printf("Password for %s: ", Printable(e.name).c_str());
      std::fflush(stdout);
      o_.password = ReadLine(false);
      o_.passwordGiven = true;
    }
    ZipCrypto trial(o_.password);
    uint8_t last = 0;
    for (int i = 0; i < 12; ++i) last = trial.Decrypt(head[i]);
    if (last == check) {
      crypto = trial;
      return true;
    }
    if (!gInteractive) break;
    std::printf("Wrong password.\n");
    o_.passwordGiven = false;
  }
  Error("%s: wrong password", Printable(e.name).c_str());
  return false;
}

bool Extractor::Begin(const Entry& e, Source& src) {
  uint8_t local[kLocalSize];
  if (!ReadAt(a_.fd, e.localOffset, local, sizeof local) || LE32(local) != kLocalSig) {
    Error("%s: local header not found", Printable(e.name).c_str());
    return false;
  }
  const uint64_t extraAt = e.localOffset + kLocalSize + LE16(local + 26);
  localExtra_.assign(LE16(local + 28), 0);
  uint64_t at = extraAt + localExtra_.size();
  uint64_t left = e.packed;
  if (!ReadAt(a_.fd, extraAt, localExtra_.data(), localExtra_.size()) || at + left > a_.archiveEnd) {
    Error("%s: the archive is truncated", Printable(e.name).c_str());
    return false;
  }
  if (e.method != 0 && e.method != 8) {
    Error("%s: compression method %u is not supported", Printable(e.name).c_str(), unsigned(e.method));
    return false;
  }
  if ((e.flags & 0x40) || (e.Encrypted() && left < 12)) {
    Error("%s: this kind of encryption is not supported", Printable(e.name).c_str());
    return false;
  }
  if (e.Encrypted()) {
    uint8_t head[12];
    if (!ReadAt(a_.fd, at, head, sizeof head)) return false;
    if (!Password(e, src.crypto, head)) return false;
    at += 12, left -= 12;
  }
  src.at = at, src.left = left;
  return true;
}

bool Extractor::Unpack(const Entry& e, Source& src, int outFd) {
  uint64_t at = src.at, left = src.left;
  ZipCrypto& crypto = src.crypto;
  std::vector<uint8_t> in(kChunk), out(kChunk);
  z_stream z {};
  if (e.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t produced = 0;
  bool ok = true, ended = e.method == 0;
  auto emit = [&](const uint8_t* data, size_t n) {
    // A small stream can unpack to far more than it declares: stop at the declared size
    // instead of filling the disk.
    if (n > e.unpacked - produced) {
      Error("%s: the data is larger than the entry's declared size", Printable(e.name).c_str());
      ok = false;
      return;
    }
    crc = crc32(crc, data, uInt(n));
    produced += n;
    if (outFd >= 0 && !WriteAll(outFd, data, n)) {
      Error("%s: write error: %s", Printable(e.name).c_str(), std::strerror(errno));
      ok = false;
    }
  };
  while (ok && left > 0) {
    const size_t n = size_t(std::min<uint64_t>(left, in.size()));
    if (!ReadAt(a_.fd, at, in.data(), n)) {
      Error("%s: read error", Printable(e.name).c_str());
      ok = false;
      break;
    }
    at += n, left -= n;
    if (e.Encrypted())
      for (size_t i = 0; i < n; ++i) in[i] = crypto.Decrypt(in[i]);
    if (e.method == 0) {
      emit(in.data(), n);
      continue;
    }
    z.next_in = in.data();
    z.avail_in = uInt(n);
    while (ok && z.avail_in > 0 && !ended) {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      const int r = inflate(&z, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END) {
        ok = false;
        Error("%s: the compressed data is damaged", Printable(e.name).c_str());
        break;
      }
      emit(out.data(), out.size() - z.avail_out);
      ended = r == Z_STREAM_END;
    }
  }
  // Drain what inflate still holds once all input is in.
  while (ok && !ended && e.method == 8) {
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int r = inflate(&z, Z_FINISH);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) break;
    emit(out.data(), out.size() - z.avail_out);
    ended = r == Z_STREAM_END;
    if (r == Z_BUF_ERROR && z.avail_out == out.size()) break;
  }
  if (e.method == 8) inflateEnd(&z);
  if (!ok) return false;
  if (!ended || produced != e.unpacked) {
    Error("%s: the compressed data is damaged or truncated", Printable(e.name).c_str());
    return false;
  }
  if (uint32_t(crc) != e.crc) {
    Error("%s: CRC error (stored %08x, found %08x)", Printable(e.name).c_str(), e.crc, unsigned(crc));
    return false;
  }
  return true;
}

bool Extractor::Extract(const Entry& e, int rootFd) {
  std::vector<std::string> parts;
  if (!entrypaths::SplitEntryName(e.name, parts)) {
    Error("%s: refused: the name leads outside the extract folder", Printable(e.name).c_str());
    return false;
  }
  if (parts.empty()) return true;
  if (rootFd < 0) {
    if (e.IsDir()) return true;
    Source src;
    const bool ok = Begin(e, src) && Unpack(e, src, -1);
    if (ok) std::printf("  OK: %s\n", Printable(e.name).c_str());
    return ok;
  }
  if (e.IsSymlink()) {
    std::printf("  not extracted (symbolic link): %s\n", Printable(e.name).c_str());
    return true;
  }
  if (e.IsDir()) {
    int fd = -1;
    if (!OpenParent(rootFd, parts, parts.size(), fd, e)) return false;
    ::close(fd);
    folderTimes_.emplace_back(parts, ModTime(e, {}));
    return true;
  }

  int parent = -1;
  if (!OpenParent(rootFd, parts, parts.size() - 1, parent, e)) return false;
  const std::string& last = parts.back();
  // A file kept by the overwrite rule is not a failure.
  if (!MayWrite(parent, last, e)) {
    ::close(parent);
    return true;
  }
  // The password is asked before the temporary file exists: an interrupted prompt leaves nothing.
  Source src;
  if (!Begin(e, src)) {
    ::close(parent);
    return false;
  }
  bool ok = true;
  // Written under a name of its own and renamed only when complete and checked, so that
  // a damaged entry never replaces a good file.
  std::string temp;
  int out = -1;
  for (int i = 0; i < 100 && out < 0; ++i) {
    temp = ".tessera-" + std::to_string(::getpid()) + "-" + std::to_string(i) + ".part";
    out = ::openat(parent, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    Error("%s: cannot create file: %s", Printable(e.name).c_str(), std::strerror(errno));
    ::close(parent);
    return false;
  }
  SetPendingFile(parent, temp);
  ok = Unpack(e, src, out);
  if (ok) {
    const mode_t umask = ::umask(0);
    ::umask(umask);
    const mode_t mode = e.UnixMode() ? mode_t(e.UnixMode() & 0777) : mode_t(0666);
    ::fchmod(out, mode & ~umask);
    const time_t t = ModTime(e, localExtra_);
    const timespec times[2] = {{t, 0}, {t, 0}};
    ::futimens(out, times);
  }
  if (::close(out) != 0 && ok) {
    Error("%s: write error: %s", Printable(e.name).c_str(), std::strerror(errno));
    ok = false;
  }
  if (ok && ::renameat(parent, temp.c_str(), parent, last.c_str()) != 0) {
    Error("%s: cannot create file: %s", Printable(e.name).c_str(), std::strerror(errno));
    ok = false;
  }
  if (!ok) ::unlinkat(parent, temp.c_str(), 0);
  SetPendingFile(-1, {});
  if (ok) std::printf("  extracted: %s\n", Printable(e.name).c_str());
  ::close(parent);
  return ok;
}

void Extractor::RestoreFolderTimes(int rootFd) {
  for (auto it = folderTimes_.rbegin(); it != folderTimes_.rend(); ++it) {
    int parent = -1;
    Entry quiet;
    if (!OpenParent(rootFd, it->first, it->first.size() - 1, parent, quiet)) continue;
    const timespec times[2] = {{it->second, 0}, {it->second, 0}};
    ::utimensat(parent, it->first.back().c_str(), times, AT_SYMLINK_NOFOLLOW);
    ::close(parent);
  }
}

// ---- the command line after extraction ----

// Splits at blanks; quotes group words.
std::vector<std::string> SplitArgs(const std::string& text) {
  std::vector<std::string> out;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
      else word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) out.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) out.push_back(word);
  return out;
}

std::string ReplaceFolder(std::string text, const std::string& folder) {
  for (size_t at = text.find("><"); at != std::string::npos; at = text.find("><", at + folder.size()))
    text.replace(at, 2, folder);
  return text;
}

int RunCommand(const SelfArchive& a, const std::string& folder) {
  const size_t bar = a.command.find('|');
  std::string program = a.command.substr(0, bar);
  program.erase(0, program.find_first_not_of(" \t"));
  program.erase(program.find_last_not_of(" \t") + 1);
  // With a separator after it, the folder serves both "><name" and "></name".
  const std::string prefix = folder == "/" ? folder : folder + "/";
  std::vector<std::string> args{ReplaceFolder(program, prefix)};
  if (bar != std::string::npos)
    for (const std::string& word : SplitArgs(a.command.substr(bar + 1))) args.push_back(ReplaceFolder(word, prefix));

  std::string shown;
  for (const std::string& s : args) shown += (shown.empty() ? "" : " ") + s;
  if ((a.bits & kAskCmdLine) && !(a.bits & kAutoRun) && gInteractive &&
      AskChoice("Run " + Printable(shown) + "? [y/n] (y): ", "yn", 'y') != 'y')
    return kOk;
  std::printf("Running: %s\n", Printable(shown).c_str());
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    if (::chdir(folder.c_str()) != 0) _exit(127);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "%s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) < 0) {
    Error("Cannot run the command: %s", std::strerror(errno));
    return kFailed;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return kOk;
  Error("The command failed (status %d).", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return kFailed;
}

// ---- choosing and listing ----

std::string DateText(uint32_t dos) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", ((dos >> 25) & 0x7F) + 1980, (dos >> 21) & 0x0F,
                (dos >> 16) & 0x1F, (dos >> 11) & 0x1F, (dos >> 5) & 0x3F);
  return buf;
}

void ListEntries(const SelfArchive& a, bool numbered) {
  uint64_t total = 0;
  std::printf(numbered ? "  No.      Size  Date              Name\n" : "      Size  Date              Name\n");
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const Entry& e = a.entries[i];
    if (numbered) std::printf("%5zu ", i + 1);
    std::printf("%10u  %s  %s\n", e.unpacked, DateText(e.dosTime).c_str(), Printable(e.name).c_str());
    total += e.unpacked;
  }
  std::printf("%s%10llu  %zu entries\n", numbered ? "      " : "", static_cast<unsigned long long>(total),
              a.entries.size());
}

// Numbers and ranges ("1-3 7"); an empty answer takes everything.
std::vector<bool> ChooseEntries(const SelfArchive& a) {
  ListEntries(a, true);
  for (;;) {
    const std::string answer = Ask("Entries to extract (numbers and ranges such as 1-3 7; Enter for all): ", "");
    std::vector<bool> chosen(a.entries.size(), answer.empty());
    bool valid = true;
    for (const std::string& word : SplitArgs(answer)) {
      char* rest = nullptr;
      const unsigned long from = std::strtoul(word.c_str(), &rest, 10);
      unsigned long to = from;
      if (*rest == '-') to = std::strtoul(rest + 1, &rest, 10);
      if (*rest != '\0' || from < 1 || to < from || to > a.entries.size()) {
        std::printf("Not an entry number or range: %s\n", word.c_str());
        valid = false;
        break;
      }
      for (unsigned long i = from; i <= to; ++i) chosen[i - 1] = true;
    }
    if (valid) return chosen;
  }
}

bool MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = path.substr(0, at);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) return true;
  }
}

int Usage(FILE* out) {
  std::fprintf(out,
               "usage: %s [--dir DIR] [--yes] [--list] [--test] [--password PW]\n"
               "  --dir DIR      extract into DIR\n"
               "  --yes          take every default, ask nothing\n"
               "  --list         list the entries\n"
               "  --test         check every entry without writing anything\n"
               "  --password PW  password of encrypted entries\n",
               program_invocation_short_name);
  return out == stdout ? kOk : kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CatchSignals();
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* flag, std::string& into) {
      const size_t n = std::strlen(flag);
      if (arg == flag && i + 1 < argc) return into = argv[++i], true;
      if (arg.compare(0, n, flag) == 0 && arg.size() > n && arg[n] == '=') return into = arg.substr(n + 1), true;
      return false;
    };
    if (value("--dir", o.dir)) o.dirGiven = true;
    else if (value("--password", o.password)) o.passwordGiven = true;
    else if (arg == "--yes" || arg == "-y") o.yes = true;
    else if (arg == "--list" || arg == "-l") o.list = true;
    else if (arg == "--test" || arg == "-t") o.test = true;
    else if (arg == "--help" || arg == "-h") return Usage(stdout);
    else {
      Error("unknown argument: %s", arg.c_str());
      return Usage(stderr);
    }
  }

  SelfArchive a;
  if (!OpenSelf(a)) {
    Error("%s is not a self-extracting archive.", program_invocation_name);
    return kNotSfx;
  }
  if (!(a.bits & kNoSizeCheck)) {
    const uint64_t stub = ElfImageSize(a.fd);
    const uint64_t archive = a.archiveEnd - (a.headerAt + kHeaderSize);
    if (stub != a.headerAt || a.fileSize != stub + kHeaderSize + archive) {
      Error("%s is damaged: its size is not that of the extractor, its header and the archive.",
            program_invocation_name);
      return kNotSfx;
    }
  }

  const std::string title = Printable(a.caption.empty() ? std::string("Self-extracting archive") : a.caption);
  if (::isatty(STDOUT_FILENO)) std::printf("\033]0;%s\007", title.c_str());
  std::printf("%s\n%s\n", title.c_str(), std::string(std::min<size_t>(title.size(), 79), '=').c_str());

  if (o.list) {
    ListEntries(a, false);
    return kOk;
  }
  gInteractive = ::isatty(STDIN_FILENO) && !o.yes;
  Extractor x(a, o);
  if (o.test) {
    size_t failed = 0;
    for (const Entry& e : a.entries) failed += x.Extract(e, -1) ? 0 : 1;
    std::printf(failed ? "%zu of %zu entries failed the test.\n" : "No errors in %zu entries.\n",
                failed ? failed : a.entries.size(), a.entries.size());
    return failed ? kFailed : kOk;
  }

  // Auto-run extracts to the default folder without a question.
  const bool autoRun = a.bits & kAutoRun;
  const bool asking = gInteractive && !autoRun;
  std::string folder = o.dirGiven ? o.dir : (a.defaultDir.empty() ? std::string(".") : a.defaultDir);
  if (asking && !o.dirGiven) folder = Ask("Extract to folder [" + Printable(folder) + "]: ", folder);
  Overwrite mode = (a.bits & kOverwriteAlways) ? Overwrite::Always
                   : (a.bits & kOverwriteNever) ? Overwrite::Never
                                                : Overwrite::Ask;
  if (asking && !(a.bits & kHideOverwrite)) {
    const char current = mode == Overwrite::Always ? 'o' : mode == Overwrite::Never ? 'n' : 'a';
    const char c = AskChoice(std::string("Existing files: [a]sk for each, [o]verwrite, [n]ever overwrite (") +
                                 current + "): ",
                             "aon", current);
    mode = c == 'o' ? Overwrite::Always : c == 'n' ? Overwrite::Never : Overwrite::Ask;
  }
  x.SetOverwrite(mode);
  std::vector<bool> chosen(a.entries.size(), true);
  if (asking && (a.bits & kAskFiles)) chosen = ChooseEntries(a);

  char resolved[PATH_MAX];
  if (!MakeFolders(folder) || !::realpath(folder.c_str(), resolved)) {
    Error("Cannot create the folder %s: %s", folder.c_str(), std::strerror(errno));
    return kFailed;
  }
  folder = resolved;
  const int root = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    Error("Cannot open the folder %s: %s", folder.c_str(), std::strerror(errno));
    return kFailed;
  }
  std::printf("Extracting to %s\n", folder.c_str());
  size_t failed = 0;
  for (size_t i = 0; i < a.entries.size(); ++i)
    if (chosen[i] && !x.Extract(a.entries[i], root)) ++failed;
  x.RestoreFolderTimes(root);
  ::close(root);
  if (failed) {
    Error("%zu entries could not be extracted.", failed);
    return kFailed;
  }
  std::printf("Done.\n");
  if (a.command.empty()) return kOk;
  return RunCommand(a, folder);
}
