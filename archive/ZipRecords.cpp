#include "ZipRecords.h"

#include <cstdio>

LocalFileHeader LocalFileHeader::Decode(const uint8_t* p) {
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

void LocalFileHeader::Encode(uint8_t* p) const {
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

DataDescriptor DataDescriptor::Decode(const uint8_t* p) {
  DataDescriptor d;
  d.Signature = GetLE32(p);
  d.Crc32 = GetLE32(p + 4);
  d.PackedSize = GetLE32(p + 8);
  d.UnpackedSize = GetLE32(p + 12);
  return d;
}

void DataDescriptor::Encode(uint8_t* p) const {
  PutLE32(p, Signature);
  PutLE32(p + 4, Crc32);
  PutLE32(p + 8, PackedSize);
  PutLE32(p + 12, UnpackedSize);
}

CentralFileHeader CentralFileHeader::Decode(const uint8_t* p) {
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

void CentralFileHeader::Encode(uint8_t* p) const {
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

EndOfCentralDir EndOfCentralDir::Decode(const uint8_t* p) {
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

void EndOfCentralDir::Encode(uint8_t* p) const {
  PutLE32(p, Signature);
  PutLE16(p + 4, DiskNumber);
  PutLE16(p + 6, CentralStartDisk);
  PutLE16(p + 8, EntriesOnDisk);
  PutLE16(p + 10, EntriesTotal);
  PutLE32(p + 12, CentralDirSize);
  PutLE32(p + 16, CentralDirStart);
  PutLE16(p + 20, ArchiveCommentLength);
}

bool Zip64EndLocator::Decode(const uint8_t* p, Zip64EndLocator& out) {
  if (GetLE32(p) != zipsig::Zip64Locator) return false;
  out.EndDisk = GetLE32(p + 4);
  out.EndOffset = GetLE64(p + 8);
  out.TotalDisks = GetLE32(p + 16);
  return true;
}

bool Zip64EndOfCentralDir::Decode(const uint8_t* p, Zip64EndOfCentralDir& out) {
  if (GetLE32(p) != zipsig::Zip64End) return false;
  out.RecordSize = GetLE64(p + 4);
  out.DiskNumber = GetLE32(p + 16);
  out.CentralStartDisk = GetLE32(p + 20);
  out.EntriesOnDisk = GetLE64(p + 24);
  out.EntriesTotal = GetLE64(p + 32);
  out.CentralDirSize = GetLE64(p + 40);
  out.CentralDirStart = GetLE64(p + 48);
  return out.RecordSize >= Zip64EndOfCentralDir::MinSize - 12;
}

void ZipDirEntry::AssignHeader(const CentralFileHeader& h) {
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

void ZipDirEntry::ApplyZip64Extra(const uint8_t* extra, size_t length) {
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

DosDateTime DosDateTime::FromPacked(uint32_t v) {
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

uint32_t DosDateTime::Packed() const {
  const uint32_t date = uint32_t(((Year - 1980) & 0x7F) << 9 | (Month & 0x0F) << 5 | (Day & 0x1F));
  const uint32_t time = uint32_t((Hour & 0x1F) << 11 | (Minute & 0x3F) << 5 | ((Second / 2) & 0x1F));
  return date << 16 | time;
}

std::string DosDateTime::Text() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", Year, Month, Day, Hour, Minute, Second);
  return buf;
}
