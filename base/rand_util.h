#ifndef BASE_RAND_UTIL_H_
#define BASE_RAND_UTIL_H_

#include <stddef.h>

namespace base {

// Fills |output| with |output_length| bytes from the system's cryptographic
// random source. Ends the process if the source fails: no byte it returns
// ever comes from elsewhere.
void RandBytes(void* output, size_t output_length);

// A uniformly distributed integer in [min, max]; requires min <= max.
int RandInt(int min, int max);

}  // namespace base

#endif  // BASE_RAND_UTIL_H_
