#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/process/process_handle.h"
#include "base/single_thread_task_runner.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/sys_info.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread_id_name_manager.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/category_registry.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_event_etw_export_win.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {

constexpr uint64_t kFnvOffsetBasis = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

// Any non-null value marks a thread-local flag as set.
void* const kFlagSet = reinterpret_cast<void*>(1);

constexpr char kEventNameWhitelist[] = "event_name_whitelist";

// The process-wide event filters: position i answers to bit i of a
// category's filter bitmap. Filters are called from any recording thread
// without a lock, so a filter is never freed once made; a later filtering
// session (tests only) empties the positions and makes new filters, while
// the old ones stay alive in AllFiltersEverMade.
std::atomic<TraceEventFilter*> g_event_filters[TraceLog::kMaxEventFilters];
// The positions in use; written under the trace log's lock.
size_t g_event_filter_count = 0;

std::vector<std::unique_ptr<TraceEventFilter>>& AllFiltersEverMade() {
  static auto* const filters =
      new std::vector<std::unique_ptr<TraceEventFilter>>;
  return *filters;
}

void AppendEventFilterLocked(std::unique_ptr<TraceEventFilter> filter) {
  g_event_filters[g_event_filter_count].store(filter.get(),
                                              std::memory_order_release);
  ++g_event_filter_count;
  AllFiltersEverMade().push_back(std::move(filter));
}

void ClearEventFiltersLocked() {
  for (auto& slot : g_event_filters)
    slot.store(nullptr, std::memory_order_release);
  g_event_filter_count = 0;
}

// Calls |fn| with each filter that the category's bitmap names, lowest bit
// first.
template <typename Fn>
void ForEachCategoryFilter(const unsigned char* category_group_enabled, Fn fn) {
  uint32_t bitmap =
      TraceCategory::FromStatePtr(category_group_enabled)->enabled_filters();
  for (size_t index = 0; bitmap != 0 && index < TraceLog::kMaxEventFilters;
       ++index, bitmap >>= 1) {
    if (!(bitmap & 1))
      continue;
    TraceEventFilter* filter =
        g_event_filters[index].load(std::memory_order_acquire);
    if (filter)
      fn(filter);
  }
}

void MakeHandle(uint32_t chunk_seq,
                size_t chunk_index,
                size_t event_index,
                TraceEventHandle* handle) {
  DCHECK(chunk_seq);
  DCHECK_LT(event_index, TraceBufferChunk::kTraceBufferChunkSize);
  // An index past the handle's 26 bits would be cut and name another
  // chunk: such an event keeps the empty handle.
  if (chunk_index > TraceBuffer::kMaxChunkIndex)
    return;
  handle->chunk_seq = chunk_seq;
  handle->chunk_index = static_cast<unsigned>(chunk_index);
  handle->event_index = static_cast<unsigned>(event_index);
}

ThreadTicks ThreadNow() {
  return ThreadTicks::IsSupported() ? ThreadTicks::Now() : ThreadTicks();
}

int CurrentThreadId() {
  return static_cast<int>(PlatformThread::CurrentId());
}

// The trace log owns the convertable arguments it is given; whatever no
// event took over is released when the call ends.
class ScopedConvertablesRelease {
 public:
  ScopedConvertablesRelease(
      int num_args,
      std::unique_ptr<ConvertableToTraceFormat>* convertable_values)
      : num_args_(num_args), convertable_values_(convertable_values) {}
  ~ScopedConvertablesRelease() {
    if (!convertable_values_)
      return;
    for (int i = 0; i < num_args_; ++i)
      convertable_values_[i].reset();
  }

 private:
  const int num_args_;
  std::unique_ptr<ConvertableToTraceFormat>* const convertable_values_;

  DISALLOW_COPY_AND_ASSIGN(ScopedConvertablesRelease);
};

Time ProcessCreationTime() {
  FILETIME creation_time;
  FILETIME exit_time;
  FILETIME kernel_time;
  FILETIME user_time;
  if (!::GetProcessTimes(::GetCurrentProcess(), &creation_time, &exit_time,
                         &kernel_time, &user_time)) {
    return Time();
  }
  return Time::FromFileTime(creation_time);
}

}  // namespace

// Takes the trace log's lock only when it turns out to be needed, and
// releases it at the end of the scope if it was taken.
class TraceLog::OptionalAutoLock {
 public:
  explicit OptionalAutoLock(Lock* lock) : lock_(lock) {}
  ~OptionalAutoLock() {
    if (locked_)
      lock_->Release();
  }

  void EnsureAcquired() {
    if (!locked_) {
      lock_->Acquire();
      locked_ = true;
    }
  }

 private:
  Lock* const lock_;
  bool locked_ = false;

  DISALLOW_COPY_AND_ASSIGN(OptionalAutoLock);
};

