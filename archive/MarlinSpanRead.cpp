// Joining the volumes of a multi-volume set into one plain archive: find the last
// volume, read the directory, then copy every entry and the directory from volume 1 on.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
      // The partial file is this call's own, never the user's: it goes for good.
      fWriteHandle.Close();
      if (!call.JoinedName.empty()) {
        ::unlink(call.JoinedName.c_str());
        outFileName.clear();
      }
    }
  }

  const int result = ReportTrapped(failure, 11024);
  fSluiceBusy = false;
  span_ = nullptr;
  return result;
}

void TMarlin::JoinVolumes(std::string& outFileName) {
  SpanCall& call = *span_;
  call.Buffer.resize(SpanCall::kBufferSize);

  // The joined file is written under a new unique name and, when a file name was asked
  // for, renamed to it only once complete: a failure never leaves a partial file under
  // the asked name, nor takes away a file that was there.
  std::string folder, finalName;
  if (outFileName.empty() || outFileName.back() == '/' || DirExists(outFileName)) {
    folder = outFileName.empty() ? TempFolder() : outFileName;
    if (folder.back() != '/') folder += '/';
  } else {
    finalName = WithZipExtension(outFileName);
    folder = finalName.substr(0, NameStart(finalName));
  }
  std::string joined = folder + "zipXXXXXX.zip";
  const int fd = ::mkstemps(joined.data(), 4);
  if (fd < 0) throw EMarlin(finalName.empty() ? 11027 : 11009, true);
  call.JoinedName = joined;
  if (!finalName.empty()) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  ::close(fd);
  if (!fWriteHandle.OpenReadWrite(joined)) throw EMarlin(11009, true);

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
  if (e.CentralStartDisk != e.DiskNumber) OpenSetVolume(e.CentralStartDisk);
  if (fReadHandle.Seek(e.CentralDirStart, SEEK_SET) < 0) throw EMarlin(11008, true);

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
    call.Records.Add(h.DiskStart, h.LocalHeaderOffset, h.PackedSize);
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
  if (fReadHandle.Read(buf, 4) != 4 || GetLE32(raw) != zipsig::SpanMarker) throw EMarlin(11031, true);

  const std::string copying = LoadMessageText(10105, "Copying: ");
  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    NextVolumeIfAtEnd();
    const int disk = fCurrentDiskNo;
    const int64_t at = fReadHandle.Position();
    ReadAcross(buf, LocalFileHeader::Size, 11012);
    const LocalFileHeader lh = LocalFileHeader::Decode(raw);
    if (lh.Signature != zipsig::Local) throw EMarlin(11014, true);
    ReadAcross(buf + LocalFileHeader::Size, lh.NameLength, 11016);
    auto [first, last] = call.Records.FindSpanRecord(uint16_t(disk), uint32_t(at));
    if (at > 0xFFFFFFFFLL || first == last) throw EMarlin(11026, true);
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
    WriteJoined(buf, int64_t(LocalFileHeader::Size) + lh.NameLength, 11028);
    CopyFromVolumes(lh.ExtraLength, 11018);
    // Writers that leave the sizes to a data descriptor put 0 in the local header.
    CopyFromVolumes(lh.PackedSize != 0 ? lh.PackedSize : first->PackedSize, 11021);
    if (lh.HasDataDescriptor()) CopyFromVolumes(DataDescriptor::Size, 11020);
  }
  fSpanProgress = false;

  // The directory follows the last entry's data.
  int64_t centralStart = call.JoinedSize;
  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    NextVolumeIfAtEnd();
    ReadAcross(buf, CentralFileHeader::Size, 11013);
    CentralFileHeader h = CentralFileHeader::Decode(raw);
    if (h.Signature != zipsig::Central) throw EMarlin(11015, true);
    ReadAcross(buf + CentralFileHeader::Size, h.NameLength, 11017);
    if (i == 0) centralStart = call.JoinedSize;
    auto [first, last] = call.Records.FindSpanRecord(h.DiskStart, h.LocalHeaderOffset);
    if (first == last || !first->Met) throw EMarlin(11026, true);
    h.LocalHeaderOffset = first->LocalHeaderOffset;
    h.DiskStart = 0;
    h.Encode(raw);
    WriteJoined(buf, int64_t(CentralFileHeader::Size) + h.NameLength, 11029);
    CopyFromVolumes(h.ExtraLength, 11019);
    CopyFromVolumes(h.CommentLength, 11022);
  }
  if (centralStart > 0xFFFFFFFFLL) throw EMarlin(11101, true);

  NextVolumeIfAtEnd();
  ReadAcross(buf, EndOfCentralDir::Size, 11011);
  if (GetLE32(raw) != zipsig::EndOfCentral) throw EMarlin(11011, true);
  EndOfCentralDir end = e;
  end.DiskNumber = 0;
  end.CentralStartDisk = 0;
  // All entries are on the one volume now; a set's last volume counts only its own.
  end.EntriesOnDisk = e.EntriesTotal;
  end.CentralDirStart = uint32_t(centralStart);
  end.Encode(raw);
  WriteJoined(buf, EndOfCentralDir::Size, 11030);
  CopyFromVolumes(e.ArchiveCommentLength, 11023);

  StampFileTime(fWriteHandle, fSetDateTime);
  fWriteHandle.Close();
  if (finalName.empty()) {
    outFileName = joined;
    return;
  }
  if (::stat(finalName.c_str(), &st) == 0) {
    if (std::find(call.VolumesRead.begin(), call.VolumesRead.end(), std::pair(st.st_dev, st.st_ino)) !=
        call.VolumesRead.end())
      throw EMarlin(11104, true);
    RemoveFile(finalName, fHowToDelete);
  }
  if (::rename(joined.c_str(), finalName.c_str()) != 0) throw EMarlin(11009, true);
  call.JoinedName.clear();
  outFileName = finalName;
}

