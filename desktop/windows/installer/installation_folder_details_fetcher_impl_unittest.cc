#include "desktop/windows/installer/installation_folder_details_fetcher_impl.h"

#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/scheduler_worker_pool_params.h"
#include "base/task_scheduler/task_scheduler.h"
#include "base/test/bounded_wait.h"
#include "base/threading/platform_thread.h"
#include "desktop/windows/installer/installation_folder_details_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// What the fetcher did with one set of details.
struct Record {
  base::FilePath path;
  bool recovery_mode = false;
  bool in_sta = false;
};

// Folder details that only note how they were used. Initialize of the
// folder named "blocked" waits for |release|.
class RecordingDetails : public InstallationFolderDetailsImpl {
 public:
  RecordingDetails(Record* record,
                   base::WaitableEvent* started,
                   base::WaitableEvent* release,
                   base::RepeatingClosure on_destroyed)
      : record_(record),
        started_(started),
        release_(release),
        on_destroyed_(std::move(on_destroyed)) {}
  ~RecordingDetails() override { on_destroyed_.Run(); }

  const base::FilePath& GetPath() const override { return record_->path; }

  void Initialize(const base::FilePath& path, bool recovery_mode) override {
    record_->path = path;
    record_->recovery_mode = recovery_mode;
    // S_FALSE: this thread already is in a single-threaded apartment.
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    record_->in_sta = hr == S_FALSE;
    if (SUCCEEDED(hr))
      ::CoUninitialize();
    if (path.value() == L"blocked") {
      started_->Signal();
      release_->Wait();
    }
  }

 private:
  Record* record_;
  base::WaitableEvent* started_;
  base::WaitableEvent* release_;
  base::RepeatingClosure on_destroyed_;
};

class InstallationFolderDetailsFetcherImplTest : public testing::Test {
 protected:
  void SetUp() override {
    base::TaskScheduler::Create("FolderDetailsFetcherTest");
    const base::SchedulerWorkerPoolParams params(
        2, base::TimeDelta::FromSeconds(30));
    base::TaskScheduler::GetInstance()->Start(
        base::TaskScheduler::InitParams(params, params, params, params));
    SetInstallationFolderDetailsFactoryForTesting(base::BindRepeating(
        &InstallationFolderDetailsFetcherImplTest::MakeDetails,
        base::Unretained(this)));
  }
  void TearDown() override {
    release_.Signal();
    SetInstallationFolderDetailsFactoryForTesting(
        InstallationFolderDetailsFactory());
    base::TaskScheduler::GetInstance()->Shutdown();
    base::TaskScheduler::GetInstance()->Join();
    base::TaskScheduler::SetInstance(nullptr);
  }

  // Runs on a worker.
  std::unique_ptr<InstallationFolderDetails> MakeDetails() {
    base::AutoLock lock(lock_);
    records_.push_back(std::make_unique<Record>());
    return std::make_unique<RecordingDetails>(records_.back().get(), &started_,
                                              &release_, on_destroyed_);
  }

  base::MessageLoop loop_;
  base::WaitableEvent started_;
  base::WaitableEvent release_;
  base::RepeatingClosure on_destroyed_ = base::BindRepeating([] {});
  base::Lock lock_;
  std::vector<std::unique_ptr<Record>> records_;
};

// A superseded fetch: the settings cancel it and start the next one.
TEST_F(InstallationFolderDetailsFetcherImplTest, OnlyTheLiveFetchReplies) {
  base::RunLoop run_loop;
  int destroyed = 0;
  on_destroyed_ = base::BindRepeating(
      [](int* destroyed, base::RepeatingClosure quit) {
        if (++*destroyed == 2)
          quit.Run();
      },
      &destroyed, run_loop.QuitClosure());
  std::vector<std::wstring> replies;
  const base::PlatformThreadId caller = base::PlatformThread::CurrentId();
  auto reply = [](std::vector<std::wstring>* replies,
                  base::PlatformThreadId caller,
                  std::unique_ptr<InstallationFolderDetails> details) {
    EXPECT_EQ(caller, base::PlatformThread::CurrentId());
    replies->push_back(details->GetPath().value());
  };
  const InstallationFolderDetailsFetcherFactory factory =
      CreateInstallationFolderDetailsFetcherFactory();

  base::scoped_refptr<InstallationFolderDetailsFetcher> first =
      factory.Run(base::FilePath(L"blocked"), false);
  first->FetchStatus(base::BindOnce(reply, &replies, caller));
  ASSERT_TRUE(base::WaitWithin(&started_, "the first examination"));
  first->Cancel();
  first = nullptr;

  base::scoped_refptr<InstallationFolderDetailsFetcher> second =
      factory.Run(base::FilePath(L"C:\\Second"), true);
  second->FetchStatus(base::BindOnce(reply, &replies, caller));
  second = nullptr;
  release_.Signal();

  // Both details die: the second's once its reply has used them, the
  // first's with its fetcher.
  ASSERT_TRUE(base::RunWithin(&run_loop, "both details destroyed"));
  EXPECT_EQ(std::vector<std::wstring>{L"C:\\Second"}, replies);
  ASSERT_EQ(2u, records_.size());
  for (const auto& record : records_)
    EXPECT_TRUE(record->in_sta) << record->path;
  EXPECT_FALSE(records_[0]->recovery_mode);
  EXPECT_TRUE(records_[1]->recovery_mode);
}

}  // namespace
}  // namespace installer
