#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_split.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::unique_ptr<AvroMessageSerializer> MakeSerializer() {
  return std::make_unique<AvroMessageSerializer>(
      "guid", "", "47.0.4127.0", "developer",
      CampaignData(std::string("spring"), std::nullopt, std::nullopt));
}

class AvroStatsSenderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    log_file_ = temp_dir_.GetPath().Append(L"stats.log");
    ASSERT_TRUE(env_->SetVar(kStatsLogFileVariable, log_file_.AsUTF8Unsafe()));
  }

  void TearDown() override {
    env_->UnSetVar(kStatsLogFileVariable);
    DisableAvroStatsSender();
  }

  std::vector<std::string> RecordedLines() {
    std::string contents;
    if (!base::ReadFileToString(log_file_, &contents))
      return {};
    return base::SplitString(contents, "\n", base::KEEP_WHITESPACE,
                             base::SPLIT_WANT_NONEMPTY);
  }

  std::unique_ptr<base::Environment> env_ = base::Environment::Create();
  base::ScopedTempDir temp_dir_;
  base::FilePath log_file_;
};

TEST_F(AvroStatsSenderTest, RecordsOneLinePerEvent) {
  InitializeAvroStatsSender(MakeSerializer(), false, true);
  GetAvroStatsSender()->Send(
      std::make_unique<InstallerStepStartingEvent>("copy_files"));
  GetAvroStatsSender()->Send(std::make_unique<ErrorEvent>("Disk \"full\""));
  GetAvroStatsSender()->Send(std::make_unique<ControllerQuittingEvent>());
  const std::vector<std::string> kExpected = {
      "{\"event\":\"installer_step_starting\",\"step_name\":\"copy_files\"}",
      "{\"description\":\"Disk \\\"full\\\"\",\"event\":\"error\"}",
      "{\"event\":\"controller_quitting\"}",
  };
  EXPECT_EQ(kExpected, RecordedLines());
}

TEST_F(AvroStatsSenderTest, NothingRecordedWhileTrafficIsOff) {
  InitializeAvroStatsSender(MakeSerializer(), false, true);
  GetAvroStatsSender()->SetTrafficAllowed(false);
  GetAvroStatsSender()->Send(std::make_unique<ControllerQuittingEvent>());
  GetAvroStatsSender()->SetTrafficAllowed(true);
  GetAvroStatsSender()->Send(
      std::make_unique<InstallerStepFinishedEvent>("copy_files", 2));
  EXPECT_EQ(std::vector<std::string>{"{\"attempt\":2,\"event\":\"installer_"
                                     "step_finished\",\"step_name\":\"copy_"
                                     "files\"}"},
            RecordedLines());
}

TEST_F(AvroStatsSenderTest, DisabledSenderDropsEverything) {
  InitializeAvroStatsSender(MakeSerializer(), false, true);
  DisableAvroStatsSender();
  GetAvroStatsSender()->Send(std::make_unique<ControllerQuittingEvent>());
  EXPECT_FALSE(base::PathExists(log_file_));
}

TEST_F(AvroStatsSenderTest, ShutdownRunsClosureAndStopsRecording) {
  InitializeAvroStatsSender(MakeSerializer(), false, true);
  bool done = false;
  GetAvroStatsSender()->SendPendingAndShutdown(
      base::BindOnce([](bool* done) { *done = true; }, &done));
  EXPECT_TRUE(done);
  GetAvroStatsSender()->Send(std::make_unique<ControllerQuittingEvent>());
  EXPECT_FALSE(base::PathExists(log_file_));
}

}  // namespace
}  // namespace installer
