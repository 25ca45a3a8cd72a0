#pragma once
// Decodes one entry's data into a sink, checking its size and CRC on the way. Every
// method and every encryption reads the entry's bytes where the checked directory
// (CentralDirectory.h) places them, and nowhere else: a second reader of the directory
// could be shown other entries at other offsets. Stored data is copied here, deflate and
// the other methods are decoded each in a file of their own (DeflateDecoder.h, Codec.h).
// A decoder serves one thread, entry after entry, and keeps its buffers between them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CentralDirectory.h"
#include "Codec.h"
#include "DeflateDecoder.h"

namespace sluice {

// Takes decoded bytes; false stops the decoding (the sink has told why).
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;
// Asks for a password for the entry; false when none is given.
using PasswordAsk = std::function<bool(std::string& password)>;

struct DecodeResult {
  int32_t code = 0;     // LibraryError; 0 when the data is whole and right
  std::string reason;   // the message after "<name>: "
  bool sinkStopped = false;
};

class EntryDecoder {
 public:
  explicit EntryDecoder(int fd) : fd_(fd), chunk_(new uint8_t[CodecBuffers::kSize]) {}

  // `password` is the one to try first and, on success, the one that worked.
  DecodeResult Decode(const ArchiveEntry& e, std::string& password, const PasswordAsk& ask, const ByteSink& sink);

 private:
  // Fills the buffer with compressed bytes; 0 at the end, -1 on an error (in `error`).
  using Source = std::function<ptrdiff_t(uint8_t* buffer, size_t size)>;
  DecodeResult Decompress(const ArchiveEntry& e, const Source& source, const DecodeResult& sourceError,
                          const ByteSink& sink);

  int fd_;
  std::unique_ptr<uint8_t[]> chunk_;  // stored data on its way
  DeflateDecoder deflate_;
};

}  // namespace sluice
