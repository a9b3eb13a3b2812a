#include "base/path_service.h"

#include <windows.h>
#include <shlobj.h>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace base {

namespace {

FilePath ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT,
                                buffer))) {
    return FilePath();
  }
  return FilePath(buffer);
}

// The answer of |key|, or an empty path when it has none.
FilePath Get(int key) {
  FilePath path;
  if (!PathService::Get(key, &path)) {
    EXPECT_TRUE(path.empty()) << key;
  }
  return path;
}

FilePath QuickLaunchUnder(const FilePath& app_data) {
  return app_data.Append(L"Microsoft")
      .Append(L"Internet Explorer")
      .Append(L"Quick Launch");
}

// Restores the current folder when it goes away.
class ScopedCurrentDirectory {
 public:
  ScopedCurrentDirectory() { EXPECT_TRUE(GetCurrentDirectory(&saved_)); }
  ~ScopedCurrentDirectory() { EXPECT_TRUE(SetCurrentDirectory(saved_)); }

 private:
  FilePath saved_;
};

}  // namespace

TEST(PathServiceTest, ModuleAndExecutableKeys) {
  wchar_t buffer[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, buffer, MAX_PATH));
  const FilePath exe(buffer);
  EXPECT_EQ(exe, Get(FILE_EXE));
  EXPECT_EQ(exe.DirName(), Get(DIR_EXE));
  // The code is linked into the test executable itself.
  EXPECT_EQ(exe, Get(FILE_MODULE));
  EXPECT_EQ(exe.DirName(), Get(DIR_MODULE));
  EXPECT_EQ(Get(DIR_MODULE), Get(DIR_ASSETS));
  EXPECT_EQ(exe.DirName().DirName().DirName(), Get(DIR_SOURCE_ROOT));

  // Present only when the folder exists.
  const FilePath test_data =
      Get(DIR_SOURCE_ROOT).Append(L"base").Append(L"test").Append(L"data");
  EXPECT_EQ(PathExists(test_data) ? test_data : FilePath(), Get(DIR_TEST_DATA));
}

TEST(PathServiceTest, FileUtilityKeys) {
  FilePath temp;
  ASSERT_TRUE(GetTempDir(&temp));
  EXPECT_EQ(temp, Get(DIR_TEMP));
  EXPECT_EQ(GetHomeDir(), Get(DIR_HOME));
  EXPECT_FALSE(Get(DIR_HOME).empty());
}

TEST(PathServiceTest, CurrentFolderIsNeverCached) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  ScopedCurrentDirectory restore;

  const FilePath before = Get(DIR_CURRENT);
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(SetCurrentDirectory(temp_dir.GetPath()));
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectory(&current));
  EXPECT_EQ(current, Get(DIR_CURRENT));
  EXPECT_NE(before, Get(DIR_CURRENT));
}

TEST(PathServiceTest, WindowsFolderKeys) {
  wchar_t buffer[MAX_PATH];
  ASSERT_NE(0u, ::GetWindowsDirectoryW(buffer, MAX_PATH));
  EXPECT_EQ(FilePath(buffer), Get(DIR_WINDOWS));
  ASSERT_NE(0u, ::GetSystemDirectoryW(buffer, MAX_PATH));
  EXPECT_EQ(FilePath(buffer), Get(DIR_SYSTEM));

  const struct {
    int key;
    int csidl;
  } kShellKeys[] = {
      {DIR_USER_DESKTOP, CSIDL_DESKTOPDIRECTORY},
      {DIR_PROGRAM_FILES, CSIDL_PROGRAM_FILES},
      {DIR_PROGRAM_FILES6432, CSIDL_PROGRAM_FILES},
      {DIR_IE_INTERNET_CACHE, CSIDL_INTERNET_CACHE},
      {DIR_COMMON_START_MENU, CSIDL_COMMON_PROGRAMS},
      {DIR_START_MENU, CSIDL_PROGRAMS},
      {DIR_APP_DATA, CSIDL_APPDATA},
      {DIR_LOCAL_APP_DATA, CSIDL_LOCAL_APPDATA},
      {DIR_COMMON_APP_DATA, CSIDL_COMMON_APPDATA},
      {DIR_COMMON_DESKTOP, CSIDL_COMMON_DESKTOPDIRECTORY},
      {DIR_WINDOWS_FONTS, CSIDL_FONTS},
  };
  for (const auto& entry : kShellKeys) {
    SCOPED_TRACE(entry.key);
    EXPECT_EQ(ShellFolder(entry.csidl), Get(entry.key));
  }

  const bool is_x86 =
      win::OSInfo::GetInstance()->architecture() == win::ARCH_X86;
  EXPECT_EQ(ShellFolder(is_x86 ? CSIDL_PROGRAM_FILES : CSIDL_PROGRAM_FILESX86),
            Get(DIR_PROGRAM_FILESX86));
}

TEST(PathServiceTest, OneProgramFilesFolderOnX86) {
  win::OSInfo::Record record = win::OSInfo::GetInstance()->record();
  record.architecture = win::ARCH_X86;
  win::ScopedOSInfoOverride x86(record);
  FilePath program_files;
  FilePath program_files_x86;
  ASSERT_TRUE(PathProviderWin(DIR_PROGRAM_FILES, &program_files));
  ASSERT_TRUE(PathProviderWin(DIR_PROGRAM_FILESX86, &program_files_x86));
  EXPECT_EQ(program_files, program_files_x86);
}

