#include "support/des_cipher.h"

#include <bit>

namespace zv {

namespace {

// The standard's tables. Bit numbers count from 1 at the most significant bit.
using TPermutation64 = std::array<uint8_t, 64>;

constexpr TPermutation64 kInitialPermutation = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,  //
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,  //
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,  //
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::array<uint8_t, 32> kPermutationP = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,  //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::array<uint8_t, 56> kPermutedChoice1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,  //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,  //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,  //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::array<uint8_t, 48> kPermutedChoice2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,  //
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,   //
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,  //
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::array<uint8_t, 16> kKeyShifts = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// S1..S8, each as 4 rows of 16 columns.
constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  //
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,  //
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,  //
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,  //
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,   //
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,  //
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  //
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  //
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,  //
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,  //
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,   //
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,   //
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,   //
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,   //
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,  //
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,  //
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,   //
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,   //
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,  //
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,  //
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,  //
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  //
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  //
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,  //
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Bit n (from 1, most significant first) of a value `width` bits wide.
constexpr uint64_t BitOf(int n, int width) { return uint64_t{1} << (width - n); }

// Output bit i is input bit table[i - 1].
template <std::size_t N>
constexpr uint64_t Permute(uint64_t in, int inWidth, const std::array<uint8_t, N>& table) {
  uint64_t out = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (in & BitOf(table[i], inWidth)) out |= BitOf(static_cast<int>(i + 1), static_cast<int>(N));
  }
  return out;
}

constexpr TPermutation64 Inverse(const TPermutation64& table) {
  TPermutation64 inverse{};
  for (std::size_t i = 0; i < 64; ++i) inverse[table[i] - 1] = static_cast<uint8_t>(i + 1);
  return inverse;
}

// A 64-bit permutation as eight lookups, one per input byte (byte 0 the most
// significant); the permutation of a block is the OR of its bytes' images.
using TByteTables = std::array<std::array<uint64_t, 256>, 8>;

constexpr TByteTables MakeByteTables(const TPermutation64& table) {
  TByteTables result{};
  for (int byte = 0; byte < 8; ++byte) {
    std::array<uint64_t, 8> bitImages{};
    for (int bit = 0; bit < 8; ++bit) {
      bitImages[bit] = Permute(BitOf(8 * byte + bit + 1, 64), 64, table);
    }
    for (int value = 0; value < 256; ++value) {
      uint64_t image = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (value & (0x80 >> bit)) image |= bitImages[bit];
      }
      result[byte][value] = image;
    }
  }
  return result;
}

// Substitution followed by P: entry [j][g] is P applied to the output of S-box
// j + 1 for the 6-bit group g, all other S-box outputs zero. P spreads the
// boxes' outputs over disjoint bits, so a round's f is the OR of eight entries.
using TSPTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr TSPTables MakeSPTables() {
  TSPTables result{};
  for (int box = 0; box < 8; ++box) {
    for (int group = 0; group < 64; ++group) {
      const int row = ((group >> 4) & 2) | (group & 1);
      const int column = (group >> 1) & 15;
      const uint64_t output = uint64_t{kSBoxes[box][row * 16 + column]} << (28 - 4 * box);
      result[box][group] = static_cast<uint32_t>(Permute(output, 32, kPermutationP));
    }
  }
  return result;
}

constexpr TByteTables kInitialTables = MakeByteTables(kInitialPermutation);
constexpr TByteTables kFinalTables = MakeByteTables(Inverse(kInitialPermutation));
constexpr TSPTables kSPTables = MakeSPTables();

inline uint64_t PermuteBytes(const TByteTables& tables, uint64_t x) {
  return tables[0][x >> 56] | tables[1][(x >> 48) & 0xFF] | tables[2][(x >> 40) & 0xFF] |
         tables[3][(x >> 32) & 0xFF] | tables[4][(x >> 24) & 0xFF] | tables[5][(x >> 16) & 0xFF] |
         tables[6][(x >> 8) & 0xFF] | tables[7][x & 0xFF];
}

