#include "base/trace_event/trace_log.h"

#include <string.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/process/process_handle.h"
#include "base/run_loop.h"
#include "base/strings/string_split.h"
#include "base/synchronization/waitable_event.h"
#include "base/sys_info.h"
#include "base/test/scoped_log_lines.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread.h"
#include "base/time/time.h"
#include "base/strings/stringprintf.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/category_registry.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class CountingConvertable : public ConvertableToTraceFormat {
 public:
  explicit CountingConvertable(int* destroyed) : destroyed_(destroyed) {}
  ~CountingConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override {
    out->append("{}");
  }

 private:
  int* destroyed_;
};

TEST(TraceLogTest, SingleInstance) {
  EXPECT_NE(nullptr, TraceLog::GetInstance());
  EXPECT_EQ(TraceLog::GetInstance(), TraceLog::GetInstance());
  EXPECT_FALSE(TraceLog::GetInstance()->IsEnabled());
}

TEST(TraceLogTest, CategoriesAreOffAndPermanent) {
  const unsigned char* toplevel = TraceLog::GetCategoryGroupEnabled("toplevel");
  ASSERT_NE(nullptr, toplevel);
  EXPECT_EQ(0, *toplevel & TraceLog::kEnabledForAnyMask);
  EXPECT_STREQ("toplevel", TraceLog::GetCategoryGroupName(toplevel));

  // Found by content, not by the address of the text.
  char name[] = "TraceLogTest.category";
  const unsigned char* state = TraceLog::GetCategoryGroupEnabled(name);
  EXPECT_EQ(0, *state);
  strcpy(name, "TraceLogTest.xxxxxxxx");
  EXPECT_STREQ("TraceLogTest.category", TraceLog::GetCategoryGroupName(state));
  EXPECT_EQ(state, TraceLog::GetCategoryGroupEnabled("TraceLogTest.category"));
  EXPECT_NE(state, TraceLog::GetCategoryGroupEnabled("TraceLogTest.other"));
}

