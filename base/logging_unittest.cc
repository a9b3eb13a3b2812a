#include "base/logging.h"

#include <windows.h>

#include <stdlib.h>

#include <atomic>
#include <map>
#include <ostream>
#include <string>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/debug/debugger.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/base_paths.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_util.h"
#include "base/test/test_thread.h"
#include "gtest/gtest.h"

// Whether a plain std::ostream takes a T with what namespace std offers.
// Outside namespace base on purpose: base's own views would take the text.
template <typename T, typename = void>
struct StdStreamTakes : std::false_type {};
template <typename T>
struct StdStreamTakes<T,
                      decltype(void(std::declval<std::ostream&>()
                                    << std::declval<const T&>()))>
    : std::true_type {};

namespace base {
namespace logging {
namespace {

// Lines that the capturing handler saw, with their message starts.
std::vector<std::string>* g_captured_lines = nullptr;
std::vector<size_t>* g_captured_starts = nullptr;
bool g_handler_result = true;
// Threads that other tests left behind may log too; only the test's own
// lines are captured, the rest go their usual way.
DWORD g_capture_thread_id = 0;

bool CaptureHandler(LogSeverity severity,
                    const char* file,
                    int line,
                    size_t message_start,
                    const std::string& str) {
  if (::GetCurrentThreadId() != g_capture_thread_id)
    return false;
  g_captured_lines->push_back(str);
  g_captured_starts->push_back(message_start);
  // A handler may run Windows calls of its own; the statement must still
  // leave the caller's last error alone.
  ::SetLastError(ERROR_INVALID_DATA);
  return g_handler_result;
}

bool SwallowEverything(
    LogSeverity, const char*, int, size_t, const std::string&) {
  return true;
}

// True when |str| equals |shape| with every '#' in |shape| standing for one
// decimal digit.
bool MatchesShape(const std::string& shape, const std::string& str) {
  if (shape.size() != str.size())
    return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '#') {
      if (str[i] < '0' || str[i] > '9')
        return false;
    } else if (shape[i] != str[i]) {
      return false;
    }
  }
  return true;
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string contents;
  return ReadFileToString(FilePath(path), &contents) ? contents : std::string();
}

bool FileExists(const std::wstring& path) {
  return PathExists(FilePath(path));
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      lines.push_back(text.substr(begin));
      break;
    }
    lines.push_back(text.substr(begin, end - begin + 1));
    begin = end + 1;
  }
  return lines;
}

bool HasSuffix(const std::string& str, const std::string& suffix) {
  return str.size() >= suffix.size() &&
         str.compare(str.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string TwoDigits(int value) {
  std::string s = std::to_string(value);
  return s.size() < 2 ? "0" + s : s;
}

// Every test starts from the default state with no verbose switches and
// leaves the process-wide logging state, the current folder and its temp
// folder as it found them.
class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_state_ = internal::GetLoggingStateForTesting();
    internal::LoggingStateForTesting clean = saved_state_;
    clean.destination = LOG_NONE;
    clean.min_log_level = 0;
    clean.handler = nullptr;
    clean.log_process_id = false;
    clean.log_thread_id = false;
    clean.log_timestamp = true;
    clean.log_tickcount = false;
    clean.vlog_info = nullptr;
    internal::SetLoggingStateForTesting(clean);

    wchar_t folder[MAX_PATH];
    ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, folder));
    saved_current_folder_ = folder;

    ASSERT_TRUE(scoped_temp_dir_.CreateUniqueTempDir());
    temp_dir_ = scoped_temp_dir_.GetPath().value();

    g_captured_lines = &captured_lines_;
    g_captured_starts = &captured_starts_;
    g_handler_result = true;
    g_capture_thread_id = ::GetCurrentThreadId();
  }

  void TearDown() override {
    internal::SetLoggingStateForTesting(saved_state_);
    ::SetCurrentDirectoryW(saved_current_folder_.c_str());
    g_captured_lines = nullptr;
    g_captured_starts = nullptr;
  }

  std::wstring TempPath(const wchar_t* name) const {
    return temp_dir_ + L"\\" + name;
  }

  // Logging to |path| only.
  bool InitFileLogging(const std::wstring& path,
                       OldFileDeletionState delete_old) {
    LoggingSettings settings;
    settings.logging_dest = LOG_TO_FILE;
    settings.log_file = path.c_str();
    settings.delete_old = delete_old;
    return BaseInitLoggingImpl(settings);
  }

  void CaptureLines() { SetLogMessageHandler(&CaptureHandler); }

  internal::LoggingStateForTesting saved_state_;
  std::wstring saved_current_folder_;
  ScopedTempDir scoped_temp_dir_;
  std::wstring temp_dir_;
  std::vector<std::string> captured_lines_;
  std::vector<size_t> captured_starts_;
};

