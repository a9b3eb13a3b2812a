#include "desktop/windows/installer/steps/shortcut_steps.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using Strings = std::vector<std::string>;

// Records every call as "pin NAME MODE", "pin-s NAME" or "unpin NAME".
class FakeTaskband : public TaskbandUtils {
 public:
  explicit FakeTaskband(Strings* calls) : calls_(calls) {}
  bool CreateAndPinShortcut(const FilePath&,
                            const FilePath&,
                            const base::string16&,
                            const base::string16&,
                            uint32_t) override {
    return false;
  }
  bool PinShortcut(const FilePath&,
                   const FilePath& shortcut,
                   uint32_t mode) override {
    calls_->push_back("pin " + Name(shortcut) + " " + std::to_string(mode));
    return false;
  }
  bool PinShortcutWithHelper(const FilePath&,
                             const FilePath& shortcut) override {
    calls_->push_back("pin-s " + Name(shortcut));
    return false;
  }
  bool UnpinShortcut(const FilePath& shortcut) override {
    calls_->push_back("unpin " + Name(shortcut));
    return false;
  }
  void FindPinnedShortcuts(const FilePath&,
                           const base::string16&,
                           const BY_HANDLE_FILE_INFORMATION*,
                           std::vector<FilePath>*) override {}

 private:
  static std::string Name(const FilePath& path) {
    return path.BaseName().AsUTF8Unsafe();
  }
  Strings* const calls_;
};

// An existing installation's shortcuts and pins as the folder examination
// found them.
class Details : public test::FakeFolderDetails {
 public:
  using FakeFolderDetails::FakeFolderDetails;
  std::unique_ptr<InstallationStatus> status;
  bool exists[3] = {}, recreate[3] = {}, recreate_pin = false,
       temporary_folder_exists = false;
  std::vector<FilePath> pinned, suffixed;
  FilePath temporary_folder;

  const InstallationStatus* GetInstallationStatus() const override {
    return status.get();
  }
  bool DesktopShortcutExists() const override { return exists[0]; }
  bool StartMenuShortcutExists() const override { return exists[1]; }
  bool QuickLaunchShortcutExists() const override { return exists[2]; }
  bool RecreateDesktopShortcut() const override { return recreate[0]; }
  bool RecreateStartMenuShortcut() const override { return recreate[1]; }
  bool RecreateQuickLaunchShortcut() const override { return recreate[2]; }
  bool RecreatePinnedShortcut() const override { return recreate_pin; }
  const std::vector<FilePath>& GetPinnedShortcutPaths() const override {
    return pinned;
  }
  const std::vector<FilePath>& GetSuffixedPinnedShortcutPaths() const override {
    return suffixed;
  }
  bool TemporaryShortcutFolderExists() const override {
    return temporary_folder_exists;
  }
  const FilePath& GetTemporaryShortcutFolder() const override {
    return temporary_folder;
  }
};

class Settings : public test::FakeSettings {
 public:
  Details details{&folder};
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }
  bool copy_only = false, all_users = false, desktop = false, menu = false,
       quick = false, pinned = false;
  base::string16 language;
  bool GetCopyOnly() const override { return copy_only; }
  bool GetAllUsers() const override { return all_users; }
  bool GetDesktopShortcut() const override { return desktop; }
  bool GetStartMenuShortcut() const override { return menu; }
  bool GetQuickLaunchShortcut() const override { return quick; }
  bool GetPinnedShortcut() const override { return pinned; }
  const base::string16& GetLanguage() const override { return language; }
};

class State : public test::FakeInterprocessState {
 public:
  TrackingDataDictionary* GetTrackingData() override { return &tracking; }
  TrackingDataDictionary tracking;
};

