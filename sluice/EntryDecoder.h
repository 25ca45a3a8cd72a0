#pragma once
// Decodes one entry's data into a sink, checking its size and CRC on the way. Plain data
// is read straight from the file; libzip decrypts encrypted data. The methods are decoded
// here (stored and deflate in this file, the others each in a file of their own: libzip
// knows no Deflate64, LZMA, xz or Zstandard), and checks a CRC that WinZip AES-2 entries do
// not store.

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "CentralDirectory.h"

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
  EntryDecoder(int fd, const std::string& archivePath, uint64_t archiveStart, uint64_t archiveEnd);
  ~EntryDecoder();
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;

  // `password` is the one to try first and, on success, the one that worked.
  DecodeResult Decode(size_t index, const ArchiveEntry& e, std::string& password, const PasswordAsk& ask,
                      const ByteSink& sink);

 private:
  // Fills the buffer with compressed bytes; 0 at the end, -1 on an error (in `error`).
  using Source = std::function<ptrdiff_t(uint8_t* buffer, size_t size)>;
  DecodeResult Decompress(const ArchiveEntry& e, const Source& source, const DecodeResult& sourceError,
                          const ByteSink& sink);
  bool OpenZip(std::string& error);

  int fd_;
  std::string path_;
  uint64_t start_, end_;
  zip_t* zip_ = nullptr;
};

}  // namespace sluice
