// Plays the front end for end-to-end tests that start a backend directly:
// creates the install folder's interrupted event and mailslot as the front
// end does, starts the backend with this process as its initial process,
// writes down every message the backends send and waits until the backend
// has ended and the mailslot is empty.
//
//   kavor_backend_driver.exe --folder=DIR --messages=FILE
//       [--interrupt-after-first-step] -- PROGRAM [ARGS...]
//
// PROGRAM gets ARGS and --initial-pid=<this process>. FILE gets one line per
// observer call the messages turned into ("OnStepStarting(x)", ...), then
// "exit=N", the backend's exit code. --interrupt-after-first-step signals
// the interrupted event when the first step message arrives. Exit codes:
// 0 when the backend ran and ended, 2 bad usage, 3 set-up failed, 4 the
// backend was still running after the time limit.

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/pickle.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_message_recorder.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace {

const int kExitBadUsage = 2;
const int kExitSetUpFailed = 3;
const int kExitTimeout = 4;

// Below the job runner's limit, so that the driver reports what it got.
const ULONGLONG kTimeLimitMs = 100 * 1000;
// Where the mailslot cannot tell whether it holds more: the backend's last
// messages may still be on their way when it has ended.
const ULONGLONG kQuietAfterExitMs = 500;

// A process's write to a mailslot is queued when it returns: once the
// backend (which waits for the package's installer it hands over to) has
// ended and the mailslot is empty, nothing more comes.
bool IsMailslotEmpty(HANDLE mailslot) {
  DWORD next_size = 0;
  DWORD count = 0;
  return ::GetMailslotInfo(mailslot, nullptr, &next_size, &count, nullptr) &&
         next_size == MAILSLOT_NO_MESSAGE && count == 0;
}

bool WriteLines(const std::wstring& file,
                const std::vector<std::string>& lines) {
  FILE* out = _wfopen(file.c_str(), L"wb");
  if (!out)
    return false;
  for (const std::string& line : lines)
    fprintf(out, "%s\r\n", line.c_str());
  return fclose(out) == 0;
}

int Run(int argc, wchar_t** argv) {
  std::wstring folder, messages_file;
  bool interrupt_after_first_step = false;
  int i = 1;
  for (; i < argc && wcscmp(argv[i], L"--") != 0; ++i) {
    const std::wstring arg = argv[i];
    if (arg.compare(0, 9, L"--folder=") == 0)
      folder = arg.substr(9);
    else if (arg.compare(0, 11, L"--messages=") == 0)
      messages_file = arg.substr(11);
    else if (arg == L"--interrupt-after-first-step")
      interrupt_after_first_step = true;
    else
      return kExitBadUsage;
  }
  if (folder.empty() || messages_file.empty() || i + 1 >= argc)
    return kExitBadUsage;

  const base::string16 event_name = installer::MakeKernelObjectName(
      L"KavorInstaller/InstallationInterrupted", base::FilePath(folder), true);
  base::win::ScopedHandle interrupted(
      ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  const std::wstring mailslot_path =
      L"\\\\.\\mailslot\\kavor_installer\\" + folder;
  base::win::ScopedHandle mailslot(
      ::CreateMailslotW(mailslot_path.c_str(),
                        installer::kMaxInstallerMessageSize, 100, nullptr));
  if (!interrupted.IsValid() || !mailslot.IsValid()) {
    fprintf(stderr, "kavor_backend_driver: cannot create %s\n",
            interrupted.IsValid() ? "the mailslot" : "the event");
    return kExitSetUpFailed;
  }

  std::vector<base::string16> program(argv + i + 1, argv + argc);
  base::CommandLine command_line(program);
  command_line.AppendSwitchASCII("initial-pid",
                                 base::UintToString(::GetCurrentProcessId()));
  base::Process backend = base::LaunchProcess(command_line, {});
  if (!backend.IsValid()) {
    fprintf(stderr, "kavor_backend_driver: cannot start the backend\n");
    return kExitSetUpFailed;
  }

  installer::MessageRecorder recorder;
  std::vector<char> buffer(installer::kMaxInstallerMessageSize);
  const ULONGLONG deadline = ::GetTickCount64() + kTimeLimitMs;
  ULONGLONG ended_at = 0;
  bool interrupt_sent = false;
  bool timed_out = false;
  for (;;) {
    DWORD size = 0;
    if (::ReadFile(mailslot.Get(), buffer.data(),
                   static_cast<DWORD>(buffer.size()), &size, nullptr)) {
      recorder.Dispatch(base::Pickle(buffer.data(), static_cast<int>(size)));
      if (interrupt_after_first_step && !interrupt_sent) {
        for (const std::string& call : recorder.calls()) {
          if (base::StartsWith(call, "OnStep", base::CompareCase::SENSITIVE)) {
            ::SetEvent(interrupted.Get());
            interrupt_sent = true;
            break;
          }
        }
      }
      continue;
    }
    // A read that timed out: nothing in the mailslot.
    const ULONGLONG now = ::GetTickCount64();
    if (!ended_at &&
        ::WaitForSingleObject(backend.Handle(), 0) == WAIT_OBJECT_0)
      ended_at = now;
    if (ended_at &&
        (IsMailslotEmpty(mailslot.Get()) || now - ended_at >= kQuietAfterExitMs))
      break;
    if (now >= deadline) {
      timed_out = true;
      break;
    }
  }

  std::vector<std::string> lines = recorder.calls();
  DWORD exit_code = 0;
  ::GetExitCodeProcess(backend.Handle(), &exit_code);
  lines.push_back(timed_out ? std::string("timeout")
                            : "exit=" + std::to_string(exit_code));
  if (!WriteLines(messages_file, lines))
    return kExitSetUpFailed;
  if (timed_out)
    backend.Terminate(kExitTimeout, false);
  return timed_out ? kExitTimeout : 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kExitBadUsage;
  const int result = Run(argc, argv);
  ::LocalFree(argv);
  return result;
}
