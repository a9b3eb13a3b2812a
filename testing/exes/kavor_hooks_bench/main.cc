// Costs of the diagnostics hooks in the base runtime while nothing is
// installed (no activity tracker, no field-trial list): each hooked call
// beside the bare system call it wraps, in nanoseconds per call.
//
//   kavor_hooks_bench.exe [ITERATIONS]

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "base/debug/activity_tracker.h"
#include "base/location.h"
#include "base/metrics/field_trial_params.h"
#include "base/pending_task.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/time/time.h"

namespace {

double NanosecondsPerCall(long long iterations, void (*body)(long long)) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  ::QueryPerformanceFrequency(&frequency);
  body(iterations / 10);  // Warm up.
  ::QueryPerformanceCounter(&start);
  body(iterations);
  ::QueryPerformanceCounter(&end);
  return (end.QuadPart - start.QuadPart) * 1e9 /
         static_cast<double>(frequency.QuadPart) / iterations;
}

base::Lock g_lock;
SRWLOCK g_srw = SRWLOCK_INIT;
base::WaitableEvent g_event(base::WaitableEvent::ResetPolicy::MANUAL,
                            base::WaitableEvent::InitialState::SIGNALED);
HANDLE g_handle;
volatile size_t g_sink;

void LockLoop(long long n) {
  for (long long i = 0; i < n; ++i) {
    g_lock.Acquire();
    g_lock.Release();
  }
}

void SrwLoop(long long n) {
  for (long long i = 0; i < n; ++i) {
    ::AcquireSRWLockExclusive(&g_srw);
    ::ReleaseSRWLockExclusive(&g_srw);
  }
}

void EventLoop(long long n) {
  for (long long i = 0; i < n; ++i)
    g_event.TimedWait(base::TimeDelta());
}

void HandleLoop(long long n) {
  for (long long i = 0; i < n; ++i)
    ::WaitForSingleObject(g_handle, 0);
}

// The records a task run and a thread join open around their work, without
// the work itself.
void TaskRunLoop(long long n) {
  base::PendingTask task(FROM_HERE, base::OnceClosure());
  for (long long i = 0; i < n; ++i) {
    base::debug::ScopedTaskRunActivity activity(nullptr, task);
    g_sink = g_sink + activity.is_recorded();
  }
}

void ThreadJoinLoop(long long n) {
  for (long long i = 0; i < n; ++i) {
    base::debug::ScopedThreadJoinActivity activity(nullptr, g_handle);
    g_sink = g_sink + activity.is_recorded();
  }
}

void EmptyLoop(long long n) {
  for (long long i = 0; i < n; ++i)
    g_sink = g_sink + 1;
}

void ParamLoop(long long n) {
  const std::string trial = "BrowserScheduler";
  const std::string param = "AllTasksUserBlocking";
  for (long long i = 0; i < n; ++i)
    g_sink = g_sink + base::GetFieldTrialParamValue(trial, param).size();
}

}  // namespace

int main(int argc, char** argv) {
  const long long iterations = argc > 1 ? atoll(argv[1]) : 10000000;
  g_handle = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  printf("lock acquire+release: %.1f ns (bare SRW lock %.1f ns)\n",
         NanosecondsPerCall(iterations, LockLoop),
         NanosecondsPerCall(iterations, SrwLoop));
  printf("signalled event wait: %.1f ns (bare WaitForSingleObject %.1f ns)\n",
         NanosecondsPerCall(iterations / 10, EventLoop),
         NanosecondsPerCall(iterations / 10, HandleLoop));
  printf(
      "task-run record: %.2f ns, thread-join record: %.2f ns "
      "(empty loop %.2f ns)\n",
      NanosecondsPerCall(iterations, TaskRunLoop),
      NanosecondsPerCall(iterations, ThreadJoinLoop),
      NanosecondsPerCall(iterations, EmptyLoop));
  printf("field-trial parameter lookup, no list: %.1f ns\n",
         NanosecondsPerCall(iterations, ParamLoop));
  ::CloseHandle(g_handle);
  return 0;
}
