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
}

bool Thread::Start() {
  Options options;
  if (com_status_ == ComStatus::STA)
    options.message_loop_type = MessageLoop::TYPE_UI;
  return StartWithOptions(std::move(options));
}

bool Thread::StartWithOptions(Options options) {
  DCHECK(!message_loop_);

  id_event_.Reset();
  id_ = kInvalidThreadId;

  MessageLoop::Type type = options.message_loop_type;
  if (!options.message_pump_factory.is_null())
    type = MessageLoop::TYPE_CUSTOM;

  message_loop_timer_slack_ = options.timer_slack;
  std::unique_ptr<MessageLoop> message_loop = MessageLoop::CreateUnbound(
      type, std::move(options.message_pump_factory));
  message_loop_ = message_loop.get();
  start_event_.Reset();

  {
    AutoLock lock(thread_lock_);
    bool created =
        options.joinable
            ? PlatformThread::CreateWithPriority(options.stack_size, this,
                                                &thread_, options.priority)
            : PlatformThread::CreateNonJoinableWithPriority(
                  options.stack_size, this, options.priority);
    if (!created) {
      message_loop_ = nullptr;
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
  if (!message_loop_)
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
  DCHECK(!message_loop_);
  stopping_ = false;
}

void Thread::StopSoon() {
  if (stopping_ || !message_loop_)
    return;
  stopping_ = true;
  message_loop_->task_runner()->PostTask(
      FROM_HERE, BindOnce(&Thread::ThreadQuitHelper, Unretained(this)));
}

PlatformThreadId Thread::GetThreadId() const {
  id_event_.Wait();
  return id_;
}

bool Thread::IsRunning() const {
  // While stopping, the loop may still exist; the running flag tells.
  if (message_loop_ && !stopping_)
    return true;
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

  std::unique_ptr<MessageLoop> message_loop(message_loop_);
  message_loop_->BindToCurrentThread();
  message_loop_->SetTimerSlack(message_loop_timer_slack_);

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

  message_loop_ = nullptr;
  run_loop_ = nullptr;
  run_loop.reset();
  // Runs the loop's destruction on this thread.
  message_loop.reset();
}

}  // namespace base
