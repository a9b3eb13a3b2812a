#include "base/threading/sequenced_task_runner_handle.h"

#include <utility>

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

namespace {

LazyInstance<ThreadLocalStorage::Slot>::Leaky g_sequenced_task_runner_slot =
    LAZY_INSTANCE_INITIALIZER;

SequencedTaskRunnerHandle* GetCurrentHandle() {
  return static_cast<SequencedTaskRunnerHandle*>(
      g_sequenced_task_runner_slot.Get().Get());
}

}  // namespace

// static
scoped_refptr<SequencedTaskRunner> SequencedTaskRunnerHandle::Get() {
  SequencedTaskRunnerHandle* current = GetCurrentHandle();
  if (current)
    return current->task_runner_;
  // A worker of a sequenced worker pool runs the sequence of its task.
  scoped_refptr<SequencedWorkerPool> pool =
      SequencedWorkerPool::GetWorkerPoolForCurrentThread();
  if (pool) {
    return pool->GetSequencedTaskRunner(
        SequencedWorkerPool::GetSequenceTokenForCurrentThread());
  }
  return ThreadTaskRunnerHandle::Get();
}

// static
bool SequencedTaskRunnerHandle::IsSet() {
  return GetCurrentHandle() != nullptr ||
         SequencedWorkerPool::GetWorkerPoolForCurrentThread() != nullptr ||
         ThreadTaskRunnerHandle::IsSet();
}

SequencedTaskRunnerHandle::SequencedTaskRunnerHandle(
    scoped_refptr<SequencedTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)) {
  CHECK(task_runner_);
  CHECK(!GetCurrentHandle());
  g_sequenced_task_runner_slot.Get().Set(this);
}

SequencedTaskRunnerHandle::~SequencedTaskRunnerHandle() {
  DCHECK(GetCurrentHandle() == this);
  g_sequenced_task_runner_slot.Get().Set(nullptr);
}

}  // namespace base
