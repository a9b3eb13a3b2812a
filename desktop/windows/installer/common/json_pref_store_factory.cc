#include "desktop/windows/installer/common/json_pref_store_factory.h"

#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/logging.h"
#include "base/synchronization/waitable_event.h"
#include "base/synchronization/lock.h"
#include "base/task_scheduler/task_traits.h"

namespace installer {

namespace {

constexpr size_t kPrefsTaskPoolThreads = 2;
constexpr char kPrefsTaskPoolPrefix[] = "PrefsTaskPool";
constexpr char kSequenceNamePrefix[] = "json_pref_store-";

struct PoolHolder {
  base::Lock lock;
  base::scoped_refptr<base::SequencedWorkerPool> pool;
};

PoolHolder& GetPoolHolder() {
  static PoolHolder* const holder = new PoolHolder();
  return *holder;
}

// Lets pending writes finish, refuses new work and drops the process's
// reference; a later call makes a new pool.
void ShutDownPrefsTaskPool(void*) {
  base::scoped_refptr<base::SequencedWorkerPool> pool;
  {
    PoolHolder& holder = GetPoolHolder();
    base::AutoLock lock(holder.lock);
    pool.swap(holder.pool);
  }
  if (pool)
    pool->Shutdown(0);
}

}  // namespace

base::scoped_refptr<base::SequencedWorkerPool> GetPrefsTaskPool() {
  PoolHolder& holder = GetPoolHolder();
  base::AutoLock lock(holder.lock);
  if (!holder.pool) {
    holder.pool = new base::SequencedWorkerPool(
        kPrefsTaskPoolThreads, kPrefsTaskPoolPrefix,
        base::TaskPriority::USER_VISIBLE);
    base::AtExitManager::RegisterCallback(&ShutDownPrefsTaskPool, nullptr);
  }
  return holder.pool;
}

std::string GetJsonPrefStoreSequenceName(const base::FilePath& path) {
  return kSequenceNamePrefix + path.AsUTF8Unsafe();
}

base::scoped_refptr<JsonPrefStore> CreateJsonPrefStore(
    const base::scoped_refptr<base::SequencedWorkerPool>& pool,
    const base::FilePath& path) {
  // One sequence per file: two stores of the same file never write at the
  // same time, and writes pending at shutdown are finished.
  const base::SequencedWorkerPool::SequenceToken token =
      pool->GetNamedSequenceToken(GetJsonPrefStoreSequenceName(path));
  base::scoped_refptr<JsonPrefStore> store(
      new JsonPrefStore(path,
                        pool->GetSequencedTaskRunnerWithShutdownBehavior(
                            token, base::SequencedWorkerPool::BLOCK_SHUTDOWN),
                        nullptr));
  store->ReadPrefs();
  return store;
}

void ReleasePrefStoreAndWait(base::scoped_refptr<JsonPrefStore>* store,
                             const base::FilePath& path) {
  // The store posts its write to the file's own sequence when released; a
  // task posted after it on that sequence runs once the write is done.
  *store = nullptr;
  base::WaitableEvent written(base::WaitableEvent::ResetPolicy::MANUAL,
                              base::WaitableEvent::InitialState::NOT_SIGNALED);
  if (!GetPrefsTaskPool()->PostNamedSequencedWorkerTask(
          GetJsonPrefStoreSequenceName(path), FROM_HERE,
          base::BindOnce(&base::WaitableEvent::Signal,
                         base::Unretained(&written)))) {
    LOG(ERROR) << "Cannot wait for the preferences in " << path.value();
    return;
  }
  written.Wait();
}

}  // namespace installer
