#include "base/trace_event/trace_event_impl.h"

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <cmath>
#include <utility>

#include "base/check.h"
#include "base/json/string_escape.h"
#include "base/process/process_handle.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/category_registry.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {

// Set once the trace log has chosen the process id it reports; until then
// events name the current process.
std::atomic<bool> g_process_id_set{false};
std::atomic<int> g_process_id{0};

// Copies |*member| into |*buffer| (with its terminating zero) and points
// |*member| at the copy. A null string takes no room and stays null.
void CopyTraceEventParameter(char** buffer,
                             const char** member,
                             const char* end) {
  if (!*member)
    return;
  const size_t size = strlen(*member) + 1;
  DCHECK_LE(static_cast<ptrdiff_t>(size), end - *buffer);
  memcpy(*buffer, *member, size);
  *member = *buffer;
  *buffer += size;
}

size_t CopySize(const char* text) {
  return text ? strlen(text) + 1 : 0;
}

}  // namespace

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  overhead->Add(TraceEventMemoryOverhead::kConvertableToTraceFormat,
                sizeof(*this));
}

TraceEvent::TraceEvent()
    : duration_(TimeDelta::FromInternalValue(-1)),
      arg_names_{nullptr, nullptr},
      arg_types_{0, 0} {
  for (TraceValue& value : arg_values_)
    value.as_uint = 0;
}

TraceEvent::~TraceEvent() = default;

void TraceEvent::Initialize(
    int thread_id,
    TimeTicks timestamp,
    ThreadTicks thread_timestamp,
    char phase,
    const unsigned char* category_group_enabled,
    const char* name,
    const char* scope,
    unsigned long long id,
    unsigned long long bind_id,
    int num_args,
    const char* const* arg_names,
    const unsigned char* arg_types,
    const unsigned long long* arg_values,
    std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
    unsigned int flags) {
  timestamp_ = timestamp;
  thread_timestamp_ = thread_timestamp;
  duration_ = TimeDelta::FromInternalValue(-1);
  // A slot is reused without clearing its thread duration, so an event whose
  // duration is never set must not show the one of the slot's last event.
  thread_duration_ = TimeDelta::FromInternalValue(-1);
  scope_ = scope;
  id_ = id;
  bind_id_ = bind_id;
  category_group_enabled_ = category_group_enabled;
  name_ = name;
  thread_id_ = thread_id;
  flags_ = flags;
  phase_ = phase;

  const int stored_args =
      num_args < 0
          ? 0
          : (num_args < kTraceMaxNumArgs ? num_args : kTraceMaxNumArgs);
  int i = 0;
  for (; i < stored_args; ++i) {
    arg_names_[i] = arg_names[i];
    arg_types_[i] = arg_types[i];
    if (arg_types_[i] == TRACE_VALUE_TYPE_CONVERTABLE) {
      DCHECK(convertable_values);
      convertable_values_[i] =
          convertable_values ? std::move(convertable_values[i]) : nullptr;
      arg_values_[i].as_uint = 0;
    } else {
      arg_values_[i].as_uint = arg_values[i];
      convertable_values_[i].reset();
    }
  }
  for (; i < kTraceMaxNumArgs; ++i) {
    arg_names_[i] = nullptr;
    arg_values_[i].as_uint = 0;
    convertable_values_[i].reset();
    arg_types_[i] = TRACE_VALUE_TYPE_UINT;
  }

  const bool copy = (flags & TRACE_EVENT_FLAG_COPY) != 0;
  size_t alloc_size = 0;
  if (copy) {
    alloc_size += CopySize(name) + CopySize(scope);
    for (i = 0; i < stored_args; ++i) {
      alloc_size += CopySize(arg_names_[i]);
      if (arg_types_[i] == TRACE_VALUE_TYPE_STRING)
        arg_types_[i] = TRACE_VALUE_TYPE_COPY_STRING;
    }
  }
  for (i = 0; i < stored_args; ++i) {
    if (arg_types_[i] == TRACE_VALUE_TYPE_COPY_STRING)
      alloc_size += CopySize(arg_values_[i].as_string);
  }

  // The old block goes only after the copies are made: the caller's strings
  // may be the ones this event held so far.
  std::unique_ptr<std::string> storage;
  if (alloc_size) {
    storage = std::make_unique<std::string>(alloc_size, '\0');
    char* ptr = &(*storage)[0];
    const char* end = ptr + alloc_size;
    if (copy) {
      CopyTraceEventParameter(&ptr, &name_, end);
      CopyTraceEventParameter(&ptr, &scope_, end);
      for (i = 0; i < stored_args; ++i)
        CopyTraceEventParameter(&ptr, &arg_names_[i], end);
    }
    for (i = 0; i < stored_args; ++i) {
      if (arg_types_[i] == TRACE_VALUE_TYPE_COPY_STRING)
        CopyTraceEventParameter(&ptr, &arg_values_[i].as_string, end);
    }
    DCHECK_EQ(end, ptr);
  }
  parameter_copy_storage_ = std::move(storage);
}

