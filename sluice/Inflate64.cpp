#include "Inflate64.h"

#include <cstring>

namespace sluice {
namespace {

constexpr size_t kWindow = 65536;
constexpr int kMaxBits = 15;

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
const uint32_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

}  // namespace

Inflate64::Inflate64() : in_(64 * 1024), window_(kWindow) {}

int Inflate64::Bits(int need) {
  while (bitCount_ < need) {
    if (inPos_ == inEnd_) {
      const ptrdiff_t n = fault_ == kOk ? (*source_)(in_.data(), in_.size()) : 0;
      if (n <= 0) {
        if (fault_ == kOk) fault_ = n < 0 ? kReadError : kTruncated;
        return 0;
      }
      inPos_ = 0, inEnd_ = size_t(n);
    }
    bitBuf_ |= uint32_t(in_[inPos_++]) << bitCount_;
    bitCount_ += 8;
  }
  const int value = int(bitBuf_ & ((1u << need) - 1));
  bitBuf_ >>= need;
  bitCount_ -= need;
  return value;
}

bool Inflate64::Flush() {
  if (outPos_ > flushed_ && !(*sink_)(&window_[flushed_], outPos_ - flushed_)) {
    fault_ = kStopped;
    return false;
  }
  flushed_ = outPos_;
  return true;
}

void Inflate64::Put(uint8_t byte) {
  window_[outPos_++] = byte;
  ++total_;
  if (outPos_ == kWindow) {
    Flush();
    outPos_ = flushed_ = 0;
  }
}

// Canonical code decoding, one bit at a time: slow but small, and Deflate64 is rare.
int Inflate64::Decode(const Huffman& h) {
  int code = 0, first = 0, index = 0;
  for (int len = 1; len <= kMaxBits; ++len) {
    code |= Bits(1);
    if (fault_ != kOk) return -1;
    const int count = h.count[len];
    if (code - count < first) return h.symbol[index + (code - first)];
    index += count;
    first += count;
    first <<= 1;
    code <<= 1;
  }
  return -1;
}

// False for an over-subscribed code, or an incomplete one other than a single code.
bool Inflate64::Build(Huffman& h, const uint8_t* lengths, int n) {
  std::memset(h.count, 0, sizeof h.count);
  for (int s = 0; s < n; ++s) h.count[lengths[s]]++;
  if (h.count[0] == n) return true;  // no codes: decoding any symbol fails later
  int left = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    left <<= 1;
    left -= h.count[len];
    if (left < 0) return false;
  }
  uint16_t offs[kMaxBits + 1];
  offs[1] = 0;
  for (int len = 1; len < kMaxBits; ++len) offs[len + 1] = uint16_t(offs[len] + h.count[len]);
  for (int s = 0; s < n; ++s)
    if (lengths[s] != 0) h.symbol[offs[lengths[s]]++] = uint16_t(s);
  return left == 0 || n - h.count[0] == 1;
}

Inflate64::Result Inflate64::Stored() {
  bitBuf_ = 0, bitCount_ = 0;  // to the byte boundary
  const int len = Bits(16), nlen = Bits(16);
  if (fault_ != kOk) return fault_;
  if (len != (~nlen & 0xFFFF)) return kDamaged;
  for (int i = 0; i < len; ++i) {
    const int b = Bits(8);
    if (fault_ != kOk) return fault_;
    Put(uint8_t(b));
  }
  return fault_;
}

Inflate64::Result Inflate64::Codes(const Huffman& lencode, const Huffman& distcode) {
  for (;;) {
    const int symbol = Decode(lencode);
    if (fault_ != kOk) return fault_;
    if (symbol < 0) return kDamaged;
    if (symbol < 256) {
      Put(uint8_t(symbol));
      if (fault_ != kOk) return fault_;
      continue;
    }
    if (symbol == 256) return kOk;
    const int li = symbol - 257;
    if (li >= 29) return kDamaged;
    const uint32_t length = kLengthBase[li] + uint32_t(Bits(kLengthExtra[li]));
    const int ds = Decode(distcode);
    if (fault_ != kOk) return fault_;
    if (ds < 0 || ds >= 32) return kDamaged;
    const uint32_t dist = kDistBase[ds] + uint32_t(Bits(kDistExtra[ds]));
    if (fault_ != kOk) return fault_;
    if (dist > total_) return kDamaged;
    size_t from = (outPos_ + kWindow - dist) % kWindow;
    for (uint32_t i = 0; i < length; ++i) {
      Put(window_[from]);
      if (fault_ != kOk) return fault_;
      from = (from + 1) % kWindow;
    }
  }
}

Inflate64::Result Inflate64::Dynamic() {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  const int nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
  if (fault_ != kOk) return fault_;
  if (nlen > 286 || ndist > 32) return kDamaged;
  uint8_t lengths[320] = {};
  for (int i = 0; i < ncode; ++i) lengths[kOrder[i]] = uint8_t(Bits(3));
  if (fault_ != kOk) return fault_;
  Huffman lencode, distcode;
  if (!Build(lencode, lengths, 19)) return kDamaged;
  int index = 0;
  while (index < nlen + ndist) {
    int symbol = Decode(lencode);
    if (fault_ != kOk) return fault_;
    if (symbol < 0) return kDamaged;
    if (symbol < 16) {
      lengths[index++] = uint8_t(symbol);
      continue;
    }
    uint8_t len = 0;
    int repeat;
    if (symbol == 16) {
      if (index == 0) return kDamaged;
      len = lengths[index - 1];
      repeat = 3 + Bits(2);
    } else if (symbol == 17) {
      repeat = 3 + Bits(3);
    } else {
      repeat = 11 + Bits(7);
    }
    if (fault_ != kOk) return fault_;
    if (index + repeat > nlen + ndist) return kDamaged;
    while (repeat--) lengths[index++] = len;
  }
  if (lengths[256] == 0) return kDamaged;
  if (!Build(lencode, lengths, nlen) || !Build(distcode, lengths + nlen, ndist)) return kDamaged;
  return Codes(lencode, distcode);
}

Inflate64::Result Inflate64::Run(const Source& source, const Sink& sink) {
  source_ = &source, sink_ = &sink;
  inPos_ = inEnd_ = 0, bitBuf_ = 0, bitCount_ = 0, outPos_ = flushed_ = 0, total_ = 0;
  fault_ = kOk;
  static Huffman fixedLen, fixedDist;
  static const bool fixedReady = [] {
    uint8_t lengths[320];
    int s = 0;
    for (; s < 144; ++s) lengths[s] = 8;
    for (; s < 256; ++s) lengths[s] = 9;
    for (; s < 280; ++s) lengths[s] = 7;
    for (; s < 288; ++s) lengths[s] = 8;
    Inflate64 builder;
    builder.Build(fixedLen, lengths, 288);
    for (s = 0; s < 32; ++s) lengths[s] = 5;
    builder.Build(fixedDist, lengths, 32);
    return true;
  }();
  (void)fixedReady;
  int last = 0;
  do {
    last = Bits(1);
    const int type = Bits(2);
    if (fault_ != kOk) return fault_;
    Result r = type == 0 ? Stored() : type == 1 ? Codes(fixedLen, fixedDist) : type == 2 ? Dynamic() : kDamaged;
    if (r != kOk) return r;
  } while (!last);
  return Flush() ? kOk : kStopped;
}

}  // namespace sluice