TEST(TraceLogTest, AddTraceEventTakesTheConvertables) {
  const unsigned char* state =
      TraceLog::GetCategoryGroupEnabled("task_scheduler");
  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> values[2] = {
      std::make_unique<CountingConvertable>(&destroyed),
      std::make_unique<CountingConvertable>(&destroyed)};
  const char* names[2] = {"a", "b"};
  const unsigned char types[2] = {TRACE_VALUE_TYPE_CONVERTABLE,
                                  TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long raw[2] = {0, 0};
  TraceEventHandle handle = TraceLog::GetInstance()->AddTraceEvent(
      TRACE_EVENT_PHASE_COMPLETE, state, "Run", nullptr, 1, 0, 1, TimeTicks(),
      2, names, types, raw, values,
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID |
          TRACE_EVENT_FLAG_FLOW_IN);
  EXPECT_EQ(2, destroyed);
  EXPECT_EQ(nullptr, values[0]);
  EXPECT_EQ(0u, handle.chunk_seq);
  EXPECT_EQ(0u, handle.chunk_index);
  EXPECT_EQ(0u, handle.event_index);
  TraceLog::GetInstance()->UpdateTraceEventDuration(state, "Run", handle);
}

// Recording tests. Each switches recording on for the "TraceLogTest*"
// categories only (so the threading code of other tests stays silent) and
// leaves everything off and flushed when it ends.

constexpr char kRecorded[] = "TraceLogTest.rec";
constexpr char kFiltered[] = "TraceLogTest.filtered";

TraceConfig ConfigFor(const char* pattern) {
  TraceConfig config;
  config.mutable_category_filter()->AddIncludedCategory(pattern);
  return config;
}

bool IsNullHandle(TraceEventHandle handle) {
  return handle.chunk_seq == 0 && handle.chunk_index == 0 &&
         handle.event_index == 0;
}

// The handle's bit fields, as plain numbers.
unsigned Index(TraceEventHandle handle) {
  return handle.chunk_index;
}
unsigned Slot(TraceEventHandle handle) {
  return handle.event_index;
}

TraceEventHandle AddEvent(const char* category,
                          const char* name,
                          char phase = TRACE_EVENT_PHASE_INSTANT,
                          TimeTicks timestamp = TimeTicks::Now(),
                          unsigned long long id = 0,
                          unsigned long long bind_id = 0,
                          unsigned int flags = TRACE_EVENT_FLAG_NONE) {
  return TraceLog::GetInstance()->AddTraceEvent(
      phase, TraceLog::GetCategoryGroupEnabled(category), name, nullptr, id,
      bind_id, static_cast<int>(PlatformThread::CurrentId()), timestamp, 0,
      nullptr, nullptr, nullptr, nullptr, flags);
}

// Runs |body| on |thread| and waits for it.
void RunOn(Thread* thread, std::function<void()> body) {
  WaitableEvent done;
  thread->task_runner()->PostTask(
      FROM_HERE, BindOnce(
                     [](std::function<void()>* body, WaitableEvent* done) {
                       (*body)();
                       done->Signal();
                     },
                     &body, &done));
  done.Wait();
}

class TraceLogRecordingTest : public testing::Test {
 protected:
  TraceLogRecordingTest() : log_(TraceLog::GetInstance()) {}

  void TearDown() override {
    log_->SetDisabledForTesting(TraceLog::RECORDING_MODE |
                                TraceLog::FILTERING_MODE);
    log_->FlushForTesting();
    log_->SetBufferChunksForTesting(0);
    log_->SetFilterFactoryForTesting(nullptr);
    log_->SetTimeOffsetForTesting(TimeDelta());
    EXPECT_EQ(0, log_->enabled_modes());
  }

  void Enable(uint32_t options = TraceLog::kInternalRecordUntilFull) {
    log_->SetEnabledForTesting(ConfigFor("TraceLogTest.rec*"),
                               TraceLog::RECORDING_MODE, options);
    ASSERT_TRUE(log_->IsEnabled());
  }

  // Takes everything recorded so far; the events live until the next call.
  const std::vector<const TraceEvent*>& Flush() {
    flushed_ = log_->FlushForTesting();
    events_.clear();
    while (const TraceBufferChunk* chunk = flushed_->NextChunk()) {
      for (size_t i = 0; i < chunk->size(); ++i)
        events_.push_back(chunk->GetEventAt(i));
    }
    return events_;
  }

  std::vector<const TraceEvent*> Named(const char* name) const {
    std::vector<const TraceEvent*> found;
    for (const TraceEvent* event : events_) {
      if (strcmp(event->name(), name) == 0)
        found.push_back(event);
    }
    return found;
  }

  TraceLog* const log_;
  std::unique_ptr<TraceBuffer> flushed_;
  std::vector<const TraceEvent*> events_;
};

TEST_F(TraceLogRecordingTest, RecordsOnlyEnabledCategoriesAndOwnsArguments) {
  Enable();
  const unsigned char* recorded = TraceLog::GetCategoryGroupEnabled(kRecorded);
  const unsigned char* other =
      TraceLog::GetCategoryGroupEnabled("TraceLogTest.other");
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING, *recorded);
  EXPECT_EQ(0, *other);
  // Metadata is recorded whatever the config names; "toplevel" is not named.
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING,
            *CategoryRegistry::kCategoryMetadata->state_ptr());
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("toplevel"));

  EXPECT_TRUE(IsNullHandle(AddEvent("TraceLogTest.other", "TraceLogTest.off")));

  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> value[1] = {
      std::make_unique<CountingConvertable>(&destroyed)};
  const char* names[1] = {"info"};
  const unsigned char types[1] = {TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long raw[1] = {0};
  const TraceEventHandle handle = log_->AddTraceEvent(
      TRACE_EVENT_PHASE_INSTANT, recorded, "TraceLogTest.arg", nullptr, 0, 0,
      static_cast<int>(PlatformThread::CurrentId()), TimeTicks::Now(), 1, names,
      types, raw, value, TRACE_EVENT_FLAG_NONE);
  EXPECT_FALSE(IsNullHandle(handle));
  EXPECT_EQ(0, destroyed) << "the recorded event keeps its argument";

  { ScopedTraceEvent complete(recorded, "TraceLogTest.complete"); }
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  EXPECT_EQ(0, *recorded);
  EXPECT_EQ(0, *CategoryRegistry::kCategoryMetadata->state_ptr());

  Flush();
  EXPECT_TRUE(Named("TraceLogTest.off").empty());
  ASSERT_EQ(1u, Named("TraceLogTest.arg").size());
  EXPECT_NE(nullptr, Named("TraceLogTest.arg")[0]->convertable_value(0));
  const std::vector<const TraceEvent*> complete =
      Named("TraceLogTest.complete");
  ASSERT_EQ(1u, complete.size());
  EXPECT_EQ(TRACE_EVENT_PHASE_COMPLETE, complete[0]->phase());
  EXPECT_STREQ(kRecorded, complete[0]->category_group_name());
  EXPECT_EQ(static_cast<int>(PlatformThread::CurrentId()),
            complete[0]->thread_id());
  EXPECT_GE(complete[0]->duration().InMicroseconds(), 0)
      << "the scope's end closes the event";

  flushed_.reset();
  EXPECT_EQ(1, destroyed);
}