// The round function f(R, K). Expansion E takes group j (from 0) from bits
// 4j .. 4j+5 of R, bit 0 being bit 32. Rotating R right by 1 puts groups 0, 2,
// 4, 6 at bits 26, 18, 10, 2 of the word; rotating it right by 5 puts groups
// 7, 1, 3, 5 at the same bits; TDESSubkey holds the key groups there.
inline uint32_t RoundFunction(uint32_t r, const TDESSubkey& key) {
  const uint32_t even = std::rotr(r, 1) ^ key.Even;
  const uint32_t odd = std::rotr(r, 5) ^ key.Odd;
  return kSPTables[0][(even >> 26) & 0x3F] | kSPTables[2][(even >> 18) & 0x3F] |
         kSPTables[4][(even >> 10) & 0x3F] | kSPTables[6][(even >> 2) & 0x3F] |
         kSPTables[7][(odd >> 26) & 0x3F] | kSPTables[1][(odd >> 18) & 0x3F] |
         kSPTables[3][(odd >> 10) & 0x3F] | kSPTables[5][(odd >> 2) & 0x3F];
}

template <bool kDecrypt>
inline uint64_t Crypt(uint64_t block, const TDESKeySchedule& schedule) {
  const uint64_t permuted = PermuteBytes(kInitialTables, block);
  auto left = static_cast<uint32_t>(permuted >> 32);
  auto right = static_cast<uint32_t>(permuted);
  // Two rounds per step, so the halves trade roles instead of being swapped.
  for (int i = 0; i < 16; i += 2) {
    left ^= RoundFunction(right, schedule[kDecrypt ? 15 - i : i]);
    right ^= RoundFunction(left, schedule[kDecrypt ? 14 - i : i + 1]);
  }
  return PermuteBytes(kFinalTables, uint64_t{right} << 32 | left);
}

template <bool kDecrypt>
inline void CryptBlocks(uint8_t* blocks, std::size_t count, const TDESKeySchedule& schedule) {
  for (std::size_t i = 0; i < count; ++i, blocks += 8) {
    StoreBlockLE(blocks, Crypt<kDecrypt>(LoadBlockLE(blocks), schedule));
  }
}

constexpr uint32_t RotateLeft28(uint32_t x, int n) {
  return ((x << n) | (x >> (28 - n))) & 0x0FFFFFFF;
}

}  // namespace

TDESCipher::TDESCipher(const void* key, std::size_t length)
    : T64BitBlockCipher(length, kMinKeyLength) {
  const uint64_t keyBits = LoadBlockLE(static_cast<const uint8_t*>(key));
  const uint64_t cd = Permute(keyBits, 64, kPermutedChoice1);
  auto c = static_cast<uint32_t>(cd >> 28);
  auto d = static_cast<uint32_t>(cd & 0x0FFFFFFF);
  for (std::size_t round = 0; round < 16; ++round) {
    c = RotateLeft28(c, kKeyShifts[round]);
    d = RotateLeft28(d, kKeyShifts[round]);
    const uint64_t subkey = Permute(uint64_t{c} << 28 | d, 56, kPermutedChoice2);
    const auto group = [subkey](int j) {
      return static_cast<uint32_t>((subkey >> (42 - 6 * j)) & 0x3F);
    };
    FKeySchedule[round].Even = group(0) << 26 | group(2) << 18 | group(4) << 10 | group(6) << 2;
    FKeySchedule[round].Odd = group(7) << 26 | group(1) << 18 | group(3) << 10 | group(5) << 2;
  }
}

TDESCipher::~TDESCipher() {
  // Through a volatile pointer, so the clearing of a dying object is not
  // optimised away.
  for (TDESSubkey& subkey : FKeySchedule) {
    *static_cast<volatile uint32_t*>(&subkey.Even) = 0;
    *static_cast<volatile uint32_t*>(&subkey.Odd) = 0;
  }
}

uint64_t TDESCipher::EncryptedBlock(uint64_t plaintext) const {
  return Crypt<false>(plaintext, FKeySchedule);
}

uint64_t TDESCipher::DecryptedBlock(uint64_t ciphertext) const {
  return Crypt<true>(ciphertext, FKeySchedule);
}

void TDESCipher::EncryptBlock(uint8_t* plaintext) const {
  CryptBlocks<false>(plaintext, 1, FKeySchedule);
}

void TDESCipher::DecryptBlock(uint8_t* ciphertext) const {
  CryptBlocks<true>(ciphertext, 1, FKeySchedule);
}

void TDESCipher::EncryptBlocks(uint8_t* blocks, std::size_t count) const {
  CryptBlocks<false>(blocks, count, FKeySchedule);
}

void TDESCipher::DecryptBlocks(uint8_t* blocks, std::size_t count) const {
  CryptBlocks<true>(blocks, count, FKeySchedule);
}

}  // namespace zv
