#ifndef BASE_TASK_SCHEDULER_PRIORITY_QUEUE_H_
#define BASE_TASK_SCHEDULER_PRIORITY_QUEUE_H_

#include <stddef.h>

#include <memory>
#include <vector>

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/synchronization/lock.h"
#include "base/task_scheduler/sequence.h"
#include "base/task_scheduler/sequence_sort_key.h"

namespace base {
namespace internal {

// The sequences waiting for a worker, top first by SequenceSortKey: the
// highest priority and, among those, the oldest front task. Everything goes
// through a Transaction, which holds the queue's lock for its whole life, so
// that a worker can look and pop (or find the queue empty and go idle)
// without a post slipping in between.
//
//   std::unique_ptr<PriorityQueue::Transaction> transaction =
//       queue.BeginTransaction();
//   if (!transaction->IsEmpty())
//     scoped_refptr<Sequence> sequence = transaction->PopSequence();
class PriorityQueue {
 public:
  class Transaction {
   public:
    ~Transaction();

    // Inserts |sequence| with |sequence_sort_key|.
    void Push(scoped_refptr<Sequence> sequence,
              const SequenceSortKey& sequence_sort_key);

    // The key of the top sequence. The queue must not be empty.
    const SequenceSortKey& PeekSortKey() const;

    // Removes the top sequence and returns it. The queue must not be empty.
    scoped_refptr<Sequence> PopSequence();

    bool IsEmpty() const;
    size_t Size() const;

   private:
    friend class PriorityQueue;

    explicit Transaction(PriorityQueue* outer_queue);

    // Held from construction to destruction.
    AutoLock auto_lock_;
    PriorityQueue* const outer_queue_;

    DISALLOW_COPY_AND_ASSIGN(Transaction);
  };

  PriorityQueue();
  // Releases the sequences still queued.
  ~PriorityQueue();

  // Takes the queue's lock; it is released when the transaction is
  // destroyed. A thread holds at most one transaction of a queue.
  std::unique_ptr<Transaction> BeginTransaction();

 private:
  struct SequenceAndSortKey {
    SequenceAndSortKey(scoped_refptr<Sequence> sequence,
                       const SequenceSortKey& sort_key);
    SequenceAndSortKey(SequenceAndSortKey&& other);
    SequenceAndSortKey& operator=(SequenceAndSortKey&& other);
    ~SequenceAndSortKey();

    scoped_refptr<Sequence> sequence;
    SequenceSortKey sort_key;
  };

  Lock container_lock_;

  // A binary max-heap under SequenceSortKey's order.
  std::vector<SequenceAndSortKey> container_;

  DISALLOW_COPY_AND_ASSIGN(PriorityQueue);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_PRIORITY_QUEUE_H_
