#include "crash/crash_generation/crash_generation_server.h"

#include <dbghelp.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "base/logging.h"
#include "crash/crash_generation/client_info.h"
#include "crash/crash_generation/minidump_generator.h"

namespace crash_reporter {

namespace {

constexpr DWORD kPipeOpenMode =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
constexpr DWORD kPipeMode =
    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
constexpr DWORD kPipeBufferSize = 64;
// One instance: clients are served one after the other.
constexpr DWORD kPipeMaxInstances = 1;

// The rights a client gets on the handles it is given: it sets the request
// event, resets and waits on the done event, and only waits on the mutex.
constexpr DWORD kDumpRequestRights = EVENT_MODIFY_STATE;
constexpr DWORD kDumpGeneratedRights = SYNCHRONIZE | EVENT_MODIFY_STATE;
constexpr DWORD kServerAliveRights = SYNCHRONIZE;

// Pipe events are handled one at a time in the wait thread; dump requests
// may take long (the dump is written there).
constexpr ULONG kPipeWaitFlags = WT_EXECUTEINWAITTHREAD;
constexpr ULONG kDumpRequestWaitFlags =
    WT_EXECUTEINWAITTHREAD | WT_EXECUTELONGFUNCTION;
constexpr ULONG kProcessExitWaitFlags = WT_EXECUTEONLYONCE;

// Takes back a handle made in |process| by DuplicateHandle.
void CloseHandleInProcess(HANDLE process, HANDLE handle) {
  if (handle) {
    DuplicateHandle(process, handle, nullptr, nullptr, 0, FALSE,
                    DUPLICATE_CLOSE_SOURCE);
  }
}

}  // namespace

CrashGenerationServer::CrashGenerationServer(
    const std::wstring& pipe_name,
    SECURITY_ATTRIBUTES* pipe_sec_attrs,
    OnClientConnectedCallback connect_callback,
    void* connect_context,
    OnClientDumpRequestCallback dump_callback,
    void* dump_context,
    OnClientExitedCallback exit_callback,
    void* exit_context,
    OnClientUploadRequestCallback upload_request_callback,
    void* upload_context,
    bool generate_dumps,
    const std::wstring* dump_folder)
    : pipe_name_(pipe_name),
      pipe_sec_attrs_(pipe_sec_attrs),
      connect_callback_(connect_callback),
      connect_context_(connect_context),
      dump_callback_(dump_callback),
      dump_context_(dump_context),
      exit_callback_(exit_callback),
      exit_context_(exit_context),
      upload_request_callback_(upload_request_callback),
      upload_context_(upload_context),
      generate_dumps_(generate_dumps) {
  InitializeCriticalSection(&sync_);
  if (dump_folder)
    dump_folder_ = *dump_folder;
}

CrashGenerationServer::~CrashGenerationServer() {
  HANDLE pipe, pipe_wait, event;
  EnterCriticalSection(&sync_);
  shutting_down_ = true;
  // Stable from here on: the error state lets go of them only while the
  // server is not shutting down.
  pipe = pipe_;
  pipe_wait = pipe_wait_handle_;
  event = overlapped_.hEvent;
  LeaveCriticalSection(&sync_);

  if (pipe)
    DisconnectNamedPipe(pipe);
  // A dispatcher run now only notes that the server stops; without it a
  // pending connect would leave the state unchanged until the polls run out.
  if (pipe_wait && event)
    SetEvent(event);
  for (int i = 0; i < kShutdownPolls && server_state_ != IPC_SERVER_STATE_ERROR;
       ++i) {
    Sleep(kShutdownPollMs);
  }

  if (pipe_wait)
    UnregisterWaitEx(pipe_wait, INVALID_HANDLE_VALUE);
  if (pipe) {
    // The overlapped record and the buffer are ours: no I/O may still write
    // into them once this object is gone.
    CancelIoEx(pipe, nullptr);
    if (event && overlapped_.Internal == STATUS_PENDING)
      WaitForSingleObject(event, kShutdownPolls * kShutdownPollMs);
    CloseHandle(pipe);
  }

  // Exit callbacks no longer change the list while shutting down.
  std::list<ClientInfo*> clients;
  EnterCriticalSection(&sync_);
  clients.swap(clients_);
  LeaveCriticalSection(&sync_);
  for (ClientInfo* client : clients) {
    if (client->process_exit_wait_handle())
      UnregisterWaitEx(client->process_exit_wait_handle(),
                       INVALID_HANDLE_VALUE);
    // An exit callback that ran lets go of the request wait itself.
    if (client->dump_request_wait_handle()) {
      UnregisterWaitEx(client->dump_request_wait_handle(),
                       INVALID_HANDLE_VALUE);
    }
    delete client;
  }

  if (server_alive_handle_) {
    // Clients waiting for a dump stop waiting.
    ReleaseMutex(server_alive_handle_);
    CloseHandle(server_alive_handle_);
  }
  if (event)
    CloseHandle(event);
  DeleteCriticalSection(&sync_);
}

bool CrashGenerationServer::Start() {
  if (server_state_ != IPC_SERVER_STATE_UNINITIALIZED)
    return false;
  server_state_ = IPC_SERVER_STATE_INITIAL;

  server_alive_handle_ = CreateMutexW(nullptr, TRUE, nullptr);
  if (!server_alive_handle_)
    return false;
  overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!overlapped_.hEvent)
    return false;
  if (!RegisterWaitForSingleObject(&pipe_wait_handle_, overlapped_.hEvent,
                                   OnPipeConnected, this, INFINITE,
                                   kPipeWaitFlags)) {
    pipe_wait_handle_ = nullptr;
    return false;
  }
  HANDLE pipe = CreateNamedPipeW(pipe_name_.c_str(), kPipeOpenMode, kPipeMode,
                                 kPipeMaxInstances, kPipeBufferSize,
                                 kPipeBufferSize, 0, pipe_sec_attrs_);
  if (pipe == INVALID_HANDLE_VALUE) {
    PLOG(WARNING) << "Cannot create the crash reporter's pipe";
    return false;
  }
  EnterCriticalSection(&sync_);
  pipe_ = pipe;
  LeaveCriticalSection(&sync_);

