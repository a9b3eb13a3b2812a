#include "crash/handler/exception_handler.h"

#include <stdio.h>

#include <algorithm>

#include "crash/crash_generation/crash_generation_client.h"

namespace crash_reporter {

namespace {

// Exception codes this handler tells apart.
constexpr DWORD kDebugPrintCode = 0x40010006;
constexpr DWORD kDebugPrintWideCode = 0x4001000A;
constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;
// What the runtime ends a process with after an invalid parameter that no
// handler took.
constexpr UINT kRuntimeInvalidParameterExitCode = 0xC0000417;

constexpr DWORD kHandlerThreadStackSize = 65536;
// How long destruction waits for the handler thread to end.
constexpr DWORD kHandlerThreadExitWaitMs = 60000;

// The handlers that registered, oldest first, and how deep the current
// handling has gone into them. Guarded by StackLock().
std::vector<ExceptionHandler*>* g_handler_stack = nullptr;
size_t g_handler_stack_index = 0;

// Made once and kept for the life of the process: a handler may be made
// while the last one is being destroyed on another thread, and a lock that
// comes and goes with the instances would race with itself.
CRITICAL_SECTION* StackLock() {
  static CRITICAL_SECTION* const lock = [] {
    auto* section = new CRITICAL_SECTION;
    ::InitializeCriticalSection(section);
    return section;
  }();
  return lock;
}

// Set on the handler threads. A fault there happens while the crashing
// thread holds the stack lock and waits for the very thread that faulted:
// handling it the usual way would hang the process for good.
thread_local bool t_on_handler_thread = false;

bool IsDebugException(DWORD code) {
  return code == EXCEPTION_BREAKPOINT || code == EXCEPTION_SINGLE_STEP ||
         code == kDebugPrintCode || code == kDebugPrintWideCode;
}

void CopyText(wchar_t (&destination)[128], const wchar_t* text) {
  size_t length = 0;
  if (text) {
    while (length < 127 && text[length]) {
      destination[length] = text[length];
      ++length;
    }
  }
  destination[length] = L'\0';
}

// A dumped fatal event still ends the process as a failure: a parent that
// waits for it must not read success.
[[noreturn]] void EndProcess(UINT exit_code) {
  ::TerminateProcess(::GetCurrentProcess(), exit_code);
  // TerminateProcess on the own process does not return; should it, the
  // process must end anyway.
  ::ExitProcess(exit_code);
}

}  // namespace

// Takes the handler that answers the current event and, for as long as the
// event is handled, puts back the handlers that were in place before it.
class ExceptionHandler::AutoExceptionHandler {
 public:
  AutoExceptionHandler() {
    ::EnterCriticalSection(StackLock());
    ++g_handler_stack_index;
    if (g_handler_stack && g_handler_stack_index <= g_handler_stack->size()) {
      handler_ =
          (*g_handler_stack)[g_handler_stack->size() - g_handler_stack_index];
    }
    if (!handler_)
      return;
    // The unhandled-exception filter stays: another thread that crashes
    // meanwhile must come here and wait on the lock, not find the filter of
    // before and end the process under the dump being written. A fault on
    // this thread comes back in too, and the lock (which this thread holds
    // already) and the index pass it on to the next older handler.
    if (handler_->handler_types_ & HANDLER_INVALID_PARAMETER)
      _set_invalid_parameter_handler(handler_->previous_iph_);
    if (handler_->handler_types_ & HANDLER_PURECALL)
      _set_purecall_handler(handler_->previous_pch_);
  }

  ~AutoExceptionHandler() {
    if (handler_) {
      if (handler_->handler_types_ & HANDLER_INVALID_PARAMETER)
        _set_invalid_parameter_handler(
            &ExceptionHandler::HandleInvalidParameter);
      if (handler_->handler_types_ & HANDLER_PURECALL)
        _set_purecall_handler(&ExceptionHandler::HandlePureVirtualCall);
    }
    --g_handler_stack_index;
    ::LeaveCriticalSection(StackLock());
  }

  // Null when no handler is left to answer (a fault in the handling of the
  // oldest one).
  ExceptionHandler* get_handler() const { return handler_; }

