#include "desktop/windows/installer/utils/wmi_util.h"

#include <objbase.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kCimV2Namespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kProcessClass[] = L"Win32_Process";
constexpr wchar_t kCreateMethod[] = L"Create";

}  // namespace

bool ConnectToWmi(bool set_blanket, IWbemServices** services) {
  ComPtr<IWbemLocator> locator;
  HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
  if (FAILED(hr)) {
    LOG(ERROR) << "Could not create the WMI locator, hr=0x" << std::hex << hr;
    return false;
  }
  ComPtr<IWbemServices> wmi_services;
  base::win::ScopedBstr name(kCimV2Namespace);
  hr = locator->ConnectServer(name.Get(), nullptr, nullptr, nullptr, 0, nullptr,
                              nullptr, &wmi_services);
  if (FAILED(hr)) {
    LOG(ERROR) << "Could not connect to WMI, hr=0x" << std::hex << hr;
    return false;
  }
  if (set_blanket) {
    hr = ::CoSetProxyBlanket(wmi_services.Get(), RPC_C_AUTHN_WINNT,
                             RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
      LOG(ERROR) << "Could not set the WMI proxy blanket, hr=0x" << std::hex
                 << hr;
      return false;
    }
  }
  *services = wmi_services.Detach();
  return true;
}

bool CreateWmiMethodParams(IWbemServices* services,
                           const base::string16& class_name,
                           const base::string16& method_name,
                           IWbemClassObject** in_params) {
  ComPtr<IWbemClassObject> class_object;
  base::win::ScopedBstr class_bstr(class_name.c_str());
  HRESULT hr =
      services->GetObject(class_bstr.Get(), 0, nullptr, &class_object, nullptr);
  if (FAILED(hr)) {
    LOG(ERROR) << "No WMI class " << class_name << ", hr=0x" << std::hex << hr;
    return false;
  }
  ComPtr<IWbemClassObject> definition;
  hr = class_object->GetMethod(method_name.c_str(), 0, &definition, nullptr);
  if (FAILED(hr) || !definition) {
    LOG(ERROR) << "No WMI method " << class_name << "." << method_name
               << " with parameters, hr=0x" << std::hex << hr;
    return false;
  }
  hr = definition->SpawnInstance(0, in_params);
  if (FAILED(hr)) {
    LOG(ERROR) << "Could not make the parameters of " << method_name
               << ", hr=0x" << std::hex << hr;
    return false;
  }
  return true;
}

bool LaunchProcessThroughWmi(const base::string16& command_line,
                             int* process_id) {
  ComPtr<IWbemServices> services;
  if (!ConnectToWmi(true, &services))
    return false;
  ComPtr<IWbemClassObject> in_params;
  if (!CreateWmiMethodParams(services.Get(), kProcessClass, kCreateMethod,
                             &in_params)) {
    return false;
  }
  base::win::ScopedVariant command(command_line.c_str());
  HRESULT hr =
      in_params->Put(L"CommandLine", 0, const_cast<VARIANT*>(command.ptr()), 0);
  if (FAILED(hr)) {
    LOG(ERROR) << "Could not set the command line, hr=0x" << std::hex << hr;
    return false;
  }
  ComPtr<IWbemClassObject> out_params;
  base::win::ScopedBstr class_bstr(kProcessClass);
  base::win::ScopedBstr method_bstr(kCreateMethod);
  hr = services->ExecMethod(class_bstr.Get(), method_bstr.Get(), 0, nullptr,
                            in_params.Get(), &out_params, nullptr);
  if (FAILED(hr) || !out_params) {
    LOG(ERROR) << "WMI could not run " << kProcessClass << "." << kCreateMethod
               << ", hr=0x" << std::hex << hr;
    return false;
  }
  // The method's own answer: 0 when the process was made, else why not (9:
  // the path was not found).
  base::win::ScopedVariant return_value;
  hr = out_params->Get(L"ReturnValue", 0, return_value.Receive(), nullptr,
                       nullptr);
  if (FAILED(hr) || return_value.type() != VT_I4 ||
      V_I4(return_value.ptr()) != 0) {
    LOG(ERROR) << "WMI did not start " << command_line << ", ReturnValue "
               << (return_value.type() == VT_I4 ? V_I4(return_value.ptr())
                                                : -1);
    return false;
  }
  base::win::ScopedVariant pid;
  hr = out_params->Get(L"ProcessId", 0, pid.Receive(), nullptr, nullptr);
  if (FAILED(hr) || pid.type() != VT_I4 || V_I4(pid.ptr()) == 0) {
    LOG(ERROR) << "WMI gave no process id for " << command_line;
    return false;
  }
  if (process_id)
    *process_id = V_I4(pid.ptr());
  return true;
}

std::string ArchitectureToString(int architecture) {
  switch (architecture) {
    case 0:
      return "X86";
    case 1:
      return "X64";
    case 2:
      return "invalid";
    default:
      return std::string();
  }
}

std::string ArchitectureToLowerCaseString(int architecture) {
  return base::ToLowerASCII(ArchitectureToString(architecture));
}

}  // namespace installer