  // The dispatcher takes it from here, in the wait thread.
  if (!SetEvent(overlapped_.hEvent)) {
    server_state_ = IPC_SERVER_STATE_ERROR;
    return false;
  }
  return true;
}

size_t CrashGenerationServer::ClientCountForTesting() {
  EnterCriticalSection(&sync_);
  size_t count = clients_.size();
  LeaveCriticalSection(&sync_);
  return count;
}

bool CrashGenerationServer::IsShuttingDown() {
  EnterCriticalSection(&sync_);
  bool shutting_down = shutting_down_;
  LeaveCriticalSection(&sync_);
  return shutting_down;
}

void CrashGenerationServer::EnterErrorState() {
  SetEvent(overlapped_.hEvent);
  server_state_ = IPC_SERVER_STATE_ERROR;
}

void CrashGenerationServer::EnterStateWhenSignaled(IPCServerState state) {
  server_state_ = state;
}

void CrashGenerationServer::EnterStateImmediately(IPCServerState state) {
  server_state_ = state;
  if (!SetEvent(overlapped_.hEvent))
    server_state_ = IPC_SERVER_STATE_ERROR;
}

// static
void CALLBACK CrashGenerationServer::OnPipeConnected(void* context, BOOLEAN) {
  static_cast<CrashGenerationServer*>(context)->HandleConnectionRequest();
}

void CrashGenerationServer::HandleConnectionRequest() {
  if (IsShuttingDown()) {
    server_state_ = IPC_SERVER_STATE_ERROR;
    ResetEvent(overlapped_.hEvent);
    return;
  }
  switch (server_state_) {
    case IPC_SERVER_STATE_ERROR:
      HandleErrorState();
      break;
    case IPC_SERVER_STATE_INITIAL:
      HandleInitialState();
      break;
    case IPC_SERVER_STATE_CONNECTING:
      HandleConnectingState();
      break;
    case IPC_SERVER_STATE_CONNECTED:
      HandleConnectedState();
      break;
    case IPC_SERVER_STATE_READING:
      HandleReadingState();
      break;
    case IPC_SERVER_STATE_READ_DONE:
      HandleReadDoneState();
      break;
    case IPC_SERVER_STATE_WRITING:
      HandleWritingState();
      break;
    case IPC_SERVER_STATE_WRITE_DONE:
      HandleWriteDoneState();
      break;
    case IPC_SERVER_STATE_READING_ACK:
      HandleReadingAckState();
      break;
    case IPC_SERVER_STATE_DISCONNECTING:
      HandleDisconnectingState();
      break;
    default:
      server_state_ = IPC_SERVER_STATE_ERROR;
      break;
  }
}

