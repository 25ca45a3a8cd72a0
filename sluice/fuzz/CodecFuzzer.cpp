// The decoders of entry data, fed directly: the first byte picks the method (bit 7: the LZMA
// end-marker flag), the second how many bytes each read returns, the third the declared
// size; the rest is the stream. Deflate64 is checked against a plain reference decoder: the
// two must agree on the output and on whether the stream is whole.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Codec.h"
#include "ReferenceInflate64.h"

namespace {

constexpr size_t kLimit = 1 << 20;  // output taken per input: past a slide of the window

bool IsPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const uint16_t kMethods[] = {sluice::kMethodDeflate64, sluice::kMethodBzip2, sluice::kMethodLzma,
                                      sluice::kMethodZstd, sluice::kMethodXz};
  static const size_t kReads[] = {1, 3, 64, 4096, 1 << 20};
  const uint16_t method = kMethods[(data[0] & 0x7F) % 5];
  const uint16_t flags = data[0] & 0x80 ? 2 : 0;
  const size_t chunk = kReads[data[1] % 5];
  const uint64_t declared = uint64_t(data[2]) * 1021;
  const uint8_t* stream = data + 3;
  const size_t length = size - 3;

  size_t at = 0;
  bool ended = false;
  const sluice::CodecSource source = [&](uint8_t* buffer, size_t n) -> ptrdiff_t {
    if (ended) std::abort();  // asked again after the end: an encrypted source would fail
    const size_t k = std::min({n, chunk, length - at});
    std::memcpy(buffer, stream + at, k);
    at += k;
    ended = k == 0;
    return ptrdiff_t(k);
  };
  std::vector<uint8_t> out;
  const sluice::CodecSink sink = [&](const uint8_t* p, size_t n) {
    const size_t k = std::min(n, kLimit - out.size());
    out.insert(out.end(), p, p + k);
    return k == n;
  };
  const sluice::CodecResult r = sluice::DecodeMethod(method, flags, declared, source, sink);
  if (method != sluice::kMethodDeflate64) return 0;

  reference::Inflate64 check(stream, length, kLimit);
  const reference::Result expected = check.Run();
  using sluice::CodecResult;
  bool agree = IsPrefix(out, check.Output());
  switch (expected) {
    case reference::Result::kOk: agree = agree && r == CodecResult::kOk && out == check.Output(); break;
    case reference::Result::kTrailing: agree = agree && r == CodecResult::kTrailing && out == check.Output(); break;
    case reference::Result::kLimit: agree = agree && r != CodecResult::kOk && r != CodecResult::kTrailing; break;
    case reference::Result::kFailed:
      agree = agree && r != CodecResult::kOk && r != CodecResult::kTrailing && r != CodecResult::kStopped;
      break;
  }
  if (!agree) std::abort();
  return 0;
}