TEST_F(TraceLogRecordingTest, MangledIdsAndTimeOffset) {
  Enable();
  const ProcessId pid = GetCurrentProcId();
  const uint64_t hash =
      (14695981039346656037ull ^ static_cast<uint64_t>(pid)) * 1099511628211ull;
  EXPECT_EQ(static_cast<int>(pid), log_->process_id());
  EXPECT_EQ(hash, log_->process_id_hash());

  log_->SetTimeOffsetForTesting(TimeDelta::FromMicroseconds(100));
  const TimeTicks at = TimeTicks::FromInternalValue(5000);
  AddEvent(kRecorded, "TraceLogTest.flow_out", TRACE_EVENT_PHASE_INSTANT, at,
           0x1234, 0x5678,
           TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID |
               TRACE_EVENT_FLAG_FLOW_OUT);
  AddEvent(kRecorded, "TraceLogTest.mangle_only", TRACE_EVENT_PHASE_INSTANT, at,
           0x1234, 0x5678,
           TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID);
  AddEvent(kRecorded, "TraceLogTest.plain", TRACE_EVENT_PHASE_INSTANT, at,
           0x1234, 0x5678, TRACE_EVENT_FLAG_HAS_ID);

  Flush();
  ASSERT_EQ(1u, Named("TraceLogTest.flow_out").size());
  ASSERT_EQ(1u, Named("TraceLogTest.mangle_only").size());
  ASSERT_EQ(1u, Named("TraceLogTest.plain").size());
  const TraceEvent* flow_out = Named("TraceLogTest.flow_out")[0];
  EXPECT_EQ(0x1234 ^ hash, flow_out->id());
  EXPECT_EQ(0x5678 ^ hash, flow_out->bind_id());
  const TraceEvent* mangle_only = Named("TraceLogTest.mangle_only")[0];
  EXPECT_EQ(0x1234 ^ hash, mangle_only->id());
  EXPECT_EQ(0x5678u, mangle_only->bind_id());
  EXPECT_EQ(0x1234u, Named("TraceLogTest.plain")[0]->id());
  EXPECT_EQ(4900, flow_out->timestamp().ToInternalValue());
}

TEST_F(TraceLogRecordingTest, BufferKindFollowsTraceOptions) {
  constexpr size_t kChunk = TraceBufferChunk::kTraceBufferChunkSize;
  const struct {
    uint32_t options;
    size_t chunks;
  } kCases[] = {
      {TraceLog::kInternalRecordUntilFull, 4000},
      {TraceLog::kInternalRecordContinuously, 1000},
      {TraceLog::kInternalEchoToConsole, 256},
      {TraceLog::kInternalRecordContinuously | TraceLog::kInternalEchoToConsole,
       1000},
  };
  for (const auto& c : kCases) {
    Enable(c.options);
    EXPECT_EQ(c.chunks * kChunk, log_->FlushForTesting()->Capacity())
        << c.options;
    log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  }
}

TEST_F(TraceLogRecordingTest, ThreadLocalChunkReturnsWhenFullOrLoopEnds) {
  Enable();
  Thread thread("TraceLogTest.local");
  ASSERT_TRUE(thread.Start());
  std::vector<TraceEventHandle> handles;
  RunOn(&thread, [&] {
    for (size_t i = 0; i <= TraceBufferChunk::kTraceBufferChunkSize; ++i)
      handles.push_back(AddEvent(kRecorded, "TraceLogTest.local"));
  });
  ASSERT_EQ(65u, handles.size());
  // The first chunk filled up and went back to the buffer; the second is
  // still the thread's own.
  EXPECT_NE(Index(handles[0]), Index(handles[64]));
  EXPECT_EQ(63u, Slot(handles[63]));
  EXPECT_EQ(0u, Slot(handles[64]));
  ASSERT_NE(nullptr, log_->GetEventByHandleForTesting(handles[0]));
  EXPECT_EQ(nullptr, log_->GetEventByHandleForTesting(handles[64]));

  thread.Stop();
  const TraceEvent* last = log_->GetEventByHandleForTesting(handles[64]);
  ASSERT_NE(nullptr, last);
  EXPECT_STREQ("TraceLogTest.local", last->name());
  EXPECT_EQ(65u, (Flush(), Named("TraceLogTest.local").size()));
}

TEST_F(TraceLogRecordingTest, ThreadThatBlocksItsLoopUsesTheSharedChunk) {
  Enable();
  Thread thread("TraceLogTest.blocking");
  ASSERT_TRUE(thread.Start());
  TraceEventHandle handle = {};
  RunOn(&thread, [&] {
    TraceLog::GetInstance()->SetCurrentThreadBlocksMessageLoop();
    handle = AddEvent(kRecorded, "TraceLogTest.blocking");
  });
  ASSERT_FALSE(IsNullHandle(handle));
  EXPECT_NE(nullptr, log_->GetEventByHandleForTesting(handle))
      << "visible while the thread still runs";
  thread.Stop();
}

