#include "crash/reporter_common.h"

#include <windows.h>
#include <dbghelp.h>

#include <stdio.h>

#include <atomic>
#include <memory>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "crash/crash_generation/minidump_generator.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter.h"

namespace crash_reporter {

namespace {

constexpr char kAlternativeServerVariable[] =
    "KAVOR_ALTERNATIVE_CRASH_SERVER_URL";
constexpr char kReportingEnabledPath[] =
    "user_experience_metrics.reporting_enabled";
// MiniDumpWriteDump's answer to a dump type this dbghelp does not know.
constexpr DWORD kDumpTypeNotSupported = 0x80070057;

struct ReporterPaths {
  base::FilePath crash_folder;
  base::FilePath counters_file;
  base::FilePath flags_file;
};

ReporterPaths& Paths() {
  static ReporterPaths* const paths = new ReporterPaths();
  return *paths;
}

bool g_crash_reporting_enabled = true;

base::string16& UploadUrl() {
  static base::string16* const url = new base::string16();
  return *url;
}

std::atomic<uint32_t> g_dump_sequence(0);

bool LogToNormalLogging(
    base::logging::LogSeverity, const char*, int, size_t, const std::string&) {
  return false;
}

bool EmptyFile(HANDLE file) {
  LARGE_INTEGER zero = {};
  return ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(file);
}

// Writes one dump of |type| into |file|; the outcome decides whether the
// next type is tried.
enum class DumpAttempt { kFits, kTryNext, kFailed };

DumpAttempt WriteDumpOnce(DumpLibraries::MiniDumpWriteDumpFunction write_dump,
                          HANDLE process,
                          DWORD process_id,
                          HANDLE file,
                          uint32_t type,
                          MINIDUMP_EXCEPTION_INFORMATION* exception,
                          MINIDUMP_USER_STREAM_INFORMATION* streams,
                          int64_t size_limit) {
  if (!write_dump(process, process_id, file, static_cast<MINIDUMP_TYPE>(type),
                  exception, streams, nullptr)) {
    if (::GetLastError() != kDumpTypeNotSupported)
      return DumpAttempt::kFailed;
    return EmptyFile(file) ? DumpAttempt::kTryNext : DumpAttempt::kFailed;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size))
    return DumpAttempt::kFailed;
  if (size.QuadPart <= size_limit)
    return DumpAttempt::kFits;
  LOG(WARNING) << "A dump of type 0x" << std::hex << type << std::dec
               << " took " << size.QuadPart << " bytes, more than "
               << size_limit;
  return EmptyFile(file) ? DumpAttempt::kTryNext : DumpAttempt::kFailed;
}

}  // namespace

// PendingWorkCounter ---------------------------------------------------------

PendingWorkCounter::PendingWorkCounter() : count_(0) {}

PendingWorkCounter::~PendingWorkCounter() {
  if (event_)
    ::CloseHandle(event_);
}

// static
PendingWorkCounter* PendingWorkCounter::GetInstance() {
  static PendingWorkCounter instance;
  return &instance;
}

bool PendingWorkCounter::CreateEvent() {
  if (!event_)
    event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event_ != nullptr;
}

void PendingWorkCounter::Add() {
  count_.fetch_add(1);
}

void PendingWorkCounter::Release() {
  if (count_.fetch_sub(1) == 1 && event_)
    ::SetEvent(event_);
}

void PendingWorkCounter::Wait() {
  if (!event_)
    return;
  for (;;) {
    ::WaitForSingleObject(event_, INFINITE);
    if (count_.load() == 0)
      return;
    // Work came after the count had been 0. A Release that brought it down
    // again before this reset is seen by the second look.
    ::ResetEvent(event_);
    if (count_.load() == 0)
      return;
  }
}

void PendingWorkCounter::ResetForTesting() {
  if (event_)
    ::CloseHandle(event_);
  event_ = nullptr;
  count_.store(0);
}

