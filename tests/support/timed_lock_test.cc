#include "support/timed_lock.h"

#include <gtest/gtest.h>

#include <future>

namespace zv {
namespace {

using std::chrono::milliseconds;

bool TakeElsewhere(TTimedLock& lock, milliseconds timeout) {
  return std::async(std::launch::async,
                    [&lock, timeout] {
                      const bool got = lock.try_lock_for(timeout);
                      if (got) lock.unlock();
                      return got;
                    })
      .get();
}

TEST(TimedLockTest, TheHolderMayTakeItAgainAndOthersWaitForTheLastUnlock) {
  TTimedLock lock;
  ASSERT_TRUE(lock.try_lock());
  ASSERT_TRUE(lock.try_lock_for(milliseconds(0)));
  EXPECT_FALSE(TakeElsewhere(lock, milliseconds(50)));
  lock.unlock();
  EXPECT_FALSE(TakeElsewhere(lock, milliseconds(50)));
  lock.unlock();
  EXPECT_TRUE(TakeElsewhere(lock, milliseconds(0)));
}

TEST(TimedLockTest, AWaiterGetsTheLockWhenItIsReleased) {
  TTimedLock lock;
  ASSERT_TRUE(lock.try_lock());
  std::promise<void> started;
  auto waiter = std::async(std::launch::async, [&lock, &started] {
    started.set_value();
    return TakeElsewhere(lock, milliseconds(10000));
  });
  started.get_future().wait();
  lock.unlock();
  EXPECT_TRUE(waiter.get());
}

}  // namespace
}  // namespace zv
