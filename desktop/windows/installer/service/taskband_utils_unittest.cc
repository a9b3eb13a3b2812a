#include "desktop/windows/installer/service/taskband_utils.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/clock.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::win::OSInfo;
using base::win::ShortcutProperties;

class FixedClock : public base::Clock {
 public:
  base::Time Now() override { return now; }
  base::Time now = base::Time::FromInternalValue(13150000000000000LL);
};

// Shortcuts as a test describes them, by file name: target and, when set,
// app id.
class FakeReader : public ShortcutPropertiesReader {
 public:
  struct Entry {
    FilePath target;
    const wchar_t* app_id;  // null: the app id cannot be read
  };
  void ReadTargetAndAppId(const FilePath& shortcut,
                          ShortcutProperties* properties) override {
    auto it = entries.find(shortcut.BaseName().value());
    if (it == entries.end())
      return;
    properties->set_target(it->second.target);
    if (it->second.app_id)
      properties->set_app_id(it->second.app_id);
  }
  std::map<std::wstring, Entry> entries;
};

class TaskbandUtilsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    ASSERT_TRUE(helpers_.CreateUniqueTempDir());
    ASSERT_TRUE(base::PathService::Get(base::DIR_TEMP, &saved_temp_));
    ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        base::DIR_TEMP, temp_.GetPath(), true, false));
    FilePath exe_dir;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
    for (const wchar_t* name :
         {L"installer_helper.exe", L"installer_helper_64.exe"}) {
      ASSERT_TRUE(base::CopyFile(exe_dir.Append(L"kavor_helper_standin.exe"),
                                 helpers_.GetPath().Append(name)));
    }
    shortcut_ = temp_.GetPath().Append(L"Kavor developer.lnk");
  }

  void TearDown() override {
    ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        base::DIR_TEMP, saved_temp_, true, false));
  }

  static OSInfo::Record RecordOf(base::win::Version version) {
    OSInfo::Record record = OSInfo::GetInstance()->record();
    record.version = version;
    return record;
  }

  static base::win::RegKey CompanyKey() {
    return base::win::RegKey(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                             KEY_ALL_ACCESS);
  }
  // The stored check time; "missing" without one.
  static std::string StoredCheckTime() {
    std::wstring value;
    if (CompanyKey().ReadStringValue(ValueName().c_str(), &value) !=
        ERROR_SUCCESS)
      return "missing";
    return base::WideToUTF8(value);
  }
  static std::wstring ValueName() {
    return TaskbandUtilsImpl::GetTaskbandCheckValueName();
  }

  // The command lines the stand-in helper recorded in |folder|, and forgets
  // them.
  static std::string TakeHelperCalls(const FilePath& folder) {
    std::string calls;
    const FilePath file = folder.Append(L"helper_calls.txt");
    if (base::ReadFileToString(file, &calls)) {
      EXPECT_TRUE(base::DeleteFile(file, false));
    }
    return calls;
  }

  // The check time lives in the user's hive.
  test::ScopedRegistryRoots roots_;
  base::ScopedTempDir temp_;
  base::ScopedTempDir helpers_;
  FilePath saved_temp_;
  FilePath shortcut_;
  FixedClock clock_;
};

TEST_F(TaskbandUtilsTest, PeriodicPinWaitsForTheInterval) {
  const int64_t now = clock_.now.ToInternalValue();
  const std::string now_text = base::Int64ToString(now);
  struct Case {
    std::optional<std::wstring> stored;
    uint32_t mode;
    bool pinned;
    std::string after;  // the stored value afterwards
  } const kCases[] = {
      // The first periodic pin only starts the clock.
      {std::nullopt, kTaskbandPinMode, false, now_text},
      {L"", kTaskbandPinMode, false, now_text},
      {L"0", kTaskbandPinMode, false, now_text},
      {L"junk", kTaskbandPinMode, false, now_text},
      {L"-9223372036854775807", kTaskbandPinMode, false, now_text},
      // A time in the future is reset and nothing is pinned.
      {base::Int64ToString16(now + 1), kTaskbandPinMode, false, now_text},
      {base::Int64ToString16(now - kTaskbandCheckIntervalMicroseconds + 1),
       kTaskbandPinMode, false,
       base::Int64ToString(now - kTaskbandCheckIntervalMicroseconds + 1)},
      // 182 days later it pins and starts again.
      {base::Int64ToString16(now - kTaskbandCheckIntervalMicroseconds),
       kTaskbandPinMode, true, now_text},
      // Other modes pin at once and leave the clock alone.
      {std::nullopt, 0, true, "missing"},
      {L"5", 1, true, "5"},
  };
  base::win::ScopedOSInfoOverride win10(RecordOf(base::win::WIN10));
  for (const Case& c : kCases) {
    SCOPED_TRACE(base::WideToUTF8(c.stored.value_or(L"(none)")) + " mode " +
                 base::UintToString(c.mode));
    (void)CompanyKey().DeleteValue(ValueName().c_str());
    if (c.stored) {
      ASSERT_EQ(ERROR_SUCCESS, CompanyKey().WriteStringValue(
                                   ValueName().c_str(), c.stored->c_str()));
    }
    TaskbandUtilsImpl utils(&clock_);
    EXPECT_EQ(c.pinned,
              utils.PinShortcut(helpers_.GetPath(), shortcut_, c.mode));
    EXPECT_EQ(c.after, StoredCheckTime());
    // The helper ran as "explorer.exe" from the temporary folder, which
    // holds no copy afterwards.
    const std::string calls = TakeHelperCalls(temp_.GetPath());
    if (c.pinned) {
      EXPECT_NE(std::string::npos,
                calls.find("explorer.exe\" 2 \"" + shortcut_.AsUTF8Unsafe() +
                           "\"\r\n"))
          << calls;
    } else {
      EXPECT_EQ("", calls);
    }
    EXPECT_FALSE(base::PathExists(temp_.GetPath().Append(L"explorer.exe")));
  }
}

