#include "base/threading/platform_thread.h"

#include <windows.h>

#include <atomic>

#include "base/check.h"
#include "base/debug/activity_tracker.h"
#include "base/debug/alias.h"
#include "base/debug/profiler.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/scoped_blocking_call.h"
#include "base/threading/thread_id_name_manager.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

// The exception code and record that debuggers take as "this thread is
// called ...".
constexpr DWORD kVCThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct THREADNAME_INFO {
  DWORD dwType;      // Always 0x1000.
  LPCSTR szName;     // NUL-terminated narrow name.
  DWORD dwThreadID;  // The thread named.
  DWORD dwFlags;     // Reserved, 0.
};
#pragma pack(pop)

// The argument count passed with the record, by the debuggers' convention:
// the record's size in 32-bit words.
constexpr DWORD kThreadNameArgumentCount =
    sizeof(THREADNAME_INFO) / sizeof(DWORD);

typedef HRESULT(WINAPI* SetThreadDescriptionFunction)(HANDLE thread,
                                                      PCWSTR description);

using SleepFunction =
    internal::ScopedPlatformThreadOverridesForTesting::SleepFunction;

std::atomic<SleepFunction> g_sleep_override{nullptr};
std::atomic<bool> g_announce_to_debugger_override{false};

// Holds the continuation for the thread-naming exception. mingw has no
// __try, so a vectored handler stands in for the structured one: it
// continues execution right after RaiseException when no debugger took the
// exception first.
LONG CALLBACK ContinueAfterThreadNameException(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == kVCThreadNameException)
    return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

void AnnounceThreadNameToDebugger(const char* name, DWORD thread_id) {
  // The debugger reads as many pointer-sized words as the argument count
  // says; on 64 bits that is more than the record holds, so the record sits
  // at the start of a block of that many words.
  union {
    THREADNAME_INFO info;
    ULONG_PTR words[kThreadNameArgumentCount];
  } record = {};
  record.info.dwType = 0x1000;
  record.info.szName = name;
  record.info.dwThreadID = thread_id;
  record.info.dwFlags = 0;

  // Added last so that a debugging aid's own handler still sees the record.
  PVOID handler =
      ::AddVectoredExceptionHandler(0, &ContinueAfterThreadNameException);
  if (!handler)
    return;  // Nothing would catch it: better unnamed than dead.
  ::RaiseException(kVCThreadNameException, 0, kThreadNameArgumentCount,
                   record.words);
  ::RemoveVectoredExceptionHandler(handler);
}

// Handed from the creating thread to the new one, which frees it.
struct ThreadParams {
  PlatformThread::Delegate* delegate;
  ThreadPriority priority;
};

DWORD WINAPI ThreadFunc(void* params) {
  ThreadParams* thread_params = static_cast<ThreadParams*>(params);
  PlatformThread::Delegate* delegate = thread_params->delegate;

  // A new thread is born at normal priority; only a different one is set.
  if (thread_params->priority != ThreadPriority::NORMAL) {
    ::SetThreadPriority(
        ::GetCurrentThread(),
        internal::ThreadPriorityToKernelPriority(thread_params->priority));
  }

  // The registry keys threads by a real handle: the pseudo handle is the
  // same value on every thread.
  HANDLE real_handle = nullptr;
  const bool did_dup =
      ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                        ::GetCurrentProcess(), &real_handle, 0, FALSE,
                        DUPLICATE_SAME_ACCESS) != FALSE;
  win::ScopedHandle scoped_real_handle;
  if (did_dup) {
    scoped_real_handle.Set(real_handle);
    ThreadIdNameManager::GetInstance()->RegisterThread(
        scoped_real_handle.Get(), PlatformThread::CurrentId());
  }

  delete thread_params;
  delegate->ThreadMain();

  if (did_dup) {
    ThreadIdNameManager::GetInstance()->RemoveName(scoped_real_handle.Get(),
                                                   PlatformThread::CurrentId());
  }
  return 0;
}

bool CreateThreadInternal(size_t stack_size,
                          PlatformThread::Delegate* delegate,
                          PlatformThreadHandle* out_thread_handle,
                          ThreadPriority priority) {
  ThreadParams* params = new ThreadParams;
  params->delegate = delegate;
  params->priority = priority;

  // Without the flag a non-default size would set the committed size and
  // leave the reservation at the image's default.
  const DWORD flags = stack_size ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;

  const TimeTicks start = TimeTicks::Now();
  HANDLE thread_handle =
      ::CreateThread(nullptr, stack_size, &ThreadFunc, params, flags, nullptr);
  const TimeTicks end = TimeTicks::Now();

  static std::atomic<HistogramBase*> create_thread_time{nullptr};
  HistogramBase* histogram = create_thread_time.load(std::memory_order_acquire);
  if (!histogram) {
    histogram = Histogram::FactoryTimeGetByCString(
        "Windows.CreateThreadTime", TimeDelta::FromMilliseconds(1),
        TimeDelta::FromSeconds(10), 50,
        HistogramBase::kUmaTargetedHistogramFlag);
    create_thread_time.store(histogram, std::memory_order_release);
  }
  histogram->AddTime(end - start);

  if (!thread_handle) {
    delete params;
    return false;
  }

  if (out_thread_handle)
    *out_thread_handle = PlatformThreadHandle(thread_handle);
  else
    ::CloseHandle(thread_handle);
  return true;
}

