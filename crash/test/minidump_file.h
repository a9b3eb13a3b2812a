#ifndef CRASH_TEST_MINIDUMP_FILE_H_
#define CRASH_TEST_MINIDUMP_FILE_H_

#include <windows.h>
#include <dbghelp.h>
#include <tlhelp32.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/win/system_library.h"
#include "crash/crash_generation/crash_generation_protocol.h"

namespace crash_reporter {
namespace test {

// A dump file read whole into memory, for tests that look at what a dump
// holds. Streams are found with DbgHelp's own reader, loaded at run time as
// the product loads DbgHelp.
class MinidumpFile {
 public:
  MinidumpFile() = default;

  bool Open(const base::FilePath& path) {
    if (!base::ReadFileToString(path, &contents_))
      return false;
    HMODULE dbghelp = base::win::LoadSystemLibrary(L"dbghelp.dll");
    if (!dbghelp)
      return false;
    read_stream_ = reinterpret_cast<ReadStreamFunction>(
        ::GetProcAddress(dbghelp, "MiniDumpReadDumpStream"));
    return read_stream_ != nullptr &&
           contents_.size() >= sizeof(MINIDUMP_HEADER) &&
           contents_.compare(0, 4, "MDMP") == 0;
  }

  // The stream of |type|, or null when the dump has none.
  const void* Stream(ULONG type, ULONG* size = nullptr) const {
    if (!read_stream_)
      return nullptr;
    MINIDUMP_DIRECTORY* directory = nullptr;
    void* data = nullptr;
    ULONG data_size = 0;
    if (!read_stream_(const_cast<char*>(contents_.data()), type, &directory,
                      &data, &data_size)) {
      return nullptr;
    }
    if (size)
      *size = data_size;
    return data;
  }

  bool HasStream(ULONG type) const { return Stream(type) != nullptr; }

  // A stream that must be exactly one |T|; null when missing or of
  // another size.
  template <typename T>
  const T* StreamAs(ULONG type) const {
    ULONG size = 0;
    const void* data = Stream(type, &size);
    return data && size == sizeof(T) ? static_cast<const T*>(data) : nullptr;
  }

  const HandlerInfo* handler_info() const {
    return StreamAs<HandlerInfo>(kHandlerInfoStreamType);
  }
  const AssertionInfo* assertion() const {
    return StreamAs<AssertionInfo>(kAssertionInfoStreamType);
  }
  const MINIDUMP_EXCEPTION_STREAM* exception() const {
    return StreamAs<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
  }

  // Data at a location of the dump; null when it lies outside the file.
  const void* At(const MINIDUMP_LOCATION_DESCRIPTOR& where) const {
    if (where.Rva > contents_.size() ||
        where.DataSize > contents_.size() - where.Rva) {
      return nullptr;
    }
    return contents_.data() + where.Rva;
  }

  size_t size() const { return contents_.size(); }

  // The dump type the writer was asked for, as its header records it.
  uint64_t flags() const {
    return reinterpret_cast<const MINIDUMP_HEADER*>(contents_.data())->Flags;
  }

 private:
  using ReadStreamFunction = BOOL(WINAPI*)(PVOID base,
                                           ULONG stream,
                                           PMINIDUMP_DIRECTORY* directory,
                                           PVOID* data,
                                           ULONG* size);

  std::string contents_;
  ReadStreamFunction read_stream_ = nullptr;
};

// Wine's DbgHelp reads the debug information of every module of the
// target while it writes a dump, seconds per dump; dumps need none of it.
// Tests that write dumps call this first (the product never changes
// DbgHelp's options: on Windows, writing a dump reads no symbols).
inline void SkipDebugInfoWhileDumping() {
  HMODULE dbghelp = base::win::LoadSystemLibrary(L"dbghelp.dll");
  if (!dbghelp)
    return;
  using SymSetOptionsFunction = DWORD(WINAPI*)(DWORD);
  auto set_options = reinterpret_cast<SymSetOptionsFunction>(
      ::GetProcAddress(dbghelp, "SymSetOptions"));
  if (set_options)
    set_options(SYMOPT_PUBLICS_ONLY | SYMOPT_DEFERRED_LOADS);
}

// The id of a thread of process |pid|, once it has one.
inline bool WaitForFirstThread(DWORD pid, DWORD* thread_id) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
      return false;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = ::Thread32First(snapshot, &entry); more && !found;
         more = ::Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == pid) {
        *thread_id = entry.th32ThreadID;
        found = true;
      }
    }
    ::CloseHandle(snapshot);
    if (found)
      return true;
    ::Sleep(1);
  }
  return false;
}

// The names of the files in |folder|, sorted.
inline std::vector<std::wstring> FileNamesIn(const base::FilePath& folder) {
  std::vector<std::wstring> names;
  base::FileEnumerator files(folder, false, base::FileEnumerator::FILES);
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next())
    names.push_back(path.BaseName().value());
  std::sort(names.begin(), names.end());
  return names;
}

// True for "<36 lower-case hex digits and dashes><ending>".
inline bool IsUuidName(const std::wstring& name, const std::wstring& ending) {
  if (name.size() != 36 + ending.size() ||
      name.compare(36, std::wstring::npos, ending) != 0) {
    return false;
  }
  for (size_t i = 0; i < 36; ++i) {
    wchar_t c = name[i];
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != L'-'
             : !((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_MINIDUMP_FILE_H_
