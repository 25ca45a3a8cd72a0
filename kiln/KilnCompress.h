#pragma once
// The encoder: one block of an entry's raw deflate stream. The only place that knows which
// deflate implementation is used, so that it can be exchanged here alone.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiln {

// How much of the bytes in front of a block primes its compression.
constexpr size_t kDictionarySize = 32 * 1024;

class BlockCompressor {
 public:
  explicit BlockCompressor(int level);
  ~BlockCompressor();
  BlockCompressor(const BlockCompressor&) = delete;
  BlockCompressor& operator=(const BlockCompressor&) = delete;

  bool Usable() const { return stream_ != nullptr; }

  // `out` := `block` deflated, primed with `dictionary` (the up to kDictionarySize bytes in
  // front of it), ended with a final block when `last`, else byte-aligned so that the next
  // block's output follows it in the same stream. False when the encoder failed.
  bool Compress(const uint8_t* dictionary, size_t dictionaryLength, const uint8_t* block, size_t length, bool last,
                std::vector<uint8_t>& out);

 private:
  void* stream_ = nullptr;
};

}  // namespace kiln
