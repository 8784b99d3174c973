#include "platform/message_queue.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zv::platform {
namespace {

bool Readable(int fd, int timeoutMs = 0) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

TEST(MessageQueueTest, MessagesRunOnlyWhenDispatchedAndInPostingOrder) {
  MessageDispatcher dispatcher;
  MessageQueue first(dispatcher);
  MessageQueue second(dispatcher);
  std::string log;
  EXPECT_FALSE(Readable(dispatcher.WakeFd()));

  first.Post([&] { log += "a"; });
  second.Post([&] { log += "b"; });
  first.Post([&] { log += "c"; });
  EXPECT_EQ(log, "");
  EXPECT_TRUE(Readable(dispatcher.WakeFd()));

  dispatcher.DispatchPending();
  EXPECT_EQ(log, "abc");
  EXPECT_FALSE(Readable(dispatcher.WakeFd()));
  dispatcher.DispatchPending();  // nothing waits: returns at once
  EXPECT_EQ(log, "abc");
}

TEST(MessageQueueTest, DestroyedQueueDropsWhatWaits) {
  MessageDispatcher dispatcher;
  auto doomed = std::make_unique<MessageQueue>(dispatcher);
  auto token = std::make_shared<int>(0);
  std::string log;
  doomed->Post([&log, token] { log += "doomed"; });
  EXPECT_EQ(token.use_count(), 2);
  doomed.reset();
  EXPECT_EQ(token.use_count(), 1);              // the message and its captures are gone
  EXPECT_FALSE(Readable(dispatcher.WakeFd()));  // nothing waits any more

  MessageQueue kept(dispatcher);
  doomed = std::make_unique<MessageQueue>(dispatcher);
  doomed->Post([&] { log += "x"; });
  kept.Post([&] { log += "k"; });
  doomed.reset();
  EXPECT_TRUE(Readable(dispatcher.WakeFd()));
  dispatcher.DispatchPending();
  EXPECT_EQ(log, "k");
}

TEST(MessageQueueTest, MessageMayDestroyQueuesWhoseLaterMessagesThenNeverRun) {
  MessageDispatcher dispatcher;
  auto own = std::make_unique<MessageQueue>(dispatcher);
  auto other = std::make_unique<MessageQueue>(dispatcher);
  MessageQueue survivor(dispatcher);
  std::string log;
  own->Post([&] {
    log += "1";
    own.reset();
    other.reset();
  });
  other->Post([&] { log += "2"; });
  own->Post([&] { log += "3"; });
  survivor.Post([&] { log += "4"; });
  dispatcher.DispatchPending();
  EXPECT_EQ(log, "14");
}

TEST(MessageQueueTest, MessagesPostedDuringADispatchWaitForTheNext) {
  MessageDispatcher dispatcher;
  MessageQueue queue(dispatcher);
  int runs = 0;
  queue.Post([&] {
    ++runs;
    queue.Post([&] { ++runs; });
  });
  dispatcher.DispatchPending();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(Readable(dispatcher.WakeFd()));
  dispatcher.DispatchPending();
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(Readable(dispatcher.WakeFd()));
}

TEST(MessageQueueTest, ThrowingMessageLeavesTheRestForTheNextDispatch) {
  MessageDispatcher dispatcher;
  MessageQueue queue(dispatcher);
  std::string log;
  queue.Post([&] { log += "a"; });
  queue.Post([] { throw std::runtime_error("handler failed"); });
  queue.Post([&] { log += "b"; });
  EXPECT_THROW(dispatcher.DispatchPending(), std::runtime_error);
  EXPECT_EQ(log, "a");
  queue.Post([&] { log += "c"; });
  EXPECT_TRUE(Readable(dispatcher.WakeFd()));
  dispatcher.DispatchPending();
  EXPECT_EQ(log, "abc");
}

TEST(MessageQueueTest, PostsFromManyThreadsArriveInEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  MessageDispatcher dispatcher;
  std::vector<std::unique_ptr<MessageQueue>> queues;
  for (int t = 0; t < kThreads; ++t) queues.push_back(std::make_unique<MessageQueue>(dispatcher));

  std::vector<std::vector<int>> seen(kThreads);  // main thread only
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) queues[t]->Post([&seen, t, i] { seen[t].push_back(i); });
    });
  }

  // The main loop's way: wait on the wake descriptor, then dispatch.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto total = [&] {
    std::size_t n = 0;
    for (const auto& s : seen) n += s.size();
    return n;
  };
  while (total() < kThreads * kEach && std::chrono::steady_clock::now() < deadline) {
    if (Readable(dispatcher.WakeFd(), 100)) dispatcher.DispatchPending();
  }
  for (auto& p : posters) p.join();
  dispatcher.DispatchPending();

  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kEach)) << "thread " << t;
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[t][i], i);
  }
  EXPECT_FALSE(Readable(dispatcher.WakeFd()));
}

