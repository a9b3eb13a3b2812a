#include "desktop/windows/installer/service/service_utils.h"

#include <windows.h>
#include <objbase.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <type_traits>
#include <vector>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/scope_guard.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/win/shortcut.h"
#include "base/win/system_library.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

namespace {

// The system refuses longer paths for folders (room is kept for an 8.3 file
// name below them) and for files.
constexpr size_t kMaxFolderPathLength = 248;
constexpr size_t kMaxFilePathLength = 260;

// UNLEN + 1.
constexpr DWORD kUserNameBufferLength = 257;

constexpr DWORD kFormatMessageBufferLength = 256;
constexpr DWORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

using SHGetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID,
                                                      DWORD,
                                                      HANDLE,
                                                      PWSTR*);

bool IsPathSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Device names the system reserves in every folder, with or without an
// extension. The system reserves every serial and parallel port from 1 to 9,
// and 1 to 3 also written as superscript digits, so the ports an older list
// forgot would open a device too. The console's input and output buffers
// open by name as well.
bool IsReservedDeviceName(base::StringPiece16 stem) {
  static const wchar_t* const kReserved[] = {L"CON",    L"AUX",    L"PRN",
                                             L"NUL",    L"CONIN$", L"CONOUT$"};
  for (const wchar_t* name : kReserved) {
    if (base::EqualsCaseInsensitiveASCII(stem, name))
      return true;
  }
  if (stem.size() != 4)
    return false;
  const wchar_t digit = stem[3];
  if ((digit < L'1' || digit > L'9') && digit != L'\u00B9' &&
      digit != L'\u00B2' && digit != L'\u00B3') {
    return false;
  }
  const base::StringPiece16 port = stem.substr(0, 3);
  return base::EqualsCaseInsensitiveASCII(port, L"COM") ||
         base::EqualsCaseInsensitiveASCII(port, L"LPT");
}

bool IsValidPathComponent(base::StringPiece16 component) {
  for (wchar_t c : component) {
    if ((c >= 1 && c <= 31) || c == L'?' || c == L'"' || c == L'<' ||
        c == L'>' || c == L'*' || c == L'|' || c == L':') {
      return false;
    }
  }
  if (component.front() == L' ')
    return false;
  if (component.back() == L' ' || component.back() == L'.')
    return false;
  // A leading dot does not start an extension: ".con" is not the console.
  size_t dot = component.find(L'.', 1);
  return !IsReservedDeviceName(component.substr(0, dot));
}

// Moves |pos| past the text up to the next separator and the separator
// itself; false when there is no separator.
bool SkipUncPart(const std::wstring& path, size_t* pos) {
  size_t separator = path.find_first_of(L"\\/", *pos);
  if (separator == std::wstring::npos)
    return false;
  *pos = separator + 1;
  return true;
}

using GetUserNameExWFunction = BOOLEAN(WINAPI*)(EXTENDED_NAME_FORMAT,
                                                LPWSTR,
                                                PULONG);

// secur32 is not among the DLLs the loader always takes from the system
// folder, so it is not imported: an installer runs from a download folder.
GetUserNameExWFunction GetUserNameExWFromSystem() {
  static const GetUserNameExWFunction function = [] {
    HMODULE secur32 = base::win::LoadSystemLibrary(L"secur32.dll");
    return secur32 ? reinterpret_cast<GetUserNameExWFunction>(
                         ::GetProcAddress(secur32, "GetUserNameExW"))
                   : nullptr;
  }();
  return function;
}

// GetUserNameExW asked for its length first, then read.
bool GetUserNameInFormat(EXTENDED_NAME_FORMAT format, base::string16* name) {
  GetUserNameExWFunction get_user_name_ex = GetUserNameExWFromSystem();
  if (!get_user_name_ex)
    return false;
  ULONG length = 0;
  if (!get_user_name_ex(format, nullptr, &length) &&
      ::GetLastError() != ERROR_MORE_DATA) {
    return false;
  }
  std::vector<wchar_t> buffer(length + 1);
  length = static_cast<ULONG>(buffer.size());
  if (!get_user_name_ex(format, buffer.data(), &length))
    return false;
  name->assign(buffer.data());
  return true;
}

}  // namespace

