#ifndef BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_
#define BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_

#include "base/callback.h"
#include "base/location.h"

namespace base {
namespace internal {

// Runs a task somewhere else, then its reply back on the sequence that
// posted them. Subclasses say where the task goes by implementing PostTask.
// The posting thread must have a sequenced runner (SequencedTaskRunnerHandle).
class PostTaskAndReplyImpl {
 public:
  virtual ~PostTaskAndReplyImpl() = default;

  // Returns false, and destroys |task| and |reply| at once, when the task
  // cannot be posted.
  bool PostTaskAndReply(const Location& from_here,
                        OnceClosure task,
                        OnceClosure reply);

 private:
  virtual bool PostTask(const Location& from_here, OnceClosure task) = 0;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_
