// Reading an archive's directory: the end record, the central headers, and the text of
// names and comments.

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <span>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <unordered_map>

#include "EntryTexts.h"
#include "TMarlin.h"

namespace {

constexpr size_t kEndSearchWindow = 65557;  // end record plus the longest comment
constexpr int kMaxSetVolumes = 999;         // three digits in names and labels

bool IsFile(const std::string& name) {
  struct stat st {};
  // Only a regular file: opening a pipe or a device to read would wait or never end.
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string AbsolutePath(const std::string& name) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(name, ec);
  return ec ? name : p.lexically_normal().string();
}

}  // namespace

bool TMarlin::InCodePage(int host, int version) const {
  // HPFS and NTFS under version 5.0 store the OEM code page whatever the setting.
  return fCodePage != CodePageOpts::cpNone || host == 6 || (host == 11 && version == 50);
}

entrynames::NameDecoder& TMarlin::Decoder() const {
  if (!fNameDecoder || fNameDecoder->CodePage() != fArchiveCodePage)
    fNameDecoder = std::make_unique<entrynames::NameDecoder>(fArchiveCodePage);
  return *fNameDecoder;
}

std::string TMarlin::DecodeEntryText(std::string_view raw, bool utf8Flag) const {
  if (utf8Flag || entrynames::IsAscii(raw) || !InCodePage(fHostSystem, fSpecVersion)) return std::string(raw);
  return Decoder().Decode(raw);
}

std::string TMarlin::ArchiveComment() const { return DecodeEntryText(fArchiveComment); }

void TMarlin::List() {
  if (designing_) return;
  ClearContents();
  fPhysicalSize = 0;
  fCentralDirOffset = 0;
  fPrefixSize = 0;
  fArchiveComment.clear();
  fIsSpanned = false;
  fArchiveCodePage = fNameCodePage != 0 ? fNameCodePage : entrynames::kDefaultCodePage;
  fTextsInCodePage = 0;
  if (!IsFile(fZipFilename)) {
    if (OnDirUpdate) OnDirUpdate(this);
    return;
  }

  uint64_t offset = 0;
  Trapped failure;
  {
    BusyCursor busy(*this);
    failure = Trap([&] {
      fReadName = fZipFilename;
      fDriveRoot = volumes_->DriveRootOf(AbsolutePath(fReadName));
      if (!CheckDrive()) throw EMarlin(11004, fDriveRoot);
      EndOfCentralDir e;
      OpenEOC(e, true);
      const CentralDirLocation& dir = fCentralDir;
      // Volume numbers have three digits: a larger one is damage, and would otherwise
      // send the reader after volumes that cannot exist.
      if (dir.DiskNumber >= uint32_t(kMaxSetVolumes) || dir.CentralStartDisk >= uint32_t(kMaxSetVolumes))
        throw EMarlin(11103, true);
      fLastDiskNo = int(dir.DiskNumber);
      if (fLastDiskNo > 0) fIsSpanned = true;

      if (dir.CentralStartDisk != dir.DiskNumber) {
        // The directory starts on an earlier volume, at its stored offset.
        OpenVolume(int(dir.CentralStartDisk));
        fLogicalSize = uint64_t(std::max<int64_t>(0, fReadHandle.Size()));
        offset = dir.CentralDirStart;
      } else {
        fCurrentDiskNo = int(dir.DiskNumber);
        // The directory ends where the end records begin.
        const uint64_t end = fEOCDOffset - dir.Zip64Bytes;
        if (dir.CentralDirSize > end) throw EMarlin(10201, true);
        offset = end - dir.CentralDirSize;
      }
      fCentralDirOffset = offset;
      // With no entries the zip data is only the directory itself, wherever it starts.
      fPrefixSize = dir.EntriesTotal == 0 ? dir.CentralDirStart : fLogicalSize;
      fOffsetMismatch = dir.CentralDirStart != offset;
      // An empty archive behind a prefix stores 0, counted from its end records: the form
      // other writers give it, not damage.
      if (fOffsetMismatch && !(dir.EntriesTotal == 0 && dir.CentralDirStart == 0)) ReportMessage(10203);
      if (offset > uint64_t(INT64_MAX) || fReadHandle.Seek(int64_t(offset), SEEK_SET) < 0) throw EMarlin(10201, true);
      ReadCentralDirectory();
      fLastDiskNo = int(dir.DiskNumber);
    });
  }
  fReadHandle.Close();

  ReportTrapped(failure, 10202);
  if (failure.Failed()) {
    fZipFilename.clear();
    fPrefixSize = 0;
  } else {
    // Stored offsets may count from the start of the file or from the end of a prefix.
    // A stored directory offset beyond where the directory lies leaves no room for a
    // prefix at all.
    if (fCentralDir.CentralDirStart > fPrefixSize + offset) {
      fPrefixSize = 0;
      fOffsetMismatch = true;
    } else {
      fPrefixSize = fPrefixSize + offset - fCentralDir.CentralDirStart;
    }
  }
  if (OnDirUpdate) OnDirUpdate(this);
}