// Marks the calling thread as inside a trace call for the life of the
// scope. Only the outermost trace call makes one: nested calls are dropped
// before they get here.
class TraceLog::ScopedInTraceEvent {
 public:
  explicit ScopedInTraceEvent(TraceLog* trace_log) : trace_log_(trace_log) {
    trace_log_->thread_is_in_trace_event_.Set(kFlagSet);
  }
  ~ScopedInTraceEvent() {
    trace_log_->thread_is_in_trace_event_.Set(nullptr);
    // SetCurrentThreadBlocksMessageLoop, called further down this call (by
    // an observer told that the buffer filled up, or by a filter), had to
    // leave the thread's buffer alone while it was in use. Nothing uses it
    // now; left in place, its chunk would stay in flight, and a flush drops
    // chunks in flight.
    if (trace_log_->thread_blocks_message_loop_.Get())
      trace_log_->DeleteThreadLocalEventBuffer();
  }

 private:
  TraceLog* const trace_log_;

  DISALLOW_COPY_AND_ASSIGN(ScopedInTraceEvent);
};

// The chunk a thread with a message loop writes into without the trace
// log's lock. Lives until the loop is destroyed (or the trace log moves to
// a new generation), and gives its chunk back to the buffer when the chunk
// is full and when it dies.
class TraceLog::ThreadLocalEventBuffer
    : public MessageLoop::DestructionObserver,
      public MemoryDumpProvider {
 public:
  explicit ThreadLocalEventBuffer(TraceLog* trace_log);
  ~ThreadLocalEventBuffer() override;

  TraceEvent* AddTraceEvent(TraceEventHandle* handle);

  // The event of |handle| when it is in this buffer's chunk, else null.
  TraceEvent* GetEventByHandle(TraceEventHandle handle) {
    if (!chunk_ || handle.chunk_seq != chunk_->seq() ||
        handle.chunk_index != chunk_index_) {
      return nullptr;
    }
    return chunk_->GetEventAt(handle.event_index);
  }

  uint32_t generation() const { return generation_; }

  // Gives the chunk back to the buffer if it belongs to the current
  // generation, or drops it. Lock held; the owning thread only.
  void ReturnChunkLocked();

 private:
  // MessageLoop::DestructionObserver:
  void WillDestroyCurrentMessageLoop() override;

  // MemoryDumpProvider:
  bool OnMemoryDump(const MemoryDumpArgs& args,
                    ProcessMemoryDump* pmd) override;

  TraceLog* const trace_log_;
  std::unique_ptr<TraceBufferChunk> chunk_;
  size_t chunk_index_ = 0;
  const uint32_t generation_;
  MessageLoop* const message_loop_;

  DISALLOW_COPY_AND_ASSIGN(ThreadLocalEventBuffer);
};

TraceLog::ThreadLocalEventBuffer::ThreadLocalEventBuffer(TraceLog* trace_log)
    : trace_log_(trace_log),
      generation_(trace_log->generation()),
      message_loop_(MessageLoop::current()) {
  message_loop_->AddDestructionObserver(this);
  // Dumped on its own thread, the only one that touches the chunk.
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(
      this, "ThreadLocalEventBuffer", ThreadTaskRunnerHandle::Get());
  AutoLock lock(trace_log_->lock_);
  trace_log_->thread_message_loops_.insert(message_loop_);
}

TraceLog::ThreadLocalEventBuffer::~ThreadLocalEventBuffer() {
  message_loop_->RemoveDestructionObserver(this);
  MemoryDumpManager::GetInstance()->UnregisterDumpProvider(this);
  {
    AutoLock lock(trace_log_->lock_);
    ReturnChunkLocked();
    trace_log_->thread_message_loops_.erase(message_loop_);
  }
  trace_log_->thread_local_event_buffer_.Set(nullptr);
}

void TraceLog::ThreadLocalEventBuffer::ReturnChunkLocked() {
  if (!chunk_)
    return;
  if (trace_log_->CheckGeneration(generation_)) {
    trace_log_->logged_events_->ReturnChunk(chunk_index_, std::move(chunk_));
  } else {
    // The buffer it came from is gone.
    chunk_.reset();
  }
}

TraceEvent* TraceLog::ThreadLocalEventBuffer::AddTraceEvent(
    TraceEventHandle* handle) {
  if (!chunk_ || chunk_->IsFull()) {
    // One lock for giving the full chunk back and taking the next.
    AutoLock lock(trace_log_->lock_);
    ReturnChunkLocked();
    // A buffer of an older generation would take a chunk that could never
    // go back (a ring buffer would lose it for good); it is replaced at the
    // thread's next event.
    if (!trace_log_->CheckGeneration(generation_))
      return nullptr;
    chunk_ = trace_log_->logged_events_->GetChunk(&chunk_index_);
    trace_log_->CheckIfBufferIsFullLocked();
  }
  if (!chunk_)
    return nullptr;

  size_t event_index;
  TraceEvent* trace_event = chunk_->AddTraceEvent(&event_index);
  if (trace_event && handle)
    MakeHandle(chunk_->seq(), chunk_index_, event_index, handle);
  return trace_event;
}

void TraceLog::ThreadLocalEventBuffer::WillDestroyCurrentMessageLoop() {
  // This is the thread's own buffer; the shared path keeps trace calls made
  // while it goes away from finding it half destroyed.
  DCHECK(trace_log_->thread_local_event_buffer_.Get() == this);
  trace_log_->DeleteThreadLocalEventBuffer();
}

