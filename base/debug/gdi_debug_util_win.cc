#include "base/debug/gdi_debug_util_win.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <stdlib.h>

#include "base/check.h"
#include "base/debug/alias.h"

namespace base {
namespace debug {

namespace {

// GetProcessMitigationPolicy's policy number for win32k system calls.
constexpr int kSystemCallDisablePolicy = 4;
constexpr DWORD kGdiObjectCountLimit = 9991;
constexpr SIZE_T kLargeMemoryUsage = 1500u * 1024 * 1024;
constexpr LONG kLargeBitmapPixels = 101;

typedef BOOL(WINAPI* GetProcessMitigationPolicyFunction)(HANDLE,
                                                         int,
                                                         PVOID,
                                                         SIZE_T);
typedef HBITMAP(WINAPI* CreateDIBSectionFunction)(
    HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
typedef BOOL(WINAPI* DeleteObjectFunction)(HGDIOBJ);

bool ComputeUser32AndGdi32Available() {
  // The lookup is the version test: the function exists from Windows 8 on.
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return true;
  auto get_policy = reinterpret_cast<GetProcessMitigationPolicyFunction>(
      ::GetProcAddress(kernel32, "GetProcessMitigationPolicy"));
  if (!get_policy)
    return true;
  DWORD policy = 0;  // Bit 0: DisallowWin32kSystemCalls.
  if (!get_policy(::GetCurrentProcess(), kSystemCallDisablePolicy, &policy,
                  sizeof(policy))) {
    return true;
  }
  return (policy & 1) == 0;
}

// Sums the GDI and USER counts of every process that can be opened, with
// separate figures for the children of |parent_pid|, then ends the process.
[[noreturn]] __attribute__((noinline)) void CollectChildGDIUsageAndDie(
    DWORD parent_pid) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  DWORD last_error = ::GetLastError();
  Alias(&last_error);
  CHECK(snapshot != INVALID_HANDLE_VALUE);

  int total_process_count = 0;
  int total_peak_gdi_count = 0;
  int total_gdi_count = 0;
  int total_user_count = 0;
  int child_count = 0;
  int child_peak_gdi_count = 0;
  int child_gdi_count = 0;
  int child_user_count = 0;
  Alias(&total_process_count);
  Alias(&total_peak_gdi_count);
  Alias(&total_gdi_count);
  Alias(&total_user_count);
  Alias(&child_count);
  Alias(&child_peak_gdi_count);
  Alias(&child_gdi_count);
  Alias(&child_user_count);

  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
    if (!process)
      continue;
    ++total_process_count;
    int gdi_count = static_cast<int>(::GetGuiResources(process, GR_GDIOBJECTS));
    int user_count =
        static_cast<int>(::GetGuiResources(process, GR_USEROBJECTS));
    ::CloseHandle(process);
    total_gdi_count += gdi_count;
    total_user_count += user_count;
    if (gdi_count > total_peak_gdi_count)
      total_peak_gdi_count = gdi_count;
    if (entry.th32ParentProcessID == parent_pid) {
      ++child_count;
      child_gdi_count += gdi_count;
      child_user_count += user_count;
      if (gdi_count > child_peak_gdi_count)
        child_peak_gdi_count = gdi_count;
    }
  }
  ::CloseHandle(snapshot);
  IMMEDIATE_CRASH();
}

}  // namespace

bool IsUser32AndGdi32Available() {
  static const bool available = ComputeUser32AndGdi32Available();
  return available;
}

// Every figure lives in a local passed to Alias so that the crash dump of
// this frame shows it; each way out is a distinct trap so the dump also
// tells which case was met.
void CollectGDIUsageAndDie(BITMAPINFOHEADER* header, HANDLE shared_section) {
  DWORD last_error = ::GetLastError();
  bool is_gdi_available = IsUser32AndGdi32Available();
  LONG width = header ? header->biWidth : 0;
  LONG height = header ? header->biHeight : 0;
  DWORD num_gdi_handles =
      ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  DWORD num_user_handles =
      ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  Alias(&last_error);
  Alias(&is_gdi_available);
  Alias(&width);
  Alias(&height);
  Alias(&num_gdi_handles);
  Alias(&num_user_handles);

  if (num_gdi_handles == 0) {
    DWORD get_gui_resources_error = ::GetLastError();
    Alias(&get_gui_resources_error);
    IMMEDIATE_CRASH();
  }

  if (num_gdi_handles >= kGdiObjectCountLimit)
    IMMEDIATE_CRASH();

  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  BOOL have_counters = ::GetProcessMemoryInfo(
      ::GetCurrentProcess(),
      reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  Alias(&counters);
  if (!have_counters || counters.PagefileUsage > kLargeMemoryUsage ||
      counters.PrivateUsage > kLargeMemoryUsage) {
    IMMEDIATE_CRASH();
  }

  if (llabs(static_cast<LONGLONG>(height)) * width >= kLargeBitmapPixels) {
    // Does a tiny bitmap work where the large one did not? Tells exhausted
    // resources from an oversized request.
    BITMAPINFOHEADER small_header = *header;
    small_header.biWidth = 5;
    small_header.biHeight = -5;
    void* small_data = nullptr;
    HBITMAP small_bitmap = nullptr;
    // gdi32 is loaded by whoever drew the failing bitmap; this module does
    // not link it.
    HMODULE gdi32 = ::GetModuleHandleW(L"gdi32.dll");
    auto create_dib_section =
        gdi32 ? reinterpret_cast<CreateDIBSectionFunction>(
                    ::GetProcAddress(gdi32, "CreateDIBSection"))
              : nullptr;
    auto delete_object = gdi32 ? reinterpret_cast<DeleteObjectFunction>(
                                     ::GetProcAddress(gdi32, "DeleteObject"))
                               : nullptr;
    if (create_dib_section && delete_object) {
      small_bitmap = create_dib_section(
          nullptr, reinterpret_cast<BITMAPINFO*>(&small_header), 0, &small_data,
          shared_section, 0);
    }
    if (!small_bitmap)
      IMMEDIATE_CRASH();
    delete_object(small_bitmap);
  }

  CollectChildGDIUsageAndDie(::GetCurrentProcessId());
}

}  // namespace debug
}  // namespace base
