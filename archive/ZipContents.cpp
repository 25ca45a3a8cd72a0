#include "ZipContents.h"

#include <algorithm>
#include <new>

#include "CodePages.h"

void ZipContents::clear() {
  // Swapped out, not cleared: the memory goes back at once.
  std::vector<Record>().swap(records_);
  std::string().swap(text_);
  folders_.assign(1, std::string());
  folderIndex_.clear();
  wide_.clear();
  longNames_.clear();
  comments_.clear();
  utf8Names_.clear();
}

void ZipContents::reserve(size_t entries, size_t textBytes) {
  records_.reserve(entries);
  text_.reserve(std::min<size_t>(textBytes, UINT32_MAX));
}

uint32_t ZipContents::FolderIndex(std::string_view folder) {
  if (folder.empty()) return 0;
  const auto found = folderIndex_.find(folder);
  if (found != folderIndex_.end()) return found->second;
  if (folders_.size() >= UINT32_MAX) throw std::bad_alloc();
  folders_.emplace_back(folder);
  folderIndex_.emplace(std::string(folder), uint32_t(folders_.size() - 1));
  return uint32_t(folders_.size() - 1);
}

void ZipContents::PlaceName(Record& r, size_t index, std::string_view name) {
  const size_t slash = name.rfind('/');
  const size_t split = slash == std::string_view::npos ? 0 : slash + 1;
  r.Folder = FolderIndex(name.substr(0, split));
  name.remove_prefix(split);
  // Offsets are 32 bits: names beyond 4 GiB in all cannot be held.
  if (text_.size() + name.size() > UINT32_MAX) throw std::bad_alloc();
  r.TextOffset = uint32_t(text_.size());
  text_.append(name);
  if (name.size() < kLongName) {
    r.TextLength = uint16_t(name.size());
    longNames_.erase(index);
  } else {
    r.TextLength = kLongName;
    longNames_[index] = uint32_t(name.size());
  }
}

size_t ZipContents::Append(const ZipDirEntry& f, std::string_view name) {
  const size_t index = records_.size();
  Record& r = records_.emplace_back();
  r.ModDateTime = f.ModDateTime, r.Crc32 = f.Crc32, r.PackedSize = f.PackedSize, r.UnpackedSize = f.UnpackedSize;
  r.LocalHeaderOffset = f.LocalHeaderOffset, r.ExternalAttr = f.ExternalAttr;
  r.VersionNeeded = f.VersionNeeded, r.GeneralFlag = f.GeneralFlag, r.Method = f.Method;
  r.NameLength = f.NameLength, r.ExtraLength = f.ExtraLength, r.CommentLength = f.CommentLength;
  r.DiskStart = f.DiskStart, r.InternalAttr = f.InternalAttr;
  r.SpecVersion = f.SpecVersion, r.HostSystem = f.HostSystem;
  if (f.PackedSize64 != f.PackedSize || f.UnpackedSize64 != f.UnpackedSize ||
      f.LocalHeaderOffset64 != f.LocalHeaderOffset)
    wide_[index] = Wide{f.PackedSize64, f.UnpackedSize64, f.LocalHeaderOffset64};
  PlaceName(r, index, name);
  if (f.NameCodePage == entrynames::kUtf8CodePage && !f.IsUtf8()) utf8Names_.push_back(index);
  return index;
}

void ZipContents::SetName(size_t i, std::string_view name) { PlaceName(records_[i], i, name); }

void ZipContents::SetComment(size_t i, std::string comment) {
  if (comment.empty()) comments_.erase(i);
  else comments_[i] = std::move(comment);
}

const std::string& ZipContents::Comment(size_t i) const {
  static const std::string kNone;
  const auto it = comments_.find(i);
  return it == comments_.end() ? kNone : it->second;
}

void ZipContents::SetNameIsUtf8(size_t i) {
  const auto at = std::lower_bound(utf8Names_.begin(), utf8Names_.end(), i);
  if (at == utf8Names_.end() || *at != i) utf8Names_.insert(at, i);
}

std::string_view ZipContents::FileName(size_t i) const {
  const Record& r = records_[i];
  const size_t length = r.TextLength == kLongName ? longNames_.at(i) : r.TextLength;
  return std::string_view(text_).substr(r.TextOffset, length);
}

void ZipContents::Get(size_t i, ZipDirEntry& e) const {
  GetFields(i, e);
  e.EntryName.assign(Folder(i));
  e.EntryName.append(FileName(i));
}

void ZipContents::GetFields(size_t i, ZipDirEntry& e) const {
  const Record& r = records_[i];
  e.SpecVersion = r.SpecVersion, e.HostSystem = r.HostSystem, e.VersionNeeded = r.VersionNeeded;
  e.GeneralFlag = r.GeneralFlag, e.Method = r.Method, e.ModDateTime = r.ModDateTime, e.Crc32 = r.Crc32;
  e.PackedSize = r.PackedSize, e.UnpackedSize = r.UnpackedSize, e.NameLength = r.NameLength;
  e.ExtraLength = r.ExtraLength, e.CommentLength = r.CommentLength, e.DiskStart = r.DiskStart;
  e.InternalAttr = r.InternalAttr, e.ExternalAttr = r.ExternalAttr, e.LocalHeaderOffset = r.LocalHeaderOffset;
  e.PackedSize64 = r.PackedSize, e.UnpackedSize64 = r.UnpackedSize, e.LocalHeaderOffset64 = r.LocalHeaderOffset;
  if (!wide_.empty()) {
    const auto w = wide_.find(i);
    if (w != wide_.end())
      e.PackedSize64 = w->second.PackedSize, e.UnpackedSize64 = w->second.UnpackedSize,
      e.LocalHeaderOffset64 = w->second.LocalHeaderOffset;
  }
  if (r.CommentLength == 0 || comments_.empty()) e.EntryComment.clear();
  else e.EntryComment = Comment(i);
  const bool utf8 = e.IsUtf8() || (!utf8Names_.empty() && std::binary_search(utf8Names_.begin(), utf8Names_.end(), i));
  e.NameCodePage = utf8 ? uint16_t(entrynames::kUtf8CodePage) : 0;
}
