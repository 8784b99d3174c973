#include "platform/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/socket_error.h"
#include "platform/thread_annotations.h"
#include "platform/unique_fd.h"

namespace zv::platform {

std::string ResolveIPv4(const std::string& hostName) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found);
  if (rc == EAI_SYSTEM && errno != 0) throw SocketError(errno);
  if (rc != 0) throw SocketError(kHostNotFound, ::gai_strerror(rc));
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) return text;
  }
  throw SocketError(kHostNotFound, ::gai_strerror(EAI_NONAME));
}

struct HostLookup::State {
  UniqueFd Ready;  // eventfd, written once the answer is in; never changes
  mutable Mutex Lock;
  std::optional<std::string> Address GUARDED_BY(Lock);
  // The failure as its parts: an exception's text may share its buffer
  // between copies, which must not cross threads.
  std::optional<int> ErrorNumber GUARDED_BY(Lock);
  std::string ErrorText GUARDED_BY(Lock);
};

HostLookup::HostLookup(std::string hostName, HostResolveFunction resolve)
    : FState(std::make_shared<State>()) {
  FState->Ready.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!FState->Ready) throw SocketError(errno);
  try {
    std::thread([state = FState, hostName = std::move(hostName), resolve = std::move(resolve)] {
      std::optional<std::string> address;
      std::optional<int> errorNumber;
      std::string errorText;
      try {
        address = resolve(hostName);
      } catch (const SocketError& e) {
        errorNumber = e.Errno();
        errorText = e.what();
      } catch (const std::exception& e) {
        errorNumber = kHostNotFound;
        errorText = e.what();
      }
      {
        MutexLock lock(state->Lock);
        state->Address = std::move(address);
        state->ErrorNumber = errorNumber;
        state->ErrorText = std::move(errorText);
      }
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = ::write(state->Ready.Get(), &one, sizeof one);
    }).detach();
  } catch (const std::system_error& e) {
    throw SocketError(e.code().value(), e.what());
  }
}

HostLookup::~HostLookup() = default;

int HostLookup::Fd() const { return FState->Ready.Get(); }

std::string HostLookup::Result() const {
  MutexLock lock(FState->Lock);
  if (FState->Address) return *FState->Address;
  if (FState->ErrorNumber) throw SocketError(*FState->ErrorNumber, FState->ErrorText);
  throw SocketError(EINPROGRESS, "The host name lookup has not finished");
}

}  // namespace zv::platform
