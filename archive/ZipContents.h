#pragma once
// The entries of an archive's directory, kept compactly: a 52-byte record of the central
// header's fields per entry, each folder once, and the rest of every name in one block of
// text. An archive of a million entries then takes well under 100 bytes an entry. Entries
// are read as ZipDirEntry values made on demand; Get fills one the caller keeps, so that a
// loop over all entries allocates nothing.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ZipRecords.h"

class ZipContents {
 public:
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = ZipDirEntry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ZipDirEntry;
    const_iterator(const ZipContents* c, size_t i) : c_(c), i_(i) {}
    ZipDirEntry operator*() const { return (*c_)[i_]; }
    const_iterator& operator++() { return ++i_, *this; }
    const_iterator operator++(int) { const_iterator before = *this; ++i_; return before; }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }
    bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

   private:
    const ZipContents* c_;
    size_t i_;
  };

  size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, records_.size()}; }
  ZipDirEntry operator[](size_t i) const {
    ZipDirEntry e;
    Get(i, e);
    return e;
  }
  // Entry `i` into `out`, whose strings keep their storage from call to call.
  void Get(size_t i, ZipDirEntry& out) const;
  // The same without EntryName, which FileName and Folder give in parts.
  void GetFields(size_t i, ZipDirEntry& out) const;
  // The name's parts after and up to its last '/' (EntryFileName and EntryPath of it).
  std::string_view FileName(size_t i) const;
  std::string_view Folder(size_t i) const { return folders_[records_[i].Folder]; }

  // ---- filled by the directory reader ----
  void clear();
  // Room for `entries` records and `textBytes` of names (an upper bound costs nothing:
  // memory not written is not taken).
  void reserve(size_t entries, size_t textBytes);
  // Appends an entry with the central header's fields (the 64-bit values applied) and
  // its name; returns its index.
  size_t Append(const ZipDirEntry& fields, std::string_view name);
  // Room for `bytes` more of names, set later.
  void ReserveMoreText(size_t bytes) { text_.reserve(std::min<size_t>(text_.size() + bytes, UINT32_MAX)); }
  // Replaces the name of entry `i` (the new text goes to the end of the block).
  void SetName(size_t i, std::string_view name);
  void SetComment(size_t i, std::string comment);
  const std::string& Comment(size_t i) const;
  // Marks entry `i` as named by UTF-8 (ZipDirEntry::NameCodePage 65001) though unflagged.
  void SetNameIsUtf8(size_t i);

 private:
  // The central header's fields, the 32-bit sizes and offset as stored; where the Zip64
  // extra field supplied wider values they are kept aside (few entries have them).
  struct Record {
    uint32_t ModDateTime, Crc32, PackedSize, UnpackedSize, LocalHeaderOffset, ExternalAttr;
    uint32_t Folder;      // index in folders_ of the name's part up to its last '/'

    uint32_t TextOffset;  // of the rest of the name in text_
    uint16_t VersionNeeded, GeneralFlag, Method, NameLength, ExtraLength, CommentLength, DiskStart, InternalAttr;
    uint16_t TextLength;  // of the rest of the name; kLongName: kept aside
    uint8_t SpecVersion, HostSystem;
  };
  static_assert(sizeof(Record) == 52);
  static constexpr uint16_t kLongName = 0xFFFF;
  struct Wide {
    uint64_t PackedSize, UnpackedSize, LocalHeaderOffset;
  };
  void PlaceName(Record& r, size_t index, std::string_view name);

  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  uint32_t FolderIndex(std::string_view folder);

  std::vector<Record> records_;
  std::string text_;
  std::vector<std::string> folders_{std::string()};  // 0: no folder
  std::unordered_map<std::string, uint32_t, Hash, std::equal_to<>> folderIndex_;
  std::unordered_map<size_t, Wide> wide_;
  std::unordered_map<size_t, uint32_t> longNames_;
  std::unordered_map<size_t, std::string> comments_;
  std::vector<size_t> utf8Names_;  // ascending
};
