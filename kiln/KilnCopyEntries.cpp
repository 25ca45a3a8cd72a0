#include "KilnCopyEntries.h"

#include "KilnArchive.h"
#include "KilnReporter.h"
#include "KilnTypes.h"
#include "FileIo.h"

#include <ZipRecords.h>

#include "EntryTexts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kiln {
using fileio::ReadAt;

namespace {

// Copied in pieces of this size: a cancel is seen soon, and write-back starts early (see Copy).
constexpr uint64_t kCopyStep = 8ull << 20;

}  // namespace

CopyEntries::CopyEntries() = default;
CopyEntries::~CopyEntries() = default;

bool CopyEntries::Plan(const std::string& path, int fd, const std::vector<std::string>& names) {
  path_ = path;
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(EndOfCentralDir::Size)) return false;
  const uint64_t size = static_cast<uint64_t>(st.st_size);

  // Only an end record whose comment reaches the end of the file: anything else is left to libzip.
  const uint64_t tailStart = size > 65557 ? size - 65557 : 0;
  std::vector<uint8_t> tail(size - tailStart);
  if (!ReadAt(fd, tailStart, tail.data(), tail.size())) return false;
  long found = -1;
  for (long i = static_cast<long>(tail.size() - EndOfCentralDir::Size); i >= 0 && found < 0; --i) {
    const uint8_t* p = &tail[static_cast<size_t>(i)];
    if (GetLE32(p) == zipsig::EndOfCentral &&
        static_cast<size_t>(i) + EndOfCentralDir::Size + EndOfCentralDir::Decode(p).ArchiveCommentLength == tail.size())
      found = i;
  }
  if (found < 0) return false;
  const uint8_t* endBytes = &tail[static_cast<size_t>(found)];
  const EndOfCentralDir end = EndOfCentralDir::Decode(endBytes);
  comment_.assign(reinterpret_cast<const char*>(endBytes + EndOfCentralDir::Size), end.ArchiveCommentLength);
  const uint64_t endPos = tailStart + static_cast<uint64_t>(found);
  if (end.DiskNumber != 0 || end.CentralStartDisk != 0 || end.EntriesOnDisk != end.EntriesTotal) return false;

  uint64_t count = end.EntriesTotal, cdSize = end.CentralDirSize, cdStart = end.CentralDirStart;
  uint64_t cdLimit = endPos;  // the directory ends before the end records
  zip64_ = false;
  if (endPos >= Zip64EndLocator::Size) {
    uint8_t loc[Zip64EndLocator::Size];
    Zip64EndLocator locator;
    if (ReadAt(fd, endPos - Zip64EndLocator::Size, loc, sizeof loc) && Zip64EndLocator::Decode(loc, locator)) {
      uint8_t z64[Zip64EndOfCentralDir::MinSize];
      Zip64EndOfCentralDir end64;
      if (locator.EndDisk != 0 || locator.TotalDisks > 1 || locator.EndOffset > endPos - Zip64EndLocator::Size ||
          !ReadAt(fd, locator.EndOffset, z64, sizeof z64) || !Zip64EndOfCentralDir::Decode(z64, end64) ||
          end64.DiskNumber != 0 || end64.CentralStartDisk != 0 || end64.EntriesOnDisk != end64.EntriesTotal)
        return false;
      zip64_ = true;
      count = end64.EntriesTotal;
      cdSize = end64.CentralDirSize;
      cdStart = end64.CentralDirStart;
      cdLimit = locator.EndOffset;
    }
  }
  if (count != names.size() || cdStart > cdLimit || cdSize != cdLimit - cdStart || cdSize > (1ull << 31)) return false;

  directory_.resize(cdSize);
  if (!ReadAt(fd, cdStart, directory_.data(), directory_.size())) return false;
  entries_.assign(count, Entry{});
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    if (pos + CentralFileHeader::Size > directory_.size()) return false;
    const CentralFileHeader h = CentralFileHeader::Decode(&directory_[pos]);
    const size_t recordSize = CentralFileHeader::Size + h.VariableLength();
    if (h.Signature != zipsig::Central || h.DiskStart != 0 || pos + recordSize > directory_.size()) return false;
    const uint8_t* name = &directory_[pos + CentralFileHeader::Size];
    const std::string_view stored(reinterpret_cast<const char*>(name), h.NameLength);
    // libzip names an entry by its Unicode path field when that matches the stored name.
    if (names[i] != stored &&
        entrynames::UnicodeFieldText(name + h.NameLength, h.ExtraLength, entrynames::kUnicodePathField, stored) !=
            names[i])
      return false;
    Entry& e = entries_[i];
    e.record = pos;
    e.recordSize = recordSize;
    e.offset = h.LocalHeaderOffset;
    if (h.LocalHeaderOffset == 0xFFFFFFFFu) {
      // The offset is the last of the saturated fields in the Zip64 extra field.
      const size_t extraAt = pos + CentralFileHeader::Size + h.NameLength;
      for (size_t x = 0; x + 4 <= h.ExtraLength;) {
        const uint16_t id = GetLE16(&directory_[extraAt + x]), len = GetLE16(&directory_[extraAt + x + 2]);
        if (x + 4 + len > h.ExtraLength) break;
        if (id == 0x0001) {
          size_t at = 8 * ((h.UnpackedSize == 0xFFFFFFFFu) + (h.PackedSize == 0xFFFFFFFFu));
          if (at + 8 <= len) {
            e.offset64At = extraAt + x + 4 + at;
            e.offset = GetLE64(&directory_[e.offset64At]);
          }
          break;
        }
        x += 4 + len;
      }
      if (e.offset64At == 0) return false;
    }
    pos += recordSize;
  }
  if (pos != directory_.size()) return false;

  // Each entry runs to the next one in the file; its header and data must fit in that run.
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return entries_[a].offset < entries_[b].offset; });
  prefix_ = count > 0 ? entries_[order[0]].offset : cdStart;
  for (size_t k = 0; k < count; ++k) {
    Entry& e = entries_[order[k]];
    e.end = k + 1 < count ? entries_[order[k + 1]].offset : cdStart;
    uint8_t local[LocalFileHeader::Size];
    if (e.end <= e.offset || e.end - e.offset < LocalFileHeader::Size ||
        !ReadAt(fd, e.offset, local, sizeof local))
      return false;
    const LocalFileHeader h = LocalFileHeader::Decode(local);
    ZipDirEntry central;
    central.AssignHeader(CentralFileHeader::Decode(&directory_[e.record]));
    central.ApplyZip64Extra(&directory_[e.record + CentralFileHeader::Size + central.NameLength], central.ExtraLength);
    const uint64_t need = LocalFileHeader::Size + uint64_t(h.NameLength) + h.ExtraLength + central.PackedSize64;
    if (h.Signature != zipsig::Local || need > e.end - e.offset) return false;
  }
  return true;
}

