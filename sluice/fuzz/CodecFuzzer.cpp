// The decoders of entry data, fed directly: the first byte picks the method (bit 7: the LZMA
// end-marker flag), the second how many bytes each read returns, the third the declared
// size; the rest is the stream. Deflate64 is checked against a plain reference decoder: the
// two must agree on the output and on whether the stream is whole. Deflate is decoded both
// whole (libdeflate) and streamed (zlib), which must agree the same way.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "Codec.h"
#include "DeflateDecoder.h"
#include "ReferenceInflate64.h"

namespace {

constexpr size_t kLimit = 1 << 20;  // output taken per input: past a slide of the window

bool IsPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Hands out the stream `chunk` bytes at a time; aborts when asked again after its end, as an
// encrypted source would fail then.
struct Reader {
  const uint8_t* stream;
  size_t length, chunk, at = 0;
  bool ended = false;
  ptrdiff_t operator()(uint8_t* buffer, size_t n) {
    if (ended) std::abort();
    const size_t k = std::min({n, chunk, length - at});
    std::memcpy(buffer, stream + at, k);
    at += k;
    ended = k == 0;
    return ptrdiff_t(k);
  }
};

// Whole and streamed: the same output and outcome, or both refuse; except that libdeflate
// reads some invalid codes (the reserved length symbols) that zlib calls damage, and then
// must agree with zlib on everything before them. The CRC judges what such a stream gives.
void CheckDeflate(const uint8_t* stream, size_t length, size_t chunk, uint64_t declared) {
  using sluice::CodecResult;
  static sluice::DeflateDecoder decoder;  // kept between inputs, as a worker keeps its own
  std::vector<uint8_t> whole, streamed;
  auto into = [](std::vector<uint8_t>& out) {
    return [&out](const uint8_t* p, size_t n) {
      out.insert(out.end(), p, p + n);
      return true;
    };
  };
  Reader a{stream, length, chunk}, b{stream, length, chunk};
  const CodecResult w = decoder.DecodeWhole(std::ref(a), into(whole), length, declared);
  const CodecResult s = decoder.DecodeStream(std::ref(b), into(streamed), declared);
  const auto accepted = [](CodecResult r) { return r == CodecResult::kOk || r == CodecResult::kTrailing; };
  if (whole.size() > declared || streamed.size() > declared) std::abort();
  if (accepted(s) && (w != s || whole != streamed)) std::abort();
  if (accepted(w) && !accepted(s) && (s != CodecResult::kDamaged || !IsPrefix(streamed, whole))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const uint16_t kMethods[] = {sluice::kMethodDeflate64, sluice::kMethodBzip2, sluice::kMethodLzma,
                                      sluice::kMethodZstd, sluice::kMethodXz, sluice::kMethodDeflate};
  static const size_t kReads[] = {1, 3, 64, 4096, 1 << 20};
  const uint16_t method = kMethods[(data[0] & 0x7F) % 6];
  const uint16_t flags = data[0] & 0x80 ? 2 : 0;
  const size_t chunk = kReads[data[1] % 5];
  const uint64_t declared = uint64_t(data[2]) * 1021;
  const uint8_t* stream = data + 3;
  const size_t length = size - 3;
  if (method == sluice::kMethodDeflate) {
    CheckDeflate(stream, length, chunk, declared);
    return 0;
  }

  Reader reader{stream, length, chunk};
  const sluice::CodecSource source = std::ref(reader);
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
