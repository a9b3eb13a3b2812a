#ifndef BASE_DEBUG_DUMP_WITHOUT_CRASHING_H_
#define BASE_DEBUG_DUMP_WITHOUT_CRASHING_H_

namespace base {
namespace debug {

// Asks crash reporting for a dump of the running process, which then goes
// on. True when a dump function is registered (and was called); false
// otherwise, and nothing happens.
bool DumpWithoutCrashing();

// Registers the function DumpWithoutCrashing calls; null unregisters.
void SetDumpWithoutCrashingFunction(void (*function)());

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_DUMP_WITHOUT_CRASHING_H_