void TraceEvent::MoveFrom(std::unique_ptr<TraceEvent> other) {
  *this = std::move(*other);
}

void TraceEvent::Reset() {
  duration_ = TimeDelta::FromInternalValue(-1);
  parameter_copy_storage_.reset();
  for (auto& convertable : convertable_values_)
    convertable.reset();
}

void TraceEvent::UpdateDuration(const TimeTicks& now,
                                const ThreadTicks& thread_now) {
  duration_ = now - timestamp_;
  if (!thread_timestamp_.is_null())
    thread_duration_ = thread_now - thread_timestamp_;
}

void TraceEvent::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  overhead->Add(TraceEventMemoryOverhead::kTraceEvent, sizeof(*this));
  if (parameter_copy_storage_)
    overhead->AddString(*parameter_copy_storage_);
  for (auto& convertable : convertable_values_) {
    if (convertable)
      convertable->EstimateTraceMemoryOverhead(overhead);
  }
}

// static
void TraceEvent::SetProcessIdForJSON(int process_id) {
  g_process_id.store(process_id, std::memory_order_relaxed);
  g_process_id_set.store(true, std::memory_order_release);
}

// static
void TraceEvent::ResetProcessIdForJSONForTesting() {
  g_process_id_set.store(false, std::memory_order_release);
}

// static
int TraceEvent::GetProcessIdForJSON() {
  if (g_process_id_set.load(std::memory_order_acquire))
    return g_process_id.load(std::memory_order_relaxed);
  return static_cast<int>(GetCurrentProcId());
}

const char* TraceEvent::category_group_name() const {
  if (!category_group_enabled_)
    return "";
  return TraceCategory::FromStatePtr(category_group_enabled_)->name();
}

// static
void TraceEvent::AppendValueAsJSON(unsigned char type,
                                   TraceValue value,
                                   std::string* out) {
  switch (type) {
    case TRACE_VALUE_TYPE_BOOL:
      *out += (value.as_uint & 1) ? "true" : "false";
      break;
    case TRACE_VALUE_TYPE_UINT:
      StringAppendF(out, "%llu", value.as_uint);
      break;
    case TRACE_VALUE_TYPE_INT:
      StringAppendF(out, "%lld", value.as_int);
      break;
    case TRACE_VALUE_TYPE_DOUBLE: {
      const double number = value.as_double;
      if (std::isnan(number)) {
        *out += "\"NaN\"";
        break;
      }
      if (std::isinf(number)) {
        *out += number < 0 ? "\"-Infinity\"" : "\"Infinity\"";
        break;
      }
      // JSON readers want a digit before the point, and a whole number is
      // kept recognisable as a double by its ".0".
      std::string text = DoubleToString(number);
      if (text.find_first_of(".eE") == std::string::npos)
        text += ".0";
      if (text[0] == '.')
        text.insert(0, "0");
      else if (text.compare(0, 2, "-.") == 0)
        text.insert(1, "0");
      *out += text;
      break;
    }
    case TRACE_VALUE_TYPE_POINTER:
      StringAppendF(out, "\"0x%llx\"",
                    static_cast<unsigned long long>(
                        reinterpret_cast<uintptr_t>(value.as_pointer)));
      break;
    case TRACE_VALUE_TYPE_STRING:
    case TRACE_VALUE_TYPE_COPY_STRING:
      EscapeJSONString(value.as_string ? value.as_string : "NULL", true, out);
      break;
    default:
      break;
  }
}

