#include "desktop/windows/installer/service/direct_default_handler.h"

#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>
#include <stdint.h>
#include <wrl/client.h>

#include <iterator>

#include "base/features/feature_registry.h"
#include "base/win/scoped_generic.h"
#include "base/win/system_library.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_experiments.h"

namespace installer {

using Microsoft::WRL::ComPtr;

namespace {

// The first build that ignores the internal association registration.
constexpr uint32_t kHandlerRoadBuild = 16299;
constexpr uint32_t kHandlerRoadRevision = 248;

// The internal registration interfaces of successive Windows builds; a
// build answers to one of them.
constexpr IID kInternalRegistrationIids[] = {
    {0x5E35B9FB,
     0xFB98,
     0x4565,
     {0x8E, 0x0D, 0xB7, 0x46, 0x8D, 0xA3, 0x1B, 0x81}},
    {0x14EBCC88,
     0x2831,
     0x4FC8,
     {0xA5, 0xDF, 0x9F, 0x36, 0xA8, 0x1D, 0xB1, 0x2C}},
    {0x1C5C9D10,
     0x1225,
     0x4C97,
     {0x8C, 0x51, 0x98, 0xE1, 0xB6, 0xF0, 0xD4, 0xE0}},
    {0x229D59E2,
     0xF94A,
     0x402E,
     {0x9A, 0x9F, 0x3B, 0x84, 0xA1, 0xAC, 0xED, 0x77}},
    {0xC7225171,
     0xB9A7,
     0x4CF7,
     {0x86, 0x1F, 0x85, 0xAB, 0x7B, 0xA3, 0xC5, 0xB2}},
};

constexpr IID kInternalHandlerIid = {
    0xCA635855,
    0xB44E,
    0x4541,
    {0x95, 0x91, 0x9F, 0xAA, 0x53, 0x35, 0x4A, 0x53}};

// The extension registration interfaces, likewise by build.
constexpr IID kExtensionRegistrationIids[] = {
    {0xFC0BE3A5,
     0x6BE4,
     0x423C,
     {0xB2, 0x87, 0x24, 0x89, 0x34, 0xE3, 0x79, 0xC7}},
    {0x14EBCC88,
     0x2831,
     0x4FC8,
     {0xA5, 0xDF, 0x9F, 0x36, 0xA8, 0x1D, 0xB1, 0x2C}},
    {0x2A848E25,
     0xD688,
     0x4AA3,
     {0x8E, 0x55, 0x0C, 0x16, 0xCB, 0x3A, 0x2D, 0xFB}},
};

// Every build has a handler of "http" for the system's own browser: when
// it cannot be found, neither can ours.
constexpr wchar_t kHttpProtocol[] = L"http";
constexpr wchar_t kSystemBrowserName[] = L"Internet Explorer";

using SHAssocEnumHandlersForProtocolByApplicationFunction =
    HRESULT(WINAPI*)(PCWSTR protocol, REFIID riid, void** handlers);
using SHCreateAssociationRegistrationFunction = HRESULT(WINAPI*)(REFIID riid,
                                                                 void** object);

struct ShellFunctions {
  SHAssocEnumHandlersForProtocolByApplicationFunction enum_handlers;
  SHCreateAssociationRegistrationFunction create_registration;
};

// Looked up at run time: not every system exports them (Wine has no
// SHAssocEnumHandlersForProtocolByApplication), and an import the loader
// cannot bind ends the process at the first call. shell32 stays loaded for
// the process's lifetime, since the objects handed out live in it.
const ShellFunctions& GetShellFunctions() {
  static const ShellFunctions functions = [] {
    ShellFunctions result = {};
    HMODULE shell32 = base::win::LoadSystemLibrary(L"shell32.dll");
    if (!shell32)
      return result;
    result.enum_handlers =
        reinterpret_cast<SHAssocEnumHandlersForProtocolByApplicationFunction>(
            ::GetProcAddress(shell32,
                             "SHAssocEnumHandlersForProtocolByApplication"));
    result.create_registration =
        reinterpret_cast<SHCreateAssociationRegistrationFunction>(
            ::GetProcAddress(shell32, "SHCreateAssociationRegistration"));
    return result;
  }();
  return functions;
}

// The internal interface of the first handler whose display name contains
// |application_name| (letter case matters), or null.
IUnknown* FindHandlerIn(IEnumAssocHandlers* handlers,
                        const base::string16& application_name) {
  for (;;) {
    ComPtr<IAssocHandler> handler;
    ULONG fetched = 0;
    if (FAILED(handlers->Next(1, handler.GetAddressOf(), &fetched)) ||
        fetched == 0 || !handler) {
      return nullptr;
    }
    base::win::ScopedCoMem<wchar_t> ui_name;
    if (FAILED(handler->GetUIName(ui_name.receive())) || !ui_name.is_valid())
      continue;
    if (base::string16(ui_name.get()).find(application_name) ==
        base::string16::npos) {
      continue;
    }
    IUnknown* internal_handler = nullptr;
    if (SUCCEEDED(handler->QueryInterface(
            kInternalHandlerIid,
            reinterpret_cast<void**>(&internal_handler))) &&
        internal_handler) {
      return internal_handler;
    }
  }
}

}  // namespace

// The unpublished interfaces. Only the method called is known, by its slot;
// the methods before it hold the slots and are never called. They stay out
// of the unnamed namespace: there the compiler, seeing no implementation in
// this file, would take the calls for unreachable.
struct InternalAssociationRegistration : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAppAsDefault(LPCWSTR app_registry_name,
                                                    LPCWSTR name,
                                                    BOOL is_protocol) = 0;
};