bool GetKnownFolderPath(REFKNOWNFOLDERID folder_id,
                        int csidl,
                        base::FilePath* path,
                        bool create) {
  // shell32 is loaded by the process already; this only takes the system
  // folder's copy, never one planted beside the installer.
  HMODULE shell32 = base::win::LoadSystemLibrary(L"shell32.dll");
  base::ScopeGuard free_shell32([shell32]() {
    if (shell32)
      ::FreeLibrary(shell32);
  });
  auto get_known_folder_path =
      shell32 ? reinterpret_cast<SHGetKnownFolderPathFunction>(
                    ::GetProcAddress(shell32, "SHGetKnownFolderPath"))
              : nullptr;
  bool found = false;
  if (get_known_folder_path) {
    base::win::ScopedCoMem<wchar_t> folder;
    HRESULT hr = get_known_folder_path(folder_id, 0, nullptr, folder.receive());
    if (FAILED(hr) && create) {
      folder.reset();
      hr = get_known_folder_path(folder_id, KF_FLAG_CREATE | KF_FLAG_INIT,
                                 nullptr, folder.receive());
    }
    if (SUCCEEDED(hr) && folder.is_valid()) {
      *path = base::FilePath(folder.get());
      found = true;
    } else {
      VLOG(1) << "No known folder, error 0x" << std::hex << hr;
    }
  } else {
    wchar_t folder[MAX_PATH] = {};
    HRESULT hr =
        ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(hr) && hr != E_INVALIDARG && create) {
      hr = ::SHGetFolderPathW(
          nullptr, csidl | CSIDL_FLAG_CREATE | CSIDL_FLAG_DONT_UNEXPAND,
          nullptr, SHGFP_TYPE_CURRENT, folder);
    }
    if (SUCCEEDED(hr)) {
      *path = base::FilePath(folder);
      found = true;
    }
  }
  return found;
}

void RegistryRootToObjectNamePrefix(HKEY root,
                                    const base::string16& key_path,
                                    base::string16* object_name) {
  const wchar_t* prefix = L"";
  if (root == HKEY_CLASSES_ROOT)
    prefix = L"CLASSES_ROOT\\";
  else if (root == HKEY_CURRENT_USER)
    prefix = L"CURRENT_USER\\";
  else if (root == HKEY_LOCAL_MACHINE)
    prefix = L"MACHINE\\";
  else if (root == HKEY_USERS)
    prefix = L"USERS\\";
  *object_name = prefix + key_path;
}

bool IsValidPathName(const base::FilePath& path, bool is_folder) {
  const std::wstring& text = path.value();
  if (text.empty() ||
      text.size() >= (is_folder ? kMaxFolderPathLength : kMaxFilePathLength)) {
    return false;
  }
  size_t pos = 0;
  if (text.size() >= 2 && text[1] == L':') {
    pos = 2;
  } else if (text.size() >= 2 && IsPathSeparator(text[0]) &&
             IsPathSeparator(text[1])) {
    pos = 2;
    // Server and share.
    if (!SkipUncPart(text, &pos) || !SkipUncPart(text, &pos))
      return false;
  }
  while (pos < text.size()) {
    if (IsPathSeparator(text[pos])) {
      ++pos;
      continue;
    }
    size_t end = text.find_first_of(L"\\/", pos);
    if (end == std::wstring::npos)
      end = text.size();
    if (!IsValidPathComponent(
            base::StringPiece16(text.data() + pos, end - pos))) {
      return false;
    }
    pos = end;
  }
  return true;
}

bool GetFileInformationByPath(const base::FilePath& path,
                              BY_HANDLE_FILE_INFORMATION* info) {
  base::File file(path, base::File::FLAG_OPEN);
  if (!file.IsValid())
    return false;
  return ::GetFileInformationByHandle(file.GetPlatformFile(), info) != FALSE;
}

bool GetCurrentUserName(base::string16* name) {
  wchar_t buffer[kUserNameBufferLength] = {};
  DWORD length = kUserNameBufferLength;
  if (!::GetUserNameW(buffer, &length))
    return false;
  name->assign(buffer);
  return true;
}

bool GetSamCompatibleUserName(base::string16* name) {
  return GetUserNameInFormat(NameSamCompatible, name);
}

bool GetUserDisplayName(base::string16* name) {
  return GetUserNameInFormat(NameDisplay, name);
}

base::string16 MakeKernelObjectName(const base::string16& name,
                                    const base::FilePath& base,
                                    bool global) {
  base::string16 object_name = name + L"/" + base.value();
  std::replace(object_name.begin(), object_name.end(), L'\\', L'/');
  return (global ? L"Global\\" : L"Local\\") + object_name;
}

bool IsShortcutToTarget(const base::FilePath& shortcut,
                        const base::FilePath& target,
                        const BY_HANDLE_FILE_INFORMATION* target_info) {
  VLOG(1) << "Testing shortcut" << shortcut.value();
  if (shortcut.empty() || !base::PathExists(shortcut))
    return false;
  base::FilePath resolved;
  if (!base::win::ResolveShortcut(shortcut, &resolved, nullptr))
    return false;
  return IsSameFile(resolved, target, target_info);
}

bool IsSameFile(const base::FilePath& path,
                const base::FilePath& target,
                const BY_HANDLE_FILE_INFORMATION* target_info) {
  if (base::FilePath::CompareIgnoreCase(path.value(), target.value()) == 0)
    return true;
  if (!target_info)
    return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByPath(path, &info))
    return false;
  return info.dwVolumeSerialNumber == target_info->dwVolumeSerialNumber &&
         info.nFileIndexHigh == target_info->nFileIndexHigh &&
         info.nFileIndexLow == target_info->nFileIndexLow;
}

