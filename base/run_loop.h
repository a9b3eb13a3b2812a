#ifndef BASE_RUN_LOOP_H_
#define BASE_RUN_LOOP_H_

#include <stdint.h>

#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"

namespace base {

class MessagePumpDispatcher;
class SequencedTaskRunner;
class SingleThreadTaskRunner;

// One scoped run of the current thread's loop. Run returns once the quit
// closure has been called (from any thread), or once the loop is idle after
// QuitWhenIdle:
//
//   RunLoop run_loop;
//   StartSomething(run_loop.QuitClosure());
//   run_loop.Run();
class RunLoop {
 public:
  enum Type : int32_t {
    // A nested run of this type runs no application tasks.
    kDefault = 0,
    // A nested run of this type runs application tasks.
    kNestableTasksAllowed = 1,
  };

  // What actually runs tasks on a thread: there is one per thread that can
  // run, registered with RegisterDelegateForCurrentThread.
  class Delegate {
   public:
    Delegate();
    virtual ~Delegate();

    // Whether the innermost active run loop asked to quit when idle.
    bool ShouldQuitWhenIdle();

    // Runs until Quit; runs application tasks when asked to.
    virtual void Run(bool application_tasks_allowed) = 0;
    virtual void Quit() = 0;
    // Makes sure ready tasks get to run in a nested run that was just
    // started from inside a task.
    virtual void EnsureWorkScheduled() = 0;

   private:
    friend class RunLoop;

    static bool InnermostQuitsWhenIdle(const Delegate* delegate);

    // Innermost last.
    std::vector<RunLoop*> active_run_loops_;
    bool bound_ = false;
    RepeatingCallback<bool(void)> should_quit_when_idle_callback_;

    DISALLOW_COPY_AND_ASSIGN(Delegate);
  };

  explicit RunLoop(Type type = kDefault);
  // |dispatcher| sees every Windows message while this run loop is the
  // innermost one of a user-interface loop.
  explicit RunLoop(MessagePumpDispatcher* dispatcher, Type type = kDefault);
  ~RunLoop();

  // Makes |delegate| the current thread's delegate.
  static void RegisterDelegateForCurrentThread(Delegate* delegate);

  // Returns at once when Quit was already called.
  void Run();

  // Callable from any thread. Ends Run on this run loop; quitting an outer
  // run loop while an inner one runs takes effect when the inner one ends.
  void Quit();

  // Callable from any thread. Run ends once the loop has nothing to do.
  void QuitWhenIdle();

  // Calls Quit on the origin thread. Safe to run from any thread, and after
  // this run loop is gone (it then does nothing).
  RepeatingClosure QuitClosure();
  RepeatingClosure QuitWhenIdleClosure();

  // Whether the current thread runs a nested run loop.
  static bool IsNestedOnCurrentThread();

  // The dispatcher of the current thread's innermost run loop, or null.
  static MessagePumpDispatcher* CurrentMessageDispatcher();

  bool running() const { return running_; }
  MessagePumpDispatcher* message_dispatcher() const { return dispatcher_; }

 private:
  bool BeforeRun();
  void AfterRun();

  // Runs |closure| at once when |task_runner| runs tasks on the calling
  // sequence, else posts it there.
  static void ProxyToTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner,
                                RepeatingClosure closure);

  Delegate* const delegate_;
  const Type type_;
  MessagePumpDispatcher* const dispatcher_;
  bool quit_called_ = false;
  bool running_ = false;
  bool quit_when_idle_received_ = false;
  scoped_refptr<SingleThreadTaskRunner> origin_task_runner_;

  // Made on the origin thread at construction, so that other threads only
  // ever copy it: making a weak pointer is not safe off the origin sequence.
  WeakPtr<RunLoop> weak_self_;

  // Last member: its pointers die before anything else.
  WeakPtrFactory<RunLoop> weak_factory_;

  DISALLOW_COPY_AND_ASSIGN(RunLoop);
};

}  // namespace base

#endif  // BASE_RUN_LOOP_H_
