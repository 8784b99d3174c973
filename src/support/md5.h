// The MD5 message digest (RFC 1321). An object yields one digest: Final,
// AsString and AsGUID each finish it without resetting, so exactly one of them
// is called once, and Init starts the next digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zv {

using TMD5Digest = std::array<uint8_t, 16>;

// The digest interface, shared by reference count through std::shared_ptr.
class IMD5 {
 public:
  virtual ~IMD5() = default;
  virtual void Init() = 0;
  virtual void Update(const void* input, std::size_t length) = 0;
  // The text's UTF-8 bytes; an empty text adds nothing.
  virtual void Update(std::string_view input) = 0;
  virtual TMD5Digest Final() = 0;
  // The digest as 32 upper-case hexadecimal digits, first byte first.
  virtual std::string AsString() = 0;
  // "{" bytes 1-4 "-" 5-6 "-" 7-8 "-" 9-10 "-" 11-16 "}", upper-case digits,
  // every byte in digest order.
  virtual std::string AsGUID() = 0;
};

class TMD5 final : public IMD5 {
 public:
  // Initialised, ready for Update.
  TMD5();

  void Init() override;
  void Update(const void* input, std::size_t length) override;
  void Update(std::string_view input) override;
  TMD5Digest Final() override;
  std::string AsString() override;
  std::string AsGUID() override;

 private:
  // Compresses the 64 bytes at block + shift into the chaining words.
  void Transform(const uint8_t* block, std::size_t shift);
  // Little-endian bytes to 32-bit words (`length` bytes from src + shift).
  static void Decode(uint32_t* dst, const uint8_t* src, std::size_t length, std::size_t shift);
  // 32-bit words to little-endian bytes (`length` bytes).
  static void Encode(uint8_t* dst, const uint32_t* src, std::size_t length);

  std::array<uint32_t, 4> FContextState;   // A, B, C, D
  std::array<uint32_t, 2> FContextCount;   // bits processed, low word first
  std::array<uint8_t, 64> FContextBuffer;  // input not yet compressed
};

// A new, initialised digest object.
std::shared_ptr<IMD5> CreateMD5();

}  // namespace zv
