#include "desktop/windows/installer/service/installation_status.h"

#include <string.h>

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/macros.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/json_installation_status_reader.h"
#include "desktop/windows/installer/service/xml_installation_status_reader.h"

namespace installer {

const char* InstallationStatusOriginToString(uint32_t origin) {
  static const char* const kNames[] = {
      "invalid",
      "generated",
      "primary",
      "legacy_xml",
      "recovered_from_old_files",
      "legacy_xml_recovered_from_old_files",
      "string",
      "fully_recovered",
  };
  return origin < arraysize(kNames) ? kNames[origin] : "";
}

InstallationStatus::InstallationStatus(InstallationStatusOrigin origin)
    : origin(origin) {}

InstallationStatus::InstallationStatus(const InstallationStatus& other) =
    default;

InstallationStatus& InstallationStatus::operator=(
    const InstallationStatus& other) = default;

InstallationStatus::~InstallationStatus() = default;

base::string16 InstallationStatus::GetSuffixedAppId() const {
  return app_id + L"1";
}

bool operator==(const InstallationComponent& a,
                const InstallationComponent& b) {
  return a.name == b.name && a.path == b.path;
}

bool operator==(const RegistryValueRecord& a, const RegistryValueRecord& b) {
  return a.type == b.type && a.name == b.name && a.data == b.data;
}

bool operator==(const RegistryKeyRecord& a, const RegistryKeyRecord& b) {
  return a.clean == b.clean && a.path == b.path && a.values == b.values;
}

bool operator==(const InstallationStatus& a, const InstallationStatus& b) {
  return a.copy_only == b.copy_only && a.all_users == b.all_users &&
         a.origin == b.origin && a.app_id == b.app_id && a.path == b.path &&
         a.subfolder == b.subfolder && a.version == b.version &&
         a.desktop_shortcut == b.desktop_shortcut &&
         a.menu_shortcut == b.menu_shortcut &&
         a.quick_launch_shortcut == b.quick_launch_shortcut &&
         a.files == b.files && a.root_files == b.root_files &&
         a.components == b.components && a.hklm_keys == b.hklm_keys &&
         a.hkcu_keys == b.hkcu_keys;
}

std::unique_ptr<InstallationStatusReader> CreateInstallationStatusReader(
    InstallationStatusOrigin origin) {
  switch (origin) {
    case INSTALLATION_STATUS_PRIMARY:
    case INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES:
      return std::make_unique<JsonInstallationStatusReader>();
    case INSTALLATION_STATUS_LEGACY_XML:
    case INSTALLATION_STATUS_LEGACY_XML_RECOVERED_FROM_OLD_FILES:
      return std::make_unique<XmlInstallationStatusReader>();
    default:
      return nullptr;
  }
}

std::unique_ptr<InstallationStatus> ReadInstallationStatusFile(
    const base::FilePath& file,
    InstallationStatusOrigin origin,
    std::string* error,
    std::string* contents) {
  if (!base::PathExists(file))
    return nullptr;
  std::unique_ptr<InstallationStatusReader> reader =
      CreateInstallationStatusReader(origin);
  std::string text;
  if (!base::ReadFileToString(file, &text)) {
    if (contents)
      contents->clear();
    *error = "Cannot read a file to string";
    return nullptr;
  }
  std::unique_ptr<InstallationStatus> status;
  if (reader)
    reader->Read(&status, text, origin);
  if (!status) {
    *error = reader ? reader->GetError() : std::string();
    if (text.empty())
      *error += " Status file empty.";
  }
  if (contents)
    *contents = std::move(text);
  return status;
}

namespace {

// Indexed by the registry type number; no other types are written.
const char* RegistryTypeName(int type) {
  static const char* const kNames[] = {
      "REG_NONE",
      "REG_SZ",
      "REG_EXPAND_SZ",
      "REG_BINARY",
      "REG_DWORD",
      "REG_DWORD_BIG_ENDIAN",
      "REG_LINK",
      "REG_MULTI_SZ",
      "REG_RESOURCE_LIST",
      "REG_FULL_RESOURCE_DESCRIPTOR",
      "REG_RESOURCE_REQUIREMENTS_LIST",
      "REG_QWORD",
  };
  return type >= 0 && type < static_cast<int>(arraysize(kNames)) ? kNames[type]
                                                                 : "";
}

// The data of |type| in the status file's text form. |size| bounds every
// read, so that a string without its terminator is not read past its end.
std::string RegistryDataText(const void* data, int type, uint32_t size) {
  if (!data)
    return std::string();
  switch (type) {
    case 1:    // REG_SZ
    case 2: {  // REG_EXPAND_SZ
      const wchar_t* text = static_cast<const wchar_t*>(data);
      const size_t max_length = size / sizeof(wchar_t);
      size_t length = 0;
      while (length < max_length && text[length])
        ++length;
      return base::UTF16ToUTF8(base::StringPiece16(text, length));
    }
    case 3: {  // REG_BINARY
      const uint8_t* bytes = static_cast<const uint8_t*>(data);
      std::string result;
      for (uint32_t i = 0; i < size; ++i)
        base::StringAppendF(&result, i ? ",%.2x" : "%.2x", bytes[i]);
      return result;
    }
    case 4: {  // REG_DWORD
      if (size < sizeof(uint32_t))
        return std::string();
      uint32_t number;
      memcpy(&number, data, sizeof(number));
      return base::StringPrintf("%.8lx", static_cast<unsigned long>(number));
    }
    default:
      return std::string();
  }
}

}  // namespace

void AddRegistryValueToStatus(std::vector<RegistryKeyRecord>* keys,
                              const base::string16& key_path,
                              const base::string16& value_name,
                              const void* data,
                              int type,
                              uint32_t size,
                              uint32_t clean) {
  // A template that deletes a value leaves nothing to record.
  if (type == -1)
    return;
  const std::string path = base::UTF16ToUTF8(key_path);
  // The newest record is the likeliest match: a template writes the values
  // of one key together.
  auto found = std::find_if(
      keys->rbegin(), keys->rend(), [&path](const RegistryKeyRecord& key) {
        return base::EqualsCaseInsensitiveASCII(key.path, path);
      });
  RegistryKeyRecord* key;
  if (found != keys->rend()) {
    key = &*found;
    key->clean = std::max(key->clean, clean);
  } else {
    keys->push_back(RegistryKeyRecord());
    key = &keys->back();
    key->clean = clean;
    key->path = path;
  }
  RegistryValueRecord value;
  value.type = RegistryTypeName(type);
  value.name = base::UTF16ToUTF8(value_name);
  value.data = RegistryDataText(data, type, size);
  key->values.push_back(std::move(value));
}

}  // namespace installer
