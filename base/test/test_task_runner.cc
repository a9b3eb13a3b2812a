#include "base/test/test_task_runner.h"

#include <utility>

#include "gtest/gtest.h"

namespace base {

constexpr int TestTaskRunner::kWaitForPostSeconds;

TestTaskRunner::TestTaskRunner()
    : now_(TimeTicks::FromInternalValue(1000000)) {}

TestTaskRunner::~TestTaskRunner() = default;

bool TestTaskRunner::PostDelayedTask(const Location& from_here,
                                     OnceClosure task,
                                     TimeDelta delay) {
  {
    AutoLock lock(lock_);
    if (refuse_tasks_)
      return false;
    posts_.push_back(
        {from_here, delay, now_ + delay, PlatformThread::CurrentId()});
    pending_.push_back({now_ + delay, next_sequence_++, std::move(task)});
  }
  posted_.Signal();
  return true;
}

bool TestTaskRunner::PostNonNestableDelayedTask(const Location& from_here,
                                                OnceClosure task,
                                                TimeDelta delay) {
  return PostDelayedTask(from_here, std::move(task), delay);
}

bool TestTaskRunner::RunsTasksInCurrentSequence() const {
  AutoLock lock(lock_);
  return runs_tasks_in_current_sequence_;
}

TimeTicks TestTaskRunner::NowTicks() const {
  AutoLock lock(lock_);
  return now_;
}

void TestTaskRunner::set_refuse_tasks(bool refuse) {
  AutoLock lock(lock_);
  refuse_tasks_ = refuse;
}

void TestTaskRunner::set_runs_tasks_in_current_sequence(bool runs) {
  AutoLock lock(lock_);
  runs_tasks_in_current_sequence_ = runs;
}

std::vector<TestTaskRunner::Post> TestTaskRunner::posts() const {
  AutoLock lock(lock_);
  return posts_;
}

size_t TestTaskRunner::pending_count() const {
  AutoLock lock(lock_);
  return pending_.size();
}

bool TestTaskRunner::WaitForPost() {
  if (posted_.TimedWait(TimeDelta::FromSeconds(kWaitForPostSeconds)))
    return true;
  ADD_FAILURE() << "TestTaskRunner: no task was posted within "
                << kWaitForPostSeconds << " s";
  return false;
}

void TestTaskRunner::AdvanceClock(TimeDelta delta) {
  AutoLock lock(lock_);
  now_ += delta;
}

bool TestTaskRunner::TakeNextDue(TimeTicks limit,
                                 OnceClosure* task,
                                 TimeTicks* due) {
  AutoLock lock(lock_);
  auto next = pending_.end();
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->due > limit)
      continue;
    if (next == pending_.end() || it->due < next->due ||
        (it->due == next->due && it->sequence < next->sequence)) {
      next = it;
    }
  }
  if (next == pending_.end())
    return false;
  *task = std::move(next->task);
  *due = next->due;
  pending_.erase(next);
  return true;
}

void TestTaskRunner::RunDueTasks() {
  OnceClosure task;
  TimeTicks due;
  while (TakeNextDue(NowTicks(), &task, &due))
    std::move(task).Run();
}

void TestTaskRunner::FastForwardBy(TimeDelta delta) {
  const TimeTicks end = NowTicks() + delta;
  OnceClosure task;
  TimeTicks due;
  while (TakeNextDue(end, &task, &due)) {
    {
      AutoLock lock(lock_);
      if (due > now_)
        now_ = due;
    }
    std::move(task).Run();
  }
  AutoLock lock(lock_);
  now_ = end;
}

size_t TestTaskRunner::RunPending() {
  std::vector<Pending> tasks;
  {
    AutoLock lock(lock_);
    tasks.swap(pending_);
  }
  for (Pending& pending : tasks)
    std::move(pending.task).Run();
  return tasks.size();
}

void TestTaskRunner::ClearPendingTasks() {
  std::vector<Pending> tasks;
  {
    AutoLock lock(lock_);
    tasks.swap(pending_);
  }
  // The tasks are destroyed here, outside the lock: their bound state may
  // post again.
}

}  // namespace base
