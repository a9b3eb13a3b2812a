#include "base/containers/ring_buffer_deque.h"

#include <memory>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(RingBufferDequeTest, GrowsToAtLeastThreeAndByAQuarter) {
  RingBufferDeque<int> deque;
  EXPECT_EQ(0u, deque.capacity());
  deque.push_back(1);
  EXPECT_EQ(3u, deque.capacity());
  for (int i = 2; i <= 4; ++i)
    deque.push_back(i);
  EXPECT_EQ(4u, deque.size());
  // max(needed 4, 3 + 3 / 4 = 3) = 4.
  EXPECT_EQ(4u, deque.capacity());
  deque.push_back(5);
  EXPECT_EQ(5u, deque.capacity());
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(i, deque.front());
    deque.pop_front();
  }
  EXPECT_TRUE(deque.empty());
  EXPECT_EQ(3u, deque.capacity());  // Never below three once made.
}

TEST(RingBufferDequeTest, ShrinksWhenHalfEmptyAndNotBefore) {
  RingBufferDeque<int> deque;
  // Growth from 3 goes 4, 5, ..., 78, 97.
  for (int i = 0; i < 97; ++i)
    deque.push_back(i);
  ASSERT_EQ(97u, deque.capacity());
  while (deque.size() > 49) {
    deque.pop_front();
    EXPECT_EQ(97u, deque.capacity()) << deque.size();
  }
  // 49 elements, 48 empty slots: still kept. 48 elements, 49 empty: shrunk
  // to 48 + 48 / 4.
  deque.pop_front();
  EXPECT_EQ(60u, deque.capacity());
  // Order survives the move to the smaller buffer.
  int expected = 49;
  while (!deque.empty()) {
    EXPECT_EQ(expected++, deque.front());
    deque.pop_front();
  }
  EXPECT_EQ(97, expected);
}

TEST(RingBufferDequeTest, HoldsMoveOnlyTypesAndSwaps) {
  RingBufferDeque<std::unique_ptr<int>> a, b;
  for (int i = 0; i < 10; ++i)
    a.push_back(std::make_unique<int>(i));
  a.swap(b);
  EXPECT_TRUE(a.empty());
  ASSERT_EQ(10u, b.size());
  EXPECT_EQ(9, *b.back());
  EXPECT_EQ(0, *b.front());
  b.clear();
  EXPECT_EQ(0u, b.capacity());
}

}  // namespace
}  // namespace base
