#include "base/metrics/field_trial.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/metrics/field_trial_param_associator.h"
#include "base/metrics/field_trial_params.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/pickle.h"
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
  EXPECT_EQ(FieldTrial::kDefaultGroupNumber, named->group_number_for_testing());
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
  EXPECT_EQ(
      "", GetFieldTrialParamValue("browserscheduler", "AllTasksUserBlocking"));

  FieldTrial::Params params{{"stale", "entry"}};
  EXPECT_TRUE(associator->GetFieldTrialParamsWithoutFallback("BrowserScheduler",
                                                             "Other", &params));
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

constexpr uint32_t kEntryType = 0xABA17E15;

// The fixed head of a trial's shared-memory entry, as another process
// reads it.
struct EntryHead {
  uint32_t activated;
  uint32_t pickle_size;
};

EntryHead* EntryOf(FieldTrial* trial) {
  return reinterpret_cast<EntryHead*>(
      FieldTrialList::GetAllocator()->GetAsArray<char>(
          trial->shared_memory_ref_for_testing(), kEntryType,
          sizeof(EntryHead)));
}

class FieldTrialSharedMemoryTest : public FieldTrialTest {
 protected:
  void SetUp() override {
    list_ = std::make_unique<FieldTrialList>();
    FieldTrialList::InstallAllocator(
        std::make_unique<LocalPersistentMemoryAllocator>(64 << 10, 0, ""));
  }

  // Rewrites |trial|'s entry to hold |pickle|, which must fit its block.
  void RewriteEntry(FieldTrial* trial, const Pickle& pickle) {
    EntryHead* head = EntryOf(trial);
    ASSERT_NE(nullptr, head);
    ASSERT_LE(sizeof(EntryHead) + pickle.size(),
              FieldTrialList::GetAllocator()->GetAllocSize(
                  trial->shared_memory_ref_for_testing()));
    memcpy(head + 1, pickle.data(), pickle.size());
    head->pickle_size = static_cast<uint32_t>(pickle.size());
  }

  void TearDown() override {
    FieldTrialList::SetEntryCheckedHookForTesting(nullptr);
    FieldTrialTest::TearDown();
  }

  std::unique_ptr<FieldTrialList> list_;
};

TEST_F(FieldTrialSharedMemoryTest, EntryCarriesGroupAndParameters) {
  FieldTrialParamAssociator::GetInstance()->AssociateFieldTrialParams(
      "Trial", "Group", {{"b", "2"}, {"a", "1"}});
  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("Trial", 100, "Group");
  // Choosing the group publishes the entry, not yet activated.
  trial->group_number_for_testing();
  ASSERT_NE(0u, trial->shared_memory_ref_for_testing());
  EntryHead* head = EntryOf(trial.get());
  ASSERT_NE(nullptr, head);
  EXPECT_EQ(0u, head->activated);

  Pickle pickle(reinterpret_cast<const char*>(head + 1),
                static_cast<int>(head->pickle_size));
  PickleIterator iter(pickle);
  std::string fields[6];
  for (std::string& field : fields)
    ASSERT_TRUE(iter.ReadString(&field));
  EXPECT_TRUE(iter.ReachedEnd());
  // Parameters in key order.
  EXPECT_EQ((std::vector<std::string>{"Trial", "Group", "a", "1", "b", "2"}),
            std::vector<std::string>(std::begin(fields), std::end(fields)));

  // The entry is where another process would look for it.
  PersistentMemoryAllocator::Iterator entries(FieldTrialList::GetAllocator());
  EXPECT_EQ(trial->shared_memory_ref_for_testing(),
            entries.GetNextOfType(kEntryType));

  // Reporting activates it, once: a second report writes nothing.
  trial->group_name();
  EXPECT_EQ(1u, head->activated);
  head->activated = 0;
  trial->group_name();
  FieldTrialList::NotifyFieldTrialGroupSelection(trial.get());
  EXPECT_EQ(0u, head->activated);
}

TEST_F(FieldTrialSharedMemoryTest, ParametersAreReadBackFromTheEntry) {
  FieldTrialParamAssociator* associator =
      FieldTrialParamAssociator::GetInstance();
  // A long value leaves room in the block for the rewrites below.
  const std::string value(40, 'v');
  associator->AssociateFieldTrialParams("Trial", "Group", {{"key", value}});
  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("Trial", 100, "Group");
  trial->group_name();
  // What only the segment still knows is found there.
  associator->ClearAllParamsForTesting();
  EXPECT_EQ(value, GetFieldTrialParamValue("Trial", "key"));

  // A trailing empty key is padding; a key without its value is damage.
  Pickle padded;
  padded.WriteString("Trial");
  padded.WriteString("Group");
  padded.WriteString("key");
  padded.WriteString("other");
  padded.WriteString("");
  RewriteEntry(trial.get(), padded);
  FieldTrial::Params params;
  EXPECT_TRUE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));
  EXPECT_EQ((FieldTrial::Params{{"key", "other"}}), params);

  Pickle cut;
  cut.WriteString("Trial");
  cut.WriteString("Group");
  cut.WriteString("key");
  RewriteEntry(trial.get(), cut);
  EXPECT_FALSE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));

  Pickle nameless;
  nameless.WriteString("Trial");
  RewriteEntry(trial.get(), nameless);
  EXPECT_FALSE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));
}