bool Touch(bool* evaluated) {
  *evaluated = true;
  return true;
}

TEST_F(LoggingTest, DefaultPrefixHasLocalTimestampFileAndLine) {
  CaptureLines();
  SYSTEMTIME before, after;
  ::GetLocalTime(&before);
  const int line = __LINE__ + 1;
  LOG(INFO) << "text " << 42;
  ::GetLocalTime(&after);

  ASSERT_EQ(1u, captured_lines_.size());
  const std::string& str = captured_lines_[0];
  const std::string shape = "[####/######.###:INFO:logging_unittest.cc(" +
                            std::to_string(line) + ")] text 42\n";
  EXPECT_TRUE(MatchesShape(shape, str)) << str;
  EXPECT_EQ(str.find("text"), captured_starts_[0]);

  // The month and day are the local ones (either side of a midnight).
  const std::string month_day = str.substr(1, 4);
  EXPECT_TRUE(month_day == TwoDigits(before.wMonth) + TwoDigits(before.wDay) ||
              month_day == TwoDigits(after.wMonth) + TwoDigits(after.wDay))
      << str;
}

TEST_F(LoggingTest, SeverityNames) {
  CaptureLines();
  struct {
    LogSeverity severity;
    const char* name;
  } const kCases[] = {
      {LOG_INFO, ":INFO:"},   {LOG_WARNING, ":WARNING:"},
      {LOG_ERROR, ":ERROR:"}, {LOG_FATAL, ":FATAL:"},
      {4, ":UNKNOWN:"},       {1000, ":UNKNOWN:"},
      {-1, ":VERBOSE1:"},     {-2, ":VERBOSE2:"},
      {-12, ":VERBOSE12:"},
  };
  SetMinLogLevel(-20);
  for (const auto& c : kCases) {
    captured_lines_.clear();
    // The handler takes the FATAL one, so it does not end the process.
    LogMessage(__FILE__, __LINE__, c.severity).stream() << "x";
    ASSERT_EQ(1u, captured_lines_.size());
    EXPECT_NE(std::string::npos, captured_lines_[0].find(c.name))
        << captured_lines_[0];
  }
  // <windows.h> is in force here, so ERROR is the GDI macro: the statement
  // must still name the log severity.
  captured_lines_.clear();
  LOG(ERROR) << "e";
  PLOG(ERROR) << "pe";
  ASSERT_EQ(2u, captured_lines_.size());
  EXPECT_NE(std::string::npos, captured_lines_[0].find(":ERROR:"));
  EXPECT_NE(std::string::npos, captured_lines_[1].find(":ERROR:"));
}

TEST_F(LoggingTest, PrefixItems) {
  CaptureLines();
  SetLogItems(true, true, true, true);
  DWORD ticks_before = ::GetTickCount();
  const int line = __LINE__ + 1;
  LOG(WARNING) << "w";
  DWORD ticks_after = ::GetTickCount();
  ASSERT_EQ(1u, captured_lines_.size());
  const std::string& str = captured_lines_[0];

  const std::string pid = std::to_string(::GetCurrentProcessId());
  const std::string tid = std::to_string(::GetCurrentThreadId());
  const std::string head = "[" + pid + ":" + tid + ":";
  ASSERT_EQ(0u, str.find(head)) << str;
  const std::string time = str.substr(head.size(), 16);
  EXPECT_TRUE(MatchesShape("####/######.###:", time)) << str;

  size_t ticks_begin = head.size() + time.size();
  size_t ticks_end = str.find(':', ticks_begin);
  ASSERT_NE(std::string::npos, ticks_end);
  unsigned long ticks =
      std::stoul(str.substr(ticks_begin, ticks_end - ticks_begin));
  EXPECT_GE(ticks, ticks_before);
  EXPECT_LE(ticks, ticks_after);
  EXPECT_EQ(":WARNING:logging_unittest.cc(" + std::to_string(line) + ")] w\n",
            str.substr(ticks_end));
  EXPECT_EQ(str.size() - 2, captured_starts_[0]);
}

