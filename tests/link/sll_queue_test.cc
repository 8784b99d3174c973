#include "link/sll_queue.h"

#include <gtest/gtest.h>

#include <memory>

namespace zv {
namespace {

TEST(SLLQueueTest, KeepsOrderAndOwnershipAcrossEmptying) {
  TSLLQueue<int> queue("Name");
  EXPECT_EQ(queue.QueueName(), "Name");
  EXPECT_TRUE(queue.IsEmpty());
  EXPECT_EQ(queue.Peek(), nullptr);
  EXPECT_EQ(queue.Dequeue(), nullptr);

  // Emptied in between, so the tail must come back to the sentinel.
  for (int round = 0; round < 2; ++round) {
    for (int i = 1; i <= 3; ++i) queue.Enqueue(std::make_unique<int>(i));
    EXPECT_EQ(queue.Count(), 3);
    ASSERT_NE(queue.Peek(), nullptr);
    EXPECT_EQ(*queue.Peek(), 1);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(*queue.Dequeue(), i);
    EXPECT_TRUE(queue.IsEmpty());
  }

  queue.Enqueue(std::make_unique<int>(7));
  queue.Enqueue(std::make_unique<int>(8));
  queue.Clear();
  EXPECT_EQ(queue.Count(), 0);
  queue.Enqueue(std::make_unique<int>(9));
  EXPECT_EQ(*queue.Dequeue(), 9);
}

}  // namespace
}  // namespace zv
