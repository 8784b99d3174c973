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

  // Readable while messages wait or a watched descriptor is readable; for the
  // main loop's poll.
  int WakeFd() const;

  // Main thread: runs every message waiting now, without waiting for new ones,
  // then every watch's handler. A message may destroy queues (its own
  // included); their later messages are then dropped.
  void DispatchPending();

  // Main thread: while the returned handle lives, `fd` readable makes WakeFd()
  // readable, and every DispatchPending() calls `handler` (whether or not `fd`
  // is readable, so work a handler's owner has already taken in is not left
  // waiting). The handler must consume what makes `fd` readable, or drop the
  // watch; it may drop any watch, its own included. `fd` stays open while
  // watched.
  class Watch {
   public:
    virtual ~Watch() = default;
  };
  std::unique_ptr<Watch> AddWatch(int fd, std::function<void()> handler);

  struct Impl;

 private:
  friend class MessageQueue;
  void DispatchMessages();
  void RunWatches();
  std::unique_ptr<Impl> FImpl;
};

}  // namespace zv::platform