class ShortcutStepsTest : public test::StepTest {
 protected:
  // The shell folders a run may put shortcuts into, each a folder of the
  // test's own.
  const int kKeys[5] = {base::DIR_USER_DESKTOP, base::DIR_START_MENU,
                        base::DIR_USER_QUICK_LAUNCH, base::DIR_COMMON_DESKTOP,
                        base::DIR_COMMON_START_MENU};

  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_TRUE(shell_.CreateUniqueTempDir());
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(base::PathService::Get(kKeys[i], &saved_[i]));
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
          kKeys[i], shell_.GetPath().Append(std::to_wstring(i)), true, true));
    }
    StepTest::SetUp();
  }
  void TearDown() override {
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
          kKeys[i], saved_[i], true, false));
    }
  }

  // A fresh run with |settings_| and |state_|, whose step leaves its calls
  // in |calls_|.
  template <typename Step = InstallShortcutsStep>
  std::unique_ptr<Step> NewStep() {
    Reset();
    settings_.folder = context_->settings.folder;
    context_->set_settings(&settings_);
    calls_.clear();
    EXPECT_TRUE(base::CreateDirectory(package_));
    return std::make_unique<Step>(context_.get(), &state_,
                                  std::make_unique<FakeTaskband>(&calls_));
  }

  FilePath Shell(int i, const wchar_t* name = nullptr) {
    return shell_.GetPath()
        .Append(std::to_wstring(i))
        .Append(name ? name : kName);
  }

  static std::string Contents(const FilePath& path) {
    std::string contents;
    return base::ReadFileToString(path, &contents) ? contents : "missing";
  }

  const wchar_t* const kName = L"Kavor developer.lnk";
  base::win::ScopedCOMInitializer com_;
  base::ScopedTempDir shell_;
  FilePath saved_[5];
  Settings settings_;
  State state_;
  Strings calls_;
};

TEST_F(ShortcutStepsTest, InstallShortcuts) {
  struct Case {
    const char* name;
    bool copy_only, all_users, shortcuts, pinned, autoupdate;
    const char* medium;
    bool agent_file;
    const wchar_t* language;
    // Shell folders (kKeys) with a shortcut: desktop, start menu, quick
    // launch; -1 none.
    int folders[3];
    Strings calls;
    // The package folder the run knows, when not the test's own; a relative
    // one is taken from the parent of the test's own, which then is the
    // current folder.
    const wchar_t* package = nullptr;
  } const kCases[] = {
      // clang-format off
      {"copy only", true, false, true, true, false, "pb", true, L"ru",
       {-1, -1, -1}, {}},
      {"no flags", false, false, false, false, false, "pb", true, L"ru",
       {-1, -1, -1}, {}},
      {"user", false, false, true, true, false, "", false, L"en",
       {0, 1, 2},
       {"pin Kavor developer.lnk 0", "pin-s Kavor developer.lnk"}},
      {"all users, autoupdate", false, true, true, true, true, "", false,
       L"en", {3, 4, 2}, {"pin Kavor developer.lnk 0"}},
      {"pb, ru", false, false, false, true, false, "pb", false, L"ru",
       {-1, -1, -1}, {"pin Kavor developer.lnk 0", "pin vk.lnk 0"}},
      {"user agent file", false, false, false, true, false, "x", true, L"de",
       {-1, -1, -1}, {"pin Kavor developer.lnk 0", "pin facebook.lnk 0"}},
      {"no pinning", false, false, false, false, false, "pb", true, L"ru",
       {-1, -1, -1}, {}},
      {"relative package folder", false, false, true, true, false, "pb", true,
       L"ru", {-1, -1, -1}, {}, L"package"},
      {"unknown package folder", false, false, true, true, false, "pb", true,
       L"ru", {-1, -1, -1}, {}, L""},
      // clang-format on
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    settings_.copy_only = c.copy_only;
    settings_.all_users = c.all_users;
    settings_.desktop = settings_.menu = settings_.quick = c.shortcuts;
    settings_.pinned = c.pinned;
    settings_.language = c.language;
    state_.autoupdate = c.autoupdate;
    state_.tracking.SetString("utm.medium", c.medium);
    std::unique_ptr<InstallShortcutsStep> step = NewStep();
    FilePath saved_current;
    ASSERT_TRUE(base::GetCurrentDirectory(&saved_current));
    if (c.package) {
      context_->state.package_dir = FilePath(c.package);
      ASSERT_TRUE(base::SetCurrentDirectory(package_.DirName()));
    }
    if (c.agent_file)
      Write(target_, "resources/tracking_user_agent.json", "{}");
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, 0);
    ASSERT_TRUE(base::SetCurrentDirectory(saved_current));
    EXPECT_EQ(STEP_DONE, result.status);
    EXPECT_EQ(c.calls, calls_);
    EXPECT_EQ(!c.copy_only && !c.package,
              base::PathExists(package_.Append(kName)));
    const InstallationStatus* status = context_->GetStatusUnderConstruction();
    const FilePath* recorded[] = {&status->desktop_shortcut,
                                  &status->menu_shortcut,
                                  &status->quick_launch_shortcut};
    for (int i = 0; i < 3; ++i) {
      const FilePath expected =
          c.folders[i] < 0 ? FilePath() : Shell(c.folders[i]);
      EXPECT_EQ(expected.value(), recorded[i]->value());
      EXPECT_TRUE(expected.empty() || base::PathExists(expected));
    }
    // The social site shortcut's icon and address follow its name.
    for (const std::string site : {"vk", "facebook"}) {
      const base::string16 wide = base::UTF8ToUTF16(site);
      base::win::ShortcutProperties read;
      if (std::find(c.calls.begin(), c.calls.end(), "pin " + site + ".lnk 0") ==
          c.calls.end()) {
        EXPECT_FALSE(base::PathExists(package_.Append(wide + L".lnk")));
        continue;
      }
      ASSERT_TRUE(base::win::ResolveShortcutProperties(
          package_.Append(wide + L".lnk"),
          base::win::ShortcutProperties::PROPERTIES_ICON |
              base::win::ShortcutProperties::PROPERTIES_ARGUMENTS,
          &read));
      EXPECT_EQ(target_.Append(L"resources\\" + wide + L"_icon.ico").value(),
                read.icon.value());
      EXPECT_EQ(L"https://" + wide + L".com/", read.arguments);
    }
    // The copies go with the transaction.
    RollbackOperations(context_->GetTransaction());
    for (int i = 0; i < 5; ++i)
      EXPECT_FALSE(base::PathExists(Shell(i)));
  }
}

