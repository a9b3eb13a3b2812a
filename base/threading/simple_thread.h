#ifndef BASE_THREADING_SIMPLE_THREAD_H_
#define BASE_THREADING_SIMPLE_THREAD_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"

namespace base {

// A named thread that runs the subclass's Run:
//
//   class Worker : public SimpleThread {
//    public:
//     Worker() : SimpleThread("Worker") {}
//     void Run() override { ... }
//   };
//   Worker worker;
//   worker.Start();  // Named "Worker/<thread id>" once this returns.
//   worker.Join();
//
// The object must outlive its thread; the destructor neither stops nor
// joins it.
class SimpleThread : public PlatformThread::Delegate {
 public:
  struct Options {
    Options() = default;
    explicit Options(ThreadPriority priority) : priority(priority) {}

    // 0 takes the default stack.
    uint64_t stack_size = 0;
    ThreadPriority priority = ThreadPriority::NORMAL;
    // A non-joinable thread's handle is closed at once; it must not be
    // joined.
    bool joinable = true;
  };

  explicit SimpleThread(const std::string& name_prefix);
  SimpleThread(const std::string& name_prefix, const Options& options);
  ~SimpleThread() override;

  SimpleThread(const SimpleThread&) = delete;
  SimpleThread& operator=(const SimpleThread&) = delete;

  // PlatformThread::Delegate: on the new thread.
  void ThreadMain() override;

  // Starts the thread and returns once it has taken its id and name. When
  // the system cannot make a thread it returns at once, without one:
  // HasBeenStarted() then stays false.
  virtual void Start();

  // Waits for Run to return. Only for a joinable thread that was started;
  // after a failed start it returns at once.
  virtual void Join();

  // The thread's work.
  virtual void Run() = 0;

  // The thread's kernel id, 0 until it runs. Read after Start returned.
  PlatformThreadId tid() const { return tid_; }

  const std::string& name_prefix() const { return name_prefix_; }

  bool HasBeenStarted() { return event_.IsSignaled(); }
  bool HasBeenJoined() const { return joined_; }

 private:
  const std::string name_prefix_;
  const Options options_;
  PlatformThreadHandle thread_;
  WaitableEvent event_;
  PlatformThreadId tid_ = kInvalidThreadId;
  bool joined_ = false;
  bool start_called_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_SIMPLE_THREAD_H_
