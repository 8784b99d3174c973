#include "platform/host_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace zv::platform {
namespace {

TEST(HostAddressTest, IsAnIpv4DottedQuad) {
  const std::string address = LocalHostAddress();
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
}

}  // namespace
}  // namespace zv::platform
