#include "base/task_scheduler/scheduler_single_thread_task_runner_manager.h"

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/delayed_task_manager.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/task_scheduler/task_traits.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {
namespace {

struct ThreadInfo {
  PlatformThreadId id = kInvalidThreadId;
  std::string name;
  HANDLE handle = nullptr;
};

void RecordThreadInfo(ThreadInfo* info, WaitableEvent* done) {
  info->id = PlatformThread::CurrentId();
  info->name = PlatformThread::GetName();
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                    ::GetCurrentProcess(), &info->handle, SYNCHRONIZE, FALSE,
                    0);
  done->Signal();
}

ThreadInfo GetThreadInfo(SingleThreadTaskRunner* runner) {
  ThreadInfo info;
  WaitableEvent done;
  EXPECT_TRUE(
      runner->PostTask(FROM_HERE, BindOnce(&RecordThreadInfo, &info, &done)));
  done.Wait();
  return info;
}

class SchedulerSingleThreadTaskRunnerManagerTest : public testing::Test {
 protected:
  SchedulerSingleThreadTaskRunnerManagerTest()
      : task_tracker_("SingleThreadTest"),
        service_thread_("SingleThreadTestService") {}

  void SetUp() override {
    ASSERT_TRUE(service_thread_.Start());
    delayed_task_manager_.Start(service_thread_.task_runner());
    manager_ = std::make_unique<SchedulerSingleThreadTaskRunnerManager>(
        &task_tracker_, &delayed_task_manager_);
  }

  void TearDown() override {
    service_thread_.Stop();
    manager_->Join();
    manager_.reset();
    for (HANDLE handle : handles_)
      ::CloseHandle(handle);
  }

  ThreadInfo Info(SingleThreadTaskRunner* runner) {
    ThreadInfo info = GetThreadInfo(runner);
    handles_.push_back(info.handle);
    return info;
  }

  TaskTracker task_tracker_;
  DelayedTaskManager delayed_task_manager_;
  Thread service_thread_;
  std::unique_ptr<SchedulerSingleThreadTaskRunnerManager> manager_;
  std::vector<HANDLE> handles_;
};

TEST_F(SchedulerSingleThreadTaskRunnerManagerTest,
       SharedRunnersShareOneThreadAndOneOrder) {
  manager_->Start();
  const TaskTraits traits =
      TaskTraits().WithPriority(TaskPriority::USER_BLOCKING);
  scoped_refptr<SingleThreadTaskRunner> first =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          traits, SingleThreadTaskRunnerThreadMode::SHARED);
  scoped_refptr<SingleThreadTaskRunner> second =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::SHARED);

  Lock lock;
  std::vector<int> order;
  auto record = [](Lock* lock, std::vector<int>* order, int value) {
    AutoLock auto_lock(*lock);
    order->push_back(value);
  };
  for (int i = 0; i < 10; ++i) {
    SingleThreadTaskRunner* runner = (i % 2) ? second.get() : first.get();
    runner->PostTask(FROM_HERE, BindOnce(record, &lock, &order, i));
  }
  const ThreadInfo first_info = Info(first.get());
  const ThreadInfo second_info = Info(second.get());
  EXPECT_EQ(first_info.id, second_info.id);
  EXPECT_EQ("TaskSchedulerSingleThreadSharedForeground0", first_info.name);
  AutoLock auto_lock(lock);
  ASSERT_EQ(10u, order.size());
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(i, order[i]);
}

