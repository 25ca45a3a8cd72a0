#include "Inflate64.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace sluice {
namespace {

constexpr size_t kHistory = 64 * 1024;    // the farthest a distance reaches
constexpr size_t kFlushEvery = 256 * 1024;
constexpr size_t kMaxMatch = 65538;       // length code 285: 3 plus 16 extra bits
constexpr size_t kSlack = 64;             // matches are copied in whole words, past their end
constexpr size_t kOutSize = kHistory + kFlushEvery + kMaxMatch + kSlack;
constexpr size_t kInSize = 128 * 1024;

constexpr int kMaxLength = 15;
constexpr unsigned kLitRoot = 11, kDistRoot = 8, kPreRoot = 7;
// Every complete code fits: at most one subtable per two codes, none deeper than 15 bits.
constexpr size_t kLitCapacity = (1u << kLitRoot) + 144 * (1u << (kMaxLength - kLitRoot));
constexpr size_t kDistCapacity = (1u << kDistRoot) + 16 * (1u << (kMaxLength - kDistRoot));
constexpr size_t kPreCapacity = 1u << kPreRoot;

// A table entry: bits 0-7 the code's length in bits, 8-12 its extra bits (or a subtable's
// index bits), 13-15 its kind, 16-31 its value (a literal, a base, a subtable's start).
constexpr uint32_t kLiteral = 1u << 13, kSubtable = 1u << 14, kSpecial = 1u << 15;
constexpr uint32_t kEndOfBlock = kSpecial, kInvalid = kSpecial | 1u << 16;

constexpr uint32_t Info(uint32_t value, uint32_t extra, uint32_t kind) { return value << 16 | extra << 8 | kind; }

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// What each symbol of the three alphabets stands for, before its code length is added.
struct Alphabets {
  uint32_t lit[288], dist[32], pre[19];
  Alphabets() {
    for (uint32_t s = 0; s < 256; ++s) lit[s] = Info(s, 0, kLiteral);
    lit[256] = kEndOfBlock;
    for (int i = 0; i < 29; ++i) lit[257 + i] = Info(kLengthBase[i], kLengthExtra[i], 0);
    lit[286] = lit[287] = kInvalid;  // coded by the fixed code, but never valid
    for (int i = 0; i < 32; ++i) dist[i] = Info(kDistBase[i], kDistExtra[i], 0);
    for (uint32_t i = 0; i < 19; ++i) pre[i] = Info(i, 0, 0);
  }
};
const Alphabets& Symbols() {
  static const Alphabets a;
  return a;
}

uint32_t Reverse(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; ++i) r = r << 1 | (code >> i & 1);
  return r;
}

// Fills a lookup table for canonical code lengths: `root` bits index the main table, longer
// codes continue in subtables. False for an over-subscribed code, or an incomplete one with
// more than one code (a single code, or none, is allowed: using a missing code is damage).
bool BuildTable(uint32_t* table, size_t capacity, unsigned root, const uint8_t* lengths, const uint32_t* info,
                int n) {
  uint16_t count[kMaxLength + 1] = {};
  for (int s = 0; s < n; ++s) count[lengths[s]]++;
  count[0] = 0;
  int left = 1, used = 0;
  for (int len = 1; len <= kMaxLength; ++len) {
    left = (left << 1) - count[len];
    if (left < 0) return false;
    used += count[len];
  }
  if (left > 0 && used > 1) return false;

  uint16_t offs[kMaxLength + 1], sorted[288];
  offs[1] = 0;
  for (int len = 1; len < kMaxLength; ++len) offs[len + 1] = uint16_t(offs[len] + count[len]);
  for (int s = 0; s < n; ++s)
    if (lengths[s] != 0) sorted[offs[lengths[s]]++] = uint16_t(s);

  const uint32_t rootSize = 1u << root, rootMask = rootSize - 1;
  std::fill(table, table + rootSize, kInvalid);
  uint16_t remaining[kMaxLength + 1];
  std::memcpy(remaining, count, sizeof count);
  size_t next = rootSize;
  uint32_t code = 0, prefix = ~0u, subBase = 0, subBits = 0;
  int k = 0;
  for (unsigned len = 1; len <= kMaxLength; ++len, code <<= 1) {
    for (int c = 0; c < count[len]; ++c, ++code, --remaining[len]) {
      const uint32_t entry = info[sorted[k++]];
      const uint32_t rev = Reverse(code, int(len));
      if (len <= root) {
        for (uint32_t i = rev; i < rootSize; i += 1u << len) table[i] = entry | len;
        continue;
      }
      if ((rev & rootMask) != prefix) {
        // A new subtable, as deep as the codes that share this prefix need.
        prefix = rev & rootMask;
        subBits = len - root;
        int free = 1 << subBits;
        while (subBits + root < kMaxLength) {
          free -= remaining[subBits + root];
          if (free <= 0) break;
          ++subBits;
          free <<= 1;
        }
        if (next + (size_t(1) << subBits) > capacity) return false;
        subBase = uint32_t(next);
        next += size_t(1) << subBits;
        std::fill(table + subBase, table + next, kInvalid);
        table[prefix] = Info(subBase, subBits, kSubtable) | root;
      }
      for (uint32_t i = rev >> root; i < (1u << subBits); i += 1u << (len - root))
        table[subBase + i] = entry | (len - root);
    }
  }
  return true;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

}  // namespace

