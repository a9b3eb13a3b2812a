#include "desktop/windows/installer/steps/registry_steps.h"

#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/registry_entry_templates.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::KeyExists;
using test::ReadText;
using test::WriteText;

const wchar_t kCommandKey[] =
    L"Software\\Classes\\Kavordeveloper\\shell\\open\\command";
const wchar_t kDdeExecKey[] =
    L"Software\\Classes\\Kavordeveloper\\shell\\open\\ddeexec";

// The user's classes key exists in the test hives (it is where the classes
// root leads); what matters is that nothing was written under it.
bool HasSubkeys(HKEY root, const std::wstring& path) {
  base::win::RegKey key;
  DWORD count = 0;
  return key.Open(root, path.c_str(), KEY_READ) == ERROR_SUCCESS &&
         ::RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &count,
                            nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
         count != 0;
}

const RegistryKeyRecord* FindRecord(const std::vector<RegistryKeyRecord>& keys,
                                    const std::wstring& path) {
  for (const RegistryKeyRecord& record : keys) {
    if (record.path == base::UTF16ToUTF8(path))
      return &record;
  }
  return nullptr;
}

class RegistryStepContext : public test::StepTestContext {
 public:
  using StepTestContext::StepTestContext;
  const InstallationStatus& GetExistingInstallationStatus() override {
    return existing;
  }
  InstallationStatus existing;
};

class RegistrySettings : public test::FakeSettings {
 public:
  bool GetAllUsers() const override { return all_users; }
  bool GetCopyOnly() const override { return copy_only; }
  bool all_users = false;
  bool copy_only = false;
};

class RegistryStepsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    context_ = std::make_unique<RegistryStepContext>(dir_.GetPath());
    settings_.folder = context_->settings.folder;
    context_->set_settings(&settings_);
    FreshRoots();
  }
  void TearDown() override {
    RollbackOperations(context_->GetTransaction());
    roots_.reset();
  }

  void FreshRoots() {
    roots_.reset();
    roots_ = std::make_unique<test::ScopedRegistryRoots>();
  }

  InstallerStepStatus Run(InstallerStep&& step) {
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    return result.status;
  }
  InstallerStepStatus SetupRegistry() {
    return Run(SetupRegistryStep(context_.get(), context_->uninstall_string()));
  }

  std::wstring install() const { return settings_.folder.value(); }
  std::wstring UninstallKey(const std::wstring& suffix) const {
    return GetUninstallRegistryKey() + L"\\Kavor 47.0.4127.0" + suffix;
  }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir dir_;
  RegistrySettings settings_;
  std::unique_ptr<RegistryStepContext> context_;
  std::unique_ptr<test::ScopedRegistryRoots> roots_;
};

TEST_F(RegistryStepsTest, SetupForTheUserWritesRecordsAndRollsBack) {
  EXPECT_EQ(STEP_DONE, SetupRegistry());
  EXPECT_EQ(UninstallKey(L""), *context_->uninstall_string());
  const HKEY root = HKEY_CURRENT_USER;
  EXPECT_EQ(L"\"" + install() + L"\\Launcher.exe\" -noautoupdate -- \"%1\"",
            ReadText(root, kCommandKey, nullptr));
  EXPECT_EQ(install(), ReadText(root, UninstallKey(L""), L"InstallLocation"));
  EXPECT_TRUE(KeyExists(root, std::wstring(kDdeExecKey) + L"\\Topic"));
  // This build's stream does not claim the executable name.
  EXPECT_FALSE(
      KeyExists(root,
                L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
                L"kavor.exe"));
  EXPECT_EQ(nullptr, context_->GetRecordedRegistryValues(root));

  // Each key once, with the largest depth of its rows, and one the guard
  // against hostile depths lets clean.
  const InstallationStatus* status = context_->GetStatusUnderConstruction();
  EXPECT_TRUE(status->hklm_keys.empty());
  std::set<std::string> paths;
  size_t values = 0;
  for (const RegistryKeyRecord& record : status->hkcu_keys) {
    EXPECT_TRUE(paths.insert(record.path).second) << record.path;
    values += record.values.size();
    base::string16 key;
    EXPECT_TRUE(record.clean == 0 ||
                CleanRegistryStep::GetKeyToDelete(
                    base::UTF8ToUTF16(record.path), record.clean, &key))
        << record.path;
  }
  EXPECT_LT(40u, values);
  EXPECT_EQ(2u, FindRecord(status->hkcu_keys, kDdeExecKey)->clean);
  const RegistryKeyRecord* uninstall =
      FindRecord(status->hkcu_keys, UninstallKey(L""));
  ASSERT_TRUE(uninstall);
  EXPECT_EQ(1u, uninstall->clean);
  ASSERT_EQ(11u, uninstall->values.size());
  // The recorded values are the expanded ones the registry holds.
  for (const RegistryValueRecord& value : uninstall->values) {
    if (value.type == "REG_SZ") {
      EXPECT_EQ(base::UTF8ToUTF16(value.data),
                ReadText(root, UninstallKey(L""),
                         base::UTF8ToUTF16(value.name).c_str()))
          << value.name;
    }
  }

  RollbackOperations(context_->GetTransaction());
  EXPECT_FALSE(KeyExists(root, L"Software\\Classes\\Kavordeveloper"));
  EXPECT_FALSE(KeyExists(root, UninstallKey(L"")));
  EXPECT_FALSE(KeyExists(root, L"Software\\RegisteredApplications"));
}

