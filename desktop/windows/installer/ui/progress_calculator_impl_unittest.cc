#include "desktop/windows/installer/ui/progress_calculator_impl.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Report = std::pair<uint32_t, std::optional<int>>;

class FakeRunner : public MainProcessInstallerRunner {
 public:
  explicit FakeRunner(std::vector<std::string>* events) : events_(events) {}
  int Start(Settings*) override { return 0; }
  void SetPaths(const base::FilePath&, const base::FilePath&) override {}
  void Stop() override {}
  void OnPackageReady() override {}
  void AddObserver(InstallerObserver* observer) override {
    observers_.push_back(observer);
  }
  void RemoveObserver(InstallerObserver* observer) override {
    observers_.erase(
        std::remove(observers_.begin(), observers_.end(), observer),
        observers_.end());
    events_->push_back("runner");
  }
  void Terminate(int result) {
    for (InstallerObserver* observer : observers_)
      observer->OnBackendProcessTerminated(result);
  }
  size_t observer_count() const { return observers_.size(); }

 private:
  std::vector<std::string>* const events_;
  std::vector<InstallerObserver*> observers_;
};

class RecordingNotifier : public InstallerProgressNotifier {
 public:
  explicit RecordingNotifier(std::vector<std::string>* events)
      : events_(events) {}
  void RemoveObserver(InstallerProgressObserver* observer) override {
    InstallerProgressNotifier::RemoveObserver(observer);
    events_->push_back("notifier");
  }

 private:
  std::vector<std::string>* const events_;
};

class ProgressCalculatorTest : public testing::Test, public ProgressObserver {
 protected:
  ProgressCalculatorTest()
      : runner_(&events_),
        notifier_(&events_),
        calculator_(&runner_, &notifier_, ProgressStageWeights()) {
    calculator_.SetObserver(this);
    calculator_.SetClockForTesting(
        base::BindRepeating([](const base::Time* now) { return *now; }, &now_));
  }

  void OnProgressChanged(uint32_t progress,
                         std::optional<int> remaining) override {
    reports_.emplace_back(progress, remaining);
  }

  // The reports since the last call.
  std::vector<Report> TakeReports() { return std::exchange(reports_, {}); }

  void Stage(int stage, int total, int current) {
    notifier_.OnEnteringPhase(stage);
    notifier_.OnTotalSteps(total);
    notifier_.OnStepFinished(current);
  }

  std::vector<std::string> events_;
  FakeRunner runner_;
  RecordingNotifier notifier_;
  base::Time now_ = base::Time::FromDoubleT(1.8e9);
  std::vector<Report> reports_;
  ProgressCalculatorImpl calculator_;
};

TEST_F(ProgressCalculatorTest, WeighsEachStage) {
  EXPECT_EQ(1304u, calculator_.GetMaximum());
  // Before a total is known a stage shows its start.
  const uint32_t kStarts[] = {0, 1, 1001, 1001, 1002, 1003, 1004, 1204, 0};
  for (int stage = 0; stage < 9; ++stage) {
    notifier_.OnEnteringPhase(stage);
    EXPECT_EQ(kStarts[stage], calculator_.GetProgress()) << stage;
  }
  TakeReports();

  Stage(7, 10, 5);
  EXPECT_EQ((std::vector<Report>{{1204, std::nullopt}, {1254, 5}}),
            TakeReports());
  notifier_.OnStepFinished(10);
  EXPECT_EQ((std::vector<Report>{{1304, 0}}), TakeReports());

  // Counts beyond the total, or below zero, keep the bar in its stage.
  notifier_.OnStepFinished(25);
  EXPECT_EQ((std::vector<Report>{{1304, 0}}), TakeReports());
  notifier_.OnStepFinished(-3);
  EXPECT_EQ((std::vector<Report>{{1204, 13}}), TakeReports());

  // Stage numbers outside the scale change nothing.
  notifier_.OnEnteringPhase(9);
  notifier_.OnEnteringPhase(-1);
  EXPECT_TRUE(TakeReports().empty());
  EXPECT_EQ(1204u, calculator_.GetProgress());
  notifier_.OnStepFinished(2);
  EXPECT_EQ((std::vector<Report>{{1224, 8}}), TakeReports());
}

