#pragma once
// A decoder for Deflate64 ("enhanced deflate", method 9): deflate with a 64 KiB window,
// length code 285 carrying 16 extra bits, and distance codes 30 and 31. zlib does not
// decode it and libzip does not either.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sluice {

class Inflate64 {
 public:
  // Fills the buffer with compressed bytes; 0 at the end of the input, -1 on a read error.
  using Source = std::function<ptrdiff_t(uint8_t* buffer, size_t size)>;
  // Takes decoded bytes; false stops the decoding (the result is then kStopped).
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;

  enum Result { kOk, kTruncated, kDamaged, kReadError, kStopped };

  Inflate64();
  Result Run(const Source& source, const Sink& sink);

 private:
  struct Huffman {
    uint16_t count[16];
    uint16_t symbol[320];
  };
  int Bits(int need);
  int Decode(const Huffman& h);
  bool Build(Huffman& h, const uint8_t* lengths, int n);
  Result Stored();
  Result Codes(const Huffman& lencode, const Huffman& distcode);
  Result Dynamic();
  void Put(uint8_t byte);
  bool Flush();

  const Source* source_ = nullptr;
  const Sink* sink_ = nullptr;
  std::vector<uint8_t> in_, window_;
  size_t inPos_ = 0, inEnd_ = 0;
  uint32_t bitBuf_ = 0;
  int bitCount_ = 0;
  size_t outPos_ = 0, flushed_ = 0;
  uint64_t total_ = 0;  // bytes decoded: no distance may reach before the first
  Result fault_ = kOk;  // set by Bits() and Put() when input ends or the sink stops
};

}  // namespace sluice
