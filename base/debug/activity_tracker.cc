#include "base/debug/activity_tracker.h"

#include <windows.h>

#include <string.h>

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/metrics/histogram_functions.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/pending_task.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"

namespace base {
namespace debug {

// The installer never makes a tracker, so in the product this stays null
// and every hook ends at its first test.
std::atomic<GlobalActivityTracker*> GlobalActivityTracker::g_tracker_{nullptr};

namespace {

// What a thread's slot holds: the thread tracker it got from one global
// tracker, or null when that one had no room for it, so that its later
// activities give up at once instead of trying again each time. Owned by
// the thread; freed when it ends.
struct ThreadSlotEntry {
  GlobalActivityTracker* owner;
  ThreadActivityTracker* tracker;
};

}  // namespace

// ThreadActivityTracker ------------------------------------------------------

// Head of a thread record, before the stack slots. Persistent layout.
struct ThreadActivityTracker::Header {
  uint32_t process_id;
  uint32_t thread_id;
  uint32_t stack_slots;
  std::atomic<uint32_t> current_depth;
};
static_assert(sizeof(ThreadActivityTracker::Activity) == 40,
              "activity slots are 40 bytes");

ThreadActivityTracker::ThreadActivityTracker(void* record, uint32_t stack_depth)
    : header_(static_cast<Header*>(record)),
      stack_(reinterpret_cast<Activity*>(static_cast<char*>(record) +
                                         sizeof(Header))),
      stack_slots_(stack_depth) {
  header_->process_id = ::GetCurrentProcessId();
  header_->thread_id = ::GetCurrentThreadId();
  header_->stack_slots = stack_depth;
  header_->current_depth.store(0, std::memory_order_release);
}

ThreadActivityTracker::~ThreadActivityTracker() = default;

// static
size_t ThreadActivityTracker::RecordSize(uint32_t stack_depth) {
  return sizeof(Header) + stack_depth * sizeof(Activity);
}

ThreadActivityTracker::ActivityId ThreadActivityTracker::PushActivity(
    const void* program_counter,
    const void* origin,
    ActivityType type,
    uint64_t data) {
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  // A stack deeper than the record still counts, so the pops match.
  if (depth < stack_slots_) {
    Activity& slot = stack_[depth];
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    slot.time_internal = now.QuadPart;
    slot.calling_address = reinterpret_cast<uintptr_t>(program_counter);
    slot.origin_address = reinterpret_cast<uintptr_t>(origin);
    slot.data = data;
    slot.activity_type = type;
  }
  // Release: a reader that sees the new depth sees the slot filled.
  header_->current_depth.store(depth + 1, std::memory_order_release);
  return depth;
}

void ThreadActivityTracker::PopActivity(ActivityId id) {
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  // Scoped activities end in reverse order; anything else is a misuse that
  // must not wrap the depth round.
  if (depth == 0 || id != depth - 1)
    return;
  header_->current_depth.store(depth - 1, std::memory_order_release);
}

void ThreadActivityTracker::CreateSnapshot(Snapshot* snapshot) const {
  snapshot->process_id = header_->process_id;
  snapshot->thread_id = header_->thread_id;
  snapshot->depth = header_->current_depth.load(std::memory_order_acquire);
  const uint32_t recorded = std::min(snapshot->depth, stack_slots_);
  snapshot->activities.assign(stack_, stack_ + recorded);
}

// GlobalActivityTracker ------------------------------------------------------

GlobalActivityTracker::GlobalActivityTracker(
    std::unique_ptr<PersistentMemoryAllocator> allocator, uint32_t stack_depth)
    : allocator_(std::move(allocator)), stack_depth_(stack_depth) {}

GlobalActivityTracker::~GlobalActivityTracker() {
  for (const auto& entry : thread_trackers_)
    delete entry.first;
}

// static
void GlobalActivityTracker::CreateWithAllocator(
    std::unique_ptr<PersistentMemoryAllocator> allocator,
    uint32_t stack_depth) {
  // Made while tracking is still off: taking the slot takes a lock, which
  // would otherwise record itself and ask for the slot again.
  ThreadTrackerSlot();
  GlobalActivityTracker* tracker =
      new GlobalActivityTracker(std::move(allocator), stack_depth);
  GlobalActivityTracker* expected = nullptr;
  CHECK(g_tracker_.compare_exchange_strong(expected, tracker));
}

// static
void GlobalActivityTracker::ReleaseForTesting() {
  // Left alive on purpose: another thread may still be inside a scoped
  // activity holding one of its thread trackers, and the records must stay
  // writable for it.
  g_tracker_.store(nullptr, std::memory_order_release);
}

// static
ThreadLocalStorage::Slot& GlobalActivityTracker::ThreadTrackerSlot() {
  // One slot for every tracker the process ever makes, never given back:
  // trackers are turned on and off again (tests do, many times over) and a
  // slot each would run out. An entry names the tracker it belongs to.
  static ThreadLocalStorage::Slot* const slot =
      new ThreadLocalStorage::Slot(&GlobalActivityTracker::OnThreadExit);
  return *slot;
}

ThreadActivityTracker*
GlobalActivityTracker::GetOrCreateTrackerForCurrentThread() {
  ThreadLocalStorage::Slot& slot = ThreadTrackerSlot();
  ThreadSlotEntry* entry = static_cast<ThreadSlotEntry*>(slot.Get());
  if (entry && entry->owner == this)
    return entry->tracker;
  if (!entry) {
    entry = new ThreadSlotEntry();
    slot.Set(entry);
  }
  // An entry of a tracker turned off earlier is taken over. Its thread
  // tracker stays alive with it: an activity begun before the switch may
  // still be open on this thread.
  entry->owner = this;
  entry->tracker = nullptr;

  const size_t size = ThreadActivityTracker::RecordSize(stack_depth_);
  const uint32_t ref = allocator_->Allocate(size, kTypeIdThreadRecord);
  void* record =
      ref ? allocator_->GetAsArray<char>(ref, kTypeIdThreadRecord, size)
          : nullptr;
  ::AcquireSRWLockExclusive(&lock_);
  const int count = static_cast<int>(thread_trackers_.size());
  ::ReleaseSRWLockExclusive(&lock_);
  if (!record) {
    // The segment is full: this thread goes untracked, for good.
    UmaHistogramExactLinear(
        "ActivityTracker.ThreadTrackers.MemLimitTrackerCount", count, 101);
    return nullptr;
  }
  allocator_->MakeIterable(ref);
  ThreadActivityTracker* tracker =
      new ThreadActivityTracker(record, stack_depth_);
  ::AcquireSRWLockExclusive(&lock_);
  thread_trackers_[tracker] = ref;
  ::ReleaseSRWLockExclusive(&lock_);
  entry->tracker = tracker;
  UmaHistogramExactLinear("ActivityTracker.ThreadTrackers.Count", count + 1,
                          101);
  return tracker;
}

// static
void GlobalActivityTracker::OnThreadExit(void* value) {
  ThreadSlotEntry* entry = static_cast<ThreadSlotEntry*>(value);
  // Only the tracker in use gives records back; one turned off keeps its
  // segment as it was.
  if (entry->tracker && entry->owner == Get())
    entry->owner->ReleaseTracker(entry->tracker);
  delete entry;
}

void GlobalActivityTracker::ReleaseTracker(ThreadActivityTracker* tracker) {
  ::AcquireSRWLockExclusive(&lock_);
  auto it = thread_trackers_.find(tracker);
  const uint32_t ref = it == thread_trackers_.end() ? 0 : it->second;
  if (it != thread_trackers_.end())
    thread_trackers_.erase(it);
  ::ReleaseSRWLockExclusive(&lock_);
  if (!ref)
    return;
  delete tracker;
  // The record of an ended thread is of no further use; blocks are never
  // freed, so it is retyped out of the way.
  allocator_->ChangeType(ref, 0, kTypeIdThreadRecord, false);
}

void GlobalActivityTracker::RecordLogMessage(StringPiece message) {
  const uint32_t ref =
      allocator_->Allocate(message.size() + 1, kTypeIdLogMessage);
  char* text = ref ? allocator_->GetAsArray<char>(ref, kTypeIdLogMessage,
                                                  message.size() + 1)
                   : nullptr;
  if (!text)
    return;
  memcpy(text, message.data(), message.size());
  text[message.size()] = '\0';
  allocator_->MakeIterable(ref);
}

void GlobalActivityTracker::RecordProcessLaunch(
    uint32_t process_id, const std::wstring& command_line) {
  std::string utf8 = WideToUTF8(command_line);
  ::AcquireSRWLockExclusive(&lock_);
  processes_[process_id] = std::move(utf8);
  ::ReleaseSRWLockExclusive(&lock_);
}

void GlobalActivityTracker::RecordProcessExit(uint32_t process_id,
                                              int exit_code) {
  ::AcquireSRWLockExclusive(&lock_);
  processes_.erase(process_id);
  ::ReleaseSRWLockExclusive(&lock_);
}

void GlobalActivityTracker::RecordFieldTrial(const std::string& trial_name,
                                             StringPiece group_name) {
  ::AcquireSRWLockExclusive(&lock_);
  field_trials_[trial_name] = group_name.as_string();
  ::ReleaseSRWLockExclusive(&lock_);
}

std::string GlobalActivityTracker::GetProcessCommandLine(uint32_t process_id) {
  ::AcquireSRWLockExclusive(&lock_);
  auto it = processes_.find(process_id);
  std::string command_line = it == processes_.end() ? "" : it->second;
  ::ReleaseSRWLockExclusive(&lock_);
  return command_line;
}

std::string GlobalActivityTracker::GetFieldTrialGroup(
    const std::string& trial_name) {
  ::AcquireSRWLockExclusive(&lock_);
  auto it = field_trials_.find(trial_name);
  std::string group = it == field_trials_.end() ? "" : it->second;
  ::ReleaseSRWLockExclusive(&lock_);
  return group;
}

void GlobalActivityTracker::ScopedThreadActivity::Start(
    GlobalActivityTracker* global,
    const void* program_counter,
    const void* origin,
    ActivityType type,
    uint64_t data) {
  tracker_ = global->GetOrCreateTrackerForCurrentThread();
  if (tracker_)
    activity_id_ = tracker_->PushActivity(program_counter, origin, type, data);
}

void GlobalActivityTracker::ScopedThreadActivity::Stop() {
  tracker_->PopActivity(activity_id_);
}

void ScopedProcessWaitActivity::StartWait(GlobalActivityTracker* global,
                                          const void* program_counter,
                                          const Process& process) {
  Start(global, program_counter, nullptr, ACT_PROCESS_WAIT, process.Pid());
}

void ScopedTaskRunActivity::StartRun(GlobalActivityTracker* global,
                                     const void* program_counter,
                                     const PendingTask& task) {
  Start(global, program_counter, task.posted_from.program_counter(),
        ACT_TASK_RUN, task.sequence_num);
}

}  // namespace debug
}  // namespace base
