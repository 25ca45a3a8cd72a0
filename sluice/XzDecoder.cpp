// xz (method 95) through liblzma: one or more xz streams with their own integrity checks,
// zero padding between them allowed.

#include <algorithm>
#include <memory>

#include "LzmaDecoder.h"

namespace sluice {

CodecResult DecodeXz(const CodecSource& source, const CodecSink& sink) {
  CodecBuffers b;
  // The dictionary is whatever the stream's blocks declare: a quarter of the memory bounds
  // what one entry can make the library allocate (xz -9 needs 65 MiB).
  const uint64_t physical = lzma_physmem();
  const uint64_t limit = physical ? std::max<uint64_t>(physical / 4, 128u << 20) : uint64_t(1) << 30;
  const uint8_t* next = nullptr;
  size_t available = 0;
  bool ended = false;
  // Streams are taken one at a time (not by liblzma's own concatenation) so that what
  // follows the last one can be told from a damaged stream.
  for (int stream = 0;; ++stream) {
    if (stream > 0) {
      for (;;) {
        while (available > 0 && *next == 0) ++next, --available;
        if (available > 0 || ended) break;
        const ptrdiff_t n = source(b.in.get(), CodecBuffers::kSize);
        if (n < 0) return CodecResult::kReadError;
        ended = n == 0;
        next = b.in.get();
        available = size_t(n);
      }
      if (available == 0) return CodecResult::kOk;
      // Too short for liblzma to tell a stream's start from other bytes.
      static const uint8_t kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0};
      if (!std::equal(next, next + std::min<size_t>(available, 6), kMagic)) return CodecResult::kTrailing;
    }
    lzma_stream z = LZMA_STREAM_INIT;
    const lzma_ret r = lzma_stream_decoder(&z, limit, 0);
    std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&z, lzma_end);
    if (r != LZMA_OK) return CodecResult::kNoMemory;
    z.next_in = next;
    z.avail_in = available;
    const CodecResult result =
        PumpLzma(z, b, ended, source, sink, stream > 0 ? CodecResult::kTrailing : CodecResult::kDamaged);
    if (result != CodecResult::kOk) return result;
    next = z.next_in;
    available = z.avail_in;
  }
}

}  // namespace sluice
