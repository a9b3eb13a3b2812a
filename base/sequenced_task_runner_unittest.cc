#include "base/sequenced_task_runner.h"

#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/single_thread_task_runner.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Queues tasks for the test to run by hand; refuses them when told to, and
// reports its own last release.
class FakeRunner : public SingleThreadTaskRunner {
 public:
  struct Posted {
    Location from_here;
    OnceClosure task;
    TimeDelta delay;
    bool nestable;
  };

  explicit FakeRunner(bool* destructed) : destructed_(destructed) {}

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override {
    return Queue(from_here, std::move(task), delay, true);
  }

  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure task,
                                  TimeDelta delay) override {
    return Queue(from_here, std::move(task), delay, false);
  }

  bool RunsTasksInCurrentSequence() const override { return true; }

  void RunAll() {
    std::vector<Posted> posted = std::move(posted_);
    posted_.clear();
    for (Posted& p : posted)
      std::move(p.task).Run();
  }

  bool accept = true;
  std::vector<Posted>& posted() { return posted_; }

 private:
  ~FakeRunner() override = default;

  void OnDestruct() const override {
    *destructed_ = true;
    delete this;
  }

  bool Queue(const Location& from_here,
             OnceClosure task,
             TimeDelta delay,
             bool nestable) {
    if (!accept)
      return false;  // |task| dies here, unrun.
    posted_.push_back({from_here, std::move(task), delay, nestable});
    return true;
  }

  bool* destructed_;
  std::vector<Posted> posted_;
};

class Victim {
 public:
  explicit Victim(int* deleted) : deleted_(deleted) {}
  ~Victim() { ++*deleted_; }

 private:
  int* deleted_;
};

class SharedVictim : public RefCountedThreadSafe<SharedVictim> {
 public:
  explicit SharedVictim(int* deleted) : deleted_(deleted) {}

 private:
  friend class RefCountedThreadSafe<SharedVictim>;
  ~SharedVictim() { ++*deleted_; }
  int* deleted_;
};

void Increment(int* value) {
  ++*value;
}

TEST(SequencedTaskRunnerTest, PostFormsUseZeroDelayAndTheRightQueue) {
  bool destructed = false;
  scoped_refptr<FakeRunner> runner = new FakeRunner(&destructed);
  int runs = 0;
  const int line = __LINE__ + 1;
  EXPECT_TRUE(runner->PostTask(FROM_HERE, BindOnce(&Increment, &runs)));
  EXPECT_TRUE(
      runner->PostNonNestableTask(FROM_HERE, BindOnce(&Increment, &runs)));
  EXPECT_TRUE(runner->PostDelayedTask(FROM_HERE, BindOnce(&Increment, &runs),
                                      TimeDelta::FromMilliseconds(5)));
  ASSERT_EQ(3u, runner->posted().size());
  EXPECT_EQ(line, runner->posted()[0].from_here.line_number());
  EXPECT_TRUE(runner->posted()[0].delay.is_zero());
  EXPECT_TRUE(runner->posted()[0].nestable);
  EXPECT_TRUE(runner->posted()[1].delay.is_zero());
  EXPECT_FALSE(runner->posted()[1].nestable);
  EXPECT_EQ(5, runner->posted()[2].delay.InMilliseconds());
  runner->RunAll();
  EXPECT_EQ(3, runs);
  EXPECT_TRUE(runner->BelongsToCurrentThread());

  runner->accept = false;
  EXPECT_FALSE(runner->PostTask(FROM_HERE, BindOnce(&Increment, &runs)));
}

TEST(SequencedTaskRunnerTest, DeleteSoonDeletesOnlyWhenTheTaskRuns) {
  bool destructed = false;
  scoped_refptr<FakeRunner> runner = new FakeRunner(&destructed);
  int deleted = 0;
  Victim* victim = new Victim(&deleted);
  EXPECT_TRUE(runner->DeleteSoon(FROM_HERE, victim));
  ASSERT_EQ(1u, runner->posted().size());
  EXPECT_FALSE(runner->posted()[0].nestable);
  EXPECT_EQ(0, deleted);
  runner->RunAll();
  EXPECT_EQ(1, deleted);

  // A refused deletion leaves the object alone.
  runner->accept = false;
  Victim* kept = new Victim(&deleted);
  EXPECT_FALSE(runner->DeleteSoon(FROM_HERE, kept));
  EXPECT_EQ(1, deleted);
  delete kept;

  runner->accept = true;
  EXPECT_TRUE(
      runner->DeleteSoon(FROM_HERE, std::make_unique<Victim>(&deleted)));
  // Dropping the task unrun does not delete either.
  runner->posted().clear();
  EXPECT_EQ(2, deleted);
}

TEST(SequencedTaskRunnerTest, ReleaseSoonDropsOneReference) {
  bool destructed = false;
  scoped_refptr<FakeRunner> runner = new FakeRunner(&destructed);
  int deleted = 0;
  scoped_refptr<SharedVictim> shared = MakeRefCounted<SharedVictim>(&deleted);
  shared->AddRef();  // The reference handed to ReleaseSoon.
  EXPECT_TRUE(runner->ReleaseSoon(FROM_HERE, shared.get()));
  EXPECT_FALSE(shared->HasOneRef());
  runner->RunAll();
  EXPECT_TRUE(shared->HasOneRef());
  shared = nullptr;
  EXPECT_EQ(1, deleted);
}

TEST(SequencedTaskRunnerTest, LastReleaseCallsOnDestruct) {
  bool destructed = false;
  FakeRunner* raw = new FakeRunner(&destructed);
  EXPECT_FALSE(raw->HasAtLeastOneRef());
  scoped_refptr<TaskRunner> first(raw);
  scoped_refptr<SequencedTaskRunner> second(raw);
  EXPECT_FALSE(raw->HasOneRef());
  first = nullptr;
  EXPECT_FALSE(destructed);
  second = nullptr;
  EXPECT_TRUE(destructed);
}

}  // namespace
}  // namespace base
