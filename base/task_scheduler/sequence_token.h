#ifndef BASE_TASK_SCHEDULER_SEQUENCE_TOKEN_H_
#define BASE_TASK_SCHEDULER_SEQUENCE_TOKEN_H_

#include <stdint.h>

#include "base/macros.h"

namespace base {

// Identifies a sequence of tasks. A default-made token is invalid and equals
// nothing, not even itself.
class SequenceToken {
 public:
  constexpr SequenceToken() = default;

  SequenceToken(const SequenceToken& other) = default;
  SequenceToken& operator=(const SequenceToken& other) = default;

  // Equal only when both hold the same value and that value is valid.
  bool operator==(const SequenceToken& other) const;
  bool operator!=(const SequenceToken& other) const;

  bool IsValid() const { return token_ != kInvalidSequenceToken; }

  // The raw value, for tracing.
  int32_t ToInternalValue() const { return token_; }

  // A new valid token: 0, 1, 2, ... across the process.
  static SequenceToken Create();

  // The token of the sequence whose task runs on this thread, or an invalid
  // token.
  static SequenceToken GetForCurrentThread();

 private:
  static constexpr int32_t kInvalidSequenceToken = -1;

  explicit SequenceToken(int32_t token) : token_(token) {}

  int32_t token_ = kInvalidSequenceToken;
};

// Identifies one run of one task; same rules as SequenceToken.
class TaskToken {
 public:
  constexpr TaskToken() = default;

  TaskToken(const TaskToken& other) = default;
  TaskToken& operator=(const TaskToken& other) = default;

  bool operator==(const TaskToken& other) const;
  bool operator!=(const TaskToken& other) const;

  bool IsValid() const { return token_ != kInvalidTaskToken; }

  static TaskToken Create();

  // The token of the task running on this thread, or an invalid token.
  static TaskToken GetForCurrentThread();

 private:
  static constexpr int32_t kInvalidTaskToken = -1;

  explicit TaskToken(int32_t token) : token_(token) {}

  int32_t token_ = kInvalidTaskToken;
};

// While alive, makes |sequence_token| and a new task token current on this
// thread. Scopes do not nest.
class ScopedSetSequenceTokenForCurrentThread {
 public:
  explicit ScopedSetSequenceTokenForCurrentThread(
      const SequenceToken& sequence_token);
  ~ScopedSetSequenceTokenForCurrentThread();

 private:
  const SequenceToken sequence_token_;
  const TaskToken task_token_;

  DISALLOW_COPY_AND_ASSIGN(ScopedSetSequenceTokenForCurrentThread);
};

}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SEQUENCE_TOKEN_H_
