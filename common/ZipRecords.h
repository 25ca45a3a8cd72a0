#pragma once
// The fixed-size ZIP records (32-bit form) and the in-memory directory entry, shared by
// the component, the self-extractor and the compression libraries (standard C++ only).
// On-disk fields are converted here and nowhere else, field by field, so the byte order
// on disk is little-endian whatever the host; a test fails when another source file
// copies raw bytes into or out of a record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zipsig {
inline constexpr uint32_t Local = 0x04034B50;
inline constexpr uint32_t DataDescriptor = 0x08074B50;
inline constexpr uint32_t Central = 0x02014B50;
inline constexpr uint32_t EndOfCentral = 0x06054B50;
inline constexpr uint32_t Zip64End = 0x06064B50;
inline constexpr uint32_t Zip64Locator = 0x07064B50;
// The first volume of a set starts with the data-descriptor signature.
inline constexpr uint32_t SpanMarker = DataDescriptor;
}  // namespace zipsig

inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t GetLE64(const uint8_t* p) { return GetLE32(p) | (uint64_t(GetLE32(p + 4)) << 32); }
inline void PutLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutLE64(uint8_t* p, uint64_t v) { PutLE32(p, uint32_t(v)); PutLE32(p + 4, uint32_t(v >> 32)); }

// Not packed: no record is ever copied as raw bytes, so its memory layout does not matter.

struct LocalFileHeader {
  static constexpr size_t Size = 30;
  uint32_t Signature = zipsig::Local;
  uint16_t VersionNeeded = 0;
  uint16_t GeneralFlag = 0;
  uint16_t Method = 0;
  uint32_t ModDateTime = 0;
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;

  static LocalFileHeader Decode(const uint8_t* p);
  void Encode(uint8_t* p) const;
  std::array<uint8_t, Size> Bytes() const { std::array<uint8_t, Size> b; Encode(b.data()); return b; }
  bool HasDataDescriptor() const { return (GeneralFlag & 0x0008) != 0; }
};

struct DataDescriptor {
  static constexpr size_t Size = 16;
  uint32_t Signature = zipsig::DataDescriptor;
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;

  static DataDescriptor Decode(const uint8_t* p);
  void Encode(uint8_t* p) const;
};

struct CentralFileHeader {
  static constexpr size_t Size = 46;
  uint32_t Signature = zipsig::Central;
  uint8_t SpecVersion = 0;
  uint8_t HostSystem = 0;
  uint16_t VersionNeeded = 0;
  uint16_t GeneralFlag = 0;
  uint16_t Method = 0;
  uint32_t ModDateTime = 0;
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskStart = 0;
  uint16_t InternalAttr = 0;
  uint32_t ExternalAttr = 0;
  uint32_t LocalHeaderOffset = 0;

  static CentralFileHeader Decode(const uint8_t* p);
  void Encode(uint8_t* p) const;
  std::array<uint8_t, Size> Bytes() const { std::array<uint8_t, Size> b; Encode(b.data()); return b; }
  // Bytes of name, extra field and comment that follow the fixed part.
  uint32_t VariableLength() const { return uint32_t(NameLength) + ExtraLength + CommentLength; }
};

struct EndOfCentralDir {
  static constexpr size_t Size = 22;
  uint32_t Signature = zipsig::EndOfCentral;
  uint16_t DiskNumber = 0;
  uint16_t CentralStartDisk = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t EntriesTotal = 0;
  uint32_t CentralDirSize = 0;
  uint32_t CentralDirStart = 0;
  uint16_t ArchiveCommentLength = 0;

  static EndOfCentralDir Decode(const uint8_t* p);
  void Encode(uint8_t* p) const;
  std::array<uint8_t, Size> Bytes() const { std::array<uint8_t, Size> b; Encode(b.data()); return b; }
};

// Zip64 end record and its locator, read so that archives with more than 65535
// entries (which every current writer stores this way) can be listed.
struct Zip64EndLocator {
  static constexpr size_t Size = 20;
  uint32_t EndDisk = 0;
  uint64_t EndOffset = 0;
  uint32_t TotalDisks = 0;
  static bool Decode(const uint8_t* p, Zip64EndLocator& out);
  void Encode(uint8_t* p) const;
};

