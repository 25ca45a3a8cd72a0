// Joining the volumes of a multi-volume set into one plain archive: find the last
// volume, read the directory, then copy every entry and the directory from volume 1 on.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <tuple>
#include <new>
#include <optional>

#include "MarlinMessages.h"
#include "MarlinSpan.h"
#include "TMarlin.h"

using namespace span;

namespace {

constexpr int kMaxVolumes = 999;  // three digits in names and labels

bool IsFile(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Only a file or a link may be replaced by the joined archive.
bool InTheWay(const std::string& name) {
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode);
}

size_t NameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// The joined archive is always a ".zip"; a leading dot does not start an extension.
std::string WithZipExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= NameStart(name)) dot = name.size();
  return name.substr(0, dot) + ".zip";
}

// The number in the three characters in front of the extension; -1 when there is none.
int FileVolumeNumber(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= NameStart(name)) dot = name.size();
  if (dot < NameStart(name) + 3) return -1;
  const std::string digits = name.substr(dot - 3, 3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
  return std::stoi(digits);
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = dir && *dir ? dir : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

int TMarlin::ReadSpan(const std::string& inFileName, std::string& outFileName) {
  SpanCall call;
  span_ = &call;
  fSluiceBusy = true;
  fDriveRoot = volumes_->DriveRootOf(AbsolutePath(inFileName));
  fCurrentDiskNo = -1;
  fNewDiskRequested = false;
  fSpanProgress = false;
  fReadName = inFileName;
  fReadHandle.Close();
  fWriteHandle.Close();

  Trapped failure;
  {
    BusyCursor busy(*this);
    failure = Trap([&] { JoinVolumes(outFileName); });
    if (OnProgress) OnProgress(this, ProgressType::ProgrEndOfBatch, "", 0);
    fReadHandle.Close();
    if (failure.Failed()) {
      // The partial file is this call's own, never the user's: it goes for good (an
      // unnamed one goes with its handle).
      const bool created = fWriteHandle.IsOpen() || !call.JoinedName.empty();
      call.Out.Discard();
      fWriteHandle.Close();
      if (!call.JoinedName.empty()) ::unlink(call.JoinedName.c_str());
      if (created) outFileName.clear();
    }
  }

  const int result = ReportTrapped(failure, 11024);
  fSluiceBusy = false;
  span_ = nullptr;
  return result;
}

void TMarlin::CreateJoinedFile(const std::string& folder, bool keepPrivate) {
  SpanCall& call = *span_;
  const mode_t mode = keepPrivate ? 0600 : 0666;
  // A file without a name until it is complete: a join that is killed leaves nothing.
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd >= 0) {
    fWriteHandle.Adopt(fd);
    return;
  }
  // File systems without unnamed files get a named one, taken back on every failure.
  std::string joined = folder + "zipXXXXXX.zip";
  const int named = ::mkstemps(joined.data(), 4);
  if (named < 0) throw EMarlin(keepPrivate ? 11027 : 11009, true);
  call.JoinedName = joined;
  if (!keepPrivate) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(named, 0666 & ~mask);
  }
  fWriteHandle.Adopt(named);
}

std::string TMarlin::NameJoinedFile(const std::string& folder) {
  SpanCall& call = *span_;
  if (!call.JoinedName.empty()) return call.JoinedName;
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string self = "/proc/self/fd/" + std::to_string(fWriteHandle.Fd());
  unsigned seed = unsigned(::getpid()) ^ unsigned(::time(nullptr)) ^ unsigned(uintptr_t(this));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = folder + "zip";
    for (int k = 0; k < 6; ++k) name += kLetters[::rand_r(&seed) % (sizeof kLetters - 1)];
    name += ".zip";
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        ::linkat(fWriteHandle.Fd(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
      call.JoinedName = name;
      return name;
    }
    if (errno != EEXIST) break;
  }
  throw EMarlin(11027, true);
}

