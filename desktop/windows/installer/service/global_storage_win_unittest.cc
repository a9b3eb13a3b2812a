#include "desktop/windows/installer/service/global_storage_win.h"

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/features/feature_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kMutexName[] = L"kauc_registry_mutex";
constexpr DWORD kWaitMs = 10000;

// Whether a thread that is not the caller's can take the access mutex now.
bool MutexIsFree() {
  bool free = false;
  std::thread other([&free] {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD wait = ::WaitForSingleObject(mutex, 0);
    free = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (free)
      ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
  });
  other.join();
  return free;
}

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
  static std::wstring Key() { return GetCompanyRegistryKey(); }
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
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kMutexName);
    if (::WaitForSingleObject(mutex, kWaitMs) == WAIT_OBJECT_0)
      ::SetEvent(held);
    ::WaitForSingleObject(release, kWaitMs);
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
  });
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(held, kWaitMs));
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
  EXPECT_TRUE(MutexIsFree());
}

// A thread that ended holding the mutex left it abandoned, which is as good
// as free.
TEST_F(GlobalStorageWinTest, AbandonedMutexIsTaken) {
  std::unique_ptr<GlobalStorageWin> storage =
      GlobalStorageWin::CreateForTesting(false);
  std::string value;
  // The storage's own handle keeps the mutex alive once the thread ends.
  ASSERT_EQ(GLOBAL_STORAGE_DONE, storage->Get("UUID", &value));
  DWORD taken = WAIT_FAILED;
  std::thread([&taken] {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kMutexName);
    taken = ::WaitForSingleObject(mutex, kWaitMs);
    ::CloseHandle(mutex);
  }).join();
  ASSERT_EQ(WAIT_OBJECT_0, taken);
  EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Set("UUID", "after"));
  EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Get("UUID", &value));
  EXPECT_EQ("after", value);
  EXPECT_TRUE(MutexIsFree());
}

// Threads of one process share the instance: none of them finds the mutex
// busy because another holds it, and each still reads the value.
TEST_F(GlobalStorageWinTest, ThreadsOfOneProcessTakeTurns) {
  WriteFile("{\"GS\": {\"UUID\": \"abc\"}}");
  for (const bool fallback_only : {false, true}) {
    SCOPED_TRACE(fallback_only);
    ClearRegistry();
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(fallback_only);
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(go);
    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    std::vector<int> results(kThreads * kRounds, -1);
    std::vector<std::string> values(kThreads * kRounds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ::WaitForSingleObject(go, kWaitMs);
        for (int round = 0; round < kRounds; ++round) {
          const int i = t * kRounds + round;
          storage->MigrateFromFile(dir_.GetPath());
          results[i] = storage->Get("UUID", &values[i]);
        }
      });
    }
    ::SetEvent(go);
    for (std::thread& thread : threads)
      thread.join();
    ::CloseHandle(go);
    EXPECT_EQ(std::vector<int>(kThreads * kRounds, GLOBAL_STORAGE_DONE),
              results);
    EXPECT_EQ(std::vector<std::string>(kThreads * kRounds, "abc"), values);
  }
}