struct Zip64EndOfCentralDir {
  static constexpr size_t MinSize = 56;
  uint64_t RecordSize = MinSize - 12;  // bytes after the size field
  uint16_t VersionMadeBy = 45;
  uint16_t VersionNeeded = 45;
  uint32_t DiskNumber = 0;
  uint32_t CentralStartDisk = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t EntriesTotal = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirStart = 0;
  static bool Decode(const uint8_t* p, Zip64EndOfCentralDir& out);
  // Writes the fixed MinSize bytes; an extensible data sector, if any, is the caller's.
  void Encode(uint8_t* p) const;
  uint64_t TotalSize() const { return 12 + RecordSize; }
};

// One entry of an archive's directory, as the component keeps it. The first sixteen
// fields are the central header's, unchanged; the 64-bit fields hold the values that
// apply after a Zip64 extra field is taken into account (equal to the 32-bit ones
// otherwise).
struct ZipDirEntry {
  uint8_t SpecVersion = 0;
  uint8_t HostSystem = 0;
  uint16_t VersionNeeded = 0;
  uint16_t GeneralFlag = 0;
  uint16_t Method = 0;
  uint32_t ModDateTime = 0;
  uint32_t Crc32 = 0;
  uint32_t PackedSize = 0;
  uint32_t UnpackedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskStart = 0;
  uint16_t InternalAttr = 0;
  uint32_t ExternalAttr = 0;
  uint32_t LocalHeaderOffset = 0;
  std::string EntryName;
  std::string EntryComment;

  uint64_t PackedSize64 = 0;
  uint64_t UnpackedSize64 = 0;
  uint64_t LocalHeaderOffset64 = 0;
  // 65001 when EntryName was read as UTF-8 (the flag or a Unicode path field); 0 when
  // it was read in the code page of the archive's names.
  uint16_t NameCodePage = 0;

  void AssignHeader(const CentralFileHeader& h);
  // Applies a Zip64 extended-information field found in `extra`, if any.
  void ApplyZip64Extra(const uint8_t* extra, size_t length);
  bool IsEncrypted() const { return (GeneralFlag & 0x0001) != 0; }
  bool IsUtf8() const { return (GeneralFlag & 0x0800) != 0; }
};

// DOS date and time (local time) of the ZIP records.
struct DosDateTime {
  int Year = 1980, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
  static DosDateTime FromPacked(uint32_t modDateTime);
  uint32_t Packed() const;
  std::string Text() const;  // YYYY-MM-DD HH:MM:SS
};

// ---- definitions ----


inline LocalFileHeader LocalFileHeader::Decode(const uint8_t* p) {
  LocalFileHeader h;
  h.Signature = GetLE32(p);
  h.VersionNeeded = GetLE16(p + 4);
  h.GeneralFlag = GetLE16(p + 6);
  h.Method = GetLE16(p + 8);
  h.ModDateTime = GetLE32(p + 10);
  h.Crc32 = GetLE32(p + 14);
  h.PackedSize = GetLE32(p + 18);
  h.UnpackedSize = GetLE32(p + 22);
  h.NameLength = GetLE16(p + 26);
  h.ExtraLength = GetLE16(p + 28);
  return h;
}

inline void LocalFileHeader::Encode(uint8_t* p) const {
  PutLE32(p, Signature);
  PutLE16(p + 4, VersionNeeded);
  PutLE16(p + 6, GeneralFlag);
  PutLE16(p + 8, Method);
  PutLE32(p + 10, ModDateTime);
  PutLE32(p + 14, Crc32);
  PutLE32(p + 18, PackedSize);
  PutLE32(p + 22, UnpackedSize);
  PutLE16(p + 26, NameLength);
  PutLE16(p + 28, ExtraLength);
}

inline DataDescriptor DataDescriptor::Decode(const uint8_t* p) {
  DataDescriptor d;
  d.Signature = GetLE32(p);
  d.Crc32 = GetLE32(p + 4);
  d.PackedSize = GetLE32(p + 8);
  d.UnpackedSize = GetLE32(p + 12);
  return d;
}

