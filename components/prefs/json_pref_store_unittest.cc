#include "components/prefs/json_pref_store.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/test/histogram_counts.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/time/clock.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace {

const char kBackupFeature[] = "backup-preference-files";

class RecordingObserver : public PrefStoreObserver {
 public:
  void OnPrefValueChanged(const std::string& key) override {
    changed_keys.push_back(key);
  }
  void OnInitializationCompleted(bool succeeded) override {
    init_results.push_back(succeeded);
  }

  std::vector<std::string> changed_keys;
  std::vector<bool> init_results;
};

// Passes values through and counts serialisations, i.e. writes.
class CountingFilter : public PrefFilter {
 public:
  explicit CountingFilter(int* serialize_count)
      : serialize_count_(serialize_count) {}

  void FilterOnLoad(
      PostFilterOnLoadCallback post_filter_on_load,
      std::unique_ptr<base::DictionaryValue> pref_store_contents) override {
    std::move(post_filter_on_load).Run(std::move(pref_store_contents), false);
  }
  void FilterUpdate(const std::string& path) override {}
  OnWriteCallbackPair FilterSerializeData(
      base::DictionaryValue* pref_store_contents) override {
    ++*serialize_count_;
    return OnWriteCallbackPair();
  }
  void OnFileDeleted() override {}

 private:
  int* serialize_count_;
};

class RecordingErrorDelegate : public PersistentPrefStore::ReadErrorDelegate {
 public:
  explicit RecordingErrorDelegate(std::vector<int>* errors) : errors_(errors) {}
  void OnError(PersistentPrefStore::PrefReadError error) override {
    errors_->push_back(error);
  }

 private:
  std::vector<int>* errors_;
};

class SingleStateReader : public base::FeatureReader {
 public:
  SingleStateReader(const char* name, bool enabled) : state_(name, enabled) {}
  void Read(std::vector<base::FeatureState>* states) override {
    states->push_back(state_);
  }

 private:
  base::FeatureState state_;
};

// The newest override wins, so each test sets the state it needs.
void SetBackupFeature(bool enabled) {
  static bool registered = false;
  base::FeatureRegistry* registry = base::FeatureRegistry::GetInstance();
  if (!registered) {
    registry->RegisterFeature(kBackupFeature, false, true);
    registered = true;
  }
  SingleStateReader reader(kBackupFeature, enabled);
  registry->ApplyReader(&reader);
  ASSERT_EQ(enabled, base::IsFeatureEnabled(kBackupFeature));
}

class ManualClock : public base::Clock {
 public:
  explicit ManualClock(base::Time* now) : now_(now) {}
  base::Time Now() override { return *now_; }

 private:
  base::Time* now_;
};

class JsonPrefStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    pool_ = new base::SequencedWorkerPool(2, "PrefsTaskPool");
    SetBackupFeature(false);
  }

  void TearDown() override {
    pool_->Shutdown();
    pool_ = nullptr;
  }

  base::FilePath PathFor(const wchar_t* name) {
    return temp_dir_.GetPath().Append(name);
  }

  base::scoped_refptr<JsonPrefStore> MakeStore(
      const base::FilePath& path,
      std::unique_ptr<PrefFilter> filter = nullptr) {
    base::scoped_refptr<base::SequencedTaskRunner> runner =
        pool_->GetSequencedTaskRunnerWithShutdownBehavior(
            pool_->GetNamedSequenceToken("json_pref_store-" +
                                         path.MaybeAsASCII()),
            base::SequencedWorkerPool::BLOCK_SHUTDOWN);
    return base::scoped_refptr<JsonPrefStore>(
        new JsonPrefStore(path, runner, std::move(filter)));
  }

  // Flushes |store| and waits until its write is on disk.
  void CommitAndWait(JsonPrefStore* store) {
    base::RunLoop run_loop;
    store->CommitPendingWrite(run_loop.QuitClosure());
    run_loop.Run();
  }

  static void WriteText(const base::FilePath& path, const std::string& text) {
    ASSERT_EQ(
        static_cast<int>(text.size()),
        base::WriteFile(path, text.data(), static_cast<int>(text.size())));
  }

  static std::string ReadText(const base::FilePath& path) {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(path, &text));
    return text;
  }

  base::MessageLoop message_loop_;
  base::ScopedTempDir temp_dir_;
  // Outlives every store of a test, so none needs to remove it.
  RecordingObserver observer_;
  base::scoped_refptr<base::SequencedWorkerPool> pool_;
};

}  // namespace

