#include "link/record_gate.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

namespace zv {
namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

TEST(RecordGateTest, ATakerWithoutAPlaceIsWokenByTheNextGive) {
  TRecordGate gate(2);
  EXPECT_TRUE(gate.TryTake());
  EXPECT_TRUE(gate.TryTake());
  EXPECT_FALSE(gate.TryTake());
  EXPECT_FALSE(Readable(gate.Fd()));
  gate.Give();
  EXPECT_TRUE(Readable(gate.Fd()));
  EXPECT_TRUE(gate.TryTake());
  // Full again: the wake of the earlier wait is not left to spin a poll.
  EXPECT_FALSE(gate.TryTake());
  EXPECT_FALSE(Readable(gate.Fd()));
  gate.Give();
  gate.Give();
  EXPECT_EQ(gate.Taken(), 0);
}

// A reader that waits on the descriptor whenever the gate is full never
// misses the place a giver frees meanwhile, and never exceeds the bound.
TEST(RecordGateTest, TakerAndGiverOnTwoThreadsNeitherStallNorOverrun) {
  constexpr int kRecords = 20000;
  constexpr int32_t kPlaces = 8;
  TRecordGate gate(kPlaces);
  std::atomic<int> handed{0};
  std::atomic<bool> overrun{false};
  std::thread giver([&] {
    for (int given = 0; given < kRecords;) {
      if (handed.load() > given) {
        gate.Give();
        ++given;
      } else {
        std::this_thread::yield();
      }
    }
  });
  for (int taken = 0; taken < kRecords;) {
    if (gate.TryTake()) {
      if (gate.Taken() > kPlaces) overrun = true;
      ++handed;
      ++taken;
    } else {
      pollfd p{gate.Fd(), POLLIN, 0};
      ASSERT_EQ(poll(&p, 1, 5000), 1) << "a freed place woke nobody after " << taken;
    }
  }
  giver.join();
  EXPECT_FALSE(overrun);
  EXPECT_EQ(gate.Taken(), 0);
}

}  // namespace
}  // namespace zv