inline void DataDescriptor::Encode(uint8_t* p) const {
  PutLE32(p, Signature);
  PutLE32(p + 4, Crc32);
  PutLE32(p + 8, PackedSize);
  PutLE32(p + 12, UnpackedSize);
}

inline CentralFileHeader CentralFileHeader::Decode(const uint8_t* p) {
  CentralFileHeader h;
  h.Signature = GetLE32(p);
  h.SpecVersion = p[4];
  h.HostSystem = p[5];
  h.VersionNeeded = GetLE16(p + 6);
  h.GeneralFlag = GetLE16(p + 8);
  h.Method = GetLE16(p + 10);
  h.ModDateTime = GetLE32(p + 12);
  h.Crc32 = GetLE32(p + 16);
  h.PackedSize = GetLE32(p + 20);
  h.UnpackedSize = GetLE32(p + 24);
  h.NameLength = GetLE16(p + 28);
  h.ExtraLength = GetLE16(p + 30);
  h.CommentLength = GetLE16(p + 32);
  h.DiskStart = GetLE16(p + 34);
  h.InternalAttr = GetLE16(p + 36);
  h.ExternalAttr = GetLE32(p + 38);
  h.LocalHeaderOffset = GetLE32(p + 42);
  return h;
}

inline void CentralFileHeader::Encode(uint8_t* p) const {
  PutLE32(p, Signature);
  p[4] = SpecVersion;
  p[5] = HostSystem;
  PutLE16(p + 6, VersionNeeded);
  PutLE16(p + 8, GeneralFlag);
  PutLE16(p + 10, Method);
  PutLE32(p + 12, ModDateTime);
  PutLE32(p + 16, Crc32);
  PutLE32(p + 20, PackedSize);
  PutLE32(p + 24, UnpackedSize);
  PutLE16(p + 28, NameLength);
  PutLE16(p + 30, ExtraLength);
  PutLE16(p + 32, CommentLength);
  PutLE16(p + 34, DiskStart);
  PutLE16(p + 36, InternalAttr);
  PutLE32(p + 38, ExternalAttr);
  PutLE32(p + 42, LocalHeaderOffset);
}

inline EndOfCentralDir EndOfCentralDir::Decode(const uint8_t* p) {
  EndOfCentralDir e;
  e.Signature = GetLE32(p);
  e.DiskNumber = GetLE16(p + 4);
  e.CentralStartDisk = GetLE16(p + 6);
  e.EntriesOnDisk = GetLE16(p + 8);
  e.EntriesTotal = GetLE16(p + 10);
  e.CentralDirSize = GetLE32(p + 12);
  e.CentralDirStart = GetLE32(p + 16);
  e.ArchiveCommentLength = GetLE16(p + 20);
  return e;
}

inline void EndOfCentralDir::Encode(uint8_t* p) const {
  PutLE32(p, Signature);
  PutLE16(p + 4, DiskNumber);
  PutLE16(p + 6, CentralStartDisk);
  PutLE16(p + 8, EntriesOnDisk);
  PutLE16(p + 10, EntriesTotal);
  PutLE32(p + 12, CentralDirSize);
  PutLE32(p + 16, CentralDirStart);
  PutLE16(p + 20, ArchiveCommentLength);
}

inline bool Zip64EndLocator::Decode(const uint8_t* p, Zip64EndLocator& out) {
  if (GetLE32(p) != zipsig::Zip64Locator) return false;
  out.EndDisk = GetLE32(p + 4);
  out.EndOffset = GetLE64(p + 8);
  out.TotalDisks = GetLE32(p + 16);
  return true;
}

inline void Zip64EndLocator::Encode(uint8_t* p) const {
  PutLE32(p, zipsig::Zip64Locator);
  PutLE32(p + 4, EndDisk);
  PutLE64(p + 8, EndOffset);
  PutLE32(p + 16, TotalDisks);
}

