#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_

#include <stdint.h>

#include <memory>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/message_pump_win.h"
#include "base/observer_list.h"
#include "base/pending_task.h"
#include "base/run_loop.h"
#include "base/single_thread_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace base {

class ThreadTaskRunnerHandle;

namespace internal {
class IncomingTaskQueue;
class MessageLoopTaskRunner;
}  // namespace internal

// The task loop of one thread. It owns the thread's pump and hands out the
// runner through which any thread posts to it; it runs tasks in posting
// order, delayed tasks when due, and non-nestable tasks only outside nested
// run loops. RunLoop drives it:
//
//   MessageLoop loop(MessageLoop::TYPE_UI);   // binds to this thread
//   loop.task_runner()->PostTask(FROM_HERE, BindOnce(&Start));
//   RunLoop().Run();
//
// Everything but task_runner() (and what it posts) is for the loop's own
// thread.
class MessageLoop : public MessagePump::Delegate, public RunLoop::Delegate {
 public:
  enum Type : int32_t {
    TYPE_DEFAULT = 0,  // MessagePumpDefault: tasks and timers only.
    TYPE_UI = 1,       // MessagePumpForUI: also the thread's window messages.
    TYPE_CUSTOM = 2,   // The pump comes from a factory callback.
    TYPE_IO = 3,       // MessagePumpForIO: also I/O completions.
  };

  using MessagePumpFactoryCallback =
      OnceCallback<std::unique_ptr<MessagePump>()>;

  // Told once, on the loop's thread, when the loop begins to die. Posting to
  // the loop still works then, but the tasks are destroyed unrun.
  class DestructionObserver {
   public:
    virtual void WillDestroyCurrentMessageLoop() = 0;

   protected:
    virtual ~DestructionObserver() = default;
  };

  // Makes a loop of |type| and binds it to the calling thread at once.
  explicit MessageLoop(Type type = TYPE_DEFAULT);
  ~MessageLoop() override;

  // A loop not yet bound to any thread; tasks may be posted to it at once
  // and run once BindToCurrentThread was called on the thread that runs it.
  // |pump_factory| may be null.
  static std::unique_ptr<MessageLoop> CreateUnbound(
      Type type, MessagePumpFactoryCallback pump_factory);

  static std::unique_ptr<MessagePump> CreateMessagePumpForType(Type type);

  // The calling thread's loop, or null.
  static MessageLoop* current();

  // Binds an unbound loop to the calling thread: makes its pump, its runner
  // handle and registers it as the thread's RunLoop delegate.
  void BindToCurrentThread();

  // Replaces the thread's ThreadTaskRunnerHandle with one for this loop.
  void SetThreadTaskRunnerHandle();

  void AddDestructionObserver(DestructionObserver* observer);
  void RemoveDestructionObserver(DestructionObserver* observer);

  const scoped_refptr<SingleThreadTaskRunner>& task_runner() const {
    return task_runner_;
  }

  Type type() const { return type_; }
  bool IsType(Type type) const { return type_ == type; }

  // Null until bound.
  MessagePump* pump() const { return pump_.get(); }
  void SetTimerSlack(int timer_slack);

  // The task that is running, or null.
  const PendingTask* current_pending_task() const {
    return current_pending_task_;
  }

  // Whether application tasks may run now: false while a task runs, unless
  // a nested run or a ScopedNestableTaskAllower allows them.
  bool NestableTasksAllowed() const { return task_execution_allowed_; }
  void SetNestableTasksAllowed(bool allowed);

  // Lets a nested run started from inside a task run application tasks
  // (as RunLoop::kNestableTasksAllowed does for one run).
  class ScopedNestableTaskAllower {
   public:
    explicit ScopedNestableTaskAllower(MessageLoop* loop);
    ~ScopedNestableTaskAllower();

   private:
    MessageLoop* const loop_;
    const bool old_state_;

    DISALLOW_COPY_AND_ASSIGN(ScopedNestableTaskAllower);
  };

  // Wakes the pump; called by the incoming queue from any thread.
  void ScheduleWork();

  bool IsBoundToCurrentThreadForTesting() const;

 protected:
  MessageLoop(Type type, MessagePumpFactoryCallback pump_factory);

  std::unique_ptr<MessagePump> pump_;

 private:
  friend class MessageLoopTestPeer;

  class DestructionObserverRecord;

  // RunLoop::Delegate:
  void Run(bool application_tasks_allowed) override;
  void Quit() override;
  void EnsureWorkScheduled() override;

  // MessagePump::Delegate:
  bool DoWork() override;
  bool DoDelayedWork(TimeTicks* next_delayed_work_time) override;
  bool DoIdleWork() override;

  // Runs |pending_task| unless it is non-nestable and a run loop is nested;
  // such a task waits in the deferred queue. Returns whether it ran.
  bool DeferOrRunPendingTask(PendingTask pending_task);
  bool ProcessNextDelayedNonNestableTask();
  void RunTask(PendingTask* pending_task);

  const Type type_;
  // Whether this loop turned the high-resolution timer on.
  bool in_high_res_mode_ = false;
  // A cached "now" for delayed work: refreshed only when the earliest
  // delayed task looks early, so overdue tasks cost one clock read.
  TimeTicks recent_time_;
  ObserverList<DestructionObserverRecord> destruction_observers_;
  bool task_execution_allowed_ = true;
  MessagePumpFactoryCallback pump_factory_;
  const PendingTask* current_pending_task_ = nullptr;
  scoped_refptr<internal::IncomingTaskQueue> incoming_task_queue_;
  // Held until the loop is bound; the runner learns its thread then.
  scoped_refptr<internal::MessageLoopTaskRunner> unbound_task_runner_;
  scoped_refptr<SingleThreadTaskRunner> task_runner_;
  std::unique_ptr<ThreadTaskRunnerHandle> thread_task_runner_handle_;
  PlatformThreadId thread_id_ = kInvalidThreadId;

  DISALLOW_COPY_AND_ASSIGN(MessageLoop);
};

// A TYPE_UI loop.
class MessageLoopForUI : public MessageLoop {
 public:
  MessageLoopForUI() : MessageLoop(TYPE_UI) {}

  // The current thread's loop, which must be TYPE_UI.
  static MessageLoopForUI* current();
  static bool IsCurrent();
};

// A TYPE_IO loop, with access to its completion port.
class MessageLoopForIO : public MessageLoop {
 public:
  using IOHandler = MessagePumpForIO::IOHandler;
  using IOContext = MessagePumpForIO::IOContext;

  MessageLoopForIO() : MessageLoop(TYPE_IO) {}

  // The current thread's loop, which must be TYPE_IO.
  static MessageLoopForIO* current();
  static bool IsCurrent();

  bool RegisterIOHandler(HANDLE file_handle, IOHandler* handler);
  bool WaitForIOCompletion(DWORD timeout, IOHandler* filter);

 private:
  MessagePumpForIO* io_pump() const;
};

static_assert(sizeof(MessageLoopForUI) == sizeof(MessageLoop),
              "a UI loop is only a view of a MessageLoop");
static_assert(sizeof(MessageLoopForIO) == sizeof(MessageLoop),
              "an I/O loop is only a view of a MessageLoop");

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
