#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <stddef.h>
#include <stdint.h>

#include <iosfwd>
#include <sstream>
#include <string>

#include "base/check.h"

// Log statements:
//
//   LOG(INFO) << "Installing into " << path;
//   LOG_IF(WARNING, attempts > 1) << "Retried " << attempts << " times";
//   VLOG(2) << "Only with --v=2 or a matching --vmodule";
//   PLOG(ERROR) << "CreateFile failed";   // appends the last error's text
//   DLOG(INFO) << "Only in builds with debug checks";
//
// A statement that is switched off builds nothing: its stream operands are
// not evaluated. A statement never changes the thread's last error.
//
// Broken invariants are not logged: CHECK, DCHECK and NOTREACHED come from
// base/check.h and trap without a line, because logging may be what broke.

namespace base {
namespace logging {

// Signed 32-bit: a verbose statement of level n uses severity -n.
typedef int LogSeverity;

const LogSeverity LOG_VERBOSE = -1;
const LogSeverity LOG_INFO = 0;
const LogSeverity LOG_WARNING = 1;
const LogSeverity LOG_ERROR = 2;
const LogSeverity LOG_FATAL = 3;
const LogSeverity LOG_NUM_SEVERITIES = 4;

// FATAL where debug checks are compiled in, ERROR otherwise.
#if DCHECK_IS_ON()
const LogSeverity LOG_DFATAL = LOG_FATAL;
#else
const LogSeverity LOG_DFATAL = LOG_ERROR;
#endif

// <wingdi.h> defines ERROR as 0; when it is in force, LOG(ERROR) arrives
// here as LOG(0).
const LogSeverity LOG_0 = LOG_ERROR;

// Where lines go: a set of these flags.
typedef uint32_t LoggingDestination;
enum : uint32_t {
  LOG_NONE = 0,
  LOG_TO_FILE = 1 << 0,
  // The debugger output and standard error.
  LOG_TO_DEBUG_OUTPUT = 1 << 1,
  LOG_TO_ALL = LOG_TO_FILE | LOG_TO_DEBUG_OUTPUT,
};

typedef uint32_t OldFileDeletionState;
enum : uint32_t {
  DELETE_OLD_FILE = 0,
  APPEND_TO_OLD_FILE = 1,
};

struct LoggingSettings {
  LoggingSettings();

  LoggingDestination logging_dest;
  // Must be set when |logging_dest| includes LOG_TO_FILE.
  const wchar_t* log_file;
  OldFileDeletionState delete_old;
};

// Sets logging up from |settings| and the "v" and "vmodule" switches of the
// process command line. May be called again to switch to another file.
// Returns false when no log file could be opened (neither at its path nor as
// "debug.log" in the current folder).
bool BaseInitLoggingImpl(const LoggingSettings& settings);

inline bool InitLogging(const LoggingSettings& settings) {
  return BaseInitLoggingImpl(settings);
}

// Statements below this severity build nothing. Values above FATAL are
// stored as FATAL, so FATAL statements can never be switched off.
void SetMinLogLevel(int level);
int GetMinLogLevel();

// Which items stand in the line prefix. Only the timestamp is on by default.
void SetLogItems(bool enable_process_id,
                 bool enable_thread_id,
                 bool enable_timestamp,
                 bool enable_tickcount);

// Sees every line before it is written; returning true means the handler
// has taken care of it, and then the line is written nowhere (and a FATAL
// line does not end the process). |message_start| is the length of the
// prefix within |str|, which ends in a newline.
typedef bool (*LogMessageHandler)(LogSeverity severity,
                                  const char* file,
                                  int line,
                                  size_t message_start,
                                  const std::string& str);
void SetLogMessageHandler(LogMessageHandler handler);
LogMessageHandler GetLogMessageHandler();

// Whether a statement of |severity| should build its message at all.
bool ShouldCreateLogMessage(LogSeverity severity);

// The verbose level in force for |file|; |n| is the size of the file-name
// literal including its NUL.
int GetVlogLevelHelper(const char* file, size_t n);

// The log file's path as it is now (possibly not yet opened); empty before
// anything named one.
std::wstring GetLogFileFullPath();

// Closes the log file; the next line written to file opens it again.
void CloseLogFile();

typedef unsigned long SystemErrorCode;

SystemErrorCode GetLastSystemErrorCode();

// The system's text for |error_code| followed by " (0xN)"; reports a failed
// lookup in its text and never fails.
std::string SystemErrorCodeToString(SystemErrorCode error_code);

// The stream of one log line. It writes wide text (wchar_t strings and
// std::wstring) as UTF-8; every operator returns the LogStream itself, so a
// wide operand anywhere in a statement still meets these overloads instead
// of the stream's pointer overload, which would print an address.
class LogStream : public std::ostringstream {
 public:
  LogStream() = default;
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  template <typename T>
  LogStream& operator<<(const T& value) {
    static_cast<std::ostream&>(*this) << value;
    return *this;
  }
  // A null pointer writes nothing.
  LogStream& operator<<(const wchar_t* wstr);
  LogStream& operator<<(wchar_t* wstr) {
    return *this << static_cast<const wchar_t*>(wstr);
  }
  LogStream& operator<<(const std::wstring& wstr);
  LogStream& operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    manipulator(*this);
    return *this;
  }
  LogStream& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
    manipulator(*this);
    return *this;
  }
};