struct Inflate64::Tables {
  uint32_t lit[kLitCapacity], dist[kDistCapacity], pre[kPreCapacity];
};

namespace {

const Inflate64::Tables& Fixed() {
  static const auto* fixed = [] {
    auto* t = new Inflate64::Tables;
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    BuildTable(t->lit, kLitCapacity, kLitRoot, lengths, Symbols().lit, 288);
    std::fill(lengths, lengths + 32, 5);
    BuildTable(t->dist, kDistCapacity, kDistRoot, lengths, Symbols().dist, 32);
    return t;
  }();
  return *fixed;
}

}  // namespace

Inflate64::Inflate64()
    : in_(new uint8_t[kInSize]), out_(new uint8_t[kOutSize]), tables_(std::make_unique<Tables>()) {}

Inflate64::~Inflate64() = default;

bool Inflate64::Fetch() {
  if (ended_) return false;
  const ptrdiff_t n = (*source_)(in_.get(), kInSize);
  if (n <= 0) {
    ended_ = true;
    readError_ = n < 0;
    return false;
  }
  s_.in = in_.get();
  s_.inEnd = s_.in + n;
  return true;
}

// At least 56 bits in the buffer afterwards, zeros past the end of the input.
void Inflate64::Fill() {
  if (s_.inEnd - s_.in >= 8) {
    s_.bitbuf |= Load64(s_.in) << s_.bitcount;
    s_.in += (63 - s_.bitcount) >> 3;
    s_.bitcount |= 56;
  } else {
    SlowFill();
  }
}

void Inflate64::SlowFill() {
  while (s_.bitcount < 56) {
    if (s_.in == s_.inEnd && !Fetch()) {
      s_.bitcount += 8;
      s_.virt += 8;
      continue;
    }
    s_.bitbuf |= uint64_t(*s_.in++) << s_.bitcount;
    s_.bitcount += 8;
  }
}

uint32_t Inflate64::Take(unsigned n) {
  const uint32_t v = uint32_t(s_.bitbuf & ((uint64_t(1) << n) - 1));
  s_.bitbuf >>= n;
  s_.bitcount -= n;
  return v;
}

// Hands on what was decoded and keeps the last 64 KiB at the front as history.
bool Inflate64::Slide() {
  uint8_t* buf = out_.get();
  if (outPos_ > flushed_ && !(*sink_)(buf + flushed_, outPos_ - flushed_)) return false;
  const size_t shift = outPos_ - kHistory;
  std::memmove(buf, buf + shift, kHistory);
  origin_ += shift;
  outPos_ = flushed_ = kHistory;
  return true;
}