bool TraceLog::ThreadLocalEventBuffer::OnMemoryDump(const MemoryDumpArgs& args,
                                                    ProcessMemoryDump* pmd) {
  if (!chunk_)
    return true;
  const std::string dump_base_name =
      StringPrintf("tracing/thread_%d", CurrentThreadId());
  TraceEventMemoryOverhead overhead;
  chunk_->EstimateTraceMemoryOverhead(&overhead);
  overhead.DumpInto(dump_base_name.c_str(), pmd);
  return true;
}

// static
TraceLog* TraceLog::GetInstance() {
  // Never destroyed: trace calls may come from any thread until the end.
  static TraceLog* const instance = new TraceLog();
  instance->RegisterAsDumpProviderOnce();
  return instance;
}

TraceLog::TraceLog() {
  const ProcessId pid = GetCurrentProcId();
  process_id_ = static_cast<int>(pid);
  process_id_hash_ =
      (kFnvOffsetBasis ^ static_cast<uint64_t>(process_id_)) * kFnvPrime;
  process_creation_time_ = ProcessCreationTime();
  TraceEvent::SetProcessIdForJSON(process_id_);
  logged_events_ = MakeTraceBuffer(1);
}

TraceLog::~TraceLog() = default;

void TraceLog::RegisterAsDumpProviderOnce() {
  if (registered_as_dump_provider_.load(std::memory_order_acquire) ||
      registered_as_dump_provider_.exchange(true)) {
    return;
  }
  // Registered once, with whichever manager GetInstance answers at the first
  // use of the trace log, and never moved: a manager that a test makes for
  // itself (MemoryDumpManager::CreateInstanceForTesting) before that first
  // use gets the registration, and it is lost with that manager. The
  // process-wide manager only sees "TraceLog" when the trace log was used
  // before any such test manager existed.
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(this, "TraceLog",
                                                         nullptr);
}

// static
const unsigned char* TraceLog::GetCategoryGroupEnabled(
    const char* category_group) {
  TraceLog* trace_log = GetInstance();
  if (!trace_log)
    return CategoryRegistry::kCategoryAlreadyShutdown->state_ptr();
  TraceCategory* category = CategoryRegistry::GetCategoryByName(category_group);
  if (!category) {
    AutoLock lock(trace_log->lock_);
    CategoryRegistry::GetOrCreateCategoryLocked(
        category_group, &TraceLog::RefreshCategoryStateCallback, &category);
  }
  return category->state_ptr();
}

// static
const char* TraceLog::GetCategoryGroupName(
    const unsigned char* category_state) {
  return TraceCategory::FromStatePtr(category_state)->name();
}

// static
void TraceLog::RefreshCategoryStateCallback(TraceCategory* category) {
  // Only ever called under the instance's lock, for a new entry.
  GetInstance()->RefreshCategoryState(category);
}

void TraceLog::RefreshCategoryState(TraceCategory* category) {
  const char* const name = category->name();
  const bool recording = (enabled_modes() & RECORDING_MODE) != 0;
  uint8_t state = 0;
  if (recording && trace_config_.IsCategoryGroupEnabled(name))
    state |= ENABLED_FOR_RECORDING;
  // Metadata goes with every recording, whatever the config says.
  if (recording && category == CategoryRegistry::kCategoryMetadata)
    state |= ENABLED_FOR_RECORDING;
  if (TraceEventETWExport::IsCategoryGroupEnabled(name))
    state |= ENABLED_FOR_ETW_EXPORT;

  uint32_t enabled_filters = 0;
  const size_t filter_count =
      std::min(enabled_event_filters_.size(), kMaxEventFilters);
  for (size_t index = 0; index < filter_count; ++index) {
    if (enabled_event_filters_[index].IsCategoryGroupEnabled(name)) {
      state |= ENABLED_FOR_FILTERING;
      enabled_filters |= 1u << index;
    }
  }
  category->set_enabled_filters(enabled_filters);
  category->set_state(state);
}

void TraceLog::RefreshAllCategoriesLocked() {
  BuildEventFilters();
  for (TraceCategory& category : CategoryRegistry::GetAllCategories())
    RefreshCategoryState(&category);
}

void TraceLog::BuildEventFilters() {
  if (!(enabled_modes() & FILTERING_MODE) || g_event_filter_count != 0)
    return;
  for (const TraceConfig::EventFilterConfig& config : enabled_event_filters_) {
    if (g_event_filter_count >= kMaxEventFilters)
      break;
    std::unique_ptr<TraceEventFilter> filter;
    const std::string& predicate_name = config.predicate_name();
    if (predicate_name == EventNameFilter::kName) {
      auto whitelist = std::make_unique<std::unordered_set<std::string>>();
      CHECK(config.GetArgAsSet(kEventNameWhitelist, &*whitelist));
      filter = std::make_unique<EventNameFilter>(std::move(whitelist));
    } else if (predicate_name == HeapProfilerEventFilter::kName) {
      filter = std::make_unique<HeapProfilerEventFilter>();
    } else {
      CHECK(filter_factory_for_testing_);
      filter = filter_factory_for_testing_(predicate_name);
      CHECK(filter);
    }
    AppendEventFilterLocked(std::move(filter));
  }
}