TEST(PathServiceTest, ApplicationShortcutsNeedWindows8) {
  if (win::GetVersion() < win::WIN8) {
    EXPECT_TRUE(Get(DIR_APP_SHORTCUTS).empty());
  }

  win::OSInfo::Record record = win::OSInfo::GetInstance()->record();
  record.version = win::WIN7;
  win::ScopedOSInfoOverride windows7(record);
  FilePath path;
  EXPECT_FALSE(PathProviderWin(DIR_APP_SHORTCUTS, &path));
  EXPECT_TRUE(path.empty());
}

TEST(PathServiceTest, UnknownKeysHaveNoAnswer) {
  for (int key : {0, 12, 100, 118, 1000, 2001, -1}) {
    SCOPED_TRACE(key);
    FilePath path;
    EXPECT_FALSE(PathService::Get(key, &path));
    EXPECT_TRUE(path.empty());
  }
}

TEST(PathServiceTest, RelativeOverrideIsCreatedAndDerivedKeysFollow) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  const FilePath original_app_data = Get(DIR_APP_DATA);
  ASSERT_FALSE(original_app_data.empty());
  // Cache the derived keys first, so that a stale cache would show.
  ASSERT_FALSE(Get(DIR_TASKBAR_PINS).empty());

  {
    ScopedCurrentDirectory restore;
    ASSERT_TRUE(SetCurrentDirectory(temp_dir.GetPath()));
    const FilePath relative(L"roaming\\data");
    ASSERT_FALSE(PathExists(relative));
    EXPECT_TRUE(PathService::OverrideAndCreateIfNeeded(DIR_APP_DATA, relative,
                                                       false, true));
  }
  const FilePath expected =
      MakeAbsoluteFilePath(temp_dir.GetPath()).Append(L"roaming\\data");
  EXPECT_TRUE(DirectoryExists(expected));
  EXPECT_EQ(expected, Get(DIR_APP_DATA));
  const FilePath quick_launch = QuickLaunchUnder(expected);
  EXPECT_EQ(quick_launch, Get(DIR_USER_QUICK_LAUNCH));
  EXPECT_EQ(quick_launch.Append(L"User Pinned").Append(L"TaskBar"),
            Get(DIR_TASKBAR_PINS));
  EXPECT_EQ(quick_launch.Append(L"User Pinned").Append(L"ImplicitAppShortcuts"),
            Get(DIR_IMPLICIT_APP_SHORTCUTS));

  // Later tests see the real folder again.
  EXPECT_TRUE(PathService::OverrideAndCreateIfNeeded(
      DIR_APP_DATA, original_app_data, true, false));
  EXPECT_EQ(original_app_data, Get(DIR_APP_DATA));
}

TEST(PathServiceTest, OverrideOfAnyKeyAndCreationFailure) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  // Overrides last as long as the process: keys of its own on every run.
  static int next_key = 2042;
  const int kOwnKey = next_key;
  next_key += 2;
  EXPECT_TRUE(Get(kOwnKey).empty());
  EXPECT_TRUE(PathService::OverrideAndCreateIfNeeded(
      kOwnKey, temp_dir.GetPath(), true, false));
  EXPECT_EQ(temp_dir.GetPath(), Get(kOwnKey));
  // Taken back, a key that only the override answered has no answer again.
  EXPECT_TRUE(PathService::RemoveOverrideForTesting(kOwnKey));
  EXPECT_TRUE(Get(kOwnKey).empty());
  EXPECT_FALSE(PathService::RemoveOverrideForTesting(kOwnKey));

  // A folder cannot be made below a file.
  const FilePath file = temp_dir.GetPath().Append(L"file");
  ASSERT_EQ(1, WriteFile(file, "x", 1));
  EXPECT_FALSE(PathService::OverrideAndCreateIfNeeded(
      kOwnKey + 1, file.Append(L"sub"), true, true));
  EXPECT_TRUE(Get(kOwnKey + 1).empty());
}

TEST(PathServiceTest, AnswersHoldingParentReferencesAreMadeAbsolute) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  const FilePath original_app_data = Get(DIR_APP_DATA);
  // An override is taken as given; the keys computed from it are not.
  const FilePath with_parent =
      temp_dir.GetPath().Append(L"a").Append(L"..").Append(L"b");
  ASSERT_TRUE(PathService::OverrideAndCreateIfNeeded(DIR_APP_DATA, with_parent,
                                                     true, false));
  const FilePath quick_launch = Get(DIR_USER_QUICK_LAUNCH);
  EXPECT_FALSE(quick_launch.ReferencesParent()) << quick_launch.value();
  EXPECT_EQ(
      QuickLaunchUnder(MakeAbsoluteFilePath(temp_dir.GetPath()).Append(L"b")),
      quick_launch);
  EXPECT_FALSE(Get(DIR_TASKBAR_PINS).ReferencesParent());

  EXPECT_TRUE(PathService::OverrideAndCreateIfNeeded(
      DIR_APP_DATA, original_app_data, true, false));
}

}  // namespace base