void CrashGenerationServer::HandleErrorState() {
  EnterCriticalSection(&sync_);
  // While shutting down, the shutdown owns these.
  if (!shutting_down_) {
    if (pipe_wait_handle_) {
      // This callback belongs to the wait: never wait for it here.
      UnregisterWait(pipe_wait_handle_);
      pipe_wait_handle_ = nullptr;
    }
    if (pipe_) {
      CloseHandle(pipe_);
      pipe_ = nullptr;
    }
    if (overlapped_.hEvent) {
      CloseHandle(overlapped_.hEvent);
      overlapped_.hEvent = nullptr;
    }
  }
  LeaveCriticalSection(&sync_);
}

void CrashGenerationServer::HandleInitialState() {
  if (!ResetEvent(overlapped_.hEvent)) {
    EnterErrorState();
    return;
  }
  // An overlapped connect never succeeds at once.
  if (ConnectNamedPipe(pipe_, &overlapped_)) {
    EnterErrorState();
    return;
  }
  switch (GetLastError()) {
    case ERROR_IO_PENDING:
      EnterStateWhenSignaled(IPC_SERVER_STATE_CONNECTING);
      break;
    case ERROR_PIPE_CONNECTED:
      // The client came between the pipe's creation and the connect.
      EnterStateImmediately(IPC_SERVER_STATE_CONNECTED);
      break;
    default:
      EnterErrorState();
      break;
  }
}

void CrashGenerationServer::HandleConnectingState() {
  DWORD bytes = 0;
  if (GetOverlappedResult(pipe_, &overlapped_, &bytes, FALSE)) {
    EnterStateImmediately(IPC_SERVER_STATE_CONNECTED);
    return;
  }
  if (GetLastError() != ERROR_IO_INCOMPLETE)
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
}

void CrashGenerationServer::HandleConnectedState() {
  memset(&msg_, 0, sizeof(msg_));
  DWORD bytes = 0;
  if (ReadFile(pipe_, &msg_, sizeof(msg_), &bytes, &overlapped_) ||
      GetLastError() == ERROR_IO_PENDING) {
    EnterStateWhenSignaled(IPC_SERVER_STATE_READING);
  } else {
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
  }
}

void CrashGenerationServer::HandleReadingState() {
  DWORD bytes = 0;
  if (GetOverlappedResult(pipe_, &overlapped_, &bytes, FALSE) &&
      bytes == sizeof(msg_)) {
    EnterStateImmediately(IPC_SERVER_STATE_READ_DONE);
  } else {
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
  }
}

bool CrashGenerationServer::IsGenuineClient(DWORD declared_pid) {
  ULONG pipe_client_pid = 0;
  if (!GetNamedPipeClientProcessId(pipe_, &pipe_client_pid)) {
    PLOG(WARNING) << "Crash registration refused: the pipe's client is unknown";
    return false;
  }
  if (pipe_client_pid != declared_pid) {
    // Any process of the session may open the pipe; it must not get us to
    // open, read and dump another process on its behalf.
    LOG(WARNING) << "Crash registration refused: process " << pipe_client_pid
                 << " registered as process " << declared_pid;
    return false;
  }
  return true;
}

void CrashGenerationServer::HandleReadDoneState() {
  if (msg_.tag == MESSAGE_TAG_UPLOAD_REQUEST) {
    if (upload_request_callback_)
      upload_request_callback_(upload_context_, msg_.id);
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
    return;
  }
  if (msg_.tag != MESSAGE_TAG_REGISTRATION_REQUEST || !msg_.id ||
      !msg_.thread_id || !msg_.exception_pointers || !msg_.assert_info ||
      !IsGenuineClient(msg_.id)) {
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
    return;
  }

  std::unique_ptr<ClientInfo> client_info(new ClientInfo(
      this, msg_.id, msg_.dump_type, msg_.thread_id, msg_.exception_pointers,
      msg_.assert_info, msg_.custom_client_info));
  // Registered before the reply goes out: a client that has its handles may
  // ask for a dump at once.
  if (!client_info->Initialize() || !AddClient(client_info.get())) {
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
    return;
  }
  if (!RespondToClient(client_info.get())) {
    RemoveClient(client_info.get());
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
    return;
  }
  // The list owns it now; we keep it to tell the connect callback.
  client_info_ = client_info.release();
  EnterStateWhenSignaled(IPC_SERVER_STATE_WRITING);
}

