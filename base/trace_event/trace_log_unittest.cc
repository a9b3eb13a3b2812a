#include "base/trace_event/trace_log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/process/process_handle.h"
#include "base/run_loop.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/waitable_event.h"
#include "base/sys_info.h"
#include "base/test/bounded_wait.h"
#include "base/test/scoped_log_lines.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/category_registry.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

constexpr size_t kChunkSize = TraceBufferChunk::kTraceBufferChunkSize;
constexpr char kRecorded[] = "TraceLogTest.rec";
constexpr char kFiltered[] = "TraceLogTest.filtered";
constexpr char kCounting[] = "TraceLogTest.counting";
constexpr int kLabelId = 1;
constexpr int kSortedThreadId = 4242;

class CountingConvertable : public ConvertableToTraceFormat {
 public:
  explicit CountingConvertable(int* destroyed) : destroyed_(destroyed) {}
  ~CountingConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override {}

 private:
  int* destroyed_;
};

int CurrentThreadId() {
  return static_cast<int>(PlatformThread::CurrentId());
}

bool IsNullHandle(TraceEventHandle handle) {
  return handle.chunk_seq == 0 && handle.chunk_index == 0 &&
         handle.event_index == 0;
}

// An event with id 0x1234, and one convertable argument if |destroyed|
// is set.
TraceEventHandle AddEvent(const char* category,
                          const char* name,
                          char phase = TRACE_EVENT_PHASE_COMPLETE,
                          TimeTicks timestamp = TimeTicks::Now(),
                          int* destroyed = nullptr,
                          unsigned long long bind_id = 0,
                          unsigned int flags = TRACE_EVENT_FLAG_NONE) {
  std::unique_ptr<ConvertableToTraceFormat> value[1];
  if (destroyed)
    value[0] = std::make_unique<CountingConvertable>(destroyed);
  const char* names[1] = {"info"};
  const unsigned char types[1] = {TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long raw[1] = {0};
  return TraceLog::GetInstance()->AddTraceEvent(
      phase, TraceLog::GetCategoryGroupEnabled(category), name, nullptr, 0x1234,
      bind_id, CurrentThreadId(), timestamp, destroyed ? 1 : 0, names, types,
      raw, value, flags);
}

TEST(TraceLogTest, HandlePacksSequenceChunkAndSlot) {
  static_assert(sizeof(TraceEventHandle) == sizeof(uint64_t), "one word");
  TraceEventHandle handle;
  handle.chunk_seq = 0x89ABCDEFu;
  handle.chunk_index = 0x2345678u;
  handle.event_index = 0x2Au;
  uint64_t bits = 0;
  memcpy(&bits, &handle, sizeof(bits));
  EXPECT_EQ(0x89ABCDEFull | (0x2345678ull << 32) | (0x2Aull << 58), bits);
}

// Runs |body| on |thread| and waits for it. A loop that never runs it
// would leave the task with the caller's locals, and hang the thread's stop
// as well: the executable ends then, with the reason.
void RunOn(Thread* thread, std::function<void()> body) {
  auto done = std::make_shared<WaitableEvent>();
  thread->task_runner()->PostTask(
      FROM_HERE,
      BindOnce(
          [](std::function<void()> b, std::shared_ptr<WaitableEvent> done) {
            b();
            done->Signal();
          },
          std::move(body), done));
  const testing::AssertionResult waited =
      WaitWithin(done.get(), "a task posted to a TraceLogTest thread");
  if (!waited) {
    ADD_FAILURE() << waited.message() << "; ending the test executable";
    fflush(stdout);
    fflush(stderr);
    _exit(1);
  }
}

// Keeps an observer registered for the life of the scope: a failed
// assertion must not leave it, dangling, with the never-destroyed trace log.
class ScopedObserver {
 public:
  explicit ScopedObserver(TraceLog::EnabledStateObserver* observer)
      : observer_(observer) {
    TraceLog::GetInstance()->AddEnabledStateObserverForTesting(observer);
  }
  explicit ScopedObserver(WeakPtr<TraceLog::AsyncEnabledStateObserver> observer)
      : async_observer_(observer.get()) {
    TraceLog::GetInstance()->AddAsyncEnabledStateObserverForTesting(
        std::move(observer));
  }
  ~ScopedObserver() {
    TraceLog* log = TraceLog::GetInstance();
    if (observer_)
      log->RemoveEnabledStateObserverForTesting(observer_);
    if (async_observer_)
      log->RemoveAsyncEnabledStateObserverForTesting(async_observer_);
  }

 private:
  TraceLog::EnabledStateObserver* const observer_ = nullptr;
  TraceLog::AsyncEnabledStateObserver* const async_observer_ = nullptr;
};

TraceConfig::EventFilterConfig FilterOn(const char* predicate,
                                        const char* category) {
  TraceConfig::EventFilterConfig filter(predicate);
  TraceConfigCategoryFilter categories;
  categories.AddIncludedCategory(category);
  filter.SetCategoryFilter(categories);
  return filter;
}

// Records the "TraceLogTest.rec*" categories only, so that the threading
// code of other tests stays silent.
class TraceLogRecordingTest : public testing::Test {
 protected:
  TraceLogRecordingTest() : log_(TraceLog::GetInstance()) {}

  // Leaves everything off, flushed into a buffer of the usual size, and the
  // metadata fields empty, whatever the test did.
  void TearDown() override {
    log_->SetDisabledForTesting(TraceLog::RECORDING_MODE |
                                TraceLog::FILTERING_MODE);
    log_->SetBufferChunksForTesting(0);
    log_->FlushForTesting();
    log_->SetFilterFactoryForTesting(nullptr);
    log_->SetTimeOffsetForTesting(TimeDelta());
    ResetMetadataFields();
    EXPECT_EQ(0, log_->enabled_modes());
  }

  void ResetMetadataFields() {
    log_->SetProcessNameForTesting("");
    log_->UpdateProcessLabelForTesting(kLabelId, "");
    log_->SetProcessSortIndexForTesting(0);
    log_->SetThreadSortIndexForTesting(kSortedThreadId, 0);
  }

  void Enable(uint32_t options = TraceLog::kInternalRecordUntilFull,
              uint8_t modes = TraceLog::RECORDING_MODE,
              const TraceConfig::EventFilters& filters = {
                  FilterOn(kCounting, kFiltered)}) {
    TraceConfig config;
    config.mutable_category_filter()->AddIncludedCategory("TraceLogTest.rec*");
    config.SetEventFilters(filters);
    log_->SetEnabledForTesting(config, modes, options);
    ASSERT_TRUE(log_->IsEnabled());
  }

  // Takes everything recorded so far; the events live until the next call.
  const std::vector<const TraceEvent*>& Flush() {
    flushed_ = log_->FlushForTesting();
    events_.clear();
    while (const TraceBufferChunk* chunk =
               flushed_ ? flushed_->NextChunk() : nullptr) {
      for (size_t i = 0; i < chunk->size(); ++i)
        events_.push_back(chunk->GetEventAt(i));
    }
    return events_;
  }

  std::vector<const TraceEvent*> Named(const char* name) const {
    std::vector<const TraceEvent*> found;
    for (const TraceEvent* event : events_) {
      if (event->name() && strcmp(event->name(), name) == 0)
        found.push_back(event);
    }
    return found;
  }

  TraceLog* const log_;
  std::unique_ptr<TraceBuffer> flushed_;
  std::vector<const TraceEvent*> events_;
};

TEST_F(TraceLogRecordingTest, RecordsEnabledCategoriesWithDurationsAndIds) {
  Enable();
  const unsigned char* recorded = TraceLog::GetCategoryGroupEnabled(kRecorded);
  const unsigned char* metadata =
      CategoryRegistry::kCategoryMetadata->state_ptr();
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING, *recorded);
  // Metadata is recorded whatever the config names.
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING, *metadata);
  // A category that is off records nothing, and frees the arguments.
  int destroyed = 0;
  EXPECT_TRUE(IsNullHandle(AddEvent("TraceLogTest.other", "TraceLogTest.off",
                                    TRACE_EVENT_PHASE_INSTANT, TimeTicks(),
                                    &destroyed)));
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("TraceLogTest.other"));
  EXPECT_EQ(1, destroyed);
  EXPECT_FALSE(IsNullHandle(AddEvent(kRecorded, "TraceLogTest.arg",
                                     TRACE_EVENT_PHASE_INSTANT, TimeTicks(),
                                     &destroyed)));
  { ScopedTraceEvent complete(recorded, "TraceLogTest.complete"); }
  log_->SetTimeOffsetForTesting(TimeDelta::FromMicroseconds(100));
  const TimeTicks at = TimeTicks::FromInternalValue(5000);
  const unsigned int mangle =
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID;
  AddEvent(kRecorded, "TraceLogTest.flow_out", TRACE_EVENT_PHASE_INSTANT, at,
           nullptr, 0x5678, mangle | TRACE_EVENT_FLAG_FLOW_OUT);
  AddEvent(kRecorded, "TraceLogTest.mangle_only", TRACE_EVENT_PHASE_INSTANT, at,
           nullptr, 0x5678, mangle);
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  EXPECT_EQ(0, *metadata);

  Flush();
  EXPECT_TRUE(Named("TraceLogTest.off").empty());
  ASSERT_EQ(1u, Named("TraceLogTest.arg").size());
  EXPECT_EQ(1, destroyed) << "the recorded event keeps its argument";
  ASSERT_EQ(1u, Named("TraceLogTest.complete").size());
  EXPECT_GE(Named("TraceLogTest.complete")[0]->duration().InMicroseconds(), 0)
      << "the scope's end closes the event";
  const uint64_t hash =
      (14695981039346656037ull ^ static_cast<uint64_t>(GetCurrentProcId())) *
      1099511628211ull;
  ASSERT_EQ(1u, Named("TraceLogTest.flow_out").size());
  const TraceEvent* flow_out = Named("TraceLogTest.flow_out")[0];
  const TraceEvent* mangle_only = Named("TraceLogTest.mangle_only")[0];
  EXPECT_EQ(0x1234 ^ hash, flow_out->id());
  EXPECT_EQ(0x5678 ^ hash, flow_out->bind_id());
  EXPECT_EQ(0x1234 ^ hash, mangle_only->id());
  EXPECT_EQ(0x5678u, mangle_only->bind_id());
  EXPECT_EQ(4900, flow_out->timestamp().ToInternalValue());
  flushed_.reset();
  EXPECT_EQ(2, destroyed);
}