void TMarlin::JoinVolumes(std::string& outFileName) {
  SpanCall& call = *span_;
  call.Buffer.resize(SpanCall::kBufferSize);

  // The joined file gets a name only once complete, and when a file name was asked for
  // it is renamed to it then: a failure never leaves a partial file under the asked name,
  // nor takes away a file that was there.
  std::string folder, finalName;
  if (outFileName.empty() || outFileName.back() == '/' || DirExists(outFileName)) {
    folder = outFileName.empty() ? TempFolder() : outFileName;
    if (folder.back() != '/') folder += '/';
  } else {
    finalName = WithZipExtension(outFileName);
    folder = finalName.substr(0, NameStart(finalName));
    if (InTheWay(finalName)) throw EMarlin(11107, finalName);
  }
  CreateJoinedFile(folder.empty() ? "./" : folder, finalName.empty());
  call.Out.Attach(fWriteHandle);

  // Find the last volume: the one with the end record.
  EndOfCentralDir e;
  DriveKind kind = DriveKind::Removable;
  for (;;) {
    if (IsHardDisk(kind)) {
      // Numbered files need no prompt: the one given is not the last.
      const int n = FileVolumeNumber(fReadName);
      if (n == 1) throw EMarlin(11037, true);
      if (n < 0) throw EMarlin(11036, true);
      throw EMarlin(11038, n);
    }
    kind = AskForDisk();
    fNewDiskRequested = true;
    if (IsHardDisk(kind) && !IsFile(fReadName)) throw EMarlin(11001, true);
    if (OpenEOC(e, false)) break;
  }
  struct stat st {};
  if (::fstat(fReadHandle.Fd(), &st) == 0) call.VolumesRead.emplace_back(st.st_dev, st.st_ino);
  if (!finalName.empty() && ::stat(finalName.c_str(), &st) == 0 && !call.VolumesRead.empty() &&
      std::pair(st.st_dev, st.st_ino) == call.VolumesRead.front())
    throw EMarlin(11104, true);
  fSetDateTime = FileTime(fReadHandle);
  if (fCentralDir.Zip64Bytes > 0) throw EMarlin(11101, true);
  if (e.DiskNumber >= kMaxVolumes || e.CentralStartDisk >= kMaxVolumes) throw EMarlin(11103, true);
  if (e.DiskNumber == 0) {
    // A set of one volume still starts with the span marker; an archive without it is
    // no set at all.
    uint8_t marker[4];
    if (fReadHandle.Seek(0, SEEK_SET) != 0 || fReadHandle.Read(marker, 4) != 4 || GetLE32(marker) != zipsig::SpanMarker)
      throw EMarlin(11106, fReadName);
  }
  fLastDiskNo = e.DiskNumber;
  fCurrentDiskNo = e.DiskNumber;
  call.VolumeSizes.assign(size_t(e.DiskNumber) + 1, -1);
  call.VolumeSizes[e.DiskNumber] = fReadHandle.Size();
  call.In.Attach(fReadHandle);
  if (e.CentralStartDisk != e.DiskNumber) OpenSetVolume(e.CentralStartDisk);
  if (!call.In.Seek(e.CentralDirStart)) throw EMarlin(11008, true);

  // Directory pass: where every local header lies, and the packed sizes.
  char* buf = call.Buffer.data();
  auto* raw = reinterpret_cast<uint8_t*>(buf);
  call.Records.Reserve(e.EntriesTotal);
  int64_t batchTotal = 0;
  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    ReadAcross(buf, CentralFileHeader::Size, 11013);
    const CentralFileHeader h = CentralFileHeader::Decode(raw);
    if (h.Signature != zipsig::Central) throw EMarlin(11015, true);
    if (h.PackedSize == 0xFFFFFFFFu || h.UnpackedSize == 0xFFFFFFFFu || h.LocalHeaderOffset == 0xFFFFFFFFu ||
        h.DiskStart == 0xFFFF)
      throw EMarlin(11101, true);
    ReadAcross(buf, h.NameLength, 11017);
    call.Records.Add(h.DiskStart, h.LocalHeaderOffset, h.PackedSize, h.Crc32);
    batchTotal += int64_t(h.NameLength) + h.PackedSize + h.ExtraLength + h.CommentLength;
    SkipAcross(int64_t(h.ExtraLength) + h.CommentLength, 11008);
  }
  call.Records.Seal();

  OpenSetVolume(0);
  fSpanProgress = true;
  if (OnProgress) {
    OnProgress(this, ProgressType::ProgrTotalFiles, "", e.EntriesTotal);
    OnProgress(this, ProgressType::ProgrTotalSize, "", batchTotal);
  }
  if (call.In.Read(buf, 4) != 4 || GetLE32(raw) != zipsig::SpanMarker) throw EMarlin(11031, true);

  const std::string copying = LoadMessageText(10105, "Copying: ");
  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    NextVolumeIfAtEnd(11012);
    const int disk = fCurrentDiskNo;
    const int64_t at = call.In.Position();
    ReadAcross(buf, LocalFileHeader::Size, 11012);
    const LocalFileHeader lh = LocalFileHeader::Decode(raw);
    if (lh.Signature != zipsig::Local) throw EMarlin(11014, true);
    ReadAcross(buf + LocalFileHeader::Size, lh.NameLength, 11016);
    uint8_t* extra = raw + LocalFileHeader::Size + lh.NameLength;
    ReadAcross(extra, lh.ExtraLength, 11018);
    // Sizes that only a Zip64 record in the local header holds cannot be copied here.
    if (lh.PackedSize == 0xFFFFFFFFu || lh.UnpackedSize == 0xFFFFFFFFu ||
        (lh.HasDataDescriptor() && HasZip64Extra(extra, lh.ExtraLength)))
      throw EMarlin(11101, true);
    if (at > 0xFFFFFFFFLL) throw EMarlin(11026, true);
    auto [first, last] = call.Records.FindSpanRecord(uint16_t(disk), uint32_t(at));
    if (first == last && at == 0 && disk > 0 && call.VolumeSizes[size_t(disk - 1)] <= 0xFFFFFFFFLL) {
      // A header that starts a volume may be recorded as lying at the end of the one
      // before, as Info-ZIP does.
      std::tie(first, last) =
          call.Records.FindSpanRecord(uint16_t(disk - 1), uint32_t(call.VolumeSizes[size_t(disk - 1)]));
    }
    if (first == last) throw EMarlin(11026, true);
    if (call.JoinedSize > 0xFFFFFFFFLL) throw EMarlin(11101, true);
    for (SpanRecord* r = first; r != last; ++r) {
      r->DiskStart = 0;
      r->LocalHeaderOffset = uint32_t(call.JoinedSize);
      r->Met = true;
    }
    std::string name(buf + LocalFileHeader::Size, lh.NameLength);
    std::replace(name.begin(), name.end(), '\\', '/');
    if (OnMessage) OnMessage(this, 0, copying + name);
    if (OnProgress)
      OnProgress(this, ProgressType::ProgrNewFile, name,
                 int64_t(LocalFileHeader::Size) + lh.NameLength + lh.ExtraLength + lh.PackedSize +
                     (lh.HasDataDescriptor() ? int64_t(DataDescriptor::Size) : 0));
    WriteJoined(buf, int64_t(LocalFileHeader::Size) + lh.NameLength + lh.ExtraLength, 11028);
    // Writers that leave the sizes to a data descriptor put 0 in the local header.
    CopyFromVolumes(lh.PackedSize != 0 ? lh.PackedSize : first->PackedSize, 11021);
    if (lh.HasDataDescriptor()) {
      // With or without its signature: the CRC that follows tells which.
      ReadAcross(buf, 12, 11020);
      size_t length = DataDescriptorLength(raw, 12, first->Crc32);
      if (length != 12) {
        ReadAcross(buf + 12, 4, 11020);
        length = DataDescriptorLength(raw, 16, first->Crc32);
      }
      if (length == 0) throw EMarlin(11020, true);
      WriteJoined(buf, int64_t(length), 11020);
    }
  }
  fSpanProgress = false;

  // The directory follows the last entry's data.
  int64_t centralStart = call.JoinedSize;
  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    NextVolumeIfAtEnd(11013);
    ReadAcross(buf, CentralFileHeader::Size, 11013);
    CentralFileHeader h = CentralFileHeader::Decode(raw);
    if (h.Signature != zipsig::Central) throw EMarlin(11015, true);
    uint8_t* variable = raw + CentralFileHeader::Size;
    ReadAcross(variable, h.NameLength, 11017);
    ReadAcross(variable + h.NameLength, h.ExtraLength, 11019);
    ReadAcross(variable + h.NameLength + h.ExtraLength, h.CommentLength, 11022);
    if (i == 0) centralStart = call.JoinedSize;
    auto [first, last] = call.Records.FindSpanRecord(h.DiskStart, h.LocalHeaderOffset);
    if (first == last || !first->Met) throw EMarlin(11026, true);
    h.LocalHeaderOffset = first->LocalHeaderOffset;
    h.DiskStart = 0;
    h.Encode(raw);
    WriteJoined(buf, int64_t(CentralFileHeader::Size) + h.VariableLength(), 11029);
  }
  if (centralStart > 0xFFFFFFFFLL) throw EMarlin(11101, true);

  NextVolumeIfAtEnd(11011);
  ReadAcross(buf, EndOfCentralDir::Size, 11011);
  if (GetLE32(raw) != zipsig::EndOfCentral) throw EMarlin(11011, true);
  ReadAcross(buf + EndOfCentralDir::Size, e.ArchiveCommentLength, 11023);
  EndOfCentralDir end = e;
  end.DiskNumber = 0;
  end.CentralStartDisk = 0;
  // All entries are on the one volume now; a set's last volume counts only its own.
  end.EntriesOnDisk = e.EntriesTotal;
  end.CentralDirStart = uint32_t(centralStart);
  end.Encode(raw);
  WriteJoined(buf, int64_t(EndOfCentralDir::Size) + e.ArchiveCommentLength, 11030);
  if (!call.Out.Flush()) throw EMarlin(11010, true);

  StampFileTime(fWriteHandle, fSetDateTime);
  const std::string joined = NameJoinedFile(folder.empty() ? "./" : folder);
  fWriteHandle.Close();
  if (finalName.empty()) {
    outFileName = joined;
    call.JoinedName.clear();
    return;
  }
  if (::stat(finalName.c_str(), &st) == 0) {
    if (std::find(call.VolumesRead.begin(), call.VolumesRead.end(), std::pair(st.st_dev, st.st_ino)) !=
        call.VolumesRead.end())
      throw EMarlin(11104, true);
    if (InTheWay(finalName)) throw EMarlin(11107, finalName);
    RemoveFile(finalName, fHowToDelete);
  }
  if (::rename(joined.c_str(), finalName.c_str()) != 0) throw EMarlin(11009, true);
  call.JoinedName.clear();
  outFileName = finalName;
}