bool CopyEntries::Failed(Reporter& reporter) {
  if (reporter.Cancelled()) return false;
  if (out_->Replaced()) {
    ReportReplaced(path_, reporter);
    return false;
  }
  int err = out_->Error() != 0 ? out_->Error() : EIO;
  if (err == ENOSPC || err == EDQUOT)
    reporter.Message(kLibErrDiskFull, path_ + ": disk full, archive left unchanged");
  else
    reporter.Message(kLibErrWrite, path_ + ": " + std::strerror(err) + ", archive left unchanged");
  return false;
}

bool CopyEntries::Begin(const ArchiveFileInfo& held, Reporter& reporter) {
  fd_ = held.fd;
  info_ = held;
  info_.prefix = prefix_;
  out_ = std::make_unique<ArchiveWriter>(path_, info_);
  return reporter.Heartbeat();
}

bool CopyEntries::Copy(const std::vector<bool>& dropped, Reporter& reporter) {
  dropped_ = dropped;
  if (!reporter.Heartbeat()) return false;
  if (!out_->Begin()) return Failed(reporter);
  // Kept entries in file order; neighbours in the old file are copied as one run.
  std::vector<size_t> kept;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!dropped_[i]) kept.push_back(i);
  std::sort(kept.begin(), kept.end(), [&](size_t a, size_t b) { return entries_[a].offset < entries_[b].offset; });
  moved_.assign(entries_.size(), 0);
  for (size_t k = 0; k < kept.size();) {
    const uint64_t runStart = entries_[kept[k]].offset;
    uint64_t runEnd = runStart;
    const uint64_t newStart = out_->Position();
    for (; k < kept.size() && entries_[kept[k]].offset == runEnd; ++k) {
      moved_[kept[k]] = newStart + (entries_[kept[k]].offset - runStart);
      runEnd = entries_[kept[k]].end;
    }
    for (uint64_t at = runStart; at < runEnd; at += kCopyStep) {
      if (!reporter.Heartbeat()) return false;
      if (!out_->Copy(fd_, at, std::min(kCopyStep, runEnd - at))) return Failed(reporter);
    }
  }
  return true;
}

