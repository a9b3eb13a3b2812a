#ifndef BASE_DEBUG_DEBUGGER_H_
#define BASE_DEBUG_DEBUGGER_H_

namespace base {
namespace debug {

// True while a user-mode debugger is attached to the process.
bool BeingDebugged();

// Ends a fatal error. With debugger UI suppressed the process exits at once
// with code 1 and without clean-up; otherwise a breakpoint trap is raised,
// which ends the process through crash handling unless a debugger continues
// it. Never returns.
[[noreturn]] void BreakDebugger();

// Unattended runs (tests, automation) suppress anything that would wait for
// a person at a debugger.
void SetSuppressDebugUI(bool suppress);
bool IsDebugUISuppressed();

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_DEBUGGER_H_