// Paths, settings and logging ------------------------------------------------

bool InitCrashReporterPaths() {
  ReporterPaths& paths = Paths();
  const base::FilePath user_data =
      base::CommandLine::ForCurrentProcess()->GetSwitchValuePath(
          "user-data-dir");
  if (!user_data.empty()) {
    (void)base::PathService::OverrideAndCreateIfNeeded(kUserDataFolderKey,
                                                       user_data, false, true);
  }
  if (!base::PathService::Get(kCrashCountersFileKey, &paths.counters_file))
    paths.counters_file.clear();
  if (!base::PathService::Get(kCrashFlagsFileKey, &paths.flags_file))
    paths.flags_file.clear();

  paths.crash_folder.clear();
  const std::string log_dir = GetEnvironmentValue(kCrashLogDirVariable);
  if (!log_dir.empty()) {
    const base::FilePath folder(base::UTF8ToWide(log_dir));
    if (base::CreateDirectory(folder))
      paths.crash_folder = folder;
  }
  if (paths.crash_folder.empty())
    return base::GetTempDir(&paths.crash_folder);
  return true;
}

const base::FilePath& GetCrashFolder() {
  return Paths().crash_folder;
}

const base::FilePath& GetCountersFilePath() {
  return Paths().counters_file;
}

const base::FilePath& GetFlagsFilePath() {
  return Paths().flags_file;
}

void LoadCrashReportingEnabled(const base::FilePath& flags_file) {
  int error_code = 0;
  std::string error_message;
  std::unique_ptr<base::Value> value =
      base::JSONFileValueDeserializer(flags_file)
          .Deserialize(&error_code, &error_message);
  const base::DictionaryValue* dictionary = nullptr;
  if (!value || error_code != 0 || !value->GetAsDictionary(&dictionary))
    return;
  bool enabled = true;
  if (dictionary->GetBoolean(kReportingEnabledPath, &enabled))
    g_crash_reporting_enabled = enabled;
}

bool IsCrashReportingEnabled() {
  return g_crash_reporting_enabled;
}

void InitCrashUploadUrl() {
  const std::string alternative =
      GetEnvironmentValue(kAlternativeServerVariable);
  UploadUrl() = base::UTF8ToWide(
      alternative.empty() ? GetCrashProductInfo().upload_url : alternative);
}

const base::string16& GetCrashUploadUrl() {
  return UploadUrl();
}

void InitCrashReporterLogging() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(arraysize(temp), temp);
  base::string16 log_file;
  if (length > 0 && length < arraysize(temp)) {
    log_file = base::string16(temp, length) +
               base::UTF8ToWide(LowerProductWord()) + L"_crashreporter.log";
    if (log_file.size() + 1 >= MAX_PATH + 2)
      log_file.clear();
  }
  base::logging::LoggingSettings settings;
  settings.logging_dest = log_file.empty() ? base::logging::LOG_TO_DEBUG_OUTPUT
                                           : base::logging::LOG_TO_FILE;
  settings.log_file = log_file.empty() ? nullptr : log_file.c_str();
  // Every reporter of the session writes to the one file.
  settings.delete_old = base::logging::APPEND_TO_OLD_FILE;
  (void)base::logging::InitLogging(settings);
  base::logging::SetLogItems(true, true, true, true);
  base::logging::SetMinLogLevel(0);
  base::logging::SetLogMessageHandler(&LogToNormalLogging);
}

base::string16 NextDumpFileName() {
  const uint32_t sequence = g_dump_sequence.fetch_add(1) + 1;
  wchar_t name[MAX_PATH];
  swprintf(name, arraysize(name), L"%ls-crashlog-%ld-%u%ls",
           base::UTF8ToWide(LowerProductWord()).c_str(),
           static_cast<long>(::GetCurrentProcessId()), sequence, L".dmp");
  return name;
}

// Dumps ---------------------------------------------------------------------

