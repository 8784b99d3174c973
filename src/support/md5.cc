#include "support/md5.h"

#include <bit>
#include <cstring>

namespace zv {

namespace {

// 0x80 and zeros: what Final appends before the bit count.
constexpr std::array<uint8_t, 64> kPadding = {0x80};

// The sine table of the four rounds: floor(2^32 * |sin(i + 1)|).
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Rotation amounts, four per round.
constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& text, const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 0x0F];
  }
}

}  // namespace

TMD5::TMD5() { Init(); }

void TMD5::Init() {
  FContextCount = {0, 0};
  FContextState = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  FContextBuffer.fill(0);
}

void TMD5::Update(const void* input, std::size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(input);
  std::size_t index = (FContextCount[0] >> 3) & 0x3F;
  const auto lowBits = static_cast<uint32_t>(length << 3);
  FContextCount[0] += lowBits;
  if (FContextCount[0] < lowBits) ++FContextCount[1];
  FContextCount[1] += static_cast<uint32_t>(length >> 29);

  const std::size_t partLength = 64 - index;
  std::size_t i = 0;
  if (length >= partLength) {
    std::memcpy(&FContextBuffer[index], bytes, partLength);
    Transform(FContextBuffer.data(), 0);
    for (i = partLength; i + 63 < length; i += 64) Transform(bytes, i);
    index = 0;
  }
  if (length > i) std::memcpy(&FContextBuffer[index], bytes + i, length - i);
}

void TMD5::Update(std::string_view input) {
  // Text is held as UTF-8 already.
  Update(input.data(), input.size());
}

TMD5Digest TMD5::Final() {
  uint8_t bits[8];
  Encode(bits, FContextCount.data(), 8);
  const std::size_t index = (FContextCount[0] >> 3) & 0x3F;
  Update(kPadding.data(), index < 56 ? 56 - index : 120 - index);
  Update(bits, 8);
  TMD5Digest digest;
  Encode(digest.data(), FContextState.data(), digest.size());
  return digest;
}

std::string TMD5::AsString() {
  const TMD5Digest digest = Final();
  std::string text;
  AppendHex(text, digest.data(), digest.size());
  return text;
}

std::string TMD5::AsGUID() {
  const TMD5Digest digest = Final();
  std::string text = "{";
  AppendHex(text, &digest[0], 4);
  text += '-';
  AppendHex(text, &digest[4], 2);
  text += '-';
  AppendHex(text, &digest[6], 2);
  text += '-';
  AppendHex(text, &digest[8], 2);
  text += '-';
  AppendHex(text, &digest[10], 6);
  text += '}';
  return text;
}

void TMD5::Transform(const uint8_t* block, std::size_t shift) {
  uint32_t x[16];
  Decode(x, block, 64, shift);
  uint32_t a = FContextState[0];
  uint32_t b = FContextState[1];
  uint32_t c = FContextState[2];
  uint32_t d = FContextState[3];
  // One step of every round: a = b + ((a + f(b, c, d) + x[k] + t) <<< s), then
  // the words move one place along.
  const auto step = [&](uint32_t f, int i, std::size_t k, int s) {
    const uint32_t next = b + std::rotl(a + f + x[k] + kSine[i], s);
    a = d;
    d = c;
    c = b;
    b = next;
  };
  for (int i = 0; i < 16; ++i) step((b & c) | (~b & d), i, i, kShifts[0][i & 3]);
  for (int i = 16; i < 32; ++i) step((d & b) | (~d & c), i, (5 * i + 1) & 15, kShifts[1][i & 3]);
  for (int i = 32; i < 48; ++i) step(b ^ c ^ d, i, (3 * i + 5) & 15, kShifts[2][i & 3]);
  for (int i = 48; i < 64; ++i) step(c ^ (b | ~d), i, (7 * i) & 15, kShifts[3][i & 3]);
  FContextState[0] += a;
  FContextState[1] += b;
  FContextState[2] += c;
  FContextState[3] += d;
}

void TMD5::Decode(uint32_t* dst, const uint8_t* src, std::size_t length, std::size_t shift) {
  src += shift;
  for (std::size_t i = 0, j = 0; j < length; ++i, j += 4) {
    dst[i] = uint32_t{src[j]} | uint32_t{src[j + 1]} << 8 | uint32_t{src[j + 2]} << 16 |
             uint32_t{src[j + 3]} << 24;
  }
}

void TMD5::Encode(uint8_t* dst, const uint32_t* src, std::size_t length) {
  for (std::size_t i = 0, j = 0; j < length; ++i, j += 4) {
    dst[j] = static_cast<uint8_t>(src[i]);
    dst[j + 1] = static_cast<uint8_t>(src[i] >> 8);
    dst[j + 2] = static_cast<uint8_t>(src[i] >> 16);
    dst[j + 3] = static_cast<uint8_t>(src[i] >> 24);
  }
}

std::shared_ptr<IMD5> CreateMD5() { return std::make_shared<TMD5>(); }

}  // namespace zv
