#ifndef CRASH_HANDLER_EXCEPTION_HANDLER_H_
#define CRASH_HANDLER_EXCEPTION_HANDLER_H_

#include <windows.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "base/macros.h"
#include "crash/crash_generation/crash_generation_protocol.h"
#include "crash/crash_generation/minidump_generator.h"
#include "crash/handler/dump_memory.h"

namespace crash_reporter {

class CrashGenerationClient;

// Turns the fatal events of this process (an unhandled structured
// exception, an invalid parameter reported by the C runtime, a pure virtual
// call) into minidumps. When it could register with the crash-reporter's
// server the dump is written over there; otherwise it writes the dump
// itself, on a thread of its own, so that the crashing thread's stack is
// not the one that runs DbgHelp.
//
// Handlers stack: the newest one answers first, and while it handles an
// event the handlers that were installed before it are the ones in place,
// so a fault inside the handling goes to them.
class ExceptionHandler {
 public:
  enum HandlerType {
    HANDLER_NONE = 0,
    HANDLER_EXCEPTION = 1 << 0,          // SetUnhandledExceptionFilter
    HANDLER_INVALID_PARAMETER = 1 << 1,  // _set_invalid_parameter_handler
    HANDLER_PURECALL = 1 << 2,           // _set_purecall_handler
    HANDLER_ALL =
        HANDLER_EXCEPTION | HANDLER_INVALID_PARAMETER | HANDLER_PURECALL,
  };

  // Asked before a dump is written; false means no dump, and the event goes
  // on to whoever handled it before. |exinfo| and |assertion| may be null.
  using FilterCallback = bool (*)(void* context,
                                  EXCEPTION_POINTERS* exinfo,
                                  AssertionInfo* assertion);

  // Told after a dump attempt; its answer becomes the attempt's result.
  // |dump_folder| and |dump_id| name the file of an in-process dump.
  using MinidumpCallback = bool (*)(const wchar_t* dump_folder,
                                    const wchar_t* dump_id,
                                    void* context,
                                    EXCEPTION_POINTERS* exinfo,
                                    AssertionInfo* assertion,
                                    bool succeeded);

  // |pipe_name| (may be null) names the crash-reporter's pipe; without it,
  // or when registering there fails, dumps are written in process into
  // |dump_folder|. |custom_info| (may be null) travels with out-of-process
  // dumps. |handler_types| is a set of HandlerType bits.
  ExceptionHandler(const std::wstring& dump_folder,
                   FilterCallback filter,
                   MinidumpCallback callback,
                   void* callback_context,
                   int handler_types,
                   uint32_t dump_type,
                   const wchar_t* pipe_name,
                   const CustomClientInfo* custom_info);
  // The same with a ready client (made from a pipe name or an open pipe
  // handle); null means in process.
  ExceptionHandler(const std::wstring& dump_folder,
                   FilterCallback filter,
                   MinidumpCallback callback,
                   void* callback_context,
                   int handler_types,
                   uint32_t dump_type,
                   std::unique_ptr<CrashGenerationClient> client);
  ~ExceptionHandler();

  // Writes a dump for |exinfo| (may be null) now, at the caller's request.
  // True when the dump (or the minidump callback) succeeded. Every dump
  // written in process this way gets a file name of its own.
  bool WriteMinidumpForException(EXCEPTION_POINTERS* exinfo);

  // Breakpoints, single steps and debugger output are passed on unless
  // this is set.
  void set_handle_debug_exceptions(bool handle) {
    handle_debug_exceptions_ = handle;
  }
  // Invalid-handle exceptions are continued without a dump when this is
  // set.
  void set_consume_invalid_handle_exceptions(bool consume) {
    consume_invalid_handle_exceptions_ = consume;
  }

  bool IsOutOfProcess() const { return client_ != nullptr; }

  // The name the next in-process dump will get, without folder and ".dmp".
  const std::wstring& next_dump_id() const { return next_dump_id_; }

 private:
  class AutoExceptionHandler;

  void Initialize(const std::wstring& dump_folder,
                  FilterCallback filter,
                  MinidumpCallback callback,
                  void* callback_context,
                  int handler_types,
                  uint32_t dump_type,
                  std::unique_ptr<CrashGenerationClient> client);

  // The three entry points that the system and the runtime call.
  static LONG WINAPI HandleException(EXCEPTION_POINTERS* exinfo);
  static void __cdecl HandleInvalidParameter(const wchar_t* expression,
                                             const wchar_t* function,
                                             const wchar_t* file,
                                             unsigned int line,
                                             uintptr_t reserved);
  static void __cdecl HandlePureVirtualCall();

  // The dump for an event of the current thread: out of process, or handed
  // to the handler thread.
  bool WriteDumpForEvent(EXCEPTION_POINTERS* exinfo, AssertionInfo* assertion);
  // The dump of an invalid parameter or pure call: a record of |code| with
  // |assertion|'s texts and |line| as its parameters.
  bool WriteAssertionDump(DWORD code, AssertionInfo* assertion, ULONG_PTR line);
  bool WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* exinfo,
                                    AssertionInfo* assertion);
  static DWORD WINAPI HandlerThreadMain(void* parameter);
  // Filter, dump, minidump callback.
  bool WriteMinidumpWithException(DWORD requesting_thread_id,
                                  EXCEPTION_POINTERS* exinfo,
                                  AssertionInfo* assertion);
  bool WriteInProcessDump(DWORD requesting_thread_id,
                          EXCEPTION_POINTERS* exinfo,
                          AssertionInfo* assertion);
  void UpdateNextId();

  FilterCallback filter_ = nullptr;
  MinidumpCallback callback_ = nullptr;
  void* callback_context_ = nullptr;
  std::unique_ptr<CrashGenerationClient> client_;

  std::wstring dump_folder_;
  std::wstring next_dump_id_;
  std::wstring next_dump_path_;

  DumpLibraries libraries_;
  DumpLibraries::MiniDumpWriteDumpFunction minidump_write_dump_ = nullptr;
  uint32_t dump_type_ = 0;

  int handler_types_ = HANDLER_NONE;
  LPTOP_LEVEL_EXCEPTION_FILTER previous_filter_ = nullptr;
  _invalid_parameter_handler previous_iph_ = nullptr;
  _purecall_handler previous_pch_ = nullptr;

  HANDLE handler_thread_ = nullptr;
  volatile bool is_shutdown_ = false;
  CRITICAL_SECTION handler_critical_section_;
  HANDLE handler_start_semaphore_ = nullptr;
  HANDLE handler_finish_semaphore_ = nullptr;

  // The request for the handler thread and its answer.
  DWORD requesting_thread_id_ = 0;
  EXCEPTION_POINTERS* exception_info_ = nullptr;
  AssertionInfo* assertion_ = nullptr;
  bool handler_return_value_ = false;

  bool handle_debug_exceptions_ = false;
  bool consume_invalid_handle_exceptions_ = false;

  // The first entry is the memory around the faulting instruction.
  AppMemoryList app_memory_info_;

  DISALLOW_COPY_AND_ASSIGN(ExceptionHandler);
};

}  // namespace crash_reporter

#endif  // CRASH_HANDLER_EXCEPTION_HANDLER_H_
