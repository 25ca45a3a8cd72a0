#pragma once
// A plain Deflate64 decoder that reads one bit at a time, as the format describes it, kept
// only so that the codec fuzzer can check the table-driven decoder against it: the two must
// agree on the output and on whether a stream is whole, for every input.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace reference {

enum class Result { kOk, kTrailing, kFailed, kLimit };

class Inflate64 {
 public:
  Inflate64(const uint8_t* data, size_t size, size_t limit) : in_(data), size_(size), limit_(limit) {}

  Result Run() {
    int last;
    do {
      last = Bits(1);
      const int type = Bits(2);
      if (failed_) return Result::kFailed;
      const Result r = type == 0 ? Stored() : type == 1 ? Fixed() : type == 2 ? Dynamic() : Result::kFailed;
      if (r != Result::kOk) return r;
    } while (!last);
    return pos_ < size_ ? Result::kTrailing : Result::kOk;  // bits left in the last byte are padding
  }
  const std::vector<uint8_t>& Output() const { return out_; }

 private:
  struct Huffman {
    uint16_t count[16];
    uint16_t symbol[320];
  };

  int Bits(int need) {
    while (bitCount_ < need) {
      if (pos_ == size_) {
        failed_ = true;
        return 0;
      }
      bitBuf_ |= uint32_t(in_[pos_++]) << bitCount_;
      bitCount_ += 8;
    }
    const int value = int(bitBuf_ & ((1u << need) - 1));
    bitBuf_ >>= need;
    bitCount_ -= need;
    return value;
  }

  int Decode(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 15; ++len) {
      code |= Bits(1);
      if (failed_) return -1;
      const int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  // False for an over-subscribed code, or an incomplete one with more than one code.
  static bool Build(Huffman& h, const uint8_t* lengths, int n) {
    std::memset(h.count, 0, sizeof h.count);
    for (int s = 0; s < n; ++s) h.count[lengths[s]]++;
    int left = 1, used = 0;
    for (int len = 1; len <= 15; ++len) {
      left = (left << 1) - h.count[len];
      if (left < 0) return false;
      used += h.count[len];
    }
    uint16_t offs[16];
    offs[1] = 0;
    for (int len = 1; len < 15; ++len) offs[len + 1] = uint16_t(offs[len] + h.count[len]);
    for (int s = 0; s < n; ++s)
      if (lengths[s]) h.symbol[offs[lengths[s]]++] = uint16_t(s);
    return left == 0 || used <= 1;
  }

  bool Put(uint8_t byte) {
    if (out_.size() == limit_) return false;
    out_.push_back(byte);
    return true;
  }

  Result Stored() {
    bitBuf_ = 0, bitCount_ = 0;
    const int len = Bits(16), nlen = Bits(16);
    if (failed_ || len != (~nlen & 0xFFFF)) return Result::kFailed;
    for (int i = 0; i < len; ++i) {
      const int b = Bits(8);
      if (failed_) return Result::kFailed;
      if (!Put(uint8_t(b))) return Result::kLimit;
    }
    return Result::kOk;
  }

  Result Codes(const Huffman& lit, const Huffman& dist) {
    static const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
    static const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
    for (;;) {
      const int symbol = Decode(lit);
      if (symbol < 0 || failed_) return Result::kFailed;
      if (symbol < 256) {
        if (!Put(uint8_t(symbol))) return Result::kLimit;
        continue;
      }
      if (symbol == 256) return Result::kOk;
      if (symbol > 285) return Result::kFailed;
      const uint32_t length = kLengthBase[symbol - 257] + uint32_t(Bits(kLengthExtra[symbol - 257]));
      const int d = Decode(dist);
      if (d < 0 || failed_) return Result::kFailed;
      const int extra = d < 4 ? 0 : d / 2 - 1;
      const uint32_t base = d < 4 ? uint32_t(d + 1) : ((2u + (d & 1)) << extra) + 1;
      const uint32_t distance = base + uint32_t(Bits(extra));
      if (failed_ || distance > out_.size()) return Result::kFailed;
      for (uint32_t i = 0; i < length; ++i)
        if (!Put(out_[out_.size() - distance])) return Result::kLimit;
    }
  }

  Result Fixed() {
    uint8_t lengths[320];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    Huffman lit, dist;
    Build(lit, lengths, 288);
    std::memset(lengths, 5, 32);
    Build(dist, lengths, 32);
    return Codes(lit, dist);
  }

  Result Dynamic() {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int nlit = Bits(5) + 257, ndist = Bits(5) + 1, npre = Bits(4) + 4;
    if (failed_ || nlit > 286) return Result::kFailed;
    uint8_t lengths[320] = {};
    for (int i = 0; i < npre; ++i) lengths[kOrder[i]] = uint8_t(Bits(3));
    Huffman pre, lit, dist;
    if (failed_ || !Build(pre, lengths, 19)) return Result::kFailed;
    std::memset(lengths, 0, 19);
    for (int i = 0; i < nlit + ndist;) {
      const int symbol = Decode(pre);
      if (symbol < 0 || failed_) return Result::kFailed;
      if (symbol < 16) {
        lengths[i++] = uint8_t(symbol);
        continue;
      }
      if (symbol == 16 && i == 0) return Result::kFailed;
      const uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
      int repeat = symbol == 16 ? 3 + Bits(2) : symbol == 17 ? 3 + Bits(3) : 11 + Bits(7);
      if (failed_ || i + repeat > nlit + ndist) return Result::kFailed;
      while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0 || !Build(lit, lengths, nlit) || !Build(dist, lengths + nlit, ndist))
      return Result::kFailed;
    return Codes(lit, dist);
  }

  const uint8_t* in_;
  size_t size_, pos_ = 0, limit_;
  uint32_t bitBuf_ = 0;
  int bitCount_ = 0;
  bool failed_ = false;
  std::vector<uint8_t> out_;
};

}  // namespace reference
