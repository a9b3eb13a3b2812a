#ifndef BASE_METRICS_METRICS_HASHES_H_
#define BASE_METRICS_METRICS_HASHES_H_

#include <stdint.h>

#include "base/strings/string_piece.h"

namespace base {

// The 64-bit id of a metric: the first 8 bytes of the MD5 of its name, read
// big-endian.
uint64_t HashMetricName(StringPiece name);

}  // namespace base

#endif  // BASE_METRICS_METRICS_HASHES_H_