void CopyEntries::AppendRecord(size_t i, std::vector<uint8_t>& records) const {
  const Entry& e = entries_[i];
  const size_t at = records.size();
  records.insert(records.end(), directory_.begin() + static_cast<long>(e.record),
                 directory_.begin() + static_cast<long>(e.record + e.recordSize));
  // Offsets only shrink, so one that fitted in 32 bits still does.
  if (e.offset64At != 0)
    PutLE64(&records[at + (e.offset64At - e.record)], moved_[i]);
  else
    PutLE32(&records[at + 42], static_cast<uint32_t>(moved_[i]));
}

bool CopyEntries::Finish(std::vector<uint8_t>& records, uint64_t count, Reporter& reporter) {
  const uint64_t cdStart = out_->Position(), cdSize = records.size();
  // Zip64 end records stay while entries do; an archive left empty gets the plain end record
  // every reader knows (some refuse an empty Zip64 one).
  const bool zip64 = (zip64_ && count > 0) || count >= 0xFFFF || cdStart >= 0xFFFFFFFFu || cdSize >= 0xFFFFFFFFu;
  if (zip64) {
    Zip64EndOfCentralDir end64;
    end64.EntriesOnDisk = end64.EntriesTotal = count;
    end64.CentralDirSize = cdSize;
    end64.CentralDirStart = cdStart;
    Zip64EndLocator locator;
    locator.EndOffset = cdStart + cdSize;
    locator.TotalDisks = 1;
    size_t at = records.size();
    records.resize(at + Zip64EndOfCentralDir::MinSize + Zip64EndLocator::Size);
    end64.Encode(&records[at]);
    locator.Encode(&records[at + Zip64EndOfCentralDir::MinSize]);
  }
  EndOfCentralDir end;
  end.EntriesOnDisk = end.EntriesTotal = static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF));
  end.CentralDirSize = static_cast<uint32_t>(std::min<uint64_t>(cdSize, 0xFFFFFFFFu));
  // An empty archive behind a prefix is read only with its directory offset counted from the
  // end record back (0); entries keep their offsets from the start of the file.
  end.CentralDirStart = count == 0 ? 0 : static_cast<uint32_t>(std::min<uint64_t>(cdStart, 0xFFFFFFFFu));
  end.ArchiveCommentLength = static_cast<uint16_t>(comment_.size());
  const auto endBytes = end.Bytes();
  records.insert(records.end(), endBytes.begin(), endBytes.end());
  records.insert(records.end(), comment_.begin(), comment_.end());
  if (!out_->Write(records.data(), records.size()) || !out_->Truncate()) return Failed(reporter);
  if (!reporter.Heartbeat()) return false;
  if (!out_->Commit()) return Failed(reporter);
  return true;
}

bool CopyEntries::Delete(const ArchiveFileInfo& held, const std::vector<bool>& marked, Reporter& reporter) {
  if (!Begin(held, reporter) || !Copy(marked, reporter)) return false;
  std::vector<uint8_t> records;
  uint64_t count = 0;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!marked[i]) {
      AppendRecord(i, records);
      ++count;
    }
  return Finish(records, count, reporter);
}

