#include "desktop/windows/installer/installer_step_context_impl.h"

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class InstallerStepContextImplTest : public testing::Test {
 protected:
  InstallerStepContextImplTest() { context_.set_settings(&settings_); }

  test::FakeSettings settings_;
  InstallerStepContextImpl context_;
};

TEST_F(InstallerStepContextImplTest, RecordsRegistryValuesIntoTheNewStatus) {
  EXPECT_EQ(nullptr, context_.GetRecordedRegistryValues(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(nullptr, context_.GetRecordedRegistryValues(HKEY_CURRENT_USER));
  context_.StartRecordingRegistryValues();
  std::vector<RegistryKeyRecord>* machine =
      context_.GetRecordedRegistryValues(HKEY_LOCAL_MACHINE);
  std::vector<RegistryKeyRecord>* user =
      context_.GetRecordedRegistryValues(HKEY_CURRENT_USER);
  ASSERT_TRUE(machine && user);
  EXPECT_NE(machine, user);
  EXPECT_EQ(user, context_.GetRecordedRegistryValues(HKEY_CLASSES_ROOT));
  machine->push_back(RegistryKeyRecord());
  context_.StopRecordingRegistryValues();
  EXPECT_EQ(nullptr, context_.GetRecordedRegistryValues(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(nullptr, context_.GetRecordedRegistryValues(HKEY_USERS));
  // What was recorded is the new status's, and stays after recording stops.
  const InstallationStatus* status = context_.GetStatusUnderConstruction();
  EXPECT_EQ(1u, status->hklm_keys.size());
  EXPECT_TRUE(status->hkcu_keys.empty());
}

TEST_F(InstallerStepContextImplTest, IsMinimalInstall) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  settings_.folder = dir.GetPath();
  context_.set_installation_subfolder(base::FilePath(L"47.0.4127.0"));
  const base::FilePath target = dir.GetPath().Append(L"47.0.4127.0");
  ASSERT_TRUE(base::CreateDirectory(target));
  struct {
    InstallerOperation operation;
    bool marker;
    bool minimal;
  } const kCases[] = {
      {OPERATION_FIX_DOWNLOADABLE_RESOURCES, false, true},
      {OPERATION_INSTALL, true, true},
      {OPERATION_INSTALL, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.operation);
    settings_.operation = c.operation;
    const base::FilePath marker = target.Append(L"minimal_install");
    if (c.marker)
      ASSERT_EQ(0, base::WriteFile(marker, "", 0));
    else
      ASSERT_TRUE(base::DeleteFile(marker, false));
    EXPECT_EQ(c.minimal, context_.IsMinimalInstall());
  }
}

TEST_F(InstallerStepContextImplTest, RunningFromTargetFolder) {
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
  const base::string16 parent = exe_dir.DirName().value();
  const base::string16 name = exe_dir.BaseName().value();
  struct {
    base::string16 folder;
    base::string16 subfolder;
    bool running;
  } const kCases[] = {
      {parent, L"", false},
      {base::ToUpperASCII(parent), name, true},
      {parent + L"\\" + name + L"\\", L"", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.folder + L" " + c.subfolder);
    settings_.folder = base::FilePath(c.folder);
    context_.set_installation_subfolder(base::FilePath(c.subfolder));
    EXPECT_EQ(c.running, context_.IsRunningFromTargetFolder());
  }
}

TEST_F(InstallerStepContextImplTest, NoExistingInstallation) {
  EXPECT_FALSE(context_.HasExistingInstallation());
  EXPECT_EQ(INSTALLATION_STATUS_INVALID,
            context_.GetExistingInstallationStatus().origin);
}

TEST_F(InstallerStepContextImplTest, Variables) {
  settings_.folder = base::FilePath(L"C:\\Users\\u\\Kavor");
  *context_.uninstall_string() = L"KavorUninstallKey";
  struct {
    const wchar_t* name;
    const wchar_t* value;
  } const kCases[] = {
      {L"InstallFolder", L"C:\\Users\\u\\Kavor"},
      {L"Uninstall", L"KavorUninstallKey"},
      {L"Executable", L"kavor.exe"},
      {L"installfolder", L"installfolder"},
      {L"Foo", L"Foo"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.value, context_.GetVariable(c.name)) << c.name;
}

}  // namespace
}  // namespace installer
