#include "base/metrics/field_trial.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/metrics/field_trial_param_associator.h"
#include "base/metrics/field_trial_params.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/test_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class RecordingObserver : public FieldTrialList::Observer {
 public:
  struct Call {
    std::string trial_name;
    std::string group_name;
    // What the thread said it was delivering while the call ran.
    std::string current_trial_name;
  };

  void OnFieldTrialGroupFinalized(const std::string& trial_name,
                                  const std::string& group_name) override {
    const FieldTrialList::Notification* current =
        FieldTrialList::GetCurrentNotification();
    calls.push_back(
        {trial_name, group_name, current ? current->trial_name : "<none>"});
  }

  std::vector<Call> calls;
};

class FieldTrialTest : public testing::Test {
 protected:
  void TearDown() override {
    FieldTrialParamAssociator::GetInstance()->ClearAllParamsForTesting();
  }
};

// The installer's own situation: no list is ever made.
TEST_F(FieldTrialTest, WithoutAListEverythingAnswersNothing) {
  ASSERT_FALSE(FieldTrialList::IsSet());
  EXPECT_EQ(
      "", GetFieldTrialParamValue("BrowserScheduler", "AllTasksUserBlocking"));
  EXPECT_EQ(nullptr, FieldTrialList::Find("BrowserScheduler"));
  FieldTrial::Params params;
  EXPECT_FALSE(FieldTrialParamAssociator::GetInstance()->GetFieldTrialParams(
      "BrowserScheduler", &params));
  RecordingObserver observer;
  EXPECT_FALSE(FieldTrialList::AddObserver(&observer));
  // Looking up made no list.
  EXPECT_FALSE(FieldTrialList::IsSet());

  // A trial made without a list works but is registered and reported
  // nowhere.
  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("Lonely", 100, "Solo");
  EXPECT_EQ("Solo", trial->group_name());
  EXPECT_FALSE(trial->group_reported_for_testing());
  EXPECT_EQ(nullptr, FieldTrialList::Find("Lonely"));
}

TEST_F(FieldTrialTest, GroupIsTheDefaultOneAndAnEmptyNameBecomesZero) {
  FieldTrialList list;
  scoped_refptr<FieldTrial> named =
      FieldTrialList::FactoryGetFieldTrial("Named", 100, "Control");
  scoped_refptr<FieldTrial> unnamed =
      FieldTrialList::FactoryGetFieldTrial("Unnamed", 100, "");
  EXPECT_EQ(FieldTrial::kDefaultGroupNumber,
            named->group_number_for_testing());
  // Finalizing alone does not report the choice.
  EXPECT_FALSE(named->group_reported_for_testing());
  EXPECT_EQ("Control", named->group_name());
  EXPECT_EQ("0", unnamed->group_name());
  EXPECT_TRUE(unnamed->group_reported_for_testing());

  // One trial per name.
  EXPECT_EQ(named.get(),
            FieldTrialList::FactoryGetFieldTrial("Named", 50, "Other").get());
  EXPECT_EQ(named.get(), FieldTrialList::Find("Named"));
  EXPECT_EQ(nullptr, FieldTrialList::Find("named"));
}

TEST_F(FieldTrialTest, ParameterLookupFollowsTheChosenGroup) {
  FieldTrialList list;
  FieldTrialParamAssociator* associator =
      FieldTrialParamAssociator::GetInstance();
  ASSERT_TRUE(associator->AssociateFieldTrialParams(
      "BrowserScheduler", "Group", {{"AllTasksUserBlocking", "true"}}));
  // Parameters of a group the trial does not choose are never seen.
  ASSERT_TRUE(associator->AssociateFieldTrialParams(
      "BrowserScheduler", "Other", {{"AllTasksUserBlocking", "false"}}));
  // A published group keeps its parameters.
  EXPECT_FALSE(associator->AssociateFieldTrialParams(
      "BrowserScheduler", "Group", {{"AllTasksUserBlocking", "no"}}));

  // Parameters alone do not make a trial.
  EXPECT_EQ(
      "", GetFieldTrialParamValue("BrowserScheduler", "AllTasksUserBlocking"));

  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("BrowserScheduler", 100, "Group");
  EXPECT_FALSE(trial->group_reported_for_testing());
  EXPECT_EQ("true", GetFieldTrialParamValue("BrowserScheduler",
                                            "AllTasksUserBlocking"));
  EXPECT_TRUE(trial->group_reported_for_testing());
  EXPECT_EQ("", GetFieldTrialParamValue("BrowserScheduler", "Unknown"));
  EXPECT_EQ("", GetFieldTrialParamValue("browserscheduler",
                                        "AllTasksUserBlocking"));

  FieldTrial::Params params{{"stale", "entry"}};
  EXPECT_TRUE(associator->GetFieldTrialParamsWithoutFallback(
      "BrowserScheduler", "Other", &params));
  EXPECT_EQ((FieldTrial::Params{{"AllTasksUserBlocking", "false"}}), params);
  EXPECT_FALSE(associator->GetFieldTrialParamsWithoutFallback(
      "BrowserScheduler", "Missing", &params));

  // A trial without parameters has none, from memory or elsewhere.
  FieldTrialList::FactoryGetFieldTrial("Bare", 100, "Group");
  EXPECT_FALSE(associator->GetFieldTrialParams("Bare", &params));
  EXPECT_EQ("", GetFieldTrialParamValue("Bare", "AllTasksUserBlocking"));
}

