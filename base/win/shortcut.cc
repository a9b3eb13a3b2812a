#include "base/win/shortcut.h"

#include <objbase.h>
#include <propsys.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "base/files/file_util.h"
#include "base/win/win_util.h"
#include "base/win/windows_version.h"

namespace base {
namespace win {

namespace {

using Microsoft::WRL::ComPtr;

// The shell link's text fields are read into buffers of this many
// characters.
constexpr int kLinkTextLength = MAX_PATH;

void DefaultShellChangeNotify(LONG event_id,
                              UINT flags,
                              const void* item1,
                              const void* item2) {
  SHChangeNotify(event_id, flags, item1, item2);
}

internal::ShellChangeNotifyFunction g_shell_change_notify =
    &DefaultShellChangeNotify;

// Makes a shell link and its IPersistFile, loading |shortcut| (read-write)
// when it is given. On any failure both pointers end up null.
void InitializeShortcutInterfaces(const wchar_t* shortcut,
                                  ComPtr<IShellLinkW>* i_shell_link,
                                  ComPtr<IPersistFile>* i_persist_file) {
  i_shell_link->Reset();
  i_persist_file->Reset();
  if (FAILED(CoCreateInstance(
          CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
          reinterpret_cast<void**>(i_shell_link->GetAddressOf()))) ||
      FAILED((*i_shell_link)
                 ->QueryInterface(IID_IPersistFile,
                                  reinterpret_cast<void**>(
                                      i_persist_file->GetAddressOf()))) ||
      (shortcut && FAILED((*i_persist_file)->Load(shortcut, STGM_READWRITE)))) {
    i_shell_link->Reset();
    i_persist_file->Reset();
  }
}

// Holds a value read from a property store and clears it when done.
class ScopedPropVariant {
 public:
  ScopedPropVariant() { PropVariantInit(&value_); }
  ~ScopedPropVariant() { PropVariantClear(&value_); }

  ScopedPropVariant(const ScopedPropVariant&) = delete;
  ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;

  // Reads |key|; only S_OK counts as a read.
  bool Read(IPropertyStore* store, const PROPERTYKEY& key) {
    return store->GetValue(key, &value_) == S_OK;
  }
  const PROPVARIANT* operator->() const { return &value_; }

