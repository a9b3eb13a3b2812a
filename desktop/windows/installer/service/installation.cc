#include "desktop/windows/installer/service/installation.h"

#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {
namespace {

const wchar_t kLauncherExe[] = L"launcher.exe";
const wchar_t kPrefsFileName[] = L"installer_prefs.json";
const wchar_t kStatusFileName[] = L"installation_status.json";
const wchar_t kStrayProgIdKey[] = L"Software\\Classes\\ProgID";
const wchar_t kUserNamePlaceholder[] = L"<USERNAME>";
const char kStreamPlaceholder[] = "{InternalStream}";

base::FilePath GetCurrentInstallationFolder() {
  base::FilePath folder;
  if (!base::PathService::Get(base::DIR_EXE, &folder))
    return base::FilePath();
  return Installation::FolderForExecutableFolder(folder);
}

}  // namespace

Installation::Installation() : folder_(GetCurrentInstallationFolder()) {
  Initialize();
}

Installation::Installation(const base::FilePath& folder) : folder_(folder) {
  Initialize();
}

Installation::Installation(const base::FilePath& folder,
                           std::unique_ptr<InstallationStatus> status)
    : folder_(folder), status_loaded_(true), status_(std::move(status)) {
  Initialize();
}

Installation::~Installation() = default;

// static
Installation* Installation::GetCurrent() {
  // Never destroyed: code running at exit may still ask for it.
  static Installation* current = new Installation();
  return current;
}

// static
base::FilePath Installation::FolderForExecutableFolder(
    const base::FilePath& exe_folder) {
  if (!base::PathExists(exe_folder.Append(kLauncherExe)) &&
      base::PathExists(exe_folder.DirName().Append(kLauncherExe))) {
    return exe_folder.DirName();
  }
  return exe_folder;
}

void Installation::Initialize() {
  if (!status_)
    status_ = std::make_unique<InstallationStatus>();
  ReadPrefs();
  GetString16Pref("profile_path", &profile_path_);
  const base::string16 product = base::ASCIIToUTF16(GetProductName());
  const base::string16 channel = base::ASCIIToUTF16(GetChannelName());
  app_registry_name_ = product + L" " + channel;
  // The release stream is the product itself.
  display_name_ = product;
  if (GetChannelId() != 4)
    display_name_ += L" " + channel;
  display_name_ += L" Internet Browser";
}

void Installation::ReadPrefs() {
  // A missing or broken file is an installation without preferences.
  base::JSONFileValueDeserializer deserializer(folder_.Append(kPrefsFileName));
  prefs_ = deserializer.Deserialize(nullptr, nullptr);
  if (!prefs_)
    prefs_ = std::make_unique<base::DictionaryValue>();
}

const base::Value* Installation::FindPref(const std::string& key) const {
  std::vector<std::string> parts =
      base::SplitString(key, ".", base::TRIM_WHITESPACE, base::SPLIT_WANT_ALL);
  if (parts.empty())
    parts.emplace_back();
  std::vector<base::StringPiece> path(parts.begin(), parts.end());
  return prefs_->FindPath(path);
}

bool Installation::GetBoolPref(const std::string& key, bool* out) const {
  const base::Value* value = FindPref(key);
  return value && value->GetAsBoolean(out);
}

bool Installation::GetString16Pref(const std::string& key,
                                   base::string16* out) const {
  const base::Value* value = FindPref(key);
  return value && value->GetAsString(out);
}

bool Installation::GetStringPref(const std::string& key,
                                 std::string* out) const {
  const base::Value* value = FindPref(key);
  return value && value->GetAsString(out);
}

bool Installation::GetInt64Pref(const std::string& key, int64_t* out) const {
  std::string text;
  if (!GetStringPref(key, &text))
    return false;
  // "12x" is no number, whatever its first digits say.
  int64_t number = 0;
  if (!base::StringToInt64(text, &number))
    return false;
  *out = number;
  return true;
}

bool Installation::GetListPref(const std::string& key,
                               const base::ListValue** out) const {
  const base::Value* value = FindPref(key);
  return value && value->GetAsList(out);
}

const base::FilePath& Installation::GetFolder() const {
  return folder_;
}

void Installation::LoadStatus() {
  // The current installation is asked from several threads; once a load
  // finished, |status_| is never replaced again, so it is read without the
  // lock afterwards.
  base::AutoLock lock(status_lock_);
  if (status_loaded_)
    return;
  std::string error;
  std::unique_ptr<InstallationStatus> status = ReadInstallationStatusFile(
      folder_.Append(kStatusFileName), INSTALLATION_STATUS_PRIMARY, &error);
  if (!status && !error.empty())
    VLOG(1) << "Unreadable installation status: " << error;
  if (status)
    status_ = std::move(status);
  // Once only, also when the file turns out unreadable.
  status_loaded_ = true;
}