void TraceEvent::AppendAsJSON(
    std::string* out,
    const ArgumentFilterPredicate& argument_filter_predicate) const {
  int process_id;
  int thread_id;
  if ((flags_ & TRACE_EVENT_FLAG_HAS_PROCESS_ID) && thread_id_ != 0) {
    process_id = thread_id_;
    thread_id = -1;
  } else {
    process_id = GetProcessIdForJSON();
    thread_id = thread_id_;
  }
  const char* category_name = category_group_name();
  StringAppendF(
      out,
      "{\"pid\":%i,\"tid\":%i,\"ts\":%lld,\"ph\":\"%c\",\"cat\":", process_id,
      thread_id, static_cast<long long>(timestamp_.ToInternalValue()), phase_);
  // Every name is escaped like the values: categories, event and argument
  // names and scopes may hold quotes, backslashes or control characters.
  EscapeJSONString(category_name, true, out);
  *out += ",\"name\":";
  EscapeJSONString(name_ ? name_ : "", true, out);
  *out += ",\"args\":";

  ArgumentNameFilterPredicate arg_name_filter;
  const bool strip_args =
      arg_names_[0] && !argument_filter_predicate.is_null() &&
      !argument_filter_predicate.Run(category_name, name_, &arg_name_filter);
  if (strip_args) {
    *out += "\"__stripped__\"";
  } else {
    *out += "{";
    for (int i = 0; i < kTraceMaxNumArgs && arg_names_[i]; ++i) {
      if (i > 0)
        *out += ",";
      EscapeJSONString(arg_names_[i], true, out);
      *out += ":";
      if (!arg_name_filter.is_null() && !arg_name_filter.Run(arg_names_[i])) {
        *out += "\"__stripped__\"";
      } else if (arg_types_[i] == TRACE_VALUE_TYPE_CONVERTABLE) {
        if (convertable_values_[i])
          convertable_values_[i]->AppendAsTraceFormat(out);
        else
          *out += "null";
      } else {
        AppendValueAsJSON(arg_types_[i], arg_values_[i], out);
      }
    }
    *out += "}";
  }

  if (phase_ == TRACE_EVENT_PHASE_COMPLETE) {
    const int64_t duration = duration_.ToInternalValue();
    if (duration != -1)
      StringAppendF(out, ",\"dur\":%lld", static_cast<long long>(duration));
    if (!thread_timestamp_.is_null()) {
      const int64_t thread_duration = thread_duration_.ToInternalValue();
      if (thread_duration != -1) {
        StringAppendF(out, ",\"tdur\":%lld",
                      static_cast<long long>(thread_duration));
      }
    }
  }

  if (!thread_timestamp_.is_null()) {
    StringAppendF(out, ",\"tts\":%lld",
                  static_cast<long long>(thread_timestamp_.ToInternalValue()));
  }

  if (flags_ & TRACE_EVENT_FLAG_ASYNC_TTS)
    *out += ", \"use_async_tts\":1";

  // The id flags are read together: a combination that names no single
  // kind of id writes none.
  const unsigned int id_flags =
      flags_ & (TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID |
                TRACE_EVENT_FLAG_HAS_GLOBAL_ID);
  if (id_flags) {
    if (scope_) {
      *out += ",\"scope\":";
      EscapeJSONString(scope_, true, out);
    }
    switch (id_flags) {
      case TRACE_EVENT_FLAG_HAS_ID:
        StringAppendF(out, ",\"id\":\"0x%llx\"", id_);
        break;
      case TRACE_EVENT_FLAG_HAS_LOCAL_ID:
        StringAppendF(out, ",\"id2\":{\"local\":\"0x%llx\"}", id_);
        break;
      case TRACE_EVENT_FLAG_HAS_GLOBAL_ID:
        StringAppendF(out, ",\"id2\":{\"global\":\"0x%llx\"}", id_);
        break;
      default:
        break;
    }
  }

  if (flags_ & TRACE_EVENT_FLAG_BIND_TO_ENCLOSING)
    *out += ",\"bp\":\"e\"";

  if (flags_ & (TRACE_EVENT_FLAG_FLOW_IN | TRACE_EVENT_FLAG_FLOW_OUT)) {
    StringAppendF(out, ",\"bind_id\":\"0x%llx\"", bind_id_);
    if (flags_ & TRACE_EVENT_FLAG_FLOW_IN)
      *out += ",\"flow_in\":true";
    if (flags_ & TRACE_EVENT_FLAG_FLOW_OUT)
      *out += ",\"flow_out\":true";
  }

  if (phase_ == TRACE_EVENT_PHASE_INSTANT) {
    char scope_letter = '?';
    switch (flags_ & TRACE_EVENT_FLAG_SCOPE_MASK) {
      case TRACE_EVENT_SCOPE_GLOBAL:
        scope_letter = TRACE_EVENT_SCOPE_NAME_GLOBAL;
        break;
      case TRACE_EVENT_SCOPE_PROCESS:
        scope_letter = TRACE_EVENT_SCOPE_NAME_PROCESS;
        break;
      case TRACE_EVENT_SCOPE_THREAD:
        scope_letter = TRACE_EVENT_SCOPE_NAME_THREAD;
        break;
    }
    StringAppendF(out, ",\"s\":\"%c\"", scope_letter);
  }

  *out += "}";
}

void TraceEvent::AppendPrettyPrinted(std::ostringstream* out) const {
  *out << (name_ ? name_ : "") << "[" << category_group_name() << "]";
  if (!arg_names_[0])
    return;
  *out << ", {";
  for (int i = 0; i < kTraceMaxNumArgs && arg_names_[i]; ++i) {
    if (i > 0)
      *out << ", ";
    *out << arg_names_[i] << ":";
    std::string value_as_text;
    if (arg_types_[i] == TRACE_VALUE_TYPE_CONVERTABLE) {
      if (convertable_values_[i])
        convertable_values_[i]->AppendAsTraceFormat(&value_as_text);
    } else {
      AppendValueAsJSON(arg_types_[i], arg_values_[i], &value_as_text);
    }
    *out << value_as_text;
  }
  *out << "}";
}

}  // namespace trace_event
}  // namespace base
