#pragma once
// Where each entry's bytes lie, and which entries share bytes. An archive whose entries
// overlap unpacks far more than it holds (one stream quoted by many records), so the
// decompressor library and the static stub refuse such entries by this one rule.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FileIo.h"
#include "ZipRecords.h"

namespace entryspans {

// The data lies behind the entry's local header, whose name and extra field may differ in
// length from the central record's. False when no local header is at `localOffset` or the
// data would reach past `limit` (where the central directory starts). `extraLength` gets the
// local extra field's length (it follows the name, right before the data). `raw` holds the
// LocalFileHeader::Size bytes at `localOffset`, read by the caller.
inline bool LocateDataIn(const uint8_t* raw, uint64_t localOffset, uint64_t packed, uint64_t limit,
                         uint64_t& dataOffset, uint16_t& extraLength) {
  if (localOffset > limit || limit - localOffset < LocalFileHeader::Size || GetLE32(raw) != zipsig::Local)
    return false;
  const LocalFileHeader h = LocalFileHeader::Decode(raw);
  dataOffset = localOffset + LocalFileHeader::Size + h.NameLength + h.ExtraLength;
  extraLength = h.ExtraLength;
  return dataOffset <= limit && packed <= limit - dataOffset;
}

// The same, reading the header.
inline bool LocateData(int fd, uint64_t localOffset, uint64_t packed, uint64_t limit, uint64_t& dataOffset,
                       uint16_t& extraLength) {
  uint8_t raw[LocalFileHeader::Size];
  if (localOffset > limit || limit - localOffset < LocalFileHeader::Size ||
      !fileio::ReadAt(fd, localOffset, raw, sizeof raw))
    return false;
  return LocateDataIn(raw, localOffset, packed, limit, dataOffset, extraLength);
}

// From an entry's local header to the end of its data; `placed` false when it has none.
struct Span {
  uint64_t begin = 0, end = 0;
  bool placed = false;
};

// For each span, whether it shares a byte with another.
inline std::vector<bool> Overlapping(const std::vector<Span>& spans) {
  std::vector<bool> shared(spans.size(), false);
  std::vector<size_t> order;
  for (size_t i = 0; i < spans.size(); ++i)
    if (spans[i].placed) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return spans[a].begin < spans[b].begin; });
  // A span that starts before the furthest end so far shares bytes with the one reaching it.
  uint64_t reach = 0;
  size_t reacher = SIZE_MAX;
  for (size_t i : order) {
    if (reacher != SIZE_MAX && spans[i].begin < reach) shared[i] = shared[reacher] = true;
    if (reacher == SIZE_MAX || spans[i].end > reach) reach = spans[i].end, reacher = i;
  }
  return shared;
}

}  // namespace entryspans
