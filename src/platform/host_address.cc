#include "platform/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace zv::platform {

std::string LocalHostAddress() {
  const std::string fallback = "127.0.0.1";
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return fallback;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return fallback;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);

  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) return text;
  }
  return fallback;
}

}  // namespace zv::platform