 private:
  ExceptionHandler* handler_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(AutoExceptionHandler);
};

ExceptionHandler::ExceptionHandler(const std::wstring& dump_folder,
                                   FilterCallback filter,
                                   MinidumpCallback callback,
                                   void* callback_context,
                                   int handler_types,
                                   uint32_t dump_type,
                                   const wchar_t* pipe_name,
                                   const CustomClientInfo* custom_info) {
  std::unique_ptr<CrashGenerationClient> client;
  if (pipe_name) {
    client = std::make_unique<CrashGenerationClient>(pipe_name, dump_type,
                                                     custom_info);
  }
  Initialize(dump_folder, filter, callback, callback_context, handler_types,
             dump_type, std::move(client));
}

ExceptionHandler::ExceptionHandler(
    const std::wstring& dump_folder,
    FilterCallback filter,
    MinidumpCallback callback,
    void* callback_context,
    int handler_types,
    uint32_t dump_type,
    std::unique_ptr<CrashGenerationClient> client) {
  Initialize(dump_folder, filter, callback, callback_context, handler_types,
             dump_type, std::move(client));
}

void ExceptionHandler::Initialize(
    const std::wstring& dump_folder,
    FilterCallback filter,
    MinidumpCallback callback,
    void* callback_context,
    int handler_types,
    uint32_t dump_type,
    std::unique_ptr<CrashGenerationClient> client) {
  StackLock();
  filter_ = filter;
  callback_ = callback;
  callback_context_ = callback_context;
  dump_type_ = dump_type;
  handler_types_ = handler_types;

  if (client && client->Register())
    client_ = std::move(client);

  // Also out of process: the client's records the server reads are one set.
  ::InitializeCriticalSection(&handler_critical_section_);
  if (!client_) {
    handler_start_semaphore_ = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    handler_finish_semaphore_ = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    if (handler_start_semaphore_ && handler_finish_semaphore_) {
      handler_thread_ = ::CreateThread(nullptr, kHandlerThreadStackSize,
                                       &HandlerThreadMain, this, 0, nullptr);
    }
    // Loaded now: a crashing process is no place to load libraries.
    minidump_write_dump_ = libraries_.GetWriteDump();
    libraries_.GetCreateUuid();
    dump_folder_ = dump_folder;
    UpdateNextId();
  }

  // Reserved for the memory around the faulting instruction.
  app_memory_info_.push_back({0, 0});

  if (handler_types_ != HANDLER_NONE) {
    ::EnterCriticalSection(StackLock());
    if (!g_handler_stack)
      g_handler_stack = new std::vector<ExceptionHandler*>();
    g_handler_stack->push_back(this);
    if (handler_types_ & HANDLER_EXCEPTION)
      previous_filter_ = ::SetUnhandledExceptionFilter(&HandleException);
    if (handler_types_ & HANDLER_INVALID_PARAMETER)
      previous_iph_ = _set_invalid_parameter_handler(&HandleInvalidParameter);
    if (handler_types_ & HANDLER_PURECALL)
      previous_pch_ = _set_purecall_handler(&HandlePureVirtualCall);
    ::LeaveCriticalSection(StackLock());
  }
}

ExceptionHandler::~ExceptionHandler() {
  if (handler_types_ != HANDLER_NONE) {
    ::EnterCriticalSection(StackLock());
    if (handler_types_ & HANDLER_EXCEPTION)
      ::SetUnhandledExceptionFilter(previous_filter_);
    if (handler_types_ & HANDLER_INVALID_PARAMETER)
      _set_invalid_parameter_handler(previous_iph_);
    if (handler_types_ & HANDLER_PURECALL)
      _set_purecall_handler(previous_pch_);
    if (g_handler_stack->back() == this) {
      g_handler_stack->pop_back();
    } else {
      // The handlers made after this one now chain to what this one
      // replaced; say so, since that is rarely what the owner meant.
      fprintf(stderr, "warning: removing Kavor handler out of order\n");
      fflush(stderr);
      g_handler_stack->erase(
          std::remove(g_handler_stack->begin(), g_handler_stack->end(), this),
          g_handler_stack->end());
    }
    if (g_handler_stack->empty()) {
      delete g_handler_stack;
      g_handler_stack = nullptr;
    }
    ::LeaveCriticalSection(StackLock());
  }

  if (!IsOutOfProcess()) {
    if (handler_thread_) {
      is_shutdown_ = true;
      ::ReleaseSemaphore(handler_start_semaphore_, 1, nullptr);
      ::WaitForSingleObject(handler_thread_, kHandlerThreadExitWaitMs);
      ::CloseHandle(handler_thread_);
      handler_thread_ = nullptr;
    }
    if (handler_start_semaphore_)
      ::CloseHandle(handler_start_semaphore_);
    if (handler_finish_semaphore_)
      ::CloseHandle(handler_finish_semaphore_);
  }
  ::DeleteCriticalSection(&handler_critical_section_);
}

bool ExceptionHandler::WriteMinidumpForException(EXCEPTION_POINTERS* exinfo) {
  return WriteDumpForEvent(exinfo, nullptr);
}

// static
LONG WINAPI ExceptionHandler::HandleException(EXCEPTION_POINTERS* exinfo) {
  // The dump being written is lost with the process, but the process ends.
  if (t_on_handler_thread)
    return EXCEPTION_EXECUTE_HANDLER;
  AutoExceptionHandler auto_handler;
  ExceptionHandler* current = auto_handler.get_handler();
  if (!current) {
    // A fault in the handling of the oldest handler: the filter that was
    // there before any of them answers.
    if (!g_handler_stack)
      return EXCEPTION_CONTINUE_SEARCH;
    for (ExceptionHandler* handler : *g_handler_stack) {
      if (handler->handler_types_ & HANDLER_EXCEPTION) {
        return handler->previous_filter_ ? handler->previous_filter_(exinfo)
                                         : EXCEPTION_CONTINUE_SEARCH;
      }
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }

  DWORD code = exinfo && exinfo->ExceptionRecord
                   ? exinfo->ExceptionRecord->ExceptionCode
                   : 0;
  if (code == STATUS_INVALID_HANDLE &&
      current->consume_invalid_handle_exceptions_) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  bool succeeded = false;
  if (!IsDebugException(code) || current->handle_debug_exceptions_)
    succeeded = current->WriteDumpForEvent(exinfo, nullptr);
  if (succeeded)
    return EXCEPTION_EXECUTE_HANDLER;
  if (current->previous_filter_)
    return current->previous_filter_(exinfo);
  return EXCEPTION_CONTINUE_SEARCH;
}

// static
void __cdecl ExceptionHandler::HandleInvalidParameter(const wchar_t* expression,
                                                      const wchar_t* function,
                                                      const wchar_t* file,
                                                      unsigned int line,
                                                      uintptr_t reserved) {
  if (t_on_handler_thread)
    EndProcess(kInvalidParameterCode);
  AutoExceptionHandler auto_handler;
  ExceptionHandler* current = auto_handler.get_handler();
  if (!current)
    EndProcess(kRuntimeInvalidParameterExitCode);

  AssertionInfo assertion = {};
  CopyText(assertion.expression, expression);
  CopyText(assertion.function, function);
  CopyText(assertion.file, file);
  assertion.line = line;
  assertion.type = ASSERTION_INVALID_PARAMETER;

  if (!current->WriteAssertionDump(kInvalidParameterCode, &assertion,
                                   assertion.line)) {
    if (current->previous_iph_) {
      current->previous_iph_(expression, function, file, line, reserved);
    } else {
      // The runtime's own answer to an invalid parameter nobody handles.
      EndProcess(kRuntimeInvalidParameterExitCode);
    }
  }
  EndProcess(kInvalidParameterCode);
}

// static
void __cdecl ExceptionHandler::HandlePureVirtualCall() {
  if (t_on_handler_thread)
    EndProcess(kPureCallCode);
  AutoExceptionHandler auto_handler;
  ExceptionHandler* current = auto_handler.get_handler();
  if (!current)
    return;

  AssertionInfo assertion = {};
  assertion.type = ASSERTION_PURE_CALL;

  if (!current->WriteAssertionDump(kPureCallCode, &assertion, 0)) {
    if (!current->previous_pch_)
      return;  // The runtime ends the process its own way.
    current->previous_pch_();
  }
  EndProcess(kPureCallCode);
}

bool ExceptionHandler::WriteAssertionDump(DWORD code,
                                          AssertionInfo* assertion,
                                          ULONG_PTR line) {
  // The runtime raised nothing: the dump gets a record of its own, with the
  // assertion's texts and line as its parameters, in the handler's context.
  CONTEXT context;
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  record.NumberParameters = 3;
  record.ExceptionInformation[0] =
      reinterpret_cast<ULONG_PTR>(&assertion->expression);
  record.ExceptionInformation[1] =
      reinterpret_cast<ULONG_PTR>(&assertion->file);
  record.ExceptionInformation[2] = line;
  EXCEPTION_POINTERS exinfo = {&record, &context};
  return WriteDumpForEvent(&exinfo, assertion);
}

bool ExceptionHandler::WriteDumpForEvent(EXCEPTION_POINTERS* exinfo,
                                         AssertionInfo* assertion) {
  if (!IsOutOfProcess())
    return WriteMinidumpOnHandlerThread(exinfo, assertion);
  // Two threads at once would overwrite each other's request in the
  // client's records before the server has read them.
  ::EnterCriticalSection(&handler_critical_section_);
  bool succeeded =
      WriteMinidumpWithException(::GetCurrentThreadId(), exinfo, assertion);
  ::LeaveCriticalSection(&handler_critical_section_);
  return succeeded;
}

bool ExceptionHandler::WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* exinfo,
                                                    AssertionInfo* assertion) {
  ::EnterCriticalSection(&handler_critical_section_);
  bool succeeded = false;
  if (handler_thread_) {
    requesting_thread_id_ = ::GetCurrentThreadId();
    exception_info_ = exinfo;
    assertion_ = assertion;
    ::ReleaseSemaphore(handler_start_semaphore_, 1, nullptr);
    ::WaitForSingleObject(handler_finish_semaphore_, INFINITE);
    succeeded = handler_return_value_;
    requesting_thread_id_ = 0;
    exception_info_ = nullptr;
    assertion_ = nullptr;
  }
  ::LeaveCriticalSection(&handler_critical_section_);
  return succeeded;
}

// static
DWORD WINAPI ExceptionHandler::HandlerThreadMain(void* parameter) {
  auto* self = static_cast<ExceptionHandler*>(parameter);
  t_on_handler_thread = true;
  for (;;) {
    // A failed wait would fail again at once, and the destructor may have
    // stopped waiting for this thread already.
    if (::WaitForSingleObject(self->handler_start_semaphore_, INFINITE) !=
            WAIT_OBJECT_0 ||
        self->is_shutdown_) {
      break;
    }
    self->handler_return_value_ = self->WriteMinidumpWithException(
        self->requesting_thread_id_, self->exception_info_, self->assertion_);
    // Here, while the requesting thread holds the handler lock: every dump
    // gets a name of its own, and nobody reads the name while it changes.
    self->UpdateNextId();
    ::ReleaseSemaphore(self->handler_finish_semaphore_, 1, nullptr);
  }
  return 0;
}

bool ExceptionHandler::WriteMinidumpWithException(DWORD requesting_thread_id,
                                                  EXCEPTION_POINTERS* exinfo,
                                                  AssertionInfo* assertion) {
  if (filter_ && !filter_(callback_context_, exinfo, assertion))
    return false;
  bool succeeded = IsOutOfProcess() ? client_->RequestDump(exinfo, assertion)
                                    : WriteInProcessDump(requesting_thread_id,
                                                         exinfo, assertion);
  if (callback_) {
    succeeded = callback_(dump_folder_.c_str(), next_dump_id_.c_str(),
                          callback_context_, exinfo, assertion, succeeded);
  }
  return succeeded;
}

bool ExceptionHandler::WriteInProcessDump(DWORD requesting_thread_id,
                                          EXCEPTION_POINTERS* exinfo,
                                          AssertionInfo* assertion) {
  if (!minidump_write_dump_)
    return false;
  // Never over an existing file: that name belongs to another dump.
  HANDLE file =
      ::CreateFileW(next_dump_path_.c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;

  MINIDUMP_EXCEPTION_INFORMATION exception_information = {};
  exception_information.ThreadId = requesting_thread_id;
  exception_information.ExceptionPointers = exinfo;
  exception_information.ClientPointers = FALSE;

  DumpUserStreams user_streams(
      {kBothThreadIdsValid, ::GetCurrentThreadId(), requesting_thread_id},
      assertion);

  HANDLE process = ::GetCurrentProcess();
  if (exinfo && exinfo->ContextRecord) {
    ULONG64 pointer = exinfo->ContextRecord->Rip;
    MEMORY_BASIC_INFORMATION region = {};
    if (::VirtualQueryEx(process, reinterpret_cast<void*>(pointer), &region,
                         sizeof(region)) &&
        region.State == MEM_COMMIT) {
      ULONG64 base = reinterpret_cast<ULONG64>(region.BaseAddress);
      app_memory_info_[0] =
          InstructionMemoryRange(base, base + region.RegionSize, pointer);
    }
  }

  AppMemoryCursor cursor = StartAppMemoryWalk(app_memory_info_);
  MINIDUMP_CALLBACK_INFORMATION callback = {&AppMemoryDumpCallback, &cursor};
  BOOL result = minidump_write_dump_(process, ::GetCurrentProcessId(), file,
                                     static_cast<MINIDUMP_TYPE>(dump_type_),
                                     exinfo ? &exception_information : nullptr,
                                     user_streams.get(), &callback);
  ::CloseHandle(file);
  return result == TRUE;
}

void ExceptionHandler::UpdateNextId() {
  GUID id = {};
  if (!MakeDumpId(&libraries_, &id))
    id = GUID();
  next_dump_id_ = GUIDString(id);
  next_dump_path_ = DumpPath(dump_folder_, next_dump_id_);
}

}  // namespace crash_reporter

// Code built by this compiler reaches a pure virtual function through
// __cxa_pure_virtual, never through the runtime's _purecall, and the pure
// call handlers installed with _set_purecall_handler would never hear of
// it. Route it to them, then end the process as the runtime does.
extern "C" void __cxa_pure_virtual() {
  _purecall_handler handler = _set_purecall_handler(nullptr);
  _set_purecall_handler(handler);
  if (handler)
    handler();
  fputs("pure virtual method called\n", stderr);
  abort();
}

// Defined beside it so that the library's copy of the two is never linked
// in as well.
extern "C" void __cxa_deleted_virtual() {
  fputs("deleted virtual method called\n", stderr);
  abort();
}
