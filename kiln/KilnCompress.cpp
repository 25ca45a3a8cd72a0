#include "KilnCompress.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>

namespace kiln {

namespace {

constexpr size_t kScratchSize = 256 * 1024;

// An empty stored block's length and its complement, after its header and alignment.
constexpr uint8_t kEmptyStoredLengths[] = {0x00, 0x00, 0xFF, 0xFF};

}  // namespace

int EncoderLevel(int level) {
  level = std::clamp(level, 1, 9);
  return level == 9 ? 10 : level;
}

BlockCompressor::BlockCompressor(int level) {
  encoder_ = libdeflate_alloc_compressor(EncoderLevel(level));
  auto* s = new z_stream{};
  if (inflateInit2(s, -15) != Z_OK) {
    delete s;
    return;
  }
  scanner_ = s;
}

BlockCompressor::~BlockCompressor() {
  if (encoder_) libdeflate_free_compressor(encoder_);
  if (scanner_) {
    inflateEnd(scanner_);
    delete scanner_;
  }
}

bool BlockCompressor::FindFinalBlock(const uint8_t* stream, size_t length, FinalBlock& found) {
  // zlib stops at every block boundary when asked to (Z_BLOCK) and tells where in the input
  // it stands; libdeflate tells nothing of its blocks.
  z_stream& s = *scanner_;
  if (inflateReset(&s) != Z_OK) return false;
  scratch_.resize(kScratchSize);
  s.next_in = const_cast<Bytef*>(stream);
  s.avail_in = static_cast<uInt>(length);
  s.avail_out = 0;
  uint64_t start = 0;
  for (;;) {
    if (s.avail_out == 0) {  // the output is not wanted: the buffer is written over
      s.next_out = scratch_.data();
      s.avail_out = static_cast<uInt>(scratch_.size());
    }
    const int rc = inflate(&s, Z_BLOCK);
    if (rc != Z_OK) return false;  // the final block's end comes before Z_STREAM_END
    // data_type: the bits of the last byte taken that are still unused, +64 once the block
    // being read is the final one, +128 at a block boundary.
    if ((s.data_type & 128) == 0) continue;
    const uint64_t at = static_cast<uint64_t>(s.total_in) * 8 - static_cast<unsigned>(s.data_type & 63);
    if ((s.data_type & 64) == 0) {
      start = at;
      continue;
    }
    found.start = start;
    found.end = at;
    return (at + 7) / 8 == length;
  }
}

bool BlockCompressor::Compress(const uint8_t* block, size_t length, bool last, std::vector<uint8_t>& out) {
  // Room for the empty stored block too: at most one byte of its header spills over.
  out.resize(libdeflate_deflate_compress_bound(encoder_, length) + 1 + sizeof kEmptyStoredLengths);
  const size_t produced = libdeflate_deflate_compress(encoder_, block, length, out.data(), out.size());
  if (produced == 0) return false;
  out.resize(produced);
  if (last) return true;

  FinalBlock final;
  if (!FindFinalBlock(out.data(), out.size(), final)) return false;
  out[final.start / 8] &= static_cast<uint8_t>(~(1u << (final.start % 8)));
  // The stored block's header (not final, type 0: three zero bits) follows at final.end and
  // is padded with zeros to the next byte.
  if (final.end % 8 != 0) out[final.end / 8] &= static_cast<uint8_t>((1u << (final.end % 8)) - 1);
  out.resize((final.end + 3 + 7) / 8, 0);
  out.insert(out.end(), std::begin(kEmptyStoredLengths), std::end(kEmptyStoredLengths));
  return true;
}

}  // namespace kiln
