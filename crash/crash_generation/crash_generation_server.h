#ifndef CRASH_CRASH_GENERATION_CRASH_GENERATION_SERVER_H_
#define CRASH_CRASH_GENERATION_CRASH_GENERATION_SERVER_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <list>
#include <string>

#include "base/macros.h"
#include "crash/crash_generation/crash_generation_protocol.h"

namespace crash_reporter {

class ClientInfo;

// The crash-reporter's side of out-of-process dumps. Serves one named pipe,
// one client at a time: registers each process that connects, hands it the
// events of its dump requests, and answers a dump request by calling the
// owner's dump callback (after writing the dump itself when asked to). All
// work runs in thread-pool callbacks; the callbacks of the owner run there.
class CrashGenerationServer {
 public:
  using OnClientConnectedCallback = void (*)(void* context,
                                             const ClientInfo* client_info);
  // |dump_path| is null when the server wrote no dump.
  using OnClientDumpRequestCallback = void (*)(void* context,
                                               const ClientInfo* client_info,
                                               const std::wstring* dump_path);
  using OnClientExitedCallback = void (*)(void* context,
                                          const ClientInfo* client_info);
  using OnClientUploadRequestCallback = void (*)(void* context, DWORD crash_id);

  // Every callback may be null. |pipe_sec_attrs| is borrowed and may be
  // null. |dump_folder| is used only when |generate_dumps|.
  CrashGenerationServer(const std::wstring& pipe_name,
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
                        const std::wstring* dump_folder);
  // Stops serving, waits for running callbacks and frees every client.
  ~CrashGenerationServer();

  // True when the server listens on its pipe.
  bool Start();

  // The number of registered clients.
  size_t ClientCountForTesting();

  // Milliseconds between two looks at the state while shutting down, and how
  // many looks at most.
  static constexpr DWORD kShutdownPollMs = 10;
  static constexpr int kShutdownPolls = 100;

 private:
  enum IPCServerState {
    IPC_SERVER_STATE_UNINITIALIZED = 0,
    IPC_SERVER_STATE_ERROR = 1,
    IPC_SERVER_STATE_INITIAL = 2,
    IPC_SERVER_STATE_CONNECTING = 3,
    IPC_SERVER_STATE_CONNECTED = 4,
    IPC_SERVER_STATE_READING = 5,
    IPC_SERVER_STATE_READ_DONE = 6,
    IPC_SERVER_STATE_WRITING = 7,
    IPC_SERVER_STATE_WRITE_DONE = 8,
    IPC_SERVER_STATE_READING_ACK = 9,
    IPC_SERVER_STATE_DISCONNECTING = 10,
  };

  static void CALLBACK OnPipeConnected(void* context, BOOLEAN);
  static void CALLBACK OnDumpRequest(void* context, BOOLEAN);
  static void CALLBACK OnClientEnd(void* context, BOOLEAN);

  void HandleConnectionRequest();
  void HandleErrorState();
  void HandleInitialState();
  void HandleConnectingState();
  void HandleConnectedState();
  void HandleReadingState();
  void HandleReadDoneState();
  void HandleWritingState();
  void HandleWriteDoneState();
  void HandleReadingAckState();
  void HandleDisconnectingState();

  void EnterErrorState();
  void EnterStateWhenSignaled(IPCServerState state);
  void EnterStateImmediately(IPCServerState state);

  bool IsShuttingDown();
  // True when the pipe's client is the process the request says it is.
  bool IsGenuineClient(DWORD declared_pid);
  bool RespondToClient(ClientInfo* client_info);
  bool AddClient(ClientInfo* client_info);
  // Takes back an AddClient; the caller still owns |client_info|.
  void RemoveClient(ClientInfo* client_info);
  void HandleDumpRequest(ClientInfo* client_info);
  void HandleClientProcessExit(ClientInfo* client_info);
  bool GenerateDump(const ClientInfo& client, std::wstring* dump_path);

  CRITICAL_SECTION sync_;
  std::list<ClientInfo*> clients_;
  std::wstring pipe_name_;
  SECURITY_ATTRIBUTES* pipe_sec_attrs_;
  HANDLE pipe_ = nullptr;
  HANDLE pipe_wait_handle_ = nullptr;
  HANDLE server_alive_handle_ = nullptr;
  OnClientConnectedCallback connect_callback_;
  void* connect_context_;
  OnClientDumpRequestCallback dump_callback_;
  void* dump_context_;
  OnClientExitedCallback exit_callback_;
  void* exit_context_;
  OnClientUploadRequestCallback upload_request_callback_;
  void* upload_context_;
  bool generate_dumps_;
  std::wstring dump_folder_;
  volatile LONG server_state_ = IPC_SERVER_STATE_UNINITIALIZED;
  bool shutting_down_ = false;
  OVERLAPPED overlapped_ = {};
  ProtocolMessage msg_ = {};
  ClientInfo* client_info_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(CrashGenerationServer);
};

}  // namespace crash_reporter

#endif  // CRASH_CRASH_GENERATION_CRASH_GENERATION_SERVER_H_