std::unique_ptr<TraceBuffer> TraceLog::MakeTraceBuffer(
    uint32_t first_seq) const {
  ScopedHeapProfilerIgnore ignore_tracing_bookkeeping;
  const uint32_t options = trace_options();
  auto chunks = [this](size_t usual) {
    return buffer_chunks_for_testing_ ? buffer_chunks_for_testing_ : usual;
  };
  if (options & kInternalRecordContinuously) {
    return TraceBuffer::CreateTraceBufferRingBuffer(
        chunks(kTraceEventRingBufferChunks), first_seq);
  }
  if (options & kInternalEchoToConsole) {
    return TraceBuffer::CreateTraceBufferRingBuffer(
        chunks(kEchoToConsoleTraceEventBufferChunks), first_seq);
  }
  if (options & kInternalRecordAsMuchAsPossible) {
    return TraceBuffer::CreateTraceBufferVectorOfSize(
        chunks(kTraceEventVectorBigBufferChunks), first_seq);
  }
  return TraceBuffer::CreateTraceBufferVectorOfSize(
      chunks(kTraceEventVectorBufferChunks), first_seq);
}

std::unique_ptr<TraceBuffer> TraceLog::ReplaceBufferLocked() {
  // Handles made before stay with the numbers of the old buffer's chunks,
  // so they cannot name an event of the new one.
  const uint32_t first_seq = logged_events_->next_chunk_seq();
  generation_.fetch_add(1, std::memory_order_relaxed);
  std::unique_ptr<TraceBuffer> old_buffer = std::move(logged_events_);
  logged_events_ = MakeTraceBuffer(first_seq);
  return old_buffer;
}

TraceEventHandle TraceLog::AddTraceEvent(
    char phase,
    const unsigned char* category_group_enabled,
    const char* name,
    const char* scope,
    unsigned long long id,
    unsigned long long bind_id,
    int thread_id,
    const TimeTicks& timestamp,
    int num_args,
    const char* const* arg_names,
    const unsigned char* arg_types,
    const unsigned long long* arg_values,
    std::unique_ptr<ConvertableToTraceFormat>* convertable_values,
    unsigned int flags) {
  ScopedConvertablesRelease release_convertables(num_args, convertable_values);
  TraceEventHandle handle = {0, 0, 0};
  const unsigned char state = *category_group_enabled;
  if (!state)
    return handle;
  // Recording may log, post or register, which can come back here on this
  // thread; that inner event is dropped rather than deadlock.
  if (thread_is_in_trace_event_.Get())
    return handle;
  ScopedInTraceEvent in_trace_event(this);

  if (flags & TRACE_EVENT_FLAG_MANGLE_ID) {
    if (flags & (TRACE_EVENT_FLAG_FLOW_IN | TRACE_EVENT_FLAG_FLOW_OUT))
      bind_id ^= process_id_hash_;
    id ^= process_id_hash_;
  }

  const TimeTicks offset_event_timestamp = timestamp - time_offset();
  const ThreadTicks thread_now = ThreadNow();

  ThreadLocalEventBuffer* thread_local_event_buffer = nullptr;
  if (state & ENABLED_FOR_RECORDING)
    thread_local_event_buffer = EnsureThreadLocalBuffer();

  if (thread_id == CurrentThreadId())
    UpdateThreadNames(thread_id);

  if (state & ENABLED_FOR_ETW_EXPORT) {
    TraceEventETWExport::AddEvent(phase, category_group_enabled, name, id,
                                  num_args, arg_names, arg_types, arg_values,
                                  convertable_values);
  }

  std::unique_ptr<TraceEvent> filtered_trace_event;
  bool disabled_by_filters = false;
  if (state & ENABLED_FOR_FILTERING) {
    auto new_trace_event = std::make_unique<TraceEvent>();
    new_trace_event->Initialize(thread_id, offset_event_timestamp, thread_now,
                                phase, category_group_enabled, name, scope, id,
                                bind_id, num_args, arg_names, arg_types,
                                arg_values, convertable_values, flags);
    // Every filter sees the event, even after one let it through: a filter
    // may mirror the nesting of events and must not miss a begin.
    disabled_by_filters = true;
    ForEachCategoryFilter(category_group_enabled,
                          [&](TraceEventFilter* filter) {
                            if (filter->FilterTraceEvent(*new_trace_event))
                              disabled_by_filters = false;
                          });
    if (!disabled_by_filters)
      filtered_trace_event = std::move(new_trace_event);
  }

  std::string console_message;
  if ((state & ENABLED_FOR_RECORDING) && !disabled_by_filters) {
    OptionalAutoLock lock(&lock_);
    TraceEvent* trace_event = nullptr;
    if (thread_local_event_buffer) {
      trace_event = thread_local_event_buffer->AddTraceEvent(&handle);
    } else {
      lock.EnsureAcquired();
      trace_event = AddToSharedChunkLocked(&handle, true);
    }

    if (trace_event) {
      if (filtered_trace_event) {
        trace_event->MoveFrom(std::move(filtered_trace_event));
      } else {
        trace_event->Initialize(thread_id, offset_event_timestamp, thread_now,
                                phase, category_group_enabled, name, scope, id,
                                bind_id, num_args, arg_names, arg_types,
                                arg_values, convertable_values, flags);
      }
    }

    if (trace_options() & kInternalEchoToConsole) {
      console_message = FormatConsoleLine(
          phase == TRACE_EVENT_PHASE_COMPLETE ? TRACE_EVENT_PHASE_BEGIN : phase,
          timestamp, trace_event);
    }
  }

  if (!console_message.empty())
    LOG(ERROR) << console_message;

  return handle;
}

