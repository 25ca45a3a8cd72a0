// LZMA (method 14) through liblzma. The entry's data starts with the LZMA SDK's version (two
// bytes) and the size and bytes of the properties; the raw stream follows, ending with an
// end marker when flag bit 1 says so, or after the entry's size otherwise.

#include "LzmaDecoder.h"

#include <algorithm>
#include <memory>

namespace sluice {

CodecResult PumpLzma(lzma_stream& z, CodecBuffers& b, bool& ended, const CodecSource& source, const CodecSink& sink,
                     CodecResult onFormatError) {
  for (;;) {
    if (z.avail_in == 0 && !ended) {
      const ptrdiff_t n = source(b.in.get(), CodecBuffers::kSize);
      if (n < 0) return CodecResult::kReadError;
      ended = n == 0;
      z.next_in = b.in.get();
      z.avail_in = size_t(n);
    }
    z.next_out = b.out.get();
    z.avail_out = CodecBuffers::kSize;
    const lzma_ret r = lzma_code(&z, ended ? LZMA_FINISH : LZMA_RUN);
    const size_t n = CodecBuffers::kSize - z.avail_out;
    if (n > 0 && !sink(b.out.get(), n)) return CodecResult::kStopped;
    switch (r) {
      case LZMA_STREAM_END: return CodecResult::kOk;
      case LZMA_OK:
        if (ended && z.avail_in == 0 && n == 0) return CodecResult::kTruncated;
        break;
      case LZMA_BUF_ERROR: return CodecResult::kTruncated;  // no progress is possible
      case LZMA_MEM_ERROR: return CodecResult::kNoMemory;
      case LZMA_MEMLIMIT_ERROR: return CodecResult::kTooDemanding;
      case LZMA_FORMAT_ERROR: return onFormatError;
      default: return CodecResult::kDamaged;
    }
  }
}

CodecResult DecodeLzma(const CodecSource& source, const CodecSink& sink, bool endMarker, uint64_t unpacked) {
  CodecBuffers b;
  // The header: version (2), properties size (2), properties (5: lc/lp/pb, dictionary size).
  constexpr size_t kHeader = 9;
  size_t have = 0;
  bool ended = false;
  while (have < kHeader && !ended) {
    const ptrdiff_t n = source(b.in.get() + have, CodecBuffers::kSize - have);
    if (n < 0) return CodecResult::kReadError;
    ended = n == 0;
    have += size_t(n);
  }
  if (have < kHeader) return CodecResult::kTruncated;
  const uint8_t* h = b.in.get();
  if ((h[2] | h[3] << 8) != 5 || h[4] >= 9 * 5 * 5) return CodecResult::kDamaged;
  lzma_options_lzma options{};
  options.lc = h[4] % 9;
  options.lp = h[4] / 9 % 5;
  options.pb = h[4] / 45;
  // No match reaches further back than the entry's size: a larger dictionary than that would
  // only hold memory that is never used.
  const uint32_t dictionary = uint32_t(h[5]) | uint32_t(h[6]) << 8 | uint32_t(h[7]) << 16 | uint32_t(h[8]) << 24;
  options.dict_size = uint32_t(std::max<uint64_t>(LZMA_DICT_SIZE_MIN, std::min<uint64_t>(dictionary, unpacked)));
  // With the flag the marker must be there; without it, the stream ends after the size
  // (a marker there is taken too, as other readers do).
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(options, endMarker ? UINT64_MAX : unpacked);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

  lzma_stream z = LZMA_STREAM_INIT;
  const lzma_ret r = lzma_raw_decoder(&z, filters);
  std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&z, lzma_end);
  if (r == LZMA_MEM_ERROR) return CodecResult::kNoMemory;
  if (r != LZMA_OK) return CodecResult::kUnsupported;  // lc + lp above 4: liblzma takes no more
  z.next_in = b.in.get() + kHeader;
  z.avail_in = have - kHeader;
  const CodecResult result = PumpLzma(z, b, ended, source, sink, CodecResult::kDamaged);
  if (result != CodecResult::kOk) return result;
  return AfterStreamEnd(z.avail_in, ended, source, b.in.get(), CodecBuffers::kSize);
}

}  // namespace sluice
