#ifndef BASE_DEBUG_STACK_TRACE_H_
#define BASE_DEBUG_STACK_TRACE_H_

#include <stddef.h>

namespace base {
namespace debug {

// The return addresses of the calling thread, innermost first, taken when
// the object is made. Holds no symbols: a crash dump that keeps the object
// in memory is what makes the addresses useful.
class StackTrace {
 public:
  static constexpr size_t kMaxTraces = 62;

  // Captures at most |count| frames (and never more than kMaxTraces).
  explicit StackTrace(size_t count);
  StackTrace();
  StackTrace(const StackTrace&) = default;
  StackTrace& operator=(const StackTrace&) = default;

  // The captured addresses; |*count| receives how many there are.
  const void* const* Addresses(size_t* count) const;

  size_t count() const { return count_; }

 private:
  const void* trace_[kMaxTraces];
  size_t count_;
};

// The address this function returns to: a program counter inside the
// caller. Kept out of line so that it is never folded into the caller.
__attribute__((noinline)) const void* GetProgramCounter();

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_STACK_TRACE_H_
