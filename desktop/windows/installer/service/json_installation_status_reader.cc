#include "desktop/windows/installer/service/json_installation_status_reader.h"

#include <stdint.h>

#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/json/json_reader.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"

namespace installer {

namespace {

const char kControlCharacterError[] = "A path holds a control character";

// Windows allows none of these in a name. A NUL would also end the path
// early and keep the blanks before it from being trimmed, so such a path is
// refused rather than read as some other path.
bool HasControlCharacter(base::StringPiece16 text) {
  for (base::char16 c : text) {
    if (c < 0x20)
      return true;
  }
  return false;
}

// Paths are stored in UTF-8; blanks around them (tabs and line ends
// included) are never part of a path. False for a path that still holds a
// control character.
bool ReadPath(const std::string& utf8, bool trim, base::FilePath* path) {
  const base::string16 text = base::UTF8ToUTF16(utf8);
  const base::StringPiece16 kept =
      trim ? base::TrimWhitespace(base::StringPiece16(text), base::TRIM_ALL)
           : base::StringPiece16(text);
  if (HasControlCharacter(kept))
    return false;
  *path = base::FilePath(kept);
  return true;
}

// ReadPath with trimming, setting |*error| on failure.
bool ReadTrimmedPath(const std::string& utf8,
                     base::FilePath* path,
                     std::string* error) {
  if (ReadPath(utf8, true, path))
    return true;
  *error = kControlCharacterError;
  return false;
}

// The member |key| of the dictionary |dict|, taken as a name, not a path.
const base::Value* Find(const base::Value& dict, const char* key) {
  return dict.FindPath({key});
}

const base::Value* FindOfType(const base::Value& dict,
                              const char* key,
                              base::Value::Type type) {
  const base::Value* value = Find(dict, key);
  return value && value->type() == type ? value : nullptr;
}

// Appends the strings of |list| to |paths|; false with |*error| set at the
// first non-string or unusable path.
bool ReadPathList(const base::Value& list,
                  std::vector<base::FilePath>* paths,
                  std::string* error) {
  for (const auto& element : list.list_storage()) {
    if (!element->is_string()) {
      *error = "Element on files list is not a string";
      return false;
    }
    base::FilePath path;
    if (!ReadTrimmedPath(element->GetString(), &path, error))
      return false;
    paths->push_back(path);
  }
  return true;
}

// Reads one hive's key list into |keys|; false with |*error| set on the
// first malformed key or value.
bool ReadKeyList(const base::Value& list,
                 std::vector<RegistryKeyRecord>* keys,
                 std::string* error) {
  for (const auto& element : list.list_storage()) {
    if (!element->is_dict()) {
      *error = "Registry key not a dictionary";
      return false;
    }
    RegistryKeyRecord key;
    const base::Value* path =
        FindOfType(*element, "path", base::Value::Type::STRING);
    if (!path) {
      *error = "Registry key dictionary doesn't specify a path";
      return false;
    }
    key.path = path->GetString();
    const base::Value* clean =
        FindOfType(*element, "clean", base::Value::Type::INTEGER);
    if (!clean) {
      *error = "No cleanup information on a registry key";
      return false;
    }
    // The writer stores depths past the signed range through this cast.
    key.clean = static_cast<uint32_t>(clean->GetInt());
    const base::Value* values =
        FindOfType(*element, "values", base::Value::Type::LIST);
    if (!values) {
      *error = "No values list in a registry key";
      return false;
    }
    for (const auto& entry : values->list_storage()) {
      if (!entry->is_dict()) {
        *error = "Registry value is not a dictionary";
        return false;
      }
      RegistryValueRecord value;
      const base::Value* name =
          FindOfType(*entry, "name", base::Value::Type::STRING);
      if (!name) {
        *error = "No name in a registry key value";
        return false;
      }
      value.name = name->GetString();
      const base::Value* type =
          FindOfType(*entry, "type", base::Value::Type::STRING);
      if (!type) {
        *error = "No type information on a registry key value";
        return false;
      }
      value.type = type->GetString();
      const base::Value* data =
          FindOfType(*entry, "data", base::Value::Type::STRING);
      if (data)
        value.data = data->GetString();
      key.values.push_back(std::move(value));
    }
    keys->push_back(std::move(key));
  }
  return true;
}

}  // namespace

JsonInstallationStatusReader::JsonInstallationStatusReader() = default;

JsonInstallationStatusReader::~JsonInstallationStatusReader() = default;

void JsonInstallationStatusReader::Read(
    std::unique_ptr<InstallationStatus>* out,
    const std::string& contents,
    InstallationStatusOrigin origin) {
  *out = Parse(contents, origin);
}

const std::string& JsonInstallationStatusReader::GetError() const {
  return error_;
}

std::unique_ptr<InstallationStatus> JsonInstallationStatusReader::Parse(
    const std::string& contents, InstallationStatusOrigin origin) {
  using Type = base::Value::Type;

  int error_code = 0;
  std::string parse_error;
  std::unique_ptr<base::Value> root = base::JSONReader::ReadAndReturnError(
      contents, 0, &error_code, &parse_error);
  if (!root) {
    error_ = "Cannot parse the file as JSON: " + parse_error;
    return nullptr;
  }
  if (!root->is_dict()) {
    error_ = "The root is not a dictionary";
    return nullptr;
  }
  auto status = std::make_unique<InstallationStatus>(origin);

  const base::Value* version = FindOfType(*root, "version", Type::STRING);
  if (!version) {
    error_ = "No version information";
    return nullptr;
  }
  status->version = version->GetString();

  if (const base::Value* app_id = Find(*root, "app_id")) {
    if (!app_id->is_string()) {
      error_ = "Invalid app id type";
      return nullptr;
    }
    status->app_id = base::UTF8ToUTF16(app_id->GetString());
  }

  const base::Value* copy_only = FindOfType(*root, "copy_only", Type::BOOLEAN);
  if (!copy_only) {
    error_ = "No copy only information";
    return nullptr;
  }
  status->copy_only = copy_only->GetBool();

  const base::Value* all_users = FindOfType(*root, "_all_users", Type::BOOLEAN);
  if (!all_users) {
    error_ = "No all users information";
    return nullptr;
  }
  status->all_users = all_users->GetBool();

  const base::Value* path = FindOfType(*root, "path", Type::STRING);
  if (!path) {
    error_ = "No install path information";
    return nullptr;
  }
  if (!ReadTrimmedPath(path->GetString(), &status->path, &error_))
    return nullptr;

  if (const base::Value* subfolder = Find(*root, "_subfolder")) {
    if (!subfolder->is_string()) {
      error_ = "Subfolder not a string";
      return nullptr;
    }
    if (!ReadTrimmedPath(subfolder->GetString(), &status->subfolder, &error_))
      return nullptr;
  }

  const base::Value* files = FindOfType(*root, "files", Type::LIST);
  if (!files) {
    error_ = "No files list";
    return nullptr;
  }
  if (!ReadPathList(*files, &status->files, &error_))
    return nullptr;

  if (const base::Value* root_files = Find(*root, "root_files")) {
    if (!root_files->is_list()) {
      error_ = "root_files is not a list";
      return nullptr;
    }
    if (!ReadPathList(*root_files, &status->root_files, &error_))
      return nullptr;
  }

  const base::Value* registry = FindOfType(*root, "registry", Type::DICTIONARY);
  if (!registry) {
    error_ = "No registry dictionary";
    return nullptr;
  }
  const std::pair<const char*, std::vector<RegistryKeyRecord>*> kHives[] = {
      {"HKLM", &status->hklm_keys},
      {"HKCU", &status->hkcu_keys},
  };
  for (const auto& hive : kHives) {
    const base::Value* keys = Find(*registry, hive.first);
    if (!keys)
      continue;
    if (!keys->is_list()) {
      // The format has no text for this; a text left from an earlier read
      // would name the wrong fault.
      error_.clear();
      return nullptr;
    }
    if (!ReadKeyList(*keys, hive.second, &error_))
      return nullptr;
  }

  if (const base::Value* shortcuts = Find(*root, "shortcuts")) {
    if (!shortcuts->is_dict()) {
      error_ = "Shortcuts not a dictionary";
      return nullptr;
    }
    for (const auto& entry : shortcuts->dict_storage()) {
      if (!entry.second->is_string()) {
        error_ = "Shorcut path is not a string";
        return nullptr;
      }
      const std::string& name = entry.first;
      base::FilePath* field;
      if (name == "SC_DEST_DESKTOP" || name == "SC_DEST_COMMON_DESKTOP") {
        field = &status->desktop_shortcut;
      } else if (name == "SC_DEST_MENU" || name == "SC_DEST_COMMON_MENU") {
        field = &status->menu_shortcut;
      } else if (name == "SC_DEST_QUICK_LAUNCH") {
        field = &status->quick_launch_shortcut;
      } else {
        error_ = "Invalid shortcut type " + name;
        return nullptr;
      }
      // Taken as it stands, blanks included.
      if (!ReadPath(entry.second->GetString(), false, field)) {
        error_ = kControlCharacterError;
        return nullptr;
      }
    }
  }

  // Only an object is read: a "components" member of any other type leaves
  // the list empty instead of failing the read.
  const base::Value* components =
      FindOfType(*root, "components", Type::DICTIONARY);
  if (components) {
    for (const auto& entry : components->dict_storage()) {
      if (!entry.second->is_string()) {
        error_ = "Shorcut path is not a string";
        return nullptr;
      }
      InstallationComponent component;
      component.name = entry.first;
      if (!ReadTrimmedPath(entry.second->GetString(), &component.path,
                           &error_)) {
        return nullptr;
      }
      status->components.push_back(std::move(component));
    }
  }
  return status;
}

}  // namespace installer
