#ifndef BASE_PROCESS_PROCESS_H_
#define BASE_PROCESS_PROCESS_H_

#include "base/macros.h"
#include "base/process/process_handle.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

// Owns a process handle, or stands for the calling process. Every exit it
// learns of is reported to the global activity tracker.
class Process {
 public:
  // Takes ownership of |handle|. The calling process's pseudo handle is
  // refused: use Current() for that.
  explicit Process(ProcessHandle handle = kNullProcessHandle);
  Process(Process&& other);
  Process& operator=(Process&& other);
  ~Process();

  // The object that stands for the calling process; it owns no handle.
  static Process Current();

  // True when a handle is held or the object stands for this process.
  bool IsValid() const;
  // The held handle, or the pseudo handle for the calling process.
  ProcessHandle Handle() const;
  ProcessId Pid() const;
  bool is_current() const { return is_current_process_; }

  // Closes the handle; the object becomes invalid.
  void Close();

  // Ends the process with |exit_code|. With |wait|, waits up to 60 s for
  // it to go. True when the process is known to be ending.
  bool Terminate(int exit_code, bool wait) const;

  // Waits for the end without a time limit.
  [[nodiscard]] bool WaitForExit(int* exit_code) const;

  // True when the process ended within |timeout| and its exit code (written
  // to |exit_code| when not null) could be read. A zero |timeout| polls.
  [[nodiscard]] bool WaitForExitWithTimeout(TimeDelta timeout,
                                            int* exit_code) const;

 private:
  win::ScopedHandle process_;
  bool is_current_process_;

  DISALLOW_COPY_AND_ASSIGN(Process);
};

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_H_