void TraceLog::UpdateThreadNames(int thread_id) {
  const char* new_name = ThreadIdNameManager::GetInstance()->GetName(
      static_cast<PlatformThreadId>(thread_id));
  // The manager hands out one permanent copy per name, so an unchanged
  // pointer means an unchanged name and the info lock is not needed.
  if (!new_name || !*new_name || new_name == current_thread_name_.Get())
    return;
  current_thread_name_.Set(const_cast<char*>(new_name));

  AutoLock thread_info_lock(thread_info_lock_);
  auto existing = thread_names_.find(thread_id);
  if (existing == thread_names_.end()) {
    thread_names_[thread_id] = new_name;
    return;
  }
  const std::vector<StringPiece> existing_names = SplitStringPiece(
      existing->second, ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY);
  if (std::find(existing_names.begin(), existing_names.end(),
                StringPiece(new_name)) != existing_names.end()) {
    return;
  }
  if (!existing_names.empty())
    existing->second.push_back(',');
  existing->second.append(new_name);
}

void TraceLog::UpdateTraceEventDuration(
    const unsigned char* category_group_enabled,
    const char* name,
    TraceEventHandle handle) {
  if (!*category_group_enabled)
    return;
  const TimeTicks now = TimeTicks::Now() - time_offset();
  UpdateTraceEventDurationAt(category_group_enabled, name, handle, now,
                             ThreadNow());
}

void TraceLog::UpdateTraceEventDurationAt(
    const unsigned char* category_group_enabled,
    const char* name,
    TraceEventHandle handle,
    const TimeTicks& now,
    const ThreadTicks& thread_now) {
  const unsigned char state = *category_group_enabled;
  if (!state)
    return;
  if (thread_is_in_trace_event_.Get())
    return;
  ScopedInTraceEvent in_trace_event(this);

  if (state & ENABLED_FOR_ETW_EXPORT)
    TraceEventETWExport::AddCompleteEndEvent(name);

  std::string console_message;
  if (state & ENABLED_FOR_RECORDING) {
    OptionalAutoLock lock(&lock_);
    TraceEvent* trace_event = FindEventByHandle(handle, &lock);
    if (trace_event)
      trace_event->UpdateDuration(now, thread_now);
    if (trace_options() & kInternalEchoToConsole) {
      console_message =
          FormatConsoleLine(TRACE_EVENT_PHASE_END, now, trace_event);
    }
  }
  if (!console_message.empty())
    LOG(ERROR) << console_message;

  if (state & ENABLED_FOR_FILTERING) {
    const char* const category_name =
        GetCategoryGroupName(category_group_enabled);
    ForEachCategoryFilter(category_group_enabled,
                          [&](TraceEventFilter* filter) {
                            filter->EndEvent(category_name, name);
                          });
  }
}

void TraceLog::SetDisabledWhileLocked(uint8_t modes_to_disable) {
  if (!(enabled_modes() & modes_to_disable) || dispatching_to_observers_)
    return;

  const bool is_recording_mode_disabled =
      (enabled_modes() & RECORDING_MODE) && (modes_to_disable & RECORDING_MODE);
  enabled_modes_.store(enabled_modes() & ~modes_to_disable,
                       std::memory_order_relaxed);
  // The filter objects stay: other threads may still be calling them.
  if (modes_to_disable & FILTERING_MODE)
    enabled_event_filters_.clear();
  if (modes_to_disable & RECORDING_MODE)
    trace_config_.Clear();

  RefreshAllCategoriesLocked();

  if (!is_recording_mode_disabled)
    return;

  EmitMetadataEventsLocked();
  metadata_events_.clear();
  NotifyObserversLocked(false, "SetDisabledWhileLocked");
}

void TraceLog::NotifyObserversLocked(bool enabled,
                                     const char* location_function) {
  dispatching_to_observers_ = true;
  const std::vector<EnabledStateObserver*> observers = enabled_state_observers_;
  const AsyncObserverMap async_observers = async_observers_;
  {
    // Observers may call back into the trace log.
    AutoUnlock unlock(lock_);
    for (EnabledStateObserver* observer : observers) {
      if (enabled)
        observer->OnTraceLogEnabled();
      else
        observer->OnTraceLogDisabled();
    }
    for (const auto& entry : async_observers) {
      entry.second.second->PostTask(
          FROM_HERE_WITH_EXPLICIT_FUNCTION(location_function),
          BindOnce(enabled ? &AsyncEnabledStateObserver::OnTraceLogEnabled
                           : &AsyncEnabledStateObserver::OnTraceLogDisabled,
                   entry.second.first));
    }
  }
  dispatching_to_observers_ = false;
}