TEST_F(ShortcutStepsTest, UpdateShortcuts) {
  // What becomes of each of the three shortcuts.
  enum Outcome {
    kUntouched,  // No record, the old file stays.
    kRemoved,    // No record, the old file is gone.
    kKept,       // The old path is recorded and its file is as it was.
    kMoved,      // The new name is recorded, holding the old file.
    kCreated,    // The new name is recorded, a fresh copy of the master.
    kNone,       // No record, no file.
  };
  struct Case {
    const char* name;
    bool copy_only, exists, wanted, recreate, rename;
    Outcome outcome;
    // The recorded shortcut is gone from the disk, so that a move fails.
    bool missing = false;
    bool all_users = false;
  } const kCases[] = {
      // clang-format off
      {"copy only", true, true, false, false, false, kUntouched},
      {"unwanted", false, true, false, false, false, kRemoved},
      {"unwanted, renamed", false, true, false, false, true, kRemoved},
      {"kept", false, true, true, false, false, kKept},
      {"renamed", false, true, true, false, true, kMoved},
      {"move fails", false, true, true, false, true, kKept, true},
      {"recreated", false, true, true, true, false, kCreated},
      {"recreated, renamed", false, true, true, true, true, kCreated},
      {"deleted by the user", false, false, true, false, false, kCreated},
      {"none", false, false, false, false, false, kNone},
      {"all users", false, false, true, false, false, kCreated, false, true},
      // clang-format on
  };
  const wchar_t kOldName[] = L"Kavor old.lnk";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    settings_.copy_only = c.copy_only;
    settings_.all_users = c.all_users;
    settings_.desktop = settings_.menu = settings_.quick = c.wanted;
    // The shell folder of each kind: the common desktop and Start menu for
    // all users; the quick launch folder is always the user's.
    const int shell[3] = {c.all_users ? 3 : 0, c.all_users ? 4 : 1, 2};
    Details& details = settings_.details;
    details.status = std::make_unique<InstallationStatus>();
    std::unique_ptr<UpdateShortcutsStep> step = NewStep<UpdateShortcutsStep>();
    FilePath old[3];
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(base::DeleteFile(Shell(shell[i]), false) &&
                  base::DeleteFile(Shell(shell[i], kOldName), false));
      old[i] = Shell(shell[i], c.rename ? kOldName : kName);
      details.exists[i] = c.exists;
      details.recreate[i] = c.recreate;
      if (c.exists && !c.missing)
        Write(old[i].DirName(), old[i].BaseName().AsUTF8Unsafe(), "old");
    }
    details.status->desktop_shortcut = old[0];
    details.status->menu_shortcut = old[1];
    details.status->quick_launch_shortcut = old[2];
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    const InstallationStatus* status = context_->GetStatusUnderConstruction();
    const FilePath* recorded[] = {&status->desktop_shortcut,
                                  &status->menu_shortcut,
                                  &status->quick_launch_shortcut};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const std::string master = Contents(package_.Append(kName));
      switch (c.outcome) {
        case kUntouched:
        case kRemoved:
        case kNone:
          EXPECT_TRUE(recorded[i]->empty());
          EXPECT_EQ(c.outcome == kUntouched ? "old" : "missing",
                    Contents(old[i]));
          break;
        case kKept:
          EXPECT_EQ(old[i], *recorded[i]);
          EXPECT_EQ(c.missing ? "missing" : "old", Contents(old[i]));
          break;
        case kMoved:
        case kCreated:
          EXPECT_EQ(Shell(shell[i]), *recorded[i]);
          EXPECT_EQ(c.outcome == kMoved ? "old" : master,
                    Contents(Shell(shell[i])));
          EXPECT_EQ(!c.rename, base::PathExists(old[i]));
          break;
      }
    }
    RollbackOperations(context_->GetTransaction());
  }
}

