#include "base/files/important_file_writer.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/metrics/statistics_recorder.h"
#include "base/sequenced_task_runner.h"
#include "base/test/histogram_counts.h"
#include "base/test/test_task_runner.h"
#include "base/time/tick_clock.h"
#include "base/timer/timer.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {

namespace {

class CountingSerializer : public ImportantFileWriter::DataSerializer {
 public:
  CountingSerializer(const std::string& data, bool result)
      : data_(data), result_(result) {}
  ~CountingSerializer() override = default;

  bool SerializeData(std::string* data) override {
    ++calls_;
    *data = data_;
    return result_;
  }

  int calls() const { return calls_; }

 private:
  const std::string data_;
  const bool result_;
  int calls_ = 0;
};

std::string ReadContents(const FilePath& path) {
  std::string contents;
  EXPECT_TRUE(ReadFileToString(path, &contents)) << path.value();
  return contents;
}

// The names of everything in |dir|.
std::vector<std::wstring> ListFolder(const FilePath& dir) {
  std::vector<std::wstring> names;
  FileEnumerator enumerator(
      dir, false, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  for (FilePath path = enumerator.Next(); !path.empty();
       path = enumerator.Next()) {
    names.push_back(path.BaseName().value());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWithTmp(const std::wstring& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, L".tmp") == 0;
}

class ImportantFileWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    path_ = temp_dir_.GetPath().Append(L"important.json");
    runner_ = new TestTaskRunner();
  }

  ScopedTempDir temp_dir_;
  FilePath path_;
  scoped_refptr<TestTaskRunner> runner_;
};

}  // namespace

TEST_F(ImportantFileWriterTest, WritesAndReplacesLeavingOnlyTheTarget) {
  const std::string binary("a\0b\r\nc", 6);
  // The last, empty view has no data pointer at all.
  for (StringPiece data :
       {StringPiece(""), StringPiece("first"), StringPiece("second!"),
        StringPiece(binary), StringPiece()}) {
    ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, data));
    EXPECT_EQ(data.as_string(), ReadContents(path_));
  }
  EXPECT_EQ(std::vector<std::wstring>({L"important.json"}),
            ListFolder(temp_dir_.GetPath()));
}

TEST_F(ImportantFileWriterTest, MissingFolderFailsAndRecords) {
  const FilePath missing_dir = temp_dir_.GetPath().Append(L"missing");
  const FilePath target = missing_dir.Append(L"target.json");

  const int create_before =
      HistogramTotalCount("ImportantFile.FileCreateError");
  const int failures_before = HistogramSampleCount(
      "ImportantFile.TempFileFailures", ImportantFileWriter::FAILED_CREATING);
  EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(target, "data"));
  EXPECT_EQ(create_before + 1,
            HistogramTotalCount("ImportantFile.FileCreateError"));
  EXPECT_EQ(failures_before + 1,
            HistogramSampleCount("ImportantFile.TempFileFailures",
                                 ImportantFileWriter::FAILED_CREATING));
  EXPECT_FALSE(PathExists(missing_dir));
  EXPECT_TRUE(ListFolder(temp_dir_.GetPath()).empty());

  // A suffix names its own histograms.
  const int local_before =
      HistogramTotalCount("ImportantFile.FileCreateError.Local");
  const int local_failures_before =
      HistogramTotalCount("ImportantFile.TempFileFailures.Local");
  const int unsuffixed_before =
      HistogramTotalCount("ImportantFile.FileCreateError");
  EXPECT_FALSE(
      ImportantFileWriter::WriteFileAtomically(target, "data", "Local"));
  EXPECT_EQ(local_before + 1,
            HistogramTotalCount("ImportantFile.FileCreateError.Local"));
  EXPECT_EQ(local_failures_before + 1,
            HistogramTotalCount("ImportantFile.TempFileFailures.Local"));
  EXPECT_EQ(HistogramTotalCount("ImportantFile.TempFileFailures.Local"),
            HistogramSampleCount("ImportantFile.TempFileFailures.Local",
                                 ImportantFileWriter::FAILED_CREATING));
  EXPECT_EQ(unsuffixed_before,
            HistogramTotalCount("ImportantFile.FileCreateError"));
  EXPECT_FALSE(
      StatisticsRecorder::FindHistogram("ImportantFile.FileCreateError."));
}

