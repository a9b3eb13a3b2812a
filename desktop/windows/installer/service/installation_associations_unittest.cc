#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/association_operations.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/test/fake_association_operations.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::KeyExists;
using test::ReadText;
using test::WriteText;

const wchar_t kFolder[] = L"C:\\Program Files\\Kavor developer";
const wchar_t kClassKey[] = L"Software\\Classes\\Kavordeveloper";
const wchar_t kHttpKey[] = L"Software\\Classes\\http";
const wchar_t kHttpCommandKey[] =
    L"Software\\Classes\\http\\shell\\open\\command";
const wchar_t kHttpChoiceKey[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\"
    L"http\\UserChoice";

// "missing" when the value or its key is not there.
base::win::OSInfo::Record RecordOf(base::win::Version version) {
  base::win::OSInfo::Record record = base::win::OSInfo::GetInstance()->record();
  record.version = version;
  record.version_number = {10, 0, 19045, 0};
  return record;
}

std::unique_ptr<Installation> MakeInstallation(bool all_users) {
  auto status =
      std::make_unique<InstallationStatus>(INSTALLATION_STATUS_GENERATED);
  status->all_users = all_users;
  return std::make_unique<InstallationImpl>(base::FilePath(kFolder),
                                            std::move(status));
}

class InstallationAssociationsTest : public testing::Test {
 protected:
  void SetUp() override { FreshRegistry(); }
  void TearDown() override { roots_.reset(); }

  // Empty hives, for each case of a table.
  void FreshRegistry() {
    roots_.reset();
    roots_ = std::make_unique<test::ScopedRegistryRoots>();
  }

  std::unique_ptr<test::ScopedRegistryRoots> roots_;
};

TEST_F(InstallationAssociationsTest, RegisterProgIdWritesTheClassRows) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  const std::wstring dde = std::wstring(kClassKey) + L"\\shell\\open\\ddeexec";
  WriteText(HKEY_LOCAL_MACHINE, dde, nullptr, L"old");
  auto installation = MakeInstallation(false);

  for (bool all_users : {false, true}) {
    const HKEY root = all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    EXPECT_TRUE(installation->RegisterProgId(all_users));
    EXPECT_EQ(L"Kavor Web Document",
              ReadText(root, kClassKey, L"FriendlyTypeName"));
    EXPECT_EQ(
        std::wstring(L"\"") + kFolder +
            L"\\Launcher.exe\" -noautoupdate -- \"%1\"",
        ReadText(root, std::wstring(kClassKey) + L"\\shell\\open\\command",
                 nullptr));
    // Only the user answers a dynamic data exchange conversation.
    EXPECT_EQ(!all_users, KeyExists(root, dde + L"\\Topic")) << all_users;
    EXPECT_EQ(!all_users, KeyExists(root, dde)) << all_users;
  }
}

TEST_F(InstallationAssociationsTest, Windows7HttpForAPerUserInstallation) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  test::FakeAssociationOperations associations;
  WriteText(HKEY_CURRENT_USER, kHttpChoiceKey, L"Progid", L"OtherBrowser");
  auto installation = MakeInstallation(false);
  EXPECT_FALSE(installation->IsDefaultHandlerFor(L"http"));

  EXPECT_TRUE(installation->SetAsDefaultHandler(L"http", false));
  EXPECT_EQ(std::wstring(L"\"") + kFolder +
                L"\\launcher.exe\" -noautoupdate -- \"%1\"",
            ReadText(HKEY_CURRENT_USER, kHttpCommandKey, nullptr));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER,
                        std::wstring(kHttpKey) + L"\\shell\\open\\ddeexec"));
  // The user's earlier choice would hide the rows.
  EXPECT_EQ(L"missing", ReadText(HKEY_CURRENT_USER, kHttpChoiceKey, L"Progid"));
  EXPECT_TRUE(installation->IsDefaultHandlerFor(L"http"));
  EXPECT_TRUE(associations.calls.empty());
}

