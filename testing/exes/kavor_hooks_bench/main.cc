// Costs of the diagnostics hooks in the base runtime while nothing is
// installed (no activity tracker, no field-trial list): each hooked call
// beside the bare system call it wraps, in nanoseconds per call.
//
//   kavor_hooks_bench.exe [ITERATIONS]

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "base/metrics/field_trial_params.h"
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
  printf("field-trial parameter lookup, no list: %.1f ns\n",
         NanosecondsPerCall(iterations, ParamLoop));
  ::CloseHandle(g_handle);
  return 0;
}
