#include "base/win/system_library.h"

#include <windows.h>

#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

// Exit codes of kavor_base_child.exe.
const int kClean = 0;
const int kPlantedLoaded = 3;

// A folder like a download folder: the child program, with a library that
// bears a system DLL's name beside it. The child runs as a separate process
// so that what it loads is not already loaded, and that a restricted search
// path does not outlive it.
//
// Only userenv.dll is planted. Under Wine, shell32, which the child imports,
// imports shcore, so the loader takes a planted shcore.dll while the child
// starts, before any code of ours runs; and ole32 imports combase, so a
// bare-name load of combase.dll finds the one already loaded.
class PlantedFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir_));
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
  }

  // Runs the child in a fresh folder holding the planted |planted|.
  int RunChild(const wchar_t* planted,
               const std::string& mode,
               const std::string& name) {
    const FilePath folder =
        temp_dir_.GetPath().Append(std::to_wstring(++folders_));
    const FilePath child = folder.Append(L"kavor_base_child.exe");
    if (!CreateDirectory(folder) ||
        !CopyFile(exe_dir_.Append(L"kavor_base_child.exe"), child) ||
        !CopyFile(exe_dir_.Append(L"kavor_planted_dll.dll"),
                  folder.Append(planted))) {
      ADD_FAILURE() << "cannot prepare " << folder.value();
      return -1;
    }
    CommandLine command(child);
    command.AppendArg(mode);
    if (!name.empty())
      command.AppendArg(name);
    LaunchOptions options;
    options.start_hidden = true;
    Process process = LaunchProcess(command, options);
    if (!process.IsValid()) {
      // Seen once under a heavily loaded Wine; a second start tells a
      // passing hiccup from a real refusal.
      DWORD first_error = ::GetLastError();
      process = LaunchProcess(command, options);
      if (!process.IsValid()) {
        ADD_FAILURE() << "cannot start the child for " << mode << ": "
                      << first_error << ", then " << ::GetLastError();
        return -1;
      }
    }
    int exit_code = -1;
    if (!process.WaitForExitWithTimeout(TimeDelta::FromSeconds(30),
                                        &exit_code)) {
      process.Terminate(1, true);
      ADD_FAILURE() << "child " << mode << " did not end within 30 s";
    }
    return exit_code;
  }

  FilePath exe_dir_;
  ScopedTempDir temp_dir_;
  int folders_ = 0;
};

TEST_F(PlantedFolderTest, OnlyTheBareNameLoadTakesThePlantedLibrary) {
  struct {
    const wchar_t* planted;
    const char* mode;
    const char* name;
    int expected;
  } const kCases[] = {
      // Shows that the plant works: the loader's ordinary search looks in
      // the program's folder first.
      {L"userenv.dll", "load-library", "userenv.dll", kPlantedLoaded},
      {L"userenv.dll", "load-system", "userenv.dll", kClean},
      {L"userenv.dll", "restrict", "userenv.dll", kClean},
      // Our own run-time loads.
      {L"userenv.dll", "launch-as-user", "", kClean},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, RunChild(c.planted, c.mode, c.name))
        << c.mode << " " << c.name;
  }
}

TEST(SystemLibraryTest, RefusesNamesWithAFolderPart) {
  for (const wchar_t* name :
       {L"", L".\\userenv.dll", L"sub/userenv.dll", L"C:userenv.dll"}) {
    ::SetLastError(0);
    EXPECT_EQ(nullptr, LoadSystemLibrary(name)) << name;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
  }
  EXPECT_EQ(nullptr, LoadSystemLibrary(nullptr));
}

TEST(SystemLibraryTest, LoadsFromTheSystemFolder) {
  HMODULE module = LoadSystemLibrary(L"userenv.dll");
  ASSERT_TRUE(module);
  wchar_t path[MAX_PATH];
  wchar_t folder[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameW(module, path, MAX_PATH));
  UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  ASSERT_NE(0u, length);
  EXPECT_EQ(0, ::_wcsnicmp(path, folder, length)) << path;
  ::FreeLibrary(module);
}

}  // namespace
}  // namespace win
}  // namespace base
