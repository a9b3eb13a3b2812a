#include "base/threading/thread_task_runner_handle.h"

#include <utility>

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {

namespace {

LazyInstance<ThreadLocalStorage::Slot>::Leaky g_thread_task_runner_slot =
    LAZY_INSTANCE_INITIALIZER;

ThreadTaskRunnerHandle* GetCurrentHandle() {
  return static_cast<ThreadTaskRunnerHandle*>(
      g_thread_task_runner_slot.Get().Get());
}

}  // namespace

// static
scoped_refptr<SingleThreadTaskRunner> ThreadTaskRunnerHandle::Get() {
  ThreadTaskRunnerHandle* current = GetCurrentHandle();
  CHECK(current);
  return current->task_runner_;
}

// static
bool ThreadTaskRunnerHandle::IsSet() {
  return GetCurrentHandle() != nullptr;
}

ThreadTaskRunnerHandle::ThreadTaskRunnerHandle(
    scoped_refptr<SingleThreadTaskRunner> task_runner)
    : task_runner_(std::move(task_runner)) {
  CHECK(task_runner_);
  CHECK(!GetCurrentHandle());
  g_thread_task_runner_slot.Get().Set(this);
}

ThreadTaskRunnerHandle::~ThreadTaskRunnerHandle() {
  DCHECK(GetCurrentHandle() == this);
  g_thread_task_runner_slot.Get().Set(nullptr);
}

}  // namespace base
