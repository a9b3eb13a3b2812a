#ifndef BASE_AT_EXIT_H_
#define BASE_AT_EXIT_H_

#include <deque>
#include <stack>

#include "base/callback.h"
#include "base/macros.h"
#include "base/synchronization/lock.h"

namespace base {

// Runs registered callbacks, last registered first, when it is destroyed.
// The process's entry function makes one at start-up; process-wide objects
// that must be torn down on the way out register with it. Managers nest: the
// newest one is the one callbacks go to, and destroying it hands that role
// back to the one it replaced.
class AtExitManager {
 public:
  typedef void (*AtExitCallbackType)(void*);

  AtExitManager();
  ~AtExitManager();

  // Any thread. Without a manager the callback is dropped: nothing would
  // ever run it.
  static void RegisterCallback(AtExitCallbackType func, void* param);

 private:
  // Runs the top manager's callbacks with no lock held. Callbacks registered
  // meanwhile stay on the manager and are released with it, never run.
  static void ProcessCallbacksNow();

  Lock lock_;
  std::stack<RepeatingClosure, std::deque<RepeatingClosure>> stack_;
  AtExitManager* const next_manager_;

  DISALLOW_COPY_AND_ASSIGN(AtExitManager);
};

}  // namespace base

#endif  // BASE_AT_EXIT_H_
