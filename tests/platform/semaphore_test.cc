#include "platform/semaphore.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <future>

namespace zv::platform {
namespace {

using namespace std::chrono_literals;

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

TEST(SemaphoreTest, CountsAndIsReadableWhileACountIsLeft) {
  Semaphore semaphore(2);
  EXPECT_TRUE(Readable(semaphore.Fd()));
  EXPECT_TRUE(semaphore.TryAcquire());
  EXPECT_TRUE(semaphore.Acquire(0ms));
  EXPECT_FALSE(semaphore.TryAcquire());
  EXPECT_FALSE(Readable(semaphore.Fd()));

  semaphore.Release(3);
  EXPECT_TRUE(Readable(semaphore.Fd()));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(semaphore.TryAcquire()) << i;
  EXPECT_FALSE(semaphore.TryAcquire());
}

TEST(SemaphoreTest, AcquireGivesUpAtItsDeadline) {
  Semaphore semaphore(0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(semaphore.Acquire(30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(SemaphoreTest, ReleaseWakesAsManyWaitersAsItAddsCounts) {
  Semaphore semaphore(0);
  auto waiter = [&semaphore] { return semaphore.Acquire(60s); };
  auto first = std::async(std::launch::async, waiter);
  auto second = std::async(std::launch::async, waiter);
  semaphore.Release(2);
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  EXPECT_FALSE(semaphore.TryAcquire());
}

}  // namespace
}  // namespace zv::platform