TEST_F(JsonPrefStoreTest, DottedKeyIsWrittenAsNestedObject) {
  base::FilePath path = PathFor(L"Preferences");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  // A missing file is no failure: the store starts empty and writable.
  EXPECT_EQ(PersistentPrefStore::kReadErrorNoFile, store->ReadPrefs());
  EXPECT_TRUE(store->IsInitialized());
  EXPECT_FALSE(store->IsReadOnly());

  store->SetValue("a.b", std::make_unique<base::Value>(1),
                  WritablePrefStore::DEFAULT_PREF_WRITE_FLAGS);
  const base::Value* a = nullptr;
  ASSERT_TRUE(store->GetValue("a", &a));
  ASSERT_TRUE(a->is_dict());
  const base::Value* b = nullptr;
  ASSERT_TRUE(store->GetValue("a.b", &b));
  EXPECT_EQ(1, b->GetInt());
  EXPECT_FALSE(store->GetValue("a.c", nullptr));

  CommitAndWait(store.get());
  EXPECT_EQ("{\"a\":{\"b\":1}}", ReadText(path));

  // A new store reads what the first one wrote.
  store = nullptr;
  base::scoped_refptr<JsonPrefStore> reread = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorNone, reread->ReadPrefs());
  std::unique_ptr<base::DictionaryValue> all = reread->GetAllValues();
  int value = 0;
  EXPECT_TRUE(all->GetInteger("a.b", &value));
  EXPECT_EQ(1, value);
}

TEST_F(JsonPrefStoreTest, SameValueTwiceNotifiesAndWritesOnce) {
  int writes = 0;
  base::scoped_refptr<JsonPrefStore> store =
      MakeStore(PathFor(L"Same"), std::make_unique<CountingFilter>(&writes));
  store->ReadPrefs();
  store->AddObserver(&observer_);
  EXPECT_TRUE(store->HasObservers());

  store->SetValue("x", std::make_unique<base::Value>("v"), 0);
  store->SetValue("x", std::make_unique<base::Value>("v"), 0);
  store->SetValueWithoutNotification("x", std::make_unique<base::Value>("v"),
                                     0);
  EXPECT_EQ(std::vector<std::string>{"x"}, observer_.changed_keys);
  EXPECT_TRUE(store->HasPendingWriteForTesting());
  CommitAndWait(store.get());
  EXPECT_EQ(1, writes);

  // Removing notifies once; removing what is gone does nothing.
  store->RemoveValue("x", 0);
  store->RemoveValue("x", 0);
  EXPECT_EQ(2u, observer_.changed_keys.size());
}

TEST_F(JsonPrefStoreTest, LossyChangesWaitForTheNextWrite) {
  int writes = 0;
  base::FilePath path = PathFor(L"Lossy");
  base::scoped_refptr<JsonPrefStore> store =
      MakeStore(path, std::make_unique<CountingFilter>(&writes));
  store->ReadPrefs();
  store->AddObserver(&observer_);

  store->SetValue("lossy", std::make_unique<base::Value>(1),
                  WritablePrefStore::kLossyWrite);
  EXPECT_EQ(1u, observer_.changed_keys.size());
  EXPECT_FALSE(store->HasPendingWriteForTesting());

  // The next ordinary change carries the lossy one along.
  store->SetValue("normal", std::make_unique<base::Value>(2), 0);
  EXPECT_TRUE(store->HasPendingWriteForTesting());
  CommitAndWait(store.get());
  EXPECT_EQ(1, writes);
  EXPECT_EQ("{\"lossy\":1,\"normal\":2}", ReadText(path));

  store->SetValue("lossy", std::make_unique<base::Value>(3),
                  WritablePrefStore::kLossyWrite);
  EXPECT_FALSE(store->HasPendingWriteForTesting());
  store->ScheduleLossyWrites();
  EXPECT_TRUE(store->HasPendingWriteForTesting());
  CommitAndWait(store.get());
  EXPECT_EQ(2, writes);
  EXPECT_EQ("{\"lossy\":3,\"normal\":2}", ReadText(path));

  // A lossy change alone is still written by a commit.
  store->SetValue("lossy", std::make_unique<base::Value>(4),
                  WritablePrefStore::kLossyWrite);
  CommitAndWait(store.get());
  EXPECT_EQ(3, writes);
}

