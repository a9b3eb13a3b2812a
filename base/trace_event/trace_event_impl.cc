#include "base/trace_event/trace_event_impl.h"

#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  overhead->Add(TraceEventMemoryOverhead::kConvertableToTraceFormat,
                sizeof(*this));
}

}  // namespace trace_event
}  // namespace base
