#include "base/test/thread_safe_log.h"

namespace base {

ThreadSafeLog::ThreadSafeLog() = default;

ThreadSafeLog::~ThreadSafeLog() = default;

void ThreadSafeLog::Add(const std::string& entry) {
  AutoLock lock(lock_);
  entries_.push_back(entry);
}

std::vector<std::string> ThreadSafeLog::entries() {
  AutoLock lock(lock_);
  return entries_;
}

}  // namespace base
