#include "support/des_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "support/exceptions.h"

namespace zv {
namespace {

struct DesVector {
  uint64_t Key;
  uint64_t Plain;
  uint64_t Cipher;
};

// Published DES known answers (standard bit order: first byte = DES bits 1-8),
// including variable-plaintext, variable-key and S-box tests.
constexpr DesVector kDesVectors[] = {
    {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
    {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
    {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
    {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
    {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0x7A389D10354BD271},
};

TDESCipher CipherFromInteger(uint64_t key) {
  uint8_t bytes[8];
  StoreBlockLE(bytes, key);
  return TDESCipher(bytes, sizeof bytes);
}

TEST(DESCipherTest, KnownAnswersAsIntegers) {
  for (const DesVector& v : kDesVectors) {
    const TDESCipher cipher = CipherFromInteger(v.Key);
    EXPECT_EQ(cipher.EncryptedBlock(v.Plain), v.Cipher) << std::hex << v.Key;
    EXPECT_EQ(cipher.DecryptedBlock(v.Cipher), v.Plain) << std::hex << v.Key;
  }
}

// The buffer convention: the standard key and blocks written in reverse byte
// order pass through EncryptBlock/DecryptBlock.
TEST(DESCipherTest, KnownAnswersAsReversedBuffers) {
  const auto reversed = [](uint64_t standard) {
    std::array<uint8_t, 8> bytes;
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(standard >> (8 * i));
    return bytes;
  };
  for (const DesVector& v : kDesVectors) {
    const auto key = reversed(v.Key);
    const TDESCipher cipher(key.data(), key.size());
    auto block = reversed(v.Plain);
    cipher.EncryptBlock(block.data());
    EXPECT_EQ(block, reversed(v.Cipher)) << std::hex << v.Key;
    cipher.DecryptBlock(block.data());
    EXPECT_EQ(block, reversed(v.Plain)) << std::hex << v.Key;
  }
}

TEST(DESCipherTest, KeyRules) {
  const uint8_t key[9] = {0x4B, 0x2D, 0x6F, 0x1A, 0x73, 0xC8, 0x4E, 0x95, 0xEE};
  try {
    TDESCipher cipher(key, 7);
    FAIL() << "a 7-byte key was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Key must be at least 8 bytes long.");
  }
  const TDESCipher eight(key, 8);
  EXPECT_EQ(eight.MinKeyLength(), 8);
  EXPECT_EQ(eight.MaxKeyLength(), 8);
  EXPECT_EQ(eight.BlockSize(), 8);
  // Bytes past the eighth and the parity bits (the low bit of each standard key
  // byte) play no part.
  const TDESCipher nine(key, 9);
  uint8_t flipped[8];
  std::transform(key, key + 8, flipped, [](uint8_t b) { return static_cast<uint8_t>(b ^ 1); });
  const TDESCipher parity(flipped, 8);
  for (const uint64_t block : {0ull, 0x0123456789ABCDEFull, ~0ull}) {
    EXPECT_EQ(nine.EncryptedBlock(block), eight.EncryptedBlock(block));
    EXPECT_EQ(parity.EncryptedBlock(block), eight.EncryptedBlock(block));
  }
}

// An independent implementation as oracle: a random key and 4 KiB of random
// data, block by block in the standard's byte order.
TEST(DESCipherTest, AgreesWithOpensslCommandLine) {
  if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl not found";
  std::mt19937_64 random(20240611);
  const uint64_t key = random();
  std::string plain(4096, '\0');
  for (char& c : plain) c = static_cast<char>(random());

  // Standard order of every block = our buffer bytes reversed.
  const auto reverseBlocks = [](std::string bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
      std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                   bytes.begin() + static_cast<std::ptrdiff_t>(i + 8));
    }
    return bytes;
  };
  const auto dir = std::filesystem::temp_directory_path();
  const auto in = dir / ("zv_des_in_" + std::to_string(key));
  const auto out = dir / ("zv_des_out_" + std::to_string(key));
  std::ofstream(in, std::ios::binary) << reverseBlocks(plain);
  char keyHex[17];
  std::snprintf(keyHex, sizeof keyHex, "%016llX", static_cast<unsigned long long>(key));
  const std::string command = "openssl enc -des-ecb -nopad -provider legacy -provider default -K " +
                              std::string(keyHex) + " -in " + in.string() + " -out " +
                              out.string() + " 2>/dev/null";
  const int status = std::system(command.c_str());
  std::ifstream result(out, std::ios::binary);
  const std::string expected =
      reverseBlocks(std::string(std::istreambuf_iterator<char>(result), {}));
  std::filesystem::remove(in);
  std::filesystem::remove(out);
  if (status != 0) GTEST_SKIP() << "openssl has no DES here";

  const TDESCipher cipher = CipherFromInteger(key);
  // The first 4096 bytes are the plain ECB blocks, the rest is the padding block.
  const std::string ours = cipher.EncryptedString(plain);
  ASSERT_EQ(ours.size(), plain.size() + 8);
  EXPECT_EQ(ours.substr(0, plain.size()), expected);
  EXPECT_EQ(cipher.DecryptedString(ours), plain);
}

}  // namespace
}  // namespace zv
