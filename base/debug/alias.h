#ifndef BASE_DEBUG_ALIAS_H_
#define BASE_DEBUG_ALIAS_H_

namespace base {
namespace debug {

// Makes the compiler believe |var| escapes, so a local whose address is
// passed here stays in memory (and in a crash dump) even when nothing else
// reads it.
void Alias(const void* var);

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ALIAS_H_
