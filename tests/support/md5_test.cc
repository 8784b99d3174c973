#include "support/md5.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zv {
namespace {

std::string DigestOf(std::string_view text) {
  TMD5 md5;
  md5.Update(text);
  return md5.AsString();
}

TEST(MD5Test, Rfc1321TestSuite) {
  std::string digits;
  for (int i = 0; i < 8; ++i) digits += "1234567890";
  const std::pair<std::string, std::string> cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {digits, "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& [text, digest] : cases) EXPECT_EQ(DigestOf(text), digest) << text;
  EXPECT_EQ(DigestOf(std::string(1000000, 'a')), "7707D6AE4E027C70EEA2A935C2296F21");
}

TEST(MD5Test, GuidForm) {
  const std::shared_ptr<IMD5> md5 = CreateMD5();
  md5->Update("abc");
  EXPECT_EQ(md5->AsGUID(), "{90015098-3CD2-4FB0-D696-3F7D28E17F72}");
}

// The input may arrive in pieces of any size: every split around the 64-byte
// block and the 56-byte padding limit gives the one-piece digest.
TEST(MD5Test, PiecewiseUpdatesAgree) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('!' + i % 90);
  for (const std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
    const std::string_view whole(text.data(), length);
    const std::string expected = DigestOf(whole);
    for (const std::size_t piece : {1u, 3u, 63u, 64u, 65u}) {
      TMD5 md5;
      for (std::size_t at = 0; at < length; at += piece) {
        md5.Update(whole.data() + at, std::min(piece, length - at));
      }
      EXPECT_EQ(md5.AsString(), expected) << length << "/" << piece;
    }
  }
}

TEST(MD5Test, TextIsDigestedAsUtf8) {
  EXPECT_EQ(DigestOf("é"), "66DDCD97CFDEABB2F6FB8A999B4BC76F");
  EXPECT_EQ(DigestOf("Grüße"), "49C5F675B49037B6044B803AC9D1A6D7");
}

TEST(MD5Test, InitStartsANewDigest) {
  const std::shared_ptr<IMD5> md5 = CreateMD5();
  md5->Update("something else");
  (void)md5->Final();
  md5->Init();
  md5->Update("abc");
  const TMD5Digest digest = md5->Final();
  EXPECT_EQ(digest[0], 0x90);
  EXPECT_EQ(digest[15], 0x72);
}

}  // namespace
}  // namespace zv
