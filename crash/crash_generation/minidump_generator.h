#ifndef CRASH_CRASH_GENERATION_MINIDUMP_GENERATOR_H_
#define CRASH_CRASH_GENERATION_MINIDUMP_GENERATOR_H_

#include <windows.h>
#include <dbghelp.h>
#include <rpc.h>
#include <stdint.h>

#include <string>

#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "crash/crash_generation/crash_generation_protocol.h"

namespace crash_reporter {

// A UUID as the 36 lower-case characters that name dump files.
std::wstring GUIDString(const GUID& guid);

// Reads exactly |size| bytes at |address| in |process|; a short read fails.
bool ReadProcessMemoryExactly(HANDLE process,
                              const void* address,
                              void* buffer,
                              size_t size);

// MiniDumpWriteDump and UuidCreate, each loaded from the system folder the
// first time it is asked for; the libraries stay loaded while this lives.
// Safe to share between threads.
class DumpLibraries {
 public:
  using MiniDumpWriteDumpFunction =
      BOOL(WINAPI*)(HANDLE process,
                    DWORD process_id,
                    HANDLE file,
                    MINIDUMP_TYPE dump_type,
                    PMINIDUMP_EXCEPTION_INFORMATION exception_param,
                    PMINIDUMP_USER_STREAM_INFORMATION user_stream_param,
                    PMINIDUMP_CALLBACK_INFORMATION callback_param);
  using UuidCreateFunction = RPC_STATUS(RPC_ENTRY*)(UUID* uuid);

  DumpLibraries();
  ~DumpLibraries();

  // Null when the library or the function is missing.
  MiniDumpWriteDumpFunction GetWriteDump();
  UuidCreateFunction GetCreateUuid();

 private:
  // Loading the libraries and looking up their functions may race when
  // the loader is shared; these keep that safe.
  base::Lock module_lock_;
  base::Lock get_proc_lock_;
  HMODULE dbghelp_module_ = nullptr;
  MiniDumpWriteDumpFunction write_dump_ = nullptr;
  HMODULE rpcrt4_module_ = nullptr;
  UuidCreateFunction create_uuid_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(DumpLibraries);
};

// A fresh UUID to name a dump by; false when none can be made.
bool MakeDumpId(DumpLibraries* libraries, GUID* id);
// "<folder>\<id>.dmp".
std::wstring DumpPath(const std::wstring& folder, const std::wstring& id);

// HandlerInfo::validity when both its thread ids mean something.
constexpr uint32_t kBothThreadIdsValid = 0x1 | 0x2;

// The user streams every dump carries: the handler information and, when
// there is one, the assertion (which must outlive this); room for one more.
class DumpUserStreams {
 public:
  DumpUserStreams(const HandlerInfo& handler_info,
                  const AssertionInfo* assertion);

  void Add(ULONG type, ULONG size, void* data);
  MINIDUMP_USER_STREAM_INFORMATION* get() { return &information_; }

 private:
  HandlerInfo handler_info_;
  MINIDUMP_USER_STREAM streams_[3] = {};
  MINIDUMP_USER_STREAM_INFORMATION information_ = {0, streams_};

  DISALLOW_COPY_AND_ASSIGN(DumpUserStreams);
};

// Writes the dump of a process (another one, or this one) into files named
// after one fresh UUID in |dump_folder|, with the handler information and
// assertion streams and, for a process that died of an invalid handle, the
// handle trace that Application Verifier keeps. One thread at a time.
class MinidumpGenerator {
 public:
  // |exception_pointers| and |assert_info| are addresses in the target when
  // |is_client_pointers|, else in this process; either may be null.
  MinidumpGenerator(const std::wstring& dump_folder,
                    HANDLE process_handle,
                    DWORD process_id,
                    DWORD thread_id,
                    DWORD requesting_thread_id,
                    EXCEPTION_POINTERS* exception_pointers,
                    AssertionInfo* assert_info,
                    uint32_t dump_type,
                    bool is_client_pointers);
  ~MinidumpGenerator();

  // Creates "<folder>\<uuid>.dmp"; fails when one is open already or the
  // file exists.
  bool GenerateDumpFile(std::wstring* dump_path);
  // Creates "<folder>\<uuid>-full.dmp" for a full-memory dump type.
  bool GenerateFullDumpFile(std::wstring* full_dump_path);
  // Writes the dump(s) into the created files; true when every dump
  // written succeeded.
  bool WriteMinidump();

 private:
  bool GetDumpPath(std::wstring* path);
  bool CreateDumpFile(const std::wstring& path, HANDLE* file);
  // Closes the dump files this generator created; after a failed read of
  // the target nothing more is written into them.
  void CloseInternalFiles();
  // The process the pointers belong to.
  HANDLE PointerProcess() const;
  // The exception code behind the exception pointers; false when unreadable.
  bool ReadExceptionCode(DWORD* code) const;

  DumpLibraries libraries_;
  HANDLE process_handle_;
  DWORD process_id_;
  DWORD thread_id_;
  DWORD requesting_thread_id_;
  EXCEPTION_POINTERS* exception_pointers_;
  AssertionInfo* assert_info_;
  uint32_t dump_type_;
  bool is_client_pointers_;
  std::wstring dump_folder_;
  GUID uuid_ = {};
  bool uuid_made_ = false;
  HANDLE dump_file_ = INVALID_HANDLE_VALUE;
  HANDLE full_dump_file_ = INVALID_HANDLE_VALUE;
  bool dump_file_is_internal_ = false;
  bool full_dump_file_is_internal_ = false;

  DISALLOW_COPY_AND_ASSIGN(MinidumpGenerator);
};

}  // namespace crash_reporter

#endif  // CRASH_CRASH_GENERATION_MINIDUMP_GENERATOR_H_
