#include "desktop/windows/installer/service/global_storage_win.h"

#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class GlobalStorageWinTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.CreateUniqueTempDir()); }

  base::FilePath File() const {
    return dir_.GetPath().Append(L"au_global_storage");
  }
  void WriteFile(const std::string& contents) {
    ASSERT_EQ(static_cast<int>(contents.size()),
              base::WriteFile(File(), contents.data(),
                              static_cast<int>(contents.size())));
  }
  // The entry of the fallback file, "missing" when it has none.
  std::string FileEntry(const std::string& name) const {
    std::unique_ptr<base::DictionaryValue> prefs =
        JsonPrefStore::ReadPrefsWithoutChanges(File());
    std::string value;
    if (!prefs || !prefs->GetString("GS." + name, &value))
      return "missing";
    return value;
  }
  static std::wstring Key() {
    return L"Software\\" + base::UTF8ToWide(GetCompanyName());
  }
  static void ClearRegistry() {
    const LONG deleted = ::RegDeleteTreeW(HKEY_CURRENT_USER, Key().c_str());
    ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);
  }
  // The string value, "missing" when absent.
  static std::wstring RegistryEntry(const wchar_t* name) {
    return test::ReadText(HKEY_CURRENT_USER, Key(), name);
  }

  test::ScopedRegistryRoots roots_;
  base::ScopedTempDir dir_;
};

TEST_F(GlobalStorageWinTest, SetGetAndRemove) {
  struct Case {
    const char* name;
    bool file, fallback_only;
  } const kCases[] = {
      {"registry", false, false},
      {"registry and an older file", true, false},
      {"fallback only", true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(!base::PathExists(File()) || base::DeleteFile(File(), false));
    if (c.file)
      WriteFile("{}");
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(c.fallback_only);
    storage->MigrateFromFile(dir_.GetPath());
    ASSERT_EQ(GLOBAL_STORAGE_DONE, storage->Set("UUID", "abc-1"));
    EXPECT_EQ(c.fallback_only ? L"missing" : L"abc-1", RegistryEntry(L"UUID"));
    EXPECT_EQ(c.file ? "abc-1" : "missing", FileEntry("UUID"));

    // Where both hold the value, the registry answers.
    if (c.file)
      WriteFile("{\"GS\": {\"UUID\": \"from-file\"}}");
    std::string value = "stale";
    EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Get("UUID", &value));
    EXPECT_EQ(c.fallback_only ? "from-file" : "abc-1", value);
    EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Get("other", &value));
    EXPECT_EQ("", value);

    EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Set("UUID", ""));
    EXPECT_EQ(L"missing", RegistryEntry(L"UUID"));
    EXPECT_EQ("missing", FileEntry("UUID"));
    EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Get("UUID", &value));
    EXPECT_EQ("", value);
    EXPECT_EQ(GLOBAL_STORAGE_INVALID_ARGUMENT, storage->Set("", "x"));
    EXPECT_EQ(GLOBAL_STORAGE_INVALID_ARGUMENT, storage->Get("UUID", nullptr));
  }
}

// A mutex held by another thread is not the caller's, as for another
// process.
TEST_F(GlobalStorageWinTest, BusyWhileAnotherHoldsTheMutex) {
  std::unique_ptr<GlobalStorageWin> storage =
      GlobalStorageWin::CreateForTesting(false);
  ASSERT_EQ(GLOBAL_STORAGE_DONE, storage->Set("UUID", "before"));
  HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(held && release);
  std::thread holder([held, release] {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"kauc_registry_mutex");
    ::WaitForSingleObject(mutex, INFINITE);
    ::SetEvent(held);
    ::WaitForSingleObject(release, INFINITE);
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
  });
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(held, INFINITE));
  std::string value = "stale";
  EXPECT_EQ(GLOBAL_STORAGE_BUSY, storage->Set("UUID", "during"));
  EXPECT_EQ(GLOBAL_STORAGE_BUSY, storage->Get("UUID", &value));
  EXPECT_EQ("", value);
  ::SetEvent(release);
  holder.join();
  ::CloseHandle(held);
  ::CloseHandle(release);
  EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Get("UUID", &value));
  EXPECT_EQ("before", value);
}

TEST_F(GlobalStorageWinTest, MigrateFromFile) {
  for (const bool written_before : {false, true}) {
    SCOPED_TRACE(written_before);
    ClearRegistry();
    WriteFile("{\"GS\": {\"UUID\": \"from-file\", \"number\": 5}}");
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(false);
    if (written_before) {
      ASSERT_EQ(GLOBAL_STORAGE_DONE, storage->Set("other", "x"));
    }
    storage->MigrateFromFile(dir_.GetPath());
    EXPECT_EQ(written_before ? L"missing" : L"from-file",
              RegistryEntry(L"UUID"));
    EXPECT_EQ(L"missing", RegistryEntry(L"number"));
    EXPECT_EQ("from-file", FileEntry("UUID"));
  }
}

// A fallback file that cannot take the value still lets the registry take
// it, and the caller hears of the failure.
TEST_F(GlobalStorageWinTest, FailedFallbackWrite) {
  struct Case {
    const char* contents;
    bool fallback_only;
  } const kCases[] = {
      {"{\"GS\": 5}", false},
      {"[1]", false},
      {"{\"GS\": 5}", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.contents);
    ClearRegistry();
    WriteFile(c.contents);
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(c.fallback_only);
    storage->MigrateFromFile(dir_.GetPath());
    EXPECT_EQ(GLOBAL_STORAGE_FAILED, storage->Set("UUID", "abc"));
    EXPECT_EQ(c.fallback_only ? L"missing" : L"abc", RegistryEntry(L"UUID"));
    std::string contents;
    ASSERT_TRUE(base::ReadFileToString(File(), &contents));
    EXPECT_EQ(c.contents, contents);
  }
}

}  // namespace
}  // namespace installer