TEST_F(LoggingTest, BaseNameTakesEitherSlash) {
  CaptureLines();
  SetLogItems(false, false, false, false);
  LogMessage("C:\\src\\base\\a.cc", 7, LOG_INFO).stream() << "1";
  LogMessage("../base/dir/b.cc", 8, LOG_INFO).stream() << "2";
  LogMessage("c.cc", 9, LOG_INFO).stream() << "3";
  ASSERT_EQ(3u, captured_lines_.size());
  EXPECT_EQ("[INFO:a.cc(7)] 1\n", captured_lines_[0]);
  EXPECT_EQ("[INFO:b.cc(8)] 2\n", captured_lines_[1]);
  EXPECT_EQ("[INFO:c.cc(9)] 3\n", captured_lines_[2]);
}

TEST_F(LoggingTest, MinLogLevel) {
  SetMinLogLevel(5);
  EXPECT_EQ(LOG_FATAL, GetMinLogLevel());
  EXPECT_FALSE(LOG_IS_ON(ERROR));
  EXPECT_TRUE(LOG_IS_ON(FATAL));

  SetMinLogLevel(-4);
  EXPECT_EQ(-4, GetMinLogLevel());

  // With the minimum level 1 an INFO statement builds nothing, not even
  // its operands, even though a handler is waiting.
  CaptureLines();
  SetMinLogLevel(1);
  bool evaluated = false;
  LOG(INFO) << Touch(&evaluated);
  EXPECT_FALSE(evaluated);
  LOG(WARNING) << Touch(&evaluated);
  EXPECT_TRUE(evaluated);
  EXPECT_EQ(1u, captured_lines_.size());
}

TEST_F(LoggingTest, DestinationDecidesWhatIsBuilt) {
  // Destination none and no handler: only ERROR and up are built.
  EXPECT_FALSE(ShouldCreateLogMessage(LOG_INFO));
  EXPECT_FALSE(ShouldCreateLogMessage(LOG_WARNING));
  EXPECT_TRUE(ShouldCreateLogMessage(LOG_ERROR));
  EXPECT_TRUE(ShouldCreateLogMessage(LOG_FATAL));
  bool evaluated = false;
  LOG(INFO) << Touch(&evaluated);
  EXPECT_FALSE(evaluated);

  testing::internal::CaptureStderr();
  LOG(ERROR) << "to stderr " << Touch(&evaluated);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(evaluated);
  EXPECT_NE(std::string::npos, err.find(":ERROR:logging_unittest.cc("));
  EXPECT_NE(std::string::npos, err.find(")] to stderr 1\n"));

  // A handler alone makes every level worth building.
  SetLogMessageHandler(&SwallowEverything);
  EXPECT_TRUE(ShouldCreateLogMessage(LOG_INFO));
  SetLogMessageHandler(nullptr);

  LoggingSettings settings;
  settings.logging_dest = LOG_TO_DEBUG_OUTPUT;
  ASSERT_TRUE(BaseInitLoggingImpl(settings));
  EXPECT_TRUE(ShouldCreateLogMessage(LOG_INFO));
  testing::internal::CaptureStderr();
  LOG(INFO) << "debug output";
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find(":INFO:"));
  EXPECT_NE(std::string::npos, err.find("debug output\n"));
}

