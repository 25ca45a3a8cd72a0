// Extraction and testing of the self-extractor's entries.
#pragma once

#include <zlib.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "SelfArchive.h"

namespace stubby {

// Traditional PKWARE decryption.
class ZipCrypto {
 public:
  explicit ZipCrypto(const std::string& password) {
    for (char c : password) Update(uint8_t(c));
  }
  uint8_t Decrypt(uint8_t c) {
    const uint16_t t = uint16_t(k2_ | 2);
    // Unsigned: the product of two 16-bit values overflows an int.
    const uint8_t plain = c ^ uint8_t((uint32_t(t) * (t ^ 1u)) >> 8);
    Update(plain);
    return plain;
  }

 private:
  void Update(uint8_t c) {
    k0_ = table_[(k0_ ^ c) & 0xFF] ^ (k0_ >> 8);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = table_[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
  }
  const z_crc_t* table_ = get_crc_table();
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

struct Options {
  std::string dir;
  bool dirGiven = false, yes = false, list = false, test = false;
  std::string password;
  bool passwordGiven = false;
};

class Extractor {
 public:
  Extractor(SelfArchive& a, Options& o) : a_(a), o_(o) {}

  // Writes the entry below `rootFd` (or only checks it when `rootFd` is -1).
  bool Extract(const Entry& e, int rootFd);
  void SetOverwrite(Overwrite mode) { overwrite_ = mode; }
  // Folder times are set last: the files written into a folder change its time.
  void RestoreFolderTimes(int rootFd);

 private:
  // Where an entry's data lies, and its decryption once the password is known.
  struct Source {
    uint64_t at = 0, left = 0;
    ZipCrypto crypto{std::string()};
  };
  // Everything that can fail or ask before anything is written: the local header, the
  // method and the password.
  bool Begin(const Entry& e, Source& src);
  // Checks the data, writing it to `outFd` (unless -1) or appending it to `into`.
  bool Unpack(const Entry& e, Source& src, int outFd, std::string* into = nullptr);
  bool ExtractLink(const Entry& e, const std::vector<std::string>& parts, int rootFd);
  bool Password(const Entry& e, ZipCrypto& crypto, const uint8_t* head);
  bool OpenParent(int rootFd, const std::vector<std::string>& parts, size_t count, int& fd, const Entry& e);
  enum class Decision { Write, Keep, Fail };
  Decision MayWrite(int parentFd, const std::string& last, const Entry& e);
  time_t ModTime(const Entry& e, const std::vector<uint8_t>& localExtra) const;

  SelfArchive& a_;
  Options& o_;
  Overwrite overwrite_ = Overwrite::Ask;
  std::vector<std::pair<std::vector<std::string>, time_t>> folderTimes_;
  std::vector<uint8_t> localExtra_;
};

}  // namespace stubby
