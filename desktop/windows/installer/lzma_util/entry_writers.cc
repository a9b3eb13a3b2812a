#include "desktop/windows/installer/lzma_util/entry_writers.h"

#include <algorithm>
#include <atomic>

#include "7zCrc.h"
#include "7zTypes.h"
#include "base/logging.h"
#include "base/threading/simple_thread.h"
#include "desktop/windows/installer/lzma_util/archive_reading.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"

namespace installer {
namespace lzma {

namespace {

// A single WriteFile stays below 4 GiB.
const DWORD kMaxWrite = 0xFFFF0000;
// No page of the block is smaller.
const size_t kPageSize = 4096;

std::atomic<EntryReadHook> g_entry_read_hook{nullptr};

// An entry's reading of the block, run under the in-page guard.
struct EntryRead {
  const EntryJob* job;
  bool intact;
};

void ReadEntry(void* argument) {
  EntryRead* read = static_cast<EntryRead*>(argument);
  const EntryJob& job = *read->job;
  EntryReadHook hook = g_entry_read_hook.load();
  if (hook)
    hook(job.data, job.size);
  if (job.has_crc) {
    read->intact = CrcCalc(job.data, job.size) == job.crc;
    return;
  }
  // A page that cannot be brought back faults here, where it is caught,
  // rather than in the middle of the file's writing.
  const volatile uint8_t* bytes = job.data;
  uint8_t sink = 0;
  for (size_t at = 0; at < job.size; at += kPageSize)
    sink ^= bytes[at];
  if (job.size > 0)
    sink ^= bytes[job.size - 1];
  read->intact = true;
  (void)sink;
}

}  // namespace

void SetEntryReadHookForTesting(EntryReadHook hook) {
  g_entry_read_hook.store(hook);
}

uint8_t WriteEntry(const EntryJob& job,
                   InPageErrorGuard* guard,
                   uint32_t* in_page_status,
                   bool* created) {
  *created = false;
  EntryRead read = {&job, false};
  // The bytes are checked before the file is made: a damaged or unreadable
  // entry leaves nothing behind.
  if (!guard->Run(ReadEntry, &read, in_page_status)) {
    LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while reading the unpacked bytes of "
               << job.path.value() << "; NTSTATUS = " << *in_page_status;
    return LzmaUtil::EXTRACT_IN_PAGE_ERROR;
  }
  if (!read.intact) {
    LOG(ERROR) << "Error returned by SzExtract: " << SZ_ERROR_CRC << " ("
               << job.path.value() << " does not match its checksum)";
    return LzmaUtil::EXTRACT_DECODER_ERROR;
  }
  return WriteEntryFile(job.path, job.data, job.size,
                        job.has_time ? &job.modified : nullptr, created);
}

uint8_t WriteEntryFile(const base::FilePath& path,
                       const uint8_t* data,
                       size_t size,
                       const FILETIME* modified,
                       bool* created) {
  *created = false;
  HANDLE file = ::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LOG(ERROR) << "Error returned by CreateFile: " << ::GetLastError();
    return LzmaUtil::EXTRACT_CREATE_FILE_FAILED;
  }
  *created = true;
  // Sized before the writes, the volume gives the file its room at once
  // instead of growing it write by write. A volume that cannot do so still
  // takes the writes, so a refusal is only logged; a full volume then fails
  // the write below with its own error.
  if (size > 0) {
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(file, FileEndOfFileInfo, &end,
                                      sizeof(end))) {
      PLOG(WARNING) << "Cannot size " << path.value() << " to " << size
                    << " bytes before writing it";
    }
  }
  // One write for every entry below 4 GiB. A drive about to fill up may
  // take part of a write and report success (Wine does so); the next write
  // then fails with the drive's own error, which is the one to report.
  size_t done = 0;
  while (done < size) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(size - done, kMaxWrite));
    DWORD written = 0;
    const bool wrote = ::WriteFile(file, data + done, chunk, &written, nullptr);
    if (wrote && written > 0) {
      done += written;
      continue;
    }
    DWORD error = wrote ? ERROR_DISK_FULL : ::GetLastError();
    if (error == ERROR_SUCCESS)
      error = ERROR_WRITE_FAULT;
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by WriteFile " << error;
    ::CloseHandle(file);
    return LzmaUtil::EXTRACT_WRITE_FAILED;
  }
  if (modified && !::SetFileTime(file, nullptr, nullptr, modified)) {
    const DWORD error = ::GetLastError();
    PLOG(ERROR) << "Error returned by SetFileTime " << error;
    ::CloseHandle(file);
    return LzmaUtil::EXTRACT_SET_TIME_FAILED;
  }
  if (!::CloseHandle(file)) {
    const DWORD error = ::GetLastError();
    PLOG(ERROR) << "Error returned by CloseHandle " << error;
    return LzmaUtil::EXTRACT_CLOSE_FAILED;
  }
  return LzmaUtil::EXTRACT_SUCCESS;
}

