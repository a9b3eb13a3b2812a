#ifndef CRASH_COUNTER_FILE_WRITER_H_
#define CRASH_COUNTER_FILE_WRITER_H_

#include <stdint.h>

#include <atomic>
#include <map>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace crash_reporter {

// Keeps named counters in a small JSON file that several processes update.
// Increments are gathered in memory and merged into the file by a worker
// thread of the writer's own, under a lock on the whole file, so writers in
// other processes never lose each other's counts. A merge that fails keeps
// its increments and is tried again later.
class CounterFileWriter : public base::PlatformThread::Delegate {
 public:
  using Increments = std::map<std::string, int32_t>;

  // How the worker pauses, and what it tells about its progress. Tests
  // replace it to follow the worker without waiting on the clock.
  class WorkerHooks {
   public:
    virtual ~WorkerHooks() = default;
    virtual void Sleep(base::TimeDelta duration);
    // After each merge the worker attempted, with its outcome.
    virtual void FlushAttempted(bool succeeded) {}
    // Before the worker waits for a wake-up.
    virtual void WaitingForWake() {}
    // Starts the worker thread; false when it could not be made.
    virtual bool StartWorker(base::PlatformThread::Delegate* worker,
                             base::PlatformThreadHandle* handle);
  };

  explicit CounterFileWriter(const base::FilePath& path);
  // |hooks| is borrowed and must outlive the writer.
  CounterFileWriter(const base::FilePath& path, WorkerHooks* hooks);
  // Stops the worker, which first tries to merge what is pending.
  ~CounterFileWriter() override;

  // Any thread. |wake| asks the worker to merge soon; a writer whose worker
  // could not be started merges on the calling thread instead.
  void Add(const std::string& name, int32_t amount, bool wake);
  void AddAll(const Increments& increments, bool wake);

  // Merges the pending increments into the file now. True when nothing was
  // pending or the merge succeeded; otherwise they stay pending.
  bool Flush();

  // base::PlatformThread::Delegate:
  void ThreadMain() override;

 private:
  using Counts = std::map<std::string, int>;

  void AddAllLocked(const Increments& increments);
  bool HasPending();
  bool WorkerFlush();
  void Wake();
  // The last merge, retried a few times while the file is held elsewhere.
  void FinalFlush();

  const base::FilePath path_;
  WorkerHooks default_hooks_;
  WorkerHooks* const hooks_;
  base::PlatformThreadHandle thread_;
  base::WaitableEvent wake_event_;
  base::Lock lock_;
  Increments pending_;  // Guarded by |lock_|.
  std::atomic<bool> stop_;

  DISALLOW_COPY_AND_ASSIGN(CounterFileWriter);
};

}  // namespace crash_reporter

#endif  // CRASH_COUNTER_FILE_WRITER_H_