TEST_F(TraceLogRecordingTest, BufferKindFollowsTraceOptions) {
  const std::pair<uint32_t, size_t> kCases[] = {
      {TraceLog::kInternalRecordUntilFull, 4000},
      {TraceLog::kInternalRecordContinuously, 1000},
      {TraceLog::kInternalEchoToConsole, 256},
      {TraceLog::kInternalRecordContinuously | TraceLog::kInternalEchoToConsole,
       1000},
      {TraceLog::kInternalEchoToConsole |
           TraceLog::kInternalRecordAsMuchAsPossible,
       256},
  };
  for (const auto& c : kCases) {
    Enable(c.first);
    EXPECT_EQ(c.second * kChunkSize, log_->FlushForTesting()->Capacity())
        << c.first;
    log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  }
}

// A handle whose chunk was recycled, or that was made before a flush,
// names no event and closes none.
TEST_F(TraceLogRecordingTest, StaleHandlesFindAndCloseNothing) {
  log_->SetBufferChunksForTesting(2);
  Enable(TraceLog::kInternalRecordContinuously);
  const unsigned char* state = TraceLog::GetCategoryGroupEnabled(kRecorded);
  const auto still_open = [this](TraceEventHandle handle) {
    const TraceEvent* event = log_->GetEventByHandleForTesting(handle);
    return event && event->duration().InMicroseconds() == -1;
  };
  const TraceEventHandle first = AddEvent(kRecorded, "TraceLogTest.old");
  for (size_t i = 1; i < 2 * kChunkSize; ++i)
    AddEvent(kRecorded, "TraceLogTest.filler");
  const TraceEventHandle recycled = AddEvent(kRecorded, "TraceLogTest.new");
  ASSERT_EQ(first.chunk_index, recycled.chunk_index);
  ASSERT_EQ(first.event_index, recycled.event_index);
  EXPECT_TRUE(log_->IsEnabled()) << "a ring buffer is never full";
  EXPECT_EQ(nullptr, log_->GetEventByHandleForTesting(first));
  log_->UpdateTraceEventDuration(state, "TraceLogTest.old", first);
  EXPECT_TRUE(still_open(recycled));

  ASSERT_TRUE(log_->FlushForTesting());
  const TraceEventHandle fresh = AddEvent(kRecorded, "TraceLogTest.fresh");
  log_->UpdateTraceEventDuration(state, "TraceLogTest.old", first);
  log_->UpdateTraceEventDuration(state, "TraceLogTest.new", recycled);
  EXPECT_TRUE(still_open(fresh));
}

