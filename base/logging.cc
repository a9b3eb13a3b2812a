#include "base/logging.h"

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <iomanip>
#include <ostream>

#include "base/command_line.h"
#include "base/debug/activity_tracker.h"
#include "base/debug/alias.h"
#include "base/debug/debugger.h"
#include "base/strings/string_piece.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/platform_thread.h"
#include "base/vlog.h"

namespace base {
namespace logging {

namespace {

// The process-wide state. The setters run at start-up, before other threads
// log, so the statements read it without a lock. Everything here is
// constant-initialised, so statements in static initialisers see it too.
LoggingDestination g_logging_destination = LOG_TO_FILE;
int g_min_log_level = 0;
LogMessageHandler g_log_message_handler = nullptr;

bool g_log_process_id = false;
bool g_log_thread_id = false;
bool g_log_timestamp = true;
bool g_log_tickcount = false;

// The current VlogInfo and the one it replaced; neither is ever freed,
// because any thread may still be reading them.
std::atomic<VlogInfo*> g_vlog_info{nullptr};
VlogInfo* g_vlog_info_prev = nullptr;

// Opening the log file happens on the first line written to it, from any
// thread. The lock serialises openers only (and guards the name); the hot
// path just loads the published handle. Null means "not open".
SRWLOCK g_log_file_lock = SRWLOCK_INIT;
std::atomic<HANDLE> g_log_file{nullptr};
// Made on first need and never freed: lines may be logged during exit.
std::wstring* g_log_file_name = nullptr;

const wchar_t kDefaultLogFileName[] = L"debug.log";
const DWORD kPathBufferSize = MAX_PATH;  // 260

class AutoFileLock {
 public:
  AutoFileLock() { ::AcquireSRWLockExclusive(&g_log_file_lock); }
  ~AutoFileLock() { ::ReleaseSRWLockExclusive(&g_log_file_lock); }
  AutoFileLock(const AutoFileLock&) = delete;
  AutoFileLock& operator=(const AutoFileLock&) = delete;
};

const char* LogSeverityName(LogSeverity severity) {
  static const char* const kNames[LOG_NUM_SEVERITIES] = {"INFO", "WARNING",
                                                         "ERROR", "FATAL"};
  if (severity >= 0 && severity < LOG_NUM_SEVERITIES)
    return kNames[severity];
  return "UNKNOWN";
}

void SetLogFileName(const std::wstring& name) {
  if (!g_log_file_name)
    g_log_file_name = new std::wstring;
  *g_log_file_name = name;
}

HANDLE OpenLogFile(const std::wstring& name) {
  // Appending only: every write goes to the end of the file, wherever other
  // handles wrote meanwhile. The read right is what byte-range locking asks
  // of a handle (see WriteLogLine); it adds no way to overwrite anything.
  HANDLE file = ::CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The one byte that writers of a log file lock while they append: far past
// anything a log holds, so that no reader of the text ever meets the lock.
constexpr DWORD kAppendLockOffsetLow = 0xFFFFFFF0u;
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFFu;

// How long a writer waits for its turn before it writes all the same: a
// writer that died holding the turn (a thread ended by the process's exit)
// must not stop every later line.
constexpr ULONGLONG kAppendTurnWaitMs = 500;

// Appends |line| whole, with one write. Windows appends each write at the
// end as one piece; Wine finds the end and then writes there, so two
// writers, threads of this process or other processes with the file open
// (a front end and its backend may share a log), could write at the same
// end and cut into each other's lines. The writers therefore take turns
// through an exclusive byte-range lock. The lock is only ever tried, never
// waited for inside the system: on a handle opened for synchronous I/O a
// waiting lock request holds the handle, so the owner's own write and
// unlock through the same handle would wait behind it for ever.
void WriteLogLine(HANDLE file, const std::string& line) {
  auto lock_range = [] {
    OVERLAPPED range = {};
    range.Offset = kAppendLockOffsetLow;
    range.OffsetHigh = kAppendLockOffsetHigh;
    return range;
  };
  bool locked = false;
  const ULONGLONG give_up = ::GetTickCount64() + kAppendTurnWaitMs;
  for (int attempt = 0;; ++attempt) {
    OVERLAPPED range = lock_range();
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                     0, 1, 0, &range)) {
      locked = true;
      break;
    }
    if (::GetLastError() != ERROR_LOCK_VIOLATION ||
        ::GetTickCount64() >= give_up) {
      break;
    }
    // The turn is usually back within one write; yield first, then sleep.
    ::Sleep(attempt < 64 ? 0 : 1);
  }
  DWORD num_written;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &num_written,
              nullptr);
  if (locked) {
    OVERLAPPED range = lock_range();
    ::UnlockFileEx(file, 0, 1, 0, &range);
  }
}

void PublishLogFile(HANDLE file) {
  g_log_file.store(file, std::memory_order_release);
}

void CloseLogFileLocked() {
  HANDLE file = g_log_file.exchange(nullptr, std::memory_order_acq_rel);
  if (file)
    ::CloseHandle(file);
}

// Caller holds g_log_file_lock.
bool InitializeLogFileHandleLocked() {
  if (g_log_file.load(std::memory_order_acquire))
    return true;

  if (!g_log_file_name) {
    // "debug.log" beside the executable.
    wchar_t module_name[kPathBufferSize];
    DWORD length = ::GetModuleFileNameW(nullptr, module_name, kPathBufferSize);
    std::wstring name(module_name, std::min(length, kPathBufferSize));
    size_t last_backslash = name.rfind(L'\\');
    if (last_backslash == std::wstring::npos)
      name.clear();
    else
      name.erase(last_backslash + 1);
    name += kDefaultLogFileName;
    SetLogFileName(name);
  }

  if (!(g_logging_destination & LOG_TO_FILE))
    return true;

  HANDLE file = OpenLogFile(*g_log_file_name);
  if (!file) {
    // The path may be in a folder that is missing or not writable; the
    // current folder is the last resort.
    wchar_t folder[kPathBufferSize];
    DWORD length = ::GetCurrentDirectoryW(kPathBufferSize, folder);
    if (length == 0 || length > kPathBufferSize)
      return false;
    std::wstring name(folder, length);
    if (name.empty() || name.back() != L'\\')
      name += L'\\';
    name += kDefaultLogFileName;
    SetLogFileName(name);
    file = OpenLogFile(name);
    if (!file)
      return false;
  }
  PublishLogFile(file);
  return true;
}

bool InitializeLogFileHandle() {
  if (g_log_file.load(std::memory_order_acquire))
    return true;
  AutoFileLock lock;
  return InitializeLogFileHandleLocked();
}

}  // namespace

