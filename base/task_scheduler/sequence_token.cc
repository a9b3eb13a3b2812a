#include "base/task_scheduler/sequence_token.h"

#include <atomic>

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {

namespace {

std::atomic<int32_t> g_sequence_token_generator{0};
std::atomic<int32_t> g_task_token_generator{0};

// Each slot points at a token owned by the scope on the running thread's
// stack.
LazyInstance<ThreadLocalStorage::Slot>::Leaky g_sequence_token_slot =
    LAZY_INSTANCE_INITIALIZER;
LazyInstance<ThreadLocalStorage::Slot>::Leaky g_task_token_slot =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

bool SequenceToken::operator==(const SequenceToken& other) const {
  return token_ == other.token_ && IsValid();
}

bool SequenceToken::operator!=(const SequenceToken& other) const {
  return !(*this == other);
}

// static
SequenceToken SequenceToken::Create() {
  return SequenceToken(
      g_sequence_token_generator.fetch_add(1, std::memory_order_relaxed));
}

// static
SequenceToken SequenceToken::GetForCurrentThread() {
  const SequenceToken* current =
      static_cast<const SequenceToken*>(g_sequence_token_slot.Get().Get());
  return current ? *current : SequenceToken();
}

bool TaskToken::operator==(const TaskToken& other) const {
  return token_ == other.token_ && IsValid();
}

bool TaskToken::operator!=(const TaskToken& other) const {
  return !(*this == other);
}

// static
TaskToken TaskToken::Create() {
  return TaskToken(
      g_task_token_generator.fetch_add(1, std::memory_order_relaxed));
}

// static
TaskToken TaskToken::GetForCurrentThread() {
  const TaskToken* current =
      static_cast<const TaskToken*>(g_task_token_slot.Get().Get());
  return current ? *current : TaskToken();
}

ScopedSetSequenceTokenForCurrentThread::ScopedSetSequenceTokenForCurrentThread(
    const SequenceToken& sequence_token)
    : sequence_token_(sequence_token), task_token_(TaskToken::Create()) {
  DCHECK(!g_sequence_token_slot.Get().Get());
  DCHECK(!g_task_token_slot.Get().Get());
  g_sequence_token_slot.Get().Set(const_cast<SequenceToken*>(&sequence_token_));
  g_task_token_slot.Get().Set(const_cast<TaskToken*>(&task_token_));
}

ScopedSetSequenceTokenForCurrentThread::
    ~ScopedSetSequenceTokenForCurrentThread() {
  g_sequence_token_slot.Get().Set(nullptr);
  g_task_token_slot.Get().Set(nullptr);
}

}  // namespace base
