#include "crash/crash_generation/minidump_generator.h"

#include <wchar.h>

#include "base/win/system_library.h"
#include "crash/crash_generation/handle_trace.h"

namespace crash_reporter {

namespace {

constexpr uint32_t kFullMemory = MiniDumpWithFullMemory;
constexpr uint32_t kHandleData = MiniDumpWithHandleData;

constexpr wchar_t kDumpExtension[] = L".dmp";
constexpr wchar_t kFullDumpEnding[] = L"-full.dmp";

}  // namespace

std::wstring GUIDString(const GUID& guid) {
  wchar_t text[37] = {};
  swprintf(text, 37, L"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
           static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3,
           guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
           guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

bool ReadProcessMemoryExactly(HANDLE process,
                              const void* address,
                              void* buffer,
                              size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, address, buffer, size, &read) &&
         read == size;
}

DumpLibraries::DumpLibraries() = default;

DumpLibraries::~DumpLibraries() {
  if (dbghelp_module_)
    ::FreeLibrary(dbghelp_module_);
  if (rpcrt4_module_)
    ::FreeLibrary(rpcrt4_module_);
}

DumpLibraries::MiniDumpWriteDumpFunction DumpLibraries::GetWriteDump() {
  HMODULE module;
  {
    base::AutoLock lock(module_lock_);
    if (!dbghelp_module_)
      dbghelp_module_ = base::win::LoadSystemLibrary(L"dbghelp.dll");
    module = dbghelp_module_;
  }
  if (!module)
    return nullptr;
  base::AutoLock lock(get_proc_lock_);
  if (!write_dump_) {
    write_dump_ = reinterpret_cast<MiniDumpWriteDumpFunction>(
        ::GetProcAddress(module, "MiniDumpWriteDump"));
  }
  return write_dump_;
}

DumpLibraries::UuidCreateFunction DumpLibraries::GetCreateUuid() {
  HMODULE module;
  {
    base::AutoLock lock(module_lock_);
    if (!rpcrt4_module_)
      rpcrt4_module_ = base::win::LoadSystemLibrary(L"rpcrt4.dll");
    module = rpcrt4_module_;
  }
  if (!module)
    return nullptr;
  base::AutoLock lock(get_proc_lock_);
  if (!create_uuid_) {
    create_uuid_ = reinterpret_cast<UuidCreateFunction>(
        ::GetProcAddress(module, "UuidCreate"));
  }
  return create_uuid_;
}

bool MakeDumpId(DumpLibraries* libraries, GUID* id) {
  DumpLibraries::UuidCreateFunction create_uuid = libraries->GetCreateUuid();
  if (!create_uuid)
    return false;
  RPC_STATUS status = create_uuid(id);
  // A UUID unique to this machine names a file on this machine just fine.
  return status == RPC_S_OK || status == RPC_S_UUID_LOCAL_ONLY;
}

std::wstring DumpPath(const std::wstring& folder, const std::wstring& id) {
  return folder + L"\\" + id + kDumpExtension;
}

DumpUserStreams::DumpUserStreams(const HandlerInfo& handler_info,
                                 const AssertionInfo* assertion)
    : handler_info_(handler_info) {
  Add(kHandlerInfoStreamType, sizeof(handler_info_), &handler_info_);
  if (assertion) {
    Add(kAssertionInfoStreamType, sizeof(*assertion),
        const_cast<AssertionInfo*>(assertion));
  }
}

void DumpUserStreams::Add(ULONG type, ULONG size, void* data) {
  if (information_.UserStreamCount < ARRAYSIZE(streams_))
    streams_[information_.UserStreamCount++] = {type, size, data};
}

MinidumpGenerator::MinidumpGenerator(const std::wstring& dump_folder,
                                     HANDLE process_handle,
                                     DWORD process_id,
                                     DWORD thread_id,
                                     DWORD requesting_thread_id,
                                     EXCEPTION_POINTERS* exception_pointers,
                                     AssertionInfo* assert_info,
                                     uint32_t dump_type,
                                     bool is_client_pointers)
    : process_handle_(process_handle),
      process_id_(process_id),
      thread_id_(thread_id),
      requesting_thread_id_(requesting_thread_id),
      exception_pointers_(exception_pointers),
      assert_info_(assert_info),
      dump_type_(dump_type),
      is_client_pointers_(is_client_pointers),
      dump_folder_(dump_folder) {}

MinidumpGenerator::~MinidumpGenerator() {
  CloseInternalFiles();
}

bool MinidumpGenerator::GenerateDumpFile(std::wstring* dump_path) {
  if (dump_file_ != INVALID_HANDLE_VALUE)
    return false;
  std::wstring path;
  if (!GetDumpPath(&path) || !CreateDumpFile(path, &dump_file_))
    return false;
  dump_file_is_internal_ = true;
  if (dump_path)
    *dump_path = path;
  return true;
}

bool MinidumpGenerator::GenerateFullDumpFile(std::wstring* full_dump_path) {
  if (!(dump_type_ & kFullMemory) || full_dump_file_ != INVALID_HANDLE_VALUE)
    return false;
  std::wstring path;
  if (!GetDumpPath(&path))
    return false;
  // Both files carry one UUID, so that the pair is recognisable.
  const size_t extension_length = wcslen(kDumpExtension);
  path.replace(path.size() - extension_length, extension_length,
               kFullDumpEnding);
  if (!CreateDumpFile(path, &full_dump_file_))
    return false;
  full_dump_file_is_internal_ = true;
  if (full_dump_path)
    *full_dump_path = path;
  return true;
}

bool MinidumpGenerator::WriteMinidump() {
  const bool full = (dump_type_ & kFullMemory) != 0;
  if (dump_file_ == INVALID_HANDLE_VALUE ||
      (full && full_dump_file_ == INVALID_HANDLE_VALUE)) {
    return false;
  }
  DumpLibraries::MiniDumpWriteDumpFunction write_dump =
      libraries_.GetWriteDump();
  if (!write_dump)
    return false;

  MINIDUMP_EXCEPTION_INFORMATION exception_information = {};
  exception_information.ThreadId = thread_id_;
  exception_information.ExceptionPointers = exception_pointers_;
  exception_information.ClientPointers = is_client_pointers_;
  MINIDUMP_EXCEPTION_INFORMATION* exception_param =
      exception_pointers_ ? &exception_information : nullptr;

  // The thread ids are only meaningful to a reader when the dump was made
  // from inside the process.
  HandlerInfo handler_info = {};
  if (!is_client_pointers_) {
    handler_info.validity = kBothThreadIdsValid;
    handler_info.dump_thread_id = thread_id_;
    handler_info.requesting_thread_id = requesting_thread_id_;
  }

  AssertionInfo assertion;
  if (assert_info_ &&
      !ReadProcessMemoryExactly(PointerProcess(), assert_info_, &assertion,
                                sizeof(assertion))) {
    CloseInternalFiles();
    return false;
  }
  DumpUserStreams user_streams(handler_info,
                               assert_info_ ? &assertion : nullptr);

  // A dump with handle data lists the handles already; otherwise a process
  // that died of a bad handle gets the verifier's story of that handle.
  std::string handle_trace;
  HMODULE verifier = nullptr;
  if (exception_pointers_ && !(dump_type_ & kHandleData)) {
    DWORD code = 0;
    if (!ReadExceptionCode(&code)) {
      CloseInternalFiles();
      return false;
    }
    if (code == STATUS_INVALID_HANDLE) {
      // Without the verifier (most machines, and Wine) the dump is still
      // worth writing: only the trace is missing from it.
      VerifierEnumerateResourceFunction enumerate =
          GetVerifierLoader()(&verifier);
      HandleTraceCollector collector;
      if (enumerate && collector.Collect(enumerate, process_handle_))
        handle_trace = collector.BuildStream();
    }
  }

  bool succeeded = true;
  if (full) {
    succeeded =
        write_dump(process_handle_, process_id_, full_dump_file_,
                   static_cast<MINIDUMP_TYPE>(dump_type_ | kHandleData),
                   exception_param, user_streams.get(), nullptr) != FALSE;
  }
  if (!handle_trace.empty()) {
    user_streams.Add(HandleOperationListStream,
                     static_cast<ULONG>(handle_trace.size()), &handle_trace[0]);
  }
  if (!write_dump(process_handle_, process_id_, dump_file_,
                  static_cast<MINIDUMP_TYPE>(dump_type_ & ~kFullMemory),
                  exception_param, user_streams.get(), nullptr)) {
    succeeded = false;
  }
  if (verifier)
    ::FreeLibrary(verifier);
  return succeeded;
}

bool MinidumpGenerator::GetDumpPath(std::wstring* path) {
  if (!uuid_made_) {
    if (!MakeDumpId(&libraries_, &uuid_))
      return false;
    uuid_made_ = true;
  }
  *path = DumpPath(dump_folder_, GUIDString(uuid_));
  return true;
}

bool MinidumpGenerator::CreateDumpFile(const std::wstring& path, HANDLE* file) {
  // Never over an existing file: a name that exists is someone else's dump.
  *file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return *file != INVALID_HANDLE_VALUE;
}

void MinidumpGenerator::CloseInternalFiles() {
  if (dump_file_is_internal_ && dump_file_ != INVALID_HANDLE_VALUE) {
    ::CloseHandle(dump_file_);
    dump_file_ = INVALID_HANDLE_VALUE;
    dump_file_is_internal_ = false;
  }
  if (full_dump_file_is_internal_ && full_dump_file_ != INVALID_HANDLE_VALUE) {
    ::CloseHandle(full_dump_file_);
    full_dump_file_ = INVALID_HANDLE_VALUE;
    full_dump_file_is_internal_ = false;
  }
}

HANDLE MinidumpGenerator::PointerProcess() const {
  return is_client_pointers_ ? process_handle_ : ::GetCurrentProcess();
}

bool MinidumpGenerator::ReadExceptionCode(DWORD* code) const {
  EXCEPTION_POINTERS pointers = {};
  if (!ReadProcessMemoryExactly(PointerProcess(), exception_pointers_,
                                &pointers, sizeof(pointers))) {
    return false;
  }
  // The code is the first field of the record.
  return ReadProcessMemoryExactly(PointerProcess(), pointers.ExceptionRecord,
                                  code, sizeof(*code));
}

}  // namespace crash_reporter