TEST_F(InstallationAssociationsTest, IsDefaultHandlerForIgnoresCase) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  const std::wstring upper =
      L"\"C:\\PROGRAM FILES\\KAVOR DEVELOPER\\"
      L"LAUNCHER.EXE\" -- \"%1\"";
  struct Case {
    const wchar_t* choice;  // the user's ProgId, or null
    std::wstring command;   // of the class the choice leads to
    bool expected;
  } const cases[] = {
      {nullptr, upper, true},
      {L"KavorHttp", upper, true},
      {nullptr, L"\"C:\\Other\\launcher.exe\" \"%1\"", false},
  };
  for (const Case& c : cases) {
    FreshRegistry();
    const std::wstring class_name = c.choice ? c.choice : L"http";
    WriteText(HKEY_CURRENT_USER,
              L"Software\\Classes\\" + class_name + L"\\shell\\open\\command",
              nullptr, c.command);
    if (c.choice)
      WriteText(HKEY_CURRENT_USER, kHttpChoiceKey, L"ProgId", c.choice);
    EXPECT_EQ(c.expected, MakeInstallation(false)->IsDefaultHandlerFor(L"HTTP"))
        << c.command;
  }
}

TEST_F(InstallationAssociationsTest, SavesThePreviousDefaultBrowser) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  const std::wstring other = L"\"C:\\Other\\other.exe\" \"%1\"";
  WriteText(HKEY_CURRENT_USER, kHttpCommandKey, nullptr, other);
  auto installation = MakeInstallation(false);
  base::string16 command;
  EXPECT_FALSE(installation->GetPreviousDefaultBrowser(&command));

  installation->SavePreviousDefaultBrowser(false);
  EXPECT_EQ(other, ReadText(HKEY_CURRENT_USER, L"Software\\Kavor Software",
                            L"Previous Default Browser"));
  EXPECT_TRUE(installation->GetPreviousDefaultBrowser(&command));
  EXPECT_EQ(other, command);

  // Once the browser handles http itself, there is nothing to remember,
  // whatever the machine's classes name.
  ASSERT_TRUE(installation->SetAsDefaultHandler(L"http", false));
  WriteText(HKEY_LOCAL_MACHINE, kHttpCommandKey, nullptr, other);
  installation->SavePreviousDefaultBrowser(true);
  EXPECT_EQ(L"missing",
            ReadText(HKEY_LOCAL_MACHINE, L"Software\\Kavor Software",
                     L"Previous Default Browser"));
}

// A row that fails takes back the rows before it: here the key of the open
// command cannot be created below a volatile key.
TEST_F(InstallationAssociationsTest, AFailingRowRollsBackTheEarlierOnes) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  WriteText(HKEY_CURRENT_USER, std::wstring(kClassKey) + L"\\shell", L"kept",
            L"x");
  HKEY open = nullptr;
  ASSERT_EQ(
      ERROR_SUCCESS,
      ::RegCreateKeyExW(HKEY_CURRENT_USER,
                        (std::wstring(kClassKey) + L"\\shell\\open").c_str(), 0,
                        nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &open, nullptr));
  ::RegCloseKey(open);

  EXPECT_FALSE(MakeInstallation(false)->RegisterProgId(false));
  EXPECT_EQ(L"missing",
            ReadText(HKEY_CURRENT_USER, kClassKey, L"FriendlyTypeName"));
  EXPECT_EQ(L"missing",
            ReadText(HKEY_CURRENT_USER, kClassKey, L"URL Protocol"));
  EXPECT_FALSE(
      KeyExists(HKEY_CURRENT_USER, std::wstring(kClassKey) + L"\\DefaultIcon"));
  EXPECT_EQ(L"x", ReadText(HKEY_CURRENT_USER,
                           std::wstring(kClassKey) + L"\\shell", L"kept"));
}

