#ifndef BASE_WIN_SHORTCUT_H_
#define BASE_WIN_SHORTCUT_H_

#include <windows.h>

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"

namespace base {
namespace win {

enum ShortcutOperation {
  // Writes a new shortcut, overwriting any file at the path.
  SHORTCUT_CREATE = 0,
  // Writes a new shortcut over an existing one, keeping the old arguments
  // unless new ones are given. Fails when the path holds no shortcut.
  SHORTCUT_REPLACE = 1,
  // Changes only the given fields of an existing shortcut.
  SHORTCUT_UPDATE = 2,
};

// The properties of one shortcut; |options| tells which are set.
struct ShortcutProperties {
  enum IndividualProperties {
    PROPERTIES_TARGET = 1U << 0,
    PROPERTIES_WORKING_DIR = 1U << 1,
    PROPERTIES_ARGUMENTS = 1U << 2,
    PROPERTIES_DESCRIPTION = 1U << 3,
    PROPERTIES_ICON = 1U << 4,
    PROPERTIES_APP_ID = 1U << 5,
    PROPERTIES_DUAL_MODE = 1U << 6,
    PROPERTIES_TOAST_ACTIVATOR_CLSID = 1U << 7,
    // The fields of the link itself, and those of its property store.
    PROPERTIES_BASIC = PROPERTIES_TARGET | PROPERTIES_WORKING_DIR |
                       PROPERTIES_ARGUMENTS | PROPERTIES_DESCRIPTION |
                       PROPERTIES_ICON,
    PROPERTIES_STORE = PROPERTIES_APP_ID | PROPERTIES_DUAL_MODE |
                       PROPERTIES_TOAST_ACTIVATOR_CLSID,
    PROPERTIES_ALL = PROPERTIES_BASIC | PROPERTIES_STORE,
  };

  ShortcutProperties();
  ShortcutProperties(const ShortcutProperties& other);
  ~ShortcutProperties();

  void set_target(const FilePath& target_in) {
    target = target_in;
    options |= PROPERTIES_TARGET;
  }
  void set_working_dir(const FilePath& working_dir_in) {
    working_dir = working_dir_in;
    options |= PROPERTIES_WORKING_DIR;
  }
  void set_arguments(const std::wstring& arguments_in) {
    arguments = arguments_in;
    options |= PROPERTIES_ARGUMENTS;
  }
  void set_description(const std::wstring& description_in) {
    description = description_in;
    options |= PROPERTIES_DESCRIPTION;
  }
  void set_icon(const FilePath& icon_in, int icon_index_in) {
    icon = icon_in;
    icon_index = icon_index_in;
    options |= PROPERTIES_ICON;
  }
  void set_app_id(const std::wstring& app_id_in) {
    app_id = app_id_in;
    options |= PROPERTIES_APP_ID;
  }
  void set_dual_mode(bool dual_mode_in) {
    dual_mode = dual_mode_in;
    options |= PROPERTIES_DUAL_MODE;
  }
  void set_toast_activator_clsid(const CLSID& toast_activator_clsid_in) {
    toast_activator_clsid = toast_activator_clsid_in;
    options |= PROPERTIES_TOAST_ACTIVATOR_CLSID;
  }

  FilePath target;
  FilePath working_dir;
  std::wstring arguments;
  std::wstring description;
  FilePath icon;
  int32_t icon_index;
  std::wstring app_id;
  bool dual_mode;
  // Meaningful only with PROPERTIES_TOAST_ACTIVATOR_CLSID set.
  CLSID toast_activator_clsid;
  uint32_t options;
};

// Writes the shortcut at |shortcut_path| as |operation| says; true when it
// was saved. Needs COM on the calling thread. Nothing is saved on failure.
[[nodiscard]] bool CreateOrUpdateShortcutLink(
    const FilePath& shortcut_path,
    const ShortcutProperties& properties,
    ShortcutOperation operation);

// Reads the fields of |options| (IndividualProperties bits) from the
// shortcut at |shortcut_path| into |properties|, whose options say which
// were read. True when every wanted field was read; on failure the fields
// read before the failing one stay set.
[[nodiscard]] bool ResolveShortcutProperties(const FilePath& shortcut_path,
                                             uint32_t options,
                                             ShortcutProperties* properties);

// The target and arguments of a shortcut; either out pointer may be null.
[[nodiscard]] bool ResolveShortcut(const FilePath& shortcut_path,
                                   FilePath* target_path,
                                   std::wstring* args);

// Whether shortcuts may be pinned to the taskbar by the shell's verbs: the
// systems from Windows 10 on no longer let programs pin.
bool CanPinShortcutToTaskbar();

// True when the shell accepted the "taskbarpin" / "taskbarunpin" verb.
[[nodiscard]] bool TaskbarPinShortcutLink(const FilePath& shortcut);
[[nodiscard]] bool TaskbarUnpinShortcutLink(const FilePath& shortcut);

namespace internal {

// How the shell is told about a created or changed shortcut (normally
// SHChangeNotify). Tests put their own in; returns the one it replaces.
typedef void (*ShellChangeNotifyFunction)(LONG event_id,
                                          UINT flags,
                                          const void* item1,
                                          const void* item2);
ShellChangeNotifyFunction SetShellChangeNotifyForTesting(
    ShellChangeNotifyFunction notify);

}  // namespace internal

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SHORTCUT_H_
