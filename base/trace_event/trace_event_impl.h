#ifndef BASE_TRACE_EVENT_TRACE_EVENT_IMPL_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_IMPL_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <sstream>
#include <string>

#include "base/callback.h"
#include "base/time/time.h"

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

// Event phases.
#define TRACE_EVENT_PHASE_BEGIN ('B')
#define TRACE_EVENT_PHASE_END ('E')
#define TRACE_EVENT_PHASE_COMPLETE ('X')
#define TRACE_EVENT_PHASE_INSTANT ('I')
#define TRACE_EVENT_PHASE_ASYNC_BEGIN ('S')
#define TRACE_EVENT_PHASE_ASYNC_STEP_INTO ('T')
#define TRACE_EVENT_PHASE_ASYNC_STEP_PAST ('p')
#define TRACE_EVENT_PHASE_ASYNC_END ('F')
#define TRACE_EVENT_PHASE_NESTABLE_ASYNC_BEGIN ('b')
#define TRACE_EVENT_PHASE_NESTABLE_ASYNC_END ('e')
#define TRACE_EVENT_PHASE_NESTABLE_ASYNC_INSTANT ('n')
#define TRACE_EVENT_PHASE_FLOW_BEGIN ('s')
#define TRACE_EVENT_PHASE_FLOW_STEP ('t')
#define TRACE_EVENT_PHASE_FLOW_END ('f')
#define TRACE_EVENT_PHASE_METADATA ('M')
#define TRACE_EVENT_PHASE_COUNTER ('C')
#define TRACE_EVENT_PHASE_SAMPLE ('P')
#define TRACE_EVENT_PHASE_CREATE_OBJECT ('N')
#define TRACE_EVENT_PHASE_SNAPSHOT_OBJECT ('O')
#define TRACE_EVENT_PHASE_DELETE_OBJECT ('D')

// Event flags.
#define TRACE_EVENT_FLAG_NONE (static_cast<unsigned int>(0))
#define TRACE_EVENT_FLAG_COPY (static_cast<unsigned int>(1 << 0))
#define TRACE_EVENT_FLAG_HAS_ID (static_cast<unsigned int>(1 << 1))
#define TRACE_EVENT_FLAG_MANGLE_ID (static_cast<unsigned int>(1 << 2))
#define TRACE_EVENT_FLAG_SCOPE_OFFSET (static_cast<unsigned int>(1 << 3))
#define TRACE_EVENT_FLAG_SCOPE_EXTRA (static_cast<unsigned int>(1 << 4))
#define TRACE_EVENT_FLAG_EXPLICIT_TIMESTAMP (static_cast<unsigned int>(1 << 5))
#define TRACE_EVENT_FLAG_ASYNC_TTS (static_cast<unsigned int>(1 << 6))
#define TRACE_EVENT_FLAG_BIND_TO_ENCLOSING (static_cast<unsigned int>(1 << 7))
#define TRACE_EVENT_FLAG_FLOW_IN (static_cast<unsigned int>(1 << 8))
#define TRACE_EVENT_FLAG_FLOW_OUT (static_cast<unsigned int>(1 << 9))
#define TRACE_EVENT_FLAG_HAS_PROCESS_ID (static_cast<unsigned int>(1 << 11))
#define TRACE_EVENT_FLAG_HAS_LOCAL_ID (static_cast<unsigned int>(1 << 12))
#define TRACE_EVENT_FLAG_HAS_GLOBAL_ID (static_cast<unsigned int>(1 << 13))

// Scope of an instant event, in the flag bits 3..4.
#define TRACE_EVENT_FLAG_SCOPE_MASK                          \
  (static_cast<unsigned int>(TRACE_EVENT_FLAG_SCOPE_OFFSET | \
                             TRACE_EVENT_FLAG_SCOPE_EXTRA))
#define TRACE_EVENT_SCOPE_GLOBAL (static_cast<unsigned char>(0 << 3))
#define TRACE_EVENT_SCOPE_PROCESS (static_cast<unsigned char>(1 << 3))
#define TRACE_EVENT_SCOPE_THREAD (static_cast<unsigned char>(2 << 3))
#define TRACE_EVENT_SCOPE_NAME_GLOBAL ('g')
#define TRACE_EVENT_SCOPE_NAME_PROCESS ('p')
#define TRACE_EVENT_SCOPE_NAME_THREAD ('t')

// Argument value types.
#define TRACE_VALUE_TYPE_BOOL (static_cast<unsigned char>(1))
#define TRACE_VALUE_TYPE_UINT (static_cast<unsigned char>(2))
#define TRACE_VALUE_TYPE_INT (static_cast<unsigned char>(3))
#define TRACE_VALUE_TYPE_DOUBLE (static_cast<unsigned char>(4))
#define TRACE_VALUE_TYPE_POINTER (static_cast<unsigned char>(5))
#define TRACE_VALUE_TYPE_STRING (static_cast<unsigned char>(6))
#define TRACE_VALUE_TYPE_COPY_STRING (static_cast<unsigned char>(7))
#define TRACE_VALUE_TYPE_CONVERTABLE (static_cast<unsigned char>(8))

// A trace argument that writes itself into the trace output. Once handed to
// TraceLog::AddTraceEvent it belongs to the trace log.
class ConvertableToTraceFormat {
 public:
  ConvertableToTraceFormat() = default;
  virtual ~ConvertableToTraceFormat() = default;

  ConvertableToTraceFormat(const ConvertableToTraceFormat&) = delete;
  ConvertableToTraceFormat& operator=(const ConvertableToTraceFormat&) = delete;

