#ifndef CRASH_CRASH_GENERATION_CLIENT_INFO_H_
#define CRASH_CRASH_GENERATION_CLIENT_INFO_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "base/macros.h"
#include "crash/crash_generation/crash_generation_protocol.h"

namespace crash_reporter {

class CrashGenerationServer;

// One process registered with the crash generation server: what it told us
// at registration (addresses in its own address space), a handle to it and
// the two events of its dump requests.
class ClientInfo {
 public:
  // More crash keys than this are never copied out of a client.
  static constexpr size_t kMaxCustomInfoEntries = 4096;
  // The entry added after the client's own, holding its uptime in ms.
  static constexpr wchar_t kProcessTimeEntryName[] = L"ptime";

  ClientInfo(CrashGenerationServer* server,
             DWORD pid,
             uint32_t dump_type,
             DWORD* thread_id_address,
             EXCEPTION_POINTERS** exception_pointers_address,
             AssertionInfo* assert_info_address,
             const CustomClientInfo& custom_client_info);
  ~ClientInfo();

  // Opens the client process and makes the two events.
  bool Initialize();

  CrashGenerationServer* server() const { return server_; }
  DWORD pid() const { return pid_; }
  uint32_t dump_type() const { return dump_type_; }
  HANDLE process_handle() const { return process_handle_; }
  HANDLE dump_requested_handle() const { return dump_requested_event_; }
  HANDLE dump_generated_handle() const { return dump_generated_event_; }
  // Addresses in the client.
  DWORD* thread_id_address() const { return thread_id_address_; }
  EXCEPTION_POINTERS** exception_pointers_address() const {
    return exception_pointers_address_;
  }
  AssertionInfo* assert_info_address() const { return assert_info_address_; }
  const CustomClientInfo& custom_client_info() const {
    return custom_client_info_;
  }
  // The client's creation time (FILETIME units) and the crash id made of it.
  uint64_t start_time() const { return start_time_; }
  uint32_t crash_id() const { return crash_id_; }

  // Reads the client's crashing-thread id and exception pointers (an address
  // in the client) out of its memory; false unless read whole.
  bool GetClientThreadId(DWORD* thread_id) const;
  bool GetClientExceptionPointers(EXCEPTION_POINTERS** pointers) const;

  // Copies the client's crash keys into this object and refreshes "ptime".
  bool PopulateCustomInfo();
  // The copy: the client's entries plus "ptime", or none (null, 0) when
  // nothing was copied because the client declared too many.
  CustomClientInfo GetCustomInfo() const;

  // Set and cleared by the server while it watches the client.
  HANDLE dump_request_wait_handle() const { return dump_request_wait_; }
  void set_dump_request_wait_handle(HANDLE wait) { dump_request_wait_ = wait; }
  HANDLE process_exit_wait_handle() const { return process_exit_wait_; }
  void set_process_exit_wait_handle(HANDLE wait) { process_exit_wait_ = wait; }

 private:
  // The client's uptime in milliseconds.
  uint64_t GetProcessUptime() const;

  CrashGenerationServer* server_;
  DWORD pid_;
  uint32_t dump_type_;
  EXCEPTION_POINTERS** exception_pointers_address_;
  AssertionInfo* assert_info_address_;
  CustomClientInfo custom_client_info_;
  std::unique_ptr<CustomInfoEntry[]> custom_info_entries_;
  DWORD* thread_id_address_;
  HANDLE process_handle_ = nullptr;
  HANDLE dump_requested_event_ = nullptr;
  HANDLE dump_generated_event_ = nullptr;
  HANDLE dump_request_wait_ = nullptr;
  HANDLE process_exit_wait_ = nullptr;
  uint64_t start_time_ = 0;
  uint32_t crash_id_ = 0;

  DISALLOW_COPY_AND_ASSIGN(ClientInfo);
};

}  // namespace crash_reporter

#endif  // CRASH_CRASH_GENERATION_CLIENT_INFO_H_