// Tells of state changes and meddles from inside: every change must be
// refused, or put off until it is safe.
class MeddlingObserver : public TraceLog::EnabledStateObserver {
 public:
  void OnTraceLogEnabled() override {
    ++enabled;
    TraceLog::GetInstance()->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  }
  void OnTraceLogDisabled() override {
    ++disabled;
    TraceLog* log = TraceLog::GetInstance();
    log->SetDisabledForTesting(TraceLog::FILTERING_MODE);
    flush_refused = !log->FlushForTesting();
    if (blocks_thread)
      log->SetCurrentThreadBlocksMessageLoop();
  }
  bool blocks_thread = false;
  bool flush_refused = false;
  int enabled = 0;
  int disabled = 0;
};

// The registered "ThreadLocalEventBuffer" provider bound to the calling
// thread's task runner, or null.
MemoryDumpProvider* CurrentThreadBufferProvider() {
  for (const auto& info :
       MemoryDumpManager::GetInstance()->GetDumpProvidersForTesting()) {
    if (strcmp(info->name, "ThreadLocalEventBuffer") == 0 &&
        info->task_runner.get() == ThreadTaskRunnerHandle::Get().get()) {
      return info->dump_provider;
    }
  }
  return nullptr;
}

TEST_F(TraceLogRecordingTest, FullBufferStopsRecordingOnce) {
  log_->SetBufferChunksForTesting(2);
  Enable();
  Thread thread("TraceLogTest.full");
  ASSERT_TRUE(thread.Start());
  std::vector<TraceEventHandle> handles;
  bool last_found = false;
  bool buffer_kept = true;
  MeddlingObserver observer;
  observer.blocks_thread = true;
  {
    ScopedObserver registered(&observer);
    RunOn(&thread, [&] {
      for (size_t i = 0; i <= kChunkSize + 1; ++i)
        handles.push_back(AddEvent(kRecorded, "TraceLogTest.fill"));
      last_found = TraceLog::GetInstance()->GetEventByHandleForTesting(
                       handles[kChunkSize]) != nullptr;
      buffer_kept = CurrentThreadBufferProvider() != nullptr;
    });
  }
  // The thread's first chunk went back to the buffer when full. Handing out
  // the last chunk switched recording off; the event that asked for it is
  // stored, though the observer tried to flush meanwhile, and told the
  // thread to let go of its chunk, which it did when that event's call
  // returned: the thread records nothing more that would.
  EXPECT_NE(nullptr, log_->GetEventByHandleForTesting(handles[0]));
  EXPECT_FALSE(log_->IsEnabled());
  EXPECT_EQ(1, observer.disabled);
  EXPECT_TRUE(observer.flush_refused);
  EXPECT_TRUE(last_found);
  EXPECT_FALSE(buffer_kept);
  EXPECT_TRUE(IsNullHandle(handles.back()));
  Flush();
  EXPECT_EQ(kChunkSize + 1, Named("TraceLogTest.fill").size());
  const std::vector<const TraceEvent*> overflowed =
      Named("trace_buffer_overflowed");
  ASSERT_EQ(1u, overflowed.size());
  EXPECT_STREQ("overflowed_at_ts", overflowed[0]->arg_name(0));
  EXPECT_GT(overflowed[0]->arg_value(0).as_int, 0);

  // From now on the thread records through the shared chunk.
  Enable();
  TraceEventHandle shared = {};
  RunOn(&thread, [&] { shared = AddEvent(kRecorded, "TraceLogTest.shared"); });
  EXPECT_NE(nullptr, log_->GetEventByHandleForTesting(shared));
  StopWithin(&thread, "TraceLogTest.full");
}

