#ifndef DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ENTRY_WRITERS_H_
#define DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ENTRY_WRITERS_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"

namespace installer {
namespace lzma {

class InPageErrorGuard;
class MappedFileAllocator;

// One archive entry to write. Its bytes stay where the decoder put them
// (the unpacked block) until the entry is written.
struct EntryJob {
  size_t index = 0;  // The entry's place in the archive.
  base::FilePath path;
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool has_crc = false;
  uint32_t crc = 0;
  bool has_time = false;
  FILETIME modified = {};
};

// Writes one entry's bytes into a new |path| (sized first, so the volume
// places it in one piece), with its modification time. |created| tells
// whether the file was made (and must go again on a rollback), also when a
// later step failed. Returns an LzmaUtil::ExtractResult.
uint8_t WriteEntryFile(const base::FilePath& path,
                       const uint8_t* data,
                       size_t size,
                       const FILETIME* modified,
                       bool* created);

// Writes |job|: reads its bytes under |guard| (the checksum when it has one,
// else a touch of every page), so that a page of the mapped block that
// cannot be brought back fails the entry as EXTRACT_IN_PAGE_ERROR
// (|in_page_status| gets the NTSTATUS) before its file is made, then writes
// the file. WriteFile's own reads of the block happen in the system, which
// fails the call on such a page instead. |guard| must be the calling
// thread's. Returns an LzmaUtil::ExtractResult; |created| as above.
uint8_t WriteEntry(const EntryJob& job,
                   InPageErrorGuard* guard,
                   uint32_t* in_page_status,
                   bool* created);

// Tests only: called with an entry's bytes on the thread that writes it,
// under that thread's guard, before it reads them.
using EntryReadHook = void (*)(const void* data, size_t size);
void SetEntryReadHookForTesting(EntryReadHook hook);

// Writes entries on threads of its own while the caller goes on decoding,
// so that the decoder never waits for the file system. Creating, sizing and
// writing a file costs more than decoding it: several writers keep the
// decoder busy. Without any writer thread the caller writes each entry
// itself when it hands it over.
class EntryWriters {
 public:
  // Each writer thread reads the entries under a guard of its own over
  // |allocator|'s view; without writer threads the caller writes under
  // |caller_guard|, which must be the calling thread's.
  EntryWriters(size_t threads,
               const MappedFileAllocator* allocator,
               InPageErrorGuard* caller_guard);
  // Finishes the work handed over.
  ~EntryWriters();

  // Hands over |job|; its data must stay readable until WaitIdle or Finish
  // returned.
  void Add(EntryJob job);
  // Returns once every job handed over is written (or failed).
  void WaitIdle();
  // True once a job failed: the caller hands over no more.
  bool failed();
  // Waits for the work handed over and ends the threads. Returns the result
  // of the failed job that comes first in the archive (EXTRACT_SUCCESS when
  // none failed) and appends every file made to |written_files| (may be
  // null), in archive order. When that result is EXTRACT_IN_PAGE_ERROR,
  // |in_page_status| (may be null) gets its NTSTATUS.
  uint8_t Finish(std::vector<base::FilePath>* written_files,
                 uint32_t* in_page_status);

 private:
  class Worker;

  void RunJobs(InPageErrorGuard* guard);
  void Write(const EntryJob& job, InPageErrorGuard* guard);

  const MappedFileAllocator* const allocator_;
  InPageErrorGuard* const caller_guard_;

  base::Lock lock_;
  base::ConditionVariable work_added_;
  base::ConditionVariable work_done_;
  std::deque<EntryJob> jobs_;
  size_t busy_ = 0;
  bool ending_ = false;
  bool finished_ = false;
  // The first failure in archive order: its entry and result.
  size_t failed_index_ = SIZE_MAX;
  uint8_t failure_ = 0;
  uint32_t failure_in_page_status_ = 0;
  // Entry index and path of every file made.
  std::vector<std::pair<size_t, base::FilePath>> made_;
  std::vector<std::unique_ptr<Worker>> workers_;

  DISALLOW_COPY_AND_ASSIGN(EntryWriters);
};

}  // namespace lzma
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ENTRY_WRITERS_H_
