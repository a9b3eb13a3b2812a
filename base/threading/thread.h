#ifndef BASE_THREADING_THREAD_H_
#define BASE_THREADING_THREAD_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/message_loop/message_loop.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"

namespace base {

class MessagePump;
class RunLoop;

// A named thread with its own MessageLoop, which runs until the thread is
// stopped. Other threads reach it only through task_runner(). Start and
// Stop are called by the thread that owns the object.
//
//   Thread thread("Worker");
//   thread.Start();
//   thread.task_runner()->PostTask(FROM_HERE, BindOnce(&DoWork));
//   thread.Stop();  // Runs DoWork first (it is ready), then joins.
class Thread : PlatformThread::Delegate {
 public:
  enum class ComStatus : int32_t {
    NONE = 0,
    STA = 1,
    MTA = 2,
  };

  struct Options {
    using MessagePumpFactory = MessageLoop::MessagePumpFactoryCallback;

    Options();
    Options(MessageLoop::Type type, size_t size);
    Options(Options&& other);
    Options& operator=(Options&& other);
    // Destroys the pump factory.
    ~Options();

    MessageLoop::Type message_loop_type = MessageLoop::TYPE_DEFAULT;
    // Passed on to the pump, which ignores it.
    int32_t timer_slack = 0;
    // When set, the loop is TYPE_CUSTOM with the pump this makes, whatever
    // |message_loop_type| says.
    MessagePumpFactory message_pump_factory;
    // 0 takes the platform's default.
    size_t stack_size = 0;
    ThreadPriority priority = ThreadPriority::NORMAL;
    // A non-joinable thread is only asked to stop; nobody waits for it.
    bool joinable = true;
  };

  explicit Thread(const std::string& name);
  // Stops the thread (see Stop) and, for a non-joinable thread too, waits
  // until the thread is done with this object. A subclass that overrides
  // CleanUp must call Stop in its own destructor, while its overrides still
  // exist.
  ~Thread() override;

  // Must be called before Start. STA threads get a UI loop from Start.
  void init_com_with_mta(bool use_mta) {
    com_status_ = use_mta ? ComStatus::MTA : ComStatus::STA;
  }

  // Starts with default options (a TYPE_UI loop for a COM STA thread).
  // Returns false when the thread could not be made.
  bool Start();

  // The loop exists, and accepts posts, as soon as this returns true; the
  // thread runs it once it has started.
  bool StartWithOptions(Options options);

  // Also waits until the thread runs its loop.
  bool StartAndWaitForTesting();

  // Waits until the thread runs its loop. False when it was never started.
  bool WaitUntilThreadStarted() const;

  // Lets the thread run every task that is ready, then ends it and waits
  // for it (joinable threads). Delayed tasks not yet due are destroyed with
  // the loop. Does nothing for a thread that was never started. Must not be
  // called on the thread itself.
  void Stop();

  // Asks the thread to stop once its ready tasks have run, without waiting.
  void StopSoon();

  // Null before Start and once the thread has let go of its loop (at the
  // latest after Stop). Safe on any thread, also while the thread ends.
  scoped_refptr<SingleThreadTaskRunner> task_runner() const;

  // The loop, for the owning thread only, and only between Start and Stop.
  MessageLoop* message_loop() const;

  const std::string& thread_name() const { return name_; }

  // Waits until the thread has its id.
  PlatformThreadId GetThreadId() const;

  // Whether the thread is running its loop.
  bool IsRunning() const;

 protected:
  // Called on the thread, after it is named and before its loop is bound.
  virtual void BeforeBind() {}

  // Called on the thread once its loop is bound and COM is initialised,
  // before the loop runs.
  virtual void Init() {}

  // Runs the thread's loop; the default calls run_loop->Run().
  virtual void Run(RunLoop* run_loop);

  // Called on the thread after its loop stopped, before COM is uninitialised
  // and the loop destroyed.
  virtual void CleanUp() {}

 private:
  // PlatformThread::Delegate:
  void ThreadMain() override;

  // Runs on the thread as the last task it takes.
  void ThreadQuitHelper();

  ComStatus com_status_ = ComStatus::NONE;
  bool joinable_ = true;

  // Guards |message_loop_| and |stopping_|. The thread clears the pointer
  // under it before it destroys the loop, so a reader holding it may use the
  // loop.
  mutable Lock message_loop_lock_;
  // Set by StopSoon until the thread is joined.
  bool stopping_ = false;

  mutable Lock running_lock_;
  bool running_ = false;  // Guarded by |running_lock_|.

  Lock thread_lock_;
  PlatformThreadHandle thread_;  // Guarded by |thread_lock_|.

  PlatformThreadId id_ = kInvalidThreadId;
  // Signalled once |id_| is valid.
  mutable WaitableEvent id_event_;

  // Made by the owning thread, owned by the new thread while it runs.
  // Guarded by |message_loop_lock_|.
  MessageLoop* message_loop_ = nullptr;
  RunLoop* run_loop_ = nullptr;
  int32_t message_loop_timer_slack_ = 0;

  const std::string name_;

  // Signalled when the thread is about to run its loop.
  mutable WaitableEvent start_event_;

  // Unsignalled while a started thread may still touch this object; the
  // destructor waits for it, which is what keeps a non-joinable thread's
  // object alive long enough.
  WaitableEvent thread_done_event_{WaitableEvent::ResetPolicy::MANUAL,
                                   WaitableEvent::InitialState::SIGNALED};

  DISALLOW_COPY_AND_ASSIGN(Thread);
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_H_
