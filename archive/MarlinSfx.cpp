// Conversion between plain and self-extracting archives. Both directions copy the
// archive's bytes unchanged except for the stored offsets, which move by the size of
// what is put in front of the archive (stub and header) or taken away.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

#include "TMarlin.h"

#ifndef TESSERA_SYSTEM_DIR
#define TESSERA_SYSTEM_DIR "/usr/local/lib/tessera"
#endif
#ifndef TESSERA_MAIN_DIR
#define TESSERA_MAIN_DIR "/usr/local/share/tessera"
#endif

namespace {

constexpr size_t kCopyBufferSize = 8192;
constexpr size_t kMaxSfxText = 249;  // 7 bytes of header fields + 249 = 256
constexpr int kNotShiftable = 10804;
constexpr int kSpannedSfx = 11041;
constexpr const char* kStubName = "Stubby.bin";

bool IsFile(const std::string& name) {
  struct stat st {};
  // Only a regular file: opening a pipe or a device to read would wait or never end.
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Only a file or a link may be replaced by an output: a folder or anything else under
// that name is the user's and stays.
bool InTheWay(const std::string& name) {
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode);
}

// Position of the extension's dot in the last path component, or npos.
size_t ExtensionAt(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
  return dot;
}

std::string UpperExtension(const std::string& path) {
  const size_t at = ExtensionAt(path);
  std::string ext = at == std::string::npos ? std::string() : path.substr(at);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return ext;
}

std::string WithExtension(const std::string& path, const std::string& ext) {
  return path.substr(0, ExtensionAt(path)) + ext;
}

std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  const std::string exe(buf, size_t(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::array<uint8_t, TMarlin::kSfxHeaderSize> BuildSfxHeader(const TMarlin& m) {
  std::array<uint8_t, TMarlin::kSfxHeaderSize> h{};
  h[0] = 'M', h[1] = 'P', h[2] = 'U';
  const SFXOpts o = m.SFXOptions();
  uint8_t bits = 0;
  // The stub's bit order is its own, not the order of the option set.
  if (o.Contains(SFXOptsEnum::SFXAskCmdLine)) bits |= 1;
  if (o.Contains(SFXOptsEnum::SFXAskFiles)) bits |= 2;
  if (o.Contains(SFXOptsEnum::SFXHideOverWriteBox)) bits |= 4;
  if (m.SFXOverWriteMode() == OvrOpts::OvrAlways) bits |= 8;
  if (m.SFXOverWriteMode() == OvrOpts::OvrNever) bits |= 16;
  if (!o.Contains(SFXOptsEnum::SFXCheckSize)) bits |= 32;
  if (o.Contains(SFXOptsEnum::SFXAutoRun)) bits |= 64;
  h[3] = bits;
  size_t at = 7;
  int field = 4;
  for (const std::string* text : {&m.SFXCaption(), &m.SFXDefaultDir(), &m.SFXCommandLine()}) {
    h[size_t(field++)] = uint8_t(text->size());
    std::memcpy(h.data() + at, text->data(), text->size());
    at += text->size();
  }
  return h;
}

// The output is written under a name of its own beside the target and renamed over it
// only when complete, so that a failure never costs an existing file.
struct PendingOutput {
  std::string target;
  std::string temp;
  FileHandle file;

  bool Create(const std::string& name, unsigned mode) {
    target = name;
    for (int attempt = 0; attempt < 100; ++attempt) {
      temp = name + ".part" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
      if (file.CreateNew(temp, mode)) return true;
      if (errno != EEXIST) break;
    }
    temp.clear();
    return false;
  }
  void Discard() {
    file.Close();
    if (!temp.empty()) ::unlink(temp.c_str());
    temp.clear();
  }
  ~PendingOutput() { Discard(); }
};

}  // namespace

int TMarlin::CopyFileData(FileHandle& source, FileHandle& dest, int64_t count) {
  try {
    std::array<char, kCopyBufferSize> buffer;
    int64_t left = count;
    for (;;) {
      const size_t want = count < 0 ? buffer.size() : size_t(std::min<int64_t>(left, int64_t(buffer.size())));
      if (want == 0) break;
      const int64_t got = source.Read(buffer.data(), want);
      // A short read ends the copy; a failed one is not the end of the file.
      if (got < 0) return -2;
      if (got > 0 && dest.Write(buffer.data(), size_t(got)) != got) return -2;
      left -= got;
      ProcessEvents();
      if (size_t(got) < want) break;
    }
  } catch (...) {
    return -2;
  }
  return 0;
}

int TMarlin::CopyCentralDir(FileHandle& dest, EndOfCentralDir& e, int64_t delta) {
  // Offsets that leave the 32-bit range would need Zip64 records: never write them wrapped.
  auto shifted = [delta](uint32_t offset) {
    const int64_t v = int64_t(offset) + delta;
    if (v < 0 || v >= int64_t(UINT32_MAX)) throw EMarlin(kNotShiftable, false);
    return uint32_t(v);
  };
  try {
    uint8_t raw[CentralFileHeader::Size];
    for (unsigned n = 0; n < e.EntriesTotal; ++n) {
      if (fReadHandle.Read(raw, sizeof raw) != int64_t(sizeof raw)) throw EMarlin(11013, false);
      CentralFileHeader h = CentralFileHeader::Decode(raw);
      if (h.Signature != zipsig::Central) throw EMarlin(11015, false);
      h.LocalHeaderOffset = shifted(h.LocalHeaderOffset);
      h.Encode(raw);
      if (dest.Write(raw, sizeof raw) != int64_t(sizeof raw)) throw EMarlin(11029, false);
      if (CopyFileData(fReadHandle, dest, h.VariableLength()) != 0) throw EMarlin(11042, false);
    }
    if (fReadHandle.Seek(int64_t(EndOfCentralDir::Size), SEEK_CUR) < 0) throw EMarlin(11043, false);
    e.CentralDirStart = shifted(e.CentralDirStart);
    const auto end = e.Bytes();
    if (dest.Write(end.data(), end.size()) != int64_t(end.size())) throw EMarlin(11030, false);
    if (CopyFileData(fReadHandle, dest, e.ArchiveCommentLength) != 0) throw EMarlin(11044, false);
  } catch (...) {
    return -2;
  }
  return 0;
}

int TMarlin::ConvertSFX() {
  if (!IsFile(fZipFilename) && !fAutoSFX) {
    ReportMessage(10102);
    return -9;
  }
  const size_t textLength = fSFXCaption.size() + fSFXDefaultDir.size() + fSFXCommandLine.size();
  if (textLength > kMaxSfxText) {
    ReportMessage(10801, "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = " + std::to_string(textLength));
    return -9;
  }

  // Each candidate is left in SFXPath, so that the one found is what SFXPath tells.
  std::vector<std::string> candidates{fSFXPath, kStubName, ProgramFolder() + "/" + kStubName,
                                      std::string(TESSERA_SYSTEM_DIR) + "/" + kStubName,
                                      std::string(TESSERA_MAIN_DIR) + "/" + kStubName};
  if (!fDLLDirectory.empty()) candidates.push_back(fDLLDirectory + "/" + kStubName);
  bool found = false;
  for (const std::string& c : candidates) {
    fSFXPath = c;
    if ((found = IsFile(c))) break;
  }
  if (!found) {
    ReportMessage(10802);
    fSFXPath.clear();
    return -9;
  }

  std::optional<BusyCursor> busy(std::in_place, *this);
  const auto header = BuildSfxHeader(*this);
  std::string outName;
  if (fAutoSFX) {
    outName = fZipFilename;
  } else {
    if (UpperExtension(fZipFilename) != ".ZIP") {
      busy.reset();
      ReportMessage(10803);
      return -9;
    }
    outName = WithExtension(fZipFilename, ".exe");
  }

  if (InTheWay(outName)) {
    busy.reset();
    ReportException(EMarlin(11107, outName));
    return -1;
  }

  // A program file: executable for everyone the umask lets run it.
  PendingOutput out;
  int r = -9;
  int64_t stubSize = -1, expected = -1, outSize = -1;
  std::optional<EMarlin> refusal;
  if (!out.Create(outName, 0777)) {
    r = -1;
  } else {
    FileHandle stub;
    if (!stub.OpenRead(fSFXPath)) {
      r = -3;
    } else {
      r = CopyFileData(stub, out.file, -1);
      stubSize = stub.Size();
      stub.Close();
    }
    if (r == 0 && out.file.Write(header.data(), header.size()) != int64_t(header.size())) r = -2;
    const int64_t delta = stubSize + int64_t(kSfxHeaderSize);
    if (r == 0 && fAutoSFX) {
      EndOfCentralDir empty;
      empty.CentralDirStart = uint32_t(delta);
      const auto bytes = empty.Bytes();
      if (out.file.Write(bytes.data(), bytes.size()) != int64_t(bytes.size())) r = -2;
    } else if (r == 0) {
      try {
        fReadName = fZipFilename;
        EndOfCentralDir e;
        OpenEOC(e, true);
        if (fCentralDir.DiskNumber != 0 || fCentralDir.CentralStartDisk != 0) throw EMarlin(kSpannedSfx, true);
        if (fReadHandle.Seek(0, SEEK_SET) < 0) throw EMarlin(11008, false);
        if (fOffsetMismatch) {
          r = CopyFileData(fReadHandle, out.file, -1);
          expected = int64_t(fPhysicalSize);
        } else {
          const bool fits = fCentralDir.Zip64Bytes == 0 && uint64_t(e.CentralDirStart) + uint64_t(delta) < UINT32_MAX &&
                            std::none_of(fContents.begin(), fContents.end(), [](const ZipDirEntry& d) {
                              return d.LocalHeaderOffset == UINT32_MAX;
                            });
          if (!fits) throw EMarlin(kNotShiftable, true);
          r = CopyFileData(fReadHandle, out.file, e.CentralDirStart);
          if (r == 0) r = CopyCentralDir(out.file, e, delta);
          expected = int64_t(fLogicalSize);
        }
      } catch (const EMarlin& ex) {
        r = -3;
        if (ex.MsgId == kNotShiftable || ex.MsgId == kSpannedSfx) refusal.emplace(ex);
      } catch (...) {
        r = -3;
      }
      fReadHandle.Close();
    }
    outSize = out.file.Size();
    out.file.Close();
  }

  if (r == 0 && !fAutoSFX &&
      (stubSize < 0 || expected < 0 || outSize < 0 || stubSize + expected + int64_t(kSfxHeaderSize) != outSize))
    r = -9;
  if (r == 0 && InTheWay(outName)) r = -1;
  if (r == 0) {
    RemoveFile(outName, fHowToDelete);
    if (::rename(out.temp.c_str(), outName.c_str()) != 0) r = -1;
    else out.temp.clear();
  }
  out.Discard();
  busy.reset();
  if (refusal) ReportException(*refusal);
  if (r == 0 && !fAutoSFX) {
    RemoveFile(fZipFilename, fHowToDelete);
    SetZipFilename(outName);
  }
  return r;
}

int TMarlin::ConvertZIP() {
  if (!IsFile(fZipFilename)) {
    ReportMessage(10901);
    return -3;
  }
  if (UpperExtension(fZipFilename) != ".EXE") {
    ReportMessage(10902);
    return -3;
  }
  if (fPrefixSize == 0) {
    ReportMessage(10903);
    return -9;
  }

  std::optional<BusyCursor> busy(std::in_place, *this);
  int r = -2;
  const std::string outName = WithExtension(fZipFilename, ".zip");
  if (InTheWay(outName)) {
    busy.reset();
    ReportException(EMarlin(11107, outName));
    return -1;
  }
  const int64_t prefix = int64_t(fPrefixSize);
  int64_t expected = -1, outSize = -1;
  std::optional<EMarlin> refusal;
  PendingOutput out;
  if (!out.Create(outName, 0666)) {
    r = -1;
  } else {
    try {
      fReadName = fZipFilename;
      EndOfCentralDir e;
      OpenEOC(e, true);
      if (fCentralDir.DiskNumber != 0 || fCentralDir.CentralStartDisk != 0) throw EMarlin(kSpannedSfx, true);
      if (fReadHandle.Seek(prefix, SEEK_SET) >= 0) {
        if (fOffsetMismatch) {
          r = CopyFileData(fReadHandle, out.file, -1);
          expected = int64_t(fPhysicalSize);
        } else {
          const bool fits = fCentralDir.Zip64Bytes == 0 && e.CentralDirStart >= prefix &&
                            std::none_of(fContents.begin(), fContents.end(), [](const ZipDirEntry& d) {
                              return d.LocalHeaderOffset == UINT32_MAX;
                            });
          if (!fits) throw EMarlin(kNotShiftable, true);
          r = CopyFileData(fReadHandle, out.file, int64_t(e.CentralDirStart) - prefix);
          if (r == 0) r = CopyCentralDir(out.file, e, -prefix);
          expected = int64_t(fLogicalSize);
        }
      }
    } catch (const EMarlin& ex) {
      r = -3;
      if (ex.MsgId == kNotShiftable || ex.MsgId == kSpannedSfx) refusal.emplace(ex);
    } catch (...) {
      r = -3;
    }
    fReadHandle.Close();
    outSize = out.file.Size();
    out.file.Close();
  }

  if (r == 0 && (expected < 0 || outSize < 0 || outSize != expected - prefix)) r = -9;
  if (r == 0 && InTheWay(outName)) r = -1;
  if (r == 0) {
    RemoveFile(outName, fHowToDelete);
    if (::rename(out.temp.c_str(), outName.c_str()) != 0) r = -1;
    else out.temp.clear();
  }
  out.Discard();
  busy.reset();
  if (refusal) ReportException(*refusal);
  if (r == 0) {
    RemoveFile(fZipFilename, fHowToDelete);
    SetZipFilename(outName);
  }
  return r;
}
