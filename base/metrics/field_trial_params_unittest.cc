#include "base/metrics/field_trial_params.h"

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(FieldTrialParamsTest, LookupAndTestSetter) {
  ClearFieldTrialParamsForTesting();
  EXPECT_EQ(
      "", GetFieldTrialParamValue("BrowserScheduler", "AllTasksUserBlocking"));

  SetFieldTrialParamValueForTesting("BrowserScheduler", "AllTasksUserBlocking",
                                    "true");
  EXPECT_EQ("true", GetFieldTrialParamValue("BrowserScheduler",
                                            "AllTasksUserBlocking"));
  // Trial and parameter names are matched exactly and separately.
  EXPECT_EQ("", GetFieldTrialParamValue("BrowserScheduler", "Other"));
  EXPECT_EQ(
      "", GetFieldTrialParamValue("browserscheduler", "AllTasksUserBlocking"));
  EXPECT_EQ(
      "", GetFieldTrialParamValue("BrowserSchedulerAllTasks", "UserBlocking"));

  SetFieldTrialParamValueForTesting("BrowserScheduler", "AllTasksUserBlocking",
                                    "");
  EXPECT_EQ(
      "", GetFieldTrialParamValue("BrowserScheduler", "AllTasksUserBlocking"));
  ClearFieldTrialParamsForTesting();
}

}  // namespace
}  // namespace base