// A metadata event of thread 0 with one integer argument.
std::unique_ptr<TraceEvent> MetadataEvent(const char* name) {
  const char* arg_name = "n";
  const unsigned char arg_type = TRACE_VALUE_TYPE_INT;
  const unsigned long long arg_value = 1;
  auto event = std::make_unique<TraceEvent>();
  event->Initialize(0, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_METADATA,
                    CategoryRegistry::kCategoryMetadata->state_ptr(), name,
                    nullptr, 0, 0, 1, &arg_name, &arg_type, &arg_value, nullptr,
                    TRACE_EVENT_FLAG_NONE);
  return event;
}

TEST_F(TraceLogRecordingTest, DumpsItsOwnAndEachThreadsMemory) {
  Enable();
  log_->AddMetadataEventForTesting(MetadataEvent("TraceLogTest.queued"));
  const MemoryDumpArgs args;
  ProcessMemoryDump pmd(args);
  EXPECT_TRUE(log_->OnMemoryDump(args, &pmd));
  // Nothing is recorded yet: "TraceEvent" is the queued metadata event's.
  for (const char* kind :
       {"(Other)", "TraceBuffer", "TraceEvent", "TraceEventMemoryOverhead"}) {
    EXPECT_NE(nullptr, pmd.GetAllocatorDump(
                           std::string("tracing/main_trace_log/") + kind))
        << kind;
  }

  // A thread's buffer is dumped on its own thread, from its first event
  // until its loop ends.
  Thread thread("TraceLogTest.dumping");
  ASSERT_TRUE(thread.Start());
  MemoryDumpProvider* provider = nullptr;
  bool registered_late = false;
  bool dumped = false;
  ProcessMemoryDump thread_pmd(args);
  RunOn(&thread, [&] {
    registered_late = CurrentThreadBufferProvider() == nullptr;
    AddEvent(kRecorded, "TraceLogTest.dumped");
    provider = CurrentThreadBufferProvider();
    dumped = provider && provider->OnMemoryDump(args, &thread_pmd);
  });
  EXPECT_TRUE(registered_late);
  EXPECT_TRUE(dumped);
  EXPECT_NE(nullptr, thread_pmd.GetAllocatorDump(
                         StringPrintf("tracing/thread_%d/TraceBufferChunk",
                                      static_cast<int>(thread.GetThreadId()))));
  StopWithin(&thread, "TraceLogTest.dumping");
  for (const auto& info :
       MemoryDumpManager::GetInstance()->GetDumpProvidersForTesting()) {
    EXPECT_NE(provider, info->dump_provider) << "unregistered with its loop";
  }
}

