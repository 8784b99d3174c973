// DES (FIPS 46-3) in the program's block and key conventions:
// - EncryptedBlock/DecryptedBlock take the 64-bit block with its most
//   significant bit as DES bit 1;
// - EncryptBlock/DecryptBlock and the byte strings read the buffer's 8 bytes as
//   a little-endian integer, so the standard DES block is the buffer reversed;
// - the key is the first 8 key bytes read the same way (the standard key is
//   those bytes reversed); parity bits are ignored, further bytes too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "support/block_cipher.h"

namespace zv {

// One round subkey: its eight 6-bit groups, placed where the round function
// meets them in the rotated right half (see des_cipher.cc): groups 1, 3, 5, 7
// of the standard in Even at bits 26, 18, 10, 2; groups 8, 2, 4, 6 in Odd at
// the same bits.
struct TDESSubkey {
  uint32_t Even;
  uint32_t Odd;
};
using TDESKeySchedule = std::array<TDESSubkey, 16>;

class TDESCipher final : public T64BitBlockCipher {
 public:
  static constexpr int32_t kMinKeyLength = 8;

  // Raises zv::Exception "Key must be at least 8 bytes long." for a shorter key.
  TDESCipher(const void* key, std::size_t length);
  // Clears the key schedule.
  ~TDESCipher() override;

  void EncryptBlock(uint8_t* plaintext) const override;
  void DecryptBlock(uint8_t* ciphertext) const override;
  int32_t MinKeyLength() const override { return kMinKeyLength; }
  uint64_t EncryptedBlock(uint64_t plaintext) const override;
  uint64_t DecryptedBlock(uint64_t ciphertext) const override;

 protected:
  void EncryptBlocks(uint8_t* blocks, std::size_t count) const override;
  void DecryptBlocks(uint8_t* blocks, std::size_t count) const override;

 private:
  TDESKeySchedule FKeySchedule;
};

}  // namespace zv
