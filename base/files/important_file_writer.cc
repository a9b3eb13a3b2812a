#include "base/files/important_file_writer.h"

#include <stdint.h>

#include <limits>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/metrics/histogram_functions.h"

namespace base {

namespace {

const int kDefaultCommitIntervalSeconds = 10;

// The histograms of File::Error values take the negated error.
const int kFileErrorHistogramMax = 17;

std::string HistogramName(StringPiece base_name, StringPiece suffix) {
  std::string name(base_name.data(), base_name.size());
  if (!suffix.empty()) {
    name.push_back('.');
    name.append(suffix.data(), suffix.size());
  }
  return name;
}

void RecordFileError(StringPiece base_name,
                     StringPiece suffix,
                     File::Error error) {
  UmaHistogramExactLinear(HistogramName(base_name, suffix), -error,
                          kFileErrorHistogramMax);
}

void RecordTempFileFailure(StringPiece suffix,
                           ImportantFileWriter::TempFileFailure failure) {
  UmaHistogramExactLinear(
      HistogramName("ImportantFile.TempFileFailures", suffix), failure,
      ImportantFileWriter::TEMP_FILE_FAILURE_MAX);
}

// A temporary file that could not be deleted stays behind under its random
// name; only the histogram tells.
void DeleteTempFile(const FilePath& path, StringPiece suffix) {
  if (!DeleteFile(path, false))
    RecordFileError("ImportantFile.FileDeleteError", suffix,
                    File::GetLastFileError());
}

// One write posted by WriteNow. It may be run where it was posted or, when
// the post is refused, by the poster; either way only once.
class WriteTask : public RefCountedThreadSafe<WriteTask> {
 public:
  WriteTask(const FilePath& path,
            std::string data,
            const std::string& histogram_suffix,
            OnceClosure before_write,
            OnceCallback<void(bool)> after_write)
      : path_(path),
        data_(std::move(data)),
        histogram_suffix_(histogram_suffix),
        before_write_(std::move(before_write)),
        after_write_(std::move(after_write)) {}

  static void RunTask(scoped_refptr<WriteTask> task) { task->Run(); }

  void Run() {
    if (has_run_)
      return;
    has_run_ = true;
    if (before_write_)
      std::move(before_write_).Run();
    const bool result = ImportantFileWriter::WriteFileAtomically(
        path_, data_, histogram_suffix_);
    if (after_write_)
      std::move(after_write_).Run(result);
  }

 private:
  friend class RefCountedThreadSafe<WriteTask>;
  ~WriteTask() = default;

  const FilePath path_;
  const std::string data_;
  const std::string histogram_suffix_;
  OnceClosure before_write_;
  OnceCallback<void(bool)> after_write_;
  bool has_run_ = false;