TEST_F(TraceLogRecordingTest, RingBufferRecycledHandleFindsNothing) {
  log_->SetBufferChunksForTesting(2);
  Enable(TraceLog::kInternalRecordContinuously);
  const unsigned char* state = TraceLog::GetCategoryGroupEnabled(kRecorded);
  const TraceEventHandle first =
      AddEvent(kRecorded, "TraceLogTest.old", TRACE_EVENT_PHASE_COMPLETE);
  for (size_t i = 1; i < 2 * TraceBufferChunk::kTraceBufferChunkSize; ++i)
    AddEvent(kRecorded, "TraceLogTest.filler");
  // Takes the first chunk's place again, under a new sequence number.
  const TraceEventHandle recycled =
      AddEvent(kRecorded, "TraceLogTest.new", TRACE_EVENT_PHASE_COMPLETE);
  ASSERT_EQ(Index(first), Index(recycled));
  ASSERT_EQ(Slot(first), Slot(recycled));
  EXPECT_NE(first.chunk_seq, recycled.chunk_seq);
  EXPECT_TRUE(log_->IsEnabled()) << "a ring buffer is never full";

  EXPECT_EQ(nullptr, log_->GetEventByHandleForTesting(first));
  log_->UpdateTraceEventDuration(state, "TraceLogTest.old", first);
  const TraceEvent* event = log_->GetEventByHandleForTesting(recycled);
  ASSERT_NE(nullptr, event);
  EXPECT_STREQ("TraceLogTest.new", event->name());
  EXPECT_EQ(-1, event->duration().InMicroseconds())
      << "the stale handle must not close the new event";
}

// The registered "ThreadLocalEventBuffer" provider bound to the calling
// thread, or null.
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

TEST_F(TraceLogRecordingTest, DumpsItsOwnAndEachThreadsMemory) {
  Enable();
  const MemoryDumpArgs args;
  ProcessMemoryDump pmd(args);
  EXPECT_TRUE(log_->OnMemoryDump(args, &pmd));
  for (const char* kind :
       {"(Other)", "TraceBuffer", "TraceEventMemoryOverhead"}) {
    EXPECT_NE(nullptr, pmd.GetAllocatorDump(
                           std::string("tracing/main_trace_log/") + kind))
        << kind;
  }

  Thread thread("TraceLogTest.dumping");
  ASSERT_TRUE(thread.Start());
  const int thread_id = static_cast<int>(thread.GetThreadId());
  MemoryDumpProvider* provider = nullptr;
  bool dumped = false;
  ProcessMemoryDump thread_pmd(args);
  RunOn(&thread, [&] {
    EXPECT_EQ(nullptr, CurrentThreadBufferProvider());
    AddEvent(kRecorded, "TraceLogTest.dumped");
    provider = CurrentThreadBufferProvider();
    if (provider)
      dumped = provider->OnMemoryDump(args, &thread_pmd);
  });
  ASSERT_NE(nullptr, provider);
  EXPECT_TRUE(dumped);
  EXPECT_NE(nullptr, thread_pmd.GetAllocatorDump(StringPrintf(
                         "tracing/thread_%d/TraceBufferChunk", thread_id)));
  thread.Stop();
  for (const auto& info :
       MemoryDumpManager::GetInstance()->GetDumpProvidersForTesting()) {
    EXPECT_NE(provider, info->dump_provider) << "unregistered with its loop";
  }
}

// Records an event when a task that holds it dies unrun.
class RecordsWhenDestroyed {
 public:
  explicit RecordsWhenDestroyed(TraceEventHandle* handle) : handle_(handle) {}
  ~RecordsWhenDestroyed() {
    *handle_ = AddEvent(kRecorded, "TraceLogTest.late");
  }

 private:
  TraceEventHandle* const handle_;
};

// Posts such a task while the loop is being destroyed.
class PostsWhileDying : public MessageLoop::DestructionObserver {
 public:
  explicit PostsWhileDying(TraceEventHandle* handle) : handle_(handle) {}
  void WillDestroyCurrentMessageLoop() override {
    ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, BindOnce([](std::unique_ptr<RecordsWhenDestroyed>) {},
                            std::make_unique<RecordsWhenDestroyed>(handle_)));
  }

 private:
  TraceEventHandle* const handle_;
};

