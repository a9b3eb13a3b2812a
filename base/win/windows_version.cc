#include "base/win/windows_version.h"

#include <windows.h>

#include <atomic>

#include "base/check.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"

namespace base {
namespace win {

namespace {

std::atomic<OSInfo*> g_os_info{nullptr};
std::atomic<OSInfo*> g_os_info_override{nullptr};

constexpr wchar_t kCurrentVersionKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Values of the Windows headers, spelled out so that they do not depend on
// the headers' target version.
constexpr WORD kSuitePersonal = 0x0200;  // VER_SUITE_PERSONAL
constexpr WORD kSuiteWhServer = 0x8000;  // VER_SUITE_WH_SERVER
constexpr BYTE kNtWorkstation = 1;       // VER_NT_WORKSTATION

FARPROC GetKernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

Wow64State ReadWow64State() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto is_wow64_process = reinterpret_cast<IsWow64ProcessFunction>(
      GetKernel32Function("IsWow64Process"));
  if (!is_wow64_process)
    return WOW64_OFF;
  BOOL is_wow64 = FALSE;
  if (!is_wow64_process(GetCurrentProcess(), &is_wow64))
    return WOW64_UNDETERMINED;
  return is_wow64 ? WOW64_ON : WOW64_OFF;
}

}  // namespace

// static
OSInfo* OSInfo::GetInstance() {
  OSInfo* override_info = g_os_info_override.load(std::memory_order_acquire);
  if (override_info)
    return override_info;
  OSInfo* info = g_os_info.load(std::memory_order_acquire);
  if (info)
    return info;
  OSInfo* fresh = new OSInfo();
  OSInfo* expected = nullptr;
  if (g_os_info.compare_exchange_strong(expected, fresh,
                                        std::memory_order_acq_rel)) {
    return fresh;
  }
  delete fresh;
  return expected;
}

OSInfo::OSInfo() {
  record_.wow64_status = ReadWow64State();

  OSVERSIONINFOEXW version_info = {};
  version_info.dwOSVersionInfoSize = sizeof(version_info);
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version_info));
  record_.version_number.major = version_info.dwMajorVersion;
  record_.version_number.minor = version_info.dwMinorVersion;
  record_.version_number.build = version_info.dwBuildNumber;
  record_.version_number.patch =
      ReadUpdateBuildRevision(HKEY_LOCAL_MACHINE, kCurrentVersionKey);
  record_.version = MajorMinorBuildToVersion(version_info.dwMajorVersion,
                                             version_info.dwMinorVersion,
                                             version_info.dwBuildNumber);
  record_.service_pack.major = version_info.wServicePackMajor;
  record_.service_pack.minor = version_info.wServicePackMinor;
  record_.service_pack_str = WideToUTF8(version_info.szCSDVersion);

  SYSTEM_INFO system_info = {};
  GetNativeSystemInfo(&system_info);
  record_.architecture =
      ProcessorArchitectureToOsArchitecture(system_info.wProcessorArchitecture);
  record_.processors = static_cast<int>(system_info.dwNumberOfProcessors);
  record_.allocation_granularity = system_info.dwAllocationGranularity;

  const DWORD major = version_info.dwMajorVersion;
  const DWORD minor = version_info.dwMinorVersion;
  if (major == 6 || major == 10) {
    using GetProductInfoFunction =
        BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    auto get_product_info = reinterpret_cast<GetProductInfoFunction>(
        GetKernel32Function("GetProductInfo"));
    DWORD product_type = 0;
    if (get_product_info)
      get_product_info(major, minor, 0, 0, &product_type);
    record_.edition = ProductTypeToEditionFamily(product_type);
  } else if (major == 5 && minor == 1) {
    record_.edition = (version_info.wSuiteMask & kSuitePersonal)
                          ? EDITION_HOME
                          : EDITION_PROFESSIONAL;
  } else if (major == 5 && minor == 2) {
    if (version_info.wProductType == kNtWorkstation &&
        record_.architecture == ARCH_X64) {
      record_.edition = EDITION_PROFESSIONAL;
    } else if (version_info.wSuiteMask & kSuiteWhServer) {
      record_.edition = EDITION_HOME;
    } else {
      record_.edition = EDITION_SERVER;
    }
  } else {
    record_.edition = EDITION_HOME;
  }
}

OSInfo::OSInfo(const Record& record) : record_(record) {}

// static
Version OSInfo::MajorMinorBuildToVersion(uint32_t major,
                                         uint32_t minor,
                                         uint32_t build) {
  if (major == 10) {
    if (build >= 15063)
      return WIN10_RS2;
    if (build >= 14393)
      return WIN10_RS1;
    if (build >= 10586)
      return WIN10_TH2;
    return WIN10;
  }
  if (major > 6)
    return WIN_LAST;
  if (major == 6) {
    switch (minor) {
      case 0:
        return VISTA;
      case 1:
        return WIN7;
      case 2:
        return WIN8;
      default:
        return WIN8_1;
    }
  }
  if (major == 5 && minor != 0)
    return minor == 1 ? XP : SERVER_2003;
  return PRE_XP;
}

// static
EditionFamily OSInfo::ProductTypeToEditionFamily(DWORD product_type) {
  switch (product_type) {
    case 1:   // Ultimate.
    case 48:  // Professional.
      return EDITION_PROFESSIONAL;
    case 7:
    case 8:
    case 9:
    case 10:
    case 12:
    case 13:
    case 14:
    case 15:
    case 17:
    case 18:
    case 25:
      return EDITION_SERVER;
    case 4:
    case 6:
    case 16:
    case 27:
    case 70:
    case 72:
    case 84:
    case 125:
    case 126:
    case 129:
    case 130:
      return EDITION_ENTERPRISE;
    case 121:
    case 122:
      return EDITION_EDUCATION;
    default:
      return EDITION_HOME;
  }
}

// static
OsArchitecture OSInfo::ProcessorArchitectureToOsArchitecture(WORD arch) {
  switch (arch) {
    case 0:  // PROCESSOR_ARCHITECTURE_INTEL
      return ARCH_X86;
    case 9:  // PROCESSOR_ARCHITECTURE_AMD64
      return ARCH_X64;
    case 6:  // PROCESSOR_ARCHITECTURE_IA64
      return ARCH_IA64;
    default:
      return ARCH_OTHER;
  }
}

// static
uint32_t OSInfo::ReadUpdateBuildRevision(HKEY root, const wchar_t* subkey) {
  RegKey key(root, subkey, KEY_QUERY_VALUE);
  DWORD ubr = 0;
  // Written only on success: a missing or odd value leaves 0.
  if (key.Valid())
    (void)key.ReadValueDW(L"UBR", &ubr);
  return ubr;
}

ScopedOSInfoOverride::ScopedOSInfoOverride(const OSInfo::Record& record)
    : info_(record),
      previous_(
          g_os_info_override.exchange(&info_, std::memory_order_acq_rel)) {}

ScopedOSInfoOverride::~ScopedOSInfoOverride() {
  OSInfo* current =
      g_os_info_override.exchange(previous_, std::memory_order_acq_rel);
  CHECK(current == &info_);
}

Version GetVersion() {
  return OSInfo::GetInstance()->version();
}

}  // namespace win
}  // namespace base
