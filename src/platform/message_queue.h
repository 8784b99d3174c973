// The main thread's message queue. Any thread posts messages to a
// MessageQueue; the main thread runs them, in posting order, when it dispatches
// (the main loop's polling step), never at any other time. Each posting object
// owns its own MessageQueue: messages still waiting when it is destroyed are
// dropped with it, so none runs against a freed object.
#pragma once

#include <functional>
#include <memory>

namespace zv::platform {

class MessageDispatcher;

class MessageQueue {
 public:
  // The dispatcher outlives its queues.
  explicit MessageQueue(MessageDispatcher& dispatcher);
  ~MessageQueue();  // main thread; drops what is still waiting
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Any thread, while the queue exists (its owner stops its posting threads
  // before destroying it). The message runs later on the main thread.
  void Post(std::function<void()> message);

 private:
  friend class MessageDispatcher;
  struct State;
  std::shared_ptr<State> FState;
};

class MessageDispatcher {
 public:
  MessageDispatcher();
  ~MessageDispatcher();
  MessageDispatcher(const MessageDispatcher&) = delete;
  MessageDispatcher& operator=(const MessageDispatcher&) = delete;

  // The process's dispatcher, created on first use.
  static MessageDispatcher& Main();

  // Readable while messages wait (an eventfd); for the main loop's poll.
  int WakeFd() const;

  // Main thread: runs every message waiting now, without waiting for new ones.
  // A message may destroy queues (its own included); their later messages are
  // then dropped.
  void DispatchPending();

 private:
  friend class MessageQueue;
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace zv::platform