TEST_F(ImportantFileWriterTest, OversizedDataIsRefusedNotTruncated) {
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, "old"));
  // The view claims 2^32 + 5 bytes over a short buffer: an int length of 5
  // would write "hello" and report success. Nothing may be read or written.
  const char buffer[] = "hello";
  const StringPiece oversized(buffer, (static_cast<size_t>(1) << 32) + 5);
  EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(path_, oversized));
  const StringPiece just_over(buffer, static_cast<size_t>(1) << 31);
  EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(path_, just_over));
  EXPECT_EQ("old", ReadContents(path_));
  EXPECT_EQ(std::vector<std::wstring>({L"important.json"}),
            ListFolder(temp_dir_.GetPath()));
}

TEST_F(ImportantFileWriterTest, TargetOpenWithoutDeleteSharingKeepsOldData) {
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, "old"));
  const int renaming_before = HistogramSampleCount(
      "ImportantFile.TempFileFailures", ImportantFileWriter::FAILED_RENAMING);
  const int rename_errors_before =
      HistogramTotalCount("ImportantFile.FileRenameError");
  {
    win::ScopedHandle holder(::CreateFileW(
        path_.value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(path_, "new"));
  }
  EXPECT_EQ("old", ReadContents(path_));
  // The writer's own "<guid>.tmp" file is gone. (Wine's ReplaceFileW leaves
  // a scratch file of its own, "rfXXXX.tmp", behind on this failure, so the
  // folder is not checked for being otherwise empty.)
  for (const std::wstring& name : ListFolder(temp_dir_.GetPath())) {
    EXPECT_FALSE(name.size() == 40 && EndsWithTmp(name)) << name;
  }
  EXPECT_TRUE(PathExists(path_));
  EXPECT_EQ(renaming_before + 1,
            HistogramSampleCount("ImportantFile.TempFileFailures",
                                 ImportantFileWriter::FAILED_RENAMING));
  EXPECT_EQ(rename_errors_before + 1,
            HistogramTotalCount("ImportantFile.FileRenameError"));
}

TEST_F(ImportantFileWriterTest, WriteNowRunsCallbacksOnceOnTheFileRunner) {
  ImportantFileWriter writer(path_, runner_);
  int before_calls = 0;
  std::vector<bool> after_results;
  bool file_existed_before_write = true;
  writer.RegisterOnNextWriteCallbacks(
      BindOnce(
          [](int* calls, bool* existed, const FilePath& path) {
            ++*calls;
            *existed = PathExists(path);
          },
          &before_calls, &file_existed_before_write, path_),
      BindOnce([](std::vector<bool>* results,
                  bool success) { results->push_back(success); },
               &after_results));

  writer.WriteNow("payload");
  // Nothing happens on the owner's side; the write waits on the file runner.
  EXPECT_FALSE(PathExists(path_));
  EXPECT_EQ(0, before_calls);
  runner_->RunUntilIdle();
  EXPECT_EQ("payload", ReadContents(path_));
  EXPECT_EQ(1, before_calls);
  EXPECT_FALSE(file_existed_before_write);
  EXPECT_EQ(std::vector<bool>({true}), after_results);

  // The callbacks belonged to that write only.
  writer.WriteNow("again");
  runner_->RunUntilIdle();
  EXPECT_EQ("again", ReadContents(path_));
  EXPECT_EQ(1, before_calls);
  EXPECT_EQ(1u, after_results.size());
}

TEST_F(ImportantFileWriterTest, AfterCallbackGetsFailure) {
  ImportantFileWriter writer(
      temp_dir_.GetPath().Append(L"missing").Append(L"x.json"), runner_);
  std::vector<bool> after_results;
  writer.RegisterOnNextWriteCallbacks(
      OnceClosure(), BindOnce([](std::vector<bool>* results,
                                 bool success) { results->push_back(success); },
                              &after_results));
  writer.WriteNow("data");
  runner_->RunUntilIdle();
  EXPECT_EQ(std::vector<bool>({false}), after_results);
}

