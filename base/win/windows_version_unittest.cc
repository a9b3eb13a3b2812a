#include "base/win/windows_version.h"

#include <windows.h>

#include "base/win/registry.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

TEST(WindowsVersionTest, VersionMapping) {
  struct {
    uint32_t major, minor, build;
    Version expected;
  } const kCases[] = {
      {4, 0, 1381, PRE_XP},      {5, 0, 2195, PRE_XP},
      {5, 1, 2600, XP},          {5, 2, 3790, SERVER_2003},
      {5, 3, 0, SERVER_2003},    {6, 0, 6000, VISTA},
      {6, 1, 7601, WIN7},        {6, 2, 9200, WIN8},
      {6, 3, 9600, WIN8_1},      {6, 4, 9841, WIN8_1},
      {6, 9, 0, WIN8_1},         {7, 0, 0, WIN_LAST},
      {9, 9, 0, WIN_LAST},       {10, 0, 10240, WIN10},
      {10, 0, 10585, WIN10},     {10, 0, 10586, WIN10_TH2},
      {10, 0, 14392, WIN10_TH2}, {10, 0, 14393, WIN10_RS1},
      {10, 0, 15062, WIN10_RS1}, {10, 0, 15063, WIN10_RS2},
      {10, 0, 19045, WIN10_RS2}, {10, 0, 22631, WIN10_RS2},
      {11, 0, 0, WIN_LAST},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              OSInfo::MajorMinorBuildToVersion(c.major, c.minor, c.build))
        << c.major << "." << c.minor << "." << c.build;
  }
  // Callers compare: the order is the contract.
  EXPECT_LT(WIN7, WIN8);
  EXPECT_LT(WIN10_RS1, WIN10_RS2);
  EXPECT_LT(WIN10_RS2, WIN_LAST);
}

TEST(WindowsVersionTest, EditionAndArchitectureMapping) {
  EXPECT_EQ(EDITION_PROFESSIONAL, OSInfo::ProductTypeToEditionFamily(1));
  EXPECT_EQ(EDITION_PROFESSIONAL, OSInfo::ProductTypeToEditionFamily(48));
  EXPECT_EQ(EDITION_SERVER, OSInfo::ProductTypeToEditionFamily(7));
  EXPECT_EQ(EDITION_ENTERPRISE, OSInfo::ProductTypeToEditionFamily(4));
  EXPECT_EQ(EDITION_EDUCATION, OSInfo::ProductTypeToEditionFamily(121));
  // Anything unknown is a home edition.
  for (DWORD type : {0, 101, 0xABCDEF})
    EXPECT_EQ(EDITION_HOME, OSInfo::ProductTypeToEditionFamily(type));

  EXPECT_EQ(ARCH_X86, OSInfo::ProcessorArchitectureToOsArchitecture(0));
  EXPECT_EQ(ARCH_X64, OSInfo::ProcessorArchitectureToOsArchitecture(9));
  EXPECT_EQ(ARCH_OTHER, OSInfo::ProcessorArchitectureToOsArchitecture(0xffff));
}

TEST(WindowsVersionTest, UpdateBuildRevision) {
  const std::wstring path = L"Software\\KavorTest\\WindowsVersionTest-" +
                            std::to_wstring(GetCurrentProcessId());
  RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
  EXPECT_EQ(0u,
            OSInfo::ReadUpdateBuildRevision(HKEY_CURRENT_USER, path.c_str()));
  {
    RegKey key(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS);
    ASSERT_TRUE(key.Valid());
    EXPECT_EQ(0u,
              OSInfo::ReadUpdateBuildRevision(HKEY_CURRENT_USER, path.c_str()));
    const DWORD ubr = 2486;
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteValue(L"UBR", &ubr, sizeof(ubr), REG_DWORD));
    EXPECT_EQ(2486u,
              OSInfo::ReadUpdateBuildRevision(HKEY_CURRENT_USER, path.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"UBR", L"2486"));
    EXPECT_EQ(0u,
              OSInfo::ReadUpdateBuildRevision(HKEY_CURRENT_USER, path.c_str()));
  }
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()));
}

// What the test prefix's Wine reports of itself: a 64-bit Windows 7 SP1.
TEST(WindowsVersionTest, RunningSystem) {
  OSInfo* info = OSInfo::GetInstance();
  ASSERT_TRUE(info);
  EXPECT_EQ(info, OSInfo::GetInstance());
  const OSInfo::VersionNumber number = info->version_number();
  EXPECT_EQ(OSInfo::MajorMinorBuildToVersion(number.major, number.minor,
                                             number.build),
            info->version());
  EXPECT_EQ(info->version(), GetVersion());
  EXPECT_EQ(WIN7, info->version());
  EXPECT_EQ(6u, number.major);
  EXPECT_EQ(1u, number.minor);
  EXPECT_EQ(7601u, number.build);
  EXPECT_EQ(ARCH_X64, info->architecture());
  // A 64-bit process never runs under WOW64.
  EXPECT_EQ(WOW64_OFF, info->wow64_status());
  EXPECT_GE(info->processors(), 1);
  EXPECT_EQ(65536u, info->allocation_granularity());
}

TEST(WindowsVersionTest, OverrideForTesting) {
  const Version real = GetVersion();
  OSInfo* real_info = OSInfo::GetInstance();
  {
    OSInfo::Record record = real_info->record();
    record.version = WIN10_RS2;
    record.version_number = {10, 0, 15063, 540};
    record.edition = EDITION_ENTERPRISE;
    ScopedOSInfoOverride override_info(record);
    EXPECT_EQ(WIN10_RS2, GetVersion());
    EXPECT_EQ(540u, OSInfo::GetInstance()->version_number().patch);
    EXPECT_EQ(EDITION_ENTERPRISE, OSInfo::GetInstance()->edition());
    EXPECT_EQ(real_info->processors(), OSInfo::GetInstance()->processors());
    {
      record.version = WIN8;
      ScopedOSInfoOverride nested(record);
      EXPECT_EQ(WIN8, GetVersion());
    }
    EXPECT_EQ(WIN10_RS2, GetVersion());
  }
  EXPECT_EQ(real, GetVersion());
  EXPECT_EQ(real_info, OSInfo::GetInstance());
}

}  // namespace
}  // namespace win
}  // namespace base