TEST_F(JsonPrefStoreTest, ListRootMakesStoreReadOnly) {
  base::FilePath path = PathFor(L"List");
  WriteText(path, "[1,2]");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorJsonType, store->ReadPrefs());
  EXPECT_EQ(PersistentPrefStore::kReadErrorJsonType, store->GetReadError());
  EXPECT_TRUE(store->IsInitialized());
  EXPECT_TRUE(store->IsReadOnly());

  store->SetValue("k", std::make_unique<base::Value>(true), 0);
  // Kept in memory only.
  EXPECT_TRUE(store->GetValue("k", nullptr));
  EXPECT_FALSE(store->HasPendingWriteForTesting());
  CommitAndWait(store.get());
  store = nullptr;
  EXPECT_EQ("[1,2]", ReadText(path));
}

TEST_F(JsonPrefStoreTest, InvalidJsonMovesToBadFileAndRepeats) {
  base::FilePath path = PathFor(L"installer_prefs.json");
  base::FilePath bad = PathFor(L"installer_prefs.bad");
  WriteText(path, "{broken");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorJsonParse, store->ReadPrefs());
  EXPECT_FALSE(base::PathExists(path));
  EXPECT_EQ("{broken", ReadText(bad));
  EXPECT_FALSE(store->IsReadOnly());
  EXPECT_TRUE(store->GetAllValues()->empty());

  // The next write replaces the broken file.
  store->SetValue("fixed", std::make_unique<base::Value>(1), 0);
  CommitAndWait(store.get());
  EXPECT_EQ("{\"fixed\":1}", ReadText(path));
  store = nullptr;

  WriteText(path, "not json either");
  base::scoped_refptr<JsonPrefStore> second = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorJsonRepeat, second->ReadPrefs());
  EXPECT_EQ("not json either", ReadText(bad));
}

TEST_F(JsonPrefStoreTest, MissingFolderLeavesStoreUninitialized) {
  base::FilePath path =
      temp_dir_.GetPath().Append(L"missing").Append(L"Preferences");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  store->AddObserver(&observer_);
  EXPECT_EQ(PersistentPrefStore::kReadErrorNoFile, store->ReadPrefs());
  EXPECT_FALSE(store->IsInitialized());
  EXPECT_EQ(std::vector<bool>{false}, observer_.init_results);
}

TEST_F(JsonPrefStoreTest, CommitPendingWriteCallsBackOnOwnerAfterWrite) {
  base::FilePath path = PathFor(L"Commit");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  store->ReadPrefs();
  store->SetValue("k", std::make_unique<base::Value>("v"), 0);

  base::PlatformThreadId callback_thread = 0;
  std::string contents_seen;
  base::RunLoop run_loop;
  store->CommitPendingWrite(base::BindOnce(
      [](const base::FilePath& path, base::PlatformThreadId* thread,
         std::string* contents, base::OnceClosure quit) {
        *thread = base::PlatformThread::CurrentId();
        EXPECT_TRUE(base::ReadFileToString(path, contents));
        std::move(quit).Run();
      },
      path, &callback_thread, &contents_seen,
      base::OnceClosure(run_loop.QuitClosure())));
  EXPECT_EQ(0u, callback_thread);
  run_loop.Run();
  EXPECT_EQ(base::PlatformThread::CurrentId(), callback_thread);
  EXPECT_EQ("{\"k\":\"v\"}", contents_seen);
}

