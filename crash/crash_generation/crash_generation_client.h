#ifndef CRASH_CRASH_GENERATION_CRASH_GENERATION_CLIENT_H_
#define CRASH_CRASH_GENERATION_CRASH_GENERATION_CLIENT_H_

#include <windows.h>
#include <stdint.h>

#include <string>

#include "base/macros.h"
#include "crash/crash_generation/crash_generation_protocol.h"

namespace crash_reporter {

// The client side of out-of-process dumps: registers this process with the
// crash-reporter's server over its pipe and, at crash time, asks the server
// to dump it and waits until it has. The server reads this object's records
// by address, so it must live as long as the process.
class CrashGenerationClient {
 public:
  // |custom_info| may be null (no crash keys).
  CrashGenerationClient(const std::wstring& pipe_name,
                        uint32_t dump_type,
                        const CustomClientInfo* custom_info);
  // An already opened pipe, used for one registration and then forgotten.
  CrashGenerationClient(HANDLE pipe,
                        uint32_t dump_type,
                        const CustomClientInfo* custom_info);
  ~CrashGenerationClient();

  // True when registered now or before.
  bool Register();
  bool IsRegistered() const;

  // Asks the server for a dump of this process with |exception_pointers|
  // (may be null) and |assert_info| (may be null) and waits until it is
  // written, the server dies, or 15 s pass. False when not registered or
  // when the server did not report the dump as done.
  bool RequestDump(EXCEPTION_POINTERS* exception_pointers,
                   const AssertionInfo* assert_info);

  // The time RequestDump waits for the server at most.
  static constexpr DWORD kDumpWaitMs = 15000;
  // Tests on a loaded machine, where a dump may take longer, widen that wait
  // for every client of the process (0 puts back the usual one). Not for the
  // product.
  static void SetDumpWaitForTesting(DWORD milliseconds);
  // The time a busy pipe is waited for, once.
  static constexpr DWORD kPipeBusyWaitMs = 2000;
  // Tests on a loaded machine, where the server may take longer to free its
  // pipe, widen that wait for every client of the process (0 puts back the
  // usual one). Not for the product.
  static void SetPipeBusyWaitForTesting(DWORD milliseconds);

 private:
  HANDLE ConnectToServer();
  bool RegisterClient(HANDLE pipe);

  std::wstring pipe_name_;
  HANDLE pipe_handle_ = nullptr;
  CustomClientInfo custom_info_ = {};
  uint32_t dump_type_ = 0;
  HANDLE dump_request_event_ = nullptr;
  HANDLE dump_generated_event_ = nullptr;
  HANDLE server_alive_mutex_ = nullptr;
  DWORD server_process_id_ = 0;
  // Read by the server at dump time.
  DWORD thread_id_ = 0;
  EXCEPTION_POINTERS* exception_pointers_ = nullptr;
  AssertionInfo assert_info_ = {};

  DISALLOW_COPY_AND_ASSIGN(CrashGenerationClient);
};

}  // namespace crash_reporter

#endif  // CRASH_CRASH_GENERATION_CRASH_GENERATION_CLIENT_H_