LoggingSettings::LoggingSettings()
    : logging_dest(LOG_TO_FILE),
      log_file(nullptr),
      delete_old(APPEND_TO_OLD_FILE) {}

bool BaseInitLoggingImpl(const LoggingSettings& settings) {
  CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (command_line &&
      (command_line->HasSwitch("v") || command_line->HasSwitch("vmodule"))) {
    // The replaced one is kept, not freed: another thread may be reading it.
    g_vlog_info_prev = g_vlog_info.load(std::memory_order_relaxed);
    g_vlog_info.store(new VlogInfo(command_line->GetSwitchValueASCII("v"),
                                   command_line->GetSwitchValueASCII("vmodule"),
                                   &g_min_log_level),
                      std::memory_order_release);
  }

  g_logging_destination = settings.logging_dest;
  if (!(g_logging_destination & LOG_TO_FILE))
    return true;

  AutoFileLock lock;
  CloseLogFileLocked();
  SetLogFileName(settings.log_file ? std::wstring(settings.log_file)
                                   : std::wstring());
  if (settings.delete_old == DELETE_OLD_FILE)
    ::DeleteFileW(g_log_file_name->c_str());
  return InitializeLogFileHandleLocked();
}

void SetMinLogLevel(int level) {
  g_min_log_level = std::min(LOG_FATAL, level);
}