const InstallationStatus* Installation::GetStatus() {
  LoadStatus();
  return status_.get();
}

bool Installation::IsCopyOnly() {
  return GetStatus()->copy_only;
}

bool Installation::IsSingleProfile() {
  bool single_profile = false;
  return GetBoolPref("single_profile", &single_profile) && single_profile;
}

base::string16 Installation::GetQualifiedAppId() {
  return L"KavorSoftware.KavorWebBrowser." + GetStatus()->app_id;
}

base::string16 Installation::GetAutoupdateName() {
  return L"Autoupdate " + GetStatus()->app_id;
}

bool Installation::GetProfileDirectory(base::FilePath* out) {
  return GetProfileDirectoryInternal(out, false, GetChannelId());
}

bool Installation::GetProfileRootDirectory(base::FilePath* out) {
  return GetProfileDirectoryInternal(out, true, GetChannelId());
}

bool Installation::GetProfileDirectoryForStream(base::FilePath* out,
                                                int stream) {
  return GetProfileDirectoryInternal(out, false, stream);
}

bool Installation::GetProfileDirectoryInternal(base::FilePath* out,
                                               bool root,
                                               int stream) {
  if (folder_.empty())
    return false;
  if (IsSingleProfile()) {
    *out = folder_.Append(L"profile").Append(L"data");
    return true;
  }

  const size_t user_name_at = profile_path_.find(kUserNamePlaceholder);
  if (!profile_path_.empty()) {
    base::string16 path = profile_path_;
    if (user_name_at != base::string16::npos) {
      base::string16 user_name;
      if (!GetCurrentUserName(&user_name))
        return false;
      path.replace(user_name_at, wcslen(kUserNamePlaceholder), user_name);
    }
    *out = base::FilePath(path);
  } else {
    base::FilePath app_data;
    if (!base::PathService::Get(base::DIR_APP_DATA, &app_data))
      return false;
    std::string relative = GetProfilePathPattern();
    base::ReplaceSubstringsAfterOffset(&relative, 0, kStreamPlaceholder,
                                       GetStreamName(stream));
    base::ReplaceSubstringsAfterOffset(&relative, 0, "/", "\\");
    *out = app_data.Append(base::UTF8ToUTF16(relative));
  }

  // "...\<USERNAME>" names one folder per user; its parent holds them all.
  // With more below the user's folder there is no such common folder.
  if (root && user_name_at != base::string16::npos) {
    const size_t separator = profile_path_.find_first_of(L"\\/", user_name_at);
    if (separator == base::string16::npos ||
        separator == profile_path_.size() - 1) {
      *out = out->DirName();
    }
  }
  return true;
}

void Installation::GetCacheDirectory(const base::FilePath& profile,
                                     base::FilePath* out) {
  *out = profile;
  if (!profile_path_.empty())
    return;
  // A roaming profile keeps its cache in the machine's own local folder.
  base::FilePath roaming;
  base::FilePath local;
  base::FilePath relative;
  if (base::PathService::Get(base::DIR_APP_DATA, &roaming) &&
      base::PathService::Get(base::DIR_LOCAL_APP_DATA, &local) &&
      roaming.AppendRelativePath(profile, &relative)) {
    *out = local.Append(relative);
  }
}

// static
HKEY Installation::RootFor(bool all_users) {
  return all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

void Installation::RemoveStrayProgIdKey(bool all_users) {
  const HKEY root = RootFor(all_users);
  std::wstring name;
  {
    base::win::RegKey key;
    if (key.Open(root, kStrayProgIdKey, KEY_READ) != ERROR_SUCCESS ||
        key.ReadStringValue(L"FriendlyTypeName", &name) != ERROR_SUCCESS) {
      return;
    }
  }
  // Anyone may name a class "ProgID"; only the browser's own goes.
  if (name.size() < 5 ||
      name.find(base::ASCIIToUTF16(GetProductName())) == std::wstring::npos) {
    return;
  }
  VLOG(1) << "Removing the stray class key " << kStrayProgIdKey;
  Transaction transaction;
  ExecuteOperation(
      &transaction,
      std::make_unique<DeleteRegKeyOperation>(root, kStrayProgIdKey, 0),
      nullptr);
  CommitOperations(&transaction);
}

InstallationImpl::InstallationImpl(const base::FilePath& folder)
    : Installation(folder) {}

InstallationImpl::InstallationImpl(const base::FilePath& folder,
                                   std::unique_ptr<InstallationStatus> status)
    : Installation(folder, std::move(status)) {}

InstallationImpl::~InstallationImpl() = default;

}  // namespace installer