TEST_F(ProgressCalculatorTest, IgnoresCountsWhereTheyDoNotApply) {
  // The download-finished stage ignores its total.
  Stage(3, 10, 5);
  EXPECT_EQ((std::vector<Report>{{1001, std::nullopt}}), TakeReports());
  EXPECT_EQ(1001u, calculator_.GetProgress());

  // Waiting for a retry computes as the first stage and counts down.
  Stage(1, 100, 3);
  TakeReports();
  Stage(8, 30, 10);
  EXPECT_EQ((std::vector<Report>{{0, std::nullopt}, {0, 20}}), TakeReports());
  notifier_.OnStepFinished(30);
  EXPECT_EQ((std::vector<Report>{{1, 0}}), TakeReports());
}

TEST_F(ProgressCalculatorTest, EstimatesTheDownloadTimeAfterFivePercent) {
  notifier_.OnEnteringPhase(1);
  notifier_.OnTotalSteps(1000);
  TakeReports();

  // Up to 5 % only changed values are reported, without a time.
  now_ += base::TimeDelta::FromSeconds(5);
  notifier_.OnStepFinished(10);
  notifier_.OnStepFinished(10);
  notifier_.OnStepFinished(50);
  EXPECT_EQ((std::vector<Report>{{11, std::nullopt}, {51, std::nullopt}}),
            TakeReports());

  // 10 % after 20 s: 200 s in all, 180 s left.
  now_ += base::TimeDelta::FromSeconds(15);
  notifier_.OnStepFinished(100);
  EXPECT_EQ((std::vector<Report>{{101, 181}}), TakeReports());

  // A clock set back leaves nothing rather than a negative time; a clock
  // at its end saturates instead of overflowing.
  now_ -= base::TimeDelta::FromSeconds(60);
  notifier_.OnStepFinished(500);
  EXPECT_EQ((std::vector<Report>{{501, 1}}), TakeReports());
  now_ = base::Time::Max();
  notifier_.OnStepFinished(100);
  EXPECT_EQ((std::vector<Report>{{101, std::numeric_limits<int>::max()}}),
            TakeReports());
}

TEST_F(ProgressCalculatorTest, BackendEndAndMissingObserver) {
  Stage(6, 10, 4);
  TakeReports();
  EXPECT_EQ(1084u, calculator_.GetProgress());
  runner_.Terminate(5);
  EXPECT_TRUE(TakeReports().empty());
  EXPECT_EQ(1084u, calculator_.GetProgress());
  runner_.Terminate(0);
  EXPECT_EQ((std::vector<Report>{{1204, 0}}), TakeReports());

  calculator_.SetObserver(nullptr);
  notifier_.OnEnteringPhase(7);
  EXPECT_EQ(1204u, calculator_.GetProgress());
  notifier_.OnTotalSteps(4);
  notifier_.OnStepFinished(2);
  EXPECT_EQ(1254u, calculator_.GetProgress());
  EXPECT_TRUE(TakeReports().empty());
}

TEST(ProgressCalculatorRegistrationTest, LeavesTheNotifierFirst) {
  std::vector<std::string> events;
  FakeRunner runner(&events);
  RecordingNotifier notifier(&events);
  {
    ProgressCalculatorImpl calculator(&runner, &notifier,
                                      ProgressStageWeights());
    EXPECT_EQ(1u, runner.observer_count());
  }
  EXPECT_EQ(0u, runner.observer_count());
  EXPECT_EQ((std::vector<std::string>{"notifier", "runner"}), events);
  // Nothing is left listening.
  notifier.OnEnteringPhase(1);
}

}  // namespace
}  // namespace installer