void TMarlin::OpenSetVolume(int n) {
  OpenVolume(n);
  struct stat st {};
  if (::fstat(fReadHandle.Fd(), &st) == 0) span_->VolumesRead.emplace_back(st.st_dev, st.st_ino);
}

void TMarlin::NextVolumeIfAtEnd() {
  // What starts exactly at the end of a volume starts the next one.
  while (fCurrentDiskNo < fLastDiskNo && fReadHandle.Position() >= fReadHandle.Size()) OpenSetVolume(fCurrentDiskNo + 1);
}

void TMarlin::ReadAcross(void* buffer, size_t len, int errId) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < len) {
    const int64_t got = fReadHandle.Read(p + done, len - done);
    if (got < 0) throw EMarlin(errId, true);
    done += size_t(got);
    if (done == len) break;
    // Only the end of a volume with another one to come lets a read go on.
    if (fCurrentDiskNo >= fLastDiskNo || fReadHandle.Position() < fReadHandle.Size()) throw EMarlin(errId, true);
    OpenSetVolume(fCurrentDiskNo + 1);
  }
}

void TMarlin::SkipAcross(int64_t len, int errId) {
  while (len > 0) {
    const int64_t left = fReadHandle.Size() - fReadHandle.Position();
    if (len <= left) {
      if (fReadHandle.Seek(len, SEEK_CUR) < 0) throw EMarlin(errId, true);
      return;
    }
    if (fCurrentDiskNo >= fLastDiskNo) throw EMarlin(errId, true);
    len -= std::max<int64_t>(0, left);
    OpenSetVolume(fCurrentDiskNo + 1);
  }
}

void TMarlin::CopyFromVolumes(int64_t len, int errId) {
  SpanCall& call = *span_;
  while (len > 0) {
    ProcessEvents();
    if (fCancelRequested) throw EMarlin(11007, false);
    NextVolumeIfAtEnd();
    const int64_t left = fReadHandle.Size() - fReadHandle.Position();
    if (left <= 0) throw EMarlin(errId, true);
    const int64_t n = std::min({len, left, int64_t(call.Buffer.size())});
    switch (CopyBytes(fReadHandle, fWriteHandle, n, call)) {
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
  if (fWriteHandle.Write(buffer, size_t(len)) != len) throw EMarlin(errId, true);
  span_->JoinedSize += len;
  if (OnProgress && fSpanProgress) OnProgress(this, ProgressType::ProgrUpdate, "", len);
}
