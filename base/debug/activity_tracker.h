#ifndef BASE_DEBUG_ACTIVITY_TRACKER_H_
#define BASE_DEBUG_ACTIVITY_TRACKER_H_

#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class Process;
struct PendingTask;

namespace debug {

class ActivityUserData;
class ThreadActivityTracker;

// Kinds of activities on a thread's activity stack. The high nibble is the
// category, the low one the action within it.
enum ActivityType : uint8_t {
  ACT_NULL = 0,
  ACT_TASK = 1 << 4,
  ACT_TASK_RUN = ACT_TASK,
  ACT_LOCK = 2 << 4,
  ACT_LOCK_ACQUIRE = ACT_LOCK,
  ACT_EVENT = 3 << 4,
  ACT_EVENT_WAIT = ACT_EVENT,
  ACT_THREAD = 4 << 4,
  ACT_THREAD_START = ACT_THREAD,
  ACT_THREAD_JOIN,
  ACT_PROCESS = 5 << 4,
  ACT_PROCESS_START = ACT_PROCESS,
  ACT_PROCESS_WAIT,
};

// The process-wide activity tracker. Tracking is off until one is created,
// and every caller checks Get() for null before recording; the scoped
// activities below do nothing while it is off.
class GlobalActivityTracker {
 public:
  // Base of the scoped records: pops the activity it pushed, if any.
  class ScopedThreadActivity {
   public:
    ScopedThreadActivity(const void* program_counter,
                         const void* origin,
                         ActivityType type,
                         uint64_t data);
    ~ScopedThreadActivity();

    ScopedThreadActivity(const ScopedThreadActivity&) = delete;
    ScopedThreadActivity& operator=(const ScopedThreadActivity&) = delete;

    // False for an empty record (tracking off or no tracker on this thread).
    bool is_recorded() const { return tracker_ != nullptr; }
    bool has_user_data() const { return user_data_ != nullptr; }

   private:
    // The calling thread's tracker, its stack depth at the push, and data
    // attached to the activity; all empty while tracking is off.
    ThreadActivityTracker* tracker_ = nullptr;
    uint32_t activity_id_ = 0;
    std::unique_ptr<ActivityUserData> user_data_;
  };

  // Null while activity tracking is off. Read without a lock.
  static GlobalActivityTracker* Get() {
    return g_tracker_.load(std::memory_order_acquire);
  }

  // Keeps the text of a finished log line.
  void RecordLogMessage(StringPiece message);

  // Remembers |command_line| (as UTF-8) for |process_id|, replacing an
  // older entry of the same id.
  void RecordProcessLaunch(uint32_t process_id,
                           const std::wstring& command_line);

  // Records the exit of a launched process.
  void RecordProcessExit(uint32_t process_id, int exit_code);

  // Records the group a field trial chose.
  void RecordFieldTrial(const std::string& trial_name, StringPiece group_name);

 private:
  GlobalActivityTracker();
  ~GlobalActivityTracker();

  static std::atomic<GlobalActivityTracker*> g_tracker_;
};

// Records that the thread waits for a contended lock.
class ScopedLockAcquireActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedLockAcquireActivity(const void* program_counter,
                            const void* lock_address);
};

// Records that the thread waits on a WaitableEvent.
class ScopedEventWaitActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedEventWaitActivity(const void* program_counter,
                          const void* event_address);
};

// Records that the thread joins another; the data is the joined thread's id,
// looked up only while tracking is on.
class ScopedThreadJoinActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedThreadJoinActivity(const void* program_counter, void* thread_handle);
};

// Records that the thread waits for a process to end.
class ScopedProcessWaitActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedProcessWaitActivity(const void* program_counter,
                            const Process& process);
};

// Records the task that the thread runs.
class ScopedTaskRunActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedTaskRunActivity(const void* program_counter, const PendingTask& task);
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ACTIVITY_TRACKER_H_