void TMarlin::ReadCentralDirectory() {
  const CentralDirLocation dir = fCentralDir;
  BufferedReader reader(fReadHandle);
  // Every entry takes at least a header's worth of the file: never reserve more. The
  // names fit in what the directory holds besides the headers.
  const uint64_t entries = std::min<uint64_t>(dir.EntriesTotal, fLogicalSize / CentralFileHeader::Size + 1);
  const uint64_t headers = entries * CentralFileHeader::Size;
  fContents.reserve(size_t(entries),
                    size_t(std::min<uint64_t>(dir.CentralDirSize > headers ? dir.CentralDirSize - headers : 0,
                                              fLogicalSize)));

  // Texts without the UTF-8 flag that only the archive's code page can read: they are
  // judged together once all are in, and kept as stored until then.
  WaitingTexts waiting;
  try {
    ReadCentralHeaders(reader, waiting);
  } catch (...) {
    // The entries read before a failure stay, named as well as they can be.
    try {
      DecodeWaitingTexts(waiting);
    } catch (...) {
    }
    throw;
  }
  DecodeWaitingTexts(waiting);
}

void TMarlin::ReadCentralHeaders(BufferedReader& reader, WaitingTexts& waiting) {
  const CentralDirLocation dir = fCentralDir;
  uint8_t raw[CentralFileHeader::Size];
  std::string name, extra, comment;
  ZipDirEntry fields;
  for (uint64_t n = 0; n < dir.EntriesTotal; ++n) {
    // A directory that runs over the end of a volume goes on at the start of the next;
    // a volume that gives nothing ends the search.
    bool freshVolume = false;
    size_t got;
    while ((got = reader.Read(raw, sizeof raw)) < sizeof raw) {
      if (fCurrentDiskNo >= int64_t(dir.DiskNumber) || (freshVolume && got == 0)) throw EMarlin(11013, true);
      OpenVolume(fCurrentDiskNo + 1);
      reader.Reset();
      freshVolume = true;
    }
    const CentralFileHeader h = CentralFileHeader::Decode(raw);
    if (h.Signature != zipsig::Central) throw EMarlin(11015, true);

    fields.AssignHeader(h);
    name.resize(h.NameLength);
    if (reader.Read(name.data(), name.size()) < name.size()) throw EMarlin(11017, true);
    fSpecVersion = h.SpecVersion;
    fHostSystem = h.HostSystem;
    const bool utf8 = (h.GeneralFlag & 0x0800) != 0;
    const bool inCodePage = !utf8 && InCodePage(h.HostSystem, h.SpecVersion);

    const bool zip64 = h.PackedSize == 0xFFFFFFFFu || h.UnpackedSize == 0xFFFFFFFFu ||
                       h.LocalHeaderOffset == 0xFFFFFFFFu;
    extra.resize(h.ExtraLength);
    if (reader.Read(extra.data(), extra.size()) < extra.size()) throw EMarlin(zip64 ? 11019 : 10201, true);
    const auto* extraBytes = reinterpret_cast<const uint8_t*>(extra.data());
    if (zip64) fields.ApplyZip64Extra(extraBytes, extra.size());

    fields.NameCodePage = utf8 ? uint16_t(entrynames::kUtf8CodePage) : 0;
    const size_t index = fContents.size();
    // A Unicode path field whose CRC matches the stored name wins whatever that name holds:
    // writers put an ASCII stand-in ("?" or "_" for each character their code page lacks)
    // beside the real name there.
    auto unicodeName =
        utf8 ? std::nullopt
             : entrynames::UnicodeFieldText(extraBytes, extra.size(), entrynames::kUnicodePathField, name);
    if (unicodeName) {
      fields.NameCodePage = uint16_t(entrynames::kUtf8CodePage);
      name = std::move(*unicodeName);
    } else if (inCodePage && !entrynames::IsAscii(name)) {
      // In a name that awaits its code page a '\' may be the second byte of a
      // character: which is decided with the code page.
      waiting.Add(waiting.names, index, name);
      name.clear();
    }
    // Archivers on other systems sometimes store '\' as separator.
    std::replace(name.begin(), name.end(), '\\', '/');
    fContents.Append(fields, name);

    if (h.CommentLength > 0) {
      comment.resize(h.CommentLength);
      if (reader.Read(comment.data(), comment.size()) < comment.size()) throw EMarlin(11022, true);
      auto text = utf8 ? std::nullopt
                       : entrynames::UnicodeFieldText(extraBytes, extra.size(), entrynames::kUnicodeCommentField,
                                                      comment);
      if (text) {
        fContents.SetComment(index, std::move(*text));
      } else if (inCodePage && !entrynames::IsAscii(comment)) {
        waiting.Add(waiting.comments, index, comment);
      } else {
        fContents.SetComment(index, comment);
      }
    }
    if (fPrefixSize > fields.LocalHeaderOffset64) fPrefixSize = fields.LocalHeaderOffset64;
  }
}