bool WriteMinidumpFile(HANDLE process,
                       DWORD process_id,
                       const ExceptionRecord& record,
                       const base::FilePath& path,
                       int64_t size_limit) {
  HANDLE file =
      ::CreateFileW(path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;

  bool written = false;
  {
    DumpLibraries libraries;
    DumpLibraries::MiniDumpWriteDumpFunction write_dump =
        libraries.GetWriteDump();
    if (write_dump) {
      MINIDUMP_EXCEPTION_INFORMATION exception = {};
      exception.ThreadId = record.thread_id;
      exception.ExceptionPointers =
          reinterpret_cast<EXCEPTION_POINTERS*>(record.exception_pointers);
      exception.ClientPointers = TRUE;

      const CrashProductInfo& info = GetCrashProductInfo();
      std::string version = info.version + " " + base::IntToString(info.ubn);
      AssertionInfo assertion = record.assertion;
      MINIDUMP_USER_STREAM streams[2] = {};
      streams[0].Type = kVersionStreamType;
      streams[0].BufferSize = static_cast<ULONG>(version.size());
      streams[0].Buffer = &version[0];
      streams[1].Type = kAssertionStreamType;
      streams[1].BufferSize = sizeof(assertion);
      streams[1].Buffer = &assertion;
      MINIDUMP_USER_STREAM_INFORMATION stream_info = {};
      stream_info.UserStreamCount =
          record.assertion.type == kAssertionKindInvalidParameter ? 2 : 1;
      stream_info.UserStreamArray = streams;

      for (uint32_t type : {kRichDumpType, 0u}) {
        const DumpAttempt attempt =
            WriteDumpOnce(write_dump, process, process_id, file, type,
                          record.exception_pointers ? &exception : nullptr,
                          &stream_info, size_limit);
        if (attempt == DumpAttempt::kTryNext)
          continue;
        written = attempt == DumpAttempt::kFits;
        break;
      }
    }
  }
  ::CloseHandle(file);
  if (!written)
    ::DeleteFileW(path.value().c_str());
  return written;
}

namespace {

// Opens |process_id| for reading its memory, has |read| fill the record out
// of it, and dumps the process.
template <typename ReadRecord>
bool DumpProcess(DWORD process_id,
                 const base::FilePath& path,
                 int64_t size_limit,
                 ReadRecord read) {
  base::win::ScopedHandle process(::OpenProcess(
      PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  if (!process.IsValid())
    return false;
  ExceptionRecord record = {};
  return read(process.Get(), &record) &&
         WriteMinidumpFile(process.Get(), process_id, record, path, size_limit);
}

}  // namespace

bool WriteDumpForClient(DWORD process_id,
                        const DWORD* remote_thread_id,
                        EXCEPTION_POINTERS* const* remote_exception_pointers,
                        const AssertionInfo* remote_assertion,
                        const base::FilePath& path,
                        int64_t size_limit) {
  return DumpProcess(
      process_id, path, size_limit,
      [&](HANDLE process, ExceptionRecord* record) {
        return ReadProcessMemoryExactly(process, remote_exception_pointers,
                                        &record->exception_pointers,
                                        sizeof(record->exception_pointers)) &&
               ReadProcessMemoryExactly(process, remote_thread_id,
                                        &record->thread_id,
                                        sizeof(record->thread_id)) &&
               (!remote_assertion ||
                ReadProcessMemoryExactly(process, remote_assertion,
                                         &record->assertion,
                                         sizeof(record->assertion)));
      });
}

bool WriteDumpFromExceptionInfo(DWORD process_id,
                                uint64_t remote_record,
                                const base::FilePath& path,
                                int64_t size_limit) {
  return DumpProcess(process_id, path, size_limit,
                     [&](HANDLE process, ExceptionRecord* record) {
                       return ReadProcessMemoryExactly(
                           process,
                           reinterpret_cast<const void*>(remote_record), record,
                           sizeof(*record));
                     });
}

}  // namespace crash_reporter
