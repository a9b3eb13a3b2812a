#ifndef CRASH_REPORTER_COMMON_H_
#define CRASH_REPORTER_COMMON_H_

#include <windows.h>

#include <stdint.h>

#include <atomic>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"
#include "crash/crash_generation/crash_generation_protocol.h"

// What every crash-reporter process works with, whether it serves the
// installer's processes or reports a crash of a reporter: its files and
// settings, its pending work and the writing of dumps.
namespace crash_reporter {

// Path-service keys of the crash reporter's files. Nothing provides them:
// they answer only when overridden.
constexpr int kCrashDumpsFolderKey = 2002;
constexpr int kCrashCountersFileKey = 2015;
constexpr int kCrashFlagsFileKey = 2016;
// The profile folder, which `user-data-dir` overrides.
constexpr int kUserDataFolderKey = 1002;

// Dumps of crashed clients may not grow beyond this; the reporter's own
// crashes beyond kSelfCrashDumpSizeLimit.
constexpr int64_t kClientDumpSizeLimit = 3072000;
constexpr int64_t kSelfCrashDumpSizeLimit = 512000;

// MiniDumpWithUnloadedModules | MiniDumpWithIndirectlyReferencedMemory,
// tried before a normal dump.
constexpr uint32_t kRichDumpType = 0x60;

// User streams of the reporter's dumps: the version and UBN, and the
// assertion of an invalid-parameter report.
constexpr uint32_t kVersionStreamType = 0x10000;
constexpr uint32_t kAssertionStreamType = 0x10001;

// What a crashed process tells about its crash, read out of its memory by
// the reporter (the self-crash copy reads a whole one).
struct ExceptionRecord {
  uint32_t thread_id;
  uint32_t padding;
  uint64_t exception_pointers;  // EXCEPTION_POINTERS* in the crashed process.
  AssertionInfo assertion;
};
static_assert(sizeof(ExceptionRecord) == 792, "exception record layout");

// Kinds of AssertionInfo::type in the record.
constexpr uint32_t kAssertionKindException = 0;
constexpr uint32_t kAssertionKindInvalidParameter = 1;
constexpr uint32_t kAssertionKindPureCall = 2;

// Counts the reporter's unfinished work: the parent's life, dumps being
// written and uploads. Wait returns once the count has come down to 0.
class PendingWorkCounter {
 public:
  static PendingWorkCounter* GetInstance();

  // Creates the event that Wait waits for; false when it cannot be made.
  bool CreateEvent();
  void Add();
  void Release();
  // Until the count is 0; work added again after it had come down to 0 is
  // waited for too.
  void Wait();

  uint32_t count() const { return count_.load(); }

  // Forgets the event and the count; tests only.
  void ResetForTesting();

 private:
  PendingWorkCounter();
  ~PendingWorkCounter();

  HANDLE event_ = nullptr;
  std::atomic<uint32_t> count_;

  DISALLOW_COPY_AND_ASSIGN(PendingWorkCounter);
};

// The crash folder (and makes it), the counters file and the flags file.
// False only when no crash folder can be had at all.
bool InitCrashReporterPaths();
const base::FilePath& GetCrashFolder();
const base::FilePath& GetCountersFilePath();
const base::FilePath& GetFlagsFilePath();

// Reads whether the user allows crash reports from the flags file; a file
// that cannot be read or says nothing keeps them on.
void LoadCrashReportingEnabled(const base::FilePath& flags_file);
bool IsCrashReportingEnabled();

// The alternative server variable or the product's crash service.
void InitCrashUploadUrl();
const base::string16& GetCrashUploadUrl();

// The reporter's log file in the temporary folder.
void InitCrashReporterLogging();

// "<product>-crashlog-<own pid>-<next sequence number>.dmp".
base::string16 NextDumpFileName();

// Writes the dump of a crashed client from the addresses it registered.
bool WriteDumpForClient(DWORD process_id,
                        const DWORD* remote_thread_id,
                        EXCEPTION_POINTERS* const* remote_exception_pointers,
                        const AssertionInfo* remote_assertion,
                        const base::FilePath& path,
                        int64_t size_limit);
// Writes the dump of a process from a whole ExceptionRecord in its memory.
bool WriteDumpFromExceptionInfo(DWORD process_id,
                                uint64_t remote_record,
                                const base::FilePath& path,
                                int64_t size_limit);
// Writes |path| with a rich dump, or a normal one when that is too large;
// the file is deleted when neither fits |size_limit|.
bool WriteMinidumpFile(HANDLE process,
                       DWORD process_id,
                       const ExceptionRecord& record,
                       const base::FilePath& path,
                       int64_t size_limit);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_COMMON_H_
