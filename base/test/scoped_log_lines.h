#ifndef BASE_TEST_SCOPED_LOG_LINES_H_
#define BASE_TEST_SCOPED_LOG_LINES_H_

#include <string>
#include <vector>

#include "base/logging.h"

namespace base {

// Collects the text of the lines logged with a severity from |min| to |max|
// while it lives, without their prefix and trailing whitespace; those lines
// are written nowhere else. Lines of other severities go on as usual. Makes
// lines of |min| and above be logged. One at a time, on the thread that
// logs.
class ScopedLogLines {
 public:
  ScopedLogLines(logging::LogSeverity min, logging::LogSeverity max);
  ~ScopedLogLines();

  ScopedLogLines(const ScopedLogLines&) = delete;
  ScopedLogLines& operator=(const ScopedLogLines&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  // The lines, each followed by a line feed.
  std::string text() const;

 private:
  static bool Handle(logging::LogSeverity severity,
                     const char* file,
                     int line,
                     size_t message_start,
                     const std::string& str);

  const logging::LogSeverity min_;
  const logging::LogSeverity max_;
  const logging::LogMessageHandler saved_handler_;
  const int saved_min_level_;
  std::vector<std::string> lines_;
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_LOG_LINES_H_
