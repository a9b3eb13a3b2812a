#include "base/process/launch.h"

#include <stdint.h>

#include <memory>

#include "base/check.h"
#include "base/command_line.h"
#include "base/debug/activity_tracker.h"
#include "base/logging.h"
#include "base/process/kill.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_process_information.h"
#include "base/win/startup_information.h"
#include "base/win/system_library.h"
#include "base/win/windows_version.h"

namespace base {

namespace {

// The attribute list's size is a 32-bit byte count.
const size_t kMaxHandlesToInherit = 1u << 29;

// The buffer one pipe read fills.
const DWORD kOutputBufferSize = 1024;

void RecordLaunch(DWORD pid, const std::wstring& cmdline) {
  if (debug::GlobalActivityTracker* tracker =
          debug::GlobalActivityTracker::Get())
    tracker->RecordProcessLaunch(pid, cmdline);
}

// userenv.dll is not among the libraries every module of ours links, and
// only a launch under another user's token needs it.
typedef BOOL(WINAPI* CreateEnvironmentBlockFunction)(LPVOID*, HANDLE, BOOL);
typedef BOOL(WINAPI* DestroyEnvironmentBlockFunction)(LPVOID);

bool GetEnvironmentBlockFunctions(CreateEnvironmentBlockFunction* create,
                                  DestroyEnvironmentBlockFunction* destroy) {
  HMODULE userenv = win::LoadSystemLibrary(L"userenv.dll");
  if (!userenv)
    return false;
  *create = reinterpret_cast<CreateEnvironmentBlockFunction>(
      ::GetProcAddress(userenv, "CreateEnvironmentBlock"));
  *destroy = reinterpret_cast<DestroyEnvironmentBlockFunction>(
      ::GetProcAddress(userenv, "DestroyEnvironmentBlock"));
  return *create && *destroy;
}

}  // namespace

LaunchOptions::LaunchOptions() = default;
LaunchOptions::LaunchOptions(const LaunchOptions& other) = default;
LaunchOptions::~LaunchOptions() = default;

Process LaunchProcess(const CommandLine& cmdline,
                      const LaunchOptions& options) {
  return LaunchProcess(cmdline.GetCommandLineStringInternal(), options);
}

Process LaunchProcess(const std::wstring& cmdline,
                      const LaunchOptions& options) {
  win::StartupInformation startup_info_wrapper;
  STARTUPINFOW* startup_info = startup_info_wrapper.startup_info();

  bool inherit_handles = options.inherit_mode == LaunchOptions::INHERIT_ALL;
  DWORD flags = 0;

  if (!options.handles_to_inherit.empty()) {
    if (options.handles_to_inherit.size() >= kMaxHandlesToInherit)
      return Process();

    for (HANDLE handle : options.handles_to_inherit) {
      if (!::SetHandleInformation(handle, HANDLE_FLAG_INHERIT,
                                  HANDLE_FLAG_INHERIT)) {
        PLOG(FATAL) << "SetHandleInformation failed";
      }
    }

    if (!startup_info_wrapper.InitializeProcThreadAttributeList(1))
      return Process();
    // The list is read at process creation, while |options| is still alive.
    if (!startup_info_wrapper.UpdateProcThreadAttribute(
            PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
            const_cast<HANDLE*>(options.handles_to_inherit.data()),
            options.handles_to_inherit.size() * sizeof(HANDLE))) {
      return Process();
    }
    inherit_handles = true;
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }

  std::unique_ptr<wchar_t[]> desktop_name;
  wchar_t empty_desktop_name[] = L"";
  if (options.empty_desktop_name) {
    startup_info->lpDesktop = empty_desktop_name;
  } else if (options.use_thread_desktop) {
    HDESK desktop = ::GetThreadDesktop(::GetCurrentThreadId());
    CHECK(desktop);
    DWORD size = 0;
    ::GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &size);
    const size_t length = size / sizeof(wchar_t);
    CHECK_GT(length, 0u);
    desktop_name.reset(new wchar_t[length]);
    CHECK(::GetUserObjectInformationW(
        desktop, UOI_NAME, desktop_name.get(),
        static_cast<DWORD>(length * sizeof(wchar_t)), nullptr));
    startup_info->lpDesktop = desktop_name.get();
  }

  startup_info->dwFlags = STARTF_USESHOWWINDOW;
  startup_info->wShowWindow = options.start_hidden ? SW_HIDE : SW_SHOWNORMAL;

  if (options.stdin_handle || options.stdout_handle || options.stderr_handle) {
    startup_info->dwFlags |= STARTF_USESTDHANDLES;
    startup_info->hStdInput = options.stdin_handle;
    startup_info->hStdOutput = options.stdout_handle;
    startup_info->hStdError = options.stderr_handle;
  }

  if (options.job_handle) {
    // The child must not run a single instruction outside the job.
    flags |= CREATE_SUSPENDED;
    // Before Windows 8 a process can be in one job only, so a caller that
    // is itself in a job must let the child leave it.
    if (win::GetVersion() < win::WIN8)
      flags |= CREATE_BREAKAWAY_FROM_JOB;
  }
  if (options.breakaway_from_job)
    flags |= CREATE_BREAKAWAY_FROM_JOB;

  const wchar_t* current_directory =
      options.current_directory.empty()
          ? nullptr
          : options.current_directory.value().c_str();

