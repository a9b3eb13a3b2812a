#ifndef BASE_TRACE_EVENT_MEMORY_USAGE_ESTIMATOR_H_
#define BASE_TRACE_EVENT_MEMORY_USAGE_ESTIMATOR_H_

#include <stddef.h>

#include <string>

namespace base {
namespace trace_event {

// Heap bytes an object owns beyond its own size, for memory dumps.

// A string's heap buffer (capacity and terminator); 0 while the text fits
// in the string object itself.
size_t EstimateMemoryUsage(const std::string& string);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_USAGE_ESTIMATOR_H_