TEST_F(LoggingTest, DeleteOldFileThenExactLinesAndErrorsOnStandardError) {
  const std::wstring path = TempPath(L"delete_old.log");
  ASSERT_EQ(13, WriteFile(FilePath(path), "old contents\n", 13));
  ASSERT_TRUE(InitFileLogging(path, DELETE_OLD_FILE));
  EXPECT_EQ(path, GetLogFileFullPath());

  testing::internal::CaptureStderr();
  const int line = __LINE__ + 1;
  LOG(INFO) << "text";
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  testing::internal::CaptureStderr();
  LOG(ERROR) << "loud";
  const std::string err = testing::internal::GetCapturedStderr();
  CloseLogFile();

  std::vector<std::string> lines = SplitLines(ReadWholeFile(path));
  ASSERT_EQ(2u, lines.size());
  EXPECT_TRUE(MatchesShape("[####/######.###:INFO:logging_unittest.cc(" +
                               std::to_string(line) + ")] text\n",
                           lines[0]))
      << lines[0];
  EXPECT_NE(std::string::npos, err.find("] loud\n"));
  EXPECT_EQ(err, lines[1]);
}

TEST_F(LoggingTest, AppendToOldFileKeepsItAndReopensLazily) {
  const std::wstring path = TempPath(L"append.log");
  ASSERT_EQ(13, WriteFile(FilePath(path), "old contents\n", 13));
  ASSERT_TRUE(InitFileLogging(path, APPEND_TO_OLD_FILE));
  LOG(INFO) << "one";
  // Closed files open again on the next line, at the same name.
  CloseLogFile();
  LOG(INFO) << "two";
  CloseLogFile();

  std::vector<std::string> lines = SplitLines(ReadWholeFile(path));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("old contents\n", lines[0]);
  EXPECT_NE(std::string::npos, lines[1].find("] one\n"));
  EXPECT_NE(std::string::npos, lines[2].find("] two\n"));

  // Re-initialising moves to the new file.
  const std::wstring other = TempPath(L"other.log");
  ASSERT_TRUE(InitFileLogging(other, APPEND_TO_OLD_FILE));
  LOG(INFO) << "three";
  CloseLogFile();
  EXPECT_EQ(3u, SplitLines(ReadWholeFile(path)).size());
  EXPECT_NE(std::string::npos, ReadWholeFile(other).find("] three\n"));
}

TEST_F(LoggingTest, HandlerTakingTheMessageStopsEveryOutput) {
  const std::wstring path = TempPath(L"handled.log");
  ASSERT_TRUE(InitFileLogging(path, DELETE_OLD_FILE));
  CaptureLines();

  testing::internal::CaptureStderr();
  LOG(ERROR) << "taken";
  // A FATAL taken by the handler does not end the process.
  LOG(FATAL) << "taken fatal";
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("", err);
  ASSERT_EQ(2u, captured_lines_.size());
  EXPECT_NE(std::string::npos, captured_lines_[1].find(":FATAL:"));

  // A handler that declines leaves the line to the usual outputs.
  g_handler_result = false;
  testing::internal::CaptureStderr();
  LOG(ERROR) << "declined";
  err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(3u, captured_lines_.size());
  EXPECT_EQ(captured_lines_[2], err);
  CloseLogFile();
  EXPECT_EQ(captured_lines_[2], ReadWholeFile(path));
}

TEST_F(LoggingTest, LastErrorSurvivesStatements) {
  const std::wstring path = TempPath(L"last_error.log");
  ASSERT_TRUE(InitFileLogging(path, DELETE_OLD_FILE));
  CloseLogFile();  // so that the statement opens the file itself

  ::SetLastError(12345);
  LOG(INFO) << "opens the file";
  EXPECT_EQ(12345u, ::GetLastError());

  ::SetLastError(ERROR_ACCESS_DENIED);
  LOG(WARNING) << "again";
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());

  // The system-error form reports the code it found and leaves it in place,
  // even though it looks the text up and the handler changes the error.
  CaptureLines();
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  PLOG(ERROR) << "open failed";
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
  ASSERT_EQ(1u, captured_lines_.size());
  const std::string& str = captured_lines_[0];
  EXPECT_NE(std::string::npos, str.find("] open failed: "));
  EXPECT_TRUE(HasSuffix(str, " (0x2)\n")) << str;
}