  // Process creation may write into the command line.
  std::wstring writable_cmdline(cmdline);

  PROCESS_INFORMATION temp_process_info = {};
  if (options.user_token) {
    CreateEnvironmentBlockFunction create_environment_block = nullptr;
    DestroyEnvironmentBlockFunction destroy_environment_block = nullptr;
    if (!GetEnvironmentBlockFunctions(&create_environment_block,
                                      &destroy_environment_block)) {
      return Process();
    }
    void* environment_block = nullptr;
    if (!create_environment_block(&environment_block, options.user_token,
                                  FALSE)) {
      return Process();
    }
    BOOL launched = ::CreateProcessAsUserW(
        options.user_token, nullptr, &writable_cmdline[0], nullptr, nullptr,
        inherit_handles, flags | CREATE_UNICODE_ENVIRONMENT, environment_block,
        current_directory, startup_info, &temp_process_info);
    const DWORD launch_error = ::GetLastError();
    destroy_environment_block(environment_block);
    if (!launched) {
      // Callers may ask why; logging keeps the last error.
      ::SetLastError(launch_error);
      PLOG(ERROR) << "Could not start " << cmdline << " as the given user";
      return Process();
    }
  } else {
    if (!::CreateProcessW(nullptr, &writable_cmdline[0], nullptr, nullptr,
                          inherit_handles, flags, nullptr, current_directory,
                          startup_info, &temp_process_info)) {
      PLOG(ERROR) << "Could not start " << cmdline;
      return Process();
    }
  }
  win::ScopedProcessInformation process_info(temp_process_info);

  if (options.job_handle) {
    if (!::AssignProcessToJobObject(options.job_handle,
                                    process_info.process_handle())) {
      // The child never ran; it must not run outside the job either.
      Process scoped_process(process_info.TakeProcessHandle());
      scoped_process.Terminate(1, true);
      return Process();
    }
    ::ResumeThread(process_info.thread_handle());
  }

  if (options.wait)
    ::WaitForSingleObject(process_info.process_handle(), INFINITE);

  RecordLaunch(process_info.process_id(), cmdline);

  return Process(process_info.TakeProcessHandle());
}

bool GetAppOutput(const CommandLine& cl, std::string* output) {
  int exit_code;
  return GetAppOutputInternal(cl.GetCommandLineStringInternal(), false, output,
                              &exit_code, false);
}

bool GetAppOutputInternal(const std::wstring& cl,
                          bool include_stderr,
                          std::string* output,
                          int* exit_code,
                          bool hide_window) {
  HANDLE out_read = nullptr;
  HANDLE out_write = nullptr;

  SECURITY_ATTRIBUTES sa_attr;
  sa_attr.nLength = sizeof(SECURITY_ATTRIBUTES);
  sa_attr.bInheritHandle = TRUE;
  sa_attr.lpSecurityDescriptor = nullptr;

  if (!::CreatePipe(&out_read, &out_write, &sa_attr, 0))
    return false;

  win::ScopedHandle scoped_out_read(out_read);
  win::ScopedHandle scoped_out_write(out_write);

  // Only the write end goes to the child; an inherited read end would keep
  // the pipe open after the child is gone.
  if (!::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0))
    return false;

  std::wstring writable_command_line_string(cl);

  STARTUPINFOW start_info = {};
  start_info.cb = sizeof(STARTUPINFOW);
  start_info.hStdOutput = out_write;
  start_info.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  start_info.hStdError =
      include_stderr ? out_write : ::GetStdHandle(STD_ERROR_HANDLE);
  start_info.dwFlags |= STARTF_USESTDHANDLES;
  if (hide_window) {
    start_info.dwFlags |= STARTF_USESHOWWINDOW;
    start_info.wShowWindow = SW_HIDE;
  }

  PROCESS_INFORMATION temp_process_info = {};
  if (!::CreateProcessW(nullptr, &writable_command_line_string[0], nullptr,
                        nullptr, TRUE, 0, nullptr, nullptr, &start_info,
                        &temp_process_info)) {
    return false;
  }
  win::ScopedProcessInformation proc_info(temp_process_info);

  RecordLaunch(proc_info.process_id(), cl);

  // Our copy of the write end must go, or the reads below never see the
  // end of the child's output.
  scoped_out_write.Close();

  for (;;) {
    char buffer[kOutputBufferSize];
    DWORD bytes_read = 0;
    BOOL success =
        ::ReadFile(out_read, buffer, kOutputBufferSize, &bytes_read, nullptr);
    if (!success || bytes_read == 0)
      break;
    output->append(buffer, bytes_read);
  }

  ::WaitForSingleObject(proc_info.process_handle(), INFINITE);

  // A process that ended with STILL_ACTIVE as its real code leaves the
  // value alone, which then is the right one.
  int local_exit_code = STILL_ACTIVE;
  TerminationStatus status =
      GetTerminationStatus(proc_info.process_handle(), &local_exit_code);
  if (exit_code)
    *exit_code = local_exit_code;
  if (debug::GlobalActivityTracker* tracker =
          debug::GlobalActivityTracker::Get())
    tracker->RecordProcessExit(proc_info.process_id(), local_exit_code);
  return status != PROCESS_CRASHED && status != ABNORMAL_TERMINATION;
}

}  // namespace base