base::FilePath GetEffectiveShortcutTarget(
    const base::FilePath&,
    const base::FilePath& shortcut_target,
    const base::win::ShortcutProperties&) {
  return shortcut_target;
}

std::string GetBrowserExeName() {
  return GetProductShortName() + ".exe";
}

int GetExecutableBitness(const base::FilePath& path) {
  base::MemoryMappedFile image;
  if (!base::PathExists(path) || !image.Initialize(path))
    return EXECUTABLE_NONE;
  const uint8_t* data = image.data();
  const size_t length = image.length();
  auto read16 = [data](size_t at) {
    return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
  };
  auto read32 = [data](size_t at) {
    return static_cast<uint32_t>(data[at]) |
           (static_cast<uint32_t>(data[at + 1]) << 8) |
           (static_cast<uint32_t>(data[at + 2]) << 16) |
           (static_cast<uint32_t>(data[at + 3]) << 24);
  };
  // The DOS header's signature and, at byte 60, the offset of the image
  // header: its signature "PE\0\0" and the 16-bit machine field.
  constexpr size_t kNtHeaderOffsetAt = 60;
  if (length < kNtHeaderOffsetAt + 4 || read16(0) != IMAGE_DOS_SIGNATURE)
    return EXECUTABLE_NONE;
  const uint32_t nt_header = read32(kNtHeaderOffsetAt);
  if (nt_header > length || length - nt_header < 4 + 2 ||
      read32(nt_header) != IMAGE_NT_SIGNATURE) {
    return EXECUTABLE_NONE;
  }
  return read16(nt_header + 4) == IMAGE_FILE_MACHINE_I386 ? EXECUTABLE_X86
                                                          : EXECUTABLE_OTHER;
}

std::string GetStreamName(int stream) {
  switch (stream) {
    case 1:
      return "Nightly";
    case 2:
      return "Developer";
    case 3:
      return "Next";
    case 4:
      return "Stable";
    default:
      return GetChannelName();
  }
}

std::string GetCurrentStreamName() {
  return GetStreamName(GetChannelId());
}

base::string16 GetCompanyRegistryKey() {
  return L"Software\\" + base::ASCIIToUTF16(GetCompanyName());
}

base::string16 GetUninstallRegistryKey() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
}

bool IsParentPathIgnoreCase(const base::FilePath& parent,
                            const base::FilePath& child) {
  return base::FilePath(base::ToLowerASCII(parent.value()))
      .IsParent(base::FilePath(base::ToLowerASCII(child.value())));
}

namespace {

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
using ScopedServiceHandle =
    std::unique_ptr<std::remove_pointer<SC_HANDLE>::type, ServiceHandleCloser>;

}  // namespace

bool StartServiceIfStopped(const wchar_t* name) {
  ScopedServiceHandle manager(
      ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    PLOG(WARNING) << "Cannot reach the Service Control Manager";
    return false;
  }
  // Without the right to start it, its state still tells whether it runs.
  ScopedServiceHandle service(
      ::OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS | SERVICE_START));
  if (!service)
    service.reset(::OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
  if (!service) {
    PLOG(WARNING) << "Cannot open the service " << name;
    return false;
  }
  SERVICE_STATUS status = {};
  if (!::QueryServiceStatus(service.get(), &status)) {
    PLOG(WARNING) << "Cannot read the state of the service " << name;
    return false;
  }
  if (status.dwCurrentState == SERVICE_RUNNING ||
      status.dwCurrentState == SERVICE_START_PENDING) {
    return true;
  }
  if (::StartServiceW(service.get(), 0, nullptr) ||
      ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) {
    LOG(INFO) << "Asked the service " << name << " to start";
    return true;
  }
  LOG(WARNING) << "Cannot start the service " << name << ": "
               << FormatWin32Error(::GetLastError());
  return false;
}

std::string FormatWin32Error(DWORD code) {
  char buffer[kFormatMessageBufferLength] = {};
  DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      kUsEnglish, buffer, kFormatMessageBufferLength, nullptr);
  if (!length) {
    return base::StringPrintf("Error (0x%lX) while retrieving error. (0x%lX)",
                              ::GetLastError(), code);
  }
  return base::CollapseWhitespaceASCII(std::string(buffer, length), true) +
         base::StringPrintf(" (0x%lX)", code);
}

bool IsVersionFolderName(const base::FilePath& path, uint32_t* major) {
  std::vector<base::string16> pieces =
      base::SplitString(path.BaseName().value(), L".", base::TRIM_WHITESPACE,
                        base::SPLIT_WANT_NONEMPTY);
  if (pieces.size() != 4 && pieces.size() != 5)
    return false;
  for (const base::string16& piece : pieces) {
    for (wchar_t c : piece) {
      if (!(c >= L'0' && c <= L'9') && c != L'_')
        return false;
    }
  }
  unsigned int first = 0;
  if (!base::StringToUint(pieces[0], &first))
    return false;
  if (major)
    *major = first;
  return true;
}

}  // namespace installer
