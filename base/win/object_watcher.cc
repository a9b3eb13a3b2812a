#include "base/win/object_watcher.h"

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/threading/sequenced_task_runner_handle.h"

namespace base {
namespace win {

ObjectWatcher::ObjectWatcher() : weak_factory_(this) {}

ObjectWatcher::~ObjectWatcher() {
  StopWatching();
}

bool ObjectWatcher::StartWatchingOnce(HANDLE object, Delegate* delegate) {
  task_runner_ = SequencedTaskRunnerHandle::Get();
  run_once_ = true;

  // Both must be in place before the wait is registered: for an object that
  // is already signalled the wait callback may run before
  // RegisterWaitForSingleObject returns.
  callback_ = BindRepeating(&ObjectWatcher::Signal, weak_factory_.GetWeakPtr(),
                            delegate);
  object_ = object;

  const ULONG flags = WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE;
  if (!::RegisterWaitForSingleObject(&wait_object_, object,
                                     &ObjectWatcher::DoneWaiting, this,
                                     INFINITE, flags)) {
    wait_object_ = nullptr;
    Reset();
    return false;
  }
  return true;
}

bool ObjectWatcher::StopWatching() {
  if (!wait_object_)
    return false;

  // Blocks until a wait callback already running has returned, so none
  // touches this watcher afterwards.
  if (!::UnregisterWaitEx(wait_object_, INVALID_HANDLE_VALUE))
    return false;

  Reset();
  return true;
}

void ObjectWatcher::Reset() {
  callback_.Reset();
  object_ = nullptr;
  wait_object_ = nullptr;
  task_runner_ = nullptr;
  run_once_ = true;
  // A signal task already posted must find nobody to tell.
  weak_factory_.InvalidateWeakPtrs();
}

// static
void CALLBACK ObjectWatcher::DoneWaiting(void* param, BOOLEAN timed_out) {
  ObjectWatcher* that = static_cast<ObjectWatcher*>(param);
  // The owner may reset the watcher only after UnregisterWaitEx has waited
  // for this callback, so the fields are stable here.
  RepeatingClosure callback = that->callback_;
  that->task_runner_->PostTask(FROM_HERE, callback);
  if (that->run_once_)
    that->callback_.Reset();
}

void ObjectWatcher::Signal(Delegate* delegate) {
  HANDLE object = object_;
  // Stop first, so that the delegate finds the watcher idle and may watch
  // again or destroy it.
  if (run_once_)
    StopWatching();
  delegate->OnObjectSignaled(object);
}

}  // namespace win
}  // namespace base
