#pragma once
// What every decoder of an entry's compressed data reads from, writes to and reports, so
// that the entry decoder turns each outcome into one message whatever the method.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sluice {

// Fills the buffer with compressed bytes; 0 at the end of the entry's data, -1 on a read
// error. Not called again once it gave 0: an encrypted source checks its authentication
// code then.
using CodecSource = std::function<ptrdiff_t(uint8_t* buffer, size_t size)>;
// Takes decoded bytes; false stops the decoding (the result is then kStopped).
using CodecSink = std::function<bool(const uint8_t* data, size_t size)>;

enum class CodecResult {
  kOk,
  kTruncated,     // the data ends inside the stream
  kDamaged,       // the stream breaks its format
  kTrailing,      // bytes follow the end of the stream within the entry's data
  kTooLarge,      // the stream holds more than the entry declares
  kReadError,     // the source failed
  kStopped,       // the sink said stop
  kNoMemory,
  kTooDemanding,  // the stream asks for more memory than is allowed (a dictionary or window)
  kUnsupported,   // options of the method that the library does not take
};

// The input and output buffers of the library-backed decoders (not zeroed: they are
// allocated for every entry).
struct CodecBuffers {
  static constexpr size_t kSize = 256 * 1024;
  std::unique_ptr<uint8_t[]> in{new uint8_t[kSize]}, out{new uint8_t[kSize]};
};

// After the end of a stream, with `leftover` bytes of the source's data still unread by the
// decoder and `ended` when the source already gave 0: kOk only when nothing at all follows.
// 7-Zip refuses such data too; it is either damage or something smuggled past the tools
// that ignore it. Reading to the end also has an encrypted source check its authentication.
inline CodecResult AfterStreamEnd(size_t leftover, bool ended, const CodecSource& source, uint8_t* scratch,
                                  size_t size) {
  if (leftover > 0) return CodecResult::kTrailing;
  if (ended) return CodecResult::kOk;
  const ptrdiff_t n = source(scratch, size);
  return n < 0 ? CodecResult::kReadError : n > 0 ? CodecResult::kTrailing : CodecResult::kOk;
}

// The methods, each decoder in a file of its own (deflate: DeflateDecoder.h).
enum : uint16_t { kMethodDeflate = 8, kMethodDeflate64 = 9, kMethodBzip2 = 12, kMethodLzma = 14,
                  kMethodZstdOld = 20, kMethodZstd = 93, kMethodXz = 95 };
CodecResult DecodeDeflate64(const CodecSource& source, const CodecSink& sink);  // Inflate64.cpp
CodecResult DecodeBzip2(const CodecSource& source, const CodecSink& sink);
// `endMarker` (flag bit 1) says the stream ends with a marker; without it the stream ends
// after `unpacked` bytes.
CodecResult DecodeLzma(const CodecSource& source, const CodecSink& sink, bool endMarker, uint64_t unpacked);
CodecResult DecodeXz(const CodecSource& source, const CodecSink& sink);
CodecResult DecodeZstd(const CodecSource& source, const CodecSink& sink);

// Whether DecodeMethod() takes the method.
bool CodecDecodes(uint16_t method);
CodecResult DecodeMethod(uint16_t method, uint16_t flags, uint64_t unpacked, const CodecSource& source,
                         const CodecSink& sink);
// "compression method 98 (PPMd) is not supported", naming the methods no library here decodes.
std::string UnsupportedMethod(uint16_t method);

}  // namespace sluice