TEST_F(SchedulerSingleThreadTaskRunnerManagerTest,
       DedicatedRunnerHasItsOwnThreadWhichEndsWithIt) {
  manager_->Start();
  scoped_refptr<SingleThreadTaskRunner> shared =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits().WithPriority(TaskPriority::BACKGROUND),
          SingleThreadTaskRunnerThreadMode::SHARED);
  scoped_refptr<SingleThreadTaskRunner> dedicated =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits().WithPriority(TaskPriority::BACKGROUND),
          SingleThreadTaskRunnerThreadMode::DEDICATED);
  const ThreadInfo shared_info = Info(shared.get());
  const ThreadInfo dedicated_info = Info(dedicated.get());
  EXPECT_NE(shared_info.id, dedicated_info.id);
  EXPECT_EQ("TaskSchedulerSingleThreadSharedBackground0", shared_info.name);
  EXPECT_EQ("TaskSchedulerSingleThreadBackground1", dedicated_info.name);
  EXPECT_EQ(2u, manager_->NumberOfWorkersForTesting());

  dedicated = nullptr;
  EXPECT_EQ(WAIT_OBJECT_0,
            ::WaitForSingleObject(dedicated_info.handle, INFINITE));
  EXPECT_EQ(1u, manager_->NumberOfWorkersForTesting());

  // A shared thread outlives its runners.
  shared = nullptr;
  scoped_refptr<SingleThreadTaskRunner> shared_again =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits().WithPriority(TaskPriority::BACKGROUND),
          SingleThreadTaskRunnerThreadMode::SHARED);
  EXPECT_EQ(shared_info.id, Info(shared_again.get()).id);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
            ::WaitForSingleObject(shared_info.handle, 0));
}

TEST_F(SchedulerSingleThreadTaskRunnerManagerTest,
       RunsTasksInCurrentSequenceAndThreadHandle) {
  scoped_refptr<SingleThreadTaskRunner> runner =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::DEDICATED);
  // No thread has entered yet.
  EXPECT_FALSE(runner->RunsTasksInCurrentSequence());
  bool runs_inside = false;
  bool handle_is_runner = false;
  WaitableEvent done;
  EXPECT_TRUE(runner->PostDelayedTask(
      FROM_HERE,
      BindOnce(
          [](SingleThreadTaskRunner* runner, bool* runs, bool* handle,
             WaitableEvent* done) {
            *runs = runner->RunsTasksInCurrentSequence();
            *handle = ThreadTaskRunnerHandle::IsSet() &&
                      ThreadTaskRunnerHandle::Get().get() == runner;
            done->Signal();
          },
          Unretained(runner.get()), &runs_inside, &handle_is_runner, &done),
      TimeDelta::FromMilliseconds(1)));
  // Posted, delayed, before Start: runs once the manager starts.
  manager_->Start();
  done.Wait();
  EXPECT_TRUE(runs_inside);
  EXPECT_TRUE(handle_is_runner);
  EXPECT_FALSE(runner->RunsTasksInCurrentSequence());
}

TEST_F(SchedulerSingleThreadTaskRunnerManagerTest,
       IdsCountPlainAndComWorkersTogether) {
  manager_->Start();
  scoped_refptr<SingleThreadTaskRunner> plain =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::DEDICATED);
  scoped_refptr<SingleThreadTaskRunner> com =
      manager_->CreateCOMSTATaskRunnerWithTraits(
          TaskTraits().MayBlock(), SingleThreadTaskRunnerThreadMode::SHARED);
  scoped_refptr<SingleThreadTaskRunner> plain_again =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits().WithBaseSyncPrimitives(),
          SingleThreadTaskRunnerThreadMode::DEDICATED);
  EXPECT_EQ("TaskSchedulerSingleThreadForeground0", Info(plain.get()).name);
  EXPECT_EQ("TaskSchedulerSingleThreadCOMSTASharedForegroundBlocking1",
            Info(com.get()).name);
  EXPECT_EQ("TaskSchedulerSingleThreadForegroundBlocking2",
            Info(plain_again.get()).name);
}

// Window procedure of the test's message window: records each message.
Lock g_messages_lock;
std::vector<std::string>* g_events = nullptr;
WaitableEvent* g_message_seen = nullptr;
constexpr UINT kTestMessage = WM_USER + 7;

