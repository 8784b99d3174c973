#include "support/login_data.h"

#include <gtest/gtest.h>

#include "support/des_cipher.h"
#include "support/md5.h"

namespace zv {
namespace {

// Derived by hand from the key text: its first 16 digits pairwise, in the
// buffer convention (reversed), and the digest of all 32 digits.
const uint8_t kDesKeyBuffer[8] = {0x95, 0x4E, 0xC8, 0x73, 0x1A, 0x6F, 0x2D, 0x4B};
const std::string kMask = "6B6E40D51E8D1B1782FD2791B1089C5B";

TEST(LoginDataTest, MaskIsTheDigestOfTheKeyDigits) {
  std::string digits(kLoginKeyText);
  std::erase_if(digits, [](char c) { return c == '{' || c == '}' || c == '-'; });
  ASSERT_EQ(digits, "4B2D6F1A73C84E95B0D25A17C3E9F064");
  TMD5 md5;
  md5.Update(digits);
  EXPECT_EQ(md5.AsString(), kMask);
}

TEST(LoginDataTest, KnownAnswers) {
  struct Case {
    int32_t Encoding;
    std::string Text;
    std::string Encoded;
  };
  const Case cases[] = {
      {kLoginEncodingWide, "", "940A0F00C1EC246C"},
      {kLoginEncodingWide, "TerminalAgent",
       "C1A4D54F1CAA3A6554E9F2A5072211D7EBD8BFE4E6E09ADD774DE9D9E96F3A8B"},
      {kLoginEncodingBytes, "", "BE4F1A78E1B18038"},
      {kLoginEncodingBytes, "TerminalAgent", "57017AB665A445BDB57D94FEA122F691"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeLoginData(c.Text, c.Encoding), c.Encoded) << c.Encoding << " " << c.Text;
    EXPECT_EQ(DecodeLoginData(c.Encoded, c.Encoding), c.Text) << c.Encoding << " " << c.Encoded;
  }
  // Lower-case digits are read as well.
  EXPECT_EQ(DecodeLoginData("57017ab665a445bdb57d94fea122f691", kLoginEncodingBytes),
            "TerminalAgent");
}

TEST(LoginDataTest, OtherEncodingNumbersLeaveTextAlone) {
  for (const int32_t encoding : {kLoginEncodingNone, 3, -1}) {
    EXPECT_EQ(EncodeLoginData("Pass wörd", encoding), "Pass wörd");
    EXPECT_EQ(DecodeLoginData("Pass wörd", encoding), "Pass wörd");
  }
}

TEST(LoginDataTest, LengthsAndDigits) {
  const auto isUpperHex = [](const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
  };
  for (std::size_t n = 0; n <= 13; ++n) {
    const std::string text(n, 'x');
    const std::string wide = EncodeLoginData(text, kLoginEncodingWide);
    EXPECT_EQ(wide.size(), 16 * (n / 4 + 1)) << n;
    EXPECT_TRUE(isUpperHex(wide)) << wide;
    const std::string bytes = EncodeLoginData(text, kLoginEncodingBytes);
    EXPECT_EQ(bytes.size(), 16 * (n / 8 + 1)) << n;
    EXPECT_TRUE(isUpperHex(bytes)) << bytes;
  }
  // Wide encoding counts UTF-16 units: the emoji is two.
  EXPECT_EQ(EncodeLoginData("abc😀", kLoginEncodingWide).size(), 32u);
}

TEST(LoginDataTest, RoundTrips) {
  const std::string longText(100, 'z');
  for (const std::string& text : {std::string("Grüße, 日本語 😀"), std::string("€"), longText}) {
    EXPECT_EQ(DecodeLoginData(EncodeLoginData(text, kLoginEncodingWide), kLoginEncodingWide), text);
  }
  for (const std::string& text : {std::string("Grüße € Œ"), longText}) {
    EXPECT_EQ(DecodeLoginData(EncodeLoginData(text, kLoginEncodingBytes), kLoginEncodingBytes),
              text);
  }
  // Characters outside the 8-bit code page come back as "?".
  EXPECT_EQ(DecodeLoginData(EncodeLoginData("a日本", kLoginEncodingBytes), kLoginEncodingBytes),
            "a??");
}

// The last 16 digits of a wide encoding are the final block: four masked
// 16-bit units. Their filler bytes are zeros here, and other filler decodes alike.
TEST(LoginDataTest, WideDecodingIgnoresFillerBytes) {
  const std::string encoded = EncodeLoginData("TerminalAgent", kLoginEncodingWide);
  ASSERT_EQ(encoded.size(), 64u);
  const TDESCipher cipher(kDesKeyBuffer, 8);
  uint8_t block[8];
  for (std::size_t i = 0; i < 4; ++i) {
    const auto unit =
        static_cast<unsigned>(std::stoul(encoded.substr(48 + 4 * i, 4), nullptr, 16)) ^
        static_cast<uint8_t>(kMask[12 + i]);
    block[2 * i] = static_cast<uint8_t>(unit);
    block[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
  }
  cipher.DecryptBlock(block);
  // "t" as UTF-16LE, five zero filler bytes, padding count 6.
  const uint8_t expectedPlain[8] = {'t', 0, 0, 0, 0, 0, 0, 6};
  ASSERT_TRUE(std::equal(block, block + 8, expectedPlain));

  std::fill(block + 2, block + 7, uint8_t{0xA5});
  cipher.EncryptBlock(block);
  std::string other = encoded.substr(0, 48);
  for (std::size_t i = 0; i < 4; ++i) {
    char group[5];
    std::snprintf(group, sizeof group, "%04X",
                  (block[2 * i] | block[2 * i + 1] << 8) ^ static_cast<uint8_t>(kMask[12 + i]));
    other += group;
  }
  ASSERT_NE(other, encoded);
  EXPECT_EQ(DecodeLoginData(other, kLoginEncodingWide), "TerminalAgent");
}

TEST(LoginDataTest, UndecodableTextComesBackUnchanged) {
  const std::string wideCases[] = {
      "940A0F00C1EC246G",      // not a hexadecimal digit
      "940A0F00C1EC246",       // not whole 4-digit groups
      "940A0F00",              // 4 bytes: not a whole block
      "94€A0F00C1EC246C",      // non-ASCII character
      "940A0F00C1EC246C940A",  // ragged block
  };
  for (const std::string& text : wideCases) {
    EXPECT_EQ(DecodeLoginData(text, kLoginEncodingWide), text);
  }
  const std::string byteCases[] = {"BE4F1A78E1B1803", "BE4F1A78E1B1803X", "BE4F1A78",
                                   "BE4F1A78E1B1803€"};
  for (const std::string& text : byteCases) {
    EXPECT_EQ(DecodeLoginData(text, kLoginEncodingBytes), text);
  }
}

}  // namespace
}  // namespace zv
