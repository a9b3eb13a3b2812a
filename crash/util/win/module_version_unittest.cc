#include "crash/util/win/module_version.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_lines.h"
#include "crash/test/test_program.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using test::TestProgram;

TEST(ModuleVersionTest, ReadsTheFixedRecord) {
  VS_FIXEDFILEINFO info = {};
  ASSERT_TRUE(
      GetModuleVersionAndType(TestProgram(L"kavor_package_stub.exe"), &info));
  EXPECT_EQ(VS_FFI_SIGNATURE, info.dwSignature);
  EXPECT_EQ(MAKELONG(0, 47), static_cast<LONG>(info.dwFileVersionMS));
  EXPECT_EQ(MAKELONG(0, 4127), static_cast<LONG>(info.dwFileVersionLS));
  EXPECT_EQ(static_cast<DWORD>(VOS_NT_WINDOWS32), info.dwFileOS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), info.dwFileType);

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