// Records an event when a task that holds it dies unrun.
struct RecordsWhenDestroyed {
  ~RecordsWhenDestroyed() {
    *handle = AddEvent(kRecorded, "TraceLogTest.late");
  }
  TraceEventHandle* handle;
};

// Posts such a task while the loop is being destroyed: it dies with the
// loop's queue, after the destruction observers were told.
struct PostsWhileDying : MessageLoop::DestructionObserver {
  void WillDestroyCurrentMessageLoop() override {
    ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, BindOnce([](std::unique_ptr<RecordsWhenDestroyed>) {},
                            std::unique_ptr<RecordsWhenDestroyed>(
                                new RecordsWhenDestroyed{handle})));
  }
  TraceEventHandle* handle;
};

TEST_F(TraceLogRecordingTest, EventsOfADyingLoopGoToTheSharedChunk) {
  Enable();
  for (bool recorded_before : {false, true}) {
    TraceEventHandle late = {};
    PostsWhileDying poster;
    poster.handle = &late;
    Thread thread("TraceLogTest.dying");
    ASSERT_TRUE(thread.Start());
    RunOn(&thread, [&] {
      if (recorded_before)
        AddEvent(kRecorded, "TraceLogTest.early");
      MessageLoop::current()->AddDestructionObserver(&poster);
    });
    StopWithin(&thread, "TraceLogTest.dying");
    // A chunk attached to the dead loop would never come back.
    const TraceEvent* event = log_->GetEventByHandleForTesting(late);
    ASSERT_NE(nullptr, event) << recorded_before;
    EXPECT_STREQ("TraceLogTest.late", event->name());
  }
}

// Filters that count what they see.
struct FilterCounts {
  int filtered = 0;
  int ended = 0;
  bool answer = true;
  std::vector<TraceEventHandle> reentered;
} g_filter_counts;

class CountingFilter : public TraceEventFilter {
 public:
  bool FilterTraceEvent(const TraceEvent& event) const override {
    ++g_filter_counts.filtered;
    // Recording from inside recording is dropped, not deadlocked.
    g_filter_counts.reentered.push_back(
        AddEvent(kRecorded, "TraceLogTest.reentered"));
    return g_filter_counts.answer;
  }
  void EndEvent(const char* category_name,
                const char* event_name) const override {
    ++g_filter_counts.ended;
  }
};

std::unique_ptr<TraceEventFilter> MakeCountingFilter(const std::string& name) {
  return name == kCounting ? std::make_unique<CountingFilter>() : nullptr;
}

