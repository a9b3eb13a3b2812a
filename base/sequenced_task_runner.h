#ifndef BASE_SEQUENCED_TASK_RUNNER_H_
#define BASE_SEQUENCED_TASK_RUNNER_H_

#include <memory>

#include "base/task_runner.h"

namespace base {

// A runner whose tasks run one at a time, in posting order (delays
// permitting), so that they need no locks among themselves.
class SequencedTaskRunner : public TaskRunner {
 public:
  // For a task that must not run inside a nested run loop: it waits for the
  // outer loop to resume.
  virtual bool PostNonNestableDelayedTask(const Location& from_here,
                                          OnceClosure task,
                                          TimeDelta delay) = 0;

  bool PostNonNestableTask(const Location& from_here, OnceClosure task);

  // Deletes |object| in a task on this sequence. Returns false, and leaves
  // |object| alone (leaked unless the caller deletes it), when the task is
  // refused.
  template <class T>
  bool DeleteSoon(const Location& from_here, const T* object) {
    return DeleteOrReleaseSoonInternal(from_here, &DeleteObject<T>, object);
  }

  template <class T>
  bool DeleteSoon(const Location& from_here, std::unique_ptr<T> object) {
    return DeleteSoon(from_here, object.release());
  }

  // Drops the caller's reference to |object| in a task on this sequence.
  template <class T>
  bool ReleaseSoon(const Location& from_here, const T* object) {
    return DeleteOrReleaseSoonInternal(from_here, &ReleaseObject<T>, object);
  }

 protected:
  ~SequencedTaskRunner() override = default;

 private:
  template <class T>
  static void DeleteObject(const void* object) {
    delete static_cast<const T*>(object);
  }

  template <class T>
  static void ReleaseObject(const void* object) {
    static_cast<const T*>(object)->Release();
  }

  // The task binds only a function and a raw pointer: destroying it without
  // running it does nothing to |object|.
  bool DeleteOrReleaseSoonInternal(const Location& from_here,
                                   void (*deleter)(const void*),
                                   const void* object);
};

}  // namespace base

#endif  // BASE_SEQUENCED_TASK_RUNNER_H_
