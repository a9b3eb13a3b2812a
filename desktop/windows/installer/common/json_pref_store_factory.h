#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_JSON_PREF_STORE_FACTORY_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_JSON_PREF_STORE_FACTORY_H_

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/threading/sequenced_worker_pool.h"
#include "components/prefs/json_pref_store.h"

namespace installer {

// The worker pool shared by every preference file of the process (two
// threads, "PrefsTaskPool"), made on the first call. The first call must come
// from a thread with a message loop (the pool is released there). Shut down at
// process exit, letting pending writes finish.
base::scoped_refptr<base::SequencedWorkerPool> GetPrefsTaskPool();

// A store on |path| whose file tasks run on the pool in a sequence of their
// own per path, so two stores of one file never write at the same time. The
// file is read before the store is returned; a missing or unreadable file
// still gives a store.
base::scoped_refptr<JsonPrefStore> CreateJsonPrefStore(
    const base::scoped_refptr<base::SequencedWorkerPool>& pool,
    const base::FilePath& path);

// The sequence name CreateJsonPrefStore uses for |path|.
std::string GetJsonPrefStoreSequenceName(const base::FilePath& path);

// Releases |*store| (which writes its file on the preference pool) and
// waits until that write is done, so that the next reader of |path| in this
// process sees it.
void ReleasePrefStoreAndWait(base::scoped_refptr<JsonPrefStore>* store,
                             const base::FilePath& path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_JSON_PREF_STORE_FACTORY_H_
