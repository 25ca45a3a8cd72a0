#include "EntryDecoder.h"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "Codec.h"
#include "CompressionLibraries.h"
#include "DeflateDecoder.h"
#include "FileIo.h"
#include "WinZipAes.h"
#include "ZipCrypto.h"

namespace sluice {
namespace {

constexpr uint16_t kStored = 0;

DecodeResult Fail(int32_t code, std::string reason) { return {code, std::move(reason), false}; }

DecodeResult Outcome(CodecResult r, const DecodeResult& sourceError) {
  switch (r) {
    case CodecResult::kOk:
    case CodecResult::kStopped: return {};  // the sink has told why
    case CodecResult::kReadError: return sourceError;
    case CodecResult::kTruncated: return Fail(kLibErrBadArchive, "the data is truncated");
    case CodecResult::kDamaged: return Fail(kLibErrBadArchive, "the compressed data is damaged");
    case CodecResult::kTrailing: return Fail(kLibErrBadArchive, "the compressed data is damaged: data follows its end");
    case CodecResult::kTooLarge: return Fail(kLibErrBadArchive, "holds more data than its declared size");
    case CodecResult::kNoMemory: return Fail(kLibErrMemory, "out of memory");
    case CodecResult::kTooDemanding:
      return Fail(kLibErrMemory, "the compressed data asks for more memory than is allowed");
    case CodecResult::kUnsupported: return Fail(kLibErrUnsupported, "the compression options are not supported");
  }
  return {};
}

// Counts and checks what the decoders produce, and stops at once when an entry yields more
// than it declares (a decompression bomb must not fill the disk, nor run long in a test).
struct CheckingSink {
  const ArchiveEntry& e;
  const ByteSink& out;
  uint64_t produced = 0;
  uint32_t crc = 0;
  bool tooLarge = false, stopped = false;
  bool crcStored = true;

  bool operator()(const uint8_t* data, size_t size) {
    if (size > e.unpacked - produced) {
      tooLarge = true;
      return false;
    }
    produced += size;
    crc = libdeflate_crc32(crc, data, size);
    if (!out(data, size)) return stopped = true, false;
    return true;
  }
  DecodeResult Finish(DecodeResult r) const {
    if (stopped) return {r.code ? r.code : int32_t(kLibErrCancelled), r.reason, true};
    if (tooLarge) return Fail(kLibErrBadArchive, "holds more data than its declared size");
    if (r.code) return r;
    if (produced != e.unpacked) return Fail(kLibErrBadArchive, "the data is truncated or damaged");
    if (crcStored && crc != e.crc) return Fail(kLibErrCrc, "CRC error");
    return r;
  }
};

}  // namespace

DecodeResult EntryDecoder::Decode(const ArchiveEntry& e, std::string& password, const PasswordAsk& ask,
                                  const ByteSink& sink) {
  if (e.localBad) return Fail(kLibErrBadArchive, "the archive is truncated or damaged");
  if (e.overlaps) return Fail(kLibErrBadArchive, "refused: its data overlaps another entry's");
  if (e.flags & 0x40) return Fail(kLibErrUnsupported, "this kind of encryption is not supported");
  const uint16_t method = e.Method();
  if (method != kStored && method != kMethodDeflate && !CodecDecodes(method))
    return Fail(kLibErrUnsupported, UnsupportedMethod(method));
  CheckingSink check{e, sink};
  const ByteSink checked = [&check](const uint8_t* d, size_t n) { return check(d, n); };
  DecodeResult sourceError;

  // Asks again while the password is refused; false (with the result) when none is left.
  int attempts = 0;
  auto another = [&](DecodeResult& failed) {
    const bool had = !password.empty();
    if (attempts++ == 3 || !ask(password)) {
      password.clear();
      failed = Fail(kLibErrPassword, had ? "wrong password" : "a password is needed");
      return false;
    }
    return true;
  };

  // AES-2 stores no CRC: its authentication code stands for it.
  check.crcStored = !(e.Aes() && e.aesVersion == 2);
  if (e.Encrypted() && e.Aes()) {
    WinZipAes aes;
    for (;;) {
      const WinZipAes::Status status = aes.Open(fd_, e.dataOffset, e.packed, e.aesStrength, password);
      if (status == WinZipAes::kOk && !password.empty()) break;
      if (status == WinZipAes::kReadError) return Fail(kLibErrRead, "cannot read the archive");
      if (status == WinZipAes::kDamaged) return Fail(kLibErrBadArchive, "the encrypted data is damaged");
      if (DecodeResult failed; !another(failed)) return failed;
    }
    const Source read = [&](uint8_t* buffer, size_t size) -> ptrdiff_t {
      const ptrdiff_t n = aes.Read(buffer, size);
      if (n < 0)
        sourceError = aes.Failure() == WinZipAes::kReadError
                          ? Fail(kLibErrRead, "cannot read the archive")
                          : Fail(kLibErrCrc, "authentication failed (wrong password or damaged data)");
      return n;
    };
    return check.Finish(Decompress(e, read, sourceError, checked));
  }

  uint64_t at = e.dataOffset, left = e.packed;
  zipcrypto::Decrypter crypto("");
  if (e.Encrypted()) {
    uint8_t header[zipcrypto::kHeaderSize];
    if (left < sizeof header) return Fail(kLibErrBadArchive, "the entry is shorter than its encryption header");
    if (!fileio::ReadAt(fd_, at, header, sizeof header)) return Fail(kLibErrRead, "cannot read the archive");
    at += sizeof header, left -= sizeof header;
    const uint8_t checkByte = zipcrypto::CheckByte(e.flags, e.crc, e.dosTime);
    while (password.empty() || !zipcrypto::Start(password, header, checkByte, crypto))
      if (DecodeResult failed; !another(failed)) return failed;
  }
  const Source read = [&](uint8_t* buffer, size_t size) -> ptrdiff_t {
    const size_t n = size_t(std::min<uint64_t>(size, left));
    if (!fileio::ReadAt(fd_, at, buffer, n)) {
      sourceError = Fail(kLibErrRead, "cannot read the archive");
      return -1;
    }
    if (e.Encrypted()) crypto.Decrypt(buffer, n);
    at += n, left -= n;
    return ptrdiff_t(n);
  };
  DecodeResult r = check.Finish(Decompress(e, read, sourceError, checked));
  // A wrong traditional password passes its check byte once in 256 tries.
  if (e.Encrypted() && (r.code == kLibErrBadArchive || r.code == kLibErrCrc) && !r.sinkStopped)
    r.reason = "wrong password or damaged data";
  return r;
}

DecodeResult EntryDecoder::Decompress(const ArchiveEntry& e, const Source& read, const DecodeResult& sourceError,
                                      const ByteSink& sink) {
  const uint16_t method = e.Method();
  if (method == kMethodDeflate) return Outcome(deflate_.Decode(read, sink, e.packed, e.unpacked), sourceError);
  if (method != kStored) return Outcome(DecodeMethod(method, e.flags, e.unpacked, read, sink), sourceError);
  for (;;) {
    const ptrdiff_t n = read(chunk_.get(), CodecBuffers::kSize);
    if (n < 0) return sourceError;
    if (n == 0) return {};
    if (!sink(chunk_.get(), size_t(n))) return {};
  }
}

}  // namespace sluice
