#include "link/msg_buffer.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace zv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::unique_ptr<TZVRemoteMsg> Request(int32_t id) {
  return std::make_unique<TZVRemoteMsg>("TerminalAgent", "127.0.0.1", id);
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

TEST(MsgBufferTest, HoldsOneLessThanItsSizeInOrderAndKeepsWhatItRefuses) {
  TZVMsgBuffer buffer(4, "TcpBufferClient", 50);
  EXPECT_EQ(buffer.QueueName(), "TcpBufferClient");
  for (int32_t id = 1; id <= 3; ++id) {
    auto msg = Request(id);
    EXPECT_TRUE(buffer.Enqueue(msg));
    EXPECT_EQ(msg, nullptr);
  }
  EXPECT_EQ(buffer.Count(), 3);

  auto refused = Request(4);
  const auto start = Clock::now();
  EXPECT_FALSE(buffer.Enqueue(refused));
  EXPECT_GE(Clock::now() - start, 50ms);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->TransactionId(), 4);
  std::unique_ptr<TZVRemoteMsg> empty;
  EXPECT_FALSE(buffer.Enqueue(empty));

  for (int32_t id = 1; id <= 3; ++id) {
    auto msg = buffer.Dequeue();
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->TransactionId(), id);
  }
  EXPECT_EQ(buffer.Count(), 0);
  EXPECT_TRUE(buffer.Enqueue(refused));  // room again

  EXPECT_NE(buffer.Dequeue(), nullptr);
  const auto waited = Clock::now();
  EXPECT_EQ(buffer.Dequeue(), nullptr);
  EXPECT_GE(Clock::now() - waited, 50ms);
}

TEST(MsgBufferTest, SizeAndTimeoutOfZeroMean1000And2000Ms) {
  // Destroyed full: the leak checker of the sanitizer build reports entries
  // that the buffer does not free.
  TZVMsgBuffer buffer(0, "TcpBufferClient", 0);
  for (int32_t id = 1; id <= 999; ++id) {
    auto msg = Request(id);
    ASSERT_TRUE(buffer.Enqueue(msg)) << id;
  }
  auto last = Request(1000);
  const auto start = Clock::now();
  EXPECT_FALSE(buffer.Enqueue(last));
  EXPECT_GE(Clock::now() - start, 2000ms);
  EXPECT_EQ(buffer.Count(), 999);
}

TEST(MsgBufferTest, ReadableFdIsReadableWhileAnEntryMayBeTaken) {
  TZVMsgBuffer buffer(10, "b", 50);
  EXPECT_FALSE(Readable(buffer.ReadableFd()));
  EXPECT_EQ(buffer.TryDequeue(), nullptr);
  auto msg = Request(1);
  ASSERT_TRUE(buffer.Enqueue(msg));
  EXPECT_TRUE(Readable(buffer.ReadableFd()));
  auto taken = buffer.TryDequeue();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->TransactionId(), 1);
  EXPECT_FALSE(Readable(buffer.ReadableFd()));
}

TEST(MsgBufferTest, ShutdownWakesEveryWaiterAndFailsEverythingAfter) {
  // Size 1 holds nothing, so readers and writers all wait for a minute.
  TZVMsgBuffer buffer(1, "b", 60000);
  const auto start = Clock::now();
  std::vector<std::future<bool>> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.push_back(std::async(std::launch::async, [&buffer] { return !buffer.Dequeue(); }));
    waiters.push_back(std::async(std::launch::async, [&buffer, i] {
      auto msg = Request(i);
      return !buffer.Enqueue(msg) && msg != nullptr;
    }));
  }
  buffer.Shutdown();
  for (auto& waiter : waiters) EXPECT_TRUE(waiter.get());
  EXPECT_LT(Clock::now() - start, 30s);

  EXPECT_TRUE(buffer.IsShutDown());
  EXPECT_EQ(buffer.Count(), -1);
  EXPECT_EQ(buffer.Dequeue(), nullptr);
  EXPECT_EQ(buffer.TryDequeue(), nullptr);
  auto msg = Request(9);
  EXPECT_FALSE(buffer.Enqueue(msg));
  EXPECT_NE(msg, nullptr);
  EXPECT_TRUE(Readable(buffer.ReadableFd()));  // a poller wakes and finds out
  buffer.Shutdown();
}

TEST(MsgBufferTest, ProducersOnSeveralThreadsReachOneConsumerInTheirOrder) {
  constexpr int kProducers = 3;
  constexpr int kEach = 300;
  TZVMsgBuffer buffer(8, "b", 10000);
  std::vector<std::jthread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&buffer, p] {
      for (int i = 0; i < kEach; ++i) {
        auto msg = Request(p * kEach + i);
        ASSERT_TRUE(buffer.Enqueue(msg));
      }
    });
  }
  std::vector<int> next(kProducers, 0);
  for (int received = 0; received < kProducers * kEach; ++received) {
    auto msg = buffer.Dequeue();
    ASSERT_NE(msg, nullptr) << received;
    const int p = msg->TransactionId() / kEach;
    EXPECT_EQ(msg->TransactionId() % kEach, next[p]++);
  }
  EXPECT_EQ(buffer.Count(), 0);
}

}  // namespace
}  // namespace zv