void TMarlin::DecodeWaitingTexts(const WaitingTexts& waiting) {
  const bool commentWaits = !entrynames::IsAscii(fArchiveComment);
  if (fNameCodePage == 0) {
    const size_t names = waiting.names.size(), comments = waiting.comments.size();
    fArchiveCodePage = entrynames::DetectCodePage(names + comments + (commentWaits ? 1 : 0), [&](size_t i) {
      if (i < names) return waiting.View(waiting.names[i]);
      if (i < names + comments) return waiting.View(waiting.comments[i - names]);
      return std::string_view(fArchiveComment);
    });
  }
  fTextsInCodePage = int(waiting.names.size() + waiting.comments.size()) + (commentWaits ? 1 : 0);
  if (waiting.names.empty() && waiting.comments.empty()) return;
  entrynames::NameDecoder& decoder = Decoder();
  // A character takes at most three bytes of UTF-8 for each byte stored.
  fContents.ReserveMoreText(3 * waiting.bytes.size());
  // Entries share their folders: each folder is read once. '/' is never part of a
  // character in any of the code pages, so the folder ends at the last one.
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  std::unordered_map<std::string, std::string, Hash, std::equal_to<>> folders;
  std::string text;
  for (const WaitingTexts::Text& t : waiting.names) {
    const std::string_view name = waiting.View(t);
    const size_t slash = name.rfind('/');
    text.clear();
    if (slash != std::string::npos) {
      const std::string_view raw = name.substr(0, slash + 1);
      auto folder = folders.find(raw);
      if (folder == folders.end()) {
        folder = folders.emplace(std::string(raw), std::string()).first;
        decoder.DecodeTo(raw, folder->second);
        std::replace(folder->second.begin(), folder->second.end(), '\\', '/');
      }
      text = folder->second;
    }
    const size_t from = text.size();
    decoder.DecodeTo(name.substr(slash == std::string::npos ? 0 : slash + 1), text);
    std::replace(text.begin() + ptrdiff_t(from), text.end(), '\\', '/');
    fContents.SetName(t.index, text);
  }
  for (const WaitingTexts::Text& t : waiting.comments) fContents.SetComment(t.index, decoder.Decode(waiting.View(t)));
}