void TMarlin::OpenSetVolume(int n) {
  SpanCall& call = *span_;
  OpenVolume(n);
  struct stat st {};
  if (::fstat(fReadHandle.Fd(), &st) == 0) call.VolumesRead.emplace_back(st.st_dev, st.st_ino);
  call.In.Attach(fReadHandle);
  if (n >= 0 && size_t(n) < call.VolumeSizes.size()) call.VolumeSizes[size_t(n)] = call.In.Size();
}

void TMarlin::OpenNextSetVolume(int errId) {
  OpenSetVolume(fCurrentDiskNo + 1);
  // A volume that gives nothing cannot continue anything: stop rather than look further.
  if (span_->In.Size() == 0) throw EMarlin(errId, true);
}

void TMarlin::NextVolumeIfAtEnd(int errId) {
  // What starts exactly at the end of a volume starts the next one.
  SpanInput& in = span_->In;
  while (fCurrentDiskNo < fLastDiskNo && in.Position() >= in.Size()) OpenNextSetVolume(errId);
}

void TMarlin::ReadAcross(void* buffer, size_t len, int errId) {
  SpanInput& in = span_->In;
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < len) {
    const int64_t got = in.Read(p + done, len - done);
    if (got < 0) throw EMarlin(errId, true);
    done += size_t(got);
    if (done == len) break;
    // Only the end of a volume with another one to come lets a read go on.
    if (fCurrentDiskNo >= fLastDiskNo || in.Position() < in.Size()) throw EMarlin(errId, true);
    OpenNextSetVolume(errId);
  }
}