TEST_F(TaskbandUtilsTest, HelperRoads) {
  base::win::ScopedOSInfoOverride win10(RecordOf(base::win::WIN10));
  TaskbandUtilsImpl utils(&clock_);
  // The Start-menu pin runs the helper where it lies, without a copy.
  EXPECT_TRUE(utils.PinShortcutWithHelper(helpers_.GetPath(), shortcut_));
  EXPECT_NE(std::string::npos,
            TakeHelperCalls(helpers_.GetPath())
                .find(" 1 \"" + shortcut_.AsUTF8Unsafe() + "\"\r\n"));
  EXPECT_EQ("", TakeHelperCalls(temp_.GetPath()));

  // A previous copy is replaced; without a helper nothing runs.
  ASSERT_EQ(1,
            base::WriteFile(temp_.GetPath().Append(L"explorer.exe"), "x", 1));
  const FilePath none = temp_.GetPath().Append(L"none");
  EXPECT_FALSE(utils.PinShortcutWithHelper(none, shortcut_));
  EXPECT_FALSE(utils.PinShortcut(none, shortcut_, 0));
  EXPECT_TRUE(utils.PinShortcut(helpers_.GetPath(), shortcut_, 0));
  EXPECT_NE("", TakeHelperCalls(temp_.GetPath()));
  EXPECT_FALSE(base::PathExists(temp_.GetPath().Append(L"explorer.exe")));
}

TEST_F(TaskbandUtilsTest, ShellVerbsBeforeWindows10) {
  // Wine's shell has no pin verbs: the calls are made and fail, and
  // nothing else is tried.
  base::win::ScopedCOMInitializer com;
  base::win::ScopedOSInfoOverride win7(RecordOf(base::win::WIN7));
  ShortcutProperties properties;
  properties.set_target(helpers_.GetPath().Append(L"installer_helper.exe"));
  ASSERT_TRUE(base::win::CreateOrUpdateShortcutLink(
      shortcut_, properties, base::win::SHORTCUT_CREATE));
  TaskbandUtilsImpl utils(&clock_);
  EXPECT_FALSE(utils.PinShortcut(helpers_.GetPath(), shortcut_, 0));
  EXPECT_FALSE(utils.UnpinShortcut(shortcut_));
  EXPECT_EQ("", TakeHelperCalls(temp_.GetPath()));
  EXPECT_EQ("", TakeHelperCalls(helpers_.GetPath()));
}

TEST_F(TaskbandUtilsTest, FindPinnedShortcuts) {
  base::ScopedTempDir pins;
  ASSERT_TRUE(pins.CreateUniqueTempDir());
  FilePath saved_pins;
  ASSERT_TRUE(base::PathService::Get(base::DIR_TASKBAR_PINS, &saved_pins));
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::DIR_TASKBAR_PINS, pins.GetPath(), true, false));

  const FilePath exe = helpers_.GetPath().Append(L"installer_helper.exe");
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByPath(exe, &info));
  const FilePath upper(base::ToUpperASCII(exe.value()));
  // The same file under another spelling of its path.
  std::wstring other_spelling = exe.value();
  std::replace(other_spelling.begin(), other_spelling.end(), L'\\', L'/');
  FakeReader reader;
  reader.entries = {
      {L"a.lnk", {upper, L"Kavor.abc"}},
      {L"b.lnk", {exe, L"KavorABC"}},
      {L"c.lnk", {exe, nullptr}},
      {L"d.lnk", {FilePath(other_spelling), L"x.ABC"}},
      {L"e.lnk", {helpers_.GetPath().Append(L"other.exe"), L"x.abc"}},
      {L"f.txt", {exe, L"x.abc"}},
  };
  for (const auto& entry : reader.entries) {
    ASSERT_EQ(1, base::WriteFile(pins.GetPath().Append(entry.first), "x", 1));
  }
  struct Case {
    base::win::Version version;
    const wchar_t* app_id;
    bool with_info;
    std::vector<std::wstring> found;
  } const kCases[] = {
      {base::win::WIN7, L"", false, {L"a.lnk", L"b.lnk", L"c.lnk"}},
      {base::win::WIN7, L"ABC", false, {L"a.lnk"}},
      {base::win::WIN7, L"ABC", true, {L"a.lnk", L"d.lnk"}},
      {base::win::WIN10, L"", true, {L"a.lnk", L"b.lnk", L"c.lnk", L"d.lnk"}},
      {base::win::VISTA, L"", true, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(base::WideToUTF8(c.app_id) + " " +
                 base::IntToString(c.version));
    base::win::ScopedOSInfoOverride version(RecordOf(c.version));
    TaskbandUtilsImpl utils(&clock_, &reader);
    std::vector<FilePath> found;
    utils.FindPinnedShortcuts(exe, c.app_id, c.with_info ? &info : nullptr,
                              &found);
    std::vector<std::wstring> names;
    for (const FilePath& path : found)
      names.push_back(path.BaseName().value());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(c.found, names);
  }
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::DIR_TASKBAR_PINS, saved_pins, true, false));
}

}  // namespace
}  // namespace installer
