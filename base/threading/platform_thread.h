#ifndef BASE_THREADING_PLATFORM_THREAD_H_
#define BASE_THREADING_PLATFORM_THREAD_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/time/time.h"

namespace base {

// The kernel id of a thread (GetCurrentThreadId); never 0 for a live thread.
typedef uint32_t PlatformThreadId;

const PlatformThreadId kInvalidThreadId = 0;

// A thread's identity, for telling threads apart.
class PlatformThreadRef {
 public:
  constexpr PlatformThreadRef() = default;
  explicit constexpr PlatformThreadRef(PlatformThreadId id) : id_(id) {}

  bool operator==(PlatformThreadRef other) const { return id_ == other.id_; }
  bool operator!=(PlatformThreadRef other) const { return id_ != other.id_; }
  bool is_null() const { return id_ == kInvalidThreadId; }

 private:
  PlatformThreadId id_ = kInvalidThreadId;
};

// A kernel thread handle (a HANDLE); null means no thread.
class PlatformThreadHandle {
 public:
  typedef void* Handle;

  constexpr PlatformThreadHandle() = default;
  explicit constexpr PlatformThreadHandle(Handle handle) : handle_(handle) {}

  bool is_equal(const PlatformThreadHandle& other) const {
    return handle_ == other.handle_;
  }
  bool is_null() const { return handle_ == nullptr; }
  Handle platform_handle() const { return handle_; }

 private:
  Handle handle_ = nullptr;
};

// The values are stored; keep them.
enum class ThreadPriority : int {
  BACKGROUND = 0,
  NORMAL = 1,
  ABOVE_NORMAL = 2,
  TIME_CRITICAL = 3,
};

// Thread facilities that need no object.
class PlatformThread {
 public:
  // What a thread made here runs. The delegate must outlive the thread.
  class Delegate {
   public:
    virtual void ThreadMain() = 0;

   protected:
    virtual ~Delegate() = default;
  };

  PlatformThread() = delete;

  // The calling thread's kernel id.
  static PlatformThreadId CurrentId();

  static PlatformThreadRef CurrentRef();

  // The calling thread's pseudo handle: valid only on this thread, and never
  // closed.
  static PlatformThreadHandle CurrentHandle();

  // Gives the rest of the time slice to any ready thread.
  static void YieldCurrentThread();

  // Sleeps at least |duration|, however often the kernel wakes early.
  static void Sleep(TimeDelta duration);

  // Names the calling thread (UTF-8) in the thread-name registry, for the
  // kernel where it keeps thread descriptions, and for an attached debugger.
  static void SetName(const std::string& name);

  // The calling thread's name; "" when it has none. The text lives for the
  // rest of the process.
  static const char* GetName();

  // Starts a thread that runs |delegate|'s ThreadMain. A |stack_size| of 0
  // takes the default stack. On success writes the handle, which must be
  // passed to Join or Detach exactly once, and returns true.
  static bool CreateWithPriority(size_t stack_size,
                                 Delegate* delegate,
                                 PlatformThreadHandle* thread_handle,
                                 ThreadPriority priority);
  static bool Create(size_t stack_size,
                     Delegate* delegate,
                     PlatformThreadHandle* thread_handle) {
    return CreateWithPriority(stack_size, delegate, thread_handle,
                              ThreadPriority::NORMAL);
  }

  // The same for a thread nobody joins: its handle is closed at once.
  static bool CreateNonJoinableWithPriority(size_t stack_size,
                                            Delegate* delegate,
                                            ThreadPriority priority);
  static bool CreateNonJoinable(size_t stack_size, Delegate* delegate) {
    return CreateNonJoinableWithPriority(stack_size, delegate,
                                         ThreadPriority::NORMAL);
  }

  // Waits for the thread to end and closes its handle. A failing wait ends
  // the process: the caller would otherwise free what the thread still uses.
  static void Join(PlatformThreadHandle thread_handle);

  // Lets the thread run on unjoined.
  static void Detach(PlatformThreadHandle thread_handle);

  static void SetCurrentThreadPriority(ThreadPriority priority);
};

namespace internal {

// The kernel priority (THREAD_PRIORITY_*) of |priority|.
int ThreadPriorityToKernelPriority(ThreadPriority priority);

// Test only: while alive, PlatformThread::Sleep asks |sleep_function|
// instead of the kernel to sleep the given milliseconds, and
// PlatformThread::SetName announces names as if a debugger were attached
// when |announce_to_debugger| says so. Not nestable.
class ScopedPlatformThreadOverridesForTesting {
 public:
  using SleepFunction = void (*)(uint32_t milliseconds);

  ScopedPlatformThreadOverridesForTesting(SleepFunction sleep_function,
                                          bool announce_to_debugger);
  ~ScopedPlatformThreadOverridesForTesting();

  ScopedPlatformThreadOverridesForTesting(
      const ScopedPlatformThreadOverridesForTesting&) = delete;
  ScopedPlatformThreadOverridesForTesting& operator=(
      const ScopedPlatformThreadOverridesForTesting&) = delete;
};

}  // namespace internal

}  // namespace base

#endif  // BASE_THREADING_PLATFORM_THREAD_H_
