#include "base/test/scoped_log_lines.h"

#include "base/check.h"
#include "base/strings/string_util.h"

namespace base {

namespace {
ScopedLogLines* g_active = nullptr;
}  // namespace

ScopedLogLines::ScopedLogLines(logging::LogSeverity min,
                               logging::LogSeverity max)
    : min_(min),
      max_(max),
      saved_handler_(logging::GetLogMessageHandler()),
      saved_min_level_(logging::GetMinLogLevel()) {
  CHECK(!g_active);
  g_active = this;
  if (saved_min_level_ > min)
    logging::SetMinLogLevel(min);
  logging::SetLogMessageHandler(&ScopedLogLines::Handle);
}

ScopedLogLines::~ScopedLogLines() {
  logging::SetLogMessageHandler(saved_handler_);
  logging::SetMinLogLevel(saved_min_level_);
  g_active = nullptr;
}

std::string ScopedLogLines::text() const {
  std::string text;
  for (const std::string& line : lines_)
    text += line + "\n";
  return text;
}

// static
bool ScopedLogLines::Handle(logging::LogSeverity severity,
                            const char* file,
                            int line,
                            size_t message_start,
                            const std::string& str) {
  ScopedLogLines* self = g_active;
  if (!self || severity < self->min_ || severity > self->max_)
    return false;
  self->lines_.push_back(
      TrimWhitespaceASCII(StringPiece(str).substr(message_start), TRIM_TRAILING)
          .as_string());
  return true;
}

}  // namespace base
