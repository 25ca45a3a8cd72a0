#include "Extractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "EntryPaths.h"
#include "FileModes.h"
#include "StagedFile.h"
#include "Terminal.h"

namespace stubby {

Extractor::Extractor(SelfArchive& a, Options& o) : a_(a), o_(o), umask_(filemodes::CurrentUmask()) {}

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

bool Extractor::Password(const Entry& e, zipcrypto::Decrypter& crypto,
                         const uint8_t (&head)[zipcrypto::kHeaderSize]) {
  const uint8_t check = zipcrypto::CheckByte(e.flags, e.crc, e.dosTime);
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
    if (zipcrypto::Start(o_.password, head, check, crypto)) return true;
    if (!gInteractive) break;
    std::printf("Wrong password.\n");
    o_.passwordGiven = false;
  }
  Error("%s: wrong password", Printable(e.name).c_str());
  return false;
}

bool Extractor::Begin(const Entry& e, Source& src) {
  if (e.localBad) {
    Error("%s: the archive is truncated or damaged", Printable(e.name).c_str());
    return false;
  }
  if (e.overlaps) {
    Error("%s: refused: its data overlaps another entry's", Printable(e.name).c_str());
    return false;
  }
  uint64_t at = e.dataOffset, left = e.packed;
  localExtra_.assign(e.localExtra, 0);
  if (!ReadAt(a_.fd, at - localExtra_.size(), localExtra_.data(), localExtra_.size())) {
    Error("%s: read error", Printable(e.name).c_str());
    return false;
  }
  if (e.method != 0 && e.method != 8) {
    Error("%s: compression method %u is not supported", Printable(e.name).c_str(), unsigned(e.method));
    return false;
  }
  if (e.flags & 0x40) {
    Error("%s: this kind of encryption is not supported", Printable(e.name).c_str());
    return false;
  }
  if (e.Encrypted()) {
    uint8_t head[zipcrypto::kHeaderSize];
    if (left < sizeof head) {
      Error("%s: the entry is shorter than its encryption header", Printable(e.name).c_str());
      return false;
    }
    if (!ReadAt(a_.fd, at, head, sizeof head)) {
      Error("%s: read error", Printable(e.name).c_str());
      return false;
    }
    if (!Password(e, src.crypto, head)) return false;
    at += sizeof head, left -= sizeof head;
  }
  src.at = at, src.left = left;
  return true;
}

bool Extractor::Unpack(const Entry& e, Source& src, stagedfile::StagedFile* file, std::string* into) {
  uint64_t at = src.at, left = src.left;
  zipcrypto::Decrypter& crypto = src.crypto;
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
    if (file && !file->Write(data, n)) {
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
    if (e.Encrypted()) crypto.Decrypt(in.data(), n);
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
    const bool ok = Begin(e, src) && Unpack(e, src, nullptr);
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
  // Named only when complete and checked, so that a damaged entry never replaces a good
  // file, and a killed run leaves no partial one.
  std::string folder;
  for (size_t i = 0; i + 1 < parts.size(); ++i) folder += parts[i] + '/';
  if (swept_.insert(folder).second) stagedfile::RemoveStale(parent);
  stagedfile::StagedFile out;
  if (!out.Open(parent)) {
    Error("%s: cannot create file: %s", Printable(e.name).c_str(), std::strerror(errno));
    ::close(parent);
    return false;
  }
  SetPendingFile(parent, out.Name());
  bool ok = Unpack(e, src, &out);
  if (ok) {
    ::fchmod(out.Fd(), filemodes::ExtractedMode(e.UnixMode(), false, umask_));
    const time_t t = ModTime(e, localExtra_);
    const timespec times[2] = {{t, 0}, {t, 0}};
    ::futimens(out.Fd(), times);
    struct stat st {};
    if (!out.Publish(last, ::fstatat(parent, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)) {
      Error("%s: %s: %s", Printable(e.name).c_str(), errno == EIO || errno == ENOSPC ? "write error" : "cannot create file",
            std::strerror(errno));
      ok = false;
    }
  }
  out.Discard();
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
  bool ok = decision == Decision::Write && Begin(e, src) && Unpack(e, src, nullptr, &target);
  if (ok && !entrypaths::LinkTargetInside(parts, target)) {
    Error("%s: refused: the link points outside the extract folder (%s)", Printable(e.name).c_str(),
          Printable(target).c_str());
    ok = false;
  }
  std::string temp;
  int made = -1;
  for (int i = 0; ok && i < 100 && made != 0; ++i) {
    temp = stagedfile::TempName(".link");
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
