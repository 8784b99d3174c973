// zVP frames per second: a message request built into its text and frame, and
// a stream of reply frames cut apart and parsed into records, as the link does
// on its client thread. Run the Release build: build-dir/bench/frame_bench
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/frame_reader.h"
#include "protocol/frame_writer.h"
#include "protocol/protocol.h"
#include "protocol/remote_msg.h"

namespace {

const zv::TStringList& MessageData() {
  static const zv::TStringList data = [] {
    // One item: the text, 0x03, then number, carrier, address, priority, age,
    // subject and account, as the console sends a message line.
    return zv::TStringList{"Hello from the benchmark, a message of an ordinary length.\x03" +
                           std::string("1234,1,555,3,0,,TerminalAgent")};
  }();
  return data;
}

void BM_BuildSendFrame(benchmark::State& state) {
  const zv::TZVProtocol protocol;
  for (auto _ : state) {
    auto msg = protocol.CreateSendMsg("TerminalAgent", "127.0.0.1", MessageData(), 18);
    benchmark::DoNotOptimize(zv::BuildFrame(protocol.CreateTcpMsg(*msg)));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSendFrame);

// 64 frames of one reply text in one buffer, read in pieces of 1,500 bytes.
void BM_ReadAndParseFrames(benchmark::State& state) {
  const zv::TZVProtocol protocol;
  auto reply = protocol.CreateSendMsg("TerminalAgent", "127.0.0.1", MessageData(), 18);
  const std::string frame = zv::BuildFrame(protocol.CreateTcpMsg(*reply));
  std::string stream;
  constexpr int kFrames = 64;
  for (int i = 0; i < kFrames; ++i) stream += frame;
  for (auto _ : state) {
    zv::TFrameReader reader;
    for (std::size_t at = 0; at < stream.size(); at += 1500) {
      reader.Append(stream.data() + at, std::min<std::size_t>(1500, stream.size() - at));
      while (auto text = reader.Next()) {
        benchmark::DoNotOptimize(protocol.CreateMsgFromTcp(*text, "127.0.0.1"));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_ReadAndParseFrames);

}  // namespace

BENCHMARK_MAIN();
