#ifndef BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_WIN_H_

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
// first use, and again on the first use after an AtExitManager unregistered
// it.
class TraceEventETWExport {
 public:
  TraceEventETWExport(const TraceEventETWExport&) = delete;
  TraceEventETWExport& operator=(const TraceEventETWExport&) = delete;

  // The instance, made on first use; registers the provider when it is not
  // registered.
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
  // Its arguments are EventWrite's: the provider handle, the event
  // descriptor (an EVENT_DESCRIPTOR), the count and the array of
  // EVENT_DATA_DESCRIPTOR. Plain types here keep <windows.h> out of every
  // includer.
  using EventWriteFunction = uint32_t (*)(uint64_t provider_handle,
                                          const void* event_descriptor,
                                          uint32_t data_count,
                                          void* data_descriptors);
  // Returns the function it replaces.
  static EventWriteFunction SetEventWriteFunctionForTesting(
      EventWriteFunction event_write);
  void SetETWExportEnabledForTesting(bool enabled);
  // False (and nothing changed) for a name that has no status entry.
  bool SetCategoryStatusForTesting(StringPiece category_name, bool enabled);
  // Runs the provider's enable callback as the system would.
  static void CallEnableCallbackForTesting(uint32_t control_code,
                                           uint8_t level,
                                           uint64_t match_any_keyword,
                                           uint64_t match_all_keyword);
  // Whether a tracing session has the provider's event enabled.
  static bool IsEventEnabledForTesting();
  // The registration handle; 0 before registration and after exit.
  static uint64_t ProviderHandleForTesting();
  // Unregisters the provider as an exiting AtExitManager would.
  static void UnregisterProviderForTesting();

 private:
  // Made by its lazy instance and never destroyed: trace calls may come
  // from any thread until the process ends. At exit only the provider is
  // unregistered (and registered again if the process goes on).
  template <typename Type, typename Traits>
  friend class base::LazyInstance;

  TraceEventETWExport();
  ~TraceEventETWExport() = default;

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
