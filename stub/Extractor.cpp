#include "Extractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "EntryPaths.h"
#include "Terminal.h"

namespace stubby {

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

// Only a file kept by the user's overwrite choice is not a failure.
Extractor::Decision Extractor::MayWrite(int parentFd, const std::string& last, const Entry& e) {
  struct stat st {};
  if (::fstatat(parentFd, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Decision::Write;
  if (S_ISDIR(st.st_mode)) {
    Error("%s: cannot be written: a folder of that name exists", Printable(e.name).c_str());
    return Decision::Fail;
  }
  switch (overwrite_) {
    case Overwrite::Always: return Decision::Write;
    case Overwrite::Never: break;
    case Overwrite::Ask:
      if (!gInteractive) break;
      switch (AskChoice("Overwrite existing file " + Printable(e.name) + "? [y]es, [n]o, [a]ll, n[o]ne (n): ",
                        "ynao", 'n')) {
        case 'y': return Decision::Write;
        case 'a': overwrite_ = Overwrite::Always; return Decision::Write;
        case 'o': overwrite_ = Overwrite::Never; break;
        default: break;
      }
  }
  std::printf("  skipped (exists): %s\n", Printable(e.name).c_str());
  return Decision::Keep;
}

time_t Extractor::ModTime(const Entry& e, const std::vector<uint8_t>& extra) const {
  // The extended timestamp field holds the exact time in UTC.
  for (size_t p = 0; p + 4 <= extra.size();) {
    const uint16_t id = GetLE16(&extra[p]), len = GetLE16(&extra[p + 2]);
    if (p + 4 + len > extra.size()) break;
    if (id == 0x5455 && len >= 5 && (extra[p + 4] & 1)) return time_t(int32_t(GetLE32(&extra[p + 5])));
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
  if (!ReadAt(a_.fd, e.localOffset, local, sizeof local) || GetLE32(local) != kLocalSig) {
    Error("%s: local header not found", Printable(e.name).c_str());
    return false;
  }
  const uint64_t extraAt = e.localOffset + kLocalSize + GetLE16(local + 26);
  localExtra_.assign(GetLE16(local + 28), 0);
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

bool Extractor::Unpack(const Entry& e, Source& src, int outFd, std::string* into) {
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
    if (into) into->append(reinterpret_cast<const char*>(data), n);
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
  if (e.IsSymlink()) return ExtractLink(e, parts, rootFd);
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
  const Decision decision = MayWrite(parent, last, e);
  if (decision != Decision::Write) {
    ::close(parent);
    return decision == Decision::Keep;
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

// A link is created only where its target stays inside the extract folder.
bool Extractor::ExtractLink(const Entry& e, const std::vector<std::string>& parts, int rootFd) {
  if (e.unpacked > kMaxLinkTarget) {
    Error("%s: refused: the link target is too long", Printable(e.name).c_str());
    return false;
  }
  int parent = -1;
  if (!OpenParent(rootFd, parts, parts.size() - 1, parent, e)) return false;
  const std::string& last = parts.back();
  const Decision decision = MayWrite(parent, last, e);
  Source src;
  std::string target;
  bool ok = decision == Decision::Write && Begin(e, src) && Unpack(e, src, -1, &target);
  if (ok && !entrypaths::LinkTargetInside(parts, target)) {
    Error("%s: refused: the link points outside the extract folder (%s)", Printable(e.name).c_str(),
          Printable(target).c_str());
    ok = false;
  }
  std::string temp;
  int made = -1;
  for (int i = 0; ok && i < 100 && made != 0; ++i) {
    temp = ".tessera-" + std::to_string(::getpid()) + "-" + std::to_string(i) + ".link";
    made = ::symlinkat(target.c_str(), parent, temp.c_str());
    if (made != 0 && errno != EEXIST) break;
  }
  if (ok && made != 0) {
    Error("%s: cannot create link: %s", Printable(e.name).c_str(), std::strerror(errno));
    ok = false;
  }
  if (ok && ::renameat(parent, temp.c_str(), parent, last.c_str()) != 0) {
    Error("%s: cannot create link: %s", Printable(e.name).c_str(), std::strerror(errno));
    ::unlinkat(parent, temp.c_str(), 0);
    ok = false;
  }
  ::close(parent);
  if (ok) std::printf("  extracted: %s -> %s\n", Printable(e.name).c_str(), Printable(target).c_str());
  return ok || decision == Decision::Keep;
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

}  // namespace stubby
