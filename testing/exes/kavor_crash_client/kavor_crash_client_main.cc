// A process for the crash generation tests: a client that registers with a
// crash-reporter pipe and crashes, or a server that dies while it dumps.
//
//   kavor_crash_client crash PIPE KEYS [TYPE]   registers with KEYS crash
//       keys asking for dumps of TYPE (default 0), crashes with an access
//       violation; its crash filter asks the server for a dump and ends the
//       process with kDumpDone or kDumpFailed
//   kavor_crash_client exit PIPE         registers and ends with 0
//   kavor_crash_client serve PIPE READY IN_DUMP   runs a server on PIPE,
//       sets the event READY when it listens and IN_DUMP when a dump request
//       came; the dump callback never returns
//
// Exit codes: 0 done, 2 bad command line, 3 registration failed, 4 server
// failed to start.

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "crash/crash_generation/client_info.h"
#include "crash/crash_generation/crash_generation_client.h"
#include "crash/crash_generation/crash_generation_server.h"

namespace {

constexpr UINT kDumpDone = 0x600D;
constexpr UINT kDumpFailed = 0xBAD;
// MiniDumpNormal.
constexpr uint32_t kDumpType = 0;
uint32_t g_dump_type = kDumpType;

crash_reporter::CrashGenerationClient* g_client = nullptr;

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  bool dumped = g_client->RequestDump(pointers, nullptr);
  TerminateProcess(GetCurrentProcess(), dumped ? kDumpDone : kDumpFailed);
  return EXCEPTION_EXECUTE_HANDLER;
}

int Crash(const wchar_t* pipe, size_t key_count) {
  // The keys live as long as the process: the server reads them at dump
  // time.
  static std::vector<crash_reporter::CustomInfoEntry> keys;
  keys.resize(key_count);
  for (size_t i = 0; i < key_count; ++i) {
    swprintf(keys[i].name, crash_reporter::CustomInfoEntry::kNameMaxLength,
             L"key%zu", i);
    swprintf(keys[i].value, crash_reporter::CustomInfoEntry::kValueMaxLength,
             L"value%zu", i);
  }
  crash_reporter::CustomClientInfo custom_info = {keys.data(), keys.size()};
  g_client = new crash_reporter::CrashGenerationClient(pipe, g_dump_type,
                                                       &custom_info);
  if (!g_client->Register())
    return 3;
  SetUnhandledExceptionFilter(CrashFilter);
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}

int RegisterAndExit(const wchar_t* pipe) {
  crash_reporter::CrashGenerationClient client(pipe, kDumpType, nullptr);
  return client.Register() ? 0 : 3;
}

HANDLE g_in_dump = nullptr;

void OnDumpRequest(void*,
                   const crash_reporter::ClientInfo*,
                   const std::wstring*) {
  SetEvent(g_in_dump);
  // The test kills this process now, in the middle of the dump.
  Sleep(INFINITE);
}

int Serve(const wchar_t* pipe, const wchar_t* ready, const wchar_t* in_dump) {
  HANDLE ready_event = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready);
  g_in_dump = OpenEventW(EVENT_MODIFY_STATE, FALSE, in_dump);
  if (!ready_event || !g_in_dump)
    return 2;
  // Never destroyed: the process is killed.
  auto* server = new crash_reporter::CrashGenerationServer(
      pipe, nullptr, nullptr, nullptr, OnDumpRequest, nullptr, nullptr, nullptr,
      nullptr, nullptr, false, nullptr);
  if (!server->Start())
    return 4;
  SetEvent(ready_event);
  Sleep(INFINITE);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv)
    return 2;
  // A loaded machine may take the server many seconds for a dump: the
  // tests wait for the outcome, not for the usual time.
  crash_reporter::CrashGenerationClient::SetDumpWaitForTesting(60000);
  if ((argc == 4 || argc == 5) && !wcscmp(argv[1], L"crash")) {
    if (argc == 5)
      g_dump_type = wcstoul(argv[4], nullptr, 0);
    return Crash(argv[2], wcstoul(argv[3], nullptr, 10));
  }
  if (argc == 3 && !wcscmp(argv[1], L"exit"))
    return RegisterAndExit(argv[2]);
  if (argc == 5 && !wcscmp(argv[1], L"serve"))
    return Serve(argv[2], argv[3], argv[4]);
  return 2;
}
