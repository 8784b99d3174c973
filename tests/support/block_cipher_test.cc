#include "support/block_cipher.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

#include "support/des_cipher.h"
#include "support/exceptions.h"

namespace zv {
namespace {

const uint8_t kKey[8] = {0x95, 0x4E, 0xC8, 0x73, 0x1A, 0x6F, 0x2D, 0x4B};

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string EncryptStreamOf(const TBlockCipher& cipher, const std::string& plain) {
  std::istringstream in(plain);
  std::ostringstream out;
  cipher.EncryptStream(in, out);
  return out.str();
}

std::string DecryptStreamOf(const TBlockCipher& cipher, const std::string& encrypted) {
  std::istringstream in(encrypted);
  std::ostringstream out;
  cipher.DecryptStream(in, out);
  return out.str();
}

// The raw decryption of the last block, padding included.
std::string LastBlockRaw(const TBlockCipher& cipher, const std::string& encrypted) {
  std::string block = encrypted.substr(encrypted.size() - 8);
  cipher.DecryptBlock(reinterpret_cast<uint8_t*>(block.data()));
  return block;
}

// One block whose decryption is `plain`, as a forged ciphertext.
std::string ForgedBlock(const TBlockCipher& cipher, std::string plain) {
  cipher.EncryptBlock(reinterpret_cast<uint8_t*>(plain.data()));
  return plain;
}

void ExpectErrorMessage(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const Exception& e) {
    EXPECT_EQ(e.what(), message);
  }
}

TEST(BlockCipherTest, CiphertextLength) {
  const TDESCipher cipher(kKey, 8);
  const std::pair<int32_t, int32_t> cases[] = {{0, 8}, {7, 8}, {8, 16}, {9, 16}, {4095, 4096}};
  for (const auto& [plain, expected] : cases) EXPECT_EQ(cipher.CiphertextLength(plain), expected);
}

// Sizes around the 4096-byte working buffer: 4095 bytes fill it exactly with
// their padding block, 4096 bytes need a second read that finds nothing.
TEST(BlockCipherTest, StreamSizesPaddingAndRoundTrip) {
  const TDESCipher cipher(kKey, 8);
  for (const std::size_t n : {0u, 1u, 8u, 4095u, 4096u, 4097u, 10000u}) {
    SCOPED_TRACE(n);
    const std::string plain = RandomBytes(n, static_cast<unsigned>(n));
    const std::string encrypted = EncryptStreamOf(cipher, plain);
    ASSERT_EQ(encrypted.size(),
              static_cast<std::size_t>(cipher.CiphertextLength(static_cast<int32_t>(n))));
    // Final block: remaining bytes, zero filler, padding count.
    const std::size_t rest = n % 8;
    std::string expectedLast = plain.substr(n - rest) + std::string(7 - rest, '\0');
    expectedLast += static_cast<char>(8 - rest);
    EXPECT_EQ(LastBlockRaw(cipher, encrypted), expectedLast);
    // Blocks before it are plain ECB, as in EncryptedString.
    EXPECT_EQ(encrypted.substr(0, n - rest), cipher.EncryptedString(plain).substr(0, n - rest));
    EXPECT_EQ(DecryptStreamOf(cipher, encrypted), plain);
  }
}

TEST(BlockCipherTest, StreamsStartAtTheCurrentPosition) {
  const TDESCipher cipher(kKey, 8);
  std::istringstream plainIn("skipHello, world");
  plainIn.seekg(4);
  std::ostringstream encryptedOut("xyz", std::ios::ate);
  cipher.EncryptStream(plainIn, encryptedOut);
  const std::string written = encryptedOut.str();
  ASSERT_EQ(written.substr(0, 3), "xyz");
  EXPECT_EQ(written.substr(3), EncryptStreamOf(cipher, "Hello, world"));

  std::istringstream encryptedIn(written);
  encryptedIn.seekg(3);
  std::ostringstream plainOut;
  cipher.DecryptStream(encryptedIn, plainOut);
  EXPECT_EQ(plainOut.str(), "Hello, world");
}

// A stream that cannot tell its position or seek.
class TForwardOnlyBuffer : public std::streambuf {
 public:
  explicit TForwardOnlyBuffer(std::string data) : FData(std::move(data)) {
    setg(FData.data(), FData.data(), FData.data() + FData.size());
  }

