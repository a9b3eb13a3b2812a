#include "desktop/windows/installer/steps/installer_step_scheduler.h"

#include <memory>
#include <string>
#include <vector>

#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/task_runner.h"
#include "base/test/bounded_wait.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Log = std::vector<std::string>;

// Answers |status| on every attempt and logs each one.
class ScriptedStep : public InstallerStep {
 public:
  ScriptedStep(const std::string& name, InstallerStepStatus status, Log* log)
      : InstallerStep(name, nullptr), status_(status), log_(log) {}

  void Execute(InstallerStepResult* result, int attempt) override {
    log_->push_back("run " + name() + " " + base::IntToString(attempt));
    *result = InstallerStepResult(status_, RESULT_COPY_FAILED,
                                  L"C:\\f\\" + base::UTF8ToUTF16(name()),
                                  name() + " broke");
  }

 private:
  const InstallerStepStatus status_;
  Log* const log_;
};

// Every list is the test's script; |ok| false fails every builder.
class ScriptedLists : public InstallerStepListBuilder {
 public:
  ScriptedLists(std::vector<InstallerStepStatus> script, bool ok, Log* log)
      : script_(std::move(script)), ok_(ok), log_(log) {}

  bool BuildInstallSteps(InstallerStepContext*,
                         base::string16*,
                         InstallerStepList* steps) override {
    return Build(steps);
  }
  bool BuildUpgradeSteps(InstallerStepContext*,
                         base::string16*,
                         InstallerStepList* steps) override {
    return Build(steps);
  }
  bool BuildUninstallSteps(InstallerStepContext*,
                           InstallerStepList* steps) override {
    return Build(steps);
  }
  bool BuildRegisterProtocolHandlerSteps(InstallerStepContext*,
                                         InstallerStepList* steps) override {
    return Build(steps);
  }
  bool BuildFixResourcesSteps(InstallerStepContext*,
                              InstallerStepList* steps) override {
    return Build(steps);
  }

 private:
  bool Build(InstallerStepList* steps) {
    if (!ok_)
      return SetLastInstallerError(RESULT_CORRUPTED_PACKAGE, "list broke");
    for (size_t i = 0; i < script_.size(); ++i) {
      steps->push_back(std::make_unique<ScriptedStep>(
          std::string(1, static_cast<char>('a' + i)), script_[i], log_));
    }
    return true;
  }

  const std::vector<InstallerStepStatus> script_;
  const bool ok_;
  Log* const log_;
};

// Runs every task on |target| at once and adds up the delays asked for, so
// that the retries cost the test no time.
class DelayRecordingRunner : public base::TaskRunner {
 public:
  explicit DelayRecordingRunner(base::scoped_refptr<base::TaskRunner> target)
      : target_(std::move(target)) {}

  bool PostDelayedTask(const base::Location& from_here,
                       base::OnceClosure task,
                       base::TimeDelta delay) override {
    if (refuse_from >= 0 && posts_++ >= refuse_from)
      return false;
    total_delay += delay;
    return target_->PostTask(from_here, std::move(task));
  }
  bool RunsTasksInCurrentSequence() const override {
    return target_->RunsTasksInCurrentSequence();
  }

  base::TimeDelta total_delay;
  // Posts refused from this one on (counting from 0); -1 refuses none.
  int refuse_from = -1;

 private:
  ~DelayRecordingRunner() override = default;

  const base::scoped_refptr<base::TaskRunner> target_;
  int posts_ = 0;
};

class InstallerStepSchedulerTest : public testing::Test,
                                   public InstallerStepSchedulerDelegate {
 protected:
  InstallerStepSchedulerTest() { context_.set_settings(&settings_); }

  // Schedules |script| as the list of |operation|.
  bool Schedule(InstallerOperation operation,
                std::vector<InstallerStepStatus> script,
                bool lists_ok = true) {
    settings_.operation = operation;
    scheduler_ = std::make_unique<InstallerStepSchedulerImpl>(
        std::make_unique<ScriptedLists>(std::move(script), lists_ok, &log_));
    return scheduler_->Schedule(&context_, context_.uninstall_string(),
                                &step_count_);
  }

  void RunSteps(int refuse_from = -1) {
    base::RunLoop run_loop;
    quit_ = run_loop.QuitClosure();
    runner_ = new DelayRecordingRunner(loop_.task_runner());
    runner_->refuse_from = refuse_from;
    scheduler_->Run(runner_, this);
    // Every task runs at once: a run that ends does so in far less.
    ASSERT_TRUE(base::RunWithin(&run_loop, "OnAllStepsDone",
                                base::TimeDelta::FromSeconds(5)));
  }

  // InstallerStepSchedulerDelegate:
  void OnStepStarting(const std::string& name) override {
    log_.push_back("starting " + name);
  }
  void OnStepFinished(const std::string& name,
                      int attempt,
                      int steps_done) override {
    log_.push_back("finished " + name + " " + base::IntToString(attempt) + " " +
                   base::IntToString(steps_done));
  }
  void OnAllStepsDone(bool success) override {
    log_.push_back(success ? "all done" : "failed");
    quit_.Run();
  }

  base::MessageLoop loop_;
  base::RepeatingClosure quit_;
  ScopedInstallerErrorRecord error_record_;
  test::FakeSettings settings_;
  InstallerStepContextImpl context_;
  base::scoped_refptr<DelayRecordingRunner> runner_;
  std::unique_ptr<InstallerStepSchedulerImpl> scheduler_;
  uint32_t step_count_ = 0;
  Log log_;
};

