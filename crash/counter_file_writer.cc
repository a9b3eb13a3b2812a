#include "crash/counter_file_writer.h"

#include <limits>
#include <memory>
#include <utility>

#include "base/files/file.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"

namespace crash_reporter {

namespace {

// After this many merges failed in a row the worker stops retrying on its
// own and waits for the next wake-up.
constexpr int kMaxRetriesInARow = 9;
constexpr base::TimeDelta kRetryDelay = base::TimeDelta::FromMilliseconds(100);

constexpr int kMaxFinalAttempts = 10;
constexpr base::TimeDelta kFinalRetryDelay =
    base::TimeDelta::FromMilliseconds(50);

constexpr int kReadPieceSize = 1024;

// A counter that reached the end of its range stays there rather than
// wrapping round to a negative count.
int SaturatingAdd(int64_t a, int64_t b) {
  const int64_t sum = a + b;
  if (sum > std::numeric_limits<int>::max())
    return std::numeric_limits<int>::max();
  if (sum < std::numeric_limits<int>::min())
    return std::numeric_limits<int>::min();
  return static_cast<int>(sum);
}

// Adds the file's integer members to |counts|. False when the file could
// not be read or does not hold a JSON object; other members are ignored.
bool ReadCounts(base::File* file, std::map<std::string, int>* counts) {
  const int64_t length = file->GetLength();
  if (length == 0)
    return true;
  if (length < 0)
    return false;
  if (file->Seek(base::File::FROM_BEGIN, 0) != 0)
    return false;
  std::string text;
  char piece[kReadPieceSize];
  for (;;) {
    const int rv = file->ReadAtCurrentPos(piece, sizeof(piece));
    if (rv < 0)
      return false;
    if (rv == 0)
      break;
    text.append(piece, rv);
  }
  std::unique_ptr<base::Value> value = base::JSONReader::Read(text);
  const base::DictionaryValue* dict = nullptr;
  if (!value || !value->GetAsDictionary(&dict))
    return false;
  for (base::DictionaryValue::Iterator it(*dict); !it.IsAtEnd(); it.Advance()) {
    if (!it.value().is_int())
      continue;
    int& count = (*counts)[it.key()];
    count = SaturatingAdd(count, it.value().GetInt());
  }
  return true;
}

bool WriteCounts(base::File* file, const std::map<std::string, int>& counts) {
  base::DictionaryValue dict;
  // Counter names may hold dots: they are keys, never paths.
  for (const auto& pair : counts) {
    dict.SetWithoutPathExpansion(pair.first,
                                 std::make_unique<base::Value>(pair.second));
  }
  std::string text;
  if (!base::JSONWriter::Write(dict, &text))
    return false;
  if (!file->SetLength(0))
    return false;
  // Half a text on disk would make every later merge fail to read the file,
  // so only the whole text is a success.
  const int written =
      file->Write(0, text.data(), static_cast<int>(text.size()));
  return written > 0 && static_cast<size_t>(written) == text.size();
}

}  // namespace

void CounterFileWriter::WorkerHooks::Sleep(base::TimeDelta duration) {
  base::PlatformThread::Sleep(duration);
}

bool CounterFileWriter::WorkerHooks::StartWorker(
    base::PlatformThread::Delegate* worker,
    base::PlatformThreadHandle* handle) {
  return base::PlatformThread::Create(0, worker, handle);
}

CounterFileWriter::CounterFileWriter(const base::FilePath& path)
    : CounterFileWriter(path, nullptr) {}

CounterFileWriter::CounterFileWriter(const base::FilePath& path,
                                     WorkerHooks* hooks)
    : path_(path),
      hooks_(hooks ? hooks : &default_hooks_),
      wake_event_(base::WaitableEvent::ResetPolicy::AUTOMATIC,
                  base::WaitableEvent::InitialState::NOT_SIGNALED),
      stop_(false) {
  if (!hooks_->StartWorker(this, &thread_))
    thread_ = base::PlatformThreadHandle();
}

CounterFileWriter::~CounterFileWriter() {
  stop_ = true;
  if (thread_.is_null()) {
    // Nobody else will merge what is left.
    FinalFlush();
    return;
  }
  wake_event_.Signal();
  base::PlatformThread::Join(thread_);
}

void CounterFileWriter::Wake() {
  if (!thread_.is_null()) {
    wake_event_.Signal();
    return;
  }
  // Without a worker the increments would only reach the file at the end,
  // or never if this process is stopped first. A failed merge keeps them
  // for the next wake-up.
  (void)WorkerFlush();
}

void CounterFileWriter::Add(const std::string& name,
                            int32_t amount,
                            bool wake) {
  {
    base::AutoLock auto_lock(lock_);
    int32_t& pending = pending_[name];
    pending = SaturatingAdd(pending, amount);
  }
  if (wake)
    Wake();
}

void CounterFileWriter::AddAll(const Increments& increments, bool wake) {
  {
    base::AutoLock auto_lock(lock_);
    AddAllLocked(increments);
  }
  if (wake)
    Wake();
}

void CounterFileWriter::AddAllLocked(const Increments& increments) {
  for (const auto& pair : increments) {
    int32_t& pending = pending_[pair.first];
    pending = SaturatingAdd(pending, pair.second);
  }
}

bool CounterFileWriter::HasPending() {
  base::AutoLock auto_lock(lock_);
  return !pending_.empty();
}

bool CounterFileWriter::Flush() {
  Increments taken;
  {
    base::AutoLock auto_lock(lock_);
    taken.swap(pending_);
  }
  if (taken.empty())
    return true;

  bool merged = false;
  {
    base::File file(path_, base::File::FLAG_OPEN_ALWAYS |
                               base::File::FLAG_READ | base::File::FLAG_WRITE);
    // Another process's lock lets the open succeed but not the lock.
    if (file.IsValid() && file.Lock() == base::File::FILE_OK) {
      Counts counts;
      if (file.created() || ReadCounts(&file, &counts)) {
        for (const auto& pair : taken) {
          int& count = counts[pair.first];
          count = SaturatingAdd(count, pair.second);
        }
        merged = WriteCounts(&file, counts);
      }
    }
    // Closing the file releases the lock.
  }
  if (merged)
    return true;

  AddAll(taken, false);
  return false;
}

bool CounterFileWriter::WorkerFlush() {
  const bool succeeded = Flush();
  hooks_->FlushAttempted(succeeded);
  return succeeded;
}

void CounterFileWriter::ThreadMain() {
  int failures_in_a_row = 0;
  hooks_->WaitingForWake();
  wake_event_.Wait();
  while (!stop_) {
    if (WorkerFlush()) {
      failures_in_a_row = 0;
    } else if (++failures_in_a_row <= kMaxRetriesInARow) {
      // The next wait returns at once: another try after the pause.
      wake_event_.Signal();
      hooks_->Sleep(kRetryDelay);
    } else {
      failures_in_a_row = 0;
    }
    hooks_->WaitingForWake();
    wake_event_.Wait();
  }
  FinalFlush();
}

void CounterFileWriter::FinalFlush() {
  if (!HasPending())
    return;
  for (int attempt = 0; attempt < kMaxFinalAttempts; ++attempt) {
    if (WorkerFlush())
      return;
    hooks_->Sleep(kFinalRetryDelay);
  }
}

}  // namespace crash_reporter
