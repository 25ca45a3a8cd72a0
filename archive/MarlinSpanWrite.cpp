// Splitting a finished single-file archive onto the volumes of a multi-volume set: the
// bytes in their order, cut where a volume is full, header groups always kept whole,
// disk numbers and offsets rewritten in the directory and the end record.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <optional>

#include "MarlinMessages.h"
#include "MarlinSpan.h"
#include "TMarlin.h"

using namespace span;

namespace {

constexpr int kMaxVolumes = 999;  // three digits in names and labels

// backup.zip and "001" give backup001.zip: the digits go where the reader looks for them.
std::string NumberedName(const std::string& name, const std::string& digits) {
  const size_t slash = name.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  // A leading dot starts a hidden name, not an extension.
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) dot = name.size();
  return name.substr(0, dot) + digits + name.substr(dot);
}

// The volume number a set label carries, 1 when it carries none.
int LabelNumber(const std::string& label) {
  if (label.size() < 11) return 1;
  const std::string digits = label.substr(8, 3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return 1;
  return std::stoi(digits);
}

std::string DisplayName(const char* raw, size_t length) {
  std::string name(raw, length);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

}  // namespace

int TMarlin::WriteSpan(const std::string& inFileName, const std::string& outFileName) {
  SpanCall call;
  span_ = &call;
  fKilnBusy = true;
  fDriveRoot = volumes_->DriveRootOf(AbsolutePath(outFileName));
  fCurrentDiskNo = 0;
  fVolumeFreeBytes = 0;
  fNewDiskRequested = true;
  fBytesOnVolume = 0;
  fReadName = inFileName;
  fWriteName = outFileName;
  fWriteHandle.Close();
  fSpanProgress = false;

  Trapped failure;
  {
    BusyCursor busy(*this);
    if (fVerbose && OnMessage)
      OnMessage(this, 0, "Now creating spanning chunks from " + inFileName + " to " + outFileName);
    failure = Trap([&] { SplitOntoVolumes(); });
    if (OnProgress) OnProgress(this, ProgressType::ProgrEndOfBatch, "", 0);
    if (!failure.Failed()) {
      CloseVolume();
    } else {
      // An unfinished set is of no use: take back every volume file still in reach. Disks
      // already taken out of a removable drive are beyond it.
      const bool wasOpen = fWriteHandle.IsOpen();
      call.Out.Discard();
      CloseVolume();
      if (!call.HardDiskVolumes.empty()) {
        for (const std::string& name : call.HardDiskVolumes) ::unlink(name.c_str());
      } else if (wasOpen && !call.OpenVolumeName.empty()) {
        ::unlink(call.OpenVolumeName.c_str());
      }
    }
    fReadHandle.Close();
  }

  const int result = ReportTrapped(failure, 11024);
  fKilnBusy = false;
  span_ = nullptr;
  return result;
}

void TMarlin::SplitOntoVolumes() {
  SpanCall& call = *span_;
  call.Buffer.resize(SpanCall::kBufferSize);
  struct stat st {};
  if (::stat(fReadName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) throw EMarlin(11001, true);
  // The set's name must name a file: the volume names are made from it.
  if (fWriteName.empty() || fWriteName.back() == '/' || DirExists(fWriteName)) throw EMarlin(11009, true);
  EndOfCentralDir e;
  OpenEOC(e, true);
  if (::fstat(fReadHandle.Fd(), &st) == 0) {
    call.SourceDev = st.st_dev;
    call.SourceIno = st.st_ino;
  }
  fSetDateTime = FileTime(fReadHandle);

  // Where each local header lies and how much data it has, from the directory: a header
  // that leaves its sizes to a data descriptor says 0.
  const CentralDirLocation& dir = fCentralDir;
  if (dir.Zip64Bytes > 0) throw EMarlin(11101, true);
  const int64_t dirStart = int64_t(fEOCDOffset) - int64_t(e.CentralDirSize);
  if (dirStart < 0 || fReadHandle.Seek(dirStart, SEEK_SET) < 0) throw EMarlin(11008, true);
  {
    BufferedReader reader(fReadHandle);
    call.Records.Reserve(size_t(std::min<uint64_t>(e.EntriesTotal, fLogicalSize / CentralFileHeader::Size + 1)));
    uint8_t raw[CentralFileHeader::Size];
    for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
      if (reader.Read(raw, sizeof raw) < sizeof raw) throw EMarlin(11013, true);
      const CentralFileHeader h = CentralFileHeader::Decode(raw);
      if (h.Signature != zipsig::Central) throw EMarlin(11015, true);
      if (h.PackedSize == 0xFFFFFFFFu || h.UnpackedSize == 0xFFFFFFFFu || h.LocalHeaderOffset == 0xFFFFFFFFu ||
          h.DiskStart == 0xFFFF)
        throw EMarlin(11101, true);
      call.Records.Add(0, h.LocalHeaderOffset, h.PackedSize, h.Crc32);
      if (!reader.Skip(h.VariableLength())) throw EMarlin(11008, true);
    }
    call.Records.Seal();
  }
  if (fReadHandle.Seek(0, SEEK_SET) != 0) throw EMarlin(11008, true);
  call.In.Attach(fReadHandle);

  uint8_t marker[4];
  PutLE32(marker, zipsig::SpanMarker);
  WriteToVolume(marker, sizeof marker, sizeof marker);  // opens volume 0
  fSpanProgress = true;
  if (OnProgress) {
    OnProgress(this, ProgressType::ProgrTotalFiles, "", e.EntriesTotal);
    OnProgress(this, ProgressType::ProgrTotalSize, "", int64_t(fLogicalSize));
  }

  char* buf = call.Buffer.data();
  auto readSource = [&](char* to, size_t n, int errId) {
    if (n > 0 && call.In.Read(to, n) != int64_t(n)) throw EMarlin(errId, true);
  };
  const std::string copying = LoadMessageText(10105, "Copying: ");

  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    const int64_t at = call.In.Position();
    readSource(buf, LocalFileHeader::Size, 11012);
    const LocalFileHeader lh = LocalFileHeader::Decode(reinterpret_cast<const uint8_t*>(buf));
    if (lh.Signature != zipsig::Local) throw EMarlin(11014, true);
    readSource(buf + LocalFileHeader::Size, lh.NameLength, 11016);
    readSource(buf + LocalFileHeader::Size + lh.NameLength, lh.ExtraLength, 11018);
    // Sizes that only a Zip64 record in the local header holds cannot be copied here.
    if (lh.PackedSize == 0xFFFFFFFFu || lh.UnpackedSize == 0xFFFFFFFFu ||
        (lh.HasDataDescriptor() &&
         HasZip64Extra(reinterpret_cast<const uint8_t*>(buf) + LocalFileHeader::Size + lh.NameLength, lh.ExtraLength)))
      throw EMarlin(11101, true);
    if (at > 0xFFFFFFFFLL) throw EMarlin(11101, true);
    auto [first, last] = call.Records.FindSpanRecord(0, uint32_t(at));
    uint32_t packed = lh.PackedSize;
    if (lh.HasDataDescriptor() && packed == 0) {
      if (first == last) throw EMarlin(11026, true);
      packed = first->PackedSize;
    }

    const std::string name = DisplayName(buf + LocalFileHeader::Size, lh.NameLength);
    if (OnMessage) OnMessage(this, 0, copying + name);
    const int64_t group = int64_t(LocalFileHeader::Size) + lh.NameLength + lh.ExtraLength;
    if (OnProgress)
      OnProgress(this, ProgressType::ProgrNewFile, name,
                 group + packed + (lh.HasDataDescriptor() ? int64_t(DataDescriptor::Size) : 0));
    WriteToVolume(buf, group, group);
    const int64_t writtenAt = fBytesOnVolume - group;
    if (writtenAt > 0xFFFFFFFFLL) throw EMarlin(11101, true);
    for (SpanRecord* r = first; r != last; ++r) {
      r->DiskStart = uint16_t(fCurrentDiskNo);
      r->LocalHeaderOffset = uint32_t(writtenAt);
      r->Met = true;
    }
    CopyToVolumes(packed, 11021);
    if (lh.HasDataDescriptor()) {
      // With or without its signature: the CRC that follows tells which.
      const int64_t got = call.In.Read(buf, DataDescriptor::Size);
      const size_t length = got < 12 ? 0
                                     : DataDescriptorLength(reinterpret_cast<const uint8_t*>(buf), size_t(got),
                                                            first != last ? first->Crc32 : lh.Crc32);
      if (length == 0) throw EMarlin(11020, true);
      if (!call.In.Seek(call.In.Position() - (got - int64_t(length)))) throw EMarlin(11008, true);
      WriteToVolume(buf, int64_t(length), 0);
    }
  }

  if (OnMessage) OnMessage(this, 0, copying + "Central directory");
  if (OnProgress)
    OnProgress(this, ProgressType::ProgrNewFile, "Central directory",
               int64_t(e.CentralDirSize) + int64_t(EndOfCentralDir::Size) + e.ArchiveCommentLength);
  int startDisk = fCurrentDiskNo;
  int64_t startOffset = 0;
  for (uint32_t i = 0; i < e.EntriesTotal; ++i) {
    readSource(buf, CentralFileHeader::Size, 11013);
    CentralFileHeader h = CentralFileHeader::Decode(reinterpret_cast<const uint8_t*>(buf));
    if (h.Signature != zipsig::Central) throw EMarlin(11015, true);
    char* variable = buf + CentralFileHeader::Size;
    readSource(variable, h.NameLength, 11017);
    readSource(variable + h.NameLength, h.ExtraLength, 11019);
    readSource(variable + h.NameLength + h.ExtraLength, h.CommentLength, 11022);
    auto [first, last] = call.Records.FindSpanRecord(0, h.LocalHeaderOffset);
    if (first == last || !first->Met) throw EMarlin(11026, true);
    h.DiskStart = first->DiskStart;
    h.LocalHeaderOffset = first->LocalHeaderOffset;
    h.Encode(reinterpret_cast<uint8_t*>(buf));
    const int64_t group = int64_t(CentralFileHeader::Size) + h.VariableLength();
    WriteToVolume(buf, group, group);
    if (i == 0) {
      startDisk = fCurrentDiskNo;
      startOffset = fBytesOnVolume - group;
    }
    if (call.DirectoryDisk != fCurrentDiskNo) {
      call.DirectoryDisk = fCurrentDiskNo;
      call.DirectoryEntriesOnDisk = 0;
    }
    ++call.DirectoryEntriesOnDisk;
  }

  // The source's own end record follows its directory; its comment is copied as it stands.
  readSource(buf, EndOfCentralDir::Size, 11011);
  if (GetLE32(reinterpret_cast<const uint8_t*>(buf)) != zipsig::EndOfCentral) throw EMarlin(11011, true);
  readSource(buf + EndOfCentralDir::Size, e.ArchiveCommentLength, 11023);
  const int64_t group = int64_t(EndOfCentralDir::Size) + e.ArchiveCommentLength;
  // The volume the record lands on is its disk number, so place it before filling it in.
  PrepareVolume(group);
  EndOfCentralDir end = e;
  end.DiskNumber = uint16_t(fCurrentDiskNo);
  end.CentralStartDisk = uint16_t(startDisk);
  end.CentralDirStart = uint32_t(startOffset);
  end.EntriesOnDisk = uint16_t(call.DirectoryDisk == fCurrentDiskNo ? call.DirectoryEntriesOnDisk : 0);
  end.Encode(reinterpret_cast<uint8_t*>(buf));
  WriteToVolume(buf, group, group);
  if (!call.Out.Flush()) throw EMarlin(11010, true);
  fSpanProgress = false;
}