TEST_F(ImportantFileWriterTest, RefusedPostWritesAtOnce) {
  ImportantFileWriter writer(path_, runner_);
  int after_calls = 0;
  writer.RegisterOnNextWriteCallbacks(
      OnceClosure(),
      BindOnce([](int* calls, bool success) { *calls += success ? 1 : 100; },
               &after_calls));
  runner_->set_refuse_tasks(true);
  writer.WriteNow("synchronous");
  EXPECT_EQ("synchronous", ReadContents(path_));
  EXPECT_EQ(1, after_calls);
  EXPECT_EQ(0u, runner_->pending_count());
}

TEST_F(ImportantFileWriterTest, ScheduledWritesCoalesce) {
  ImportantFileWriter writer(path_, runner_);
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  writer.SetTimerForTesting(&timer);
  EXPECT_EQ(TimeDelta::FromSeconds(10), writer.commit_interval());

  CountingSerializer first("first", true);
  CountingSerializer second("second", true);
  CountingSerializer third("third", true);
  EXPECT_FALSE(writer.HasPendingWrite());
  writer.ScheduleWrite(&first);
  EXPECT_TRUE(writer.HasPendingWrite());
  runner_->FastForwardBy(TimeDelta::FromSeconds(4));
  writer.ScheduleWrite(&second);
  runner_->FastForwardBy(TimeDelta::FromSeconds(4));
  writer.ScheduleWrite(&third);
  // The timer is not restarted by later calls: 10 s after the first.
  runner_->FastForwardBy(TimeDelta::FromMilliseconds(1999));
  EXPECT_TRUE(writer.HasPendingWrite());
  EXPECT_FALSE(PathExists(path_));
  runner_->FastForwardBy(TimeDelta::FromMilliseconds(1));
  EXPECT_FALSE(writer.HasPendingWrite());
  EXPECT_EQ("third", ReadContents(path_));
  EXPECT_EQ(0, first.calls());
  EXPECT_EQ(0, second.calls());
  EXPECT_EQ(1, third.calls());

  // Nothing else is left to run, ever.
  runner_->FastForwardBy(TimeDelta::FromSeconds(60));
  EXPECT_EQ(1, third.calls());
  EXPECT_EQ(0u, runner_->pending_count());
}

TEST_F(ImportantFileWriterTest, SerializerFailureLeavesWriterIdle) {
  ImportantFileWriter writer(path_, runner_);
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  writer.SetTimerForTesting(&timer);

  CountingSerializer failing("ignored", false);
  writer.ScheduleWrite(&failing);
  runner_->FastForwardBy(TimeDelta::FromSeconds(10));
  EXPECT_EQ(1, failing.calls());
  EXPECT_FALSE(writer.HasPendingWrite());
  EXPECT_FALSE(PathExists(path_));
  EXPECT_EQ(0u, runner_->pending_count());

  // The failed turn did not disturb the next one.
  CountingSerializer good("good", true);
  writer.ScheduleWrite(&good);
  writer.DoScheduledWrite();
  EXPECT_FALSE(writer.HasPendingWrite());
  runner_->RunUntilIdle();
  EXPECT_EQ("good", ReadContents(path_));
  EXPECT_EQ(1, good.calls());
}

TEST_F(ImportantFileWriterTest, WriteNowAndDestructionDropThePendingWrite) {
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  CountingSerializer scheduled("scheduled", true);
  {
    ImportantFileWriter writer(path_, runner_);
    writer.SetTimerForTesting(&timer);
    writer.ScheduleWrite(&scheduled);
    writer.WriteNow("direct");
    EXPECT_FALSE(writer.HasPendingWrite());
    runner_->FastForwardBy(TimeDelta::FromSeconds(20));
    EXPECT_EQ("direct", ReadContents(path_));
    EXPECT_EQ(0, scheduled.calls());

    writer.ScheduleWrite(&scheduled);
    EXPECT_TRUE(writer.HasPendingWrite());
  }
  runner_->FastForwardBy(TimeDelta::FromSeconds(20));
  EXPECT_EQ(0, scheduled.calls());
  EXPECT_EQ("direct", ReadContents(path_));
}

}  // namespace base
