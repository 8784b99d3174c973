#include "support/block_cipher.h"

#include <algorithm>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <vector>

#include "support/exceptions.h"

namespace zv {

namespace {

const std::istream::pos_type kNoPosition(-1);

std::size_t ReadUpTo(std::istream& in, uint8_t* buffer, std::size_t size) {
  in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount());
}

void ReadExactly(std::istream& in, uint8_t* buffer, std::size_t size) {
  if (ReadUpTo(in, buffer, size) != size) throw Exception("Stream read error.");
}

void WriteAll(std::ostream& out, const uint8_t* buffer, std::size_t size) {
  out.write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(size));
  if (!out) throw Exception("Stream write error.");
}

[[noreturn]] void ThrowBadPadding(unsigned count, int32_t blockSize) {
  throw Exception("Padding count " + std::to_string(count) +
                  " of the final block is not between 1 and " + std::to_string(blockSize) + ".");
}

}  // namespace

TBlockCipher::TBlockCipher(std::size_t keyLength, int32_t minKeyLength) {
  if (keyLength < static_cast<std::size_t>(minKeyLength)) {
    throw Exception("Key must be at least " + std::to_string(minKeyLength) + " bytes long.");
  }
}

int32_t TBlockCipher::CiphertextLength(int32_t plaintextLength) const {
  return (plaintextLength / BlockSize() + 1) * BlockSize();
}

void TBlockCipher::EncryptBlocks(uint8_t* blocks, std::size_t count) const {
  const auto blockSize = static_cast<std::size_t>(BlockSize());
  for (std::size_t i = 0; i < count; ++i) EncryptBlock(blocks + i * blockSize);
}

void TBlockCipher::DecryptBlocks(uint8_t* blocks, std::size_t count) const {
  const auto blockSize = static_cast<std::size_t>(BlockSize());
  for (std::size_t i = 0; i < count; ++i) DecryptBlock(blocks + i * blockSize);
}

void TBlockCipher::EncryptStream(std::istream& plaintext, std::ostream& ciphertext) const {
  const auto blockSize = static_cast<std::size_t>(BlockSize());
  const std::size_t bufferSize = blockSize * kBlocksPerBuffer;
  std::vector<uint8_t> buffer(bufferSize);
  for (;;) {
    const std::size_t n = ReadUpTo(plaintext, buffer.data(), bufferSize);
    if (n == bufferSize) {
      EncryptBlocks(buffer.data(), kBlocksPerBuffer);
      WriteAll(ciphertext, buffer.data(), bufferSize);
      continue;
    }
    // n < bufferSize, so the padded final block still fits in the buffer.
    const std::size_t pad = blockSize - n % blockSize;
    std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(n), pad - 1, uint8_t{0});
    buffer[n + pad - 1] = static_cast<uint8_t>(pad);
    EncryptBlocks(buffer.data(), n / blockSize + 1);
    WriteAll(ciphertext, buffer.data(), n + pad);
    return;
  }
}

void TBlockCipher::DecryptStream(std::istream& ciphertext, std::ostream& plaintext) const {
  const auto blockSize = static_cast<std::size_t>(BlockSize());
  const auto lengthError = [blockSize] {
    return Exception("Ciphertext length is not a multiple of " + std::to_string(blockSize) + ".");
  };
  // A stream that has failed has nothing left to read, as in EncryptStream.
  if (ciphertext.fail()) throw lengthError();
  const auto start = ciphertext.tellg();
  const auto end = start == kNoPosition ? kNoPosition : ciphertext.seekg(0, std::ios::end).tellg();
  if (end == kNoPosition) {
    // Not seekable: the length check must precede any output, so take the rest
    // into memory first.
    ciphertext.clear();
    std::istringstream copy(std::string(std::istreambuf_iterator<char>(ciphertext), {}));
    DecryptStream(copy, plaintext);
    return;
  }
  // On failure the stream is left where it was.
  ciphertext.seekg(start);
  const auto length = static_cast<std::size_t>(end - start);
  if (length == 0 || length % blockSize != 0) throw lengthError();

  // The last block first: its padding count is checked before any output.
  std::vector<uint8_t> buffer(blockSize * kBlocksPerBuffer);
  ciphertext.seekg(end - static_cast<std::streamoff>(blockSize));
  ReadExactly(ciphertext, buffer.data(), blockSize);
  ciphertext.seekg(start);
  DecryptBlocks(buffer.data(), 1);
  const unsigned pad = buffer[blockSize - 1];
  if (pad == 0 || pad > blockSize) ThrowBadPadding(pad, BlockSize());

  std::size_t toRead = length;
  std::size_t toWrite = length - pad;
  while (toRead > 0) {
    const std::size_t chunk = std::min(toRead, buffer.size());
    ReadExactly(ciphertext, buffer.data(), chunk);
    DecryptBlocks(buffer.data(), chunk / blockSize);
    WriteAll(plaintext, buffer.data(), std::min(chunk, toWrite));
    toRead -= chunk;
    toWrite -= std::min(chunk, toWrite);
  }
}

void T64BitBlockCipher::EncryptBlock(uint8_t* plaintext) const {
  StoreBlockLE(plaintext, EncryptedBlock(LoadBlockLE(plaintext)));
}

void T64BitBlockCipher::DecryptBlock(uint8_t* ciphertext) const {
  StoreBlockLE(ciphertext, DecryptedBlock(LoadBlockLE(ciphertext)));
}

std::string T64BitBlockCipher::EncryptedString(std::string_view plainText) const {
  const std::size_t n = plainText.size();
  const std::size_t pad = kBlockSize - n % kBlockSize;
  std::string result(plainText);
  result.append(pad, static_cast<char>(pad));
  EncryptBlocks(reinterpret_cast<uint8_t*>(result.data()), result.size() / kBlockSize);
  return result;
}

std::string T64BitBlockCipher::DecryptedString(std::string_view cipherText) const {
  if (cipherText.empty() || cipherText.size() % kBlockSize != 0) {
    throw Exception("Ciphertext is not a multiple of " + std::to_string(kBlockSize) + " bytes.");
  }
  std::string result(cipherText);
  auto* bytes = reinterpret_cast<uint8_t*>(result.data());
  DecryptBlocks(bytes + result.size() - kBlockSize, 1);
  const unsigned pad = bytes[result.size() - 1];
  if (pad == 0 || pad > kBlockSize) ThrowBadPadding(pad, kBlockSize);
  DecryptBlocks(bytes, result.size() / kBlockSize - 1);
  result.resize(result.size() - pad);
  return result;
}

}  // namespace zv
