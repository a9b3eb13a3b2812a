#include "base/trace_event/trace_log.h"

#include <windows.h>
#include <string.h>

#include <atomic>
#include <new>

namespace base {
namespace trace_event {

namespace {

// One permanent entry per category group text. The state byte comes first,
// so its address is the entry's address and the name is found without a
// search.
struct TraceCategory {
  unsigned char state;
  uint32_t enabled_filters;
  const char* name;
};

constexpr size_t kMaxCategories = 200;
constexpr size_t kCategoryExhausted = 0;
constexpr size_t kNumFixedCategories = 4;

TraceCategory g_categories[kMaxCategories] = {
    {0, 0, "tracing categories exhausted; must increase kMaxCategories"},
    {0, 0, "tracing already shutdown"},
    {0, 0, "__metadata"},
    {0, 0, "toplevel"},
};
// Entries below the count are fully set up before the count covers them, so
// readers need no lock.
std::atomic<size_t> g_category_count{kNumFixedCategories};
SRWLOCK g_category_lock = SRWLOCK_INIT;

const TraceCategory* FindCategory(const char* name) {
  const size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (strcmp(g_categories[i].name, name) == 0)
      return &g_categories[i];
  }
  return nullptr;
}

}  // namespace

// static
TraceLog* TraceLog::GetInstance() {
  // Never destroyed: trace calls may come from any thread until the end.
  static TraceLog* const instance = new TraceLog();
  return instance;
}

TraceLog::TraceLog() = default;
TraceLog::~TraceLog() = default;

// static
const unsigned char* TraceLog::GetCategoryGroupEnabled(
    const char* category_group) {
  if (const TraceCategory* found = FindCategory(category_group))
    return &found->state;

  ::AcquireSRWLockExclusive(&g_category_lock);
  const TraceCategory* category = FindCategory(category_group);
  if (!category) {
    const size_t count = g_category_count.load(std::memory_order_relaxed);
    if (count < kMaxCategories) {
      const size_t length = strlen(category_group);
      char* name_copy = new char[length + 1];
      memcpy(name_copy, category_group, length + 1);
      TraceCategory& entry = g_categories[count];
      entry.name = name_copy;
      // No session enables anything, so a new category starts off.
      entry.state = 0;
      entry.enabled_filters = 0;
      g_category_count.store(count + 1, std::memory_order_release);
      category = &entry;
    } else {
      category = &g_categories[kCategoryExhausted];
    }
  }
  ::ReleaseSRWLockExclusive(&g_category_lock);
  return &category->state;
}

// static
const char* TraceLog::GetCategoryGroupName(
    const unsigned char* category_state) {
  return reinterpret_cast<const TraceCategory*>(category_state)->name;
}

TraceEventHandle TraceLog::AddTraceEvent(
    char phase,
    const unsigned char* category_group_enabled,
    const char* name,
    const char* scope,
    unsigned long long id,
    unsigned long long bind_id,
    int thread_id,
    const TimeTicks& timestamp,
    int num_args,
    const char* const* arg_names,
    const unsigned char* arg_types,
    const unsigned long long* arg_values,
    std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
    unsigned int flags) {
  // The trace log owns the convertable arguments from here on; with nothing
  // recorded they are released at once.
  if (convertable_values) {
    for (int i = 0; i < num_args; ++i)
      convertable_values[i].reset();
  }
  TraceEventHandle handle = {0, 0, 0};
  return handle;
}

void TraceLog::UpdateTraceEventDuration(
    const unsigned char* category_group_enabled,
    const char* name,
    TraceEventHandle handle) {
  // Only a recorded event has a duration to close, and none is recorded
  // while every category is off.
}

}  // namespace trace_event
}  // namespace base
