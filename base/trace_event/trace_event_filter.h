#ifndef BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_

#include <memory>
#include <string>
#include <unordered_set>

namespace base {
namespace trace_event {

class TraceEvent;

// Sees the events of the categories it applies to before they are recorded.
// Called from any recording thread without a lock.
class TraceEventFilter {
 public:
  TraceEventFilter() = default;
  virtual ~TraceEventFilter() = default;

  TraceEventFilter(const TraceEventFilter&) = delete;
  TraceEventFilter& operator=(const TraceEventFilter&) = delete;

  // True lets the event through.
  virtual bool FilterTraceEvent(const TraceEvent& trace_event) const = 0;
  // A complete event has ended.
  virtual void EndEvent(const char* category_name,
                        const char* event_name) const {}
};

// Lets through only events whose name is on its whitelist.
class EventNameFilter : public TraceEventFilter {
 public:
  static const char kName[];  // "event_whitelist_predicate"

  using EventNamesWhitelist = std::unordered_set<std::string>;
  explicit EventNameFilter(std::unique_ptr<EventNamesWhitelist> whitelist);
  ~EventNameFilter() override;

  bool FilterTraceEvent(const TraceEvent& trace_event) const override;

 private:
  std::unique_ptr<const EventNamesWhitelist> event_names_whitelist_;
};

// Mirrors trace-event nesting onto the heap profiler's per-thread stack; it
// never drops an event.
class HeapProfilerEventFilter : public TraceEventFilter {
 public:
  static const char kName[];  // "heap_profiler_predicate"

  HeapProfilerEventFilter();
  ~HeapProfilerEventFilter() override;

  bool FilterTraceEvent(const TraceEvent& trace_event) const override;
  void EndEvent(const char* category_name,
                const char* event_name) const override;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