TEST_F(TraceLogRecordingTest, EventsOfADyingLoopGoToTheSharedChunk) {
  Enable();
  TraceEventHandle late = {};
  PostsWhileDying poster(&late);
  Thread thread("TraceLogTest.dying");
  ASSERT_TRUE(thread.Start());
  RunOn(&thread, [&] {
    // The thread's buffer is told of the loop's end before the poster.
    AddEvent(kRecorded, "TraceLogTest.early");
    MessageLoop::current()->AddDestructionObserver(&poster);
  });
  thread.Stop();
  ASSERT_FALSE(IsNullHandle(late));
  // Nothing would ever give back a chunk attached to the dead loop.
  const TraceEvent* event = log_->GetEventByHandleForTesting(late);
  ASSERT_NE(nullptr, event);
  EXPECT_STREQ("TraceLogTest.late", event->name());
}

// Tells of state changes, and tries to switch filtering off from inside.
class DisablingObserver : public TraceLog::EnabledStateObserver {
 public:
  void OnTraceLogEnabled() override {
    ++enabled;
    TraceLog::GetInstance()->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  }
  void OnTraceLogDisabled() override {
    ++disabled;
    TraceLog::GetInstance()->SetDisabledForTesting(TraceLog::FILTERING_MODE);
  }
  int enabled = 0;
  int disabled = 0;
};

class CountingAsyncObserver : public TraceLog::AsyncEnabledStateObserver {
 public:
  void OnTraceLogEnabled() override { ++enabled; }
  void OnTraceLogDisabled() override { ++disabled; }
  int enabled = 0;
  int disabled = 0;
  WeakPtrFactory<TraceLog::AsyncEnabledStateObserver> weak_factory{this};
};

std::unique_ptr<TraceEventFilter> MakeNoFilter(const std::string&);

TraceConfig::EventFilterConfig FilterConfig(const char* predicate,
                                            const char* category) {
  TraceConfig::EventFilterConfig config(predicate);
  TraceConfigCategoryFilter categories;
  categories.AddIncludedCategory(category);
  config.SetCategoryFilter(categories);
  return config;
}

TEST_F(TraceLogRecordingTest, ObserversAreToldAndCannotChangeTheState) {
  MessageLoop loop;
  DisablingObserver observer;
  CountingAsyncObserver async_observer;
  log_->AddEnabledStateObserverForTesting(&observer);
  log_->AddAsyncEnabledStateObserverForTesting(
      async_observer.weak_factory.GetWeakPtr());
  log_->SetFilterFactoryForTesting(&MakeNoFilter);
  TraceConfig config = ConfigFor(kRecorded);
  config.SetEventFilters({FilterConfig("TraceLogTest.none", kFiltered)});

  log_->SetEnabledForTesting(
      config, TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE);
  EXPECT_EQ(1, observer.enabled);
  EXPECT_TRUE(log_->IsEnabled()) << "the observer's disable is ignored";

  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  EXPECT_EQ(1, observer.disabled);
  EXPECT_EQ(TraceLog::FILTERING_MODE, log_->enabled_modes())
      << "the observer's disable is ignored";
  const size_t metadata_count = Flush().size();
  EXPECT_GT(metadata_count, 0u);

  // Already off: nobody is told and no metadata is written.
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  EXPECT_EQ(1, observer.disabled);
  EXPECT_TRUE(Flush().empty());

  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(1, async_observer.enabled);
  EXPECT_EQ(1, async_observer.disabled);

  log_->RemoveEnabledStateObserverForTesting(&observer);
  log_->RemoveAsyncEnabledStateObserverForTesting(&async_observer);
}

