#ifndef BASE_TASK_SCHEDULER_SEQUENCE_H_
#define BASE_TASK_SCHEDULER_SEQUENCE_H_

#include <stddef.h>

#include "base/containers/ring_buffer_deque.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/lock.h"
#include "base/task_scheduler/sequence_sort_key.h"
#include "base/task_scheduler/sequence_token.h"
#include "base/task_scheduler/task.h"
#include "base/task_scheduler/task_traits.h"
#include "base/threading/sequence_local_storage_map.h"

namespace base {
namespace internal {

// Tasks that run one at a time, in posting order. Any thread may push; the
// worker that took the sequence from a priority queue takes and pops its
// front task, then puts the sequence back (with its new sort key) if it still
// has work. Each operation holds the sequence's own lock only for itself.
//
//   if (sequence->PushTask(std::move(task)))
//     /* the sequence was empty: schedule it */;
//   ... on a worker:
//   Task task = sequence->TakeTask();
//   /* run task */
//   if (!sequence->Pop())
//     transaction->Push(sequence, sequence->GetSortKey());
class Sequence : public RefCountedThreadSafe<Sequence> {
 public:
  Sequence();

  // Stamps the task's sequenced time and appends it. True when the sequence
  // was empty, so that the caller must now get it scheduled. A task without
  // a closure is fatal.
  bool PushTask(Task task);

  // Moves the front task out; its emptied slot stays at the front until
  // Pop(). The sequence must not be empty.
  Task TakeTask();

  // Removes the front slot. True when the sequence is now empty.
  bool Pop();

  // The highest priority of the queued tasks and the sequenced time of the
  // front task. The sequence must not be empty.
  SequenceSortKey GetSortKey() const;

  const SequenceToken& token() const { return token_; }

  SequenceLocalStorageMap* sequence_local_storage() {
    return &sequence_local_storage_;
  }

 private:
  friend class RefCountedThreadSafe<Sequence>;
  ~Sequence();

  const SequenceToken token_ = SequenceToken::Create();

  // Guards |queue_| and |num_tasks_per_priority_|.
  mutable Lock lock_;

  RingBufferDeque<Task> queue_;

  size_t num_tasks_per_priority_[static_cast<int>(TaskPriority::HIGHEST) + 1] =
      {};

  SequenceLocalStorageMap sequence_local_storage_;

  DISALLOW_COPY_AND_ASSIGN(Sequence);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SEQUENCE_H_
