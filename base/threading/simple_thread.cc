#include "base/threading/simple_thread.h"

#include "base/check.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"

namespace base {

SimpleThread::SimpleThread(const std::string& name_prefix)
    : SimpleThread(name_prefix, Options()) {}

SimpleThread::SimpleThread(const std::string& name_prefix,
                           const Options& options)
    : name_prefix_(name_prefix),
      options_(options),
      event_(WaitableEvent::ResetPolicy::MANUAL,
             WaitableEvent::InitialState::NOT_SIGNALED) {}

SimpleThread::~SimpleThread() = default;

void SimpleThread::Start() {
  DCHECK(!start_called_);
  start_called_ = true;
  const size_t stack_size = static_cast<size_t>(options_.stack_size);
  bool created;
  if (options_.joinable) {
    created = PlatformThread::CreateWithPriority(stack_size, this, &thread_,
                                                 options_.priority);
  } else {
    created = PlatformThread::CreateNonJoinableWithPriority(stack_size, this,
                                                            options_.priority);
  }
  // No thread would ever signal the event.
  if (!created) {
    LOG(ERROR) << "Could not start a thread for " << name_prefix_;
    return;
  }
  event_.Wait();
}

void SimpleThread::Join() {
  DCHECK(options_.joinable);
  DCHECK(start_called_);
  DCHECK(!joined_);
  if (!thread_.is_null())
    PlatformThread::Join(thread_);
  thread_ = PlatformThreadHandle();
  joined_ = true;
}

void SimpleThread::ThreadMain() {
  tid_ = PlatformThread::CurrentId();
  PlatformThread::SetName(name_prefix_ + "/" +
                          IntToString(static_cast<int>(tid_)));
  // From here on Start may return and the starter may read tid_.
  event_.Signal();
  Run();
}

}  // namespace base
