#include "base/debug/activity_tracker.h"

#include <windows.h>

#include "base/pending_task.h"
#include "base/process/process.h"

namespace base {
namespace debug {

// No tracker is ever made in this build; the pointer exists so that every
// caller already follows the "null means off" rule.
std::atomic<GlobalActivityTracker*> GlobalActivityTracker::g_tracker_{nullptr};

GlobalActivityTracker::GlobalActivityTracker() = default;
GlobalActivityTracker::~GlobalActivityTracker() = default;

// There is no persistent memory to copy into without a tracker, and callers
// reach these only through Get(), which is null.
void GlobalActivityTracker::RecordLogMessage(StringPiece message) {}

void GlobalActivityTracker::RecordProcessLaunch(
    uint32_t process_id, const std::wstring& command_line) {}

void GlobalActivityTracker::RecordProcessExit(uint32_t process_id,
                                              int exit_code) {}

void GlobalActivityTracker::RecordFieldTrial(const std::string& trial_name,
                                             StringPiece group_name) {}

// ThreadActivityTracker and ActivityUserData are declared only: with no
// global tracker no thread ever gets one.
class ActivityUserData {};

GlobalActivityTracker::ScopedThreadActivity::ScopedThreadActivity(
    const void* program_counter,
    const void* origin,
    ActivityType type,
    uint64_t data) {
  // A thread has an activity tracker only when the global one exists; with
  // none, the record stays empty and its destructor has nothing to pop.
  tracker_ = nullptr;
}

// Only a pushed activity would need popping, and none is pushed without a
// global tracker.
GlobalActivityTracker::ScopedThreadActivity::~ScopedThreadActivity() = default;

ScopedLockAcquireActivity::ScopedLockAcquireActivity(
    const void* program_counter, const void* lock_address)
    : ScopedThreadActivity(program_counter,
                           nullptr,
                           ACT_LOCK_ACQUIRE,
                           reinterpret_cast<uintptr_t>(lock_address)) {}

ScopedEventWaitActivity::ScopedEventWaitActivity(const void* program_counter,
                                                 const void* event_address)
    : ScopedThreadActivity(program_counter,
                           nullptr,
                           ACT_EVENT_WAIT,
                           reinterpret_cast<uintptr_t>(event_address)) {}

// The data below are looked up only when there is a tracker to record them,
// so an empty record costs no system call.
ScopedThreadJoinActivity::ScopedThreadJoinActivity(const void* program_counter,
                                                   void* thread_handle)
    : ScopedThreadActivity(
          program_counter,
          nullptr,
          ACT_THREAD_JOIN,
          GlobalActivityTracker::Get() ? ::GetThreadId(thread_handle) : 0) {}

ScopedProcessWaitActivity::ScopedProcessWaitActivity(
    const void* program_counter, const Process& process)
    : ScopedThreadActivity(
          program_counter,
          nullptr,
          ACT_PROCESS_WAIT,
          GlobalActivityTracker::Get() ? process.Pid() : 0) {}

ScopedTaskRunActivity::ScopedTaskRunActivity(const void* program_counter,
                                             const PendingTask& task)
    : ScopedThreadActivity(
          program_counter,
          GlobalActivityTracker::Get() ? task.posted_from.program_counter()
                                       : nullptr,
          ACT_TASK_RUN,
          GlobalActivityTracker::Get() ? task.sequence_num : 0) {}

}  // namespace debug
}  // namespace base