// Filtering goes on after recording stops; observers are told of the stop
// and cannot change the state.
TEST_F(TraceLogRecordingTest, FiltersAndObservers) {
  MessageLoop loop;
  MeddlingObserver observer;
  struct : TraceLog::AsyncEnabledStateObserver {
    void OnTraceLogEnabled() override { ++told; }
    void OnTraceLogDisabled() override { ++told; }
    int told = 0;
  } async_observer;
  WeakPtrFactory<TraceLog::AsyncEnabledStateObserver> weak_factory(
      &async_observer);
  ScopedObserver registered(&observer);
  ScopedObserver registered_async(weak_factory.GetWeakPtr());
  g_filter_counts = FilterCounts();
  log_->SetFilterFactoryForTesting(&MakeCountingFilter);
  Enable(TraceLog::kInternalRecordUntilFull,
         TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE);
  EXPECT_EQ(1, observer.enabled);

  // A category with the filtering bit only: its events reach the filter
  // whatever it answers, and are never stored.
  const unsigned char* filtered = TraceLog::GetCategoryGroupEnabled(kFiltered);
  EXPECT_EQ(TraceLog::ENABLED_FOR_FILTERING, *filtered);
  EXPECT_EQ(1u, TraceCategory::FromStatePtr(filtered)->enabled_filters());
  for (bool answer : {true, false}) {
    g_filter_counts.answer = answer;
    ScopedTraceEvent event(filtered, "TraceLogTest.filtered");
  }
  EXPECT_EQ(2, g_filter_counts.filtered);
  EXPECT_EQ(2, g_filter_counts.ended);
  ASSERT_EQ(2u, g_filter_counts.reentered.size());
  EXPECT_TRUE(IsNullHandle(g_filter_counts.reentered[0]));

  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  EXPECT_EQ(1, observer.disabled);
  EXPECT_TRUE(observer.flush_refused);
  EXPECT_EQ(TraceLog::FILTERING_MODE, log_->enabled_modes())
      << "the observers' disables are ignored";
  EXPECT_FALSE(Flush().empty()) << "the metadata";
  EXPECT_TRUE(Named("TraceLogTest.filtered").empty());
  EXPECT_TRUE(Named("TraceLogTest.reentered").empty());
  // Already off: nobody is told and no metadata is written.
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  EXPECT_EQ(1, observer.disabled);
  EXPECT_TRUE(Flush().empty());

  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(2, async_observer.told);
}

// Filter i answers to bit i of a category's bitmap. On "TraceLogTest.rec":
// the name whitelist (0) and the counting filter (2); on
// "TraceLogTest.rec.heap": the heap profiler's (1).
TEST_F(TraceLogRecordingTest, BuiltInFiltersAndEitherFilterLetsThrough) {
  constexpr char kHeap[] = "TraceLogTest.rec.heap";
  static const char kKept[] = "TraceLogTest.kept";
  TraceConfig::EventFilterConfig whitelist =
      FilterOn(EventNameFilter::kName, kRecorded);
  auto args = std::make_unique<DictionaryValue>();
  auto names = std::make_unique<ListValue>();
  names->AppendString(kKept);
  args->SetList("event_name_whitelist", std::move(names));
  whitelist.SetArgs(std::move(args));
  g_filter_counts = FilterCounts();
  log_->SetFilterFactoryForTesting(&MakeCountingFilter);
  Enable(TraceLog::kInternalRecordUntilFull,
         TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE,
         {whitelist, FilterOn(HeapProfilerEventFilter::kName, kHeap),
          FilterOn(kCounting, kRecorded)});
  const auto bitmap = [](const char* category) {
    return TraceCategory::FromStatePtr(
               TraceLog::GetCategoryGroupEnabled(category))
        ->enabled_filters();
  };
  EXPECT_EQ(0b101u, bitmap(kRecorded));
  EXPECT_EQ(0b010u, bitmap(kHeap));

  const struct {
    const char* category;
    const char* name;
    bool counting_answer;
    bool recorded;
  } kCases[] = {
      {kRecorded, kKept, false, true},
      {kRecorded, "TraceLogTest.other", true, true},
      {kRecorded, "TraceLogTest.other", false, false},
      {kHeap, "TraceLogTest.other", false, true},
  };
  for (const auto& c : kCases) {
    g_filter_counts.answer = c.counting_answer;
    EXPECT_EQ(c.recorded, !IsNullHandle(AddEvent(c.category, c.name,
                                                 TRACE_EVENT_PHASE_INSTANT)))
        << c.category << " " << c.name << " " << c.counting_answer;
  }
  EXPECT_EQ(3, g_filter_counts.filtered);

  // The heap profiler's filter mirrors begins and ends onto the thread's
  // pseudo stack.
  AllocationContextTracker::SetCaptureMode(
      AllocationContextTracker::CaptureMode::PSEUDO_STACK);
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  const size_t depth = tracker ? tracker->tracked_stack().size() : 0;
  AddEvent(kHeap, kKept, TRACE_EVENT_PHASE_BEGIN);
  const bool pushed = tracker && tracker->tracked_stack().size() == depth + 1 &&
                      tracker->tracked_stack().back().value == kKept;
  AddEvent(kHeap, kKept, TRACE_EVENT_PHASE_END);
  const size_t depth_after = tracker ? tracker->tracked_stack().size() : 0;
  AllocationContextTracker::SetCaptureMode(
      AllocationContextTracker::CaptureMode::DISABLED);
  EXPECT_TRUE(pushed);
  EXPECT_EQ(depth, depth_after);
}