TEST_F(RegistryStepsTest, SetupForAllUsersUsesTheMachineRoot) {
  settings_.all_users = true;
  const HKEY root = HKEY_LOCAL_MACHINE;
  // An earlier registration's ddeexec key goes, and comes back on rollback.
  WriteText(root, std::wstring(kDdeExecKey) + L"\\Topic", nullptr, L"old");
  EXPECT_EQ(STEP_DONE, SetupRegistry());
  EXPECT_FALSE(KeyExists(root, kDdeExecKey));
  EXPECT_EQ(L"Kavor developer 47.0.4127.0",
            ReadText(root, UninstallKey(L""), L"DisplayName"));
  EXPECT_FALSE(HasSubkeys(HKEY_CURRENT_USER, L"Software\\Classes"));
  const InstallationStatus* status = context_->GetStatusUnderConstruction();
  EXPECT_TRUE(status->hkcu_keys.empty());
  EXPECT_TRUE(FindRecord(status->hklm_keys, UninstallKey(L"")));
  EXPECT_FALSE(FindRecord(status->hklm_keys, kDdeExecKey));

  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ(L"old",
            ReadText(root, std::wstring(kDdeExecKey) + L"\\Topic", nullptr));
  EXPECT_FALSE(KeyExists(root, UninstallKey(L"")));
}

TEST_F(RegistryStepsTest, UninstallKeyTakesTheFirstFreeSuffix) {
  const struct {
    std::vector<const wchar_t*> existing;
    const wchar_t* chosen;
  } kCases[] = {
      {{L"1"}, L""}, {{L""}, L"1"}, {{L"", L"1"}, L"2"}, {{L"", L"2"}, L"1"}};
  for (const auto& test : kCases) {
    FreshRoots();
    for (const wchar_t* suffix : test.existing)
      WriteText(HKEY_CURRENT_USER, UninstallKey(suffix), L"DisplayName", L"x");
    base::string16 name;
    EXPECT_TRUE(
        SetupRegistryStep::BuildUninstallKeyName(HKEY_CURRENT_USER, &name));
    EXPECT_EQ(UninstallKey(test.chosen), name);
  }
}

