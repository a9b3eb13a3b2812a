#include "crash/crash_reporter_process.h"

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <utility>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "crash/counter_file_writer.h"
#include "crash/crash_generation/client_info.h"
#include "crash/crash_generation/crash_generation_server.h"
#include "crash/crash_key_table.h"
#include "crash/crash_product_info.h"
#include "crash/crash_report_upload.h"
#include "crash/crash_reporter.h"
#include "crash/reporter_self_crash.h"

namespace crash_reporter {

namespace {

// Low integrity with no write-up: processes of every integrity level may
// connect to the pipe.
constexpr wchar_t kPipeSecurityDescriptor[] = L"S:(ML;;NW;;;S-1-16-4096)";

// The parent's life counts as pending work until the parent ends.
class ParentProcessWatcher {
 public:
  ParentProcessWatcher() = default;
  // Waits for a callback that is running.
  ~ParentProcessWatcher() {
    if (wait_)
      ::UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
  }

  bool Watch(DWORD parent_id) {
    process_.Set(::OpenProcess(SYNCHRONIZE, FALSE, parent_id));
    if (!process_.IsValid())
      return false;
    PendingWorkCounter::GetInstance()->Add();
    held_ = 1;
    if (!::RegisterWaitForSingleObject(&wait_, process_.Get(), &OnExited, this,
                                       INFINITE, WT_EXECUTEONLYONCE)) {
      wait_ = nullptr;
      return false;
    }
    return true;
  }

 private:
  static void CALLBACK OnExited(void* context, BOOLEAN) {
    auto* watcher = static_cast<ParentProcessWatcher*>(context);
    if (::InterlockedCompareExchange(&watcher->held_, 0, 1) == 1)
      PendingWorkCounter::GetInstance()->Release();
  }

  volatile LONG held_ = 0;
  base::win::ScopedHandle process_;
  HANDLE wait_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(ParentProcessWatcher);
};

}  // namespace

void OnClientDumpRequest(void* context,
                         const ClientInfo* client_info,
                         const std::wstring* /* unused_dump_path */) {
  PendingWorkCounter* pending = PendingWorkCounter::GetInstance();
  pending->Add();
  auto* dump_context = static_cast<DumpContext*>(context);

  const CustomClientInfo custom_info = client_info->GetCustomInfo();
  ParsedCrashKeys keys(custom_info.entries, custom_info.count);
  const std::wstring& process_type = keys.GetValue("ptype");
  if (!process_type.empty() && dump_context->counters)
    dump_context->counters->Add(base::WideToUTF8(process_type), 1, true);

  // Relative: the crash folder is the reporter's current folder.
  const base::FilePath dump_path(NextDumpFileName());
  if (WriteDumpForClient(client_info->pid(), client_info->thread_id_address(),
                         client_info->exception_pointers_address(),
                         client_info->assert_info_address(), dump_path,
                         kClientDumpSizeLimit)) {
    auto fields = std::make_unique<CrashReportFields>();
    CollectClientCrashFields(client_info->process_handle(), keys, fields.get());
    (void)UploadCrashReportAsync(dump_path, std::move(fields),
                                 !dump_context->keep_logs);
  }
  pending->Release();
}

// The reporter --------------------------------------------------------------

int RunCrashReporterServer() {
  PrepareSelfCrashLaunch();

  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  unsigned int parent_id = 0;
  if (!base::StringToUint(
          command_line.GetSwitchValueASCII(kCrashReporterParentIdSwitch),
          &parent_id)) {
    return -1;
  }
  InitCrashReporterLogging();
  if (!InitCrashReporterPaths())
    return -1;
  LoadCrashReportingEnabled(GetFlagsFilePath());
  if (!IsCrashReportingEnabled())
    return -1;
  InitCrashUploadUrl();
  PendingWorkCounter* pending = PendingWorkCounter::GetInstance();
  if (!pending->CreateEvent())
    return -1;

  ParentProcessWatcher parent_watcher;
  if (!parent_watcher.Watch(parent_id))
    return -1;

  base::string16 init_event_name;
  if (!FormatCrashReporterObjectName(kCrashReporterInitEventPrefix, parent_id,
                                     &init_event_name)) {
    return -1;
  }
  base::win::ScopedHandle init_event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, init_event_name.c_str()));
  if (!init_event.IsValid())
    return -1;
  base::string16 pipe_name;
  if (!FormatCrashReporterObjectName(kCrashReporterPipePrefix,
                                     ::GetCurrentProcessId(), &pipe_name) ||
      !::SetCurrentDirectoryW(GetCrashFolder().value().c_str())) {
    return -1;
  }

  SECURITY_ATTRIBUTES security = {};
  SECURITY_ATTRIBUTES* pipe_security = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (base::win::GetVersion() >= base::win::VISTA) {
    security.nLength = sizeof(security);
    security.bInheritHandle = FALSE;
    BOOL sacl_present = FALSE;
    BOOL sacl_defaulted = FALSE;
    PACL sacl = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kPipeSecurityDescriptor, SDDL_REVISION_1, &descriptor, nullptr) &&
        ::GetSecurityDescriptorSacl(descriptor, &sacl_present, &sacl,
                                    &sacl_defaulted) &&
        sacl_present) {
      security.lpSecurityDescriptor = descriptor;
    }
    pipe_security = &security;
  }

  CounterFileWriter counters(GetCountersFilePath());
  DumpContext dump_context;
  dump_context.counters = &counters;
  dump_context.keep_logs =
      GetEnvironmentFlag(ProductEnvironmentVariable("CRASH_KEEP_LOGS"));

  int result = -1;
  {
    CrashGenerationServer server(pipe_name, pipe_security, nullptr, nullptr,
                                 &OnClientDumpRequest, &dump_context, nullptr,
                                 nullptr, nullptr, nullptr, false, nullptr);
    if (server.Start()) {
      ::SetEvent(init_event.Get());
      init_event.Close();
      LOG(INFO) << "Crash reporter serving " << pipe_name << " for process "
                << parent_id;
      pending->Wait();
      result = 0;
    }
  }
  // A dump callback that began as the parent ended has finished now, with
  // the server, and counted its upload: that is waited for as well.
  if (result == 0)
    pending->Wait();
  if (descriptor)
    ::LocalFree(descriptor);
  return result;
}

}  // namespace crash_reporter
