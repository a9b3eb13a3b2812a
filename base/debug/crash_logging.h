#ifndef BASE_DEBUG_CRASH_LOGGING_H_
#define BASE_DEBUG_CRASH_LOGGING_H_

#include <stdint.h>

#include <memory>

#include "base/macros.h"
#include "base/strings/string_piece.h"

// Crash keys: short named texts that travel with every crash dump of the
// process. The base runtime only forwards; crash reporting registers the
// implementation that decides where the texts live. Before one is
// registered (and in processes that never register one) every call is a
// harmless no-op, so code may set keys without knowing whether crash
// reporting is up.
namespace base {
namespace debug {

// The declared size of a key bounds the length of its value. Sizes other
// than these are accepted and treated as the largest.
constexpr uint32_t kCrashKeySize32 = 32;
constexpr uint32_t kCrashKeySize64 = 64;
constexpr uint32_t kCrashKeySize256 = 256;

// One allocated key. |name| is not copied: it must outlive the key, which
// in practice means a string literal.
struct CrashKeyString {
  constexpr CrashKeyString(const char* name, uint32_t size)
      : name(name), size(size) {}

  const char* const name;
  const uint32_t size;
};

// What crash reporting supplies. Allocated keys are never given back; their
// values are replaced or cleared for the rest of the process's life.
class CrashKeyImplementation {
 public:
  virtual ~CrashKeyImplementation() = default;

  virtual CrashKeyString* Allocate(const char* name, uint32_t size) = 0;
  virtual void Set(CrashKeyString* crash_key, StringPiece value) = 0;
  virtual void Clear(CrashKeyString* crash_key) = 0;
};

// Takes |implementation| (may be null) and destroys the one registered
// before. Registration belongs to start-up: a thread still setting a key
// through the old implementation while it is replaced is not supported.
void SetCrashKeyImplementation(
    std::unique_ptr<CrashKeyImplementation> implementation);

// Null when no implementation is registered or it refuses the key.
CrashKeyString* AllocateCrashKeyString(const char* name, uint32_t size);

// Both do nothing for a null key or without an implementation.
void SetCrashKeyString(CrashKeyString* crash_key, StringPiece value);
void ClearCrashKeyString(CrashKeyString* crash_key);

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_CRASH_LOGGING_H_
