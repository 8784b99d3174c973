#include "platform/message_queue.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <list>
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

  struct WatchEntry {
    int Fd;
    std::function<void()> Handler;
    bool Alive = true;
  };

  // The descriptor the main loop polls is an epoll set of the queue's eventfd
  // and the watched descriptors, so one poll covers them all.
  Impl() : FEventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), FWakeFd(epoll_create1(EPOLL_CLOEXEC)) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = FEventFd.Get();
    epoll_ctl(FWakeFd.Get(), EPOLL_CTL_ADD, FEventFd.Get(), &event);
  }

  // The wake descriptor is readable exactly while FWaiting holds messages;
  // both change under FLock.
  void SignalLocked() {
    const std::uint64_t one = 1;
    while (write(FEventFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void UnsignalLocked() {
    std::uint64_t count = 0;
    while (read(FEventFd.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

  std::mutex FLock;
  std::deque<Entry> FWaiting;  // guarded by FLock, in posting order
  const UniqueFd FEventFd;
  const UniqueFd FWakeFd;
  // Main thread only. A watch dropped while the handlers run is only marked,
  // and erased once they are done.
  std::list<WatchEntry> FWatches;
  bool FRunningWatches = false;
};

namespace {

class WatchHandle : public MessageDispatcher::Watch {
 public:
  WatchHandle(MessageDispatcher::Impl& owner,
              std::list<MessageDispatcher::Impl::WatchEntry>::iterator entry)
      : FOwner(owner), FEntry(entry) {}
  ~WatchHandle() override {
    epoll_ctl(FOwner.FWakeFd.Get(), EPOLL_CTL_DEL, FEntry->Fd, nullptr);
    if (FOwner.FRunningWatches) {
      FEntry->Alive = false;
      FEntry->Handler = nullptr;
    } else {
      FOwner.FWatches.erase(FEntry);
    }
  }

 private:
  MessageDispatcher::Impl& FOwner;
  std::list<MessageDispatcher::Impl::WatchEntry>::iterator FEntry;
};

}  // namespace

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

std::unique_ptr<MessageDispatcher::Watch> MessageDispatcher::AddWatch(
    int fd, std::function<void()> handler) {
  auto entry = FImpl->FWatches.insert(FImpl->FWatches.end(), {fd, std::move(handler)});
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  epoll_ctl(FImpl->FWakeFd.Get(), EPOLL_CTL_ADD, fd, &event);
  return std::make_unique<WatchHandle>(*FImpl, entry);
}

void MessageDispatcher::DispatchPending() {
  DispatchMessages();
  RunWatches();
}

void MessageDispatcher::RunWatches() {
  if (FImpl->FWatches.empty()) return;
  // Handlers added meanwhile wait for the next pass.
  const std::size_t count = FImpl->FWatches.size();
  struct Running {
    Impl& Owner;
    explicit Running(Impl& owner) : Owner(owner) { Owner.FRunningWatches = true; }
    ~Running() {
      Owner.FRunningWatches = false;
      Owner.FWatches.remove_if([](const Impl::WatchEntry& entry) { return !entry.Alive; });
    }
  } running(*FImpl);
  auto it = FImpl->FWatches.begin();
  for (std::size_t i = 0; i < count && it != FImpl->FWatches.end(); ++i, ++it) {
    if (it->Alive) {
      std::function<void()> handler = it->Handler;  // the handler may drop its own watch
      handler();
    }
  }
}

void MessageDispatcher::DispatchMessages() {
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
