#include "base/trace_event/trace_event_etw_export_win.h"

#include <windows.h>
#include <evntprov.h>
#include <stddef.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/strings/string_split.h"
#include "base/synchronization/lock.h"

namespace base {
namespace trace_event {

namespace {

// {D2D578D9-2936-45B6-A09F-30E32715F42D}
constexpr GUID kProviderGuid = {
    0xD2D578D9,
    0x2936,
    0x45B6,
    {0xA0, 0x9F, 0x30, 0xE3, 0x27, 0x15, 0xF4, 0x2D}};

// The hooks' plain types must carry EventWrite's values unchanged.
static_assert(sizeof(REGHANDLE) == sizeof(uint64_t) &&
                  sizeof(ULONG) == sizeof(uint32_t),
              "the event-write hook must match EventWrite's types");

constexpr UCHAR kEventLevel = 4;
constexpr ULONGLONG kEventKeyword = 0x8000000000000000ULL;

// The provider's only event: eight zero-terminated strings.
constexpr EVENT_DESCRIPTOR kEventDescriptor = {
    1,  // Id
    0,  // Version
    8,  // Channel
    kEventLevel,
    0,  // Opcode
    0,  // Task
    kEventKeyword,
};
constexpr size_t kEventStringCount = 8;

// What the system last asked of the provider. The enable callback runs on a
// system thread and is the only writer of the session fields; writers of
// events read the bitmask and the handle without a lock.
struct ProviderContext {
  std::atomic<REGHANDLE> registration_handle;
  ULONGLONG match_any_keyword;
  ULONGLONG match_all_keyword;
  ULONG is_enabled;
  UCHAR level;
  USHORT event_count;
  // Bit i: event i is enabled by a session.
  std::atomic<ULONG> enable_bits;
  const ULONGLONG* event_keywords;
  const UCHAR* event_levels;
};

constexpr ULONGLONG kEventKeywords[1] = {kEventKeyword};
constexpr UCHAR kEventLevels[1] = {kEventLevel};

ProviderContext g_provider_context = {
    {0}, 0, 0, 0, 0, 1, {0}, kEventKeywords, kEventLevels,
};

void NTAPI EnableCallback(LPCGUID source_id,
                          ULONG control_code,
                          UCHAR level,
                          ULONGLONG match_any_keyword,
                          ULONGLONG match_all_keyword,
                          PEVENT_FILTER_DESCRIPTOR filter_data,
                          PVOID callback_context) {
  ProviderContext* context = static_cast<ProviderContext*>(callback_context);
  if (!context)
    return;
  switch (control_code) {
    case 0:  // EVENT_CONTROL_CODE_DISABLE_PROVIDER
      context->is_enabled = 0;
      context->level = 0;
      context->match_any_keyword = 0;
      context->match_all_keyword = 0;
      context->enable_bits.store(0, std::memory_order_relaxed);
      break;
    case 1: {  // EVENT_CONTROL_CODE_ENABLE_PROVIDER
      context->level = level;
      context->match_any_keyword = match_any_keyword;
      context->match_all_keyword = match_all_keyword;
      context->is_enabled = 1;
      ULONG bits = context->enable_bits.load(std::memory_order_relaxed);
      for (USHORT i = 0; i < context->event_count; ++i) {
        const ULONGLONG keyword = context->event_keywords[i];
        const bool level_matches =
            level == 0 || level >= context->event_levels[i];
        const bool keyword_matches =
            keyword == 0 ||
            ((keyword & match_any_keyword) != 0 &&
             (keyword & match_all_keyword) == match_all_keyword);
        if (level_matches && keyword_matches)
          bits |= 1u << i;
        else
          bits &= ~(1u << i);
      }
      context->enable_bits.store(bits, std::memory_order_relaxed);
      break;
    }
    default:
      // Capture-state and other requests change nothing here.
      break;
  }
}

bool IsEventEnabled() {
  return (g_provider_context.enable_bits.load(std::memory_order_relaxed) &
          1u) != 0;
}

// Null: the system's EventWrite.
std::atomic<TraceEventETWExport::EventWriteFunction> g_event_write_for_testing{
    nullptr};

// Category names with a status of their own, then the catch-all entries.
constexpr const char* kOtherEventsGroupName = "__OTHER_EVENTS";
constexpr const char* kDisabledOtherEventsGroupName = "__DISABLED_OTHER_EVENTS";
constexpr const char* const kFilteredEventGroupNames[] = {
    "benchmark",
    "blink",
    "browser",
    "cc",
    "evdev",
    "gpu",
    "input",
    "netlog",
    "renderer.scheduler",
    "toplevel",
    "v8",
    "disabled-by-default-cc.debug",
    "disabled-by-default-cc.debug.picture",
    "disabled-by-default-toplevel.flow",
    "startup",
    kOtherEventsGroupName,
    kDisabledOtherEventsGroupName,
};
// No trailing dash: a name such as "disabled-by-defaultfoo" counts too.
constexpr char kDisabledByDefaultPrefix[] = "disabled-by-default";

const char* PhaseText(char phase) {
  switch (phase) {
    case TRACE_EVENT_PHASE_BEGIN:
      return "Begin";
    case TRACE_EVENT_PHASE_END:
      return "End";
    case TRACE_EVENT_PHASE_COMPLETE:
      return "Complete";
    case TRACE_EVENT_PHASE_INSTANT:
      return "Instant";
    case TRACE_EVENT_PHASE_ASYNC_BEGIN:
      return "Async Begin";
    case TRACE_EVENT_PHASE_ASYNC_STEP_INTO:
      return "Async Step Into";
    case TRACE_EVENT_PHASE_ASYNC_STEP_PAST:
      return "Async Step Past";
    case TRACE_EVENT_PHASE_ASYNC_END:
      return "Async End";
    case TRACE_EVENT_PHASE_NESTABLE_ASYNC_BEGIN:
      return "Nestable Async Begin";
    case TRACE_EVENT_PHASE_NESTABLE_ASYNC_END:
      return "Nestable Async End";
    case TRACE_EVENT_PHASE_NESTABLE_ASYNC_INSTANT:
      return "Nestable Async Instant";
    case TRACE_EVENT_PHASE_FLOW_BEGIN:
      return "Phase Flow Begin";
    case TRACE_EVENT_PHASE_FLOW_STEP:
      return "Phase Flow Step";
    case TRACE_EVENT_PHASE_FLOW_END:
      return "Phase Flow End";
    case TRACE_EVENT_PHASE_METADATA:
      return "Phase Metadata";
    case TRACE_EVENT_PHASE_COUNTER:
      return "Phase Counter";
    case TRACE_EVENT_PHASE_SAMPLE:
      return "Phase Sample";
    case TRACE_EVENT_PHASE_CREATE_OBJECT:
      return "Phase Create Object";
    case TRACE_EVENT_PHASE_SNAPSHOT_OBJECT:
      return "Phase Snapshot Object";
    case TRACE_EVENT_PHASE_DELETE_OBJECT:
      return "Phase Delete Object";
    default:
      return nullptr;
  }
}

LazyInstance<TraceEventETWExport>::Leaky g_etw_export =
    LAZY_INSTANCE_INITIALIZER;

// Whether the provider is registered, with an at-exit callback (when there
// is a manager) that undoes it. Changed only under RegistrationLock().
std::atomic<bool> g_provider_registered{false};

// Never destroyed: at-exit callbacks and late trace calls still take it.
Lock& RegistrationLock() {
  static Lock* const lock = new Lock();
  return *lock;
}

// The instance outlives the at-exit callbacks, since trace calls may still
// arrive from other threads; the provider alone goes. The manager that runs
// this may be a short-lived one (a test's, say) rather than the process's,
// so the next use registers the provider again.
void UnregisterProviderAtExit(void*) {
  AutoLock lock(RegistrationLock());
  const REGHANDLE handle = g_provider_context.registration_handle.exchange(0);
  if (handle != 0)
    ::EventUnregister(handle);
  g_provider_registered.store(false, std::memory_order_release);
}

// Registers the provider unless it is registered already. A failed
// registration is not retried until the next at-exit run.
void EnsureProviderRegistered() {
  if (g_provider_registered.load(std::memory_order_acquire))
    return;
  AutoLock lock(RegistrationLock());
  if (g_provider_registered.load(std::memory_order_relaxed))
    return;
  REGHANDLE handle = 0;
  ::EventRegister(&kProviderGuid, &EnableCallback, &g_provider_context,
                  &handle);
  g_provider_context.registration_handle.store(handle);
  AtExitManager::RegisterCallback(&UnregisterProviderAtExit, nullptr);
  g_provider_registered.store(true, std::memory_order_release);
}

}  // namespace

TraceEventETWExport::TraceEventETWExport() {
  for (const char* name : kFilteredEventGroupNames)
    categories_status_[name] = false;
}

// static
TraceEventETWExport* TraceEventETWExport::GetInstance() {
  TraceEventETWExport* instance = g_etw_export.Pointer();
  EnsureProviderRegistered();
  return instance;
}

bool TraceEventETWExport::IsCategoryEnabled(StringPiece category_name) const {
  auto it = categories_status_.find(category_name);
  if (it != categories_status_.end())
    return it->second;
  it = categories_status_.find(
      category_name.starts_with(kDisabledByDefaultPrefix)
          ? kDisabledOtherEventsGroupName
          : kOtherEventsGroupName);
  return it != categories_status_.end() && it->second;
}

// static
bool TraceEventETWExport::IsCategoryGroupEnabled(
    StringPiece category_group_name) {
  const TraceEventETWExport* instance = GetInstance();
  if (!instance->etw_export_enabled_)
    return false;
  for (StringPiece category : SplitStringPiece(
           category_group_name, ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY)) {
    if (instance->IsCategoryEnabled(category))
      return true;
  }
  return false;
}

// static
void TraceEventETWExport::AddEvent(
    char phase,
    const unsigned char* category_group_enabled,
    const char* name,
    unsigned long long id,
    int num_args,
    const char* const* arg_names,
    const unsigned char* arg_types,
    const unsigned long long* arg_values,
    const std::unique_ptr<ConvertableToTraceFormat>* convertable_values) {
  const TraceEventETWExport* instance = GetInstance();
  if (!instance->etw_export_enabled_ || !IsEventEnabled())
    return;

  const char* phase_text = PhaseText(phase);
  const char unknown_phase[2] = {phase, '\0'};
  if (!phase_text)
    phase_text = unknown_phase;

  // The event has room for three arguments; more are not sent.
  constexpr int kMaxArgs = 3;
  const int args =
      num_args < 0 ? 0 : (num_args < kMaxArgs ? num_args : kMaxArgs);
  std::string value_texts[kMaxArgs];
  for (int i = 0; i < args; ++i) {
    // A convertable value would need its whole trace text; it is sent empty.
    if (arg_types[i] == TRACE_VALUE_TYPE_CONVERTABLE)
      continue;
    TraceValue value;
    value.as_uint = arg_values[i];
    TraceEvent::AppendValueAsJSON(arg_types[i], value, &value_texts[i]);
  }

  const char* const strings[kEventStringCount] = {
      name,
      phase_text,
      args > 0 ? arg_names[0] : "",
      value_texts[0].c_str(),
      args > 1 ? arg_names[1] : "",
      value_texts[1].c_str(),
      args > 2 ? arg_names[2] : "",
      value_texts[2].c_str(),
  };
  WriteEvent(strings);
}

// static
void TraceEventETWExport::AddCompleteEndEvent(const char* name) {
  const TraceEventETWExport* instance = GetInstance();
  if (!instance->etw_export_enabled_ || !IsEventEnabled())
    return;
  const char* const strings[kEventStringCount] = {
      name, "Complete End", "", "", "", "", "", ""};
  WriteEvent(strings);
}

// static
void TraceEventETWExport::WriteEvent(
    const char* const (&strings)[kEventStringCount]) {
  EVENT_DATA_DESCRIPTOR data[kEventStringCount];
  for (size_t i = 0; i < kEventStringCount; ++i) {
    const char* text = strings[i] ? strings[i] : "NULL";
    data[i].Ptr = reinterpret_cast<ULONGLONG>(text);
    data[i].Size = static_cast<ULONG>(strlen(text) + 1);
    data[i].Reserved = 0;
  }
  const REGHANDLE handle = g_provider_context.registration_handle.load();
  const EventWriteFunction event_write =
      g_event_write_for_testing.load(std::memory_order_acquire);
  if (event_write) {
    event_write(handle, &kEventDescriptor,
                static_cast<uint32_t>(kEventStringCount), data);
  } else {
    ::EventWrite(handle, &kEventDescriptor, kEventStringCount, data);
  }
}

// static
TraceEventETWExport::EventWriteFunction
TraceEventETWExport::SetEventWriteFunctionForTesting(
    EventWriteFunction event_write) {
  return g_event_write_for_testing.exchange(event_write,
                                            std::memory_order_acq_rel);
}

void TraceEventETWExport::SetETWExportEnabledForTesting(bool enabled) {
  etw_export_enabled_ = enabled;
}

bool TraceEventETWExport::SetCategoryStatusForTesting(StringPiece category_name,
                                                      bool enabled) {
  auto it = categories_status_.find(category_name);
  if (it == categories_status_.end())
    return false;
  it->second = enabled;
  return true;
}

// static
void TraceEventETWExport::CallEnableCallbackForTesting(
    uint32_t control_code,
    uint8_t level,
    uint64_t match_any_keyword,
    uint64_t match_all_keyword) {
  EnableCallback(&kProviderGuid, control_code, level, match_any_keyword,
                 match_all_keyword, nullptr, &g_provider_context);
}

// static
bool TraceEventETWExport::IsEventEnabledForTesting() {
  return IsEventEnabled();
}

// static
uint64_t TraceEventETWExport::ProviderHandleForTesting() {
  return g_provider_context.registration_handle.load();
}

// static
void TraceEventETWExport::UnregisterProviderForTesting() {
  UnregisterProviderAtExit(nullptr);
}

}  // namespace trace_event
}  // namespace base
