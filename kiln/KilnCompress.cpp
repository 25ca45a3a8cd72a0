#include "KilnCompress.h"

#include <zlib.h>

#include <new>

namespace kiln {

BlockCompressor::BlockCompressor(int level) {
  auto* s = new z_stream{};
  if (deflateInit2(s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete s;
    return;
  }
  stream_ = s;
}

BlockCompressor::~BlockCompressor() {
  if (auto* s = static_cast<z_stream*>(stream_)) {
    deflateEnd(s);
    delete s;
  }
}

bool BlockCompressor::Compress(const uint8_t* dictionary, size_t dictionaryLength, const uint8_t* block,
                               size_t length, bool last, std::vector<uint8_t>& out) {
  auto& s = *static_cast<z_stream*>(stream_);
  deflateReset(&s);
  if (dictionaryLength > 0 && deflateSetDictionary(&s, dictionary, static_cast<uInt>(dictionaryLength)) != Z_OK)
    return false;
  out.resize(deflateBound(&s, length) + 16);
  s.next_in = const_cast<Bytef*>(block);
  s.avail_in = static_cast<uInt>(length);
  size_t produced = 0;
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    s.next_out = out.data() + produced;
    s.avail_out = static_cast<uInt>(out.size() - produced);
    const int rc = deflate(&s, flush);
    produced = out.size() - s.avail_out;
    if (rc == Z_STREAM_END || (flush == Z_SYNC_FLUSH && s.avail_in == 0 && s.avail_out > 0)) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
    out.resize(out.size() * 2);
  }
  out.resize(produced);
  return true;
}

}  // namespace kiln