TEST_F(TraceLogRecordingTest, MetadataClosesARecording) {
  Enable();
  log_->SetProcessNameForTesting("TraceLogTest process");
  log_->UpdateProcessLabelForTesting(1, "TraceLogTest label");
  log_->SetProcessSortIndexForTesting(-3);
  log_->SetThreadSortIndexForTesting(4242, 7);
  const char* queued_arg_name = "n";
  const unsigned char queued_arg_type = TRACE_VALUE_TYPE_INT;
  for (const char* name : {"TraceLogTest.queued1", "TraceLogTest.queued2"}) {
    auto queued = std::make_unique<TraceEvent>();
    const unsigned long long value = 1;
    queued->Initialize(0, TimeTicks(), ThreadTicks(),
                       TRACE_EVENT_PHASE_METADATA,
                       CategoryRegistry::kCategoryMetadata->state_ptr(), name,
                       nullptr, 0, 0, 1, &queued_arg_name, &queued_arg_type,
                       &value, nullptr, TRACE_EVENT_FLAG_NONE);
    log_->AddMetadataEventForTesting(std::move(queued));
  }
  Thread thread("TraceLogTest.named");
  ASSERT_TRUE(thread.Start());
  const int named_thread_id = static_cast<int>(thread.GetThreadId());
  RunOn(&thread, [] { AddEvent(kRecorded, "TraceLogTest.on_named"); });

  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  log_->SetProcessNameForTesting("");
  log_->UpdateProcessLabelForTesting(1, "");
  log_->SetProcessSortIndexForTesting(0);
  log_->SetThreadSortIndexForTesting(4242, 0);
  thread.Stop();

  std::vector<std::string> order;
  for (const TraceEvent* event : Flush()) {
    if (event->phase() == TRACE_EVENT_PHASE_METADATA &&
        (order.empty() || order.back() != event->name())) {
      order.push_back(event->name());
    }
  }
  const std::vector<std::string> expected = {
      "TraceLogTest.queued2", "TraceLogTest.queued1", "num_cpus",
      "process_sort_index",   "process_name",         "process_uptime_seconds",
      "process_labels",       "thread_sort_index",    "thread_name"};
  EXPECT_EQ(expected, order);

  const int current = static_cast<int>(PlatformThread::CurrentId());
  ASSERT_EQ(1u, Named("num_cpus").size());
  EXPECT_EQ(0, Named("num_cpus")[0]->thread_id());
  EXPECT_STREQ("number", Named("num_cpus")[0]->arg_name(0));
  EXPECT_EQ(SysInfo::NumberOfProcessors(),
            Named("num_cpus")[0]->arg_value(0).as_int);
  EXPECT_EQ(current, Named("process_name")[0]->thread_id());
  EXPECT_STREQ("TraceLogTest process",
               Named("process_name")[0]->arg_value(0).as_string);
  EXPECT_EQ(-3, Named("process_sort_index")[0]->arg_value(0).as_int);
  EXPECT_STREQ("TraceLogTest label",
               Named("process_labels")[0]->arg_value(0).as_string);
  EXPECT_EQ(4242, Named("thread_sort_index")[0]->thread_id());
  EXPECT_GE(Named("process_uptime_seconds")[0]->arg_value(0).as_int, 0);
  EXPECT_STREQ(CategoryRegistry::kCategoryMetadata->name(),
               Named("num_cpus")[0]->category_group_name());

  bool named_thread_found = false;
  for (const TraceEvent* event : Named("thread_name")) {
    if (event->thread_id() == named_thread_id) {
      named_thread_found = true;
      EXPECT_STREQ("TraceLogTest.named", event->arg_value(0).as_string);
    }
  }
  EXPECT_TRUE(named_thread_found);
  EXPECT_TRUE(Named("trace_buffer_overflowed").empty());
}

TEST_F(TraceLogRecordingTest, ThreadNamesJoinedOnceEach) {
  Enable();
  Thread thread("TraceLogTest.a");
  ASSERT_TRUE(thread.Start());
  const int thread_id = static_cast<int>(thread.GetThreadId());
  RunOn(&thread, [] {
    AddEvent(kRecorded, "TraceLogTest.first");
    PlatformThread::SetName("TraceLogTest.b");
    AddEvent(kRecorded, "TraceLogTest.second");
    PlatformThread::SetName("TraceLogTest.a");
    AddEvent(kRecorded, "TraceLogTest.third");
  });
  thread.Stop();
  log_->SetDisabledForTesting(TraceLog::RECORDING_MODE);

  Flush();
  std::string names;
  for (const TraceEvent* event : Named("thread_name")) {
    if (event->thread_id() == thread_id)
      names = event->arg_value(0).as_string;
  }
  // The id may have named an ended thread before; only this thread's part
  // is known.
  const std::vector<std::string> pieces =
      SplitString(names, ",", KEEP_WHITESPACE, SPLIT_WANT_ALL);
  const auto a = std::find(pieces.begin(), pieces.end(), "TraceLogTest.a");
  ASSERT_NE(pieces.end(), a) << names;
  ASSERT_NE(pieces.end(), a + 1) << names;
  EXPECT_EQ("TraceLogTest.b", *(a + 1));
  EXPECT_EQ(1, std::count(pieces.begin(), pieces.end(), "TraceLogTest.a"));
  EXPECT_EQ(1, std::count(pieces.begin(), pieces.end(), "TraceLogTest.b"));
}