TEST_F(InstallerStepSchedulerTest, RetryThenContinueIsDoneAfterTheLastRetry) {
  ASSERT_TRUE(
      Schedule(OPERATION_INSTALL, {STEP_RETRY_THEN_CONTINUE, STEP_DONE}));
  EXPECT_EQ(3u, step_count_);
  RunSteps();
  EXPECT_EQ(Log({"starting a", "run a 0", "run a 1", "run a 2", "run a 3",
                 "run a 4", "run a 5", "finished a 5 1", "starting b",
                 "run b 0", "finished b 0 2", "all done"}),
            log_);
}

TEST_F(InstallerStepSchedulerTest, FailingStepEndsTheRun) {
  struct {
    InstallerStepStatus status;
    int attempts;
  } const kCases[] = {{STEP_RETRY_THEN_FAIL, 6}, {STEP_FAILED, 1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    log_.clear();
    SetLastInstallerError(RESULT_SUCCESS, "");
    ASSERT_TRUE(Schedule(OPERATION_UPGRADE, {STEP_DONE, c.status, STEP_DONE}));
    RunSteps();
    Log expected = {"starting a", "run a 0", "finished a 0 1", "starting b"};
    for (int i = 0; i < c.attempts; ++i)
      expected.push_back("run b " + base::IntToString(i));
    expected.push_back("failed");
    EXPECT_EQ(expected, log_);
    // One second before each retry.
    EXPECT_EQ(base::TimeDelta::FromSeconds(c.attempts - 1),
              runner_->total_delay);
    InstallerResult code;
    std::string message;
    std::wstring path;
    GetLastInstallerError(&code, &message, &path);
    EXPECT_EQ(RESULT_COPY_FAILED, code);
    EXPECT_EQ("b broke", message);
    EXPECT_EQ(L"C:\\f\\b", path);
  }
}

TEST_F(InstallerStepSchedulerTest, ScheduleByOperation) {
  struct {
    int operation;
    bool lists_ok;
    bool result;
    const char* message;  // the last-error record on failure
  } const kCases[] = {
      {OPERATION_INSTALL, false, false,
       "list broke\nCannot schedule install steps"},
      {OPERATION_UPGRADE, false, false,
       "list broke\nCannot schedule upgrade steps"},
      {OPERATION_UNINSTALL, false, false, "list broke"},
      {OPERATION_REGISTER_PROTOCOL_HANDLER, false, false, "list broke"},
      {OPERATION_FIX_DOWNLOADABLE_RESOURCES, false, false,
       "list broke\nCannot schedule fix resources steps"},
      {OPERATION_REGISTER_PROTOCOL_HANDLER, true, true, ""},
      {OPERATION_FIX_DOWNLOADABLE_RESOURCES, true, true, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.operation);
    step_count_ = 99;
    SetLastInstallerError(RESULT_SUCCESS, "");
    EXPECT_EQ(c.result, Schedule(static_cast<InstallerOperation>(c.operation),
                                 {STEP_DONE, STEP_DONE}, c.lists_ok));
    InstallerResult code;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    EXPECT_EQ(c.message, message);
    EXPECT_EQ(c.result ? RESULT_SUCCESS : RESULT_CORRUPTED_PACKAGE, code);
    EXPECT_EQ(c.result ? 3u : 99u, step_count_);
  }
}

TEST_F(InstallerStepSchedulerTest, UnknownOperationHasNoSteps) {
  ASSERT_TRUE(Schedule(static_cast<InstallerOperation>(6), {STEP_FAILED}));
  EXPECT_EQ(1u, step_count_);
  RunSteps();
  EXPECT_EQ(Log({"all done"}), log_);
}

// A step whose task can't be posted would never run, and the run would
// never end: the refusal ends it as a failure, first step or retry alike.
TEST_F(InstallerStepSchedulerTest, RefusedPostEndsTheRunAsFailure) {
  struct {
    std::vector<InstallerStepStatus> script;
    int refuse_from;
    Log expected;
  } const kCases[] = {
      {{STEP_DONE}, 0, {"starting a", "failed"}},
      {{STEP_DONE, STEP_DONE},
       1,
       {"starting a", "run a 0", "finished a 0 1", "starting b", "failed"}},
      {{STEP_RETRY_THEN_FAIL}, 1, {"starting a", "run a 0", "failed"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.refuse_from);
    log_.clear();
    SetLastInstallerError(RESULT_SUCCESS, "");
    ASSERT_TRUE(Schedule(OPERATION_INSTALL, c.script));
    RunSteps(c.refuse_from);
    EXPECT_EQ(c.expected, log_);
    InstallerResult code = RESULT_SUCCESS;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    EXPECT_EQ(RESULT_GENERAL_ERROR, code);
    EXPECT_NE(std::string::npos, message.find("Cannot post step "));
  }
}

}  // namespace
}  // namespace installer
