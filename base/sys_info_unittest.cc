#include "base/sys_info.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(SysInfoTest, ProcessorsAndGranularityComeFromOSInfo) {
  EXPECT_GE(SysInfo::NumberOfProcessors(), 1);
  EXPECT_EQ(65536u, SysInfo::AllocationGranularity());

  win::OSInfo::Record record = win::OSInfo::GetInstance()->record();
  record.processors = 37;
  record.allocation_granularity = 0x20000;
  win::ScopedOSInfoOverride override_info(record);
  EXPECT_EQ(37, SysInfo::NumberOfProcessors());
  EXPECT_EQ(0x20000u, SysInfo::AllocationGranularity());
}

TEST(SysInfoTest, AmountOfFreeDiskSpace) {
  wchar_t temp[MAX_PATH + 1];
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
  EXPECT_GT(SysInfo::AmountOfFreeDiskSpace(FilePath(temp)), 0);

  // A drive letter that no prefix maps.
  wchar_t missing[] = L"?:\\";
  const DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
    if (!(drives & (1u << (letter - L'A')))) {
      missing[0] = letter;
      break;
    }
  }
  ASSERT_NE(L'?', missing[0]);
  EXPECT_EQ(-1, SysInfo::AmountOfFreeDiskSpace(FilePath(missing)));
  EXPECT_EQ(-1, SysInfo::AmountOfFreeDiskSpace(
                    FilePath(L"C:\\no\\such\\folder\\kavor")));
}

}  // namespace
}  // namespace base
