#ifndef BASE_DEBUG_ACTIVITY_TRACKER_H_
#define BASE_DEBUG_ACTIVITY_TRACKER_H_

#include <stdint.h>

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"
#include "base/threading/thread_local_storage.h"

namespace base {

class PersistentMemoryAllocator;
class Process;
struct PendingTask;

namespace debug {

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

// One thread's stack of activities, kept in a persistent record (type id
// 0x5D7381B3) so that it survives a crash of the process. Only the owning
// thread pushes and pops; readers take snapshots.
class ThreadActivityTracker {
 public:
  typedef uint32_t ActivityId;

  // One stack slot. Part of the persistent record: the layout is fixed.
  struct Activity {
    int64_t time_internal;  // Performance counter at the push.
    uint64_t calling_address;
    uint64_t origin_address;
    uint64_t data;
    uint8_t activity_type;
    uint8_t padding[7];
  };

  struct Snapshot {
    uint32_t process_id = 0;
    uint32_t thread_id = 0;
    // Pushes not yet popped, also those beyond the stack's slots.
    uint32_t depth = 0;
    // The recorded ones, outermost first.
    std::vector<Activity> activities;
  };

  // Over |record|, a zeroed block of RecordSize(stack_depth) bytes.
  ThreadActivityTracker(void* record, uint32_t stack_depth);
  ~ThreadActivityTracker();

  ThreadActivityTracker(const ThreadActivityTracker&) = delete;
  ThreadActivityTracker& operator=(const ThreadActivityTracker&) = delete;

  static size_t RecordSize(uint32_t stack_depth);

  ActivityId PushActivity(const void* program_counter,
                          const void* origin,
                          ActivityType type,
                          uint64_t data);
  void PopActivity(ActivityId id);

  void CreateSnapshot(Snapshot* snapshot) const;

 private:
  struct Header;

  Header* const header_;
  Activity* const stack_;
  const uint32_t stack_slots_;
};

// The process-wide activity tracker. Tracking is off until one is created,
// and every caller checks Get() for null before recording; the scoped
// activities below do nothing while it is off.
class GlobalActivityTracker {
 public:
  // Base of the scoped records: pops the activity it pushed, if any.
  // These sit on hot paths (every lock, wait and task), so the constructors
  // and the destructor are inline and, with tracking off, cost one pointer
  // test; the data of an activity is worked out only behind that test.
  class ScopedThreadActivity {
   public:
    ScopedThreadActivity(const void* program_counter,
                         const void* origin,
                         ActivityType type,
                         uint64_t data) {
      if (GlobalActivityTracker* global = Get())
        Start(global, program_counter, origin, type, data);
    }
    ~ScopedThreadActivity() {
      if (tracker_)
        Stop();
    }

    ScopedThreadActivity(const ScopedThreadActivity&) = delete;
    ScopedThreadActivity& operator=(const ScopedThreadActivity&) = delete;

    // False for an empty record (tracking off or no tracker on this thread).
    bool is_recorded() const { return tracker_ != nullptr; }

   protected:
    // An empty record; the subclass calls Start() once tracking is on.
    ScopedThreadActivity() = default;

    // Pushes the activity on the calling thread's tracker of |global|.
    void Start(GlobalActivityTracker* global,
               const void* program_counter,
               const void* origin,
               ActivityType type,
               uint64_t data);

   private:
    void Stop();

    // The calling thread's tracker and its stack depth at the push; empty
    // while tracking is off.
    ThreadActivityTracker* tracker_ = nullptr;
    uint32_t activity_id_ = 0;
  };

  // Persistent type id of a finished log line (a NUL-terminated string).
  static constexpr uint32_t kTypeIdLogMessage = 0x4CF434FA;
  // Persistent type id of a thread's activity record.
  static constexpr uint32_t kTypeIdThreadRecord = 0x5D7381B3;