void CrashGenerationServer::HandleWritingState() {
  DWORD bytes = 0;
  if (GetOverlappedResult(pipe_, &overlapped_, &bytes, FALSE))
    EnterStateImmediately(IPC_SERVER_STATE_WRITE_DONE);
  else
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
}

void CrashGenerationServer::HandleWriteDoneState() {
  DWORD bytes = 0;
  if (ReadFile(pipe_, &msg_, sizeof(msg_), &bytes, &overlapped_)) {
    EnterStateImmediately(IPC_SERVER_STATE_READING_ACK);
  } else if (GetLastError() == ERROR_IO_PENDING) {
    EnterStateWhenSignaled(IPC_SERVER_STATE_READING_ACK);
  } else {
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
  }
}

void CrashGenerationServer::HandleReadingAckState() {
  DWORD bytes = 0;
  if (!GetOverlappedResult(pipe_, &overlapped_, &bytes, FALSE) ||
      !connect_callback_) {
    EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
    return;
  }
  EnterCriticalSection(&sync_);
  // The client may have exited (and been freed) since it registered.
  if (std::find(clients_.begin(), clients_.end(), client_info_) !=
      clients_.end()) {
    connect_callback_(connect_context_, client_info_);
  }
  LeaveCriticalSection(&sync_);
  EnterStateImmediately(IPC_SERVER_STATE_DISCONNECTING);
}

void CrashGenerationServer::HandleDisconnectingState() {
  client_info_ = nullptr;
  overlapped_.Internal = 0;
  overlapped_.InternalHigh = 0;
  overlapped_.Offset = 0;
  overlapped_.OffsetHigh = 0;
  if (!ResetEvent(overlapped_.hEvent) || !DisconnectNamedPipe(pipe_)) {
    EnterErrorState();
    return;
  }
  if (IsShuttingDown())
    return;
  EnterStateImmediately(IPC_SERVER_STATE_INITIAL);
}

bool CrashGenerationServer::RespondToClient(ClientInfo* client_info) {
  HANDLE client_process = client_info->process_handle();
  // The response goes out of |msg_|: the write may still be pending when
  // this returns.
  memset(&msg_, 0, sizeof(msg_));
  msg_.tag = MESSAGE_TAG_REGISTRATION_RESPONSE;
  msg_.id = GetCurrentProcessId();

  bool duplicated =
      DuplicateHandle(GetCurrentProcess(), client_info->dump_requested_handle(),
                      client_process, &msg_.dump_request_handle,
                      kDumpRequestRights, FALSE, 0) &&
      DuplicateHandle(GetCurrentProcess(), client_info->dump_generated_handle(),
                      client_process, &msg_.dump_generated_handle,
                      kDumpGeneratedRights, FALSE, 0) &&
      DuplicateHandle(GetCurrentProcess(), server_alive_handle_, client_process,
                      &msg_.server_alive_handle, kServerAliveRights, FALSE, 0);
  bool written = false;
  if (duplicated) {
    DWORD bytes = 0;
    written = WriteFile(pipe_, &msg_, sizeof(msg_), &bytes, &overlapped_) ||
              GetLastError() == ERROR_IO_PENDING;
  }
  if (!written) {
    CloseHandleInProcess(client_process, msg_.dump_request_handle);
    CloseHandleInProcess(client_process, msg_.dump_generated_handle);
    CloseHandleInProcess(client_process, msg_.server_alive_handle);
  }
  return written;
}

bool CrashGenerationServer::AddClient(ClientInfo* client_info) {
  // Under the lock, so that an exit callback of a process that ends at once
  // finds the client in the list and its wait handle set.
  EnterCriticalSection(&sync_);
  if (shutting_down_) {
    LeaveCriticalSection(&sync_);
    return false;
  }
  HANDLE request_wait = nullptr;
  if (!RegisterWaitForSingleObject(
          &request_wait, client_info->dump_requested_handle(), OnDumpRequest,
          client_info, INFINITE, kDumpRequestWaitFlags)) {
    LeaveCriticalSection(&sync_);
    return false;
  }
  client_info->set_dump_request_wait_handle(request_wait);
  HANDLE exit_wait = nullptr;
  if (!RegisterWaitForSingleObject(&exit_wait, client_info->process_handle(),
                                   OnClientEnd, client_info, INFINITE,
                                   kProcessExitWaitFlags)) {
    LeaveCriticalSection(&sync_);
    UnregisterWaitEx(request_wait, INVALID_HANDLE_VALUE);
    client_info->set_dump_request_wait_handle(nullptr);
    return false;
  }
  client_info->set_process_exit_wait_handle(exit_wait);
  clients_.push_back(client_info);
  LeaveCriticalSection(&sync_);
  return true;
}