bool TMarlin::OpenEOC(EndOfCentralDir& e, bool raise) {
  fArchiveComment.clear();
  fEOCDOffset = 0;
  bool firstVolume = false;
  int volumeNumber = 0;

  if (!fReadHandle.OpenRead(fReadName)) {
    if (raise) throw EMarlin(11001, true);
    ReportMessage(11002);
    return false;
  }
  static const std::string kLabelPrefix = "PKBACK# ";
  if (fVolumeLabel.rfind(kLabelPrefix, 0) == 0) {
    const std::string digits = fVolumeLabel.substr(kLabelPrefix.size(), 3);
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      volumeNumber = std::stoi(digits);
  }
  uint8_t sig[8];
  if (fReadHandle.Read(sig, 4) == 4 && GetLE32(sig) == zipsig::SpanMarker && fReadHandle.Read(sig + 4, 4) == 4 &&
      GetLE32(sig + 4) == zipsig::Local) {
    firstVolume = true;
    fIsSpanned = true;
  }

  const int64_t size = fReadHandle.Size();
  fLogicalSize = fPhysicalSize = uint64_t(std::max<int64_t>(0, size));
  uint8_t tail[EndOfCentralDir::Size];
  if (size >= int64_t(EndOfCentralDir::Size) && fReadHandle.Seek(size - 22, SEEK_SET) >= 0 &&
      fReadHandle.Read(tail, sizeof tail) == int64_t(sizeof tail) && GetLE32(tail) == zipsig::EndOfCentral) {
    e = EndOfCentralDir::Decode(tail);
    fEOCDOffset = fLogicalSize - 22;
    ReadZip64End(e);
    return true;
  }

  try {
    const size_t n = size_t(std::min<uint64_t>(kEndSearchWindow, fLogicalSize));
    std::string buffer(n, '\0');
    if (fReadHandle.Seek(int64_t(fLogicalSize - n), SEEK_SET) < 0) throw EMarlin(11008, true);
    if (fReadHandle.Read(buffer.data(), n) < int64_t(n)) throw EMarlin(11011, true);
    const auto* buf = reinterpret_cast<const uint8_t*>(buffer.data());
    for (int64_t i = int64_t(n) - 23; i >= 0; --i) {
      if (buf[i] != 'P' || buf[i + 1] != 'K' || buf[i + 2] != 5 || buf[i + 3] != 6) continue;
      fEOCDOffset = fLogicalSize - n + uint64_t(i);
      e = EndOfCentralDir::Decode(buf + i);
      const int64_t commentStart = i + 22;
      const int64_t missing = commentStart + e.ArchiveCommentLength - int64_t(n);
      if (missing != 0) {
        fLogicalSize = uint64_t(int64_t(fLogicalSize) + missing);
        bool due = true;
        // Zero padding up to a 512-byte boundary is what some copy tools leave behind.
        if (fLogicalSize < fPhysicalSize && fPhysicalSize - fLogicalSize < 512 && fPhysicalSize % 512 == 0) {
          const int64_t padFrom = commentStart + e.ArchiveCommentLength;
          due = !std::all_of(buf + padFrom, buf + n, [](uint8_t b) { return b == 0; });
        }
        if (due) ReportMessage(10204);
      }
      if (e.ArchiveCommentLength != 0) {
        const size_t available = std::min<size_t>(e.ArchiveCommentLength, n - size_t(commentStart));
        const char* start = buffer.data() + commentStart;
        fArchiveComment.assign(start, strnlen(start, available));
      }
      ReadZip64End(e);
      return true;
    }
  } catch (const EMarlin&) {
    if (raise) throw;
  }

  if (!raise) return false;
  if (!firstVolume && volumeNumber != 0) throw EMarlin(11038, volumeNumber);
  if (firstVolume && volumeNumber == 1) throw EMarlin(11037, true);
  if (firstVolume) throw EMarlin(11045, true);
  throw EMarlin(11036, true);
}

void TMarlin::ReadZip64End(const EndOfCentralDir& e) {
  CentralDirLocation& dir = fCentralDir;
  dir = CentralDirLocation{e.DiskNumber, e.CentralStartDisk, e.EntriesTotal, e.CentralDirSize, e.CentralDirStart, 0};
  if (fEOCDOffset < Zip64EndLocator::Size + Zip64EndOfCentralDir::MinSize) return;

  uint8_t raw[Zip64EndOfCentralDir::MinSize];
  Zip64EndLocator locator;
  const uint64_t locatorAt = fEOCDOffset - Zip64EndLocator::Size;
  if (fReadHandle.Seek(int64_t(locatorAt), SEEK_SET) < 0 ||
      fReadHandle.Read(raw, Zip64EndLocator::Size) != int64_t(Zip64EndLocator::Size) ||
      !Zip64EndLocator::Decode(raw, locator))
    return;

  // The record ends where the locator starts; its stored offset may not count from the
  // start of the file when a prefix was put in front of the archive.
  // A record whose size field is wrong is still read, as other readers do: then it is
  // taken as the fixed-size record right in front of the locator.
  Zip64EndOfCentralDir end;
  bool found = false;
  const uint64_t fixedAt = locatorAt - Zip64EndOfCentralDir::MinSize;
  const uint64_t candidates[] = {locator.EndOffset, fixedAt};
  for (const bool strict : {true, false}) {
    for (const uint64_t at : std::span(candidates).subspan(strict ? 0 : 1)) {
      if (at > fixedAt || at > uint64_t(INT64_MAX)) continue;
      if (fReadHandle.Seek(int64_t(at), SEEK_SET) < 0 || fReadHandle.Read(raw, sizeof raw) != int64_t(sizeof raw) ||
          GetLE32(raw) != zipsig::Zip64End)
        continue;
      const bool sized = Zip64EndOfCentralDir::Decode(raw, end) && end.RecordSize <= locatorAt &&
                         at + end.TotalSize() == locatorAt;
      if (strict && !sized) continue;
      dir.Zip64Bytes = fEOCDOffset - at;
      found = true;
      break;
    }
    if (found) break;
  }
  if (!found) return;
  if (e.DiskNumber == 0xFFFF) dir.DiskNumber = end.DiskNumber;
  if (e.CentralStartDisk == 0xFFFF) dir.CentralStartDisk = end.CentralStartDisk;
  if (e.EntriesTotal == 0xFFFF) dir.EntriesTotal = end.EntriesTotal;
  if (e.CentralDirSize == 0xFFFFFFFFu) dir.CentralDirSize = end.CentralDirSize;
  if (e.CentralDirStart == 0xFFFFFFFFu) dir.CentralDirStart = end.CentralDirStart;
}