TEST_F(LoggingTest, UnopenablePathFallsBackToCurrentFolder) {
  // "debug.log" in the current folder is a folder, so the fallback fails
  // too.
  ASSERT_TRUE(::SetCurrentDirectoryW(temp_dir_.c_str()));
  ASSERT_TRUE(::CreateDirectoryW(TempPath(L"debug.log").c_str(), nullptr));
  EXPECT_FALSE(InitFileLogging(TempPath(L"missing\\x.log"), DELETE_OLD_FILE));
  EXPECT_EQ(TempPath(L"debug.log"), GetLogFileFullPath());

  testing::internal::CaptureStderr();
  ::SetLastError(31);
  LOG(ERROR) << "nowhere to file";
  EXPECT_EQ(31u, ::GetLastError());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("] nowhere to file\n"));

  // Every later line tries again, at the current-folder name.
  ASSERT_TRUE(::RemoveDirectoryW(TempPath(L"debug.log").c_str()));
  LOG(INFO) << "found a file";
  CloseLogFile();
  EXPECT_NE(std::string::npos,
            ReadWholeFile(TempPath(L"debug.log")).find("] found a file\n"));

  // With the current folder writable the fallback is taken at once, and
  // nothing is made on the way to the unopenable name.
  const std::wstring missing = TempPath(L"no_such_folder\\deeper\\x.log");
  ASSERT_TRUE(InitFileLogging(missing, DELETE_OLD_FILE));
  EXPECT_EQ(TempPath(L"debug.log"), GetLogFileFullPath());
  LOG(INFO) << "fell back";
  CloseLogFile();
  EXPECT_NE(std::string::npos,
            ReadWholeFile(TempPath(L"debug.log")).find("] fell back\n"));
  EXPECT_FALSE(FileExists(TempPath(L"no_such_folder")));
}

TEST_F(LoggingTest, DriveRootGetsNoSecondBackslash) {
  ASSERT_GE(temp_dir_.size(), 3u);
  const std::wstring root = temp_dir_.substr(0, 3);  // "X:\"
  ASSERT_EQ(L'\\', root[2]);
  const std::wstring expected = root + L"debug.log";
  const bool existed = FileExists(expected);

  ASSERT_TRUE(::SetCurrentDirectoryW(root.c_str()));
  // Whether the root is writable depends on the account; the name does not.
  InitFileLogging(TempPath(L"missing\\x.log"), APPEND_TO_OLD_FILE);
  EXPECT_EQ(expected, GetLogFileFullPath());
  CloseLogFile();
  if (!existed)
    ::DeleteFileW(expected.c_str());
}