TEST_F(FieldTrialTest, ObserversHearEachChoiceOnceOnTheirOwnSequence) {
  FieldTrialList list;
  scoped_refptr<TestTaskRunner> runner = MakeRefCounted<TestTaskRunner>();
  SequencedTaskRunnerHandle handle(runner);
  RecordingObserver observer;
  ASSERT_TRUE(FieldTrialList::AddObserver(&observer));

  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("Trial", 100, "Group");
  trial->group_name();
  trial->group_name();
  FieldTrialList::NotifyFieldTrialGroupSelection(trial.get());
  // Posted, never called inline.
  EXPECT_TRUE(observer.calls.empty());
  ASSERT_EQ(1u, runner->pending_count());
  EXPECT_STREQ("NotifyFieldTrialGroupSelection",
               runner->posts()[0].from_here.function_name());
  runner->RunUntilIdle();
  ASSERT_EQ(1u, observer.calls.size());
  EXPECT_EQ("Trial", observer.calls[0].trial_name);
  EXPECT_EQ("Group", observer.calls[0].group_name);
  EXPECT_EQ("Trial", observer.calls[0].current_trial_name);
  EXPECT_EQ(nullptr, FieldTrialList::GetCurrentNotification());

  // A disabled trial is marked reported but tells nobody.
  scoped_refptr<FieldTrial> disabled =
      FieldTrialList::FactoryGetFieldTrial("Disabled", 100, "Group");
  disabled->Disable();
  EXPECT_EQ("Group", disabled->group_name());
  EXPECT_TRUE(disabled->group_reported_for_testing());
  EXPECT_EQ(0u, runner->pending_count());

  // An observer removed after the post is not called.
  FieldTrialList::FactoryGetFieldTrial("Late", 100, "Group")->group_name();
  ASSERT_EQ(1u, runner->pending_count());
  FieldTrialList::RemoveObserver(&observer);
  runner->RunUntilIdle();
  EXPECT_EQ(1u, observer.calls.size());
}

class ParamAsker : public PlatformThread::Delegate {
 public:
  explicit ParamAsker(WaitableEvent* start) : start_(start) {}

  void ThreadMain() override {
    start_->Wait();
    for (int i = 0; i < kTrials; ++i)
      answers[i] = GetFieldTrialParamValue("Trial" + std::to_string(i), "key");
  }

  static constexpr int kTrials = 50;
  std::string answers[kTrials];

 private:
  WaitableEvent* const start_;
};

// Trials are reachable from every thread: the first lookups of a fresh trial
// racing each other all see the one chosen group, which is reported once.
TEST_F(FieldTrialTest, ConcurrentFirstLookupsAgree) {
  FieldTrialList list;
  scoped_refptr<TestTaskRunner> runner = MakeRefCounted<TestTaskRunner>();
  SequencedTaskRunnerHandle handle(runner);
  RecordingObserver observer;
  ASSERT_TRUE(FieldTrialList::AddObserver(&observer));
  for (int i = 0; i < ParamAsker::kTrials; ++i) {
    const std::string name = "Trial" + std::to_string(i);
    FieldTrialList::FactoryGetFieldTrial(name, 100, "Group");
    FieldTrialParamAssociator::GetInstance()->AssociateFieldTrialParams(
        name, "Group", {{"key", "value" + std::to_string(i)}});
  }

  WaitableEvent start;
  constexpr int kThreads = 8;
  std::vector<std::unique_ptr<ParamAsker>> askers;
  PlatformThreadHandle handles[kThreads];
  for (PlatformThreadHandle& thread : handles) {
    askers.push_back(std::make_unique<ParamAsker>(&start));
    ASSERT_TRUE(PlatformThread::Create(0, askers.back().get(), &thread));
  }
  start.Signal();
  for (PlatformThreadHandle& thread : handles)
    PlatformThread::Join(thread);

  for (const auto& asker : askers) {
    for (int i = 0; i < ParamAsker::kTrials; ++i)
      EXPECT_EQ("value" + std::to_string(i), asker->answers[i]);
  }
  runner->RunUntilIdle();
  EXPECT_EQ(static_cast<size_t>(ParamAsker::kTrials), observer.calls.size());
  FieldTrialList::RemoveObserver(&observer);
}

}  // namespace
}  // namespace base
