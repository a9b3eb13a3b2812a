#include "desktop/windows/installer/service/json_installation_status_writer.h"

#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_writer.h"
#include "base/json/string_escape.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/installation_status.h"

namespace installer {

namespace {

std::unique_ptr<base::ListValue> PathList(
    const std::vector<base::FilePath>& paths) {
  auto list = std::make_unique<base::ListValue>();
  for (const base::FilePath& path : paths)
    list->AppendString(path.AsUTF8Unsafe());
  return list;
}

std::unique_ptr<base::ListValue> KeyList(
    const std::vector<RegistryKeyRecord>& keys) {
  auto list = std::make_unique<base::ListValue>();
  for (const RegistryKeyRecord& key : keys) {
    auto values = std::make_unique<base::ListValue>();
    for (const RegistryValueRecord& value : key.values) {
      auto entry = std::make_unique<base::DictionaryValue>();
      entry->SetString("data", value.data);
      entry->SetString("name", value.name);
      entry->SetString("type", value.type);
      values->Append(std::move(entry));
    }
    auto entry = std::make_unique<base::DictionaryValue>();
    // A depth beyond the signed range comes back through the same cast.
    entry->SetInteger("clean", static_cast<int>(key.clean));
    entry->SetString("path", key.path);
    entry->SetList("values", std::move(values));
    list->Append(std::move(entry));
  }
  return list;
}

// Windows refuses these in file names. Recorded in a path they would change
// what the reader makes of it (a NUL ends the path early and shields the
// blanks before it from trimming), so such a record is not stored at all.
bool HasControlCharacter(const base::FilePath& path) {
  for (wchar_t c : path.value()) {
    if (c < 0x20)
      return true;
  }
  return false;
}

// The first recorded path that holds a control character, or null.
const base::FilePath* FindUnstorablePath(const InstallationStatus& status) {
  std::vector<const base::FilePath*> paths = {
      &status.path, &status.subfolder, &status.desktop_shortcut,
      &status.menu_shortcut, &status.quick_launch_shortcut};
  for (const base::FilePath& file : status.files)
    paths.push_back(&file);
  for (const base::FilePath& file : status.root_files)
    paths.push_back(&file);
  for (const InstallationComponent& component : status.components)
    paths.push_back(&component.path);
  for (const base::FilePath* path : paths) {
    if (HasControlCharacter(*path))
      return path;
  }
  return nullptr;
}

}  // namespace

JsonInstallationStatusWriter::JsonInstallationStatusWriter() = default;

JsonInstallationStatusWriter::~JsonInstallationStatusWriter() = default;

std::string JsonInstallationStatusWriter::ToJson(
    const InstallationStatus& status) {
  root_.Clear();
  if (const base::FilePath* path = FindUnstorablePath(status)) {
    // Escaped, so that the log line shows the character.
    LOG(ERROR) << "Failed to write status as JSON: a control character in "
               << base::GetQuotedJSONString(path->AsUTF8Unsafe());
    return std::string();
  }
  root_.SetString("version", status.version);
  root_.SetBoolean("copy_only", status.copy_only);
  root_.SetBoolean("_all_users", status.all_users);
  if (!status.app_id.empty())
    root_.SetString("app_id", base::UTF16ToUTF8(status.app_id));
  root_.SetString("path", status.path.AsUTF8Unsafe());
  root_.SetString("_subfolder", status.subfolder.AsUTF8Unsafe());
  root_.SetList("files", PathList(status.files));
  if (!status.root_files.empty())
    root_.SetList("root_files", PathList(status.root_files));

  auto registry = std::make_unique<base::DictionaryValue>();
  if (!status.hklm_keys.empty())
    registry->SetList("HKLM", KeyList(status.hklm_keys));
  if (!status.hkcu_keys.empty())
    registry->SetList("HKCU", KeyList(status.hkcu_keys));
  root_.SetDictionary("registry", std::move(registry));

  // Readers accept either name of a pair; the one written follows the
  // install mode so that the file says where the shortcut lives.
  auto shortcuts = std::make_unique<base::DictionaryValue>();
  if (!status.desktop_shortcut.empty()) {
    shortcuts->SetString(
        status.all_users ? "SC_DEST_COMMON_DESKTOP" : "SC_DEST_DESKTOP",
        status.desktop_shortcut.AsUTF8Unsafe());
  }
  if (!status.menu_shortcut.empty()) {
    shortcuts->SetString(
        status.all_users ? "SC_DEST_COMMON_MENU" : "SC_DEST_MENU",
        status.menu_shortcut.AsUTF8Unsafe());
  }
  if (!status.quick_launch_shortcut.empty()) {
    shortcuts->SetString("SC_DEST_QUICK_LAUNCH",
                         status.quick_launch_shortcut.AsUTF8Unsafe());
  }
  if (!shortcuts->empty())
    root_.SetDictionary("shortcuts", std::move(shortcuts));

  if (!status.components.empty()) {
    auto components = std::make_unique<base::DictionaryValue>();
    // A component's name is a key of its own: a "." in it must not turn
    // into nested objects, which the reader refuses along with the whole
    // record.
    for (const InstallationComponent& component : status.components) {
      components->SetWithoutPathExpansion(
          component.name,
          std::make_unique<base::Value>(component.path.AsUTF8Unsafe()));
    }
    root_.SetDictionary("components", std::move(components));
  }

  std::string json;
  if (!base::JSONWriter::Write(root_, &json)) {
    LOG(ERROR) << "Failed to write status as JSON";
    return std::string();
  }
  return json;
}

bool JsonInstallationStatusWriter::WriteToFile(const InstallationStatus& status,
                                               const base::FilePath& path) {
  const std::string json = ToJson(status);
  // Every record has members, so empty text means the serialisation failed;
  // writing it would destroy the previous status file.
  if (json.empty() ||
      json.size() > static_cast<size_t>(std::numeric_limits<int>::max()))
    return false;
  const int size = static_cast<int>(json.size());
  return base::WriteFile(path, json.data(), size) == size;
}

}  // namespace installer