 private:
  PROPVARIANT value_;
};

bool GetPropertyStore(IShellLinkW* shell_link,
                      ComPtr<IPropertyStore>* property_store) {
  return SUCCEEDED(shell_link->QueryInterface(
             IID_IPropertyStore,
             reinterpret_cast<void**>(property_store->GetAddressOf()))) &&
         property_store->Get();
}

// Opens the interfaces of the shortcut to write for |operation|; |old_link|
// is the shortcut being replaced, when there is one.
bool OpenInterfacesForOperation(const FilePath& shortcut_path,
                                ShortcutOperation operation,
                                ComPtr<IShellLinkW>* i_shell_link,
                                ComPtr<IPersistFile>* i_persist_file,
                                ComPtr<IShellLinkW>* old_i_shell_link,
                                ComPtr<IPersistFile>* old_i_persist_file) {
  switch (operation) {
    case SHORTCUT_CREATE:
      InitializeShortcutInterfaces(nullptr, i_shell_link, i_persist_file);
      return true;
    case SHORTCUT_UPDATE:
      InitializeShortcutInterfaces(shortcut_path.value().c_str(), i_shell_link,
                                   i_persist_file);
      return true;
    case SHORTCUT_REPLACE:
      InitializeShortcutInterfaces(shortcut_path.value().c_str(),
                                   old_i_shell_link, old_i_persist_file);
      // Only an existing, loadable shortcut may be replaced.
      if (old_i_persist_file->Get())
        InitializeShortcutInterfaces(nullptr, i_shell_link, i_persist_file);
      return true;
  }
  return false;
}

}  // namespace

ShortcutProperties::ShortcutProperties()
    : icon_index(-1),
      dual_mode(false),
      toast_activator_clsid(CLSID_NULL),
      options(0U) {}

ShortcutProperties::ShortcutProperties(const ShortcutProperties& other) =
    default;

ShortcutProperties::~ShortcutProperties() = default;

bool CreateOrUpdateShortcutLink(const FilePath& shortcut_path,
                                const ShortcutProperties& properties,
                                ShortcutOperation operation) {
  const uint32_t options = properties.options;
  // A new shortcut must point somewhere.
  if (operation != SHORTCUT_UPDATE &&
      !(options & ShortcutProperties::PROPERTIES_TARGET)) {
    return false;
  }

  const bool shortcut_existed = PathExists(shortcut_path);

  ComPtr<IShellLinkW> i_shell_link;
  ComPtr<IPersistFile> i_persist_file;
  ComPtr<IShellLinkW> old_i_shell_link;
  ComPtr<IPersistFile> old_i_persist_file;
  if (!OpenInterfacesForOperation(shortcut_path, operation, &i_shell_link,
                                  &i_persist_file, &old_i_shell_link,
                                  &old_i_persist_file)) {
    return false;
  }
  if (!i_persist_file.Get())
    return false;

  if ((options & ShortcutProperties::PROPERTIES_TARGET) &&
      FAILED(i_shell_link->SetPath(properties.target.value().c_str()))) {
    return false;
  }
  if ((options & ShortcutProperties::PROPERTIES_WORKING_DIR) &&
      FAILED(i_shell_link->SetWorkingDirectory(
          properties.working_dir.value().c_str()))) {
    return false;
  }
  if (options & ShortcutProperties::PROPERTIES_ARGUMENTS) {
    if (FAILED(i_shell_link->SetArguments(properties.arguments.c_str())))
      return false;
  } else if (old_i_persist_file.Get()) {
    wchar_t current_arguments[kLinkTextLength] = {};
    if (SUCCEEDED(old_i_shell_link->GetArguments(current_arguments,
                                                 kLinkTextLength))) {
      i_shell_link->SetArguments(current_arguments);
    }
  }
  if ((options & ShortcutProperties::PROPERTIES_DESCRIPTION) &&
      FAILED(i_shell_link->SetDescription(properties.description.c_str()))) {
    return false;
  }
  if ((options & ShortcutProperties::PROPERTIES_ICON) &&
      FAILED(i_shell_link->SetIconLocation(properties.icon.value().c_str(),
                                           properties.icon_index))) {
    return false;
  }

  if (options & ShortcutProperties::PROPERTIES_STORE) {
    ComPtr<IPropertyStore> property_store;
    if (!GetPropertyStore(i_shell_link.Get(), &property_store))
      return false;
    if ((options & ShortcutProperties::PROPERTIES_APP_ID) &&
        !SetAppIdForPropertyStore(property_store.Get(),
                                  properties.app_id.c_str())) {
      return false;
    }
    if ((options & ShortcutProperties::PROPERTIES_DUAL_MODE) &&
        !SetBooleanValueForPropertyStore(property_store.Get(),
                                         PKEY_AppUserModel_IsDualMode,
                                         properties.dual_mode)) {
      return false;
    }
    if ((options & ShortcutProperties::PROPERTIES_TOAST_ACTIVATOR_CLSID) &&
        !SetClsidForPropertyStore(property_store.Get(),
                                  PKEY_AppUserModel_ToastActivatorCLSID,
                                  properties.toast_activator_clsid)) {
      return false;
    }
  }

  // The old shortcut's file must be let go before it is overwritten.
  old_i_persist_file.Reset();
  old_i_shell_link.Reset();

  const HRESULT result =
      i_persist_file->Save(shortcut_path.value().c_str(), TRUE);

  i_persist_file.Reset();
  i_shell_link.Reset();

  if (SUCCEEDED(result)) {
    if (shortcut_existed) {
      // The shell re-reads icons and the like on an association change.
      g_shell_change_notify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    } else {
      g_shell_change_notify(SHCNE_CREATE, SHCNF_PATHW,
                            shortcut_path.value().c_str(), nullptr);
    }
  }
  return SUCCEEDED(result);
}

bool ResolveShortcutProperties(const FilePath& shortcut_path,
                               uint32_t options,
                               ShortcutProperties* properties) {
  ComPtr<IShellLinkW> i_shell_link;
  if (FAILED(CoCreateInstance(
          CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
          reinterpret_cast<void**>(i_shell_link.GetAddressOf())))) {
    return false;
  }
  ComPtr<IPersistFile> persist;
  if (FAILED(i_shell_link->QueryInterface(
          IID_IPersistFile,
          reinterpret_cast<void**>(persist.GetAddressOf())))) {
    return false;
  }
  if (FAILED(persist->Load(shortcut_path.value().c_str(), STGM_READ)))
    return false;

  properties->options = 0;

  wchar_t buffer[kLinkTextLength];
  if (options & ShortcutProperties::PROPERTIES_TARGET) {
    if (FAILED(i_shell_link->GetPath(buffer, kLinkTextLength, nullptr,
                                     SLGP_UNCPRIORITY))) {
      return false;
    }
    properties->set_target(FilePath(buffer));
  }
  if (options & ShortcutProperties::PROPERTIES_WORKING_DIR) {
    if (FAILED(i_shell_link->GetWorkingDirectory(buffer, kLinkTextLength)))
      return false;
    properties->set_working_dir(FilePath(buffer));
  }
  if (options & ShortcutProperties::PROPERTIES_ARGUMENTS) {
    if (FAILED(i_shell_link->GetArguments(buffer, kLinkTextLength)))
      return false;
    properties->set_arguments(buffer);
  }
  if (options & ShortcutProperties::PROPERTIES_DESCRIPTION) {
    if (FAILED(i_shell_link->GetDescription(buffer, kLinkTextLength)))
      return false;
    properties->set_description(buffer);
  }
  if (options & ShortcutProperties::PROPERTIES_ICON) {
    int index = 0;
    if (FAILED(i_shell_link->GetIconLocation(buffer, kLinkTextLength, &index)))
      return false;
    properties->set_icon(FilePath(buffer), index);
  }

  if (options & ShortcutProperties::PROPERTIES_STORE) {
    ComPtr<IPropertyStore> property_store;
    if (!GetPropertyStore(i_shell_link.Get(), &property_store))
      return false;

    if (options & ShortcutProperties::PROPERTIES_APP_ID) {
      ScopedPropVariant value;
      if (!value.Read(property_store.Get(), PKEY_AppUserModel_ID))
        return false;
      switch (value->vt) {
        case VT_EMPTY:
          properties->set_app_id(std::wstring());
          break;
        case VT_LPWSTR:
          properties->set_app_id(value->pwszVal ? value->pwszVal : L"");
          break;
        case VT_BSTR:
          properties->set_app_id(value->bstrVal ? value->bstrVal : L"");
          break;
        default:
          return false;
      }
    }

    if (options & ShortcutProperties::PROPERTIES_DUAL_MODE) {
      ScopedPropVariant value;
      if (!value.Read(property_store.Get(), PKEY_AppUserModel_IsDualMode))
        return false;
      switch (value->vt) {
        case VT_EMPTY:
          properties->set_dual_mode(false);
          break;
        case VT_BOOL:
          properties->set_dual_mode(value->boolVal == VARIANT_TRUE);
          break;
        default:
          return false;
      }
    }

    if (options & ShortcutProperties::PROPERTIES_TOAST_ACTIVATOR_CLSID) {
      ScopedPropVariant value;
      if (!value.Read(property_store.Get(),
                      PKEY_AppUserModel_ToastActivatorCLSID)) {
        return false;
      }
      switch (value->vt) {
        case VT_EMPTY:
          properties->set_toast_activator_clsid(CLSID_NULL);
          break;
        case VT_CLSID:
          if (!value->puuid)
            return false;
          properties->set_toast_activator_clsid(*value->puuid);
          break;
        default:
          return false;
      }
    }
  }

  return true;
}

bool ResolveShortcut(const FilePath& shortcut_path,
                     FilePath* target_path,
                     std::wstring* args) {
  uint32_t options = 0;
  if (target_path)
    options |= ShortcutProperties::PROPERTIES_TARGET;
  if (args)
    options |= ShortcutProperties::PROPERTIES_ARGUMENTS;
  ShortcutProperties properties;
  if (!ResolveShortcutProperties(shortcut_path, options, &properties))
    return false;
  if (target_path)
    *target_path = properties.target;
  if (args)
    *args = properties.arguments;
  return true;
}

bool CanPinShortcutToTaskbar() {
  return GetVersion() < WIN10;
}

bool TaskbarPinShortcutLink(const FilePath& shortcut) {
  HINSTANCE result = ShellExecuteW(
      nullptr, L"taskbarpin", shortcut.value().c_str(), nullptr, nullptr, 0);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool TaskbarUnpinShortcutLink(const FilePath& shortcut) {
  HINSTANCE result = ShellExecuteW(
      nullptr, L"taskbarunpin", shortcut.value().c_str(), nullptr, nullptr, 0);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

namespace internal {

ShellChangeNotifyFunction SetShellChangeNotifyForTesting(
    ShellChangeNotifyFunction notify) {
  ShellChangeNotifyFunction previous = g_shell_change_notify;
  g_shell_change_notify = notify ? notify : &DefaultShellChangeNotify;
  return previous;
}

}  // namespace internal

}  // namespace win
}  // namespace base
