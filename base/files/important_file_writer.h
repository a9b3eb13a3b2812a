#ifndef BASE_FILES_IMPORTANT_FILE_WRITER_H_
#define BASE_FILES_IMPORTANT_FILE_WRITER_H_

#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/strings/string_piece.h"
#include "base/time/time.h"
#include "base/timer/timer.h"

namespace base {

// Writes files that must never be found half-written: the new contents go
// to a temporary file in the target's folder, which is flushed to disk and
// then put in the place of the target in one step. A crash at any moment
// leaves either the old file or the new one.
//
// On top of that it coalesces writes: the owner calls ScheduleWrite as often
// as its data changes, and one write happens a commit interval after the
// first call of a burst, serialised on the owner's sequence at that moment
// and carried out on |task_runner|.
//
// The writer, its timer and the registration of callbacks belong to the
// owner's sequence.
class ImportantFileWriter {
 public:
  // Implemented by the owner of the data.
  class DataSerializer {
   public:
    // Fills |data|; false means there is nothing to write this time.
    virtual bool SerializeData(std::string* data) = 0;

   protected:
    virtual ~DataSerializer() = default;
  };

  // The reasons a temporary-file write failed, as recorded in the
  // "ImportantFile.TempFileFailures" histogram. The value 2 is not used.
  enum TempFileFailure {
    FAILED_CREATING = 0,
    FAILED_OPENING = 1,
    FAILED_WRITING = 3,
    FAILED_RENAMING = 4,
    FAILED_FLUSHING = 5,
    TEMP_FILE_FAILURE_MAX = 6,
  };

  // |histogram_suffix| (may be null) is appended, after a dot, to the names
  // of the histograms that record failures.
  ImportantFileWriter(const FilePath& path,
                      scoped_refptr<SequencedTaskRunner> task_runner,
                      const char* histogram_suffix = nullptr);

  // A pending write is dropped, never written; owners that must not lose
  // data call DoScheduledWrite first.
  ~ImportantFileWriter();

  // Writes |data| to |path| atomically, on the calling thread. Failures are
  // reported by the result and the histograms only; |path| is then as it
  // was. Data of 2^31 bytes or more is refused (false) without touching the
  // disk.
  [[nodiscard]] static bool WriteFileAtomically(
      const FilePath& path,
      StringPiece data,
      StringPiece histogram_suffix = StringPiece());

  const FilePath& path() const { return path_; }

  // True while a scheduled write waits for its timer.
  bool HasPendingWrite() const;

  // Posts a write of |data| to the file task runner now (or writes it at
  // once when the post is refused) and cancels any scheduled write. Data of
  // 2^31 bytes or more is dropped.
  void WriteNow(std::string data);

  // Asks for a write from |serializer| (not owned; it must stay alive until
  // the write happens or the writer is destroyed). A later call within the
  // same commit interval only replaces the serializer.
  void ScheduleWrite(DataSerializer* serializer);

  // Serialises and writes the scheduled data now.
  void DoScheduledWrite();

  // Both callbacks belong to the next write only and run on the file task
  // runner: |before_next_write| just before it, |after_next_write| with its
  // result. Either may be null.
  void RegisterOnNextWriteCallbacks(
      OnceClosure before_next_write,
      OnceCallback<void(bool success)> after_next_write);

  TimeDelta commit_interval() const { return commit_interval_; }

  // Makes the writer schedule with |timer_override| (not owned; null goes
  // back to its own timer), so that tests can step time by hand.
  void SetTimerForTesting(Timer* timer_override);

 private:
  Timer& timer() {
    return timer_override_ ? *timer_override_ : static_cast<Timer&>(timer_);
  }
  const Timer& timer() const {
    return timer_override_ ? *timer_override_
                           : static_cast<const Timer&>(timer_);
  }

  // Stops the timer and forgets the serializer.
  void ClearPendingWrite();

  OnceClosure before_next_write_callback_;
  OnceCallback<void(bool success)> after_next_write_callback_;
  const FilePath path_;
  const scoped_refptr<SequencedTaskRunner> task_runner_;
  OneShotTimer timer_;
  DataSerializer* serializer_;
  const TimeDelta commit_interval_;
  const std::string histogram_suffix_;
  Timer* timer_override_;

  DISALLOW_COPY_AND_ASSIGN(ImportantFileWriter);
};

}  // namespace base

#endif  // BASE_FILES_IMPORTANT_FILE_WRITER_H_