TEST_F(JsonPrefStoreTest, AsyncReadReportsErrorAndSuccessfulWriteReply) {
  base::FilePath path = PathFor(L"Async");
  WriteText(path, "{\"a\":");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  store->AddObserver(&observer_);
  std::vector<int> errors;

  base::RunLoop read_loop;
  store->RegisterOnNextSuccessfulWrite(read_loop.QuitClosure());
  store->ReadPrefsAsync(new RecordingErrorDelegate(&errors));
  EXPECT_FALSE(store->IsInitialized());
  // The reply waits for a successful write, which needs the read first.
  store->SetValue("k", std::make_unique<base::Value>(1), 0);
  store->CommitPendingWrite(base::OnceClosure());
  read_loop.Run();

  EXPECT_TRUE(store->IsInitialized());
  EXPECT_EQ(std::vector<int>{PersistentPrefStore::kReadErrorJsonParse}, errors);
  EXPECT_EQ(std::vector<bool>{true}, observer_.init_results);
}

TEST_F(JsonPrefStoreTest, WriteCountsAreReportedPerInterval) {
  base::Time now = base::Time::Now();
  JsonPrefStore::WriteCountRecorder recorder(
      base::TimeDelta::FromSeconds(10), PathFor(L"Write Count"),
      std::make_unique<ManualClock>(&now));
  const std::string name = "Settings.JsonDataWriteCount.Write_Count";
  int fives_before = base::HistogramSampleCount(name, 5);
  int zeros_before = base::HistogramSampleCount(name, 0);

  for (int i = 0; i < 5; ++i)
    recorder.RecordWriteOccurred();
  EXPECT_EQ(5, recorder.writes_since_last_report());
  now += base::TimeDelta::FromMinutes(12);
  recorder.RecordWriteOccurred();

  EXPECT_EQ(fives_before + 1, base::HistogramSampleCount(name, 5));
  EXPECT_EQ(zeros_before + 1, base::HistogramSampleCount(name, 0));
  EXPECT_EQ(1, recorder.writes_since_last_report());

  // The report time moved by whole intervals: 10 minutes, not 12, so three
  // more minutes finish the next interval.
  now += base::TimeDelta::FromMinutes(3) + base::TimeDelta::FromSeconds(1);
  recorder.ReportOutstandingWrites();
  EXPECT_EQ(0, recorder.writes_since_last_report());
}

TEST_F(JsonPrefStoreTest, BackupFilesWithFeatureOn) {
  SetBackupFeature(true);
  base::FilePath path = PathFor(L"Preferences");
  base::FilePath backup = PathFor(L"Preferences.backup");
  const std::string restored_histogram =
      "Settings.RestoreFromBackupResult.Preferences";
  int restored_before = base::HistogramSampleCount(restored_histogram, 1);

  // A good read refreshes the copy.
  WriteText(path, "{\"good\":1}");
  EXPECT_EQ(PersistentPrefStore::kReadErrorNone, MakeStore(path)->ReadPrefs());
  EXPECT_EQ("{\"good\":1}", ReadText(backup));

  // A broken file starts from the copy; the copy is not refreshed from
  // itself.
  WriteText(path, "{oops");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorNone, store->ReadPrefs());
  EXPECT_TRUE(store->GetValue("good", nullptr));
  EXPECT_EQ("{oops", ReadText(PathFor(L"Preferences.bad")));
  EXPECT_FALSE(base::PathExists(PathFor(L"Preferences.backup.backup")));
  EXPECT_EQ(restored_before + 1,
            base::HistogramSampleCount(restored_histogram, 1));

  // "Local State" is never restored.
  base::FilePath local_state = PathFor(L"Local State");
  WriteText(PathFor(L"Local State.backup"), "{\"good\":1}");
  WriteText(local_state, "{oops");
  base::scoped_refptr<JsonPrefStore> local = MakeStore(local_state);
  EXPECT_EQ(PersistentPrefStore::kReadErrorJsonParse, local->ReadPrefs());
  EXPECT_TRUE(local->GetAllValues()->empty());
  SetBackupFeature(false);
}

TEST_F(JsonPrefStoreTest, NoBackupFilesWithFeatureOff) {
  base::FilePath path = PathFor(L"Preferences");
  base::FilePath backup = PathFor(L"Preferences.backup");
  WriteText(path, "{\"good\":1}");
  EXPECT_EQ(PersistentPrefStore::kReadErrorNone, MakeStore(path)->ReadPrefs());
  EXPECT_FALSE(base::PathExists(backup));

  // A backup that exists is neither read nor changed.
  WriteText(backup, "{\"from_backup\":1}");
  WriteText(path, "{oops");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorJsonParse, store->ReadPrefs());
  EXPECT_FALSE(store->GetValue("from_backup", nullptr));
  EXPECT_EQ("{\"from_backup\":1}", ReadText(backup));
}