// One log line: built by a statement, written when destroyed.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  ~LogMessage();

  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  LogStream& stream() { return stream_; }

  LogSeverity severity() const { return severity_; }

 private:
  void Init(const char* file, int line);

  LogSeverity severity_;
  LogStream stream_;
  // The length of the prefix: the message text begins here.
  size_t message_start_;
  const char* file_;
  int line_;
  // The thread's last error when the statement began, put back at its end.
  uint32_t last_error_;
};

// A log line that ends with the text of a system error code.
class Win32ErrorLogMessage {
 public:
  Win32ErrorLogMessage(const char* file,
                       int line,
                       LogSeverity severity,
                       SystemErrorCode err);
  ~Win32ErrorLogMessage();

  Win32ErrorLogMessage(const Win32ErrorLogMessage&) = delete;
  Win32ErrorLogMessage& operator=(const Win32ErrorLogMessage&) = delete;

  LogStream& stream() { return log_message_.stream(); }

 private:
  uint32_t err_;
  LogMessage log_message_;
};

// Turns a stream expression into void so that it can stand in the second
// arm of a conditional whose first arm is (void)0. Its operator binds more
// loosely than << and more tightly than ?:.
class LogMessageVoidify {
 public:
  LogMessageVoidify() = default;
  void operator&(std::ostream&) {}
};

namespace internal {

// Everything the set-up functions change, so that a test can put the
// process back as it found it.
struct LoggingStateForTesting {
  LoggingDestination destination;
  int min_log_level;
  LogMessageHandler handler;
  bool log_process_id;
  bool log_thread_id;
  bool log_timestamp;
  bool log_tickcount;
  bool has_log_file_name;
  std::wstring log_file_name;
  const void* vlog_info;
  const void* vlog_info_prev;
};
LoggingStateForTesting GetLoggingStateForTesting();
// Also closes the log file.
void SetLoggingStateForTesting(const LoggingStateForTesting& state);

}  // namespace internal

}  // namespace logging
}  // namespace base

// Implementation of the statements.

#define LAZY_STREAM(stream, condition) \
  !(condition) ? (void)0 : ::base::logging::LogMessageVoidify() & (stream)

// Compiles |stream| but never evaluates it.
#define EAT_STREAM_PARAMETERS LAZY_STREAM(LOG_STREAM(FATAL), false)