zip_t* CopyEntries::BeginAdd(const ArchiveFileInfo& held, Reporter& reporter) {
  if (!Begin(held, reporter)) return nullptr;
  zip_error_t error;
  zip_error_init(&error);
  zip_t* za = nullptr;
  if (zip_source_t* src = out_->AppendSource(&error)) {
    za = zip_open_from_source(src, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!za) zip_source_free(src);
  }
  if (!za) reporter.Message(kLibErrWrite, path_ + ": " + zip_error_strerror(&error) + ", archive left unchanged");
  zip_error_fini(&error);
  return za;
}

bool CopyEntries::CopyKept(const std::vector<bool>& dropped, Reporter& reporter) {
  if (!Copy(dropped, reporter)) return false;
  addedStart_ = out_->Position();
  return true;
}

bool CopyEntries::FinishAdd(const std::vector<long>& placeOf, Reporter& reporter) {
  // libzip's directory of the new entries ends what it wrote: an end record without a
  // comment, behind Zip64 end records when it needed them.
  const uint64_t end = out_->Position();
  uint8_t tail[EndOfCentralDir::Size], loc[Zip64EndLocator::Size], z64[Zip64EndOfCentralDir::MinSize];
  if (end < addedStart_ + sizeof tail || !out_->ReadBack(end - sizeof tail, tail, sizeof tail)) return Failed(reporter);
  const EndOfCentralDir e = EndOfCentralDir::Decode(tail);
  uint64_t cdStart = e.CentralDirStart, cdSize = e.CentralDirSize, count = e.EntriesTotal;
  Zip64EndLocator locator;
  Zip64EndOfCentralDir end64;
  if (end >= addedStart_ + sizeof tail + sizeof loc && out_->ReadBack(end - sizeof tail - sizeof loc, loc, sizeof loc) &&
      Zip64EndLocator::Decode(loc, locator)) {
    if (!out_->ReadBack(locator.EndOffset, z64, sizeof z64) || !Zip64EndOfCentralDir::Decode(z64, end64))
      return Failed(reporter);
    cdStart = end64.CentralDirStart;
    cdSize = end64.CentralDirSize;
    count = end64.EntriesTotal;
  }
  std::vector<uint8_t> added;
  if (GetLE32(tail) != zipsig::EndOfCentral || count != placeOf.size() || cdStart < addedStart_ ||
      cdSize > end - cdStart)
    return Failed(reporter);
  added.resize(cdSize);
  if (!out_->ReadBack(cdStart, added.data(), added.size())) return Failed(reporter);
  std::vector<std::pair<size_t, size_t>> spans;  // of the new entries' records in `added`
  for (size_t pos = 0; pos < added.size();) {
    if (added.size() - pos < CentralFileHeader::Size || GetLE32(&added[pos]) != zipsig::Central)
      return Failed(reporter);
    const size_t size = CentralFileHeader::Size + CentralFileHeader::Decode(&added[pos]).VariableLength();
    spans.emplace_back(pos, size);
    pos += size;
  }
  if (spans.size() != placeOf.size()) return Failed(reporter);

  // The old order, a replaced entry's place taken by its successor, the new names after.
  std::vector<long> takenBy(entries_.size(), -1);
  for (size_t j = 0; j < placeOf.size(); ++j)
    if (placeOf[j] >= 0 && static_cast<size_t>(placeOf[j]) < entries_.size())
      takenBy[static_cast<size_t>(placeOf[j])] = static_cast<long>(j);
  std::vector<bool> placed(placeOf.size(), false);
  std::vector<uint8_t> records;
  uint64_t total = 0;
  auto appendAdded = [&](size_t j) {
    records.insert(records.end(), added.begin() + static_cast<long>(spans[j].first),
                   added.begin() + static_cast<long>(spans[j].first + spans[j].second));
    placed[j] = true;
    ++total;
  };
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (takenBy[i] >= 0) {
      appendAdded(static_cast<size_t>(takenBy[i]));
    } else if (!dropped_[i]) {
      AppendRecord(i, records);
      ++total;
    }
  }
  for (size_t j = 0; j < placeOf.size(); ++j)
    if (!placed[j]) appendAdded(j);
  if (!out_->Seek(cdStart)) return Failed(reporter);
  return Finish(records, total, reporter);
}

}  // namespace kiln