TraceLog::ThreadLocalEventBuffer* TraceLog::EnsureThreadLocalBuffer() {
  // A buffer that SetCurrentThreadBlocksMessageLoop had to leave in place
  // goes when the trace call that was under way then returns.
  if (thread_blocks_message_loop_.Get())
    return nullptr;
  // A loop being destroyed resets the thread's task runner handle right
  // after telling its destruction observers, while it is still the current
  // loop (tasks posted by the observers die after that). A buffer attached
  // then would never be told that the loop is gone.
  if (!MessageLoop::current() || !ThreadTaskRunnerHandle::IsSet())
    return nullptr;

  ScopedHeapProfilerIgnore ignore_tracing_bookkeeping;
  auto* buffer =
      static_cast<ThreadLocalEventBuffer*>(thread_local_event_buffer_.Get());
  if (buffer && !CheckGeneration(buffer->generation())) {
    DeleteThreadLocalEventBuffer();
    buffer = nullptr;
  }
  if (!buffer) {
    buffer = new ThreadLocalEventBuffer(this);
    thread_local_event_buffer_.Set(buffer);
  }
  return buffer;
}

TraceEvent* TraceLog::AddToSharedChunkLocked(TraceEventHandle* handle,
                                             bool check_buffer_is_full) {
  if (thread_shared_chunk_ && thread_shared_chunk_->IsFull()) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_,
                                std::move(thread_shared_chunk_));
  }
  bool got_new_chunk = false;
  if (!thread_shared_chunk_) {
    thread_shared_chunk_ =
        logged_events_->GetChunk(&thread_shared_chunk_index_);
    got_new_chunk = true;
  }
  if (!thread_shared_chunk_)
    return nullptr;

  size_t event_index;
  TraceEvent* trace_event = thread_shared_chunk_->AddTraceEvent(&event_index);
  if (trace_event && handle) {
    MakeHandle(thread_shared_chunk_->seq(), thread_shared_chunk_index_,
               event_index, handle);
  }
  // The slot is taken before the check: switching recording off lets go of
  // the lock while observers are told, and other threads may fill and
  // return the shared chunk meanwhile.
  if (got_new_chunk && check_buffer_is_full)
    CheckIfBufferIsFullLocked();
  return trace_event;
}

void TraceLog::CheckIfBufferIsFullLocked() {
  if (!logged_events_->IsFull())
    return;
  if (buffer_limit_reached_timestamp_.is_null()) {
    buffer_limit_reached_timestamp_ = TimeTicks::Now() - time_offset();
  }
  SetDisabledWhileLocked(RECORDING_MODE);
}

TraceEvent* TraceLog::FindEventByHandle(TraceEventHandle handle,
                                        OptionalAutoLock* lock) {
  if (!handle.chunk_seq)
    return nullptr;

  auto* thread_local_event_buffer =
      static_cast<ThreadLocalEventBuffer*>(thread_local_event_buffer_.Get());
  if (thread_local_event_buffer) {
    TraceEvent* trace_event =
        thread_local_event_buffer->GetEventByHandle(handle);
    if (trace_event)
      return trace_event;
  }

  // Anything else is shared with other threads.
  if (lock)
    lock->EnsureAcquired();

  if (thread_shared_chunk_ &&
      handle.chunk_index == thread_shared_chunk_index_) {
    return handle.chunk_seq == thread_shared_chunk_->seq()
               ? thread_shared_chunk_->GetEventAt(handle.event_index)
               : nullptr;
  }
  return logged_events_->GetEventByHandle(handle);
}

std::string TraceLog::FormatConsoleLine(char phase,
                                        const TimeTicks& timestamp,
                                        const TraceEvent* trace_event) {
  ScopedHeapProfilerIgnore ignore_tracing_bookkeeping;
  AutoLock thread_info_lock(thread_info_lock_);

  const int thread_id =
      trace_event ? trace_event->thread_id() : CurrentThreadId();
  std::stack<TimeTicks>& start_times = thread_event_start_times_[thread_id];

  TimeDelta duration;
  // An end without a begin on record (echo switched on in between, or an
  // unbalanced caller) has no duration and must not touch the stack.
  if (phase == TRACE_EVENT_PHASE_END && !start_times.empty()) {
    duration = timestamp - start_times.top();
    start_times.pop();
  }

  const std::string thread_name = thread_names_[thread_id];
  auto color = thread_colors_.find(thread_name);
  if (color == thread_colors_.end()) {
    const int next_color = static_cast<int>(thread_colors_.size() % 6) + 1;
    color = thread_colors_.emplace(thread_name, next_color).first;
  }

  std::ostringstream log;
  log << StringPrintf("%s: \x1b[0;3%dm", thread_name.c_str(), color->second);
  for (size_t i = 0; i < start_times.size(); ++i)
    log << "| ";
  if (trace_event)
    trace_event->AppendPrettyPrinted(&log);
  if (phase == TRACE_EVENT_PHASE_END)
    log << StringPrintf(" (%.3f ms)", duration.InMillisecondsF());
  log << "\x1b[0;m";

  if (phase == TRACE_EVENT_PHASE_BEGIN)
    start_times.push(timestamp);
  return log.str();
}

