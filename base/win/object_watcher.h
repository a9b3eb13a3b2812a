#ifndef BASE_WIN_OBJECT_WATCHER_H_
#define BASE_WIN_OBJECT_WATCHER_H_

#include <windows.h>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"

namespace base {
namespace win {

// Waits, without blocking its owner, for a kernel object (a process, an
// event) to become signalled, then tells its delegate on the sequence that
// started the watch:
//
//   class Waiter : public ObjectWatcher::Delegate {
//    public:
//     void Watch(HANDLE process) { watcher_.StartWatchingOnce(process, this); }
//     void OnObjectSignaled(HANDLE object) override { ... }
//    private:
//     ObjectWatcher watcher_;
//   };
//
// The wait runs on a system thread-pool wait thread; only a posted task
// comes back. After StopWatching or destruction the delegate is never
// called, even when the object was signalled just before. The watcher and
// the delegate belong to the owner's sequence, which must have a task
// runner.
class ObjectWatcher {
 public:
  class Delegate {
   public:
    virtual ~Delegate() {}
    // |object| is the handle that was watched.
    virtual void OnObjectSignaled(HANDLE object) = 0;
  };

  ObjectWatcher();
  // Stops watching.
  ~ObjectWatcher();

  // Watches |object| (not owned; it must stay open while watched) and tells
  // |delegate| once when it is signalled. The watch is stopped before the
  // delegate is called, so the delegate may start a new one or destroy the
  // watcher. False when the wait could not be registered.
  bool StartWatchingOnce(HANDLE object, Delegate* delegate);

  // True when a watch was cancelled; false when nothing was watched or the
  // cancel failed (the watch then goes on).
  bool StopWatching();

  bool IsWatching() const { return wait_object_ != nullptr; }

  // The watched object, or null.
  HANDLE GetWatchedObject() const { return object_; }

 private:
  // Runs on a wait thread.
  static void CALLBACK DoneWaiting(void* param, BOOLEAN timed_out);

  // The posted task, on the owner's sequence.
  void Signal(Delegate* delegate);

  void Reset();

  RepeatingClosure callback_;
  HANDLE object_ = nullptr;
  HANDLE wait_object_ = nullptr;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  bool run_once_ = true;
  WeakPtrFactory<ObjectWatcher> weak_factory_;

  DISALLOW_COPY_AND_ASSIGN(ObjectWatcher);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_OBJECT_WATCHER_H_
