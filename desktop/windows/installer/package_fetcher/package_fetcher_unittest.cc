#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/installer_controller.h"
#include "desktop/windows/installer/package_fetcher/package_fetch_sequencer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct FakeSequencer : PackageFetchSequencer {
  FakeSequencer(std::vector<std::string>* calls, bool* can_retry)
      : calls(calls), can_retry(can_retry) {}
  void Initialize() override { calls->push_back("initialize"); }
  void Start() override { calls->push_back("start"); }
  void Restart() override { calls->push_back("restart"); }
  void RestartWithMinimalPackageFiles(
      const std::vector<std::string>& names) override {
    calls->push_back("restart with " + names.front());
  }
  void SetMinimalPackageFiles(const std::vector<std::string>& names) override {
    calls->push_back("set " + names.front());
  }
  bool CanRetry() override { return *can_retry; }
  void EnableAdditionalFiles() override { calls->push_back("additional"); }
  std::vector<std::string>* const calls;
  bool* const can_retry;
};

// Writes each report as one short line.
struct RecordingDelegate : PackageFetcherDelegate {
  void NotifyPackageFetcherStatusChanged(int status) override {
    seen.push_back("status " + base::IntToString(status));
  }
  void NotifyPackageReady(const base::FilePath& folder) override {
    seen.push_back("ready");
  }
  void NotifyPackageFetcherError(
      int kind,
      const std::string& text,
      const std::vector<FetchChunkStatistics>& details) override {
    seen.push_back("error " + text);
  }
  void SetTotalProgress(uint32_t total) override {
    seen.push_back("total " + base::UintToString(total));
  }
  void SetCurrentProgress(uint32_t current) override {
    seen.push_back("current " + base::UintToString(current));
  }
  void NotifyStalled() override { seen.push_back("stalled"); }
  std::vector<std::string> seen;
};

struct FakeController : InstallerControllerInterface {
  int Start(PayloadManager*,
            const base::FilePath&,
            base::OnceClosure) override {
    return 0;
  }
  void Terminate() override {}
  void OnTrackingDataActionsDone() override {}
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {
    reply_runner->PostTask(
        FROM_HERE,
        base::BindOnce(std::move(reply), std::move(ui_callback).Run(nullptr)));
  }
};

class PackageFetcherTest : public testing::Test {
 protected:
  PackageFetcherTest()
      : proxy_(base::MakeRefCounted<PackageFetcherDelegateProxy>(&controller_,
                                                                 &delegate_)),
        fetcher_(std::make_unique<PackageFetcher>(
            std::make_unique<FakeSequencer>(&calls_, &can_retry_),
            fetcher_runner_,
            proxy_)) {}

  // Reports reach the delegate as tasks on this (the UI) thread.
  std::vector<std::string> TakeSeen() {
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
    return std::move(delegate_.seen);
  }

  base::MessageLoop message_loop_;
  const base::scoped_refptr<base::TestTaskRunner> fetcher_runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  std::vector<std::string> calls_;
  bool can_retry_ = true;
  RecordingDelegate delegate_;
  FakeController controller_;
  base::scoped_refptr<PackageFetcherDelegateProxy> proxy_;
  std::unique_ptr<PackageFetcher> fetcher_;
};

TEST_F(PackageFetcherTest, RetryCountsSixSecondsDownThenRestarts) {
  fetcher_runner_->RunUntilIdle();
  ASSERT_EQ(std::vector<std::string>{"initialize"}, calls_);
  ASSERT_TRUE(fetcher_->Retry());
  EXPECT_EQ((std::vector<std::string>{"status 1", "total 6", "current 0"}),
            TakeSeen());
  fetcher_runner_->FastForwardBy(base::TimeDelta::FromSeconds(5));
  EXPECT_EQ((std::vector<std::string>{"current 1", "current 2", "current 3",
                                      "current 4", "current 5"}),
            TakeSeen());
  EXPECT_EQ(1u, calls_.size());
  fetcher_runner_->FastForwardBy(base::TimeDelta::FromSeconds(1));
  EXPECT_EQ(std::vector<std::string>{"current 6"}, TakeSeen());
  EXPECT_EQ("restart", calls_.back());
  // Every step waits exactly one second.
  const std::vector<base::TestTaskRunner::Post> posts =
      fetcher_runner_->posts();
  ASSERT_EQ(7u, posts.size());
  for (size_t i = 1; i < posts.size(); ++i)
    EXPECT_EQ(base::TimeDelta::FromSeconds(1), posts[i].delay) << i;
  EXPECT_EQ(0u, fetcher_runner_->pending_count());

  can_retry_ = false;
  EXPECT_FALSE(fetcher_->Retry());
  EXPECT_TRUE(TakeSeen().empty());
  EXPECT_EQ(7u, fetcher_runner_->posts().size());
}

TEST_F(PackageFetcherTest, CommandsFromOtherThreadsRunOnTheFetcherThread) {
  fetcher_runner_->set_runs_tasks_in_current_sequence(false);
  fetcher_->SetUseMinimalPackage({"en.pak"});
  fetcher_->Restart();
  fetcher_->SetUseMinimalPackage({"de.pak"});
  EXPECT_TRUE(calls_.empty());
  fetcher_runner_->set_runs_tasks_in_current_sequence(true);
  fetcher_runner_->RunUntilIdle();
  // Before the first start the list is only kept; afterwards it restarts.
  EXPECT_EQ((std::vector<std::string>{"initialize", "set en.pak", "restart",
                                      "restart with de.pak"}),
            calls_);
}

TEST_F(PackageFetcherTest, NothingArrivesAfterTheFetcherIsGone) {
  fetcher_runner_->RunUntilIdle();
  ASSERT_TRUE(fetcher_->Retry());
  proxy_->NotifyPackageReady(base::FilePath(L"C:\\p"));
  proxy_->NotifyStalled();
  bool ran = false;
  proxy_->RunUICallbackAndPostReply(base::BindOnce(
                                        [](bool* ran, HWND) {
                                          *ran = true;
                                          return 0;
                                        },
                                        &ran),
                                    base::ThreadTaskRunnerHandle::Get(),
                                    base::BindOnce([](int32_t) {}));
  fetcher_.reset();
  // The countdown still queued finds no fetcher.
  fetcher_runner_->FastForwardBy(base::TimeDelta::FromSeconds(10));
  EXPECT_TRUE(TakeSeen().empty());
  EXPECT_FALSE(ran);
  EXPECT_EQ(std::vector<std::string>{"initialize"}, calls_);
}

TEST_F(PackageFetcherTest, ProxyForwardsProgressAndUiRequests) {
  proxy_->OnFilesToUnpackCounted(12);
  proxy_->OnUnpackProgressChanged(3);
  proxy_->NotifyPackageFetcherError(1, "lost", {});
  int32_t reply = -1;
  proxy_->RunUICallbackAndPostReply(
      base::BindOnce([](HWND) { return 7; }),
      base::ThreadTaskRunnerHandle::Get(),
      base::BindOnce([](int32_t* out, int32_t value) { *out = value; },
                     &reply));
  EXPECT_EQ((std::vector<std::string>{"total 12", "current 3", "error lost"}),
            TakeSeen());
  EXPECT_EQ(7, reply);
}

}  // namespace
}  // namespace installer
