#include "desktop/windows/installer/common/installer_error.h"

#include <memory>
#include <string>

#include "base/synchronization/waitable_event.h"
#include "base/threading/simple_thread.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct Snapshot {
  InstallerResult code = RESULT_SUCCESS;
  std::string message;
  std::wstring path;
};

Snapshot Read() {
  Snapshot s;
  GetLastInstallerError(&s.code, &s.message, &s.path);
  return s;
}

TEST(InstallerErrorTest, WithoutRecordNothingChanges) {
  EXPECT_FALSE(SetLastInstallerError(RESULT_MUTEX_BUSY, "x", L"p"));
  EXPECT_FALSE(AddLastInstallerErrorContext("y", RESULT_COPY_FAILED, L"q"));
  const Snapshot s = Read();
  EXPECT_EQ(RESULT_SUCCESS, s.code);
  EXPECT_EQ("", s.message);
  EXPECT_EQ(L"", s.path);
}

TEST(InstallerErrorTest, ContextKeepsInnermostCodeAndPath) {
  ScopedInstallerErrorRecord record;
  EXPECT_FALSE(SetLastInstallerError(RESULT_ELEVATION_FAILED, "a", L"P"));
  EXPECT_FALSE(AddLastInstallerErrorContext("b", RESULT_SUCCESS, L""));
  const Snapshot s = Read();
  EXPECT_EQ(RESULT_ELEVATION_FAILED, s.code);
  EXPECT_EQ("a\nb", s.message);
  EXPECT_EQ(L"P", s.path);
}

TEST(InstallerErrorTest, ContextOnFreshRecordStartsWithLineFeed) {
  ScopedInstallerErrorRecord record;
  AddLastInstallerErrorContext("c", RESULT_PACKAGE_FETCH_FAILED, L"Q");
  const Snapshot s = Read();
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, s.code);
  EXPECT_EQ("\nc", s.message);
  EXPECT_EQ(L"Q", s.path);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
}

TEST(InstallerErrorTest, SetOverwritesEverything) {
  ScopedInstallerErrorRecord record;
  SetLastInstallerError(RESULT_COPY_FAILED, "first", L"A");
  AddLastInstallerErrorContext("more");
  SetLastInstallerError(RESULT_MUTEX_BUSY, "second");
  const Snapshot s = Read();
  EXPECT_EQ(RESULT_MUTEX_BUSY, s.code);
  EXPECT_EQ("second", s.message);
  EXPECT_EQ(L"", s.path);
}

TEST(InstallerErrorTest, RecordEndsWithItsOwner) {
  {
    ScopedInstallerErrorRecord record;
    SetLastInstallerError(RESULT_COPY_FAILED, "gone", L"A");
  }
  SetLastInstallerError(RESULT_MUTEX_BUSY, "ignored");
  EXPECT_EQ(RESULT_SUCCESS, GetLastInstallerErrorCode());
  // A new owner starts from a fresh record.
  ScopedInstallerErrorRecord record;
  EXPECT_EQ(RESULT_SUCCESS, GetLastInstallerErrorCode());
  EXPECT_EQ("", Read().message);
}

// Sets its own error, waits until the main thread has set a different one,
// then reads its record back.
class ErrorThread : public base::SimpleThread {
 public:
  ErrorThread() : base::SimpleThread("ErrorThread") {}

  void Run() override {
    ScopedInstallerErrorRecord record;
    SetLastInstallerError(RESULT_COPY_FAILED, "worker", L"W");
    worker_set_.Signal();
    main_set_waited_ = main_set_.TimedWait(base::TimeDelta::FromSeconds(10));
    AddLastInstallerErrorContext("worker context");
    seen_ = Read();
  }

  base::WaitableEvent worker_set_;
  base::WaitableEvent main_set_;
  bool main_set_waited_ = false;
  Snapshot seen_;
};

TEST(InstallerErrorTest, ThreadsKeepSeparateRecords) {
  ScopedInstallerErrorRecord record;
  ErrorThread worker;
  worker.Start();
  ASSERT_TRUE(worker.worker_set_.TimedWait(base::TimeDelta::FromSeconds(10)))
      << "worker never set its error";
  // The worker's error is not this thread's.
  EXPECT_EQ(RESULT_SUCCESS, GetLastInstallerErrorCode());
  SetLastInstallerError(RESULT_MUTEX_BUSY, "main", L"M");
  worker.main_set_.Signal();
  worker.Join();

  ASSERT_TRUE(worker.main_set_waited_);
  EXPECT_EQ(RESULT_COPY_FAILED, worker.seen_.code);
  EXPECT_EQ("worker\nworker context", worker.seen_.message);
  EXPECT_EQ(L"W", worker.seen_.path);
  const Snapshot mine = Read();
  EXPECT_EQ(RESULT_MUTEX_BUSY, mine.code);
  EXPECT_EQ("main", mine.message);
  EXPECT_EQ(L"M", mine.path);
}

}  // namespace
}  // namespace installer