void CrashGenerationServer::RemoveClient(ClientInfo* client_info) {
  // Out of the list first: an exit callback that runs from now on leaves the
  // client to us.
  EnterCriticalSection(&sync_);
  clients_.remove(client_info);
  LeaveCriticalSection(&sync_);
  // Both wait for a callback that is running.
  UnregisterWaitEx(client_info->process_exit_wait_handle(),
                   INVALID_HANDLE_VALUE);
  client_info->set_process_exit_wait_handle(nullptr);
  if (client_info->dump_request_wait_handle()) {
    UnregisterWaitEx(client_info->dump_request_wait_handle(),
                     INVALID_HANDLE_VALUE);
    client_info->set_dump_request_wait_handle(nullptr);
  }
}

// static
void CALLBACK CrashGenerationServer::OnDumpRequest(void* context, BOOLEAN) {
  ClientInfo* client_info = static_cast<ClientInfo*>(context);
  client_info->server()->HandleDumpRequest(client_info);
}

void CrashGenerationServer::HandleDumpRequest(ClientInfo* client_info) {
  client_info->PopulateCustomInfo();

  std::wstring dump_path;
  bool dumped = true;
  if (generate_dumps_)
    dumped = GenerateDump(*client_info, &dump_path);
  if (dumped && dump_callback_) {
    dump_callback_(dump_context_, client_info,
                   dump_path.empty() ? nullptr : &dump_path);
  }
  // Before the client hears of it: the client's next request may follow at
  // once and must not be reset away.
  ResetEvent(client_info->dump_requested_handle());
  // Also after a failed dump: the client must stop waiting.
  SetEvent(client_info->dump_generated_handle());
}

bool CrashGenerationServer::GenerateDump(const ClientInfo& client,
                                         std::wstring* dump_path) {
  EXCEPTION_POINTERS* client_pointers = nullptr;
  DWORD client_thread_id = 0;
  if (!client.GetClientExceptionPointers(&client_pointers) ||
      !client.GetClientThreadId(&client_thread_id)) {
    return false;
  }
  MinidumpGenerator generator(
      dump_folder_, client.process_handle(), client.pid(), client_thread_id,
      GetCurrentThreadId(), client_pointers, client.assert_info_address(),
      client.dump_type(), true);
  if (!generator.GenerateDumpFile(dump_path))
    return false;
  if (client.dump_type() & MiniDumpWithFullMemory) {
    std::wstring full_dump_path;
    if (!generator.GenerateFullDumpFile(&full_dump_path))
      return false;
  }
  return generator.WriteMinidump();
}

// static
void CALLBACK CrashGenerationServer::OnClientEnd(void* context, BOOLEAN) {
  ClientInfo* client_info = static_cast<ClientInfo*>(context);
  client_info->server()->HandleClientProcessExit(client_info);
}

void CrashGenerationServer::HandleClientProcessExit(ClientInfo* client_info) {
  // No dump request of this client may run after it is freed.
  UnregisterWaitEx(client_info->dump_request_wait_handle(),
                   INVALID_HANDLE_VALUE);
  client_info->set_dump_request_wait_handle(nullptr);

  if (exit_callback_)
    exit_callback_(exit_context_, client_info);

  EnterCriticalSection(&sync_);
  auto it = std::find(clients_.begin(), clients_.end(), client_info);
  if (shutting_down_ || it == clients_.end()) {
    // The shutdown, or a registration whose reply failed, frees it.
    LeaveCriticalSection(&sync_);
    return;
  }
  clients_.erase(it);
  LeaveCriticalSection(&sync_);

  // This callback belongs to the wait: never wait for it here.
  UnregisterWait(client_info->process_exit_wait_handle());
  delete client_info;
}

}  // namespace crash_reporter