  // Appends this argument's JSON form to |out|.
  virtual void AppendAsTraceFormat(std::string* out) const = 0;

  // Adds this object to |overhead|; by default its own size under
  // kConvertableToTraceFormat.
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);
};

// Finds a recorded event again (to set its duration): the sequence number
// and index of its chunk and its slot in the chunk. All zeros when nothing
// was recorded.
struct TraceEventHandle {
  uint32_t chunk_seq;
  // The bit widths bound the chunk and slot numbers a buffer may use.
  unsigned chunk_index : 26;
  unsigned event_index : 6;
};
// Handles travel by value through every trace call; the bit fields must
// pack the three numbers into one 64-bit word.
static_assert(sizeof(TraceEventHandle) == 8,
              "TraceEventHandle must stay 8 bytes");

// One argument value, read according to its TRACE_VALUE_TYPE_*.
union TraceValue {
  bool as_bool;
  unsigned long long as_uint;
  long long as_int;
  double as_double;
  const void* as_pointer;
  const char* as_string;
};

// Says whether the arguments of an event may be written, and may give a
// per-argument-name check in |arg_name_filter|.
using ArgumentNameFilterPredicate =
    RepeatingCallback<bool(const char* arg_name)>;
using ArgumentFilterPredicate =
    RepeatingCallback<bool(const char* category_group_name,
                           const char* event_name,
                           ArgumentNameFilterPredicate* arg_name_filter)>;

// One recorded trace event: a slot of a trace buffer chunk, a metadata
// record or an event built for the event filters.
class TraceEvent {
 public:
  static constexpr int kTraceMaxNumArgs = 2;

  TraceEvent();
  ~TraceEvent();

  TraceEvent(const TraceEvent&) = delete;
  TraceEvent& operator=(const TraceEvent&) = delete;

  // Fills the event. At most kTraceMaxNumArgs arguments are kept; the
  // convertable values of type-8 arguments are moved out of
  // |convertable_values| (which may be null when there are none). With
  // TRACE_EVENT_FLAG_COPY the name, scope and argument names are copied and
  // string arguments become copied strings.
  void Initialize(int thread_id,
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
                  unsigned int flags);

  // Takes over every field of |other|, which is destroyed.
  void MoveFrom(std::unique_ptr<TraceEvent> other);

  // Drops what the event owns, for reuse of its slot.
  void Reset();

  void UpdateDuration(const TimeTicks& now, const ThreadTicks& thread_now);

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

  // Appends the event as one JSON object. |argument_filter_predicate| may be
  // null.
  void AppendAsJSON(
      std::string* out,
      const ArgumentFilterPredicate& argument_filter_predicate) const;
  // "name[category], {arg:value, ...}", for the console.
  void AppendPrettyPrinted(std::ostringstream* out) const;

  // One argument value as JSON text; also used by the event-tracing export.
  static void AppendValueAsJSON(unsigned char type,
                                TraceValue value,
                                std::string* out);

  // The "pid" that AppendAsJSON writes for events that carry no process id
  // of their own: the current process unless the trace log sets another
  // (the id it reports for this process may be replaced, e.g. in tests).
  static void SetProcessIdForJSON(int process_id);
  static int GetProcessIdForJSON();
  // Back to naming the current process, as before any SetProcessIdForJSON.
  static void ResetProcessIdForJSONForTesting();

  TimeTicks timestamp() const { return timestamp_; }
  ThreadTicks thread_timestamp() const { return thread_timestamp_; }
  char phase() const { return phase_; }
  int thread_id() const { return thread_id_; }
  TimeDelta duration() const { return duration_; }
  TimeDelta thread_duration() const { return thread_duration_; }
  const char* scope() const { return scope_; }
  unsigned long long id() const { return id_; }
  unsigned int flags() const { return flags_; }
  unsigned long long bind_id() const { return bind_id_; }
  const char* name() const { return name_; }
  const char* arg_name(int i) const { return arg_names_[i]; }
  unsigned char arg_type(int i) const { return arg_types_[i]; }
  TraceValue arg_value(int i) const { return arg_values_[i]; }
  const ConvertableToTraceFormat* convertable_value(int i) const {
    return convertable_values_[i].get();
  }
  // The block that holds the copied strings, or null.
  const std::string* parameter_copy_storage() const {
    return parameter_copy_storage_.get();
  }
  const unsigned char* category_group_enabled() const {
    return category_group_enabled_;
  }
  // The name of the event's category (from its state pointer).
  const char* category_group_name() const;

 private:
  // Every field, owned storage and convertable values included; the copied
  // strings stay valid since their block moves without relocating.
  TraceEvent& operator=(TraceEvent&& other) = default;

  TimeTicks timestamp_;
  ThreadTicks thread_timestamp_;
  TimeDelta duration_;
  TimeDelta thread_duration_;
  const char* scope_ = nullptr;
  unsigned long long id_ = 0;
  TraceValue arg_values_[kTraceMaxNumArgs];
  const char* arg_names_[kTraceMaxNumArgs];
  std::unique_ptr<ConvertableToTraceFormat>
      convertable_values_[kTraceMaxNumArgs];
  const unsigned char* category_group_enabled_ = nullptr;
  const char* name_ = nullptr;
  std::unique_ptr<std::string> parameter_copy_storage_;
  // A process id instead when TRACE_EVENT_FLAG_HAS_PROCESS_ID is set.
  int thread_id_ = 0;
  unsigned int flags_ = 0;
  unsigned long long bind_id_ = 0;
  unsigned char arg_types_[kTraceMaxNumArgs];
  char phase_ = TRACE_EVENT_PHASE_BEGIN;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_IMPL_H_
