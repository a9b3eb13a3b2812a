#ifndef BASE_TRACE_EVENT_CATEGORY_REGISTRY_H_
#define BASE_TRACE_EVENT_CATEGORY_REGISTRY_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>

namespace base {
namespace trace_event {

// One category group text and its state. The state byte comes first, so the
// address call sites cache is the entry's address and the name is found
// from it without a search.
struct TraceCategory {
  enum StateFlags : uint8_t {
    ENABLED_FOR_RECORDING = 1 << 0,
    ENABLED_FOR_ETW_EXPORT = 1 << 3,
    ENABLED_FOR_FILTERING = 1 << 4,
  };

  static const TraceCategory* FromStatePtr(const uint8_t* state_ptr) {
    return reinterpret_cast<const TraceCategory*>(state_ptr);
  }

  const uint8_t* state_ptr() const {
    return reinterpret_cast<const uint8_t*>(&state_);
  }
  uint8_t state() const { return state_.load(std::memory_order_relaxed); }
  void set_state(uint8_t state) {
    state_.store(state, std::memory_order_relaxed);
  }
  uint32_t enabled_filters() const {
    return enabled_filters_.load(std::memory_order_relaxed);
  }
  void set_enabled_filters(uint32_t filters) {
    enabled_filters_.store(filters, std::memory_order_relaxed);
  }
  const char* name() const { return name_.load(std::memory_order_relaxed); }
  void set_name(const char* name) {
    name_.store(name, std::memory_order_relaxed);
  }

  // Public so that the table can be constant-initialised; use the accessors.
  std::atomic<uint8_t> state_;
  std::atomic<uint32_t> enabled_filters_;
  std::atomic<const char*> name_;
};

// The permanent table of category groups: one entry per distinct group
// text, never freed, so that call sites may keep the state pointer for the
// life of the process.
class CategoryRegistry {
 public:
  static constexpr size_t kMaxCategories = 200;
  static constexpr size_t kNumBuiltinCategories = 4;

  // The fixed entries: given out when the table is full, when the trace log
  // is gone, for metadata events, and "toplevel".
  static TraceCategory* const kCategoryExhausted;
  static TraceCategory* const kCategoryAlreadyShutdown;
  static TraceCategory* const kCategoryMetadata;

  // Called on a new entry before readers can see it.
  using CategoryInitializerFn = void (*)(TraceCategory*);

  // The entry whose name equals |category_name| exactly, or null. No lock.
  static TraceCategory* GetCategoryByName(const char* category_name);

  // Finds or makes the entry of |category_name| (the table full: the
  // exhausted entry). True when it made one. The caller holds the trace
  // log's lock.
  static bool GetOrCreateCategoryLocked(const char* category_name,
                                        CategoryInitializerFn initializer,
                                        TraceCategory** category);

  // The entries in use, in index order.
  struct Range {
    TraceCategory* begin() const { return begin_; }
    TraceCategory* end() const { return end_; }
    TraceCategory* begin_;
    TraceCategory* end_;
  };
  static Range GetAllCategories();
};

namespace internal {

// The lookup and creation rules over one table of entries. The registry's
// process-wide table is one instance; tests make tables of their own, since
// filling the process-wide one would hand the exhausted entry to every later
// category of the test process.
class CategoryTable {
 public:
  // |entries| holds |capacity| entries whose first |initial_count| are
  // named; the rest must be zero. Constant-initialisable, so the registry's
  // table works before any static constructor has run.
  constexpr CategoryTable(TraceCategory* entries,
                          size_t capacity,
                          size_t initial_count)
      : entries_(entries), capacity_(capacity), count_(initial_count) {}

  CategoryTable(const CategoryTable&) = delete;
  CategoryTable& operator=(const CategoryTable&) = delete;

  // See CategoryRegistry::GetCategoryByName.
  TraceCategory* FindByName(const char* category_name) const;
  // See CategoryRegistry::GetOrCreateCategoryLocked; the table full, entry 0.
  bool GetOrCreateLocked(const char* category_name,
                         CategoryRegistry::CategoryInitializerFn initializer,
                         TraceCategory** category);

  size_t count() const { return count_.load(std::memory_order_acquire); }
  TraceCategory* entries() const { return entries_; }

 private:
  TraceCategory* const entries_;
  const size_t capacity_;
  // Raised only once the entry below it is complete: lock-free readers never
  // see an entry half made.
  std::atomic<size_t> count_;
};

}  // namespace internal

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_CATEGORY_REGISTRY_H_
