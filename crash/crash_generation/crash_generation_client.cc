#include "crash/crash_generation/crash_generation_client.h"

#include <string.h>

#include <atomic>

namespace crash_reporter {

namespace {

// Read and write data plus write attributes: the last is what
// SetNamedPipeHandleState needs to switch the read mode.
constexpr DWORD kPipeDesiredAccess =
    FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
// The server only needs to know who we are, never to act as us.
constexpr DWORD kPipeFlagsAndAttributes =
    SECURITY_IDENTIFICATION | SECURITY_SQOS_PRESENT;
constexpr DWORD kPipeMode = PIPE_READMODE_MESSAGE;

std::atomic<DWORD> g_dump_wait_for_testing(0);
std::atomic<DWORD> g_pipe_busy_wait_for_testing(0);

}  // namespace

// static
void CrashGenerationClient::SetDumpWaitForTesting(DWORD milliseconds) {
  g_dump_wait_for_testing.store(milliseconds);
}

// static
void CrashGenerationClient::SetPipeBusyWaitForTesting(DWORD milliseconds) {
  g_pipe_busy_wait_for_testing.store(milliseconds);
}

CrashGenerationClient::CrashGenerationClient(
    const std::wstring& pipe_name,
    uint32_t dump_type,
    const CustomClientInfo* custom_info)
    : pipe_name_(pipe_name), dump_type_(dump_type) {
  if (custom_info)
    custom_info_ = *custom_info;
}

CrashGenerationClient::CrashGenerationClient(
    HANDLE pipe, uint32_t dump_type, const CustomClientInfo* custom_info)
    : pipe_handle_(pipe), dump_type_(dump_type) {
  if (custom_info)
    custom_info_ = *custom_info;
}

CrashGenerationClient::~CrashGenerationClient() {
  if (dump_request_event_)
    CloseHandle(dump_request_event_);
  if (dump_generated_event_)
    CloseHandle(dump_generated_event_);
  if (server_alive_mutex_)
    CloseHandle(server_alive_mutex_);
}

bool CrashGenerationClient::IsRegistered() const {
  return dump_request_event_ != nullptr;
}

bool CrashGenerationClient::Register() {
  if (IsRegistered())
    return true;
  HANDLE pipe = ConnectToServer();
  if (!pipe)
    return false;
  bool registered = RegisterClient(pipe);
  CloseHandle(pipe);
  return registered;
}

HANDLE CrashGenerationClient::ConnectToServer() {
  HANDLE pipe = nullptr;
  if (pipe_handle_) {
    // A handed-in pipe serves exactly one registration.
    pipe = pipe_handle_;
    pipe_handle_ = nullptr;
  } else {
    for (int attempt = 0; attempt < 2; ++attempt) {
      HANDLE handle =
          CreateFileW(pipe_name_.c_str(), kPipeDesiredAccess, 0, nullptr,
                      OPEN_EXISTING, kPipeFlagsAndAttributes, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        pipe = handle;
        break;
      }
      // The single pipe instance is serving another client: wait once for
      // it to come free, then give up.
      if (GetLastError() != ERROR_PIPE_BUSY || attempt == 1)
        return nullptr;
      const DWORD widened = g_pipe_busy_wait_for_testing.load();
      if (!WaitNamedPipeW(pipe_name_.c_str(),
                          widened ? widened : kPipeBusyWaitMs)) {
        return nullptr;
      }
    }
  }

  DWORD mode = kPipeMode;
  if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    CloseHandle(pipe);
    return nullptr;
  }
  return pipe;
}

bool CrashGenerationClient::RegisterClient(HANDLE pipe) {
  ProtocolMessage request = {};
  request.tag = MESSAGE_TAG_REGISTRATION_REQUEST;
  request.id = GetCurrentProcessId();
  request.dump_type = dump_type_;
  request.thread_id = &thread_id_;
  request.exception_pointers = &exception_pointers_;
  request.assert_info = &assert_info_;
  request.custom_client_info = custom_info_;

  ProtocolMessage reply = {};
  DWORD bytes_read = 0;
  if (!TransactNamedPipe(pipe, &request, sizeof(request), &reply, sizeof(reply),
                         &bytes_read, nullptr)) {
    return false;
  }
  if (bytes_read != sizeof(reply) ||
      reply.tag != MESSAGE_TAG_REGISTRATION_RESPONSE) {
    return false;
  }
  if (reply.id == 0 || !reply.dump_request_handle ||
      !reply.dump_generated_handle || !reply.server_alive_handle) {
    return false;
  }

  ProtocolMessage ack = {};
  ack.tag = MESSAGE_TAG_REGISTRATION_ACK;
  DWORD bytes_written = 0;
  if (!WriteFile(pipe, &ack, sizeof(ack), &bytes_written, nullptr))
    return false;

  dump_request_event_ = reply.dump_request_handle;
  dump_generated_event_ = reply.dump_generated_handle;
  server_alive_mutex_ = reply.server_alive_handle;
  server_process_id_ = reply.id;
  return true;
}

bool CrashGenerationClient::RequestDump(EXCEPTION_POINTERS* exception_pointers,
                                        const AssertionInfo* assert_info) {
  if (!IsRegistered())
    return false;

  exception_pointers_ = exception_pointers;
  thread_id_ = GetCurrentThreadId();
  if (assert_info)
    memcpy(&assert_info_, assert_info, sizeof(assert_info_));
  else
    memset(&assert_info_, 0, sizeof(assert_info_));

  if (!ResetEvent(dump_generated_event_) || !SetEvent(dump_request_event_))
    return false;

  // The mutex answers only when the server dies (abandoned) or shuts down
  // (released): either way no dump is coming.
  HANDLE wait_handles[2] = {dump_generated_event_, server_alive_mutex_};
  const DWORD widened = g_dump_wait_for_testing.load();
  DWORD result = WaitForMultipleObjects(2, wait_handles, FALSE,
                                        widened ? widened : kDumpWaitMs);
  return result == WAIT_OBJECT_0;
}

}  // namespace crash_reporter
