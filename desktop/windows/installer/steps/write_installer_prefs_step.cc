#include "desktop/windows/installer/steps/write_installer_prefs_step.h"

#include <stddef.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/synchronization/waitable_event.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/common/json_pref_store_factory.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

const wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";

namespace {

const wchar_t kIncludeFileName[] = L"installer_prefs_include.json";

// Makes |*draft|, a copy of |path| beside it (no file when |path| has
// none), for the store to work on. False after logging why it can't.
bool MakeDraft(const base::FilePath& path, base::FilePath* draft) {
  if (!base::CreateTemporaryFileInDir(path.DirName(), draft)) {
    LOG(ERROR) << "Cannot create a temporary file beside " << path.value();
    return false;
  }
  std::string contents;
  const bool copied =
      base::PathExists(path)
          ? base::ReadFileToString(path, &contents) &&
                base::WriteFile(*draft, contents.data(),
                                static_cast<int>(contents.size())) ==
                    static_cast<int>(contents.size())
          : base::DeleteFile(*draft, false);
  if (copied)
    return true;
  LOG(ERROR) << "Cannot copy " << path.value() << " to " << draft->value();
  base::DeleteFile(*draft, false);
  return false;
}

void Set(JsonPrefStore* store,
         const std::string& key,
         std::unique_ptr<base::Value> value) {
  store->SetValue(key, std::move(value), 0);
}

}  // namespace

WriteInstallerPrefsStep::WriteInstallerPrefsStep(
    InstallerStepContext* context,
    InterprocessState* state,
    const base::CommandLine* command_line)
    : InstallerStep("write_installer_prefs", context),
      state_(state),
      command_line_(command_line) {}

WriteInstallerPrefsStep::~WriteInstallerPrefsStep() = default;

void WriteInstallerPrefsStep::Execute(InstallerStepResult* result,
                                      int attempt) {
  const base::FilePath path =
      GetContext()->GetInstallFolder().Append(kInstallerPrefsFileName);
  LOG(INFO) << "Writing installer prefs to " << path.value();
  // The store works on a draft that the run's transaction then copies into
  // place, as it does the status: a failed run puts back the file it found,
  // or removes the one it made.
  base::FilePath draft;
  if (!MakeDraft(path, &draft)) {
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  base::scoped_refptr<JsonPrefStore> prefs =
      CreateJsonPrefStore(GetPrefsTaskPool(), draft);
  JsonPrefStore* store = prefs.get();

  // Only read: the package's file is never repaired or backed up. A run
  // without a package folder has no include file; a relative name would be
  // taken from whatever folder the run was started in.
  const base::FilePath package_dir = GetPackageDir();
  const std::unique_ptr<base::DictionaryValue> include =
      package_dir.IsAbsolute() ? JsonPrefStore::ReadPrefsWithoutChanges(
                                     package_dir.Append(kIncludeFileName))
                               : nullptr;
  const base::Value* welcome_url = nullptr;
  if (include &&
      include->GetWithoutPathExpansion("welcome-url", &welcome_url) &&
      welcome_url->is_string()) {
    LOG(INFO) << "Writing welcome page url pref";
    Set(store, "welcome-url", welcome_url->CreateDeepCopy());
  }

  const Settings* settings = GetSettings();
  Set(store, "single_profile",
      std::make_unique<base::Value>(settings->GetSingleProfile()));
  if (!settings->GetProfileFolder().empty()) {
    LOG(INFO) << "Writing profile folder pref";
    Set(store, "profile_path",
        std::make_unique<base::Value>(
            settings->GetProfileFolder().AsUTF8Unsafe()));
  }
  if (!settings->GetLanguage().empty()) {
    LOG(INFO) << "Writing install language pref";
    Set(store, "language",
        std::make_unique<base::Value>(settings->GetLanguage()));
  }
  const std::string guid = state_->GetSessionGuid();
  if (!guid.empty())
    Set(store, "last_installation_guid", std::make_unique<base::Value>(guid));
  const TrackingDataDictionary* tracking = state_->GetTrackingData();
  const std::optional<std::string> installer_id =
      tracking ? tracking->GetString("uuid") : std::nullopt;
  if (installer_id) {
    LOG(INFO) << "Writing NIUID";
    Set(store, "installer_id", std::make_unique<base::Value>(*installer_id));
  }

  // An uninstall run takes the changed experiments back from this list; the
  // full list says which experiments this installer knew.
  auto changed = std::make_unique<base::ListValue>();
  auto all = std::make_unique<base::ListValue>();
  size_t count = 0;
  const FeatureRecord* experiments = GetInstallerExperiments(&count);
  for (size_t i = 0; i < count; ++i) {
    const bool enabled = base::IsFeatureEnabled(experiments[i].name);
    const std::string entry =
        std::string(experiments[i].name) + (enabled ? "@1" : "@2");
    if (enabled != IsFeatureEnabledByDefault(experiments[i]))
      changed->AppendString(entry);
    all->AppendString(entry);
  }
  Set(store, "installer-experiments", std::move(changed));
  Set(store, "all-installer-experiments", std::move(all));

  if (command_line_->HasSwitch("temp-folder")) {
    LOG(INFO) << "Writing temp folder pref";
    Set(store, "temp_folder",
        std::make_unique<base::Value>(
            command_line_->GetSwitchValuePath("temp-folder").AsUTF8Unsafe()));
  }
  LOG(INFO) << "Writing autoupdate pref";
  const bool autoupdate = state_->IsAutoupdate();
  Set(store, "autoupdate", std::make_unique<base::Value>(autoupdate));
  // An autoupdate keeps the choices the user made when installing.
  if (!autoupdate) {
    LOG(INFO) << "Writing import browser data and enables stats prefs.";
    Set(store, "import_browser_data",
        std::make_unique<base::Value>(settings->GetImportBrowserData()));
    Set(store, "enable_stats",
        std::make_unique<base::Value>(settings->GetEnableKavorStats()));
  }

  ReleasePrefStoreAndWait(&prefs, draft);
  std::string error;
  if (!ExecuteOperation(GetContext()->GetTransaction(),
                        std::make_unique<CopyFileOperation>(draft, path),
                        &error)) {
    LOG(ERROR) << "Cannot write " << path.value() << ": " << error;
  }
  // A damaged file, read from the draft, left its text under the draft's
  // name; the file itself is kept by the transaction until the commit.
  for (const base::FilePath& left :
       {draft, draft.ReplaceExtension(L"bad")}) {
    if (base::PathExists(left) && !base::DeleteFile(left, false))
      LOG(WARNING) << "Cannot remove " << left.value();
  }
  *result = InstallerStepResult(STEP_DONE);
}

}  // namespace installer
