#include "DeflateDecoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <new>

namespace sluice {
namespace {

constexpr size_t kChunk = CodecBuffers::kSize;

}  // namespace

DeflateDecoder::DeflateDecoder() {
  whole_ = libdeflate_alloc_decompressor();
  stream_ = new (std::nothrow) z_stream{};
  if (stream_ && inflateInit2(stream_, -MAX_WBITS) != Z_OK) {
    delete stream_;
    stream_ = nullptr;
  }
}

DeflateDecoder::~DeflateDecoder() {
  if (whole_) libdeflate_free_decompressor(whole_);
  if (stream_) {
    inflateEnd(stream_);
    delete stream_;
  }
}

bool DeflateDecoder::Reserve(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t size) {
  if (capacity >= size) return true;
  // Doubling spares the regrowth of every somewhat larger entry; the limit keeps it bounded.
  const size_t grown = std::max(size, std::min(capacity * 2, size_t(kWholeLimit) + 1));
  buffer.reset(new (std::nothrow) uint8_t[grown]);
  capacity = buffer ? grown : 0;
  return bool(buffer);
}

CodecResult DeflateDecoder::Decode(const CodecSource& source, const CodecSink& sink, uint64_t packed,
                                   uint64_t unpacked) {
  if (whole_ && FitsWhole(packed, unpacked)) return DecodeWhole(source, sink, packed, unpacked);
  return DecodeStream(source, sink, unpacked);
}

CodecResult DeflateDecoder::DecodeWhole(const CodecSource& source, const CodecSink& sink, uint64_t packed,
                                        uint64_t unpacked) {
  if (!whole_ || !FitsWhole(packed, unpacked)) return DecodeStream(source, sink, unpacked);
  // One byte more than declared, so that a source giving more than that shows.
  if (!Reserve(in_, inCapacity_, std::max<size_t>(size_t(packed) + 1, kChunk)) ||
      !Reserve(out_, outCapacity_, std::max<size_t>(size_t(unpacked), kChunk)))
    return CodecResult::kNoMemory;
  // Read to the source's end: an encrypted one checks its authentication code there.
  size_t got = 0;
  for (;;) {
    if (got > packed) return CodecResult::kTrailing;
    const ptrdiff_t n = source(in_.get() + got, size_t(packed) + 1 - got);
    if (n < 0) return CodecResult::kReadError;
    if (n == 0) break;
    got += size_t(n);
  }
  size_t used = 0, produced = 0;
  const libdeflate_result r =
      libdeflate_deflate_decompress_ex(whole_, in_.get(), got, out_.get(), size_t(unpacked), &used, &produced);
  if (r == LIBDEFLATE_INSUFFICIENT_SPACE) return CodecResult::kTooLarge;
  if (r != LIBDEFLATE_SUCCESS || used > got) {
    // Damaged or cut short: zlib, from the bytes in hand, tells which (and where libdeflate
    // and zlib ever disagree, zlib's reading holds).
    return Inflate(nullptr, in_.get(), got, sink, unpacked);
  }
  for (size_t at = 0; at < produced;) {  // in steps, so that progress is told as it goes
    const size_t n = std::min(kChunk, produced - at);
    if (!sink(out_.get() + at, n)) return CodecResult::kStopped;
    at += n;
  }
  return used < got ? CodecResult::kTrailing : CodecResult::kOk;
}

CodecResult DeflateDecoder::DecodeStream(const CodecSource& source, const CodecSink& sink, uint64_t unpacked) {
  if (!Reserve(in_, inCapacity_, kChunk)) return CodecResult::kNoMemory;
  return Inflate(&source, nullptr, 0, sink, unpacked);
}

CodecResult DeflateDecoder::Inflate(const CodecSource* source, const uint8_t* held, size_t heldSize,
                                    const CodecSink& sink, uint64_t unpacked) {
  if (!stream_ || inflateReset(stream_) != Z_OK || !Reserve(out_, outCapacity_, kChunk))
    return CodecResult::kNoMemory;
  z_stream& z = *stream_;
  // Input either held in memory whole or read from the source in chunks.
  bool inputEnded = held != nullptr;
  z.next_in = const_cast<uint8_t*>(held);
  z.avail_in = uInt(heldSize);
  uint64_t produced = 0;
  for (;;) {
    if (z.avail_in == 0 && !inputEnded) {
      const ptrdiff_t n = (*source)(in_.get(), kChunk);
      if (n < 0) return CodecResult::kReadError;
      inputEnded = n == 0;
      z.next_in = in_.get();
      z.avail_in = uInt(n);
    }
    z.next_out = out_.get();
    z.avail_out = uInt(kChunk);
    const int r = inflate(&z, Z_NO_FLUSH);
    const size_t n = kChunk - z.avail_out;
    if (n > unpacked - produced) return CodecResult::kTooLarge;
    produced += n;
    if (n > 0 && !sink(out_.get(), n)) return CodecResult::kStopped;
    if (r == Z_STREAM_END) {
      if (held || inputEnded) return z.avail_in > 0 ? CodecResult::kTrailing : CodecResult::kOk;
      return AfterStreamEnd(z.avail_in, false, *source, in_.get(), kChunk);
    }
    if (r == Z_BUF_ERROR && inputEnded && z.avail_in == 0) return CodecResult::kTruncated;
    if (r != Z_OK && r != Z_BUF_ERROR) return r == Z_MEM_ERROR ? CodecResult::kNoMemory : CodecResult::kDamaged;
  }
}

}  // namespace sluice
