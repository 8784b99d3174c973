#include "platform/message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

namespace zv::platform {

struct MessageQueue::State {
  MessageDispatcher::Impl* Dispatcher;
  bool Alive = true;  // guarded by the dispatcher's FLock
};

struct MessageDispatcher::Impl {
  struct Entry {
    std::shared_ptr<MessageQueue::State> Queue;
    std::function<void()> Message;
  };

  Impl() : FWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

  // The wake descriptor is readable exactly while FWaiting holds messages;
  // both change under FLock.
  void SignalLocked() {
    const std::uint64_t one = 1;
    while (write(FWakeFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void UnsignalLocked() {
    std::uint64_t count = 0;
    while (read(FWakeFd.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

  std::mutex FLock;
  std::deque<Entry> FWaiting;  // guarded by FLock, in posting order
  const UniqueFd FWakeFd;
};

MessageQueue::MessageQueue(MessageDispatcher& dispatcher)
    : FState(std::make_shared<State>(State{dispatcher.FImpl.get()})) {}

MessageQueue::~MessageQueue() {
  auto& impl = *FState->Dispatcher;
  std::vector<std::function<void()>> dropped;  // destroyed outside the lock
  {
    std::lock_guard lock(impl.FLock);
    FState->Alive = false;
    auto& waiting = impl.FWaiting;
    for (auto it = waiting.begin(); it != waiting.end();) {
      if (it->Queue == FState) {
        dropped.push_back(std::move(it->Message));
        it = waiting.erase(it);
      } else {
        ++it;
      }
    }
    if (!dropped.empty() && waiting.empty()) impl.UnsignalLocked();
  }
}

void MessageQueue::Post(std::function<void()> message) {
  auto& impl = *FState->Dispatcher;
  std::lock_guard lock(impl.FLock);
  if (!FState->Alive) return;
  if (impl.FWaiting.empty()) impl.SignalLocked();
  impl.FWaiting.push_back({FState, std::move(message)});
}

MessageDispatcher::MessageDispatcher() : FImpl(std::make_unique<Impl>()) {}

MessageDispatcher::~MessageDispatcher() = default;

MessageDispatcher& MessageDispatcher::Main() {
  static MessageDispatcher main;
  return main;
}

int MessageDispatcher::WakeFd() const { return FImpl->FWakeFd.Get(); }

void MessageDispatcher::DispatchPending() {
  std::deque<Impl::Entry> batch;
  {
    std::lock_guard lock(FImpl->FLock);
    if (FImpl->FWaiting.empty()) return;
    batch.swap(FImpl->FWaiting);
    FImpl->UnsignalLocked();
  }
  // A message that throws ends this dispatch; the rest of the batch goes back
  // in front of what was posted meanwhile, for the next one.
  struct PutBack {
    Impl& Owner;
    std::deque<Impl::Entry>& Rest;
    ~PutBack() {
      if (Rest.empty()) return;
      std::lock_guard lock(Owner.FLock);
      if (Owner.FWaiting.empty()) Owner.SignalLocked();
      Owner.FWaiting.insert(Owner.FWaiting.begin(), std::make_move_iterator(Rest.begin()),
                            std::make_move_iterator(Rest.end()));
    }
  } putBack{*FImpl, batch};

  while (!batch.empty()) {
    Impl::Entry entry = std::move(batch.front());
    batch.pop_front();
    bool alive = false;
    {
      std::lock_guard lock(FImpl->FLock);
      alive = entry.Queue->Alive;  // a message before may have destroyed the queue
    }
    if (alive) entry.Message();
  }
}

}  // namespace zv::platform
