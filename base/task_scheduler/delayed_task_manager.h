#ifndef BASE_TASK_SCHEDULER_DELAYED_TASK_MANAGER_H_
#define BASE_TASK_SCHEDULER_DELAYED_TASK_MANAGER_H_

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/synchronization/lock.h"
#include "base/task_runner.h"
#include "base/task_scheduler/task.h"
#include "base/time/tick_clock.h"
#include "base/time/time.h"

namespace base {
namespace internal {

// Holds the task scheduler's delayed tasks until they are due, using the
// service thread's message loop as the timer: each delayed task becomes one
// delayed task on the service thread, which hands it back through the
// poster's callback for immediate posting. Tasks added before Start wait in
// a list and get the time left when Start hands them over.
class DelayedTaskManager {
 public:
  // Posts |task| now, to wherever its poster bound into the callback.
  using PostTaskNowCallback = OnceCallback<void(Task task)>;

  explicit DelayedTaskManager(std::unique_ptr<const TickClock> tick_clock =
                                  std::make_unique<DefaultTickClock>());
  ~DelayedTaskManager();

  // Hands the waiting tasks, in the order they were added, to
  // |service_thread_task_runner|, which then takes every later one. Called
  // once.
  void Start(scoped_refptr<TaskRunner> service_thread_task_runner);

  // Calls |post_task_now_callback| with |task| once |task.delay| has
  // passed (counted from now once started; from the task's making for a
  // task added before Start). Any thread. A task without a closure is fatal.
  void AddDelayedTask(Task task, PostTaskNowCallback post_task_now_callback);

 private:
  void AddDelayedTaskNow(Task task,
                         TimeDelta delay,
                         PostTaskNowCallback post_task_now_callback);

  const std::unique_ptr<const TickClock> tick_clock_;

  // Set once by Start; |service_thread_task_runner_| never changes after, so
  // it is read without |lock_| once this is set.
  std::atomic<bool> started_{false};

  // Guards the next two fields until |started_| is set.
  Lock lock_;
  scoped_refptr<TaskRunner> service_thread_task_runner_;
  std::vector<std::pair<Task, PostTaskNowCallback>> tasks_added_before_start_;

  DISALLOW_COPY_AND_ASSIGN(DelayedTaskManager);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_DELAYED_TASK_MANAGER_H_
