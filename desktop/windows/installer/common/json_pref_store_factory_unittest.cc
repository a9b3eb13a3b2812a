#include "desktop/windows/installer/common/json_pref_store_factory.h"

#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class JsonPrefStoreFactoryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }

  base::FilePath PrefsPath() const {
    return temp_dir_.GetPath().Append(L"installer_prefs.json");
  }

  // The pool is released on the thread that made it.
  base::MessageLoop loop_;
  base::ScopedTempDir temp_dir_;
};

TEST_F(JsonPrefStoreFactoryTest, StoreIsReadBeforeItIsReturned) {
  const std::string kJson =
      "{\"installer-experiments\":[\"installer-experiment-test@1\"]}";
  ASSERT_EQ(static_cast<int>(kJson.size()),
            base::WriteFile(PrefsPath(), kJson.data(), kJson.size()));
  base::AtExitManager exit_manager;
  base::scoped_refptr<JsonPrefStore> store =
      CreateJsonPrefStore(GetPrefsTaskPool(), PrefsPath());
  ASSERT_NE(nullptr, store.get());
  EXPECT_TRUE(store->IsInitialized());
  const base::Value* experiments = nullptr;
  ASSERT_TRUE(store->GetValue("installer-experiments", &experiments));
  EXPECT_TRUE(experiments->is_list());
}

TEST_F(JsonPrefStoreFactoryTest, MissingFileStillGivesStore) {
  base::AtExitManager exit_manager;
  base::scoped_refptr<JsonPrefStore> store =
      CreateJsonPrefStore(GetPrefsTaskPool(), PrefsPath());
  ASSERT_NE(nullptr, store.get());
  EXPECT_TRUE(store->IsInitialized());
  EXPECT_EQ(PersistentPrefStore::kReadErrorNoFile, store->GetReadError());
  EXPECT_FALSE(store->GetValue("installer-experiments", nullptr));
}

TEST_F(JsonPrefStoreFactoryTest, ExitFinishesPendingWritesAndEndsThePool) {
  base::scoped_refptr<base::SequencedWorkerPool> pool;
  {
    base::AtExitManager exit_manager;
    pool = GetPrefsTaskPool();
    EXPECT_EQ(pool.get(), GetPrefsTaskPool().get());
    base::scoped_refptr<JsonPrefStore> store =
        CreateJsonPrefStore(pool, PrefsPath());
    store->SetValue("written", std::make_unique<base::Value>(5), 0);
    store->CommitPendingWrite(base::OnceClosure());
    EXPECT_FALSE(pool->IsShutdownInProgress());
  }
  EXPECT_TRUE(pool->IsShutdownInProgress());
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(PrefsPath(), &contents));
  EXPECT_NE(std::string::npos, contents.find("\"written\":5")) << contents;

  // The next user gets a pool that works.
  base::AtExitManager exit_manager;
  base::scoped_refptr<base::SequencedWorkerPool> next = GetPrefsTaskPool();
  EXPECT_NE(pool.get(), next.get());
  EXPECT_FALSE(next->IsShutdownInProgress());
}

}  // namespace
}  // namespace installer
