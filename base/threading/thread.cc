#include "base/threading/thread.h"

#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/message_loop/message_pump.h"
#include "base/run_loop.h"
#include "base/win/scoped_com_initializer.h"

namespace base {

Thread::Options::Options() = default;

Thread::Options::Options(MessageLoop::Type type, size_t size)
    : message_loop_type(type), stack_size(size) {}

Thread::Options::Options(Options&& other) = default;

Thread::Options& Thread::Options::operator=(Options&& other) = default;

Thread::Options::~Options() = default;

Thread::Thread(const std::string& name) : name_(name) {}

Thread::~Thread() {
  Stop();
  // Joined threads have signalled it already; a non-joinable one may still
  // be finishing its last tasks, its CleanUp and its loop's destruction.
  thread_done_event_.Wait();
}

bool Thread::Start() {
  Options options;
  if (com_status_ == ComStatus::STA)
    options.message_loop_type = MessageLoop::TYPE_UI;
  return StartWithOptions(std::move(options));
}

bool Thread::StartWithOptions(Options options) {
  DCHECK(!message_loop());
  // A non-joinable thread from an earlier start must be done with us.
  thread_done_event_.Wait();

  id_event_.Reset();
  id_ = kInvalidThreadId;

  MessageLoop::Type type = options.message_loop_type;
  if (!options.message_pump_factory.is_null())
    type = MessageLoop::TYPE_CUSTOM;

  message_loop_timer_slack_ = options.timer_slack;
  std::unique_ptr<MessageLoop> message_loop =
      MessageLoop::CreateUnbound(type, std::move(options.message_pump_factory));
  {
    AutoLock lock(message_loop_lock_);
    message_loop_ = message_loop.get();
    // A non-joinable thread is never joined, so nothing cleared it before.
    stopping_ = false;
  }
  start_event_.Reset();
  thread_done_event_.Reset();

  {
    AutoLock lock(thread_lock_);
    bool created =
        options.joinable
            ? PlatformThread::CreateWithPriority(options.stack_size, this,
                                                 &thread_, options.priority)
            : PlatformThread::CreateNonJoinableWithPriority(
                  options.stack_size, this, options.priority);
    if (!created) {
      {
        AutoLock loop_lock(message_loop_lock_);
        message_loop_ = nullptr;
      }
      thread_done_event_.Signal();
      return false;  // |message_loop| is deleted on the way out.
    }
  }

  joinable_ = options.joinable;
  // The new thread owns the loop from here on and deletes it when it ends.
  message_loop.release();
  return true;
}

bool Thread::StartAndWaitForTesting() {
  if (!Start())
    return false;
  WaitUntilThreadStarted();
  return true;
}

bool Thread::WaitUntilThreadStarted() const {
  if (!message_loop())
    return false;
  start_event_.Wait();
  return true;
}

void Thread::Stop() {
  AutoLock lock(thread_lock_);
  StopSoon();
  // A non-joinable thread has no handle and is only asked to stop.
  if (thread_.is_null())
    return;
  PlatformThread::Join(thread_);
  thread_ = PlatformThreadHandle();
  AutoLock loop_lock(message_loop_lock_);
  DCHECK(!message_loop_);
  stopping_ = false;
}

void Thread::StopSoon() {
  // Under the lock the thread cannot destroy the loop while we post to it.
  AutoLock lock(message_loop_lock_);
  if (stopping_ || !message_loop_)
    return;
  stopping_ = true;
  message_loop_->task_runner()->PostTask(
      FROM_HERE, BindOnce(&Thread::ThreadQuitHelper, Unretained(this)));
}

scoped_refptr<SingleThreadTaskRunner> Thread::task_runner() const {
  AutoLock lock(message_loop_lock_);
  return message_loop_ ? message_loop_->task_runner() : nullptr;
}

MessageLoop* Thread::message_loop() const {
  AutoLock lock(message_loop_lock_);
  return message_loop_;
}

PlatformThreadId Thread::GetThreadId() const {
  id_event_.Wait();
  return id_;
}

bool Thread::IsRunning() const {
  // While stopping, the loop may still exist; the running flag tells.
  {
    AutoLock lock(message_loop_lock_);
    if (message_loop_ && !stopping_)
      return true;
  }
  AutoLock lock(running_lock_);
  return running_;
}

void Thread::Run(RunLoop* run_loop) {
  run_loop->Run();
}

void Thread::ThreadQuitHelper() {
  DCHECK(run_loop_);
  run_loop_->QuitWhenIdle();
}

void Thread::ThreadMain() {
  id_ = PlatformThread::CurrentId();
  DCHECK_NE(kInvalidThreadId, id_);
  id_event_.Signal();

  PlatformThread::SetName(name_);
  BeforeBind();

  std::unique_ptr<MessageLoop> message_loop(this->message_loop());
  message_loop->BindToCurrentThread();
  message_loop->SetTimerSlack(message_loop_timer_slack_);

  std::unique_ptr<win::ScopedCOMInitializer> com_initializer;
  if (com_status_ != ComStatus::NONE) {
    com_initializer.reset(
        com_status_ == ComStatus::STA
            ? new win::ScopedCOMInitializer()
            : new win::ScopedCOMInitializer(win::ScopedCOMInitializer::kMTA));
  }

  Init();

  {
    AutoLock lock(running_lock_);
    running_ = true;
  }

  start_event_.Signal();

  std::unique_ptr<RunLoop> run_loop(new RunLoop());
  run_loop_ = run_loop.get();
  Run(run_loop_);

  {
    AutoLock lock(running_lock_);
    running_ = false;
  }

  CleanUp();

  com_initializer.reset();

  {
    // From here on no other thread reaches the loop through us.
    AutoLock lock(message_loop_lock_);
    message_loop_ = nullptr;
  }
  run_loop_ = nullptr;
  run_loop.reset();
  // Runs the loop's destruction on this thread.
  message_loop.reset();

  // The last touch of this object: its owner may free it once this is
  // signalled.
  thread_done_event_.Signal();
}

}  // namespace base