 private:
  std::string FData;
};

TEST(BlockCipherTest, DecryptStreamFromUnseekableStream) {
  const TDESCipher cipher(kKey, 8);
  const std::string plain = RandomBytes(5000, 7);
  TForwardOnlyBuffer buffer(EncryptStreamOf(cipher, plain));
  std::istream in(&buffer);
  std::ostringstream out;
  cipher.DecryptStream(in, out);
  EXPECT_EQ(out.str(), plain);

  TForwardOnlyBuffer ragged(std::string(12, 'x'));
  std::istream raggedIn(&ragged);
  ExpectErrorMessage([&] { cipher.DecryptStream(raggedIn, out); },
                     "Ciphertext length is not a multiple of 8.");
}

TEST(BlockCipherTest, DecryptStreamRejectsBadLengthsBeforeWriting) {
  const TDESCipher cipher(kKey, 8);
  for (const std::size_t n : {0u, 7u, 12u}) {
    std::istringstream in(std::string(n, 'x'));
    std::ostringstream out;
    ExpectErrorMessage([&] { cipher.DecryptStream(in, out); },
                       "Ciphertext length is not a multiple of 8.");
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(in.tellg(), 0);  // left where it was
  }
  std::istringstream failed("12345678");
  failed.setstate(std::ios::failbit);
  std::ostringstream out;
  ExpectErrorMessage([&] { cipher.DecryptStream(failed, out); },
                     "Ciphertext length is not a multiple of 8.");
}

TEST(BlockCipherTest, StringEncryptionAndPadding) {
  const TDESCipher cipher(kKey, 8);
  const std::string empty = cipher.EncryptedString("");
  ASSERT_EQ(empty.size(), 8u);
  EXPECT_EQ(LastBlockRaw(cipher, empty), std::string(8, '\x08'));
  EXPECT_EQ(cipher.DecryptedString(empty), "");

  const std::string abc = cipher.EncryptedString("abc");
  EXPECT_EQ(LastBlockRaw(cipher, abc), "abc\x05\x05\x05\x05\x05");
  for (const std::size_t n : {1u, 7u, 8u, 9u, 100u}) {
    const std::string plain = RandomBytes(n, static_cast<unsigned>(n));
    const std::string encrypted = cipher.EncryptedString(plain);
    EXPECT_EQ(encrypted.size(), (n / 8 + 1) * 8);
    EXPECT_EQ(cipher.DecryptedString(encrypted), plain);
  }
  for (const std::size_t n : {0u, 7u, 12u}) {
    ExpectErrorMessage([&] { (void)cipher.DecryptedString(std::string(n, 'x')); },
                       "Ciphertext is not a multiple of 8 bytes.");
  }
}

// A final padding count of 0 or above the block size only comes from a
// corrupted or foreign ciphertext: both decryptions refuse it and write nothing.
TEST(BlockCipherTest, BadPaddingCountIsRejected) {
  const TDESCipher cipher(kKey, 8);
  const std::string firstBlock = cipher.EncryptedString("12345678").substr(0, 8);
  for (const char count : {'\x00', '\x09', '\xFF'}) {
    const std::string forged = firstBlock + ForgedBlock(cipher, std::string(7, 'p') + count);
    const std::string message = "Padding count " + std::to_string(static_cast<uint8_t>(count)) +
                                " of the final block is not between 1 and 8.";
    std::istringstream in(forged);
    std::ostringstream out;
    ExpectErrorMessage([&] { cipher.DecryptStream(in, out); }, message);
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(in.tellg(), 0);
    ExpectErrorMessage([&] { (void)cipher.DecryptedString(forged); }, message);
  }
  // The largest valid count drops the whole final block.
  const std::string full = firstBlock + ForgedBlock(cipher, std::string(8, '\x08'));
  EXPECT_EQ(cipher.DecryptedString(full), "12345678");
  EXPECT_EQ(DecryptStreamOf(cipher, full), "12345678");
}

}  // namespace
}  // namespace zv