class EntryWriters::Worker : public base::SimpleThread {
 public:
  explicit Worker(EntryWriters* owner)
      : base::SimpleThread("Entry writer"), owner_(owner) {}
  void Run() override {
    // The guard watches the thread that makes it.
    InPageErrorGuard guard(owner_->allocator_);
    owner_->RunJobs(&guard);
  }

 private:
  EntryWriters* const owner_;
};

EntryWriters::EntryWriters(size_t threads,
                           const MappedFileAllocator* allocator,
                           InPageErrorGuard* caller_guard)
    : allocator_(allocator),
      caller_guard_(caller_guard),
      work_added_(&lock_),
      work_done_(&lock_) {
  for (size_t i = 0; i < threads; ++i) {
    auto worker = std::make_unique<Worker>(this);
    worker->Start();
    if (!worker->HasBeenStarted()) {
      LOG(WARNING) << "Cannot start an entry writer thread; " << i
                   << " of " << threads << " write the entries";
      break;
    }
    workers_.push_back(std::move(worker));
  }
}

EntryWriters::~EntryWriters() {
  Finish(nullptr, nullptr);
}

void EntryWriters::Add(EntryJob job) {
  if (workers_.empty()) {
    Write(job, caller_guard_);
    return;
  }
  base::AutoLock hold(lock_);
  jobs_.push_back(std::move(job));
  work_added_.Signal();
}

void EntryWriters::WaitIdle() {
  base::AutoLock hold(lock_);
  while (!jobs_.empty() || busy_ > 0)
    work_done_.Wait();
}

bool EntryWriters::failed() {
  base::AutoLock hold(lock_);
  return failed_index_ != SIZE_MAX;
}

uint8_t EntryWriters::Finish(std::vector<base::FilePath>* written_files,
                             uint32_t* in_page_status) {
  if (!finished_) {
    finished_ = true;
    {
      base::AutoLock hold(lock_);
      ending_ = true;
      work_added_.Broadcast();
    }
    for (auto& worker : workers_)
      worker->Join();
    workers_.clear();
    std::sort(made_.begin(), made_.end());
  }
  if (written_files) {
    for (const auto& made : made_)
      written_files->push_back(made.second);
  }
  if (in_page_status && failed_index_ != SIZE_MAX &&
      failure_ == LzmaUtil::EXTRACT_IN_PAGE_ERROR) {
    *in_page_status = failure_in_page_status_;
  }
  return failed_index_ == SIZE_MAX
             ? static_cast<uint8_t>(LzmaUtil::EXTRACT_SUCCESS)
             : failure_;
}

void EntryWriters::RunJobs(InPageErrorGuard* guard) {
  base::AutoLock hold(lock_);
  for (;;) {
    while (jobs_.empty() && !ending_)
      work_added_.Wait();
    if (jobs_.empty())
      return;
    const EntryJob job = std::move(jobs_.front());
    jobs_.pop_front();
    ++busy_;
    {
      base::AutoUnlock unhold(lock_);
      Write(job, guard);
    }
    --busy_;
    work_done_.Broadcast();
  }
}

void EntryWriters::Write(const EntryJob& job, InPageErrorGuard* guard) {
  bool created = false;
  uint32_t in_page_status = 0;
  const uint8_t result = WriteEntry(job, guard, &in_page_status, &created);
  base::AutoLock hold(lock_);
  if (created)
    made_.emplace_back(job.index, job.path);
  if (result != LzmaUtil::EXTRACT_SUCCESS && job.index < failed_index_) {
    failed_index_ = job.index;
    failure_ = result;
    failure_in_page_status_ = in_page_status;
  }
}

}  // namespace lzma
}  // namespace installer