#define COMPACT_LOG_EX_INFO(ClassName, ...)                                 \
  ::base::logging::ClassName(__FILE__, __LINE__, ::base::logging::LOG_INFO, \
                             ##__VA_ARGS__)
#define COMPACT_LOG_EX_WARNING(ClassName, ...)                                 \
  ::base::logging::ClassName(__FILE__, __LINE__, ::base::logging::LOG_WARNING, \
                             ##__VA_ARGS__)
#define COMPACT_LOG_EX_ERROR(ClassName, ...)                                 \
  ::base::logging::ClassName(__FILE__, __LINE__, ::base::logging::LOG_ERROR, \
                             ##__VA_ARGS__)
#define COMPACT_LOG_EX_FATAL(ClassName, ...)                                 \
  ::base::logging::ClassName(__FILE__, __LINE__, ::base::logging::LOG_FATAL, \
                             ##__VA_ARGS__)
#define COMPACT_LOG_EX_DFATAL(ClassName, ...)                                 \
  ::base::logging::ClassName(__FILE__, __LINE__, ::base::logging::LOG_DFATAL, \
                             ##__VA_ARGS__)
#define COMPACT_LOG_EX_0(ClassName, ...) \
  COMPACT_LOG_EX_ERROR(ClassName, ##__VA_ARGS__)

#define COMPACT_LOG_INFO COMPACT_LOG_EX_INFO(LogMessage)
#define COMPACT_LOG_WARNING COMPACT_LOG_EX_WARNING(LogMessage)
#define COMPACT_LOG_ERROR COMPACT_LOG_EX_ERROR(LogMessage)
#define COMPACT_LOG_FATAL COMPACT_LOG_EX_FATAL(LogMessage)
#define COMPACT_LOG_DFATAL COMPACT_LOG_EX_DFATAL(LogMessage)
#define COMPACT_LOG_0 COMPACT_LOG_EX_0(LogMessage)

#define LOG_STREAM(severity) COMPACT_LOG_##severity.stream()

// Whether a statement of |severity| (INFO, WARNING, ...) is switched on.
#define LOG_IS_ON(severity) \
  (::base::logging::ShouldCreateLogMessage(::base::logging::LOG_##severity))

// Whether verbose statements of level |verboselevel| are on in this file.
#define VLOG_IS_ON(verboselevel) \
  ((verboselevel) <=             \
   ::base::logging::GetVlogLevelHelper(__FILE__, sizeof(__FILE__)))

#define LOG(severity) LAZY_STREAM(LOG_STREAM(severity), LOG_IS_ON(severity))
#define LOG_IF(severity, condition) \
  LAZY_STREAM(LOG_STREAM(severity), LOG_IS_ON(severity) && (condition))

#define VLOG_STREAM(verbose_level) \
  ::base::logging::LogMessage(__FILE__, __LINE__, -(verbose_level)).stream()
#define VLOG(verbose_level) \
  LAZY_STREAM(VLOG_STREAM(verbose_level), VLOG_IS_ON(verbose_level))
#define VLOG_IF(verbose_level, condition) \
  LAZY_STREAM(VLOG_STREAM(verbose_level), \
              VLOG_IS_ON(verbose_level) && (condition))

// The last error is read before the message object exists, so nothing the
// statement does can change the code it reports.
#define PLOG_STREAM(severity)                                          \
  COMPACT_LOG_EX_##severity(Win32ErrorLogMessage,                      \
                            ::base::logging::GetLastSystemErrorCode()) \
      .stream()
#define PLOG(severity) LAZY_STREAM(PLOG_STREAM(severity), LOG_IS_ON(severity))
#define PLOG_IF(severity, condition) \
  LAZY_STREAM(PLOG_STREAM(severity), LOG_IS_ON(severity) && (condition))

#define VPLOG_STREAM(verbose_level)              \
  ::base::logging::Win32ErrorLogMessage(         \
      __FILE__, __LINE__, -(verbose_level),      \
      ::base::logging::GetLastSystemErrorCode()) \
      .stream()
#define VPLOG(verbose_level) \
  LAZY_STREAM(VPLOG_STREAM(verbose_level), VLOG_IS_ON(verbose_level))

#define LOG_ASSERT(condition) \
  LOG_IF(FATAL, !(condition)) << "Assert failed: " #condition ". "

// Debug-only statements: they compile their operands in every build but
// exist only where debug checks are on.
#define DLOG_IS_ON(severity) (DCHECK_IS_ON() && LOG_IS_ON(severity))

#if DCHECK_IS_ON()

#define DLOG(severity) LOG(severity)
#define DLOG_IF(severity, condition) LOG_IF(severity, condition)
#define DPLOG(severity) PLOG(severity)
#define DPLOG_IF(severity, condition) PLOG_IF(severity, condition)
#define DVLOG(verbose_level) VLOG(verbose_level)
#define DVLOG_IF(verbose_level, condition) VLOG_IF(verbose_level, condition)
#define DVPLOG(verbose_level) VPLOG(verbose_level)
#define DLOG_ASSERT(condition) LOG_ASSERT(condition)

#else

#define DLOG(severity) EAT_STREAM_PARAMETERS
#define DLOG_IF(severity, condition) EAT_STREAM_PARAMETERS
#define DPLOG(severity) EAT_STREAM_PARAMETERS
#define DPLOG_IF(severity, condition) EAT_STREAM_PARAMETERS
#define DVLOG(verbose_level) EAT_STREAM_PARAMETERS
#define DVLOG_IF(verbose_level, condition) EAT_STREAM_PARAMETERS
#define DVPLOG(verbose_level) EAT_STREAM_PARAMETERS
#define DLOG_ASSERT(condition) EAT_STREAM_PARAMETERS

#endif  // DCHECK_IS_ON()

#endif  // BASE_LOGGING_H_
