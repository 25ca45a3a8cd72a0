#pragma once
// Deflate entries. One whose declared sizes fit kWholeLimit is read whole and decoded in one
// call of libdeflate into a buffer of exactly its declared size, two to three times as fast
// as zlib; a larger one is streamed through zlib, so that memory stays flat whatever the
// entry's size. The buffers and both decoders' states live as long as the decoder: a worker
// keeps one for all its entries. libdeflate reads a few invalid codes that zlib refuses (the
// reserved length symbols 286 and 287) as valid ones; the entry's CRC then judges the result.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Codec.h"

struct libdeflate_decompressor;
struct z_stream_s;

namespace sluice {

class DeflateDecoder {
 public:
  // Equal to the lead the worker of the reported entry may take (Batch.cpp): a whole entry
  // is decoded before any of it is reported, so that lead still bounds the work a cancel
  // waits for.
  static constexpr uint64_t kWholeLimit = 4 << 20;
  static bool FitsWhole(uint64_t packed, uint64_t unpacked) {
    return packed <= kWholeLimit && unpacked <= kWholeLimit;
  }

  DeflateDecoder();
  ~DeflateDecoder();
  DeflateDecoder(const DeflateDecoder&) = delete;
  DeflateDecoder& operator=(const DeflateDecoder&) = delete;

  // A raw deflate stream of `packed` bytes declared to unpack to `unpacked`. kTooLarge as soon
  // as the output passes `unpacked`; output short of it is for the caller to refuse.
  CodecResult Decode(const CodecSource& source, const CodecSink& sink, uint64_t packed, uint64_t unpacked);

  // The two ways on their own, for the fuzz target that holds them to the same outcomes.
  CodecResult DecodeWhole(const CodecSource& source, const CodecSink& sink, uint64_t packed, uint64_t unpacked);
  CodecResult DecodeStream(const CodecSource& source, const CodecSink& sink, uint64_t unpacked);

 private:
  // zlib's reading, from the source or from `held` (the whole input, already read).
  CodecResult Inflate(const CodecSource* source, const uint8_t* held, size_t heldSize, const CodecSink& sink,
                      uint64_t unpacked);
  // Grows `buffer` (never shrinks it) to hold `size` bytes; false when out of memory.
  static bool Reserve(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t size);

  libdeflate_decompressor* whole_ = nullptr;
  z_stream_s* stream_ = nullptr;
  std::unique_ptr<uint8_t[]> in_, out_;  // kWholeLimit at most; streaming uses kChunk of each
  size_t inCapacity_ = 0, outCapacity_ = 0;
};

}  // namespace sluice
