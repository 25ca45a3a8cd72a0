#pragma once
// WinZip AES decryption (AE-1 and AE-2). libzip 1.7 checks a CRC that AE-2 entries leave
// 0, which fails every stored AE-2 entry, so this library decrypts them itself.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sluice {

class WinZipAes {
 public:
  enum Status { kOk, kWrongPassword, kDamaged, kReadError };

  WinZipAes();
  ~WinZipAes();
  WinZipAes(const WinZipAes&) = delete;
  WinZipAes& operator=(const WinZipAes&) = delete;

  // `strength` 1, 2 or 3 (128, 192, 256 bits); `packed` counts salt, check and code too.
  Status Open(int fd, uint64_t dataOffset, uint64_t packed, int strength, const std::string& password);
  // Decrypted bytes; 0 at the end once the authentication code matched, -1 otherwise
  // (`Failure()` tells why).
  ptrdiff_t Read(uint8_t* buffer, size_t size);
  Status Failure() const { return failure_; }

 private:
  struct State;
  std::unique_ptr<State> s_;
  int fd_ = -1;
  uint64_t at_ = 0, left_ = 0, macAt_ = 0;
  Status failure_ = kOk;
};

}  // namespace sluice
