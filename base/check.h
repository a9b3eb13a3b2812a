#ifndef BASE_CHECK_H_
#define BASE_CHECK_H_

// Broken invariants end the process at once with a breakpoint trap and
// without a log line: logging may itself be what is broken, and a crash
// dump of the faulting frame is worth more than any message.

#if defined(_MSC_VER)
#define IMMEDIATE_CRASH() \
  do {                    \
    __debugbreak();       \
    __assume(0);          \
  } while (0)
#else
// int3 is the breakpoint trap; the ud2 behind it makes sure a debugger that
// continues past the breakpoint still cannot run on.
#define IMMEDIATE_CRASH()          \
  do {                             \
    __asm__ volatile("int3; ud2"); \
    __builtin_unreachable();       \
  } while (0)
#endif

#define CHECK(condition)                   \
  do {                                     \
    if (__builtin_expect(!(condition), 0)) \
      IMMEDIATE_CRASH();                   \
  } while (0)

#define CHECK_EQ(a, b) CHECK((a) == (b))
#define CHECK_NE(a, b) CHECK((a) != (b))
#define CHECK_LE(a, b) CHECK((a) <= (b))
#define CHECK_LT(a, b) CHECK((a) < (b))
#define CHECK_GE(a, b) CHECK((a) >= (b))
#define CHECK_GT(a, b) CHECK((a) > (b))

// Debug-only checks compile their condition (so it stays valid code) but
// never evaluate it in release builds. Release builds define NDEBUG; the test
// build defines DCHECK_ALWAYS_ON as well (CMake option KAVOR_DCHECK_ALWAYS_ON)
// so tests run optimised code with the checks live. DLOG and DVLOG
// (base/logging.h) follow DCHECK_IS_ON().
#if defined(NDEBUG) && !defined(DCHECK_ALWAYS_ON)
#define DCHECK_IS_ON() 0
#define DCHECK(condition) \
  do {                    \
    if (false)            \
      (void)(condition);  \
  } while (0)
#else
#define DCHECK_IS_ON() 1
#define DCHECK(condition) CHECK(condition)
#endif

#define DCHECK_EQ(a, b) DCHECK((a) == (b))
#define DCHECK_NE(a, b) DCHECK((a) != (b))
#define DCHECK_LE(a, b) DCHECK((a) <= (b))
#define DCHECK_LT(a, b) DCHECK((a) < (b))
#define DCHECK_GE(a, b) DCHECK((a) >= (b))
#define DCHECK_GT(a, b) DCHECK((a) > (b))

// Code that must never run: a trap, whatever the build.
#define NOTREACHED() IMMEDIATE_CRASH()

#endif  // BASE_CHECK_H_