TEST_F(RegistryStepsTest, CopyOnlyWritesNothing) {
  settings_.copy_only = true;
  EXPECT_EQ(STEP_DONE, SetupRegistry());
  EXPECT_TRUE(context_->uninstall_string()->empty());
  EXPECT_TRUE(context_->GetTransaction()->empty());
  EXPECT_FALSE(HasSubkeys(HKEY_CURRENT_USER, L"Software\\Classes"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Microsoft"));
  EXPECT_TRUE(context_->GetStatusUnderConstruction()->hkcu_keys.empty());
}

TEST(RegistryStepsKeyToDeleteTest, Depths) {
  const std::wstring kPath = L"Software\\Kavor\\A\\B\\C";
  const std::pair<std::wstring, const wchar_t*> kAccepted[] = {
      {kPath, L"Software\\Kavor\\A\\B\\C"},
      {kPath, L"Software\\Kavor\\A\\B"},
      {kPath, L"Software\\Kavor\\A"},
      {L"Software\\Kavor\\A", L"Software\\Kavor\\A"}};
  base::string16 key;
  for (uint32_t depth = 1; depth <= 4; ++depth) {
    const auto& [path, expected] = kAccepted[depth - 1];
    const uint32_t used = path == kPath ? depth : 1;
    EXPECT_TRUE(CleanRegistryStep::GetKeyToDelete(path, used, &key)) << depth;
    EXPECT_EQ(expected, key);
  }
  // "Software\Kavor", "Software" and above; -1 in the status file.
  key = L"unchanged";
  for (uint32_t depth : {4u, 5u, 6u, 0xFFFFFFFFu, 0x80000000u, 0u})
    EXPECT_FALSE(CleanRegistryStep::GetKeyToDelete(kPath, depth, &key))
        << depth;
  for (const wchar_t* path :
       {L"Software\\Kavor", L"\\Software\\Kavor\\A", L"Software\\\\Kavor\\A",
        L"Software\\Kavor\\A\\", L""}) {
    EXPECT_FALSE(CleanRegistryStep::GetKeyToDelete(path, 1, &key)) << path;
  }
  EXPECT_EQ(L"unchanged", key);
}

RegistryKeyRecord Record(const std::wstring& path,
                         uint32_t clean,
                         std::vector<std::string> values = {}) {
  RegistryKeyRecord record;
  record.clean = clean;
  record.path = base::UTF16ToUTF8(path);
  for (const std::string& name : values)
    record.values.push_back({"REG_SZ", name, "x"});
  return record;
}

TEST_F(RegistryStepsTest, CleanFollowsTheRecordedDepths) {
  const HKEY user = HKEY_CURRENT_USER;
  const HKEY machine = HKEY_LOCAL_MACHINE;
  const std::wstring base = L"Software\\Kavor Test";
  for (const wchar_t* key :
       {L"\\Values", L"\\One\\Key", L"\\Three\\A\\B\\C", L"\\Hostile\\A\\B"}) {
    WriteText(user, base + key, L"a", L"1");
    WriteText(user, base + key, L"b", L"2");
  }
  WriteText(machine, base + L"\\Machine\\Key", L"a", L"1");
  WriteText(user, L"Software\\Classes\\ProgID", L"FriendlyTypeName",
            L"Kavor Web Document");
  WriteText(machine, L"Software\\Classes\\ProgID", L"FriendlyTypeName",
            L"Another Web Document");
  context_->existing.hkcu_keys = {
      Record(base + L"\\Values", 0, {"a"}),
      Record(base + L"\\One\\Key", 1),
      Record(base + L"\\Three\\A\\B\\C", 3),
      // -1, and a depth that climbs to "Software" itself.
      Record(base + L"\\Hostile\\A\\B", 0xFFFFFFFF),
      Record(base + L"\\Hostile\\A\\B", 4),
      Record(L"Software", 1),
  };
  context_->existing.hklm_keys = {Record(base + L"\\Machine\\Key", 1)};

  EXPECT_EQ(STEP_DONE, Run(CleanRegistryStep(context_.get(), EXECUTABLE_X86)));
  EXPECT_EQ(L"missing", ReadText(user, base + L"\\Values", L"a"));
  EXPECT_EQ(L"2", ReadText(user, base + L"\\Values", L"b"));
  EXPECT_FALSE(KeyExists(user, base + L"\\One\\Key"));
  EXPECT_TRUE(KeyExists(user, base + L"\\One"));
  EXPECT_FALSE(KeyExists(user, base + L"\\Three\\A"));
  EXPECT_TRUE(KeyExists(user, base + L"\\Three"));
  EXPECT_EQ(L"1", ReadText(user, base + L"\\Hostile\\A\\B", L"a"));
  EXPECT_FALSE(KeyExists(machine, base + L"\\Machine\\Key"));
  // The stray class key goes where it is the browser's.
  EXPECT_FALSE(KeyExists(user, L"Software\\Classes\\ProgID"));
  EXPECT_TRUE(KeyExists(machine, L"Software\\Classes\\ProgID"));

  // The keys come back with the run's rollback; the stray key was final.
  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ(L"1", ReadText(user, base + L"\\Values", L"a"));
  EXPECT_EQ(L"2", ReadText(user, base + L"\\Three\\A\\B\\C", L"b"));
  EXPECT_EQ(L"1", ReadText(machine, base + L"\\Machine\\Key", L"a"));
  EXPECT_FALSE(KeyExists(user, L"Software\\Classes\\ProgID"));
}

// Making the browser a protocol's handler writes the user's class of the
// protocol, which no status records. The uninstall takes every user's
// protocol class that opens its launcher, however the path is spelt, and
// leaves the classes of other programs and folders; an upgrade keeps them.
TEST_F(RegistryStepsTest, UninstallRemovesProtocolClassesOpeningItsLauncher) {
  const HKEY user = HKEY_CURRENT_USER;
  const std::wstring kClasses = L"Software\\Classes\\";
  const std::wstring ours =
      L"\"" + install() + L"\\launcher.exe\" -noautoupdate -- \"%1\"";
  const struct {
    const wchar_t* name;
    bool url_protocol;
    std::wstring command;
    bool removed;
  } kCases[] = {
      {L"irc", true, ours, true},
      {L"kavor-app", true, base::ToUpperASCII(ours), true},
      // The folder's name starts with this one's.
      {L"news", true,
       L"\"" + install() + L"2\\launcher.exe\" -noautoupdate -- \"%1\"",
       false},
      {L"txtfile", false, ours, false},
      {L"feed", true, L"", false},
  };
  for (InstallerOperation operation :
       {OPERATION_UPGRADE, OPERATION_UNINSTALL}) {
    SCOPED_TRACE(operation);
    FreshRoots();
    settings_.operation = operation;
    for (const auto& c : kCases) {
      const std::wstring key = kClasses + c.name;
      WriteText(user, key + L"\\DefaultIcon", L"",
                install() + L"\\launcher.exe,0");
      if (c.url_protocol)
        WriteText(user, key, L"URL Protocol", L"");
      if (!c.command.empty())
        WriteText(user, key + L"\\shell\\open\\command", L"", c.command);
    }
    EXPECT_EQ(STEP_DONE,
              Run(CleanRegistryStep(context_.get(), EXECUTABLE_X86)));
    for (const auto& c : kCases) {
      EXPECT_EQ(operation == OPERATION_UNINSTALL && c.removed,
                !KeyExists(user, kClasses + c.name))
          << c.name;
    }
    // The run's rollback brings them back.
    RollbackOperations(context_->GetTransaction());
    for (const auto& c : kCases) {
      EXPECT_EQ(c.command.empty() ? L"missing" : c.command,
                ReadText(user, kClasses + c.name + L"\\shell\\open\\command",
                         nullptr))
          << c.name;
    }
  }
}

// A 64-bit launcher's entry in the native view goes as a whole when it
// names this folder, whatever depth the record says.
TEST_F(RegistryStepsTest, CleanRemovesTheNativeUninstallEntryOfThisFolder) {
  const struct {
    int bitness;
    const wchar_t* location;
    bool key_removed;
  } kCases[] = {{EXECUTABLE_OTHER, nullptr, true},
                {EXECUTABLE_OTHER, L"C:\\Elsewhere", false},
                {EXECUTABLE_X86, nullptr, false}};
  for (const auto& test : kCases) {
    FreshRoots();
    const std::wstring key = UninstallKey(L"");
    WriteText(HKEY_CURRENT_USER, key, L"InstallLocation",
              test.location ? test.location : install());
    WriteText(HKEY_CURRENT_USER, key, L"DisplayName", L"Kavor");
    context_->existing.hkcu_keys = {Record(key, 0, {"DisplayName"})};
    EXPECT_EQ(STEP_DONE, Run(CleanRegistryStep(context_.get(), test.bitness)));
    EXPECT_EQ(test.key_removed, !KeyExists(HKEY_CURRENT_USER, key))
        << test.bitness << " " << (test.location ? test.location : L"");
    EXPECT_EQ(L"missing", ReadText(HKEY_CURRENT_USER, key, L"DisplayName"));
    RollbackOperations(context_->GetTransaction());
  }
}

// Installations side by side share the class, client and application keys;
// the one registered last owns them, and an uninstall of the other leaves
// them to it.
TEST_F(RegistryStepsTest, CleanLeavesSharedKeysToTheInstallationTheyName) {
  const HKEY root = HKEY_CURRENT_USER;
  const std::wstring kClient =
      L"Software\\Clients\\StartMenuInternet\\Kavordeveloper";
  const std::wstring kRegistered = L"Software\\RegisteredApplications";
  const std::wstring kOpenWith = L"Software\\Classes\\.htm\\OpenWithProgIDs";
  const std::wstring kCompat =
      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\"
      L"Compatibility Assistant\\Persisted";
  ASSERT_EQ(STEP_DONE, SetupRegistry());
  const InstallationStatus first = *context_->GetStatusUnderConstruction();
  // The second folder's name starts with the first one's.
  RegistrySettings second_settings;
  second_settings.folder = base::FilePath(install() + L"2");
  RegistryStepContext second(dir_.GetPath());
  second.set_settings(&second_settings);
  ASSERT_EQ(STEP_DONE,
            Run(SetupRegistryStep(&second, second.uninstall_string())));
  const std::wstring second_command =
      L"\"" + install() + L"2\\Launcher.exe\" -noautoupdate -- \"%1\"";
  ASSERT_EQ(second_command, ReadText(root, kCommandKey, nullptr));

  context_->existing = first;
  EXPECT_EQ(STEP_DONE, Run(CleanRegistryStep(context_.get(), EXECUTABLE_X86)));
  // The first one's own registration goes,
  EXPECT_FALSE(KeyExists(root, UninstallKey(L"")));
  const std::wstring first_compat = install() + L"\\Launcher.exe";
  EXPECT_EQ(L"missing", ReadText(root, kCompat, first_compat.c_str()));
  // the shared one stays with the second.
  EXPECT_EQ(second_command, ReadText(root, kCommandKey, nullptr));
  EXPECT_EQ(L"Kavordeveloper.Extension",
            ReadText(root, L"Software\\Classes\\.kex", nullptr));
  EXPECT_TRUE(KeyExists(root, kClient + L"\\Capabilities\\UrlAssociations"));
  EXPECT_EQ(L"Kavordeveloper",
            ReadText(root, kClient + L"\\Capabilities\\Startmenu",
                     L"StartMenuInternet"));
  EXPECT_EQ(kClient + L"\\Capabilities",
            ReadText(root, kRegistered, L"Kavor developer"));
  base::win::RegKey open_with;
  EXPECT_EQ(ERROR_SUCCESS, open_with.Open(root, kOpenWith.c_str(), KEY_READ));
  EXPECT_TRUE(open_with.HasValue(L"Kavordeveloper"));
  open_with.Close();
  EXPECT_EQ(install() + L"2",
            ReadText(root, UninstallKey(L"1"), L"InstallLocation"));

  // The second one's uninstall takes everything with it.
  second.existing = *second.GetStatusUnderConstruction();
  EXPECT_EQ(STEP_DONE, Run(CleanRegistryStep(&second, EXECUTABLE_X86)));
  EXPECT_FALSE(KeyExists(root, L"Software\\Classes\\Kavordeveloper"));
  EXPECT_FALSE(KeyExists(root, L"Software\\Classes\\.kex"));
  EXPECT_FALSE(KeyExists(root, kClient));
  EXPECT_EQ(L"missing", ReadText(root, kRegistered, L"Kavor developer"));
  EXPECT_EQ(ERROR_SUCCESS, open_with.Open(root, kOpenWith.c_str(), KEY_READ));
  EXPECT_FALSE(open_with.HasValue(L"Kavordeveloper"));
  EXPECT_FALSE(KeyExists(root, UninstallKey(L"1")));
  RollbackOperations(second.GetTransaction());
}

}  // namespace
}  // namespace installer