void KernelSleep(TimeDelta duration) {
  // Rounded up: a shorter kernel sleep would only mean another round.
  const int64_t ms = duration.InMillisecondsRoundedUp();
  const DWORD kernel_ms = ms >= static_cast<int64_t>(INFINITE)
                              ? INFINITE - 1
                              : static_cast<DWORD>(ms);
  SleepFunction sleep_override = g_sleep_override.load();
  if (sleep_override)
    sleep_override(kernel_ms);
  else
    ::Sleep(kernel_ms);
}

}  // namespace

namespace internal {

int ThreadPriorityToKernelPriority(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::BACKGROUND:
      return THREAD_PRIORITY_LOWEST;
    case ThreadPriority::NORMAL:
      return THREAD_PRIORITY_NORMAL;
    case ThreadPriority::ABOVE_NORMAL:
      return THREAD_PRIORITY_ABOVE_NORMAL;
    case ThreadPriority::TIME_CRITICAL:
      return THREAD_PRIORITY_TIME_CRITICAL;
  }
  NOTREACHED();
  return THREAD_PRIORITY_NORMAL;
}

ScopedPlatformThreadOverridesForTesting::
    ScopedPlatformThreadOverridesForTesting(SleepFunction sleep_function,
                                            bool announce_to_debugger) {
  g_sleep_override.store(sleep_function);
  g_announce_to_debugger_override.store(announce_to_debugger);
}

ScopedPlatformThreadOverridesForTesting::
    ~ScopedPlatformThreadOverridesForTesting() {
  g_sleep_override.store(nullptr);
  g_announce_to_debugger_override.store(false);
}

}  // namespace internal

// static
PlatformThreadId PlatformThread::CurrentId() {
  return static_cast<PlatformThreadId>(::GetCurrentThreadId());
}

// static
PlatformThreadRef PlatformThread::CurrentRef() {
  return PlatformThreadRef(
      static_cast<PlatformThreadId>(::GetCurrentThreadId()));
}

// static
PlatformThreadHandle PlatformThread::CurrentHandle() {
  return PlatformThreadHandle(::GetCurrentThread());
}

// static
void PlatformThread::YieldCurrentThread() {
  ::Sleep(0);
}

// static
void PlatformThread::Sleep(TimeDelta duration) {
  // The kernel's sleep ends on its timer ticks and may end early; sleep
  // again for what is left.
  TimeTicks now = TimeTicks::Now();
  const TimeTicks end = now + duration;
  while (now < end) {
    KernelSleep(end - now);
    now = TimeTicks::Now();
  }
}

// static
void PlatformThread::SetName(const std::string& name) {
  ThreadIdNameManager::GetInstance()->SetName(CurrentId(), name);

  // Windows 10 1607 and later keep a description that dumps and debuggers
  // show even when they attach later. Looked up each time: naming is rare.
  HMODULE kernel32 = ::GetModuleHandleW(L"Kernel32.dll");
  if (kernel32) {
    SetThreadDescriptionFunction set_thread_description =
        reinterpret_cast<SetThreadDescriptionFunction>(
            ::GetProcAddress(kernel32, "SetThreadDescription"));
    if (set_thread_description)
      set_thread_description(::GetCurrentThread(), UTF8ToWide(name).c_str());
  }

  // The exception costs a trip through the kernel; raise it only for a
  // listener.
  if (!::IsDebuggerPresent() && !debug::IsBinaryInstrumented() &&
      !g_announce_to_debugger_override.load()) {
    return;
  }
  AnnounceThreadNameToDebugger(name.c_str(), ::GetCurrentThreadId());
}

// static
const char* PlatformThread::GetName() {
  return ThreadIdNameManager::GetInstance()->GetName(CurrentId());
}

// static
bool PlatformThread::CreateWithPriority(size_t stack_size,
                                        Delegate* delegate,
                                        PlatformThreadHandle* thread_handle,
                                        ThreadPriority priority) {
  DCHECK(thread_handle);
  return CreateThreadInternal(stack_size, delegate, thread_handle, priority);
}

// static
bool PlatformThread::CreateNonJoinableWithPriority(size_t stack_size,
                                                   Delegate* delegate,
                                                   ThreadPriority priority) {
  return CreateThreadInternal(stack_size, delegate, nullptr, priority);
}

// static
void PlatformThread::Join(PlatformThreadHandle thread_handle) {
  DCHECK(!thread_handle.is_null());
  HANDLE handle = thread_handle.platform_handle();

  // Kept where a crash dump of a hung or failed join shows them.
  DWORD thread_id = ::GetThreadId(handle);
  DWORD last_error = 0;
  if (!thread_id)
    last_error = ::GetLastError();
  debug::Alias(&thread_id);
  debug::Alias(&last_error);

  debug::ScopedThreadJoinActivity thread_activity(GetProgramCounter(), handle);

  // A scheduler worker that joins a thread may be replaced while it waits.
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);

  // Going on after a failed wait would free what the thread still uses.
  CHECK_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(handle, INFINITE));
  ::CloseHandle(handle);
}

// static
void PlatformThread::Detach(PlatformThreadHandle thread_handle) {
  ::CloseHandle(thread_handle.platform_handle());
}

// static
void PlatformThread::SetCurrentThreadPriority(ThreadPriority priority) {
  ::SetThreadPriority(::GetCurrentThread(),
                      internal::ThreadPriorityToKernelPriority(priority));
}

}  // namespace base