  DISALLOW_COPY_AND_ASSIGN(WriteTask);
};

}  // namespace

// static
bool ImportantFileWriter::WriteFileAtomically(const FilePath& path,
                                              StringPiece data,
                                              StringPiece histogram_suffix) {
  // One write carries less than 2^31 bytes. A longer text would have its
  // length cut to an int below, and the write of a truncated file could then
  // be reported as a success; refuse it before anything touches the disk.
  if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return false;

  // The temporary file must sit in the target's folder: the final replace
  // is only atomic within one volume.
  FilePath temp_path;
  if (!CreateTemporaryFileInDir(path.DirName(), &temp_path)) {
    RecordFileError("ImportantFile.FileCreateError", histogram_suffix,
                    File::GetLastFileError());
    RecordTempFileFailure(histogram_suffix, FAILED_CREATING);
    return false;
  }

  File temp_file(temp_path, File::FLAG_OPEN | File::FLAG_WRITE);
  if (!temp_file.IsValid()) {
    RecordFileError("ImportantFile.FileOpenError", histogram_suffix,
                    temp_file.error_details());
    RecordTempFileFailure(histogram_suffix, FAILED_OPENING);
    DeleteFile(temp_path, false);
    return false;
  }

  const int data_length = static_cast<int>(data.size());
  const int bytes_written = temp_file.Write(0, data.data(), data_length);
  const bool write_ok = bytes_written == data_length;
  if (!write_ok) {
    RecordFileError("ImportantFile.FileWriteError", histogram_suffix,
                    File::GetLastFileError());
  }
  // The contents must be on the disk before the file takes the target's
  // place; otherwise a power cut could leave the new name with no data.
  const bool flush_ok = temp_file.Flush();
  temp_file.Close();

  if (!write_ok) {
    RecordTempFileFailure(histogram_suffix, FAILED_WRITING);
    DeleteTempFile(temp_path, histogram_suffix);
    return false;
  }
  if (!flush_ok) {
    RecordTempFileFailure(histogram_suffix, FAILED_FLUSHING);
    DeleteTempFile(temp_path, histogram_suffix);
    return false;
  }

  File::Error replace_error = File::FILE_OK;
  if (!ReplaceFile(temp_path, path, &replace_error)) {
    RecordFileError("ImportantFile.FileRenameError", histogram_suffix,
                    replace_error);
    RecordTempFileFailure(histogram_suffix, FAILED_RENAMING);
    DeleteTempFile(temp_path, histogram_suffix);
    return false;
  }
  return true;
}

ImportantFileWriter::ImportantFileWriter(
    const FilePath& path,
    scoped_refptr<SequencedTaskRunner> task_runner,
    const char* histogram_suffix)
    : path_(path),
      task_runner_(std::move(task_runner)),
      serializer_(nullptr),
      commit_interval_(TimeDelta::FromSeconds(kDefaultCommitIntervalSeconds)),
      histogram_suffix_(histogram_suffix ? histogram_suffix : ""),
      timer_override_(nullptr) {
  DCHECK(task_runner_);
}

ImportantFileWriter::~ImportantFileWriter() {
  // Drops a pending write; a timer given for testing may outlive the writer
  // and must not call into it.
  timer().Stop();
}

bool ImportantFileWriter::HasPendingWrite() const {
  return timer().IsRunning();
}

void ImportantFileWriter::WriteNow(std::string data) {
  // The write takes a signed 32-bit length.
  if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return;
  }

  scoped_refptr<WriteTask> task(
      new WriteTask(path_, std::move(data), histogram_suffix_,
                    std::move(before_next_write_callback_),
                    std::move(after_next_write_callback_)));
  if (!task_runner_->PostTask(FROM_HERE, BindOnce(&WriteTask::RunTask, task))) {
    // Better to block the owner than to lose the data.
    task->Run();
  }

  ClearPendingWrite();
}

void ImportantFileWriter::ScheduleWrite(DataSerializer* serializer) {
  DCHECK(serializer);
  serializer_ = serializer;
  // A running timer is not restarted, so a steady stream of changes still
  // reaches the disk once per interval.
  if (!timer().IsRunning()) {
    timer().Start(FROM_HERE, commit_interval_,
                  BindRepeating(&ImportantFileWriter::DoScheduledWrite,
                                Unretained(this)));
  }
}

void ImportantFileWriter::DoScheduledWrite() {
  // Owners flush through here when they commit, pending write or not.
  if (!serializer_) {
    ClearPendingWrite();
    return;
  }
  std::string data;
  if (serializer_->SerializeData(&data))
    WriteNow(std::move(data));
  ClearPendingWrite();
}

void ImportantFileWriter::RegisterOnNextWriteCallbacks(
    OnceClosure before_next_write,
    OnceCallback<void(bool success)> after_next_write) {
  before_next_write_callback_ = std::move(before_next_write);
  after_next_write_callback_ = std::move(after_next_write);
}

void ImportantFileWriter::SetTimerForTesting(Timer* timer_override) {
  timer_override_ = timer_override;
}

void ImportantFileWriter::ClearPendingWrite() {
  timer().Stop();
  serializer_ = nullptr;
}

}  // namespace base
