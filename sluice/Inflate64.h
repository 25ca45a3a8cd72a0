#pragma once
// A decoder for Deflate64 ("enhanced deflate", method 9): deflate with a 64 KiB window,
// length code 285 carrying 16 extra bits (lengths up to 65,538), and distance codes 30 and
// 31. zlib does not decode it and libzip does not either.
//
// Codes are looked up in two-level tables, a whole code (and its extra bits) at a time, from
// a 64-bit bit buffer refilled a word at a time; output goes to one flat buffer that keeps
// the last 64 KiB as history when it is handed on.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Codec.h"

namespace sluice {

class Inflate64 {
 public:
  Inflate64();
  ~Inflate64();
  Inflate64(const Inflate64&) = delete;
  Inflate64& operator=(const Inflate64&) = delete;

  // Decodes one stream; data after its final block counts as damage (kTrailing).
  CodecResult Run(const CodecSource& source, const CodecSink& sink);

  struct Tables;

 private:
  // The bit reader. Bits above `bitcount` in `bitbuf` are the next input bits or zero;
  // `virt` counts zero bits appended past the end of the input: consuming any of them
  // (bitcount < virt) means the input was cut short.
  struct Bits {
    uint64_t bitbuf = 0;
    unsigned bitcount = 0, virt = 0;
    const uint8_t* in = nullptr;
    const uint8_t* inEnd = nullptr;
  };

  void Fill();
  void SlowFill();
  bool Fetch();
  uint32_t Take(unsigned n);
  bool Overran() const { return s_.bitcount < s_.virt; }
  CodecResult Short() const { return readError_ ? CodecResult::kReadError : CodecResult::kTruncated; }
  bool Slide();
  CodecResult Stored();
  CodecResult Dynamic();
  CodecResult Codes(const uint32_t* lit, const uint32_t* dist);

  const CodecSource* source_ = nullptr;
  const CodecSink* sink_ = nullptr;
  std::unique_ptr<uint8_t[]> in_, out_;
  std::unique_ptr<Tables> tables_;  // the current dynamic block's
  Bits s_;
  bool ended_ = false, readError_ = false;
  size_t outPos_ = 0, flushed_ = 0;
  uint64_t origin_ = 0;  // stream position of out_[0]: no distance may reach before position 0
};

}  // namespace sluice