TEST_F(InstallationAssociationsTest, Windows10WritesNoRows) {
  base::win::ScopedOSInfoOverride windows10(RecordOf(base::win::WIN10_RS2));
  struct Case {
    const wchar_t* name;
    bool all_users;
    bool direct_succeeds;
    bool expected;
    std::vector<std::wstring> calls;
  } const cases[] = {
      // clang-format off
      {L"http", true, true, false, {}},
      {L"http", false, true, true, {L"direct http"}},
      {L"HTTP", false, false, true,
       {L"direct HTTP", L"settings SystemSettings_DefaultApps_Browser"}},
      {L"mailto", false, false, true,
       {L"direct mailto", L"settings SystemSettings_DefaultApps_Email"}},
      {L".htm", false, false, true,
       {L"direct .htm", L"settings SettingsPageAppsDefaultsProtocolView"}},
      // clang-format on
  };
  for (const Case& c : cases) {
    test::FakeAssociationOperations associations;
    associations.succeed = c.direct_succeeds;
    EXPECT_EQ(
        c.expected,
        MakeInstallation(c.all_users)->SetAsDefaultHandler(c.name, c.all_users))
        << c.name;
    EXPECT_EQ(c.calls, associations.calls) << c.name;
  }
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kHttpKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHttpKey));
}

TEST_F(InstallationAssociationsTest, Windows81AsksOnlyForHttp) {
  base::win::ScopedOSInfoOverride windows81(RecordOf(base::win::WIN8_1));
  test::FakeAssociationOperations associations;
  WriteText(HKEY_CURRENT_USER, kHttpChoiceKey, L"Progid", L"OtherBrowser");
  auto installation = MakeInstallation(false);

  // https stays with another program: not the default browser.
  EXPECT_FALSE(installation->SetAsDefaultBrowser(false));
  EXPECT_EQ(std::vector<std::wstring>{L"dialog http"}, associations.calls);
  EXPECT_EQ(L"Kavor Web Document",
            ReadText(HKEY_CURRENT_USER, kClassKey, L"FriendlyTypeName"));
  EXPECT_NE(L"missing", ReadText(HKEY_CURRENT_USER, kHttpCommandKey, nullptr));
  // What the user just chose in the dialog stays.
  EXPECT_EQ(L"OtherBrowser",
            ReadText(HKEY_CURRENT_USER, kHttpChoiceKey, L"Progid"));
  EXPECT_FALSE(installation->RegisterStartMenuInternet(true));
}

TEST_F(InstallationAssociationsTest, Windows7UserOfAnAllUsersInstallation) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  for (bool set_succeeds : {true, false}) {
    FreshRegistry();
    WriteText(HKEY_CURRENT_USER, kHttpChoiceKey, L"Progid", L"Kavordeveloper");
    test::FakeAssociationOperations associations;
    associations.succeed = set_succeeds;
    EXPECT_EQ(set_succeeds,
              MakeInstallation(true)->SetAsDefaultHandler(L"http", false));
    EXPECT_EQ(std::vector<std::wstring>{L"set Kavor developer http " +
                                        std::to_wstring(AT_URLPROTOCOL)},
              associations.calls);
    EXPECT_EQ(set_succeeds, ReadText(HKEY_CURRENT_USER, kHttpCommandKey,
                                     nullptr) != L"missing");
    EXPECT_EQ(L"Kavordeveloper",
              ReadText(HKEY_CURRENT_USER, kHttpChoiceKey, L"Progid"));
  }
}

TEST_F(InstallationAssociationsTest, StartMenuInternetDefault) {
  base::win::ScopedOSInfoOverride windows7(RecordOf(base::win::WIN7));
  test::FakeAssociationOperations associations;
  associations.is_default = true;
  // A machine-wide installation asks the system.
  EXPECT_TRUE(MakeInstallation(true)->IsStartMenuInternetDefault());
  EXPECT_EQ(std::vector<std::wstring>{L"query StartmenuInternet"},
            associations.calls);

  // A per-user one reads the registry: the user's value, else the
  // machine's.
  auto installation = MakeInstallation(false);
  EXPECT_FALSE(installation->IsStartMenuInternetDefault());
  WriteText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\StartMenuInternet",
            nullptr, L"Kavordeveloper");
  EXPECT_TRUE(installation->IsStartMenuInternetDefault());
  ASSERT_TRUE(installation->RegisterStartMenuInternet(false));
  EXPECT_TRUE(installation->IsStartMenuInternetDefault());
  WriteText(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", nullptr,
            L"Other");
  EXPECT_FALSE(installation->IsStartMenuInternetDefault());
  EXPECT_EQ(1u, associations.calls.size());
}

}  // namespace
}  // namespace installer