TEST_F(ShortcutStepsTest, UpdatePinnedShortcut) {
  struct Case {
    const char* name;
    bool autoupdate, all_users, pinned_before, pin_wanted, rename, recreate;
    Strings calls;
  } const kCases[] = {
      // clang-format off
      {"new pin", false, false, false, true, false, false,
       {"pin Kavor developer.lnk 0"}},
      {"pin kept", false, false, true, true, false, false, {}},
      {"renamed: repinned", false, false, true, true, true, false,
       {"unpin pinned.lnk", "pin Kavor developer.lnk 0"}},
      {"recreated: repinned", false, false, true, true, false, true,
       {"unpin pinned.lnk", "pin Kavor developer.lnk 0"}},
      {"unwanted pin", false, false, true, false, false, false,
       {"unpin pinned.lnk"}},
      {"all users autoupdate keeps the pin", true, true, true, false, true,
       true, {}},
      {"user autoupdate", true, false, true, true, true, false,
       {"unpin pinned.lnk", "pin Kavor developer.lnk 0"}},
      // clang-format on
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    state_.autoupdate = c.autoupdate;
    settings_.all_users = c.all_users;
    settings_.pinned = c.pin_wanted;
    Details& details = settings_.details;
    details.status = std::make_unique<InstallationStatus>();
    if (c.rename)
      details.status->desktop_shortcut = Shell(0, L"Kavor old.lnk");
    details.recreate_pin = c.recreate;
    std::unique_ptr<UpdateShortcutsStep> step = NewStep<UpdateShortcutsStep>();
    details.pinned.clear();
    if (c.pinned_before) {
      details.pinned.push_back(dir_.GetPath().Append(L"pinned.lnk"));
      Write(dir_.GetPath(), "pinned.lnk", "pin");
    }
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    EXPECT_EQ(c.calls, calls_);
    // An unpinned shortcut goes, a kept pin stays.
    if (c.pinned_before) {
      const bool unpinned = std::find(calls_.begin(), calls_.end(),
                                      "unpin pinned.lnk") != calls_.end();
      EXPECT_EQ(!unpinned, base::PathExists(details.pinned[0]));
    }
  }
}

TEST_F(ShortcutStepsTest, RemoveShortcuts) {
  for (const bool found : {true, false}) {
    SCOPED_TRACE(found);
    Details& details = settings_.details;
    details.status = std::make_unique<InstallationStatus>();
    std::unique_ptr<RemoveShortcutsStep> step = NewStep<RemoveShortcutsStep>();
    FilePath* paths[] = {&details.status->desktop_shortcut,
                         &details.status->menu_shortcut,
                         &details.status->quick_launch_shortcut};
    for (int i = 0; i < 3; ++i) {
      details.exists[i] = found;
      *paths[i] = Shell(i);
      Write(Shell(i).DirName(), "Kavor developer.lnk", "old");
    }
    details.pinned = {dir_.GetPath().Append(L"a.lnk")};
    details.suffixed = {dir_.GetPath().Append(L"b.lnk")};
    Write(dir_.GetPath(), "a.lnk", "pin");
    Write(dir_.GetPath(), "b.lnk", "pin");
    details.temporary_folder = dir_.GetPath().Append(L"Kavor Software");
    details.temporary_folder_exists = found;
    Write(details.temporary_folder, "x", "x");
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    EXPECT_EQ(Strings({"unpin a.lnk", "unpin b.lnk"}), calls_);
    EXPECT_FALSE(base::PathExists(details.pinned[0]));
    EXPECT_FALSE(base::PathExists(details.suffixed[0]));
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(!found, base::PathExists(Shell(i)));
    EXPECT_EQ(!found, base::PathExists(details.temporary_folder));
  }
}

}  // namespace
}  // namespace installer