void TraceLog::AddMetadataEventLocked(int thread_id,
                                      const char* metadata_name,
                                      const char* arg_name,
                                      unsigned char arg_type,
                                      unsigned long long arg_value) {
  TraceEvent* trace_event = AddToSharedChunkLocked(nullptr, false);
  if (!trace_event)
    return;
  trace_event->Initialize(thread_id, TimeTicks(), ThreadTicks(),
                          TRACE_EVENT_PHASE_METADATA,
                          CategoryRegistry::kCategoryMetadata->state_ptr(),
                          metadata_name, nullptr, 0, 0, 1, &arg_name, &arg_type,
                          &arg_value, nullptr, TRACE_EVENT_FLAG_NONE);
}

void TraceLog::EmitMetadataEventsLocked() {
  auto as_int = [](int64_t value) {
    return static_cast<unsigned long long>(value);
  };
  auto as_string = [](const std::string& value) {
    return static_cast<unsigned long long>(
        reinterpret_cast<uintptr_t>(value.c_str()));
  };

  for (auto it = metadata_events_.rbegin(); it != metadata_events_.rend();
       ++it) {
    if (!*it)
      continue;
    TraceEvent* trace_event = AddToSharedChunkLocked(nullptr, false);
    if (trace_event)
      trace_event->MoveFrom(std::move(*it));
  }

  AddMetadataEventLocked(0, "num_cpus", "number", TRACE_VALUE_TYPE_INT,
                         as_int(SysInfo::NumberOfProcessors()));

  const int current_thread_id = CurrentThreadId();
  if (process_sort_index_ != 0) {
    AddMetadataEventLocked(current_thread_id, "process_sort_index",
                           "sort_index", TRACE_VALUE_TYPE_INT,
                           as_int(process_sort_index_));
  }
  if (!process_name_.empty()) {
    AddMetadataEventLocked(current_thread_id, "process_name", "name",
                           TRACE_VALUE_TYPE_COPY_STRING,
                           as_string(process_name_));
  }
  const int64_t uptime_seconds =
      (Time::Now() - process_creation_time_).InSeconds();
  AddMetadataEventLocked(current_thread_id, "process_uptime_seconds", "uptime",
                         TRACE_VALUE_TYPE_INT, as_int(uptime_seconds));
  if (!process_labels_.empty()) {
    std::vector<std::string> labels;
    for (const auto& label : process_labels_)
      labels.push_back(label.second);
    const std::string joined = JoinString(labels, ",");
    AddMetadataEventLocked(current_thread_id, "process_labels", "labels",
                           TRACE_VALUE_TYPE_COPY_STRING, as_string(joined));
  }
  for (const auto& sort_index : thread_sort_indices_) {
    if (sort_index.second == 0)
      continue;
    AddMetadataEventLocked(sort_index.first, "thread_sort_index", "sort_index",
                           TRACE_VALUE_TYPE_INT, as_int(sort_index.second));
  }
  {
    AutoLock thread_info_lock(thread_info_lock_);
    for (const auto& thread_name : thread_names_) {
      if (thread_name.second.empty())
        continue;
      AddMetadataEventLocked(thread_name.first, "thread_name", "name",
                             TRACE_VALUE_TYPE_COPY_STRING,
                             as_string(thread_name.second));
    }
  }
  if (!buffer_limit_reached_timestamp_.is_null()) {
    AddMetadataEventLocked(
        current_thread_id, "trace_buffer_overflowed", "overflowed_at_ts",
        TRACE_VALUE_TYPE_INT,
        as_int(
            buffer_limit_reached_timestamp_.since_origin().InMicroseconds()));
  }
}

void TraceLog::SetCurrentThreadBlocksMessageLoop() {
  thread_blocks_message_loop_.Set(kFlagSet);
  // Called from inside a trace call on this thread, the buffer may be in
  // use further up the stack: the outermost trace call lets go of it when
  // it returns.
  if (thread_is_in_trace_event_.Get())
    return;
  // The chunk this thread holds would otherwise wait for the loop's end.
  DeleteThreadLocalEventBuffer();
}

void TraceLog::DeleteThreadLocalEventBuffer() {
  auto* buffer =
      static_cast<ThreadLocalEventBuffer*>(thread_local_event_buffer_.Get());
  if (!buffer)
    return;
  // Trace calls made while it goes would find it, half destroyed, in the
  // thread's slot: they are dropped.
  void* const was_in_trace_event = thread_is_in_trace_event_.Get();
  thread_is_in_trace_event_.Set(kFlagSet);
  delete buffer;  // Clears the slot.
  thread_is_in_trace_event_.Set(was_in_trace_event);
}

bool TraceLog::OnMemoryDump(const MemoryDumpArgs& args,
                            ProcessMemoryDump* pmd) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(TraceEventMemoryOverhead::kOther, sizeof(*this));
  {
    AutoLock lock(lock_);
    logged_events_->EstimateTraceMemoryOverhead(&overhead);
    for (const auto& metadata_event : metadata_events_)
      metadata_event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.AddSelf();
  overhead.DumpInto("tracing/main_trace_log", pmd);
  return true;
}

