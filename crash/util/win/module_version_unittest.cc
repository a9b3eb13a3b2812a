#include "crash/util/win/module_version.h"

#include <windows.h>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

base::FilePath TestProgram(const wchar_t* name) {
  base::FilePath exe_dir;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
  return exe_dir.Append(name);
}

TEST(ModuleVersionTest, ReadsTheFixedRecord) {
  VS_FIXEDFILEINFO info = {};
  ASSERT_TRUE(
      GetModuleVersionAndType(TestProgram(L"kavor_package_stub.exe"), &info));
  EXPECT_EQ(VS_FFI_SIGNATURE, info.dwSignature);
  EXPECT_EQ(MAKELONG(0, 47), static_cast<LONG>(info.dwFileVersionMS));
  EXPECT_EQ(MAKELONG(0, 4127), static_cast<LONG>(info.dwFileVersionLS));
  EXPECT_EQ(static_cast<DWORD>(VOS_NT_WINDOWS32), info.dwFileOS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), info.dwFileType);
  EXPECT_EQ(0u, info.dwFileFlags & ~info.dwFileFlagsMask);

  // Another module gives its own record, not what was read before.
  VS_FIXEDFILEINFO old_info = {};
  ASSERT_TRUE(GetModuleVersionAndType(
      TestProgram(L"kavor_package_stub_old.exe"), &old_info));
  EXPECT_EQ(MAKELONG(0, 4100), static_cast<LONG>(old_info.dwFileVersionLS));
}

TEST(ModuleVersionTest, ModulesWithoutARecordFail) {
  base::ScopedLogLines log(base::logging::LOG_WARNING,
                           base::logging::LOG_ERROR);
  VS_FIXEDFILEINFO info = {};

  // No version resource is no cause for a warning.
  EXPECT_FALSE(
      GetModuleVersionAndType(TestProgram(L"kavor_test_child.exe"), &info));
  EXPECT_TRUE(log.lines().empty()) << log.text();

  const base::FilePath missing = TestProgram(L"no_such_module.dll");
  EXPECT_FALSE(GetModuleVersionAndType(missing, &info));
  ASSERT_EQ(1u, log.lines().size()) << log.text();
  EXPECT_TRUE(base::StartsWith(
      log.lines()[0],
      "GetFileVersionInfoSize: " + base::WideToUTF8(missing.value()),
      base::CompareCase::SENSITIVE))
      << log.text();
}

}  // namespace
}  // namespace crash_reporter
