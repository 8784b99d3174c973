// An outbox file of its own for each test, and short ways to make orders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "outbox/outbox.h"
#include "support/scratch_folder.h"

namespace zv::testutil {

// A plausible wall-clock time, so that expiry times are dates.
inline constexpr int64_t kT0 = 1'714'564'800'000;  // 2024-05-01 12:00:00 UTC
inline constexpr int64_t kMinute = TOutbox::kMsPerMinute;

inline TOutboxOrder Order(std::string address, std::string key = {},
                          int32_t ageLimit = TOutboxOrder::kDefaultAgeLimit) {
  TOutboxOrder order;
  order.Key = std::move(key);
  order.Address = std::move(address);
  order.Text = "Hello " + order.Address;
  order.AgeLimit = ageLimit;
  order.Source = "send";
  return order;
}

class OutboxTest : public ::testing::Test {
 protected:
  OutboxTest() : FOutbox(std::make_unique<TOutbox>(File())) {}

  std::string File() const { return (FFolder.Path() / "Settings" / TOutbox::kFileName).string(); }
  TOutbox& Box() { return *FOutbox; }
  // Closes the file and opens it again, as the next owner would.
  void Reopen() {
    FOutbox.reset();
    FOutbox = std::make_unique<TOutbox>(File());
  }

  TOutboxPage AddOne(TOutboxOrder order, int64_t now = kT0) {
    return Box().Add({std::move(order)}, now).at(0).Page;
  }
  TOutboxState StateOf(int64_t id) { return Box().Get(id).value().State; }

  TScratchFolder FFolder;
  std::unique_ptr<TOutbox> FOutbox;
};

}  // namespace zv::testutil