int GetMinLogLevel() {
  return g_min_log_level;
}

void SetLogItems(bool enable_process_id,
                 bool enable_thread_id,
                 bool enable_timestamp,
                 bool enable_tickcount) {
  g_log_process_id = enable_process_id;
  g_log_thread_id = enable_thread_id;
  g_log_timestamp = enable_timestamp;
  g_log_tickcount = enable_tickcount;
}

void SetLogMessageHandler(LogMessageHandler handler) {
  g_log_message_handler = handler;
}

LogMessageHandler GetLogMessageHandler() {
  return g_log_message_handler;
}

bool ShouldCreateLogMessage(LogSeverity severity) {
  if (severity < g_min_log_level)
    return false;
  // ERROR and FATAL reach standard error whatever the destination.
  return g_logging_destination != LOG_NONE || g_log_message_handler ||
         severity >= LOG_ERROR;
}

int GetVlogLevelHelper(const char* file, size_t n) {
  VlogInfo* vlog_info = g_vlog_info.load(std::memory_order_acquire);
  if (vlog_info)
    return vlog_info->GetVlogLevel(StringPiece(file, n - 1));
  return std::max(-1, LOG_INFO - g_min_log_level);
}

std::wstring GetLogFileFullPath() {
  AutoFileLock lock;
  return g_log_file_name ? *g_log_file_name : std::wstring();
}

void CloseLogFile() {
  AutoFileLock lock;
  CloseLogFileLocked();
}

SystemErrorCode GetLastSystemErrorCode() {
  return ::GetLastError();
}

std::string SystemErrorCodeToString(SystemErrorCode error_code) {
  char msgbuf[256];
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = ::FormatMessageA(flags, nullptr, error_code, 0, msgbuf,
                                  sizeof(msgbuf), nullptr);
  if (length) {
    return CollapseWhitespaceASCII(std::string(msgbuf, length), true) +
           StringPrintf(" (0x%lX)", error_code);
  }
  DWORD lookup_error = ::GetLastError();
  return StringPrintf("Error (0x%lX) while retrieving error. (0x%lX)",
                      lookup_error, error_code);
}

LogStream& LogStream::operator<<(const wchar_t* wstr) {
  if (wstr) {
    std::string utf8;
    WideToUTF8(wstr, wcslen(wstr), &utf8);
    static_cast<std::ostream&>(*this) << utf8;
  }
  return *this;
}

LogStream& LogStream::operator<<(const std::wstring& wstr) {
  std::string utf8;
  WideToUTF8(wstr.data(), wstr.size(), &utf8);
  static_cast<std::ostream&>(*this) << utf8;
  return *this;
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity),
      message_start_(0),
      file_(file),
      line_(line),
      last_error_(::GetLastError()) {
  Init(file, line);
}

void LogMessage::Init(const char* file, int line) {
  StringPiece filename(file);
  size_t last_slash = filename.find_last_of("\\/");
  if (last_slash != StringPiece::npos)
    filename.remove_prefix(last_slash + 1);

  stream_ << '[';
  if (g_log_process_id)
    stream_ << ::GetCurrentProcessId() << ':';
  if (g_log_thread_id)
    stream_ << PlatformThread::CurrentId() << ':';
  if (g_log_timestamp) {
    SYSTEMTIME local_time;
    ::GetLocalTime(&local_time);
    stream_ << std::setfill('0') << std::setw(2) << local_time.wMonth
            << std::setw(2) << local_time.wDay << '/' << std::setw(2)
            << local_time.wHour << std::setw(2) << local_time.wMinute
            << std::setw(2) << local_time.wSecond << '.' << std::setw(3)
            << local_time.wMilliseconds << ':' << std::setfill(' ');
  }
  if (g_log_tickcount)
    stream_ << ::GetTickCount() << ':';
  if (severity_ >= 0)
    stream_ << LogSeverityName(severity_);
  else
    stream_ << "VERBOSE" << -severity_;

  stream_ << ':' << filename << '(' << line << ")] ";
  message_start_ = static_cast<size_t>(stream_.tellp());
}

