#include "base/task_scheduler/priority_queue.h"

#include <utility>

#include "base/check.h"

namespace base {
namespace internal {

PriorityQueue::SequenceAndSortKey::SequenceAndSortKey(
    scoped_refptr<Sequence> sequence, const SequenceSortKey& sort_key)
    : sequence(std::move(sequence)), sort_key(sort_key) {}

PriorityQueue::SequenceAndSortKey::SequenceAndSortKey(
    SequenceAndSortKey&& other) = default;

PriorityQueue::SequenceAndSortKey& PriorityQueue::SequenceAndSortKey::operator=(
    SequenceAndSortKey&& other) = default;

PriorityQueue::SequenceAndSortKey::~SequenceAndSortKey() = default;

PriorityQueue::Transaction::Transaction(PriorityQueue* outer_queue)
    : auto_lock_(outer_queue->container_lock_), outer_queue_(outer_queue) {}

PriorityQueue::Transaction::~Transaction() = default;

void PriorityQueue::Transaction::Push(
    scoped_refptr<Sequence> sequence,
    const SequenceSortKey& sequence_sort_key) {
  std::vector<SequenceAndSortKey>& heap = outer_queue_->container_;
  // Sift up: parents smaller than the new key move down into the hole.
  size_t hole = heap.size();
  heap.emplace_back(nullptr, sequence_sort_key);
  while (hole > 0) {
    const size_t parent = (hole - 1) / 2;
    if (!(heap[parent].sort_key < sequence_sort_key))
      break;
    heap[hole] = std::move(heap[parent]);
    hole = parent;
  }
  heap[hole] = SequenceAndSortKey(std::move(sequence), sequence_sort_key);
}

const SequenceSortKey& PriorityQueue::Transaction::PeekSortKey() const {
  DCHECK(!IsEmpty());
  return outer_queue_->container_.front().sort_key;
}

scoped_refptr<Sequence> PriorityQueue::Transaction::PopSequence() {
  std::vector<SequenceAndSortKey>& heap = outer_queue_->container_;
  DCHECK(!heap.empty());
  scoped_refptr<Sequence> top = std::move(heap.front().sequence);

  SequenceAndSortKey last = std::move(heap.back());
  heap.pop_back();
  const size_t size = heap.size();
  if (size == 0)
    return top;

  // Walk the hole from the root down to a leaf along the greater children,
  // then let the former last entry climb back from there. This takes about
  // half the comparisons of a classic sift-down, since the last entry of a
  // heap usually belongs near the bottom.
  size_t hole = 0;
  size_t child = 2;
  while (child < size) {
    if (heap[child].sort_key < heap[child - 1].sort_key)
      --child;
    heap[hole] = std::move(heap[child]);
    hole = child;
    child = 2 * child + 2;
  }
  if (child == size) {
    // A lone left child at the end.
    heap[hole] = std::move(heap[child - 1]);
    hole = child - 1;
  }
  while (hole > 0) {
    const size_t parent = (hole - 1) / 2;
    if (!(heap[parent].sort_key < last.sort_key))
      break;
    heap[hole] = std::move(heap[parent]);
    hole = parent;
  }
  heap[hole] = std::move(last);
  return top;
}

bool PriorityQueue::Transaction::IsEmpty() const {
  return outer_queue_->container_.empty();
}

size_t PriorityQueue::Transaction::Size() const {
  return outer_queue_->container_.size();
}

PriorityQueue::PriorityQueue() = default;

PriorityQueue::~PriorityQueue() = default;

std::unique_ptr<PriorityQueue::Transaction> PriorityQueue::BeginTransaction() {
  return std::unique_ptr<Transaction>(new Transaction(this));
}

}  // namespace internal
}  // namespace base
