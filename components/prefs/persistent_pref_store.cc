#include "components/prefs/persistent_pref_store.h"

#include <utility>

#include "base/threading/sequenced_task_runner_handle.h"

void PersistentPrefStore::CommitPendingWrite(base::OnceClosure done_callback) {
  // Nothing to write here; the callback still must not run re-entrantly.
  if (done_callback) {
    base::SequencedTaskRunnerHandle::Get()->PostTask(FROM_HERE,
                                                     std::move(done_callback));
  }
}
