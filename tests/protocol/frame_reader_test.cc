#include "protocol/frame_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/frame_writer.h"
#include "support/exceptions.h"

namespace zv {
namespace {

std::vector<std::string> Drain(TFrameReader& reader) {
  std::vector<std::string> frames;
  while (reader.HasFrame()) frames.push_back(reader.Next().value());
  EXPECT_FALSE(reader.Next().has_value());
  return frames;
}

void Feed(TFrameReader& reader, std::string_view bytes) {
  reader.Append(bytes.data(), bytes.size());
}

TEST(FrameReaderTest, EveryTruncationOfTwoFrames) {
  const std::string first = "first", second(300, 's');  // the second length has a high byte
  const std::string stream = BuildFrame(first) + BuildFrame(second);
  const std::size_t firstEnd = 2 + first.size();
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    TFrameReader reader;
    Feed(reader, std::string_view(stream).substr(0, cut));
    std::vector<std::string> frames = Drain(reader);
    EXPECT_EQ(frames.size(), (cut >= firstEnd) + (cut == stream.size()));
    EXPECT_EQ(reader.HasBufferedBytes(), cut != 0 && cut != firstEnd && cut != stream.size());

    Feed(reader, std::string_view(stream).substr(cut));
    for (std::string& frame : Drain(reader)) frames.push_back(std::move(frame));
    EXPECT_EQ(frames, (std::vector<std::string>{first, second}));
    EXPECT_FALSE(reader.HasBufferedBytes());
  }
}

TEST(FrameReaderTest, ByteByByteAndInRandomPieces) {
  std::mt19937 random(6);
  std::vector<std::string> sent;
  std::string stream;
  for (int i = 0; i < 60; ++i) {
    std::string text(std::uniform_int_distribution<std::size_t>(1, 3000)(random),
                     static_cast<char>('a' + i % 26));
    if (i == 30) text.assign(kMaxFrameText, 'M');
    stream += BuildFrame(text);
    sent.push_back(std::move(text));
  }
  for (const std::size_t maxPiece : {std::size_t{1}, std::size_t{4096}}) {
    SCOPED_TRACE(maxPiece);
    TFrameReader reader;
    std::vector<std::string> received;
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t piece = std::min(
          std::uniform_int_distribution<std::size_t>(1, maxPiece)(random), stream.size() - at);
      Feed(reader, std::string_view(stream).substr(at, piece));
      at += piece;
      for (std::string& frame : Drain(reader)) received.push_back(std::move(frame));
    }
    EXPECT_EQ(received, sent);
    EXPECT_FALSE(reader.HasBufferedBytes());
  }
}

TEST(FrameReaderTest, BadLengthBreaksTheStreamForGood) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string("\x00\x00", 2), "Frame length 0 (0x0000)"},
      {std::string("\x80\x00", 2), "Frame length 32768 (0x8000)"},
      {std::string("\xFF\xFF", 2), "Frame length 65535 (0xFFFF)"},
  };
  for (const auto& [header, named] : cases) {
    SCOPED_TRACE(named);
    TFrameReader reader;
    Feed(reader, BuildFrame("good") + header.substr(0, 1));
    EXPECT_EQ(reader.Next(), "good");
    EXPECT_FALSE(reader.HasFrame());  // half a length says nothing yet
    Feed(reader, header.substr(1) + BuildFrame("after"));
    EXPECT_TRUE(reader.HasFrame());
    try {
      reader.Next();
      ADD_FAILURE() << "no error";
    } catch (const EZVTcpConnection& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("zVP protocol error\r\n", 0), 0u) << message;
      EXPECT_NE(message.find(named), std::string::npos) << message;
    }
    EXPECT_TRUE(reader.IsBroken());
    Feed(reader, BuildFrame("later"));
    EXPECT_FALSE(reader.HasBufferedBytes());
    EXPECT_FALSE(reader.HasFrame());
    EXPECT_FALSE(reader.Next().has_value());
  }
}

}  // namespace
}  // namespace zv
