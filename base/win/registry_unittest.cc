#include "base/win/registry.h"

#include <windows.h>

#include <stdint.h>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

// Each test gets its own key below HKCU\Software\KavorTest, removed again
// whatever the outcome, so that runs never see each other's values.
class RegKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    root_path_ = L"Software\\KavorTest\\RegKeyTest-" +
                 std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(GetTickCount64());
    RegDeleteTreeW(HKEY_CURRENT_USER, root_path_.c_str());
  }
  void TearDown() override {
    EXPECT_EQ(ERROR_SUCCESS,
              RegDeleteTreeW(HKEY_CURRENT_USER, root_path_.c_str()));
  }

  std::wstring root_path_;
};

TEST_F(RegKeyTest, WriteAccessCreatesAndReadAccessDoesNot) {
  const std::wstring missing = root_path_ + L"\\ReadOnly";
  {
    RegKey key(HKEY_CURRENT_USER, missing.c_str(), KEY_READ);
    EXPECT_FALSE(key.Valid());
  }
  {
    RegKey key(HKEY_CURRENT_USER, missing.c_str(), KEY_QUERY_VALUE);
    EXPECT_FALSE(key.Valid());
  }
  RegKey probe;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            probe.Open(HKEY_CURRENT_USER, missing.c_str(), KEY_READ));

  // Each write right on its own is enough to create.
  const REGSAM kWriteRights[] = {KEY_SET_VALUE, KEY_CREATE_SUB_KEY,
                                 KEY_CREATE_LINK | KEY_READ};
  int index = 0;
  for (REGSAM access : kWriteRights) {
    const std::wstring path =
        root_path_ + L"\\Created" + std::to_wstring(index++);
    RegKey key(HKEY_CURRENT_USER, path.c_str(), access);
    EXPECT_TRUE(key.Valid()) << access;
    RegKey reopened;
    EXPECT_EQ(ERROR_SUCCESS,
              reopened.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ));
  }

  RegKey null_root(nullptr, L"Software", KEY_ALL_ACCESS);
  EXPECT_FALSE(null_root.Valid());
}

TEST_F(RegKeyTest, FailedOpenKeepsHeldKey) {
  RegKey key(HKEY_CURRENT_USER, root_path_.c_str(), KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid());
  HKEY held = key.Handle();
  const std::wstring missing = root_path_ + L"\\Missing";
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            key.Open(HKEY_CURRENT_USER, missing.c_str(), KEY_READ));
  EXPECT_EQ(held, key.Handle());
  // Still open and usable.
  EXPECT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"still", L"open"));
  EXPECT_TRUE(key.HasValue(L"still"));

  key.Close();
  EXPECT_FALSE(key.Valid());
  key.Close();  // A second close is harmless.
}

TEST_F(RegKeyTest, ReadValueDW) {
  RegKey key(HKEY_CURRENT_USER, root_path_.c_str(), KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid());

  const DWORD dword = 0x12345678;
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"dword", &dword, sizeof(dword), REG_DWORD));
  const uint8_t four[] = {0x01, 0x02, 0x03, 0x04};
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"bin4", four, sizeof(four), REG_BINARY));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"bin3", four, 3, REG_BINARY));
  const uint64_t qword = 7;
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"qword", &qword, sizeof(qword), REG_QWORD));
  // Four bytes of the wrong type.
  ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"sz", L"a"));

  DWORD out = 0;
  EXPECT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"dword", &out));
  EXPECT_EQ(0x12345678u, out);
  EXPECT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"bin4", &out));
  EXPECT_EQ(0x04030201u, out);

  out = 99;
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"bin3", &out));
  EXPECT_EQ(99u, out);
  // An eight-byte value does not fit the four-byte query: the query's own
  // error comes back.
  EXPECT_EQ(ERROR_MORE_DATA, key.ReadValueDW(L"qword", &out));
  EXPECT_EQ(99u, out);
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"sz", &out));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadValueDW(L"missing", &out));
  EXPECT_EQ(99u, out);
}

TEST_F(RegKeyTest, StringValues) {
  RegKey key(HKEY_CURRENT_USER, root_path_.c_str(), KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid());

  ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"empty", L""));
  DWORD type = 0;
  DWORD size = 64;
  wchar_t buffer[32];
  EXPECT_EQ(ERROR_SUCCESS, key.ReadValue(L"empty", buffer, &size, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(2u, size);

  std::wstring out = L"untouched";
  EXPECT_EQ(ERROR_SUCCESS, key.ReadStringValue(L"empty", &out));
  EXPECT_EQ(L"", out);

  ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"text", L"hello"));
  EXPECT_EQ(ERROR_SUCCESS, key.ReadStringValue(L"text", &out));
  EXPECT_EQ(L"hello", out);

  ASSERT_TRUE(SetEnvironmentVariableW(L"KAVOR_REG_TEST_VAR", L"expanded"));
  const wchar_t kExpand[] = L"<%KAVOR_REG_TEST_VAR%>";
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"expand", kExpand, sizeof(kExpand), REG_EXPAND_SZ));
  EXPECT_EQ(ERROR_SUCCESS, key.ReadStringValue(L"expand", &out));
  EXPECT_EQ(L"<expanded>", out);
  SetEnvironmentVariableW(L"KAVOR_REG_TEST_VAR", nullptr);

  // Stored without a terminator: the text still ends where the data ends.
  const wchar_t kNoNul[] = {L'a', L'b', L'c'};
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"nonul", kNoNul, sizeof(kNoNul), REG_SZ));
  EXPECT_EQ(ERROR_SUCCESS, key.ReadStringValue(L"nonul", &out));
  EXPECT_EQ(L"abc", out);

  // Embedded NUL: text up to the first one.
  const wchar_t kEmbedded[] = L"ab\0cd";
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"embedded", kEmbedded, sizeof(kEmbedded), REG_SZ));
  EXPECT_EQ(ERROR_SUCCESS, key.ReadStringValue(L"embedded", &out));
  EXPECT_EQ(L"ab", out);

  // Exactly the buffer, no terminator: bounded by the buffer. Windows
  // fills the buffer; Wine's query wants room for a terminator it appends
  // and reports ERROR_MORE_DATA. Either way nothing beyond the 1024
  // characters may show up.
  const std::wstring full(1024, L'x');
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"full", full.data(), 2048, REG_SZ));
  out.clear();
  LONG full_result = key.ReadStringValue(L"full", &out);
  if (full_result == ERROR_SUCCESS)
    EXPECT_EQ(full, out);
  else
    EXPECT_EQ(ERROR_MORE_DATA, full_result);

  out = L"untouched";
  const std::wstring too_long(1100, L'y');
  ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"long", too_long.c_str()));
  EXPECT_EQ(ERROR_MORE_DATA, key.ReadStringValue(L"long", &out));
  const DWORD dword = 1;
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"dword", &dword, sizeof(dword), REG_DWORD));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadStringValue(L"dword", &out));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadStringValue(L"missing", &out));
  EXPECT_EQ(L"untouched", out);
}

TEST_F(RegKeyTest, HasAndDeleteValue) {
  RegKey key(HKEY_CURRENT_USER, root_path_.c_str(), KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid());
  EXPECT_FALSE(key.HasValue(L"v"));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"v", L"1"));
  EXPECT_TRUE(key.HasValue(L"v"));
  EXPECT_EQ(ERROR_SUCCESS, key.DeleteValue(L"v"));
  EXPECT_FALSE(key.HasValue(L"v"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.DeleteValue(L"v"));

  RegKey none;
  EXPECT_FALSE(none.HasValue(L"v"));
}

}  // namespace
}  // namespace win
}  // namespace base
