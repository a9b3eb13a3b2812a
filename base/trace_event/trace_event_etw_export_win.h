#ifndef BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_

#include <stdint.h>

#include <map>
#include <memory>

#include "base/strings/string_piece.h"
#include "base/trace_event/trace_event_impl.h"

namespace base {
namespace trace_event {

// Forwards trace events to Windows event tracing as events of one
// registered provider. Export starts off; the provider is registered on
// first use.
class TraceEventETWExport {
 public:
  ~TraceEventETWExport();

  TraceEventETWExport(const TraceEventETWExport&) = delete;
  TraceEventETWExport& operator=(const TraceEventETWExport&) = delete;

  // The instance, made (and the provider registered) on first use.
  static TraceEventETWExport* GetInstance();

  // Whether any category of |category_group_name| ("a,b") is exported.
  static bool IsCategoryGroupEnabled(StringPiece category_group_name);

  static void AddEvent(
      char phase,
      const unsigned char* category_group_enabled,
      const char* name,
      unsigned long long id,
      int num_args,
      const char* const* arg_names,
      const unsigned char* arg_types,
      const unsigned long long* arg_values,
      const std::unique_ptr<ConvertableToTraceFormat>* convertable_values);

  static void AddCompleteEndEvent(const char* name);

 private:
  TraceEventETWExport();

  bool etw_export_enabled_ = false;
  std::map<StringPiece, bool> categories_status_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