// Test-only control.

void TraceLog::SetEnabledForTesting(const TraceConfig& config,
                                    uint8_t modes,
                                    uint32_t trace_options) {
  AutoLock lock(lock_);
  if (dispatching_to_observers_)
    return;
  const uint8_t old_modes = enabled_modes();
  const bool recording_switched_on =
      (modes & RECORDING_MODE) && !(old_modes & RECORDING_MODE);

  if (modes & RECORDING_MODE) {
    trace_config_ = config;
    if (recording_switched_on) {
      trace_options_.store(trace_options, std::memory_order_relaxed);
      // A fresh start: what was left of an earlier session is dropped, and
      // thread-local buffers of the old generation drop their chunks.
      thread_shared_chunk_.reset();
      ReplaceBufferLocked();
      buffer_limit_reached_timestamp_ = TimeTicks();
    }
  }
  if ((modes & FILTERING_MODE) && !(old_modes & FILTERING_MODE)) {
    ClearEventFiltersLocked();
    enabled_event_filters_ = config.event_filters();
  }
  enabled_modes_.store(old_modes | modes, std::memory_order_relaxed);
  RefreshAllCategoriesLocked();

  if (recording_switched_on)
    NotifyObserversLocked(true, "SetEnabledForTesting");
}

void TraceLog::SetDisabledForTesting(uint8_t modes) {
  AutoLock lock(lock_);
  SetDisabledWhileLocked(modes);
}

std::unique_ptr<TraceBuffer> TraceLog::FlushForTesting() {
  auto* thread_local_event_buffer =
      static_cast<ThreadLocalEventBuffer*>(thread_local_event_buffer_.Get());
  AutoLock lock(lock_);
  // Observers may be told from inside AddTraceEvent, which holds a slot of
  // the shared chunk across the call.
  if (dispatching_to_observers_)
    return nullptr;
  if (thread_local_event_buffer)
    thread_local_event_buffer->ReturnChunkLocked();
  if (thread_shared_chunk_) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_,
                                std::move(thread_shared_chunk_));
  }
  return ReplaceBufferLocked();
}

TraceEvent* TraceLog::GetEventByHandleForTesting(TraceEventHandle handle) {
  OptionalAutoLock lock(&lock_);
  return FindEventByHandle(handle, &lock);
}

void TraceLog::SetBufferChunksForTesting(size_t max_chunks) {
  AutoLock lock(lock_);
  buffer_chunks_for_testing_ = max_chunks;
}

void TraceLog::SetFilterFactoryForTesting(FilterFactoryForTesting factory) {
  AutoLock lock(lock_);
  filter_factory_for_testing_ = factory;
}

void TraceLog::SetTimeOffsetForTesting(TimeDelta offset) {
  time_offset_us_.store(offset.InMicroseconds(), std::memory_order_relaxed);
}

void TraceLog::AddEnabledStateObserverForTesting(
    EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  enabled_state_observers_.push_back(observer);
}

void TraceLog::RemoveEnabledStateObserverForTesting(
    EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  enabled_state_observers_.erase(
      std::remove(enabled_state_observers_.begin(),
                  enabled_state_observers_.end(), observer),
      enabled_state_observers_.end());
}

void TraceLog::AddAsyncEnabledStateObserverForTesting(
    WeakPtr<AsyncEnabledStateObserver> observer) {
  AsyncEnabledStateObserver* const key = observer.get();
  scoped_refptr<SingleThreadTaskRunner> task_runner =
      ThreadTaskRunnerHandle::Get();
  AutoLock lock(lock_);
  async_observers_[key] = {std::move(observer), std::move(task_runner)};
}

void TraceLog::RemoveAsyncEnabledStateObserverForTesting(
    AsyncEnabledStateObserver* observer) {
  AutoLock lock(lock_);
  async_observers_.erase(observer);
}

void TraceLog::SetProcessNameForTesting(const std::string& process_name) {
  AutoLock lock(lock_);
  process_name_ = process_name;
}

void TraceLog::UpdateProcessLabelForTesting(int label_id,
                                            const std::string& label) {
  AutoLock lock(lock_);
  if (label.empty())
    process_labels_.erase(label_id);
  else
    process_labels_[label_id] = label;
}

void TraceLog::SetProcessSortIndexForTesting(int sort_index) {
  AutoLock lock(lock_);
  process_sort_index_ = sort_index;
}

void TraceLog::SetThreadSortIndexForTesting(int thread_id, int sort_index) {
  AutoLock lock(lock_);
  thread_sort_indices_[thread_id] = sort_index;
}

void TraceLog::AddMetadataEventForTesting(std::unique_ptr<TraceEvent> event) {
  AutoLock lock(lock_);
  metadata_events_.push_back(std::move(event));
}

std::string TraceLog::FormatConsoleLineForTesting(
    char phase, const TimeTicks& timestamp, const TraceEvent* trace_event) {
  return FormatConsoleLine(phase, timestamp, trace_event);
}

}  // namespace trace_event
}  // namespace base