CodecResult Inflate64::Stored() {
  Take(s_.bitcount & 7);  // to the byte boundary
  Fill();
  uint32_t length = Take(16);
  const uint32_t check = Take(16);
  if (Overran()) return Short();
  if (length != (~check & 0xFFFF)) return CodecResult::kDamaged;
  if (outPos_ >= kHistory + kFlushEvery && !Slide()) return CodecResult::kStopped;
  uint8_t* out = out_.get() + outPos_;
  // Whole bytes still in the bit buffer come first.
  for (; length > 0 && s_.bitcount >= 8; --length) {
    *out++ = uint8_t(Take(8));
    if (Overran()) return Short();
  }
  if (length > 0) s_.bitbuf = 0;  // the buffer is empty: the input is read directly
  while (length > 0) {
    if (s_.in == s_.inEnd && !Fetch()) return Short();
    const size_t n = std::min<size_t>(length, size_t(s_.inEnd - s_.in));
    std::memcpy(out, s_.in, n);
    out += n, s_.in += n, length -= uint32_t(n);
  }
  outPos_ = size_t(out - out_.get());
  return CodecResult::kOk;
}

CodecResult Inflate64::Dynamic() {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  Fill();
  const int nlit = int(Take(5)) + 257, ndist = int(Take(5)) + 1, npre = int(Take(4)) + 4;
  if (Overran()) return Short();
  if (nlit > 286) return CodecResult::kDamaged;
  uint8_t lengths[288 + 32] = {};
  for (int i = 0; i < npre; ++i) {
    Fill();
    lengths[kOrder[i]] = uint8_t(Take(3));
  }
  if (Overran()) return Short();
  Tables& t = *tables_;
  if (!BuildTable(t.pre, kPreCapacity, kPreRoot, lengths, Symbols().pre, 19)) return CodecResult::kDamaged;
  std::memset(lengths, 0, 19);
  for (int i = 0; i < nlit + ndist;) {
    Fill();
    const uint32_t e = t.pre[s_.bitbuf & (kPreCapacity - 1)];
    Take(e & 0xFF);
    if (e & kSpecial) return Overran() ? Short() : CodecResult::kDamaged;
    const uint32_t symbol = e >> 16;
    if (symbol < 16) {
      lengths[i++] = uint8_t(symbol);
      continue;
    }
    uint8_t value = 0;
    int repeat;
    if (symbol == 16) {
      if (i == 0) return CodecResult::kDamaged;
      value = lengths[i - 1];
      repeat = 3 + int(Take(2));
    } else if (symbol == 17) {
      repeat = 3 + int(Take(3));
    } else {
      repeat = 11 + int(Take(7));
    }
    if (i + repeat > nlit + ndist) return Overran() ? Short() : CodecResult::kDamaged;
    std::memset(lengths + i, value, size_t(repeat));
    i += repeat;
  }
  if (Overran()) return Short();
  if (lengths[256] == 0) return CodecResult::kDamaged;  // a block must be able to end
  if (!BuildTable(t.lit, kLitCapacity, kLitRoot, lengths, Symbols().lit, nlit) ||
      !BuildTable(t.dist, kDistCapacity, kDistRoot, lengths + nlit, Symbols().dist, ndist))
    return CodecResult::kDamaged;
  return Codes(t.lit, t.dist);
}