inline bool Zip64EndOfCentralDir::Decode(const uint8_t* p, Zip64EndOfCentralDir& out) {
  if (GetLE32(p) != zipsig::Zip64End) return false;
  out.RecordSize = GetLE64(p + 4);
  out.VersionMadeBy = GetLE16(p + 12);
  out.VersionNeeded = GetLE16(p + 14);
  out.DiskNumber = GetLE32(p + 16);
  out.CentralStartDisk = GetLE32(p + 20);
  out.EntriesOnDisk = GetLE64(p + 24);
  out.EntriesTotal = GetLE64(p + 32);
  out.CentralDirSize = GetLE64(p + 40);
  out.CentralDirStart = GetLE64(p + 48);
  return out.RecordSize >= Zip64EndOfCentralDir::MinSize - 12;
}

inline void Zip64EndOfCentralDir::Encode(uint8_t* p) const {
  PutLE32(p, zipsig::Zip64End);
  PutLE64(p + 4, RecordSize);
  PutLE16(p + 12, VersionMadeBy);
  PutLE16(p + 14, VersionNeeded);
  PutLE32(p + 16, DiskNumber);
  PutLE32(p + 20, CentralStartDisk);
  PutLE64(p + 24, EntriesOnDisk);
  PutLE64(p + 32, EntriesTotal);
  PutLE64(p + 40, CentralDirSize);
  PutLE64(p + 48, CentralDirStart);
}

inline void ZipDirEntry::AssignHeader(const CentralFileHeader& h) {
  SpecVersion = h.SpecVersion;
  HostSystem = h.HostSystem;
  VersionNeeded = h.VersionNeeded;
  GeneralFlag = h.GeneralFlag;
  Method = h.Method;
  ModDateTime = h.ModDateTime;
  Crc32 = h.Crc32;
  PackedSize = h.PackedSize;
  UnpackedSize = h.UnpackedSize;
  NameLength = h.NameLength;
  ExtraLength = h.ExtraLength;
  CommentLength = h.CommentLength;
  DiskStart = h.DiskStart;
  InternalAttr = h.InternalAttr;
  ExternalAttr = h.ExternalAttr;
  LocalHeaderOffset = h.LocalHeaderOffset;
  PackedSize64 = h.PackedSize;
  UnpackedSize64 = h.UnpackedSize;
  LocalHeaderOffset64 = h.LocalHeaderOffset;
}

inline void ZipDirEntry::ApplyZip64Extra(const uint8_t* extra, size_t length) {
  // Only the fields whose 32-bit value is saturated are present, in this order.
  size_t pos = 0;
  while (pos + 4 <= length) {
    const uint16_t id = GetLE16(extra + pos);
    const uint16_t size = GetLE16(extra + pos + 2);
    const uint8_t* data = extra + pos + 4;
    if (pos + 4 + size > length) return;
    if (id == 0x0001) {
      size_t at = 0;
      auto take = [&](uint32_t raw, uint64_t& field) {
        if (raw != 0xFFFFFFFFu) return;
        if (at + 8 > size) return;
        field = GetLE64(data + at);
        at += 8;
      };
      take(UnpackedSize, UnpackedSize64);
      take(PackedSize, PackedSize64);
      take(LocalHeaderOffset, LocalHeaderOffset64);
      return;
    }
    pos += 4 + size;
  }
}

inline DosDateTime DosDateTime::FromPacked(uint32_t v) {
  DosDateTime d;
  const uint16_t time = uint16_t(v & 0xFFFF), date = uint16_t(v >> 16);
  d.Second = (time & 0x1F) * 2;
  d.Minute = (time >> 5) & 0x3F;
  d.Hour = time >> 11;
  d.Day = date & 0x1F;
  d.Month = (date >> 5) & 0x0F;
  d.Year = 1980 + (date >> 9);
  return d;
}

inline uint32_t DosDateTime::Packed() const {
  const uint32_t date = uint32_t(((Year - 1980) & 0x7F) << 9 | (Month & 0x0F) << 5 | (Day & 0x1F));
  const uint32_t time = uint32_t((Hour & 0x1F) << 11 | (Minute & 0x3F) << 5 | ((Second / 2) & 0x1F));
  return date << 16 | time;
}

inline std::string DosDateTime::Text() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", Year, Month, Day, Hour, Minute, Second);
  return buf;
}