TEST(MessageQueueTest, QueueDestroyedWhileAnotherThreadPostsToItsNeighbour) {
  MessageDispatcher dispatcher;
  MessageQueue steady(dispatcher);
  int ran = 0;
  std::thread poster([&] {
    for (int i = 0; i < 1000; ++i) steady.Post([&] { ++ran; });
  });
  for (int round = 0; round < 100; ++round) {
    MessageQueue shortLived(dispatcher);
    shortLived.Post([] { FAIL() << "ran after its queue was destroyed"; });
  }
  poster.join();
  dispatcher.DispatchPending();
  EXPECT_EQ(ran, 1000);
}

TEST(MessageQueueTest, MainDispatcherIsOneForTheProcess) {
  EXPECT_EQ(&MessageDispatcher::Main(), &MessageDispatcher::Main());
  EXPECT_GE(MessageDispatcher::Main().WakeFd(), 0);
}

// A watched descriptor wakes the loop's poll while readable; its handler runs
// on every dispatch and may drop its own watch and another's.
TEST(MessageQueueTest, WatchedDescriptorsWakeAndTheirHandlersRunEachDispatch) {
  MessageDispatcher dispatcher;
  int pipeA[2];
  int pipeB[2];
  ASSERT_EQ(pipe2(pipeA, O_NONBLOCK), 0);
  ASSERT_EQ(pipe2(pipeB, O_NONBLOCK), 0);
  std::unique_ptr<MessageDispatcher::Watch> watchA;
  std::unique_ptr<MessageDispatcher::Watch> watchB;
  int runsA = 0;
  int runsB = 0;
  watchA = dispatcher.AddWatch(pipeA[0], [&] {
    ++runsA;
    char c;
    if (read(pipeA[0], &c, 1) == 1 && c == 'x') {
      watchB.reset();
      watchA.reset();
    }
  });
  watchB = dispatcher.AddWatch(pipeB[0], [&] { ++runsB; });

  EXPECT_FALSE(Readable(dispatcher.WakeFd()));
  dispatcher.DispatchPending();  // handlers run whether or not their descriptor is ready
  EXPECT_EQ(runsA, 1);
  EXPECT_EQ(runsB, 1);

  ASSERT_EQ(write(pipeB[1], "b", 1), 1);
  EXPECT_TRUE(Readable(dispatcher.WakeFd()));

  ASSERT_EQ(write(pipeA[1], "x", 1), 1);
  dispatcher.DispatchPending();  // A drops both watches; B's handler does not run after
  EXPECT_EQ(runsA, 2);
  EXPECT_EQ(runsB, 1);
  EXPECT_EQ(watchA, nullptr);
  EXPECT_FALSE(Readable(dispatcher.WakeFd()));  // B's byte is still there, but unwatched
  dispatcher.DispatchPending();
  EXPECT_EQ(runsA, 2);
  for (int fd : {pipeA[0], pipeA[1], pipeB[0], pipeB[1]}) close(fd);
}

}  // namespace
}  // namespace zv::platform
