#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <stdint.h>

#include <memory>

#include "base/trace_event/trace_event_impl.h"

namespace base {

class TimeTicks;

namespace trace_event {

// The process trace log. Tracing is off unless a session enables it, and
// with it off every category's state byte is 0 and nothing is recorded.
class TraceLog {
 public:
  // Bits of a category's state byte.
  enum CategoryStateFlags : unsigned char {
    ENABLED_FOR_RECORDING = 1 << 0,
    ENABLED_FOR_ETW_EXPORT = 1 << 3,
    ENABLED_FOR_FILTERING = 1 << 4,
  };
  // Call sites test the state byte against this before building an event.
  static constexpr unsigned char kEnabledForAnyMask =
      ENABLED_FOR_RECORDING | ENABLED_FOR_ETW_EXPORT | ENABLED_FOR_FILTERING;

  // Made on first use, never destroyed.
  static TraceLog* GetInstance();

  // The state byte of |category_group| (a string that lives for the rest of
  // the process). The pointer stays valid for the life of the process, so
  // call sites cache it.
  static const unsigned char* GetCategoryGroupEnabled(
      const char* category_group);

  // The name of the category whose state byte is |category_state|.
  static const char* GetCategoryGroupName(const unsigned char* category_state);

  // Records one event; takes ownership of the |num_args| convertable values
  // whatever happens. Returns an all-zero handle when nothing was recorded.
  TraceEventHandle AddTraceEvent(
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
      unsigned int flags);

  // Closes the complete event behind |handle| with the current time. Does
  // nothing when the category was turned off since.
  void UpdateTraceEventDuration(const unsigned char* category_group_enabled,
                                const char* name,
                                TraceEventHandle handle);

  bool IsEnabled() const { return false; }

 private:
  TraceLog();
  ~TraceLog();
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
