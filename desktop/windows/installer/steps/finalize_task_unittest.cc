#include <string>

#include "base/at_exit.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/test/scoped_log_lines.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/steps/status_steps.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/test/fake_security_utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Not an administrator: the step then leaves the firewall alone.
// The system's own scheduler, in the test's Wine prefix. Wine's Task
// Scheduler 2.0 cannot name a trigger nor make a logon trigger, so the
// registration fails there; the step says so and the installation goes on.
// Where the registration works, the task is there and nothing is said.
class FinalizeTaskTest : public test::StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
  }
  void TearDown() override {
    std::unique_ptr<WindowsTaskScheduler> scheduler =
        CreateWindowsTaskScheduler();
    if (scheduler && scheduler->Initialize())
      scheduler->RemoveTask(kTaskName);
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }

  static constexpr wchar_t kTaskName[] = L"Autoupdate finalizetest";
  base::win::ScopedCOMInitializer com_;
  base::MessageLoop loop_;
  base::AtExitManager exit_manager_;
  test::FakeSecurityUtils security_{false};
};

constexpr wchar_t FinalizeTaskTest::kTaskName[];

TEST_F(FinalizeTaskTest, TheStepIsDoneAndTheTaskThereOrReported) {
  ASSERT_TRUE(base::CreateDirectory(install_));
  context_->GetStatusUnderConstruction()->app_id = L"finalizetest";
  FinalizeStep step(context_.get());
  InstallerStepResult result(STEP_FAILED);
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  step.Execute(&result, 0);
  EXPECT_EQ(STEP_DONE, result.status);
  std::unique_ptr<WindowsTaskScheduler> scheduler =
      CreateWindowsTaskScheduler();
  ASSERT_TRUE(scheduler->Initialize());
  const ScheduledTaskState state = scheduler->GetTaskState(kTaskName);
  if (log.text().empty()) {
    EXPECT_NE(SCHEDULED_TASK_NOT_FOUND, state);
    scheduler->RemoveTask(kTaskName);
  } else {
    EXPECT_EQ("Could not create scheduled task\n", log.text());
    // Nothing half-made is left behind.
    EXPECT_EQ(SCHEDULED_TASK_NOT_FOUND, state);
  }
}

}  // namespace
}  // namespace installer
