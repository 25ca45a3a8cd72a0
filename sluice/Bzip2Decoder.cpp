// bzip2 (method 12) through libbz2, also when several streams follow one another, as 7-Zip
// and parallel bzip2 writers make them.

#include <bzlib.h>

#include "Codec.h"

namespace sluice {

CodecResult DecodeBzip2(const CodecSource& source, const CodecSink& sink) {
  CodecBuffers b;
  char* next = nullptr;
  unsigned available = 0;
  bool ended = false;
  for (int stream = 0;; ++stream) {
    bz_stream z{};
    if (BZ2_bzDecompressInit(&z, 0, 0) != BZ_OK) return CodecResult::kNoMemory;
    std::unique_ptr<bz_stream, int (*)(bz_stream*)> guard(&z, BZ2_bzDecompressEnd);
    z.next_in = next;
    z.avail_in = available;
    for (;;) {
      if (z.avail_in == 0 && !ended) {
        const ptrdiff_t n = source(b.in.get(), CodecBuffers::kSize);
        if (n < 0) return CodecResult::kReadError;
        ended = n == 0;
        z.next_in = reinterpret_cast<char*>(b.in.get());
        z.avail_in = unsigned(n);
      }
      if (stream > 0 && ended && z.avail_in == 0 && z.total_in_lo32 == 0) return CodecResult::kOk;
      z.next_out = reinterpret_cast<char*>(b.out.get());
      z.avail_out = unsigned(CodecBuffers::kSize);
      const int r = BZ2_bzDecompress(&z);
      const size_t n = CodecBuffers::kSize - z.avail_out;
      if (n > 0 && !sink(b.out.get(), n)) return CodecResult::kStopped;
      if (r == BZ_STREAM_END) break;
      // After a whole stream, anything but the start of another is not bzip2 data.
      if (r == BZ_DATA_ERROR_MAGIC && stream > 0) return CodecResult::kTrailing;
      if (r == BZ_MEM_ERROR) return CodecResult::kNoMemory;
      if (r != BZ_OK) return CodecResult::kDamaged;
      // Input used up, nothing more out, and no end: the data was cut short.
      if (ended && z.avail_in == 0 && n == 0) return CodecResult::kTruncated;
    }
    next = z.next_in;
    available = z.avail_in;
  }
}

}  // namespace sluice
