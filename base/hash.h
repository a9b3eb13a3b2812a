#ifndef BASE_HASH_H_
#define BASE_HASH_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace base {

// A fast, non-cryptographic 32-bit hash (SuperFastHash). Inputs longer than
// 2,147,483,647 bytes give 0 without being read.
uint32_t Hash(const void* data, size_t length);
uint32_t Hash(const std::string& str);

// The raw hash over a signed length: 0 for a null pointer or a length of 0
// or less.
uint32_t SuperFastHash(const char* data, int length);

}  // namespace base

#endif  // BASE_HASH_H_
