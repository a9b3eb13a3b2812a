#include "base/trace_event/memory_usage_estimator.h"

#include <stdint.h>

namespace base {
namespace trace_event {

size_t EstimateMemoryUsage(const std::string& string) {
  // Asking where the text lives, rather than comparing the capacity with
  // the library's inline size, holds for any string layout.
  const uintptr_t text = reinterpret_cast<uintptr_t>(string.data());
  const uintptr_t object = reinterpret_cast<uintptr_t>(&string);
  if (text >= object && text < object + sizeof(string))
    return 0;
  return string.capacity() + 1;
}

}  // namespace trace_event
}  // namespace base
