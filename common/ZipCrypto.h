#pragma once
// Traditional PKWARE decryption, for the decompressor library and the static stub alike.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zipcrypto {

constexpr size_t kHeaderSize = 12;  // in front of the data, counted in its packed size

class Decrypter {
 public:
  explicit Decrypter(std::string_view password) {
    for (char c : password) Update(uint8_t(c));
  }
  uint8_t Decrypt(uint8_t c) {
    const uint16_t t = uint16_t(k2_ | 2);
    // Unsigned: the product of two 16-bit values overflows an int.
    const uint8_t plain = c ^ uint8_t((uint32_t(t) * (t ^ 1u)) >> 8);
    Update(plain);
    return plain;
  }
  void Decrypt(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) data[i] = Decrypt(data[i]);
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

// The last byte of the encryption header repeats the CRC's high byte, or that of the DOS
// time when the sizes follow the data (flag bit 3), since the CRC was not known yet.
inline uint8_t CheckByte(uint16_t flags, uint32_t crc, uint32_t dosDateTime) {
  return (flags & 8) ? uint8_t(dosDateTime >> 8) : uint8_t(crc >> 24);
}

// A decrypter past the header when `password` passes its one-byte check. A wrong password
// passes once in 256 tries: the CRC of the data finds those.
inline bool Start(std::string_view password, const uint8_t (&header)[kHeaderSize], uint8_t check,
                  Decrypter& out) {
  Decrypter trial(password);
  uint8_t last = 0;
  for (uint8_t b : header) last = trial.Decrypt(b);
  if (last != check) return false;
  out = trial;
  return true;
}

}  // namespace zipcrypto