// Reading another installation's file leaves every file as it was, with
// or without backups; the backup is read where a store would read it.
TEST_F(JsonPrefStoreTest, ReadWithoutChangesWritesNothing) {
  const base::FilePath path = PathFor(L"installer_prefs.json");
  const base::FilePath backup = PathFor(L"installer_prefs.json.backup");
  const base::FilePath bad = PathFor(L"installer_prefs.bad");
  const struct {
    bool backups;
    const char* text;         // Null: no file.
    const char* backup_text;  // Null: no backup.
    const char* key;          // Expected to be read; null: nothing read.
  } kCases[] = {
      {false, "{\"a\":1}", nullptr, "a"},
      {true, "{\"a\":1}", nullptr, "a"},
      {false, "{oops", "{\"b\":1}", nullptr},
      {true, "{oops", "{\"b\":1}", "b"},
      {true, "{oops", "{oops too", nullptr},
      {true, "[1]", "{\"b\":1}", nullptr},
      {true, nullptr, "{\"b\":1}", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "none") + " backups " +
                 (c.backups ? "on" : "off"));
    SetBackupFeature(c.backups);
    base::DeleteFile(path, false);
    base::DeleteFile(backup, false);
    if (c.text)
      WriteText(path, c.text);
    if (c.backup_text)
      WriteText(backup, c.backup_text);
    std::unique_ptr<base::DictionaryValue> prefs =
        JsonPrefStore::ReadPrefsWithoutChanges(path);
    EXPECT_EQ(c.key != nullptr, prefs != nullptr);
    if (c.key && prefs) {
      EXPECT_TRUE(prefs->HasKey(c.key));
    }
    EXPECT_EQ(c.text != nullptr, base::PathExists(path));
    if (c.text) {
      EXPECT_EQ(c.text, ReadText(path));
    }
    EXPECT_EQ(c.backup_text != nullptr, base::PathExists(backup));
    if (c.backup_text) {
      EXPECT_EQ(c.backup_text, ReadText(backup));
    }
    EXPECT_FALSE(base::PathExists(bad));
  }
  SetBackupFeature(false);
}

namespace {

// A dotted key of |parts| parts; the first one is |first|.
std::string KeyOfParts(size_t parts, const std::string& first = "k") {
  std::string key = first;
  for (size_t i = 1; i < parts; ++i)
    key += ".k";
  return key;
}

}  // namespace

// The file holds at most 199 open lists and dictionaries (the reader's
// limit); a key or value that would nest deeper is refused instead of
// making the next start discard the whole file.
TEST_F(JsonPrefStoreTest, PathsDeeperThanTheReaderReadsAreRefused) {
  base::FilePath path = PathFor(L"Preferences");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  store->ReadPrefs();
  store->AddObserver(&observer_);

  struct {
    size_t key_parts;
    bool dictionary_value;
    bool stored;
  } const kCases[] = {
      {199, false, true}, {198, true, true},     {200, false, false},
      {199, true, false}, {10000, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.key_parts);
    const std::string key =
        KeyOfParts(c.key_parts, std::to_string(&c - kCases));
    auto value =
        c.dictionary_value
            ? std::make_unique<base::Value>(base::Value::Type::DICTIONARY)
            : std::make_unique<base::Value>(1);
    store->SetValue(key, std::move(value), 0);
    EXPECT_EQ(c.stored, store->GetValue(key, nullptr));
    // Nor is anything removed there, without walking the whole path.
    store->RemoveValue(KeyOfParts(c.key_parts + 1, key.substr(0, 1)), 0);
  }
  EXPECT_EQ(2u, observer_.changed_keys.size());
  store->SetValueWithoutNotification(KeyOfParts(10000),
                                     std::make_unique<base::Value>(2), 0);
  EXPECT_FALSE(store->GetValue(KeyOfParts(10000), nullptr));
  EXPECT_TRUE(store->GetAllValues());

  CommitAndWait(store.get());
  store = nullptr;
  base::scoped_refptr<JsonPrefStore> reread = MakeStore(path);
  EXPECT_EQ(PersistentPrefStore::kReadErrorNone, reread->ReadPrefs());
  EXPECT_TRUE(reread->GetValue(KeyOfParts(199, "0"), nullptr));
  EXPECT_TRUE(reread->GetValue(KeyOfParts(198, "1"), nullptr));
}