TEST_F(LoggingTest, DefaultFileIsBesideTheExecutable) {
  internal::LoggingStateForTesting state =
      internal::GetLoggingStateForTesting();
  state.has_log_file_name = false;
  state.destination = LOG_TO_FILE;
  internal::SetLoggingStateForTesting(state);

  wchar_t module[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::wstring expected(module, length);
  expected.erase(expected.rfind(L'\\') + 1);
  expected += L"debug.log";
  const bool existed = FileExists(expected);

  LOG(INFO) << "default file";
  EXPECT_EQ(expected, GetLogFileFullPath());
  CloseLogFile();
  EXPECT_NE(std::string::npos,
            ReadWholeFile(expected).find("] default file\n"));
  if (!existed)
    ::DeleteFileW(expected.c_str());
}

TEST_F(LoggingTest, SystemErrorCodeToString) {
  std::string text = SystemErrorCodeToString(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(HasSuffix(text, " (0x2)")) << text;
  EXPECT_GT(text.size(), 6u);
  // The system text ends in a line break, which must not survive.
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << text;
  EXPECT_NE(' ', text[0]);

  // A code the system has no text for: the lookup's own error, then the
  // code, in upper-case hexadecimal without leading zeros.
  ::SetLastError(0);
  text = SystemErrorCodeToString(0x7FFFABCD);
  EXPECT_TRUE(StartsWith(text, "Error (0x", CompareCase::SENSITIVE)) << text;
  EXPECT_TRUE(HasSuffix(text, ") while retrieving error. (0x7FFFABCD)"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("(0x0")) << text;
}

TEST_F(LoggingTest, VerboseLevelsFromMinimumLevel) {
  CaptureLines();
  EXPECT_EQ(0, GetVlogLevelHelper(__FILE__, sizeof(__FILE__)));
  EXPECT_FALSE(VLOG_IS_ON(1));
  bool evaluated = false;
  VLOG(1) << Touch(&evaluated);
  EXPECT_FALSE(evaluated);

  SetMinLogLevel(-3);
  EXPECT_EQ(3, GetVlogLevelHelper(__FILE__, sizeof(__FILE__)));
  EXPECT_TRUE(VLOG_IS_ON(3));
  EXPECT_FALSE(VLOG_IS_ON(4));
  VLOG(2) << "verbose two";
  ASSERT_EQ(1u, captured_lines_.size());
  EXPECT_NE(std::string::npos, captured_lines_[0].find(":VERBOSE2:"));

  SetMinLogLevel(2);
  EXPECT_EQ(-1, GetVlogLevelHelper(__FILE__, sizeof(__FILE__)));
}

TEST_F(LoggingTest, VerboseSwitches) {
  CommandLine::Init();
  CommandLine* command_line = CommandLine::ForCurrentProcess();
  ASSERT_TRUE(command_line);
  const CommandLine saved_command_line = *command_line;
  command_line->AppendSwitchASCII("v", "1");
  command_line->AppendSwitchASCII("vmodule", "logging_unittest=3");

  LoggingSettings settings;
  settings.logging_dest = LOG_NONE;
  EXPECT_TRUE(BaseInitLoggingImpl(settings));
  const void* first = internal::GetLoggingStateForTesting().vlog_info;
  *command_line = saved_command_line;

  ASSERT_TRUE(first);
  EXPECT_EQ(-1, GetMinLogLevel());
  EXPECT_EQ(3, GetVlogLevelHelper(__FILE__, sizeof(__FILE__)));
  EXPECT_TRUE(VLOG_IS_ON(3));
  EXPECT_FALSE(VLOG_IS_ON(4));
  static const char kOther[] = "other/file.cc";
  EXPECT_EQ(1, GetVlogLevelHelper(kOther, sizeof(kOther)));
  // Lowering the minimum log level after set-up raises the global verbose
  // level at once; the module level stays as given.
  SetMinLogLevel(-4);
  EXPECT_EQ(4, GetVlogLevelHelper(kOther, sizeof(kOther)));
  EXPECT_EQ(3, GetVlogLevelHelper(__FILE__, sizeof(__FILE__)));
  SetMinLogLevel(-1);

  CaptureLines();
  VLOG(3) << "module level";
  ASSERT_EQ(1u, captured_lines_.size());
  EXPECT_NE(std::string::npos, captured_lines_[0].find(":VERBOSE3:"));

  // A second set-up with the switches replaces the current one and keeps
  // the first as the previous; without them nothing changes.
  command_line->AppendSwitchASCII("v", "2");
  EXPECT_TRUE(BaseInitLoggingImpl(settings));
  *command_line = saved_command_line;
  internal::LoggingStateForTesting state =
      internal::GetLoggingStateForTesting();
  EXPECT_NE(first, state.vlog_info);
  EXPECT_EQ(first, state.vlog_info_prev);
  EXPECT_EQ(2, GetVlogLevelHelper(kOther, sizeof(kOther)));

  if (!command_line->HasSwitch("v") && !command_line->HasSwitch("vmodule")) {
    EXPECT_TRUE(BaseInitLoggingImpl(settings));
    EXPECT_EQ(state.vlog_info, internal::GetLoggingStateForTesting().vlog_info);
  }
}

TEST_F(LoggingTest, ConditionalAndDebugForms) {
  CaptureLines();
  bool evaluated = false;
  LOG_IF(INFO, false) << Touch(&evaluated);
  EXPECT_FALSE(evaluated);
  LOG_IF(INFO, true) << "if";
  LOG_ASSERT(1 + 1 == 2) << Touch(&evaluated);
  EXPECT_FALSE(evaluated);
  DLOG(INFO) << "debug";
  DPLOG(INFO) << "debug system error";
  SetMinLogLevel(-1);
  VLOG_IF(1, false) << Touch(&evaluated);
  EXPECT_FALSE(evaluated);
  DVLOG(1) << "debug verbose";
#if DCHECK_IS_ON()
  ASSERT_EQ(4u, captured_lines_.size());
  EXPECT_NE(std::string::npos, captured_lines_[1].find("] debug\n"));
  EXPECT_NE(std::string::npos, captured_lines_[3].find(":VERBOSE1:"));
#else
  ASSERT_EQ(1u, captured_lines_.size());
#endif
  EXPECT_NE(std::string::npos, captured_lines_[0].find("] if\n"));
}

TEST_F(LoggingTest, WideTextIsWrittenAsUtf8) {
  CaptureLines();
  SetLogItems(false, false, false, false);
  const wchar_t* null_text = nullptr;
  std::wstring wide = L"w\u00fcrde";
  wchar_t mutable_text[] = L"\u00e0";
  wchar_t* mutable_pointer = mutable_text;
  LOG(INFO) << L"h\u00e9" << null_text << "|" << wide << 1 << mutable_pointer
            << std::hex << 255 << std::endl
            << L"x";
  ASSERT_EQ(1u, captured_lines_.size());
  EXPECT_EQ(
      "h\xc3\xa9|w\xc3\xbcrde1\xc3\xa0"
      "ff\nx\n",
      captured_lines_[0].substr(captured_starts_[0]));

  // The overloads belong to the log stream: nothing is added to namespace
  // std, where the language allows no such declarations.
  EXPECT_FALSE(StdStreamTakes<std::wstring>::value);
}

// Whether anything (a leaked log file handle, say) still has |path| open.
bool FileIsOpenSomewhere(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
  ::CloseHandle(file);
  return false;
}

TEST_F(LoggingTest, ThreadsRacingToOpenTheFileShareOneHandle) {
  const std::wstring path = TempPath(L"race.log");
  ASSERT_TRUE(InitFileLogging(path, DELETE_OLD_FILE));
  // The first line of every thread finds the file closed.
  CloseLogFile();

  const int kThreads = 8;
  const int kLinesPerThread = 200;
  HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(start);
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(std::make_unique<TestThread>([start] {
      ::WaitForSingleObject(start, 10000);
      for (int line = 0; line < kLinesPerThread; ++line)
        LOG(INFO) << "racing line "
                  << (line < 10    ? "00"
                      : line < 100 ? "0"
                                   : "")
                  << line;
    }));
  }
  ::SetEvent(start);
  for (auto& thread : threads)
    thread->Join();
  ::CloseHandle(start);

  // Closing the published handle must leave no other one behind: an opener
  // that lost the race closes its own.
  EXPECT_TRUE(FileIsOpenSomewhere(path));
  CloseLogFile();
  EXPECT_FALSE(FileIsOpenSomewhere(path));

  // Every line whole: none written into another.
  std::vector<std::string> lines = SplitLines(ReadWholeFile(path));
  EXPECT_EQ(static_cast<size_t>(kThreads * kLinesPerThread), lines.size());
  int broken = 0;
  for (const std::string& line : lines) {
    if (!MatchesShape(
            "[####/######.###:INFO:logging_unittest.cc(###)] racing line ###\n",
            line) &&
        broken++ < 5) {
      ADD_FAILURE() << "torn line: " << line;
    }
  }
  EXPECT_EQ(0, broken);
}

// A front end and its backend may log into one file at once: lines of
// other processes' writers and of this process's threads all land whole,
// each writer's in its order.
TEST_F(LoggingTest, ProcessesAndThreadsAppendWholeLines) {
  const std::wstring path = TempPath(L"shared.log");
  ASSERT_TRUE(InitFileLogging(path, DELETE_OLD_FILE));
  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  const int kChildLines = 1000;
  std::vector<Process> children;
  for (const char* tag : {"a", "b"}) {
    CommandLine command(exe_dir.Append(L"kavor_base_child.exe"));
    command.AppendArg("log-lines");
    command.AppendArgNative(path);
    command.AppendArg(tag);
    command.AppendArg(std::to_string(kChildLines));
    LaunchOptions options;
    options.start_hidden = true;
    children.push_back(LaunchProcess(command, options));
    ASSERT_TRUE(children.back().IsValid());
  }
  // This process's threads write for as long as the children do.
  std::atomic<bool> children_done{false};
  std::atomic<int> own_lines{0};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < 2; ++i) {
    threads.push_back(
        std::make_unique<TestThread>([&children_done, &own_lines] {
          while (!children_done.load())
            LOG(INFO) << "own line " << own_lines++;
        }));
  }
  for (Process& child : children) {
    int exit_code = -1;
    if (!child.WaitForExitWithTimeout(TimeDelta::FromSeconds(30), &exit_code)) {
      child.Terminate(1, true);
      ADD_FAILURE() << "a logging child did not end within 30 s";
    }
    EXPECT_EQ(0, exit_code);
  }
  children_done = true;
  for (auto& thread : threads)
    thread->Join();
  CloseLogFile();

  // "[" + timestamp + ":INFO:" + file and line + "] ", then the text.
  std::vector<std::string> lines = SplitLines(ReadWholeFile(path));
  std::map<std::string, int> next = {{"a", 0}, {"b", 0}};
  int own = 0;
  int broken = 0;
  for (const std::string& line : lines) {
    const size_t text = line.find("] ");
    const bool prefix_whole = text != std::string::npos && line[0] == '[' &&
                              line.find(":INFO:") == 16 &&
                              line.back() == '\n' &&
                              line.find('[', 1) == std::string::npos;
    std::string tag;
    int number = -1;
    if (prefix_whole) {
      const std::string body = line.substr(text + 2, line.size() - text - 3);
      const size_t space = body.find(" line ");
      if (space != std::string::npos) {
        tag = body.substr(0, space);
        number = atoi(body.c_str() + space + 6);
      }
    }
    bool whole = false;
    if (tag == "own") {
      whole = true;
      ++own;
    } else if (next.count(tag) && number == next[tag]) {
      whole = true;
      ++next[tag];
    }
    if (!whole && broken++ < 5)
      ADD_FAILURE() << "torn or misplaced line: " << line;
  }
  EXPECT_EQ(0, broken);
  EXPECT_EQ(kChildLines, next["a"]);
  EXPECT_EQ(kChildLines, next["b"]);
  EXPECT_EQ(own_lines.load(), own);
}

bool DeclineEverything(
    LogSeverity, const char*, int, size_t, const std::string&) {
  return false;
}

// The statements run only in the child process, which ends, so nothing
// here needs putting back; the child logs nowhere but standard error.
void LogToStandardErrorOnly() {
  LoggingSettings settings;
  settings.logging_dest = LOG_NONE;
  BaseInitLoggingImpl(settings);
}

TEST(LoggingDeathTest, FatalEndsTheProcess) {
  // Debugger UI suppressed: the process exits at once with code 1.
  EXPECT_EXIT(
      {
        LogToStandardErrorOnly();
        debug::SetSuppressDebugUI(true);
        LOG(FATAL) << "fatal text";
      },
      testing::ExitedWithCode(1), "FATAL:logging_unittest\\.cc\\(.*fatal text");
  // Otherwise through the breakpoint trap.
  EXPECT_DEATH(
      {
        LogToStandardErrorOnly();
        LOG(FATAL) << "trapped";
      },
      "trapped");
  EXPECT_DEATH(
      {
        LogToStandardErrorOnly();
        LOG_ASSERT(1 + 1 == 3);
      },
      "Assert failed: 1 \\+ 1 == 3");
  // A handler that declines does not save the process.
  EXPECT_DEATH(
      {
        LogToStandardErrorOnly();
        SetLogMessageHandler(&DeclineEverything);
        LOG(FATAL) << "declined";
      },
      "declined");
}

}  // namespace
}  // namespace logging
}  // namespace base