void TMarlin::SkipAcross(int64_t len, int errId) {
  SpanInput& in = span_->In;
  while (len > 0) {
    const int64_t left = in.Size() - in.Position();
    if (len <= left) {
      if (!in.Seek(in.Position() + len)) throw EMarlin(errId, true);
      return;
    }
    if (fCurrentDiskNo >= fLastDiskNo) throw EMarlin(errId, true);
    len -= std::max<int64_t>(0, left);
    OpenNextSetVolume(errId);
  }
}

void TMarlin::CopyFromVolumes(int64_t len, int errId) {
  SpanCall& call = *span_;
  while (len > 0) {
    ProcessEvents();
    if (fCancelRequested) throw EMarlin(11007, false);
    NextVolumeIfAtEnd(errId);
    const int64_t left = call.In.Size() - call.In.Position();
    if (left <= 0) throw EMarlin(errId, true);
    const int64_t n = std::min({len, left, int64_t(call.Buffer.size())});
    switch (CopyBytes(call.In, call.Out, n, call)) {
      case CopyResult::ShortRead: throw EMarlin(errId, true);
      case CopyResult::WriteFailed: throw EMarlin(11010, true);
      case CopyResult::Ok: break;
    }
    call.JoinedSize += n;
    if (OnProgress && fSpanProgress) OnProgress(this, ProgressType::ProgrUpdate, "", n);
    len -= n;
  }
}

void TMarlin::WriteJoined(const void* buffer, int64_t len, int errId) {
  if (len <= 0) return;
  if (!span_->Out.Write(buffer, size_t(len))) throw EMarlin(errId, true);
  span_->JoinedSize += len;
  if (OnProgress && fSpanProgress) OnProgress(this, ProgressType::ProgrUpdate, "", len);
}
