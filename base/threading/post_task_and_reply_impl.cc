#include "base/threading/post_task_and_reply_impl.h"

#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/threading/sequenced_task_runner_handle.h"

namespace base {
namespace internal {

namespace {

// Carries the task to its destination and the reply back to the origin. The
// steps hold it by plain pointer and only the reply step deletes it. When a
// step is destroyed without running (its runner stopped accepting tasks),
// the relay leaks together with the task and reply it still holds: they may
// own objects that must die on their own sequence, and a leak is safer than
// destroying them on whichever thread happens to drop the step.
class PostTaskAndReplyRelay {
 public:
  PostTaskAndReplyRelay(const Location& from_here,
                        OnceClosure task,
                        OnceClosure reply)
      : from_here_(from_here),
        origin_task_runner_(SequencedTaskRunnerHandle::Get()),
        reply_(std::move(reply)),
        task_(std::move(task)) {}

  // Runs on the destination. The task is consumed, and so destroyed, before
  // the reply is posted.
  static void RunTaskAndPostReply(PostTaskAndReplyRelay* relay) {
    std::move(relay->task_).Run();
    scoped_refptr<SequencedTaskRunner> origin = relay->origin_task_runner_;
    origin->PostTask(relay->from_here_,
                     BindOnce(&PostTaskAndReplyRelay::RunReplyAndSelfDestruct,
                              Unretained(relay)));
  }

 private:
  // Runs on the origin.
  static void RunReplyAndSelfDestruct(PostTaskAndReplyRelay* relay) {
    DCHECK(!relay->task_);
    std::move(relay->reply_).Run();
    delete relay;
  }

  const Location from_here_;
  const scoped_refptr<SequencedTaskRunner> origin_task_runner_;
  OnceClosure reply_;
  OnceClosure task_;

  DISALLOW_COPY_AND_ASSIGN(PostTaskAndReplyRelay);
};

}  // namespace

bool PostTaskAndReplyImpl::PostTaskAndReply(const Location& from_here,
                                            OnceClosure task,
                                            OnceClosure reply) {
  CHECK(task);
  CHECK(reply);
  PostTaskAndReplyRelay* relay =
      new PostTaskAndReplyRelay(from_here, std::move(task), std::move(reply));
  if (!PostTask(from_here, BindOnce(&PostTaskAndReplyRelay::RunTaskAndPostReply,
                                    Unretained(relay)))) {
    // Refused on the posting thread: nothing ran, so the relay's contents
    // can die here.
    delete relay;
    return false;
  }
  return true;
}

}  // namespace internal
}  // namespace base
