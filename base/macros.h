#ifndef BASE_MACROS_H_
#define BASE_MACROS_H_

#include <stddef.h>

#define DISALLOW_COPY(TypeName) TypeName(const TypeName&) = delete
#define DISALLOW_ASSIGN(TypeName) TypeName& operator=(const TypeName&) = delete
#define DISALLOW_COPY_AND_ASSIGN(TypeName) \
  DISALLOW_COPY(TypeName);                 \
  DISALLOW_ASSIGN(TypeName)

template <typename T, size_t N>
char (&ArraySizeHelper(T (&array)[N]))[N];
#define arraysize(array) (sizeof(ArraySizeHelper(array)))

// Marks a result that is deliberately dropped.
template <typename T>
inline void ignore_result(const T&) {}

#endif  // BASE_MACROS_H_
