#include "zvsim/transcript.h"

#include <cerrno>

#include "support/exceptions.h"

namespace zv::sim {
namespace {

// The length of the valid UTF-8 sequence that starts at `at`, or 0 when the
// byte there does not start one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;   // the range of the second byte, which rules out
  unsigned char high = 0xBF;  // overlong forms, surrogates and values past U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0x0F];
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (const std::size_t length = Utf8SequenceLength(text, i)) {
          out.append(text.substr(i, length));
          i += length;
          continue;
        } else {
          out += "\\ufffd";
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void TJsonLine::AddKey(std::string_view key) {
  if (!FFields.empty()) FFields += ',';
  FFields += JsonQuote(key);
  FFields += ':';
}

TJsonLine& TJsonLine::Add(std::string_view key, std::string_view value) {
  AddKey(key);
  FFields += JsonQuote(value);
  return *this;
}

TJsonLine& TJsonLine::Add(std::string_view key, int64_t value) {
  AddKey(key);
  FFields += std::to_string(value);
  return *this;
}

TTranscript::TTranscript(const std::string& path) {
  platform::MutexLock lock(FMutex);
  FFile.reset(std::fopen(path.c_str(), "wb"));
  if (!FFile) throw FileCreateError(path, errno);
}

bool TTranscript::Write(const TJsonLine& line) {
  const std::string text = line.Text() + "\n";
  platform::MutexLock lock(FMutex);
  if (!FFile) return true;
  if (std::fwrite(text.data(), 1, text.size(), FFile.get()) != text.size() ||
      std::fflush(FFile.get()) != 0) {
    FFile.reset();
    return false;
  }
  return true;
}

}  // namespace zv::sim
