#pragma once
// The encoder: one block of an entry's raw deflate stream. The only place that knows which
// deflate implementation is used, so that it can be exchanged here alone.
//
// libdeflate compresses a whole buffer into a complete stream that refers to nothing before
// it. So each block of a file is compressed on its own (at this block size the lost history
// costs under 0.05% of the archive), and a block that is not the file's last is opened up to
// be continued: its final deflate block becomes a non-final one, followed by an empty stored
// block that ends it on a byte boundary, as a sync flush does. The next block's output then
// follows it in the same stream.

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;
struct z_stream_s;

namespace kiln {

// How much of a file one call of the encoder takes.
constexpr size_t kBlockSize = 1 << 20;

// The libdeflate level that a level of the component (1-9) becomes: the same up to 8, and 10
// for 9, the first of libdeflate's near-optimal levels.
int EncoderLevel(int level);

// Bit positions, counted from the stream's first byte, lowest bit first.
struct FinalBlock {
  uint64_t start = 0;  // of its header, the bit that marks it final
  uint64_t end = 0;    // just after its end-of-block code (or its stored bytes)
};

class BlockCompressor {
 public:
  explicit BlockCompressor(int level);
  ~BlockCompressor();
  BlockCompressor(const BlockCompressor&) = delete;
  BlockCompressor& operator=(const BlockCompressor&) = delete;

  bool Usable() const { return encoder_ != nullptr && scanner_ != nullptr; }

  // `out` := `block` deflated, ended with a final block when `last`, else byte-aligned so that
  // the next block's output follows it in the same stream. False when the encoder failed.
  bool Compress(const uint8_t* block, size_t length, bool last, std::vector<uint8_t>& out);

  // Where the final block of the complete raw deflate stream `stream` lies; false when the
  // stream is damaged, incomplete or followed by more bytes.
  bool FindFinalBlock(const uint8_t* stream, size_t length, FinalBlock& found);

 private:
  libdeflate_compressor* encoder_ = nullptr;
  z_stream_s* scanner_ = nullptr;  // walks the blocks; its output is thrown away
  std::vector<uint8_t> scratch_;
};

}  // namespace kiln
