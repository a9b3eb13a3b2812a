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

// Writes entries on threads of its own while the caller goes on decoding,
// so that the decoder never waits for the file system. Creating, sizing and
// writing a file costs more than decoding it: several writers keep the
// decoder busy. Without any writer thread the caller writes each entry
// itself when it hands it over.
class EntryWriters {
 public:
  explicit EntryWriters(size_t threads);
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
  // null), in archive order.
  uint8_t Finish(std::vector<base::FilePath>* written_files);

 private:
  class Worker;

  void RunJobs();
  void Write(const EntryJob& job);

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
  // Entry index and path of every file made.
  std::vector<std::pair<size_t, base::FilePath>> made_;
  std::vector<std::unique_ptr<Worker>> workers_;

  DISALLOW_COPY_AND_ASSIGN(EntryWriters);
};

}  // namespace lzma
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ENTRY_WRITERS_H_