  // Null while activity tracking is off. Read without a lock.
  static GlobalActivityTracker* Get() {
    return g_tracker_.load(std::memory_order_acquire);
  }

  // Turns tracking on, recording into |allocator| with |stack_depth| slots
  // per thread. The installer never does: only tests turn it on.
  static void CreateWithAllocator(
      std::unique_ptr<PersistentMemoryAllocator> allocator,
      uint32_t stack_depth);

  // Turns tracking off again. The tracker and its segment are leaked.
  static void ReleaseForTesting();

  // The calling thread's tracker, made on first use; null when the segment
  // has no room for another thread record.
  ThreadActivityTracker* GetOrCreateTrackerForCurrentThread();

  PersistentMemoryAllocator* allocator() const { return allocator_.get(); }

  // What was recorded of launched processes and field trials; empty
  // strings when nothing was.
  std::string GetProcessCommandLine(uint32_t process_id);
  std::string GetFieldTrialGroup(const std::string& trial_name);

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
  GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                        uint32_t stack_depth);
  ~GlobalActivityTracker();

  // The calling thread's entry, shared by every tracker ever made.
  static ThreadLocalStorage::Slot& ThreadTrackerSlot();
  static void OnThreadExit(void* value);
  void ReleaseTracker(ThreadActivityTracker* tracker);

  static std::atomic<GlobalActivityTracker*> g_tracker_;

  const std::unique_ptr<PersistentMemoryAllocator> allocator_;
  const uint32_t stack_depth_;

  // A bare SRW lock: a base::Lock would record its own contention here and
  // come back in.
  SRWLOCK lock_ = SRWLOCK_INIT;
  // Live thread trackers and the reference of each one's record.
  std::map<ThreadActivityTracker*, uint32_t> thread_trackers_;
  std::map<uint32_t, std::string> processes_;
  std::map<std::string, std::string> field_trials_;
};

// Records that the thread waits for a contended lock.
class ScopedLockAcquireActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedLockAcquireActivity(const void* program_counter,
                            const void* lock_address) {
    if (GlobalActivityTracker* global = GlobalActivityTracker::Get()) {
      Start(global, program_counter, nullptr, ACT_LOCK_ACQUIRE,
            reinterpret_cast<uintptr_t>(lock_address));
    }
  }
};

// Records that the thread waits on a WaitableEvent.
class ScopedEventWaitActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedEventWaitActivity(const void* program_counter,
                          const void* event_address) {
    if (GlobalActivityTracker* global = GlobalActivityTracker::Get()) {
      Start(global, program_counter, nullptr, ACT_EVENT_WAIT,
            reinterpret_cast<uintptr_t>(event_address));
    }
  }
};

// Records that the thread joins another; the data is the joined thread's id.
class ScopedThreadJoinActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedThreadJoinActivity(const void* program_counter, void* thread_handle) {
    if (GlobalActivityTracker* global = GlobalActivityTracker::Get()) {
      Start(global, program_counter, nullptr, ACT_THREAD_JOIN,
            ::GetThreadId(thread_handle));
    }
  }
};

// Records that the thread waits for a process to end.
class ScopedProcessWaitActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedProcessWaitActivity(const void* program_counter,
                            const Process& process) {
    if (GlobalActivityTracker* global = GlobalActivityTracker::Get())
      StartWait(global, program_counter, process);
  }

 private:
  void StartWait(GlobalActivityTracker* global,
                 const void* program_counter,
                 const Process& process);
};

// Records the task that the thread runs.
class ScopedTaskRunActivity
    : public GlobalActivityTracker::ScopedThreadActivity {
 public:
  ScopedTaskRunActivity(const void* program_counter, const PendingTask& task) {
    if (GlobalActivityTracker* global = GlobalActivityTracker::Get())
      StartRun(global, program_counter, task);
  }

 private:
  void StartRun(GlobalActivityTracker* global,
                const void* program_counter,
                const PendingTask& task);
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ACTIVITY_TRACKER_H_