TEST_F(TraceLogRecordingTest, FullVectorBufferStopsRecordingOnce) {
  DisablingObserver observer;
  log_->SetBufferChunksForTesting(2);
  Enable();
  log_->AddEnabledStateObserverForTesting(&observer);
  TraceEventHandle last = {};
  for (size_t i = 0; i <= TraceBufferChunk::kTraceBufferChunkSize; ++i)
    last = AddEvent(kRecorded, "TraceLogTest.fill");
  // Handing out the last chunk switched recording off; the event that asked
  // for it is still stored.
  EXPECT_FALSE(log_->IsEnabled());
  EXPECT_EQ(1, observer.disabled);
  EXPECT_FALSE(IsNullHandle(last));
  EXPECT_TRUE(IsNullHandle(AddEvent(kRecorded, "TraceLogTest.fill")));
  log_->RemoveEnabledStateObserverForTesting(&observer);

  Flush();
  EXPECT_EQ(65u, Named("TraceLogTest.fill").size());
  const std::vector<const TraceEvent*> overflowed =
      Named("trace_buffer_overflowed");
  ASSERT_EQ(1u, overflowed.size());
  EXPECT_STREQ("overflowed_at_ts", overflowed[0]->arg_name(0));
  EXPECT_GT(overflowed[0]->arg_value(0).as_int, 0);
}

// Filters that count what they see.
struct FilterCounts {
  int filtered = 0;
  int ended = 0;
  bool answer = true;
  std::vector<TraceEventHandle> reentered;
};
FilterCounts g_filter_counts;

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
  return name == "TraceLogTest.counting" ? std::make_unique<CountingFilter>()
                                         : nullptr;
}

std::unique_ptr<TraceEventFilter> MakeNoFilter(const std::string&) {
  return std::make_unique<CountingFilter>();
}

TEST_F(TraceLogRecordingTest, FilteringWithoutRecordingNeverStores) {
  g_filter_counts = FilterCounts();
  log_->SetFilterFactoryForTesting(&MakeCountingFilter);
  TraceConfig config = ConfigFor(kRecorded);
  config.SetEventFilters({FilterConfig("TraceLogTest.counting", kFiltered)});
  log_->SetEnabledForTesting(
      config, TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE);
  const unsigned char* filtered = TraceLog::GetCategoryGroupEnabled(kFiltered);
  EXPECT_EQ(TraceLog::ENABLED_FOR_FILTERING, *filtered);
  EXPECT_EQ(1u, TraceCategory::FromStatePtr(filtered)->enabled_filters());
  EXPECT_NE(nullptr, TraceLog::GetEventFilterForTesting(0));
  EXPECT_EQ(nullptr, TraceLog::GetEventFilterForTesting(1));

  for (bool answer : {true, false}) {
    g_filter_counts.answer = answer;
    ScopedTraceEvent event(filtered, "TraceLogTest.filtered");
  }
  EXPECT_EQ(2, g_filter_counts.filtered);
  EXPECT_EQ(2, g_filter_counts.ended);
  ASSERT_EQ(2u, g_filter_counts.reentered.size());
  EXPECT_TRUE(IsNullHandle(g_filter_counts.reentered[0]));

  Flush();
  EXPECT_TRUE(Named("TraceLogTest.filtered").empty());
  EXPECT_TRUE(Named("TraceLogTest.reentered").empty());
}

TEST_F(TraceLogRecordingTest, WhitelistFilterDecidesWhatIsRecorded) {
  TraceConfig::EventFilterConfig whitelist =
      FilterConfig(EventNameFilter::kName, kRecorded);
  auto args = std::make_unique<DictionaryValue>();
  auto names = std::make_unique<ListValue>();
  names->AppendString("TraceLogTest.kept");
  args->SetList("event_name_whitelist", std::move(names));
  whitelist.SetArgs(std::move(args));
  TraceConfig config = ConfigFor(kRecorded);
  config.SetEventFilters(
      {whitelist,
       FilterConfig(HeapProfilerEventFilter::kName, "TraceLogTest.heap")});
  log_->SetEnabledForTesting(
      config, TraceLog::RECORDING_MODE | TraceLog::FILTERING_MODE);
  EXPECT_EQ(TraceLog::ENABLED_FOR_RECORDING | TraceLog::ENABLED_FOR_FILTERING,
            *TraceLog::GetCategoryGroupEnabled(kRecorded));
  EXPECT_NE(nullptr, TraceLog::GetEventFilterForTesting(1));
  EXPECT_EQ(2u, TraceCategory::FromStatePtr(
                    TraceLog::GetCategoryGroupEnabled("TraceLogTest.heap"))
                    ->enabled_filters());

  EXPECT_FALSE(IsNullHandle(AddEvent(kRecorded, "TraceLogTest.kept")));
  EXPECT_TRUE(IsNullHandle(AddEvent(kRecorded, "TraceLogTest.dropped")));
  Flush();
  EXPECT_EQ(1u, Named("TraceLogTest.kept").size());
  EXPECT_TRUE(Named("TraceLogTest.dropped").empty());
}

// The text between the colour escape and the reset escape, and the colour.
std::string EchoBody(const std::string& line, int* color) {
  const size_t escape = line.find("\x1b[0;3");
  const size_t reset = line.rfind("\x1b[0;m");
  if (escape == std::string::npos || reset == std::string::npos ||
      reset != line.size() - 5 || escape + 7 > reset || line[escape + 6] != 'm')
    return "<malformed: " + line + ">";
  *color = line[escape + 5] - '0';
  return line.substr(escape + 7, reset - escape - 7);
}