// A value deepened in place, past SetValue's check, is cut where it passes
// the reader's limit when written: the next start reads every preference.
TEST_F(JsonPrefStoreTest, ValueDeepenedInPlaceIsCutWhenWritten) {
  base::FilePath path = PathFor(L"Preferences");
  base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
  store->ReadPrefs();
  store->SetValue("other", std::make_unique<base::Value>(7), 0);
  store->SetValue("a.deep", std::make_unique<base::DictionaryValue>(), 0);
  store->SetValue("a.list", std::make_unique<base::ListValue>(), 0);
  store->SetValue("a.kept", std::make_unique<base::Value>(1), 0);
  // Root, "a" and "deep": 3 levels; 250 more dictionaries below.
  base::Value* deep = nullptr;
  ASSERT_TRUE(store->GetMutableValue("a.deep", &deep));
  for (int i = 0; i < 250; ++i) {
    deep = static_cast<base::DictionaryValue*>(deep)->Set(
        "k", std::make_unique<base::DictionaryValue>());
  }
  // And 250 nested lists in the list.
  base::Value* list = nullptr;
  ASSERT_TRUE(store->GetMutableValue("a.list", &list));
  for (int i = 0; i < 250; ++i) {
    list->list_storage().push_back(
        std::make_unique<base::Value>(base::Value::Type::LIST));
    list = list->list_storage().back().get();
  }
  store->NotifyValueChanged("a.deep", 0);
  CommitAndWait(store.get());
  store = nullptr;

  base::scoped_refptr<JsonPrefStore> reread = MakeStore(path);
  ASSERT_EQ(PersistentPrefStore::kReadErrorNone, reread->ReadPrefs());
  const base::Value* value = nullptr;
  ASSERT_TRUE(reread->GetValue("other", &value));
  EXPECT_EQ(base::Value(7), *value);
  EXPECT_TRUE(reread->GetValue("a.kept", nullptr));
  // The dictionaries are kept down to the limit: root, "a", "deep" and 196
  // "k" levels make 199.
  // KeyOfParts(n + 1, "") is n times ".k".
  EXPECT_TRUE(reread->GetValue("a.deep" + KeyOfParts(197, ""), nullptr));
  EXPECT_FALSE(reread->GetValue("a.deep" + KeyOfParts(198, ""), nullptr));
  ASSERT_TRUE(reread->GetValue("a.list", &value));
  // Root, "a", "list" and 196 inner lists.
  size_t lists = 0;
  while (value->is_list() && !value->list_storage().empty()) {
    value = value->list_storage().front().get();
    ++lists;
  }
  EXPECT_EQ(196u, lists);
  EXPECT_FALSE(base::PathExists(PathFor(L"Preferences.bad")));
}

// A file that already bears the "bad" name, in any case, keeps its damaged
// text under a name of its own, which the next write does not touch.
TEST_F(JsonPrefStoreTest, BadNamedFileIsKeptUnderAnotherName) {
  for (const wchar_t* name : {L"prefs.bad", L"prefs.BAD", L"prefs.Bad"}) {
    SCOPED_TRACE(testing::Message() << name);
    base::FilePath path = PathFor(name);
    WriteText(path, "{broken");
    base::scoped_refptr<JsonPrefStore> store = MakeStore(path);
    EXPECT_EQ(PersistentPrefStore::kReadErrorJsonParse, store->ReadPrefs());
    store->SetValue("fixed", std::make_unique<base::Value>(1), 0);
    CommitAndWait(store.get());
    store = nullptr;

    EXPECT_EQ("{\"fixed\":1}", ReadText(path));
    EXPECT_EQ("{broken", ReadText(path.AddExtension(L"bad")));
    ASSERT_TRUE(base::DeleteFile(path, false));
    ASSERT_TRUE(base::DeleteFile(path.AddExtension(L"bad"), false));
  }
}
