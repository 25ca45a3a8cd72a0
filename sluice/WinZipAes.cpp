#include "WinZipAes.h"
#include "FileIo.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sluice {
using fileio::ReadAt;
namespace {

constexpr size_t kCodeSize = 10, kCheckSize = 2;


}  // namespace

struct WinZipAes::State {
  EVP_CIPHER_CTX* cipher = nullptr;
  EVP_MAC* mac = nullptr;
  EVP_MAC_CTX* macCtx = nullptr;
  uint8_t counter[16] = {};
  uint8_t stream[16] = {};
  size_t streamUsed = 16;
  ~State() {
    EVP_CIPHER_CTX_free(cipher);
    EVP_MAC_CTX_free(macCtx);
    EVP_MAC_free(mac);
  }
};

WinZipAes::WinZipAes() : s_(std::make_unique<State>()) {}
WinZipAes::~WinZipAes() = default;

WinZipAes::Status WinZipAes::Open(int fd, uint64_t dataOffset, uint64_t packed, int strength,
                                  const std::string& password) {
  if (strength < 1 || strength > 3) return kDamaged;
  const size_t keySize = size_t(8 + 8 * strength), saltSize = keySize / 2;
  if (packed < saltSize + kCheckSize + kCodeSize) return kDamaged;
  uint8_t head[16 + kCheckSize];
  if (!ReadAt(fd, dataOffset, head, saltSize + kCheckSize)) return kReadError;
  uint8_t keys[2 * 32 + kCheckSize];
  const size_t derived = 2 * keySize + kCheckSize;
  if (!PKCS5_PBKDF2_HMAC_SHA1(password.data(), int(password.size()), head, int(saltSize), 1000, int(derived), keys))
    return kDamaged;
  if (std::memcmp(keys + 2 * keySize, head + saltSize, kCheckSize) != 0) return kWrongPassword;

  s_ = std::make_unique<State>();
  const EVP_CIPHER* aes = strength == 1 ? EVP_aes_128_ecb() : strength == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
  s_->cipher = EVP_CIPHER_CTX_new();
  s_->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  s_->macCtx = s_->mac ? EVP_MAC_CTX_new(s_->mac) : nullptr;
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (!s_->cipher || !s_->macCtx || EVP_EncryptInit_ex(s_->cipher, aes, nullptr, keys, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(s_->cipher, 0) != 1 ||
      EVP_MAC_init(s_->macCtx, keys + keySize, keySize, params) != 1)
    return kDamaged;
  OPENSSL_cleanse(keys, sizeof keys);
  fd_ = fd;
  at_ = dataOffset + saltSize + kCheckSize;
  left_ = packed - saltSize - kCheckSize - kCodeSize;
  macAt_ = at_ + left_;
  failure_ = kOk;
  return kOk;
}

ptrdiff_t WinZipAes::Read(uint8_t* buffer, size_t size) {
  if (failure_ != kOk) return -1;
  const size_t n = size_t(std::min<uint64_t>(size, left_));
  if (n == 0) {
    uint8_t stored[kCodeSize], computed[EVP_MAX_MD_SIZE];
    size_t len = 0;
    if (!ReadAt(fd_, macAt_, stored, kCodeSize)) return failure_ = kReadError, -1;
    if (EVP_MAC_final(s_->macCtx, computed, &len, sizeof computed) != 1 || len < kCodeSize ||
        CRYPTO_memcmp(stored, computed, kCodeSize) != 0)
      return failure_ = kDamaged, -1;
    return 0;
  }
  if (!ReadAt(fd_, at_, buffer, n)) return failure_ = kReadError, -1;
  at_ += n, left_ -= n;
  if (EVP_MAC_update(s_->macCtx, buffer, n) != 1) return failure_ = kDamaged, -1;
  // Counter mode with a little-endian block counter that starts at 1.
  for (size_t i = 0; i < n; ++i) {
    if (s_->streamUsed == 16) {
      for (uint8_t& b : s_->counter)
        if (++b != 0) break;
      int out = 0;
      EVP_EncryptUpdate(s_->cipher, s_->stream, &out, s_->counter, 16);
      s_->streamUsed = 0;
    }
    buffer[i] ^= s_->stream[s_->streamUsed++];
  }
  return ptrdiff_t(n);
}

}  // namespace sluice