// Only the file: a missing or forgotten folder, a value the file cannot
// hold, a file that is not what it should be. The mutex is free afterwards.
TEST_F(GlobalStorageWinTest, FallbackOnly) {
  const base::FilePath other = dir_.GetPath().Append(L"other");
  ASSERT_TRUE(base::CreateDirectory(other));
  constexpr int kNoSet = 1000;
  struct Case {
    const char* name;
    const char* contents;  // of the file, none when null
    bool forget;           // MigrateFromFile(empty) after the folder
    bool folder;           // MigrateFromFile(folder) at all
    int set, get;          // results of Set("UUID", "new") and Get
    const char* value;     // what Get gives
  } const kCases[] = {
      {"no folder", "{\"GS\": {\"UUID\": \"old\"}}", false, false,
       GLOBAL_STORAGE_FAILED, GLOBAL_STORAGE_DONE, ""},
      {"folder forgotten", "{\"GS\": {\"UUID\": \"old\"}}", true, true,
       GLOBAL_STORAGE_FAILED, GLOBAL_STORAGE_DONE, ""},
      {"non-ASCII value", "{\"GS\": {\"UUID\": \"\u00e9\"}}", false, true,
       kNoSet, GLOBAL_STORAGE_DONE, ""},
      {"GS not a dictionary", "{\"GS\": [1]}", false, true,
       GLOBAL_STORAGE_FAILED, GLOBAL_STORAGE_FAILED, ""},
      {"written", nullptr, false, true, GLOBAL_STORAGE_DONE,
       GLOBAL_STORAGE_DONE, "new"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(!base::PathExists(File()) || base::DeleteFile(File(), false));
    if (c.contents)
      WriteFile(c.contents);
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(true);
    if (c.folder)
      storage->MigrateFromFile(dir_.GetPath());
    if (c.forget)
      storage->MigrateFromFile(base::FilePath());
    std::string value = "stale";
    if (c.set != kNoSet) {
      EXPECT_EQ(c.set, storage->Set("UUID", "new"));
      EXPECT_TRUE(MutexIsFree());
    }
    EXPECT_EQ(c.get, storage->Get("UUID", &value));
    EXPECT_EQ(c.value, value);
    EXPECT_TRUE(MutexIsFree());
    // A folder not given is never written, nor the one the process runs in.
    std::string contents;
    if (c.contents && c.set != GLOBAL_STORAGE_DONE) {
      ASSERT_TRUE(base::ReadFileToString(File(), &contents));
      EXPECT_EQ(c.contents, contents);
    }
    EXPECT_FALSE(base::PathExists(base::FilePath(L"au_global_storage")));
  }
}

// The store takes the value but its file write fails: the read-back tells.
TEST_F(GlobalStorageWinTest, FailedFileWriteIsFound) {
  for (const bool read_only : {true, false}) {
    SCOPED_TRACE(read_only);
    const base::FilePath folder = dir_.GetPath().Append(L"profile");
    const base::FilePath file = folder.Append(L"au_global_storage");
    ASSERT_TRUE(base::CreateDirectory(folder));
    ASSERT_TRUE(base::WriteFile(file, "{}", 2) == 2);
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(true);
    storage->MigrateFromFile(folder);
    if (read_only) {
      ASSERT_TRUE(
          ::SetFileAttributesW(file.value().c_str(), FILE_ATTRIBUTE_READONLY));
    } else {
      ASSERT_TRUE(base::DeleteFile(folder, true));
    }
    EXPECT_EQ(GLOBAL_STORAGE_FAILED, storage->Set("UUID", "abc"));
    EXPECT_TRUE(MutexIsFree());
    ::SetFileAttributesW(file.value().c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(base::DeleteFile(folder, true));
  }
}

// A write that left the file damaged is failed, though the backup the store
// read instead holds the value.
TEST_F(GlobalStorageWinTest, BackupDoesNotAnswerForTheFile) {
  base::ScopedFeatureRegistrySaver saved;
  base::FeatureRegistry::GetInstance()->RegisterFeature(
      "backup-preference-files", true, false);
  WriteFile("{");
  const base::FilePath backup = File().AddExtension(L".backup");
  const std::string contents = "{\"GS\": {\"UUID\": \"abc\"}}";
  ASSERT_EQ(static_cast<int>(contents.size()),
            base::WriteFile(backup, contents.data(),
                            static_cast<int>(contents.size())));
  // The damaged file can neither be moved aside nor replaced.
  ASSERT_TRUE(base::CreateDirectory(File().AddExtension(L".bad")));
  ASSERT_TRUE(
      ::SetFileAttributesW(File().value().c_str(), FILE_ATTRIBUTE_READONLY));
  std::unique_ptr<GlobalStorageWin> storage =
      GlobalStorageWin::CreateForTesting(true);
  storage->MigrateFromFile(dir_.GetPath());
  EXPECT_EQ(GLOBAL_STORAGE_FAILED, storage->Set("UUID", "abc"));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(File(), &text));
  EXPECT_EQ("{", text);
  ::SetFileAttributesW(File().value().c_str(), FILE_ATTRIBUTE_NORMAL);
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

// Reading leaves the fallback file as it is, damaged or not: nothing moved
// aside, nothing copied, nothing added to its folder. A damaged file holds
// no values.
TEST_F(GlobalStorageWinTest, ReadingLeavesTheFileAsItIs) {
  base::ScopedFeatureRegistrySaver saved;
  base::FeatureRegistry::GetInstance()->RegisterFeature(
      "backup-preference-files", true, false);
  struct Case {
    const char* contents;
    bool fallback_only;
    const char* value;  // what Get gives
  } const kCases[] = {
      {"{\"GS\": {\"UUID\": \"from-f", false, "in-registry"},
      {"{\"GS\": {\"UUID\": \"from-f", true, ""},
      {"{\"GS\": {\"UUID\": \"from-file\"}}", false, "from-file"},
      {"{\"GS\": {\"UUID\": \"from-file\"}}", true, "from-file"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.contents << " " << c.fallback_only);
    ClearRegistry();
    test::WriteText(HKEY_CURRENT_USER, Key(), L"UUID", L"in-registry");
    WriteFile(c.contents);
    std::unique_ptr<GlobalStorageWin> storage =
        GlobalStorageWin::CreateForTesting(c.fallback_only);
    storage->MigrateFromFile(dir_.GetPath());
    std::string value = "stale";
    EXPECT_EQ(GLOBAL_STORAGE_DONE, storage->Get("UUID", &value));
    EXPECT_EQ(c.value, value);
    std::string contents;
    EXPECT_TRUE(base::ReadFileToString(File(), &contents));
    EXPECT_EQ(c.contents, contents);
    std::vector<base::string16> names;
    base::FileEnumerator files(
        dir_.GetPath(), false,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath f = files.Next(); !f.empty(); f = files.Next())
      names.push_back(f.BaseName().value());
    EXPECT_EQ(std::vector<base::string16>{L"au_global_storage"}, names);
    for (const base::string16& name : names)
      ASSERT_TRUE(base::DeleteFile(dir_.GetPath().Append(name), true));
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
    EXPECT_TRUE(MutexIsFree());
    EXPECT_EQ(c.fallback_only ? L"missing" : L"abc", RegistryEntry(L"UUID"));
    std::string contents;
    ASSERT_TRUE(base::ReadFileToString(File(), &contents));
    EXPECT_EQ(c.contents, contents);
  }
}

}  // namespace
}  // namespace installer
