#include "base/debug/task_annotator.h"

#include <array>

#include "base/debug/activity_tracker.h"
#include "base/debug/alias.h"
#include "base/location.h"
#include "base/pending_task.h"
#include "base/trace_event/scoped_trace_event.h"

namespace base {
namespace debug {

namespace {

// A flow step of the posting-to-running link: spans its scope.
trace_event::TraceEventArgs FlowArgs(uint64_t flow_id, unsigned int flow_flag) {
  trace_event::TraceEventArgs args;
  args.bind_id = flow_id;
  args.flags = TRACE_EVENT_FLAG_MANGLE_ID | flow_flag;
  return args;
}

}  // namespace

TaskAnnotator::TaskAnnotator() = default;

TaskAnnotator::~TaskAnnotator() = default;

void TaskAnnotator::DidQueueTask(const char* queue_function,
                                 const PendingTask& pending_task) {
  if (!trace_event::IsCategoryStateEnabled(
          trace_event::TaskFlowCategoryState())) {
    return;
  }
  trace_event::ScopedTraceEvent queued(
      trace_event::TaskFlowCategoryState(), queue_function,
      FlowArgs(GetTaskTraceID(pending_task), TRACE_EVENT_FLAG_FLOW_OUT));
}

void TaskAnnotator::RunTask(const char* queue_function,
                            PendingTask* pending_task) {
  ScopedTaskRunActivity task_activity(GetProgramCounter(), *pending_task);

  trace_event::ScopedTraceEvent flow(
      trace_event::TaskFlowCategoryState(), queue_function,
      FlowArgs(GetTaskTraceID(*pending_task), TRACE_EVENT_FLAG_FLOW_IN));

  // The posting chain sits between two markers on this frame so that a crash
  // dump taken inside the task shows where it came from.
  std::array<const void*, 7> task_backtrace;
  task_backtrace[0] = reinterpret_cast<const void*>(0xefefefefefefefefull);
  task_backtrace[1] = pending_task->posted_from.program_counter();
  for (size_t i = 0; i < pending_task->task_backtrace.size(); ++i)
    task_backtrace[i + 2] = pending_task->task_backtrace[i];
  task_backtrace[6] = reinterpret_cast<const void*>(0xfefefefefefefefeull);
  Alias(&task_backtrace);

  std::move(pending_task->task).Run();

  Alias(&task_backtrace);
}

uint64_t TaskAnnotator::GetTaskTraceID(const PendingTask& task) const {
  return (static_cast<uint64_t>(static_cast<uint32_t>(task.sequence_num))
          << 32) |
         (reinterpret_cast<uintptr_t>(this) & 0xffffffffu);
}

}  // namespace debug
}  // namespace base
