#include "base/debug/task_annotator.h"

#include <array>

#include "base/debug/activity_tracker.h"
#include "base/debug/alias.h"
#include "base/location.h"
#include "base/pending_task.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace debug {

namespace {

constexpr char kFlowCategory[] = "disabled-by-default-toplevel.flow";

const unsigned char* FlowCategoryState() {
  static const unsigned char* state =
      trace_event::TraceLog::GetCategoryGroupEnabled(kFlowCategory);
  return state;
}

bool FlowCategoryEnabled() {
  return (*FlowCategoryState() & trace_event::TraceLog::kEnabledForAnyMask) !=
         0;
}

trace_event::TraceEventHandle AddFlowEvent(const char* name,
                                           uint64_t flow_id,
                                           unsigned int flow_flag) {
  return trace_event::TraceLog::GetInstance()->AddTraceEvent(
      TRACE_EVENT_PHASE_COMPLETE, FlowCategoryState(), name, nullptr, 0,
      flow_id, static_cast<int>(PlatformThread::CurrentId()), TimeTicks::Now(),
      0, nullptr, nullptr, nullptr, nullptr,
      TRACE_EVENT_FLAG_MANGLE_ID | flow_flag);
}

}  // namespace

TaskAnnotator::TaskAnnotator() = default;

TaskAnnotator::~TaskAnnotator() = default;

void TaskAnnotator::DidQueueTask(const char* queue_function,
                                 const PendingTask& pending_task) {
  if (!FlowCategoryEnabled())
    return;
  trace_event::TraceEventHandle handle = AddFlowEvent(
      queue_function, GetTaskTraceID(pending_task), TRACE_EVENT_FLAG_FLOW_OUT);
  trace_event::TraceLog::GetInstance()->UpdateTraceEventDuration(
      FlowCategoryState(), queue_function, handle);
}

void TaskAnnotator::RunTask(const char* queue_function,
                            PendingTask* pending_task) {
  ScopedTaskRunActivity task_activity(GetProgramCounter(), *pending_task);

  bool traced = FlowCategoryEnabled();
  trace_event::TraceEventHandle handle = {};
  if (traced) {
    handle = AddFlowEvent(queue_function, GetTaskTraceID(*pending_task),
                          TRACE_EVENT_FLAG_FLOW_IN);
  }

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
  if (traced) {
    trace_event::TraceLog::GetInstance()->UpdateTraceEventDuration(
        FlowCategoryState(), queue_function, handle);
  }
}

uint64_t TaskAnnotator::GetTaskTraceID(const PendingTask& task) const {
  return (static_cast<uint64_t>(static_cast<uint32_t>(task.sequence_num))
          << 32) |
         (reinterpret_cast<uintptr_t>(this) & 0xffffffffu);
}

}  // namespace debug
}  // namespace base
