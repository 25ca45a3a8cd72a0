// Zstandard (method 93) through libzstd: one or more frames, skippable frames included.

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>

#include "Codec.h"

namespace sluice {

CodecResult DecodeZstd(const CodecSource& source, const CodecSink& sink) {
  // libzstd's default window limit (128 MiB, as its command line tool) bounds what a frame
  // can make it allocate.
  std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> d(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!d) return CodecResult::kNoMemory;
  CodecBuffers b;
  ZSTD_inBuffer in{b.in.get(), 0, 0};
  bool ended = false, inFrame = false;
  int frames = 0;
  for (;;) {
    if (in.pos == in.size && !ended) {
      const ptrdiff_t n = source(b.in.get(), CodecBuffers::kSize);
      if (n < 0) return CodecResult::kReadError;
      ended = n == 0;
      in = {b.in.get(), size_t(n), 0};
    }
    if (in.pos == in.size && ended && !inFrame) return frames > 0 ? CodecResult::kOk : CodecResult::kTruncated;
    ZSTD_outBuffer out{b.out.get(), CodecBuffers::kSize, 0};
    const size_t r = ZSTD_decompressStream(d.get(), &out, &in);
    if (ZSTD_isError(r)) {
      switch (ZSTD_getErrorCode(r)) {
        case ZSTD_error_memory_allocation: return CodecResult::kNoMemory;
        case ZSTD_error_frameParameter_windowTooLarge: return CodecResult::kTooDemanding;
        // After whole frames, anything but the start of another is not Zstandard data.
        case ZSTD_error_prefix_unknown: return frames > 0 && !inFrame ? CodecResult::kTrailing : CodecResult::kDamaged;
        default: return CodecResult::kDamaged;
      }
    }
    if (out.pos > 0 && !sink(b.out.get(), out.pos)) return CodecResult::kStopped;
    if (r == 0) {  // a frame decoded and handed on whole
      ++frames;
      inFrame = false;
      continue;
    }
    inFrame = true;
    if (in.pos == in.size && ended && out.pos < out.size) return CodecResult::kTruncated;
  }
}

}  // namespace sluice
