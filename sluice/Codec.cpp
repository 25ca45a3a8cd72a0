#include "Codec.h"

namespace sluice {

bool CodecDecodes(uint16_t method) {
  switch (method) {
    case kMethodDeflate64:
    case kMethodBzip2:
    case kMethodLzma:
    case kMethodZstdOld:
    case kMethodZstd:
    case kMethodXz:
      return true;
    default:
      return false;
  }
}

CodecResult DecodeMethod(uint16_t method, uint16_t flags, uint64_t unpacked, const CodecSource& source,
                         const CodecSink& sink) {
  switch (method) {
    case kMethodDeflate64: return DecodeDeflate64(source, sink);
    case kMethodBzip2: return DecodeBzip2(source, sink);
    case kMethodLzma: return DecodeLzma(source, sink, flags & 2, unpacked);
    case kMethodZstdOld:  // what early writers used before 93 was assigned
    case kMethodZstd: return DecodeZstd(source, sink);
    case kMethodXz: return DecodeXz(source, sink);
    default: return CodecResult::kDamaged;
  }
}

std::string UnsupportedMethod(uint16_t method) {
  const char* name = method == 1                   ? "Shrink"
                     : method >= 2 && method <= 5  ? "Reduce"
                     : method == 6                 ? "Implode"
                     : method == 10                ? "DCL Implode"
                     : method == 18                ? "TERSE"
                     : method == 19                ? "LZ77"
                     : method == 94                ? "MP3"
                     : method == 96                ? "JPEG"
                     : method == 97                ? "WavPack"
                     : method == 98                ? "PPMd"
                                                   : nullptr;
  return "compression method " + std::to_string(method) + (name ? std::string(" (") + name + ")" : "") +
         " is not supported";
}

}  // namespace sluice