void TMarlin::WriteToVolume(const void* buffer, int64_t len, int64_t minFit) {
  PrepareVolume(minFit);
  const char* p = static_cast<const char*>(buffer);
  for (;;) {
    if (!fWriteHandle.IsOpen()) OpenNextVolume();
    const int64_t n = std::min(len, std::max<int64_t>(0, fVolumeFreeBytes));
    if (n > 0) {
      if (!span_->Out.Write(p, size_t(n))) throw EMarlin(11010, true);
      fBytesOnVolume += n;
      fVolumeFreeBytes -= n;
      if (OnProgress && fSpanProgress) OnProgress(this, ProgressType::ProgrUpdate, "", n);
    }
    if (n == len) return;
    p += n;
    len -= n;
    AdvanceVolume();
  }
}

void TMarlin::CopyToVolumes(int64_t len, int errId) {
  SpanCall& call = *span_;
  while (len > 0) {
    PrepareVolume(0);
    if (fVolumeFreeBytes <= 0) {
      AdvanceVolume();
      continue;
    }
    const int64_t n = std::min({len, int64_t(call.Buffer.size()), fVolumeFreeBytes});
    switch (CopyBytes(call.In, call.Out, n, call)) {
      case CopyResult::ShortRead: throw EMarlin(errId, true);
      case CopyResult::WriteFailed: throw EMarlin(11010, true);
      case CopyResult::Ok: break;
    }
    fBytesOnVolume += n;
    fVolumeFreeBytes -= n;
    if (OnProgress && fSpanProgress) OnProgress(this, ProgressType::ProgrUpdate, "", n);
    len -= n;
  }
}