// The zero arguments are passed pointer-wide, so that the whole register
// is zero whatever width the system reads.
struct InternalAssociationHandler : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE MakeDefault(UINT_PTR reserved) = 0;
};

struct ExtensionAssociationRegistration : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProductAsDefault(LPCWSTR product_name,
                                                        LPCWSTR extension,
                                                        UINT_PTR reserved) = 0;
};

bool ShouldHandleProprietaryUris() {
  if (base::win::GetVersion() < base::win::WIN10_RS2)
    return false;
  return base::IsFeatureEnabled(kHandleProprietaryUrisFeature) ||
         base::IsFeatureEnabled(kInstallerHandleProprietaryUris);
}

bool IsProtocolName(const base::string16& name) {
  return !name.empty() && name[0] != L'.';
}

bool IsFileExtensionName(const base::string16& name) {
  return !name.empty() && name[0] == L'.';
}

bool IsBeforeBuild16299Update248() {
  const base::win::OSInfo::VersionNumber version =
      base::win::OSInfo::GetInstance()->version_number();
  return version.build < kHandlerRoadBuild ||
         (version.build == kHandlerRoadBuild &&
          version.patch < kHandlerRoadRevision);
}

IUnknown* GetInternalAssociationRegistration() {
  ComPtr<IUnknown> registration;
  if (FAILED(::CoCreateInstance(
          CLSID_ApplicationAssociationRegistration, nullptr,
          CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
          IID_IApplicationAssociationRegistration,
          reinterpret_cast<void**>(registration.GetAddressOf())))) {
    return nullptr;
  }
  for (const IID& iid : kInternalRegistrationIids) {
    IUnknown* internal_registration = nullptr;
    if (SUCCEEDED(registration->QueryInterface(
            iid, reinterpret_cast<void**>(&internal_registration))) &&
        internal_registration) {
      return internal_registration;
    }
  }
  return nullptr;
}

IUnknown* FindAssociationHandler(const base::string16& protocol,
                                 const base::string16& application_name) {
  SHAssocEnumHandlersForProtocolByApplicationFunction enum_handlers =
      GetShellFunctions().enum_handlers;
  if (!enum_handlers)
    return nullptr;
  ComPtr<IEnumAssocHandlers> handlers;
  if (FAILED(
          enum_handlers(protocol.c_str(), IID_IEnumAssocHandlers,
                        reinterpret_cast<void**>(handlers.GetAddressOf()))) ||
      !handlers) {
    return nullptr;
  }
  return FindHandlerIn(handlers.Get(), application_name);
}

IUnknown* GetExtensionAssociationRegistration() {
  SHCreateAssociationRegistrationFunction create_registration =
      GetShellFunctions().create_registration;
  if (!create_registration)
    return nullptr;
  for (const IID& iid : kExtensionRegistrationIids) {
    IUnknown* registration = nullptr;
    if (SUCCEEDED(create_registration(
            iid, reinterpret_cast<void**>(&registration))) &&
        registration) {
      return registration;
    }
  }
  return nullptr;
}

bool CanSetDefaultBrowserDirectly() {
  if (IsBeforeBuild16299Update248()) {
    ComPtr<IUnknown> registration;
    registration.Attach(GetInternalAssociationRegistration());
    return registration != nullptr;
  }
  ComPtr<IUnknown> handler;
  handler.Attach(FindAssociationHandler(kHttpProtocol, kSystemBrowserName));
  if (!handler)
    return false;
  ComPtr<IUnknown> registration;
  registration.Attach(GetExtensionAssociationRegistration());
  return registration != nullptr;
}

bool SetAsDefaultHandlerDirectly(const base::string16& app_registry_name,
                                 const base::string16& display_name,
                                 const base::string16& internal_product_name,
                                 const base::string16& name) {
  ComPtr<IUnknown> object;
  if (IsBeforeBuild16299Update248()) {
    object.Attach(GetInternalAssociationRegistration());
    return object && internal::SetThroughInternalRegistration(
                         object.Get(), app_registry_name, name);
  }
  if (IsProtocolName(name)) {
    object.Attach(FindAssociationHandler(name, display_name));
    return object && internal::SetThroughHandler(object.Get());
  }
  object.Attach(GetExtensionAssociationRegistration());
  return object && internal::SetThroughExtensionRegistration(
                       object.Get(), internal_product_name, name);
}

namespace internal {

bool SetThroughInternalRegistration(IUnknown* registration,
                                    const base::string16& app_registry_name,
                                    const base::string16& name) {
  auto* internal_registration =
      static_cast<InternalAssociationRegistration*>(registration);
  return SUCCEEDED(internal_registration->SetAppAsDefault(
      app_registry_name.c_str(), name.c_str(), IsProtocolName(name)));
}

bool SetThroughHandler(IUnknown* handler) {
  return SUCCEEDED(
      static_cast<InternalAssociationHandler*>(handler)->MakeDefault(0));
}

bool SetThroughExtensionRegistration(IUnknown* registration,
                                     const base::string16& product_name,
                                     const base::string16& extension) {
  auto* extension_registration =
      static_cast<ExtensionAssociationRegistration*>(registration);
  return SUCCEEDED(extension_registration->SetProductAsDefault(
      product_name.c_str(), extension.c_str(), 0));
}

}  // namespace internal

}  // namespace installer