Time ProcessCreationTime() {
  FILETIME creation, exit_time, kernel_time, user_time;
  EXPECT_TRUE(::GetProcessTimes(::GetCurrentProcess(), &creation, &exit_time,
                                &kernel_time, &user_time));
  return Time::FromFileTime(creation);
}

TEST_F(TraceLogRecordingTest, MetadataClosesARecording) {
  Enable();
  log_->SetProcessNameForTesting("TraceLogTest process");
  log_->UpdateProcessLabelForTesting(kLabelId, "TraceLogTest label");
  log_->SetProcessSortIndexForTesting(-3);
  log_->SetThreadSortIndexForTesting(kSortedThreadId, 7);
  for (const char* name : {"TraceLogTest.queued1", "TraceLogTest.queued2"}) {
    std::unique_ptr<TraceEvent> queued = MetadataEvent(name);
    // Gives thread 0 an empty entry among the thread names.
    log_->FormatConsoleLineForTesting(TRACE_EVENT_PHASE_INSTANT, TimeTicks(),
                                      queued.get());
    log_->AddMetadataEventForTesting(std::move(queued));
  }
  log_->AddMetadataEventForTesting(nullptr);
  // A thread named twice over; its chunk comes back when its loop ends.
  Thread thread("TraceLogTest.a");
  ASSERT_TRUE(thread.Start());
  const int named_thread_id = static_cast<int>(thread.GetThreadId());
  RunOn(&thread, [] {
    AddEvent(kRecorded, "TraceLogTest.on_named");
    PlatformThread::SetName("TraceLogTest.b");
    AddEvent(kRecorded, "TraceLogTest.on_named");
    PlatformThread::SetName("TraceLogTest.a");
    AddEvent(kRecorded, "TraceLogTest.on_named");
  });
  StopWithin(&thread, "TraceLogTest.a");
  const Time before = Time::Now();
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  const Time after = Time::Now();

  std::vector<std::string> order;
  for (const TraceEvent* event : Flush()) {
    ASSERT_NE(nullptr, event->name()) << "an empty slot";
    if (event->phase() == TRACE_EVENT_PHASE_METADATA &&
        (order.empty() || order.back() != event->name())) {
      order.push_back(event->name());
    }
  }
  const std::vector<std::string> expected = {
      "TraceLogTest.queued2", "TraceLogTest.queued1", "num_cpus",
      "process_sort_index",   "process_name",         "process_uptime_seconds",
      "process_labels",       "thread_sort_index",    "thread_name"};
  ASSERT_EQ(expected, order);
  EXPECT_EQ(3u, Named("TraceLogTest.on_named").size());
  const TraceEvent* num_cpus = Named("num_cpus")[0];
  EXPECT_EQ(0, num_cpus->thread_id());
  EXPECT_EQ(SysInfo::NumberOfProcessors(), num_cpus->arg_value(0).as_int);
  EXPECT_EQ(CurrentThreadId(), Named("process_name")[0]->thread_id());
  EXPECT_STREQ("TraceLogTest process",
               Named("process_name")[0]->arg_value(0).as_string);
  EXPECT_EQ(kSortedThreadId, Named("thread_sort_index")[0]->thread_id());
  const int64_t uptime =
      Named("process_uptime_seconds")[0]->arg_value(0).as_int;
  EXPECT_GE(uptime, (before - ProcessCreationTime()).InSeconds());
  EXPECT_LE(uptime, (after - ProcessCreationTime()).InSeconds());
  EXPECT_TRUE(Named("trace_buffer_overflowed").empty());
  std::string names;
  for (const TraceEvent* event : Named("thread_name")) {
    EXPECT_NE(0, event->thread_id()) << "an empty name is left out";
    if (event->thread_id() == named_thread_id)
      names = event->arg_value(0).as_string;
  }
  // The id may have named an ended thread before; this thread's part is
  // both names, each once.
  const std::string listed = "," + names + ",";
  EXPECT_NE(std::string::npos, listed.find(",TraceLogTest.a,TraceLogTest.b,"))
      << names;
  EXPECT_EQ(listed.find(",TraceLogTest.a,"), listed.rfind(",TraceLogTest.a,"))
      << names;

  // Emptied again, none of them is written.
  ResetMetadataFields();
  Enable();
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  Flush();
  EXPECT_EQ(1u, Named("num_cpus").size());
  for (const char* name : {"process_sort_index", "process_name",
                           "process_labels", "thread_sort_index"}) {
    EXPECT_TRUE(Named(name).empty()) << name;
  }
}