TEST_F(FieldTrialSharedMemoryTest, OversizedPickleYieldsNoParameters) {
  FieldTrialParamAssociator::GetInstance()->AssociateFieldTrialParams(
      "Trial", "Group", {{"key", "value"}});
  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("Trial", 100, "Group");
  trial->group_name();
  EntryHead* head = EntryOf(trial.get());
  ASSERT_NE(nullptr, head);
  const size_t usable = FieldTrialList::GetAllocator()->GetAllocSize(
      trial->shared_memory_ref_for_testing());
  // One byte more than the block holds behind the head.
  head->pickle_size = static_cast<uint32_t>(usable - sizeof(EntryHead) + 1);
  FieldTrial::Params params;
  EXPECT_FALSE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));
  EXPECT_TRUE(params.empty());

  // A well-formed pickle that reaches past the block by less than the head
  // (the head counts too): its last 4 bytes, the length 0 of a trailing
  // empty string, lie in the free space behind the block, which is zeros.
  ASSERT_GE(usable, 48u);
  Pickle reaching;
  reaching.WriteString("Trial");
  reaching.WriteString("Group");
  reaching.WriteString("key");
  reaching.WriteString(std::string(usable - 48, 'v'));
  reaching.WriteString("");
  ASSERT_EQ(usable - sizeof(EntryHead) + 4, reaching.size());
  memcpy(head + 1, reaching.data(), usable - sizeof(EntryHead));
  head->pickle_size = static_cast<uint32_t>(reaching.size());
  EXPECT_FALSE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));
  EXPECT_TRUE(params.empty());
  // The same pickle one string shorter fills the block to its end, and is
  // read.
  Pickle fitting;
  fitting.WriteString("Trial");
  fitting.WriteString("Group");
  fitting.WriteString("key");
  fitting.WriteString(std::string(usable - 48, 'v'));
  RewriteEntry(trial.get(), fitting);
  ASSERT_EQ(usable - sizeof(EntryHead), head->pickle_size);
  EXPECT_TRUE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));
  EXPECT_EQ((FieldTrial::Params{{"key", std::string(usable - 48, 'v')}}),
            params);
}

// How much GrowPickleAfterCheck adds to the size the entry's pickle gives
// itself.
uint32_t g_pickle_growth = 0;

// Acts as a writer in another process that changes the entry once the
// reader has checked it.
void GrowPickleAfterCheck(FieldTrial* trial) {
  EntryHead* head = EntryOf(trial);
  ASSERT_NE(nullptr, head);
  uint32_t payload_size;
  memcpy(&payload_size, head + 1, sizeof(payload_size));
  payload_size += g_pickle_growth;
  memcpy(head + 1, &payload_size, sizeof(payload_size));
}

TEST_F(FieldTrialSharedMemoryTest, AnEntryChangedAfterItsCheckIsReadAsChecked) {
  FieldTrialParamAssociator::GetInstance()->AssociateFieldTrialParams(
      "Trial", "Group", {{"key", "value"}});
  scoped_refptr<FieldTrial> trial =
      FieldTrialList::FactoryGetFieldTrial("Trial", 100, "Group");
  trial->group_name();
  EntryHead* head = EntryOf(trial.get());
  ASSERT_NE(nullptr, head);
  const size_t usable = FieldTrialList::GetAllocator()->GetAllocSize(
      trial->shared_memory_ref_for_testing());
  // The pickle then claims 8 bytes beyond the entry's block, the last of
  // the segment: free space of zeros, which would read as an empty pair.
  g_pickle_growth =
      static_cast<uint32_t>(usable - sizeof(EntryHead) - head->pickle_size + 8);
  FieldTrialList::SetEntryCheckedHookForTesting(&GrowPickleAfterCheck);
  FieldTrial::Params params;
  EXPECT_TRUE(FieldTrialList::GetParamsFromSharedMemory(trial.get(), &params));
  EXPECT_EQ((FieldTrial::Params{{"key", "value"}}), params);
}

TEST_F(FieldTrialSharedMemoryTest, DisabledTrialsAndFullSegmentsGetNoEntry) {
  scoped_refptr<FieldTrial> disabled =
      FieldTrialList::FactoryGetFieldTrial("Disabled", 100, "Group");
  disabled->Disable();
  disabled->group_name();
  EXPECT_EQ(0u, disabled->shared_memory_ref_for_testing());

  // A segment too small for the entry: the trial still works.
  list_.reset();
  list_ = std::make_unique<FieldTrialList>();
  FieldTrialList::InstallAllocator(
      std::make_unique<LocalPersistentMemoryAllocator>(128, 0, ""));
  FieldTrialParamAssociator::GetInstance()->AssociateFieldTrialParams(
      "Big", "Group", {{"key", std::string(200, 'x')}});
  scoped_refptr<FieldTrial> big =
      FieldTrialList::FactoryGetFieldTrial("Big", 100, "Group");
  EXPECT_EQ(std::string(200, 'x'), GetFieldTrialParamValue("Big", "key"));
  EXPECT_EQ(0u, big->shared_memory_ref_for_testing());
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
