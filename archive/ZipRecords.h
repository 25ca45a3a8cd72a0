#pragma once
// The fixed-size ZIP records (32-bit form) and the in-memory directory entry.
// Records are packed and converted field by field, so the byte order on disk is
// little-endian whatever the host.

#include <array>
#include <cstddef>
#include <cstdint>
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

#pragma pack(push, 1)

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

#pragma pack(pop)

static_assert(sizeof(LocalFileHeader) == 30);
static_assert(sizeof(DataDescriptor) == 16);
static_assert(sizeof(CentralFileHeader) == 46);
static_assert(sizeof(EndOfCentralDir) == 22);

// Zip64 end record and its locator, read so that archives with more than 65535
// entries (which every current writer stores this way) can be listed.
struct Zip64EndLocator {
  static constexpr size_t Size = 20;
  uint32_t EndDisk = 0;
  uint64_t EndOffset = 0;
  uint32_t TotalDisks = 0;
  static bool Decode(const uint8_t* p, Zip64EndLocator& out);
};

struct Zip64EndOfCentralDir {
  static constexpr size_t MinSize = 56;
  uint64_t RecordSize = 0;  // bytes after the size field
  uint32_t DiskNumber = 0;
  uint32_t CentralStartDisk = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t EntriesTotal = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirStart = 0;
  static bool Decode(const uint8_t* p, Zip64EndOfCentralDir& out);
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