TEST_F(TraceLogRecordingTest, ConsoleEchoShowsNestingAndDurations) {
  Enable(TraceLog::kInternalEchoToConsole);
  ScopedLogLines lines(logging::LOG_ERROR, logging::LOG_ERROR);
  const TimeTicks t = TimeTicks::FromInternalValue(1000000);
  AddEvent(kRecorded, "outer", TRACE_EVENT_PHASE_BEGIN, t);
  AddEvent(kRecorded, "inner", TRACE_EVENT_PHASE_BEGIN,
           t + TimeDelta::FromMicroseconds(500));
  AddEvent(kRecorded, "inner", TRACE_EVENT_PHASE_END,
           t + TimeDelta::FromMicroseconds(1000));
  AddEvent(kRecorded, "outer", TRACE_EVENT_PHASE_END,
           t + TimeDelta::FromMicroseconds(2250));
  {
    ScopedTraceEvent complete(TraceLog::GetCategoryGroupEnabled(kRecorded),
                              "whole");
    AddEvent(kRecorded, "inside");
  }

  ASSERT_EQ(7u, lines.lines().size()) << lines.text();
  int colors[7] = {};
  std::vector<std::string> bodies;
  for (size_t i = 0; i < 7; ++i)
    bodies.push_back(EchoBody(lines.lines()[i], &colors[i]));
  EXPECT_EQ("outer[TraceLogTest.rec]", bodies[0]);
  EXPECT_EQ("| inner[TraceLogTest.rec]", bodies[1]);
  EXPECT_EQ("| inner[TraceLogTest.rec] (0.500 ms)", bodies[2]);
  EXPECT_EQ("outer[TraceLogTest.rec] (2.250 ms)", bodies[3]);
  // A complete event is echoed as a begin, and as an end when it closes.
  EXPECT_EQ("whole[TraceLogTest.rec]", bodies[4]);
  EXPECT_EQ("| inside[TraceLogTest.rec]", bodies[5]);
  const std::string end = bodies[6];
  ASSERT_GT(end.size(), 8u);
  EXPECT_EQ(0u, end.find("whole[TraceLogTest.rec] (")) << end;
  EXPECT_EQ(" ms)", end.substr(end.size() - 4)) << end;
  const size_t dot = end.rfind('.');
  EXPECT_EQ(end.size() - 8, dot) << "three decimals: " << end;
  for (int color : colors) {
    EXPECT_GE(color, 1);
    EXPECT_LE(color, 6);
    EXPECT_EQ(colors[0], color) << "one thread, one colour";
  }
}

TEST_F(TraceLogRecordingTest, ConsoleColoursCycleOverThreadNames) {
  Enable(TraceLog::kInternalEchoToConsole);
  std::vector<std::unique_ptr<Thread>> threads;
  for (int i = 0; i < 7; ++i) {
    threads.push_back(
        std::make_unique<Thread>("TraceLogTest.colour" + std::to_string(i)));
    ASSERT_TRUE(threads.back()->Start());
  }
  std::vector<std::string> lines;
  {
    ScopedLogLines log_lines(logging::LOG_ERROR, logging::LOG_ERROR);
    for (auto& thread : threads)
      RunOn(thread.get(), [] { AddEvent(kRecorded, "TraceLogTest.colour"); });
    lines = log_lines.lines();
  }
  for (auto& thread : threads)
    thread->Stop();

  ASSERT_EQ(7u, lines.size());
  int colors[7] = {};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_NE(std::string::npos,
              lines[i].find("TraceLogTest.colour" + std::to_string(i) + ": "))
        << lines[i];
    EXPECT_EQ("TraceLogTest.colour[TraceLogTest.rec]",
              EchoBody(lines[i], &colors[i]));
  }
  // Each new name takes the next of the six colours; the seventh wraps.
  for (size_t i = 1; i < 7; ++i)
    EXPECT_EQ(colors[i - 1] % 6 + 1, colors[i]) << i;
  EXPECT_EQ(colors[0], colors[6]);
}

TEST_F(TraceLogRecordingTest, EndWithoutBeginHasNoDuration) {
  // Echo switched on between a begin and its end must not underflow the
  // thread's stack of begin times.
  std::string line = log_->FormatConsoleLineForTesting(
      TRACE_EVENT_PHASE_END, TimeTicks::FromInternalValue(5000), nullptr);
  int color = 0;
  EXPECT_EQ(" (0.000 ms)", EchoBody(line, &color));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
