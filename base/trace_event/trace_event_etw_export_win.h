#ifndef BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_

#include <windows.h>
#include <evntprov.h>
#include <stdint.h>

#include <map>
#include <memory>

#include "base/lazy_instance.h"
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

  // Test-only hooks; the product never calls them, so export stays off.
  //
  // The call that hands one event to the system; EventWrite by default.
  using EventWriteFunction = ULONG(WINAPI*)(REGHANDLE,
                                            PCEVENT_DESCRIPTOR,
                                            ULONG,
                                            PEVENT_DATA_DESCRIPTOR);
  // Returns the function it replaces.
  static EventWriteFunction SetEventWriteFunctionForTesting(
      EventWriteFunction event_write);
  void SetETWExportEnabledForTesting(bool enabled);
  // False (and nothing changed) for a name that has no status entry.
  bool SetCategoryStatusForTesting(StringPiece category_name, bool enabled);
  // Runs the provider's enable callback as the system would.
  static void CallEnableCallbackForTesting(ULONG control_code,
                                           UCHAR level,
                                           ULONGLONG match_any_keyword,
                                           ULONGLONG match_all_keyword);
  // Whether a tracing session has the provider's event enabled.
  static bool IsEventEnabledForTesting();
  static REGHANDLE ProviderHandleForTesting();

 private:
  // Made and destroyed (at process exit) by its lazy instance.
  template <typename Type, typename Traits>
  friend class base::LazyInstance;

  TraceEventETWExport();

  // The status of one category name, with the catch-all entries for names
  // that have none of their own.
  bool IsCategoryEnabled(StringPiece category_name) const;

  // Writes the event with its eight strings.
  static void WriteEvent(const char* const (&strings)[8]);

  bool etw_export_enabled_ = false;
  std::map<StringPiece, bool> categories_status_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