LogMessage::~LogMessage() {
  stream_ << '\n';
  stream_.flush();
  std::string str_newline(stream_.str());

  if (g_log_message_handler &&
      g_log_message_handler(severity_, file_, line_, message_start_,
                            str_newline)) {
    ::SetLastError(last_error_);
    return;
  }

  if (g_logging_destination & LOG_TO_DEBUG_OUTPUT) {
    ::OutputDebugStringA(str_newline.c_str());
    fwrite(str_newline.data(), str_newline.size(), 1, stderr);
    fflush(stderr);
  } else if (severity_ >= LOG_ERROR) {
    fwrite(str_newline.data(), str_newline.size(), 1, stderr);
    fflush(stderr);
  }

  if ((g_logging_destination & LOG_TO_FILE) && InitializeLogFileHandle())
    WriteLogLine(g_log_file.load(std::memory_order_acquire), str_newline);

  if (debug::GlobalActivityTracker* tracker =
          debug::GlobalActivityTracker::Get()) {
    tracker->RecordLogMessage(str_newline);
  }

  if (severity_ == LOG_FATAL) {
    // Kept on the stack so that a crash dump carries the line.
    char str_stack[1024];
    base::strlcpy(str_stack, str_newline.c_str(), sizeof(str_stack));
    debug::Alias(str_stack);
    debug::BreakDebugger();
  }

  ::SetLastError(last_error_);
}

Win32ErrorLogMessage::Win32ErrorLogMessage(const char* file,
                                           int line,
                                           LogSeverity severity,
                                           SystemErrorCode err)
    : err_(err), log_message_(file, line, severity) {}

Win32ErrorLogMessage::~Win32ErrorLogMessage() {
  stream() << ": " << SystemErrorCodeToString(err_);
  // Kept on the stack so that a crash dump of a FATAL carries the code.
  DWORD last_error = err_;
  debug::Alias(&last_error);
  // log_message_ writes the line as it is destroyed.
}

namespace internal {

LoggingStateForTesting GetLoggingStateForTesting() {
  AutoFileLock lock;
  LoggingStateForTesting state;
  state.destination = g_logging_destination;
  state.min_log_level = g_min_log_level;
  state.handler = g_log_message_handler;
  state.log_process_id = g_log_process_id;
  state.log_thread_id = g_log_thread_id;
  state.log_timestamp = g_log_timestamp;
  state.log_tickcount = g_log_tickcount;
  state.has_log_file_name = g_log_file_name != nullptr;
  state.log_file_name = g_log_file_name ? *g_log_file_name : std::wstring();
  state.vlog_info = g_vlog_info.load(std::memory_order_acquire);
  state.vlog_info_prev = g_vlog_info_prev;
  return state;
}

void SetLoggingStateForTesting(const LoggingStateForTesting& state) {
  AutoFileLock lock;
  CloseLogFileLocked();
  g_logging_destination = state.destination;
  g_min_log_level = state.min_log_level;
  g_log_message_handler = state.handler;
  g_log_process_id = state.log_process_id;
  g_log_thread_id = state.log_thread_id;
  g_log_timestamp = state.log_timestamp;
  g_log_tickcount = state.log_tickcount;
  if (state.has_log_file_name) {
    SetLogFileName(state.log_file_name);
  } else {
    delete g_log_file_name;
    g_log_file_name = nullptr;
  }
  g_vlog_info.store(static_cast<VlogInfo*>(const_cast<void*>(state.vlog_info)),
                    std::memory_order_release);
  g_vlog_info_prev =
      static_cast<VlogInfo*>(const_cast<void*>(state.vlog_info_prev));
}

}  // namespace internal

}  // namespace logging
}  // namespace base