LRESULT CALLBACK TestWindowProc(HWND window,
                                UINT message,
                                WPARAM wparam,
                                LPARAM lparam) {
  if (message == kTestMessage) {
    {
      AutoLock auto_lock(g_messages_lock);
      if (g_events)
        g_events->push_back("M" + std::to_string(wparam));
    }
    if (g_message_seen)
      g_message_seen->Signal();
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

HWND CreateTestWindow() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &TestWindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KavorSchedulerCOMTestWindow";
  ::RegisterClassExW(&window_class);
  return ::CreateWindowExW(0, L"KavorSchedulerCOMTestWindow", L"", 0, 0, 0, 0,
                           0, HWND_MESSAGE, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

TEST_F(SchedulerSingleThreadTaskRunnerManagerTest,
       ComRunnerDispatchesMessagesAndAlternatesWithTasks) {
  manager_->Start();
  scoped_refptr<SingleThreadTaskRunner> com =
      manager_->CreateCOMSTATaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::DEDICATED);

  HWND window = nullptr;
  HRESULT apartment_result = E_FAIL;
  WaitableEvent created;
  com->PostTask(
      FROM_HERE,
      BindOnce(
          [](HWND* window, HRESULT* apartment_result, WaitableEvent* created) {
            *window = CreateTestWindow();
            // Already in a single-threaded apartment: S_FALSE.
            *apartment_result =
                ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            if (SUCCEEDED(*apartment_result))
              ::CoUninitialize();
            created->Signal();
          },
          &window, &apartment_result, &created));
  created.Wait();
  ASSERT_TRUE(window);
  EXPECT_EQ(S_FALSE, apartment_result);

  // A message with no task queued is dispatched.
  WaitableEvent message_seen;
  g_message_seen = &message_seen;
  ASSERT_TRUE(::PostMessageW(window, kTestMessage, 0, 0));
  message_seen.Wait();
  g_message_seen = nullptr;

  // While a task runs, two messages and two tasks queue up; they come out
  // in turns, a message first since a task just ran.
  std::vector<std::string> events;
  {
    AutoLock auto_lock(g_messages_lock);
    g_events = &events;
  }
  WaitableEvent all_done;
  com->PostTask(
      FROM_HERE,
      BindOnce(
          [](HWND window, SingleThreadTaskRunner* runner,
             std::vector<std::string>* events, WaitableEvent* all_done) {
            auto record = [](std::vector<std::string>* events,
                             const char* name) {
              AutoLock auto_lock(g_messages_lock);
              events->push_back(name);
            };
            ::PostMessageW(window, kTestMessage, 1, 0);
            ::PostMessageW(window, kTestMessage, 2, 0);
            runner->PostTask(FROM_HERE, BindOnce(record, events, "T1"));
            runner->PostTask(FROM_HERE, BindOnce(record, events, "T2"));
            runner->PostTask(
                FROM_HERE, BindOnce([](WaitableEvent* done) { done->Signal(); },
                                    all_done));
          },
          window, Unretained(com.get()), &events, &all_done));
  all_done.Wait();
  {
    AutoLock auto_lock(g_messages_lock);
    g_events = nullptr;
    const std::vector<std::string> expected = {"M1", "T1", "M2", "T2"};
    EXPECT_EQ(expected, events);
  }

  WaitableEvent destroyed;
  com->PostTask(FROM_HERE, BindOnce(
                               [](HWND window, WaitableEvent* destroyed) {
                                 ::DestroyWindow(window);
                                 destroyed->Signal();
                               },
                               window, &destroyed));
  destroyed.Wait();
}

TEST_F(SchedulerSingleThreadTaskRunnerManagerTest,
       PostAfterManagerDestructionIsRefused) {
  manager_->Start();
  scoped_refptr<SingleThreadTaskRunner> runner =
      manager_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::SHARED);
  manager_->Join();
  manager_.reset();
  EXPECT_FALSE(runner->PostTask(FROM_HERE, BindOnce([] {})));
  EXPECT_FALSE(runner->RunsTasksInCurrentSequence());
  manager_ = std::make_unique<SchedulerSingleThreadTaskRunnerManager>(
      &task_tracker_, &delayed_task_manager_);
}

}  // namespace
}  // namespace internal
}  // namespace base