// The text of this file's echo lines, among everything logged at ERROR by
// the process meanwhile, from the colour escape on; and their colours.
std::vector<std::string> EchoBodies(const ScopedLogLines& log_lines,
                                    std::vector<int>* colors) {
  std::vector<std::string> bodies;
  for (const std::string& line : log_lines.lines()) {
    const size_t escape = line.find(": \x1b[0;3");
    if (escape == std::string::npos ||
        line.find("[TraceLogTest.rec]") == std::string::npos) {
      continue;
    }
    colors->push_back(line[escape + 7] - '0');
    bodies.push_back(line.substr(escape + 9));
  }
  return bodies;
}

TEST_F(TraceLogRecordingTest, ConsoleEchoShowsNestingDurationsAndColours) {
  Enable(TraceLog::kInternalEchoToConsole);
  // Names never coloured before, even when the test is repeated.
  static int run = 0;
  ++run;
  std::vector<std::unique_ptr<Thread>> threads;
  for (int i = 0; i < 7; ++i) {
    threads.push_back(std::make_unique<Thread>("TraceLogTest.colour" +
                                               std::to_string(run * 10 + i)));
    ASSERT_TRUE(threads.back()->Start());
  }
  const TimeTicks t = TimeTicks::FromInternalValue(1000000);
  const auto at = [t](int us) { return t + TimeDelta::FromMicroseconds(us); };
  std::vector<int> colors;
  std::vector<std::string> bodies;
  {
    ScopedLogLines log_lines(logging::LOG_ERROR, logging::LOG_ERROR);
    AddEvent(kRecorded, "outer", TRACE_EVENT_PHASE_BEGIN, at(0));
    AddEvent(kRecorded, "inner", TRACE_EVENT_PHASE_BEGIN, at(500));
    AddEvent(kRecorded, "inner", TRACE_EVENT_PHASE_END, at(1000));
    AddEvent(kRecorded, "outer", TRACE_EVENT_PHASE_END, at(2250));
    {
      ScopedTraceEvent whole(TraceLog::GetCategoryGroupEnabled(kRecorded),
                             "whole");
    }
    for (auto& thread : threads) {
      RunOn(thread.get(),
            [] { AddEvent(kRecorded, "colour", TRACE_EVENT_PHASE_INSTANT); });
    }
    bodies = EchoBodies(log_lines, &colors);
  }
  for (auto& thread : threads)
    StopWithin(thread.get(), "a TraceLogTest.colour thread");

  ASSERT_EQ(13u, bodies.size());
  EXPECT_EQ("outer[TraceLogTest.rec]\x1b[0;m", bodies[0]);
  EXPECT_EQ("| inner[TraceLogTest.rec]\x1b[0;m", bodies[1]);
  EXPECT_EQ("| inner[TraceLogTest.rec] (0.500 ms)\x1b[0;m", bodies[2]);
  EXPECT_EQ("outer[TraceLogTest.rec] (2.250 ms)\x1b[0;m", bodies[3]);
  // A complete event is echoed as a begin, and as an end when it closes.
  EXPECT_EQ("whole[TraceLogTest.rec]\x1b[0;m", bodies[4]);
  const std::string& end = bodies[5];
  EXPECT_EQ(0u, end.find("whole[TraceLogTest.rec] (")) << end;
  EXPECT_EQ(end.size() - 13, end.rfind('.')) << "three decimals: " << end;
  EXPECT_EQ(" ms)\x1b[0;m", end.substr(end.size() - 9)) << end;
  for (size_t i = 0; i < 6; ++i)
    EXPECT_EQ(colors[0], colors[i]) << "one thread, one colour";
  // Each new thread name takes the next of the six colours; the seventh
  // wraps.
  for (size_t i = 7; i < 13; ++i)
    EXPECT_EQ(colors[i - 1] % 6 + 1, colors[i]) << i;
  EXPECT_EQ(colors[6], colors[12]);

  // An end with no begin on record (echo switched on in between) has no
  // duration and leaves the stack of begin times alone.
  EXPECT_NE(std::string::npos, log_->FormatConsoleLineForTesting(
                                       TRACE_EVENT_PHASE_END, at(5000), nullptr)
                                   .find("m (0.000 ms)\x1b[0;m"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
