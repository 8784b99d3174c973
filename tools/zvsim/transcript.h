// The simulator's transcript: one JSON object per line for every frame a
// console sent, so that a test can assert what went over the wire. Lines are
// flushed as they are written, so a reader sees each frame as soon as it has
// been handled. Connections write from their own threads; lines never mix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/thread_annotations.h"

namespace zv::sim {

// `text` as a JSON string literal, quotes included. Control characters,
// quotes and backslashes are escaped; each byte that is not part of a valid
// UTF-8 sequence (overlong forms and surrogates included) becomes U+FFFD, so
// the result is always valid JSON whatever bytes a console sent.
std::string JsonQuote(std::string_view text);

// Builds one JSON object, keys in the order they are added.
class TJsonLine {
 public:
  TJsonLine& Add(std::string_view key, std::string_view value);
  TJsonLine& Add(std::string_view key, const char* value) {
    return Add(key, std::string_view(value));
  }
  TJsonLine& Add(std::string_view key, int64_t value);
  // The object without a line end.
  std::string Text() const { return "{" + FFields + "}"; }

 private:
  void AddKey(std::string_view key);
  std::string FFields;
};

class TTranscript {
 public:
  // No file: every Write is dropped.
  TTranscript() = default;
  // Creates or truncates `path`; throws EFileCreateError when it cannot.
  explicit TTranscript(const std::string& path);

  // Appends the line and flushes it. False only when this write failed; the
  // transcript is then closed and drops every later line.
  bool Write(const TJsonLine& line) EXCLUDES(FMutex);

 private:
  struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  platform::Mutex FMutex;
  std::unique_ptr<std::FILE, TFileCloser> FFile GUARDED_BY(FMutex);
};

}  // namespace zv::sim
