// Block cipher framework: whole-stream encryption in electronic codebook mode on
// top of a concrete cipher's single-block operations, and, for 64-bit ciphers,
// blocks as integers and byte strings with their own padding.
//
// Class-level values (block size, key lengths, ciphertext length) are virtual
// members here, since C++ has no virtual statics; concrete classes also expose
// them as constants (kBlockSize, kMinKeyLength) for use without an instance.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>

namespace zv {

class TBlockCipher {
 public:
  virtual ~TBlockCipher() = default;
  TBlockCipher(const TBlockCipher&) = delete;
  TBlockCipher& operator=(const TBlockCipher&) = delete;

  // Blocks a stream works through per read and write.
  static constexpr int32_t kBlocksPerBuffer = 512;

  // (plaintextLength div BlockSize + 1) * BlockSize: what EncryptStream writes
  // for that many bytes; always at least one byte more than the plaintext.
  int32_t CiphertextLength(int32_t plaintextLength) const;

  // Enciphers everything from the current position of `plaintext` to its end,
  // each block alone. The final block carries the 0 to BlockSize-1 remaining
  // bytes, zero filler, and as its last byte the padding count c (1..BlockSize),
  // so a plaintext of a whole number of blocks gets one extra block.
  void EncryptStream(std::istream& plaintext, std::ostream& ciphertext) const;

  // The inverse: the rest of `ciphertext` must be a non-empty whole number of
  // blocks ("Ciphertext length is not a multiple of %d.") and the last decrypted
  // byte a padding count from 1 to BlockSize ("Padding count %d of the final
  // block is not between 1 and %d."); otherwise zv::Exception is raised before
  // anything is written, and a seekable `ciphertext` is left at its position.
  void DecryptStream(std::istream& ciphertext, std::ostream& plaintext) const;

  // One block of BlockSize bytes, in place.
  virtual void EncryptBlock(uint8_t* plaintext) const = 0;
  virtual void DecryptBlock(uint8_t* ciphertext) const = 0;

  virtual int32_t MinKeyLength() const = 0;
  virtual int32_t MaxKeyLength() const { return MinKeyLength(); }
  virtual int32_t BlockSize() const = 0;

 protected:
  // The base check of every cipher's construction: raises zv::Exception
  // "Key must be at least %d bytes long." when keyLength < minKeyLength. The
  // base keeps no copy of the key.
  TBlockCipher(std::size_t keyLength, int32_t minKeyLength);

  // `count` consecutive blocks in place. Streams go through these so that a
  // cipher can run whole buffers without a virtual call per block.
  virtual void EncryptBlocks(uint8_t* blocks, std::size_t count) const;
  virtual void DecryptBlocks(uint8_t* blocks, std::size_t count) const;
};

class T64BitBlockCipher : public TBlockCipher {
 public:
  static constexpr int32_t kBlockSize = 8;

  int32_t BlockSize() const final { return kBlockSize; }

  // One block as an integer whose most significant bit is the cipher's first
  // bit. EncryptBlock/DecryptBlock read and store the buffer's 8 bytes as a
  // little-endian integer of this form.
  virtual uint64_t EncryptedBlock(uint64_t plaintext) const = 0;
  virtual uint64_t DecryptedBlock(uint64_t ciphertext) const = 0;

  void EncryptBlock(uint8_t* plaintext) const override;
  void DecryptBlock(uint8_t* ciphertext) const override;

  // Byte strings in electronic codebook mode, each block in the buffer
  // convention. Encryption pads with c bytes of value c (c = 1..8), so the
  // result is (n div 8 + 1) * 8 bytes long.
  std::string EncryptedString(std::string_view plainText) const;
  // Raises zv::Exception "Ciphertext is not a multiple of 8 bytes." for an empty
  // or ragged input, and zv::Exception "Padding count %d of the final block is
  // not between 1 and 8." when the last decrypted byte is 0 or above 8.
  std::string DecryptedString(std::string_view cipherText) const;

 protected:
  using TBlockCipher::TBlockCipher;
};

// Little-endian load and store of one 64-bit block, whatever the host order.
inline uint64_t LoadBlockLE(const uint8_t* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}

inline void StoreBlockLE(uint8_t* bytes, uint64_t value) {
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  std::memcpy(bytes, &value, sizeof value);
}

}  // namespace zv