// The hot loop keeps the reader's state in locals: every byte stored through the output
// pointer could otherwise alias it and force it back to memory.
CodecResult Inflate64::Codes(const uint32_t* lit, const uint32_t* dist) {
  uint8_t* const buf = out_.get();
  uint8_t* const flushAt = buf + kHistory + kFlushEvery;
  uint8_t* out = buf + outPos_;
  uint64_t bitbuf = s_.bitbuf, origin = origin_;
  unsigned bitcount = s_.bitcount, virt = s_.virt;
  const uint8_t* in = s_.in;
  const uint8_t* inEnd = s_.inEnd;
  const auto save = [&] {
    s_ = {bitbuf, bitcount, virt, in, inEnd};
    outPos_ = size_t(out - buf);
  };
  const auto refill = [&] {
    if (inEnd - in >= 8) {
      bitbuf |= Load64(in) << bitcount;
      in += (63 - bitcount) >> 3;
      bitcount |= 56;
    } else {
      save();
      SlowFill();
      bitbuf = s_.bitbuf, bitcount = s_.bitcount, virt = s_.virt, in = s_.in, inEnd = s_.inEnd;
    }
  };
  const auto lookup = [&](const uint32_t* table, unsigned root) {
    uint32_t e = table[bitbuf & ((1u << root) - 1)];
    if (e & kSubtable) {
      bitbuf >>= root;
      bitcount -= root;
      e = table[(e >> 16) + (bitbuf & ((1u << (e >> 8 & 31)) - 1))];
    }
    bitbuf >>= e & 0xFF;
    bitcount -= e & 0xFF;
    return e;
  };
  const auto extra = [&](uint32_t e) {
    const unsigned n = e >> 8 & 31;
    const uint32_t v = (e >> 16) + uint32_t(bitbuf & ((uint64_t(1) << n) - 1));
    bitbuf >>= n;
    bitcount -= n;
    return v;
  };

  for (;;) {
    if (out >= flushAt) {
      save();
      if (!Slide()) return CodecResult::kStopped;
      out = buf + outPos_;
      origin = origin_;
    }
    refill();
    uint32_t e = lookup(lit, kLitRoot);
    if (e & kLiteral) {
      if (bitcount < virt) break;
      *out++ = uint8_t(e >> 16);
      // 56 bits hold two more codes of at most 15 bits: literals come in runs.
      e = lit[bitbuf & ((1u << kLitRoot) - 1)];
      if (!(e & kLiteral)) continue;
      bitbuf >>= e & 0xFF;
      bitcount -= e & 0xFF;
      if (bitcount < virt) break;
      *out++ = uint8_t(e >> 16);
      e = lit[bitbuf & ((1u << kLitRoot) - 1)];
      if (!(e & kLiteral)) continue;
      bitbuf >>= e & 0xFF;
      bitcount -= e & 0xFF;
      if (bitcount < virt) break;
      *out++ = uint8_t(e >> 16);
      continue;
    }
    if (e & kSpecial) {
      if (bitcount < virt) break;
      save();
      return e == (kEndOfBlock | (e & 0xFF)) ? CodecResult::kOk : CodecResult::kDamaged;
    }
    const uint32_t length = extra(e);  // at most 31 bits so far: 25 or more are left
    if (bitcount < 30) refill();
    const uint32_t d = lookup(dist, kDistRoot);
    if (d & kSpecial) {
      if (bitcount < virt) break;
      return CodecResult::kDamaged;
    }
    const uint32_t distance = extra(d);
    if (bitcount < virt) break;
    if (distance > uint64_t(out - buf) + origin) return CodecResult::kDamaged;

    const uint8_t* from = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 16) {
      do {
        std::memcpy(out, from, 16);
        out += 16, from += 16;
      } while (out < end);
    } else if (distance >= 8) {
      do {
        std::memcpy(out, from, 8);
        out += 8, from += 8;
      } while (out < end);
    } else if (distance == 1) {
      const uint64_t v = 0x0101010101010101ull * *from;
      do {
        std::memcpy(out, &v, 8);
        out += 8;
      } while (out < end);
    } else {
      while (out < end) *out++ = *from++;
    }
    out = end;
  }
  save();
  return Short();
}

CodecResult Inflate64::Run(const CodecSource& source, const CodecSink& sink) {
  source_ = &source, sink_ = &sink;
  s_ = {};
  ended_ = readError_ = false;
  outPos_ = flushed_ = 0;
  origin_ = 0;
  const Tables& fixed = Fixed();
  for (bool last = false; !last;) {
    Fill();
    const uint32_t header = Take(3);
    if (Overran()) return Short();
    last = header & 1;
    const uint32_t type = header >> 1;
    const CodecResult r = type == 0   ? Stored()
                          : type == 1 ? Codes(fixed.lit, fixed.dist)
                          : type == 2 ? Dynamic()
                                      : CodecResult::kDamaged;
    if (r != CodecResult::kOk) return r;
  }
  if (outPos_ > flushed_ && !sink(out_.get() + flushed_, outPos_ - flushed_)) return CodecResult::kStopped;
  // What is left after the final block's last byte must be nothing.
  Take(s_.bitcount & 7);
  if (s_.bitcount > s_.virt) return CodecResult::kTrailing;
  if (readError_) return CodecResult::kReadError;
  return AfterStreamEnd(size_t(s_.inEnd - s_.in), ended_, source, in_.get(), kInSize);
}

}  // namespace sluice

namespace sluice {

CodecResult DecodeDeflate64(const CodecSource& source, const CodecSink& sink) { return Inflate64().Run(source, sink); }

}  // namespace sluice
