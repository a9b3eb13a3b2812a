#include "desktop/windows/installer/service/association_operations.h"

#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include "base/win/system_library.h"
#include "desktop/windows/installer/service/direct_default_handler.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;

AssociationOperations* g_operations_for_testing = nullptr;

// The Settings app and its default-apps page.
const wchar_t kSettingsAppId[] =
    L"windows.immersivecontrolpanel_cw5n1h2txyewy"
    L"!microsoft.windows.immersivecontrolpanel";
const wchar_t kDefaultAppsPage[] = L"page=SettingsPageAppsDefaults";

// Register the extension, force the registration, the name is a protocol.
constexpr OPEN_AS_INFO_FLAGS kOpenWithFlags = static_cast<OPEN_AS_INFO_FLAGS>(
    OAIF_REGISTER_EXT | OAIF_FORCE_REGISTRATION | OAIF_URL_PROTOCOL);

// The system headers declare the activation manager only for Windows 8 and
// later targets; the installer runs from Windows 7 on.
constexpr CLSID kApplicationActivationManagerClsid = {
    0x45ba127d,
    0x10a8,
    0x46ea,
    {0x8a, 0xb7, 0x56, 0xea, 0x90, 0x78, 0x94, 0x3c}};
constexpr IID kApplicationActivationManagerIid = {
    0x2e941141,
    0x7f97,
    0x4756,
    {0xba, 0x1d, 0x9d, 0xec, 0xde, 0x89, 0x4a, 0x3d}};

class ApplicationActivationManager : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE
  ActivateApplication(LPCWSTR app_user_model_id,
                      LPCWSTR arguments,
                      int options,
                      DWORD* process_id) = 0;
};

using SHOpenWithDialogFunction = HRESULT(WINAPI*)(HWND, const OPENASINFO*);

ComPtr<IApplicationAssociationRegistration> CreateAssociationRegistration() {
  ComPtr<IApplicationAssociationRegistration> registration;
  if (FAILED(::CoCreateInstance(CLSID_ApplicationAssociationRegistration,
                                nullptr, CLSCTX_INPROC_SERVER,
                                IID_IApplicationAssociationRegistration,
                                &registration))) {
    return nullptr;
  }
  return registration;
}

class AssociationOperationsImpl : public AssociationOperations {
 public:
  bool QueryAppIsDefault(const base::string16& query,
                         ASSOCIATIONTYPE type,
                         const base::string16& app_registry_name) override {
    ComPtr<IApplicationAssociationRegistration> registration =
        CreateAssociationRegistration();
    if (!registration)
      return false;
    BOOL is_default = FALSE;
    // A failing call may leave the flag alone; it stays false then.
    registration->QueryAppIsDefault(query.c_str(), type, AL_EFFECTIVE,
                                    app_registry_name.c_str(), &is_default);
    return is_default != FALSE;
  }

  bool SetAppAsDefault(const base::string16& app_registry_name,
                       const base::string16& query,
                       ASSOCIATIONTYPE type) override {
    ComPtr<IApplicationAssociationRegistration> registration =
        CreateAssociationRegistration();
    return registration && SUCCEEDED(registration->SetAppAsDefault(
                               app_registry_name.c_str(), query.c_str(), type));
  }

  bool CanSetDefaultBrowserDirectly() override {
    return ::installer::CanSetDefaultBrowserDirectly();
  }

  bool SetAsDefaultHandlerDirectly(const base::string16& app_registry_name,
                                   const base::string16& display_name,
                                   const base::string16& internal_product_name,
                                   const base::string16& name) override {
    return ::installer::SetAsDefaultHandlerDirectly(
        app_registry_name, display_name, internal_product_name, name);
  }

  bool ShouldHandleProprietaryUris() override {
    return ::installer::ShouldHandleProprietaryUris();
  }

  bool ChooseHandlerWithOpenWithDialog(const base::string16& name) override {
    // Vista and later only: looked up rather than imported.
    static const SHOpenWithDialogFunction open_with_dialog = [] {
      HMODULE shell32 = base::win::LoadSystemLibrary(L"shell32.dll");
      return shell32 ? reinterpret_cast<SHOpenWithDialogFunction>(
                           ::GetProcAddress(shell32, "SHOpenWithDialog"))
                     : nullptr;
    }();
    if (!open_with_dialog)
      return false;
    OPENASINFO info = {};
    info.pcszFile = name.c_str();
    info.oaifInFlags = kOpenWithFlags;
    if (FAILED(open_with_dialog(nullptr, &info)))
      return false;
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return true;
  }

  bool OpenDefaultAppsSettings(const base::string16& target) override {
    ComPtr<ApplicationActivationManager> manager;
    if (FAILED(::CoCreateInstance(kApplicationActivationManagerClsid, nullptr,
                                  CLSCTX_ALL, kApplicationActivationManagerIid,
                                  &manager))) {
      return false;
    }
    // The Settings app may only come to the front when the installer lets
    // it.
    ::CoAllowSetForegroundWindow(manager.Get(), nullptr);
    DWORD process_id = 0;
    if (FAILED(manager->ActivateApplication(kSettingsAppId, kDefaultAppsPage, 0,
                                            &process_id))) {
      return false;
    }
    const base::string16 arguments =
        base::string16(kDefaultAppsPage) + L"&target=" + target;
    return SUCCEEDED(manager->ActivateApplication(
        kSettingsAppId, arguments.c_str(), 0, &process_id));
  }
};

}  // namespace

AssociationOperations* GetAssociationOperations() {
  if (g_operations_for_testing)
    return g_operations_for_testing;
  // Kept until the library unloads.
  static AssociationOperationsImpl* const operations =
      new AssociationOperationsImpl();
  return operations;
}

void SetAssociationOperationsForTesting(AssociationOperations* operations) {
  g_operations_for_testing = operations;
}

}  // namespace installer
