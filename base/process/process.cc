#include "base/process/process.h"

#include <stdint.h>

#include "base/check.h"
#include "base/debug/activity_tracker.h"
#include "base/debug/stack_trace.h"

namespace base {

namespace {

// How long Terminate waits for a process to go.
const DWORD kWaitBeforeGivingUpMs = 60000;

void RecordExit(ProcessId pid, int exit_code) {
  if (debug::GlobalActivityTracker* tracker =
          debug::GlobalActivityTracker::Get())
    tracker->RecordProcessExit(pid, exit_code);
}

}  // namespace

Process::Process(ProcessHandle handle)
    : process_(handle), is_current_process_(false) {
  CHECK_NE(handle, ::GetCurrentProcess());
}

Process::Process(Process&& other)
    : process_(other.process_.Take()),
      is_current_process_(other.is_current_process_) {
  other.Close();
}

Process& Process::operator=(Process&& other) {
  if (this != &other) {
    process_.Set(other.process_.Take());
    is_current_process_ = other.is_current_process_;
    other.Close();
  }
  return *this;
}

Process::~Process() = default;

// static
Process Process::Current() {
  Process process;
  process.is_current_process_ = true;
  return process;
}

bool Process::IsValid() const {
  return process_.IsValid() || is_current_process_;
}

ProcessHandle Process::Handle() const {
  return is_current_process_ ? GetCurrentProcessHandle() : process_.Get();
}

ProcessId Process::Pid() const {
  DCHECK(IsValid());
  return GetProcId(Handle());
}

void Process::Close() {
  is_current_process_ = false;
  process_.Close();
}

bool Process::Terminate(int exit_code, bool wait) const {
  DCHECK(IsValid());
  if (::TerminateProcess(Handle(), static_cast<UINT>(exit_code))) {
    // Whatever the wait answers, the process has been told to end.
    if (wait)
      ::WaitForSingleObject(Handle(), kWaitBeforeGivingUpMs);
    RecordExit(Pid(), exit_code);
    return true;
  }
  // A process that is already ending refuses to be terminated again; it
  // counts as ended once it is gone.
  if (::WaitForSingleObject(Handle(), kWaitBeforeGivingUpMs) == WAIT_OBJECT_0) {
    DWORD actual_exit = 0;
    if (::GetExitCodeProcess(Handle(), &actual_exit))
      exit_code = static_cast<int>(actual_exit);
    RecordExit(Pid(), exit_code);
    return true;
  }
  return false;
}

bool Process::WaitForExit(int* exit_code) const {
  return WaitForExitWithTimeout(TimeDelta::FromMilliseconds(INFINITE),
                                exit_code);
}

bool Process::WaitForExitWithTimeout(TimeDelta timeout, int* exit_code) const {
  debug::ScopedProcessWaitActivity process_activity(debug::GetProgramCounter(),
                                                    *this);
  const int64_t ms = timeout.InMilliseconds();
  DWORD timeout_ms;
  if (ms < 0)
    timeout_ms = 0;
  else if (ms >= static_cast<int64_t>(INFINITE))
    timeout_ms = INFINITE;
  else
    timeout_ms = static_cast<DWORD>(ms);

  if (::WaitForSingleObject(Handle(), timeout_ms) != WAIT_OBJECT_0)
    return false;

  DWORD temp_code = 0;
  if (!::GetExitCodeProcess(Handle(), &temp_code))
    return false;
  if (exit_code)
    *exit_code = static_cast<int>(temp_code);
  RecordExit(Pid(), static_cast<int>(temp_code));
  return true;
}

}  // namespace base
