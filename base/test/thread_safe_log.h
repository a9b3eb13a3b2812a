#ifndef BASE_TEST_THREAD_SAFE_LOG_H_
#define BASE_TEST_THREAD_SAFE_LOG_H_

#include <string>
#include <vector>

#include "base/synchronization/lock.h"

namespace base {

// A list of entries that several threads may add to, for tests that check
// what happened, and in which order, across threads.
class ThreadSafeLog {
 public:
  ThreadSafeLog();
  ~ThreadSafeLog();

  ThreadSafeLog(const ThreadSafeLog&) = delete;
  ThreadSafeLog& operator=(const ThreadSafeLog&) = delete;

  void Add(const std::string& entry);

  // A copy of the entries so far, oldest first.
  std::vector<std::string> entries();

 private:
  Lock lock_;
  std::vector<std::string> entries_;
};

}  // namespace base

#endif  // BASE_TEST_THREAD_SAFE_LOG_H_
