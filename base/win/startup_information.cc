#include "base/win/startup_information.h"

#include <stdlib.h>
#include <string.h>

namespace {

typedef BOOL(WINAPI* InitializeProcThreadAttributeListFunction)(
    LPPROC_THREAD_ATTRIBUTE_LIST attribute_list,
    DWORD attribute_count,
    DWORD flags,
    PSIZE_T size);
typedef BOOL(WINAPI* UpdateProcThreadAttributeFunction)(
    LPPROC_THREAD_ATTRIBUTE_LIST attribute_list,
    DWORD flags,
    DWORD_PTR attribute,
    PVOID value,
    SIZE_T size,
    PVOID previous_value,
    PSIZE_T return_size);
typedef VOID(WINAPI* DeleteProcThreadAttributeListFunction)(
    LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList);

// Written without a lock: every thread that looks them up stores the same
// addresses.
InitializeProcThreadAttributeListFunction initialize_proc_thread_attribute_list;
UpdateProcThreadAttributeFunction update_proc_thread_attribute_list;
DeleteProcThreadAttributeListFunction delete_proc_thread_attribute_list;

// True when all three functions are known; looks them up again while any
// is missing.
bool LookUpAttributeListFunctions() {
  if (initialize_proc_thread_attribute_list &&
      update_proc_thread_attribute_list && delete_proc_thread_attribute_list) {
    return true;
  }
  HMODULE module = ::GetModuleHandleW(L"kernel32.dll");
  if (!module)
    return false;
  initialize_proc_thread_attribute_list =
      reinterpret_cast<InitializeProcThreadAttributeListFunction>(
          ::GetProcAddress(module, "InitializeProcThreadAttributeList"));
  update_proc_thread_attribute_list =
      reinterpret_cast<UpdateProcThreadAttributeFunction>(
          ::GetProcAddress(module, "UpdateProcThreadAttribute"));
  delete_proc_thread_attribute_list =
      reinterpret_cast<DeleteProcThreadAttributeListFunction>(
          ::GetProcAddress(module, "DeleteProcThreadAttributeList"));
  return initialize_proc_thread_attribute_list &&
         update_proc_thread_attribute_list && delete_proc_thread_attribute_list;
}

}  // namespace

namespace base {
namespace win {

StartupInformation::StartupInformation() {
  memset(&startup_info_, 0, sizeof(startup_info_));
  startup_info_.StartupInfo.cb = sizeof(startup_info_);
}

StartupInformation::~StartupInformation() {
  if (startup_info_.lpAttributeList) {
    if (delete_proc_thread_attribute_list)
      delete_proc_thread_attribute_list(startup_info_.lpAttributeList);
    free(startup_info_.lpAttributeList);
  }
}

bool StartupInformation::InitializeProcThreadAttributeList(
    DWORD attribute_count) {
  if (startup_info_.StartupInfo.cb != sizeof(startup_info_) ||
      startup_info_.lpAttributeList) {
    return false;
  }
  if (!LookUpAttributeListFunctions())
    return false;

  // The first call only reports the size the list needs.
  SIZE_T size = 0;
  initialize_proc_thread_attribute_list(nullptr, attribute_count, 0, &size);
  if (size == 0)
    return false;

  startup_info_.lpAttributeList =
      static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(malloc(size));
  if (!startup_info_.lpAttributeList)
    return false;
  if (!initialize_proc_thread_attribute_list(startup_info_.lpAttributeList,
                                             attribute_count, 0, &size)) {
    free(startup_info_.lpAttributeList);
    startup_info_.lpAttributeList = nullptr;
    return false;
  }
  return true;
}

bool StartupInformation::UpdateProcThreadAttribute(DWORD_PTR attribute,
                                                   void* value,
                                                   size_t size) {
  if (!startup_info_.lpAttributeList || !update_proc_thread_attribute_list)
    return false;
  return !!update_proc_thread_attribute_list(startup_info_.lpAttributeList, 0,
                                             attribute, value, size, nullptr,
                                             nullptr);
}

}  // namespace win
}  // namespace base
