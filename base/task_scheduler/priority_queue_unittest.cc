#include "base/task_scheduler/priority_queue.h"

#include <algorithm>
#include <vector>

#include "base/task_scheduler/scheduler_worker_stack.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {

namespace {

TimeTicks At(int64_t us) {
  return TimeTicks() + TimeDelta::FromMicroseconds(us);
}

}  // namespace

TEST(TaskSchedulerSequenceSortKeyTest, Order) {
  const SequenceSortKey old_visible(TaskPriority::USER_VISIBLE, At(1));
  const SequenceSortKey new_visible(TaskPriority::USER_VISIBLE, At(2));
  const SequenceSortKey new_blocking(TaskPriority::USER_BLOCKING, At(9));
  const SequenceSortKey old_background(TaskPriority::BACKGROUND, At(0));

  // Less means "runs later".
  EXPECT_TRUE(new_visible < old_visible);
  EXPECT_FALSE(old_visible < new_visible);
  EXPECT_TRUE(old_visible < new_blocking);
  EXPECT_TRUE(old_background < new_visible);
  EXPECT_FALSE(old_visible < old_visible);
  EXPECT_TRUE(old_visible > new_visible);
  EXPECT_TRUE(old_visible ==
              SequenceSortKey(TaskPriority::USER_VISIBLE, At(1)));
  EXPECT_TRUE(old_visible != new_visible);
}

TEST(TaskSchedulerPriorityQueueTest, PopsHighestPriorityThenOldest) {
  PriorityQueue queue;
  scoped_refptr<Sequence> old_visible = new Sequence;
  scoped_refptr<Sequence> new_visible = new Sequence;
  scoped_refptr<Sequence> newest_blocking = new Sequence;
  scoped_refptr<Sequence> oldest_background = new Sequence;

  {
    std::unique_ptr<PriorityQueue::Transaction> transaction =
        queue.BeginTransaction();
    EXPECT_TRUE(transaction->IsEmpty());
    transaction->Push(new_visible,
                      SequenceSortKey(TaskPriority::USER_VISIBLE, At(20)));
    transaction->Push(oldest_background,
                      SequenceSortKey(TaskPriority::BACKGROUND, At(1)));
    transaction->Push(newest_blocking,
                      SequenceSortKey(TaskPriority::USER_BLOCKING, At(99)));
    transaction->Push(old_visible,
                      SequenceSortKey(TaskPriority::USER_VISIBLE, At(10)));
    EXPECT_EQ(4u, transaction->Size());
  }

  // A later transaction sees the same queue.
  std::unique_ptr<PriorityQueue::Transaction> transaction =
      queue.BeginTransaction();
  EXPECT_EQ(TaskPriority::USER_BLOCKING, transaction->PeekSortKey().priority());
  EXPECT_EQ(newest_blocking, transaction->PopSequence());
  EXPECT_EQ(old_visible, transaction->PopSequence());
  EXPECT_EQ(new_visible, transaction->PopSequence());
  EXPECT_EQ(oldest_background, transaction->PopSequence());
  EXPECT_TRUE(transaction->IsEmpty());
  EXPECT_EQ(0u, transaction->Size());
}

TEST(TaskSchedulerPriorityQueueTest, ManyKeysComeOutSorted) {
  // A fixed pseudo-random mix of priorities and times, with duplicates,
  // pushed and popped in interleaved batches to exercise both sift paths.
  PriorityQueue queue;
  std::vector<SequenceSortKey> expected;
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };

  std::unique_ptr<PriorityQueue::Transaction> transaction =
      queue.BeginTransaction();
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 60; ++i) {
      const SequenceSortKey key(static_cast<TaskPriority>(next() % 3),
                                At(next() % 40));
      expected.push_back(key);
      transaction->Push(new Sequence, key);
    }
    std::sort(expected.begin(), expected.end(),
              [](const SequenceSortKey& a, const SequenceSortKey& b) {
                return b < a;
              });
    for (int i = 0; i < 40; ++i) {
      ASSERT_FALSE(transaction->IsEmpty());
      // Equal keys have no further order, so compare keys, not sequences.
      EXPECT_EQ(expected.front(), transaction->PeekSortKey());
      EXPECT_TRUE(transaction->PopSequence());
      expected.erase(expected.begin());
    }
    EXPECT_EQ(expected.size(), transaction->Size());
  }
}

TEST(TaskSchedulerPriorityQueueTest, EveryPushOrderOfSevenKeysPopsSorted) {
  // Every shape of a small heap, among them those where the last parent has
  // only a left child when a pop walks its hole down to it.
  std::vector<int> times = {1, 2, 3, 4, 5, 6, 7};
  do {
    PriorityQueue queue;
    std::unique_ptr<PriorityQueue::Transaction> transaction =
        queue.BeginTransaction();
    for (int time : times) {
      transaction->Push(new Sequence,
                        SequenceSortKey(TaskPriority::USER_VISIBLE, At(time)));
    }
    for (int expected = 1; expected <= 7; ++expected) {
      ASSERT_EQ(At(expected),
                transaction->PeekSortKey().next_task_sequenced_time())
          << "push order starting " << times[0] << times[1] << times[2];
      transaction->PopSequence();
    }
  } while (std::next_permutation(times.begin(), times.end()));
}

namespace {

SchedulerWorker* FakeWorker(int* storage) {
  return reinterpret_cast<SchedulerWorker*>(storage);
}

}  // namespace

TEST(TaskSchedulerWorkerStackTest, LastInFirstOut) {
  int storage[3];
  SchedulerWorker* const a = FakeWorker(&storage[0]);
  SchedulerWorker* const b = FakeWorker(&storage[1]);
  SchedulerWorker* const c = FakeWorker(&storage[2]);

  SchedulerWorkerStack stack;
  EXPECT_TRUE(stack.IsEmpty());
  EXPECT_EQ(nullptr, stack.Pop());
  EXPECT_EQ(nullptr, stack.Peek());

  stack.Push(a);
  stack.Push(b);
  stack.Push(c);
  EXPECT_EQ(3u, stack.Size());
  EXPECT_EQ(c, stack.Peek());

  // Removing from the middle keeps the others in order; removing an absent
  // worker does nothing.
  stack.Remove(b);
  stack.Remove(b);
  EXPECT_EQ(2u, stack.Size());
  EXPECT_FALSE(stack.Contains(b));
  EXPECT_EQ(c, stack.Pop());
  EXPECT_EQ(a, stack.Pop());
  EXPECT_EQ(nullptr, stack.Pop());
  EXPECT_TRUE(stack.IsEmpty());
}

}  // namespace internal
}  // namespace base
