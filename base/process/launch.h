#ifndef BASE_PROCESS_LAUNCH_H_
#define BASE_PROCESS_LAUNCH_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"

namespace base {

class CommandLine;

typedef std::vector<HANDLE> HandlesToInheritVector;

// How a child is started. Everything is off, null or empty by default: the
// child then inherits no handle, shows normally, runs on the caller's
// desktop as the caller and is not waited for.
struct LaunchOptions {
  enum Inherit {
    // Only the handles in |handles_to_inherit| (none when it is empty).
    INHERIT_SPECIFIC = 0,
    // Every inheritable handle of the caller.
    INHERIT_ALL = 1,
  };

  LaunchOptions();
  LaunchOptions(const LaunchOptions& other);
  ~LaunchOptions();

  // Wait for the child's end before returning.
  bool wait = false;

  // The child's working folder; empty means the caller's.
  FilePath current_directory;

  // Show the child hidden instead of normally.
  bool start_hidden = false;

  Inherit inherit_mode = INHERIT_SPECIFIC;

  // Handles the child inherits; each is made inheritable by the launch.
  HandlesToInheritVector handles_to_inherit;

  // When set, the child runs as this token's user with that user's
  // environment.
  HANDLE user_token = nullptr;

  // Start the child on the desktop named "".
  bool empty_desktop_name = false;

  // Start the child on the calling thread's desktop, by name.
  bool use_thread_desktop = false;

  // A job object the child is put into before it runs.
  HANDLE job_handle = nullptr;

  // When any is set, all three become the child's standard handles.
  HANDLE stdin_handle = nullptr;
  HANDLE stdout_handle = nullptr;
  HANDLE stderr_handle = nullptr;

  // Create the child outside the caller's job.
  bool breakaway_from_job = false;
};

// Starts |cmdline| as a child process. Returns an invalid Process on
// failure, without logging.
[[nodiscard]] Process LaunchProcess(const CommandLine& cmdline,
                                    const LaunchOptions& options);
[[nodiscard]] Process LaunchProcess(const std::wstring& cmdline,
                                    const LaunchOptions& options);

// Runs |cl| and collects what it writes to its standard output into
// |output|. True when the child ran and neither ended abnormally nor
// crashed: an exit code of 1 (a killed child) still counts as success.
[[nodiscard]] bool GetAppOutput(const CommandLine& cl, std::string* output);

// The worker of GetAppOutput: |include_stderr| also collects standard
// error, |exit_code| receives the child's exit code, |hide_window| starts
// it hidden. Before the child starts, a failure leaves |output| untouched;
// after, |output| holds whatever was read.
[[nodiscard]] bool GetAppOutputInternal(const std::wstring& cl,
                                        bool include_stderr,
                                        std::string* output,
                                        int* exit_code,
                                        bool hide_window);

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_H_