void TMarlin::PrepareVolume(int64_t minFit) {
  ProcessEvents();
  if (fCancelRequested) throw EMarlin(11007, false);
  for (;;) {
    if (!fWriteHandle.IsOpen()) OpenNextVolume();
    if (minFit <= 0 || minFit <= fVolumeFreeBytes) return;
    // Moving on cannot help when nothing has been written here yet: the next volume
    // would offer no more room, and the set would never end.
    if (fBytesOnVolume == 0) throw EMarlin(11102, true);
    AdvanceVolume();
  }
}

bool TMarlin::CloseVolume() {
  if (!fWriteHandle.IsOpen()) return true;
  const bool written = span_->Out.Flush();
  StampFileTime(fWriteHandle, fSetDateTime);
  fWriteHandle.Close();
  return written;
}

void TMarlin::AdvanceVolume() {
  if (!CloseVolume()) throw EMarlin(11010, true);
  fVolumeFreeBytes = 0;
  fBytesOnVolume = 0;
  if (fCurrentDiskNo + 1 >= kMaxVolumes) throw EMarlin(11103, true);
  ++fCurrentDiskNo;
  fNewDiskRequested = true;
}

void TMarlin::OpenNextVolume() {
  SpanCall& call = *span_;
  auto ask = [&](const std::string& text) {
    if (!ui_) return boxresult::None;
    // No is the default: overwriting is never what a stray Enter should do.
    return ui_->ShowBox(BoxRequest{text, "Confirm", BoxButtons::YesNoCancel, BoxIcon::Warning, 1});
  };

  for (;;) {
    const DriveKind kind = AskForDisk();
    const bool hardDisk = IsHardDisk(kind);
    if (!hardDisk && fAddOptions.Contains(AddOptsEnum::AddDiskSpanErase)) {
      fVolumeLabel = kSetLabelPrefix + VolumeNumberText();
      const int formatted = FormatVolume();
      if (formatted == -2) throw EMarlin(11007, false);
      if (formatted == -1) throw EMarlin(11007, true);
    }
    // After the format: a freshly formatted disk may be mounted under a new path.
    const std::string name = hardDisk ? NumberedName(fWriteName, VolumeNumberText()) : fWriteName;

    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
      if (st.st_dev == call.SourceDev && st.st_ino == call.SourceIno) throw EMarlin(11104, true);
      // On a hard disk nobody could change the answer by swapping a disk: say what is in
      // the way instead of blaming the missing user.
      if (fUnattended) throw hardDisk ? EMarlin(11039, name) : EMarlin(11025, true);
      // On a hard disk every volume has a file of its own, so an existing one is never
      // an earlier volume of this set.
      const int labelNo = hardDisk ? fCurrentDiskNo + 1 : LabelNumber(fVolumeLabel);
      std::string text;
      if (DosFileTime(st.st_mtim) == DosFileTime(fSetDateTime) && labelNo - 1 < fCurrentDiskNo)
        text = FormatMessageText(LoadMessageText(11040, "Overwrite previous disk no %d"), {std::to_string(labelNo)});
      else
        text = FormatMessageText(LoadMessageText(11039, "Overwrite previous file %s"), {name});
      const int answer = ask(text);
      if (answer == boxresult::None || answer == boxresult::Cancel) throw EMarlin(11007, false);
      if (answer == boxresult::No) {
        fBytesOnVolume = 0;
        fNewDiskRequested = true;
        continue;
      }
    }

    if (!fWriteHandle.Create(name)) throw EMarlin(11009, true);
    call.Out.Attach(fWriteHandle);
    call.OpenVolumeName = name;
    if (hardDisk) call.HardDiskVolumes.push_back(name);

    QueryDiskSpace(DiskSpaceWanted::Free);
    // On a hard disk the minimum is about the file system's room, not about the volume
    // size asked for, and no retry can bring more of it.
    const int64_t room = fVolumeFreeBytes - (fCurrentDiskNo == 0 ? fKeepFreeOnDisk1 : 0);
    if (fMaxVolumeSize > 0 && fMaxVolumeSize < fVolumeFreeBytes) fVolumeFreeBytes = fMaxVolumeSize;
    if (fCurrentDiskNo == 0) fVolumeFreeBytes -= fKeepFreeOnDisk1;
    // A volume that cannot take a single byte is refused even when no minimum is set.
    const bool tooSmall = fVolumeFreeBytes <= 0 || fMinFreeVolumeSize > (hardDisk ? room : fVolumeFreeBytes);
    if (tooSmall) {
      fWriteHandle.Close();
      ::unlink(name.c_str());
      if (hardDisk) call.HardDiskVolumes.pop_back();
      if (hardDisk) throw EMarlin(11032, true);
      if (fUnattended) throw EMarlin(11025, true);
      const int answer =
          ShowBox(LoadMessageText(11032, "This disk has not enough free space available"), BoxButtons::RetryCancel,
                  BoxIcon::Stop);
      if (answer == boxresult::None) throw EMarlin(11006, true);
      if (answer != boxresult::Retry) throw EMarlin(11007, false);
      fBytesOnVolume = 0;
      fNewDiskRequested = true;
      continue;
    }

    if (!hardDisk) {
      fVolumeLabel = kSetLabelPrefix + VolumeNumberText();
      if (!volumes_->SetLabel(fDriveRoot, fVolumeLabel)) throw EMarlin(11005, true);
    }
    return;
  }
}
