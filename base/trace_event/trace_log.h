#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <stack>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local_storage.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_event_impl.h"

namespace base {

class MessageLoop;
class SingleThreadTaskRunner;

namespace trace_event {

struct TraceCategory;
class TraceBuffer;
class TraceBufferChunk;
class TraceEventFilter;

// The process trace log. Nothing in the product turns recording or
// filtering on, so every category's state byte stays 0 and the call sites
// record nothing; the machinery below runs once a mode is set (only tests
// do that, through the ...ForTesting operations).
class TraceLog : public MemoryDumpProvider {
 public:
  // Bits of the enabled modes.
  enum Mode : uint8_t {
    RECORDING_MODE = 1 << 0,
    FILTERING_MODE = 1 << 1,
  };

  // Bits of a category's state byte.
  enum CategoryStateFlags : unsigned char {
    ENABLED_FOR_RECORDING = 1 << 0,
    ENABLED_FOR_ETW_EXPORT = 1 << 3,
    ENABLED_FOR_FILTERING = 1 << 4,
  };

  // Bits of the trace options: how the buffer is used, and console echo.
  enum InternalTraceOptions : uint32_t {
    kInternalRecordUntilFull = 1 << 0,
    kInternalRecordContinuously = 1 << 1,
    kInternalEchoToConsole = 1 << 3,
    kInternalRecordAsMuchAsPossible = 1 << 4,
  };

  // Chunk counts of the buffers that the trace options choose.
  static constexpr size_t kTraceEventVectorBufferChunks = 4000;
  static constexpr size_t kTraceEventRingBufferChunks = 1000;
  static constexpr size_t kEchoToConsoleTraceEventBufferChunks = 256;
  static constexpr size_t kTraceEventVectorBigBufferChunks = 8000000;

  // The most event filters that can exist at once: one per bit of a
  // category's filter bitmap.
  static constexpr size_t kMaxEventFilters = 32;

  // Told, synchronously and with no trace log lock held, when recording is
  // switched on or off.
  class EnabledStateObserver {
   public:
    virtual ~EnabledStateObserver() = default;
    virtual void OnTraceLogEnabled() = 0;
    virtual void OnTraceLogDisabled() = 0;
  };

  // The same, told through a task on the thread that registered it; the
  // call is dropped once the observer is gone.
  class AsyncEnabledStateObserver {
   public:
    virtual ~AsyncEnabledStateObserver() = default;
    virtual void OnTraceLogEnabled() = 0;
    virtual void OnTraceLogDisabled() = 0;
  };

  // Makes the filter of a predicate name other than the built-in ones.
  using FilterFactoryForTesting =
      std::unique_ptr<TraceEventFilter> (*)(const std::string& predicate_name);

  // Made on first use, never destroyed.
  static TraceLog* GetInstance();

  // The state byte of |category_group| (a string that lives for the rest of
  // the process). The pointer stays valid for the life of the process, so
  // call sites cache it.
  static const unsigned char* GetCategoryGroupEnabled(
      const char* category_group);

  // The name of the category whose state byte is |category_state|.
  static const char* GetCategoryGroupName(const unsigned char* category_state);

  // Records one event; takes ownership of the |num_args| convertable values
  // whatever happens. Returns an all-zero handle when nothing was recorded.
  TraceEventHandle AddTraceEvent(
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
      unsigned int flags);

  // Closes the complete event behind |handle| with the current time. Does
  // nothing when the category was turned off since.
  void UpdateTraceEventDuration(const unsigned char* category_group_enabled,
                                const char* name,
                                TraceEventHandle handle);
  // The same with given times (already shifted by the time offset).
  void UpdateTraceEventDurationAt(const unsigned char* category_group_enabled,
                                  const char* name,
                                  TraceEventHandle handle,
                                  const TimeTicks& now,
                                  const ThreadTicks& thread_now);

  uint8_t enabled_modes() const {
    return enabled_modes_.load(std::memory_order_relaxed);
  }
  // Whether recording is on.
  bool IsEnabled() const { return (enabled_modes() & RECORDING_MODE) != 0; }

  // From now on the calling thread records through the shared chunk, even
  // when it has a message loop: for threads that block their loop, whose
  // thread-local chunk would otherwise stay in flight for long. Called from
  // inside a trace call on this thread (an observer or a filter), the
  // thread's chunk is let go when the outermost trace call returns.
  void SetCurrentThreadBlocksMessageLoop();

  // MemoryDumpProvider:
  bool OnMemoryDump(const MemoryDumpArgs& args,
                    ProcessMemoryDump* pmd) override;

  // Test-only control; the product never turns anything on.
  //
  // Switches on |modes|. Switching recording on starts a fresh buffer under
  // a new generation with |trace_options| and |config|; switching filtering
  // on takes the event filter configs of |config|, and replaces the filters
  // of an earlier filtering session. Refused while observers are told of a
  // change.
  void SetEnabledForTesting(const TraceConfig& config,
                            uint8_t modes,
                            uint32_t trace_options = kInternalRecordUntilFull);
  // Switches |modes| off (see SetDisabledWhileLocked).
  void SetDisabledForTesting(uint8_t modes);
  // Hands over everything recorded so far (the shared chunk and the calling
  // thread's own chunk included; chunks still held by other threads are
  // dropped) and goes on with a fresh buffer under a new generation. Refused
  // (null) while observers are told of a change.
  std::unique_ptr<TraceBuffer> FlushForTesting();
  // The event |handle| names, as the buffer, the shared chunk or the calling
  // thread's chunk holds it; null while it is in another thread's chunk.
  TraceEvent* GetEventByHandleForTesting(TraceEventHandle handle);
  // The chunk count of the buffers made from now on (0: the usual counts).
  void SetBufferChunksForTesting(size_t max_chunks);
  void SetFilterFactoryForTesting(FilterFactoryForTesting factory);
  void SetTimeOffsetForTesting(TimeDelta offset);
  void AddEnabledStateObserverForTesting(EnabledStateObserver* observer);
  void RemoveEnabledStateObserverForTesting(EnabledStateObserver* observer);
  // Registers on the calling thread's task runner.
  void AddAsyncEnabledStateObserverForTesting(
      WeakPtr<AsyncEnabledStateObserver> observer);
  void RemoveAsyncEnabledStateObserverForTesting(
      AsyncEnabledStateObserver* observer);
  void SetProcessNameForTesting(const std::string& process_name);
  void UpdateProcessLabelForTesting(int label_id, const std::string& label);
  void SetProcessSortIndexForTesting(int sort_index);
  void SetThreadSortIndexForTesting(int thread_id, int sort_index);
  // Queues a metadata event to be written when recording stops.
  void AddMetadataEventForTesting(std::unique_ptr<TraceEvent> event);
  // The console text of an event, as the echo writes it.
  std::string FormatConsoleLineForTesting(char phase,
                                          const TimeTicks& timestamp,
                                          const TraceEvent* trace_event);

 private:
  class ThreadLocalEventBuffer;
  class OptionalAutoLock;
  class ScopedInTraceEvent;

  using AsyncObserverMap =
      std::map<AsyncEnabledStateObserver*,
               std::pair<WeakPtr<AsyncEnabledStateObserver>,
                         scoped_refptr<SingleThreadTaskRunner>>>;

  TraceLog();
  ~TraceLog() override;

  // Registers with the memory dump manager once; kept out of the
  // constructor so that a manager asking for the trace log while it
  // registers finds it made.
  void RegisterAsDumpProviderOnce();

  static void RefreshCategoryStateCallback(TraceCategory* category);
  void RefreshCategoryState(TraceCategory* category);
  void RefreshAllCategoriesLocked();
  void BuildEventFilters();

  std::unique_ptr<TraceBuffer> MakeTraceBuffer(uint32_t first_seq) const;
  // Moves on to a new buffer under a new generation; returns the old one.
  std::unique_ptr<TraceBuffer> ReplaceBufferLocked();
  void SetDisabledWhileLocked(uint8_t modes);
  // Sets dispatching to observers and calls them without the lock.
  void NotifyObserversLocked(bool enabled, const char* location_function);
  // The calling thread's buffer of the current generation, made if need be;
  // null when the thread records through the shared chunk.
  ThreadLocalEventBuffer* EnsureThreadLocalBuffer();
  // Deletes the calling thread's buffer, if any, giving its chunk back.
  void DeleteThreadLocalEventBuffer();
  TraceEvent* AddToSharedChunkLocked(TraceEventHandle* handle,
                                     bool check_buffer_is_full);
  void CheckIfBufferIsFullLocked();
  TraceEvent* FindEventByHandle(TraceEventHandle handle,
                                OptionalAutoLock* lock);
  std::string FormatConsoleLine(char phase,
                                const TimeTicks& timestamp,
                                const TraceEvent* trace_event);
  void EmitMetadataEventsLocked();
  void AddMetadataEventLocked(int thread_id,
                              const char* metadata_name,
                              const char* arg_name,
                              unsigned char arg_type,
                              unsigned long long arg_value);
  void UpdateThreadNames(int thread_id);

  uint32_t trace_options() const {
    return trace_options_.load(std::memory_order_relaxed);
  }
  uint32_t generation() const {
    return generation_.load(std::memory_order_relaxed);
  }
  // What recorded timestamps have subtracted from them.
  TimeDelta time_offset() const {
    return TimeDelta::FromMicroseconds(
        time_offset_us_.load(std::memory_order_relaxed));
  }
  bool CheckGeneration(uint32_t generation) const {
    return generation == this->generation();
  }

  // Guards everything below except the thread information.
  Lock lock_;
  // Guards thread names, thread event start times and thread colors.
  Lock thread_info_lock_;
  std::atomic<uint8_t> enabled_modes_{0};
  std::unique_ptr<TraceBuffer> logged_events_;
  std::vector<std::unique_ptr<TraceEvent>> metadata_events_;
  bool dispatching_to_observers_ = false;
  std::vector<EnabledStateObserver*> enabled_state_observers_;
  AsyncObserverMap async_observers_;

  std::string process_name_;
  std::unordered_map<int, std::string> process_labels_;
  int process_sort_index_ = 0;
  std::unordered_map<int, int> thread_sort_indices_;
  std::unordered_map<int, std::string> thread_names_;
  Time process_creation_time_;
  std::unordered_map<int, std::stack<TimeTicks>> thread_event_start_times_;
  std::unordered_map<std::string, int> thread_colors_;
  TimeTicks buffer_limit_reached_timestamp_;

  uint64_t process_id_hash_ = 0;
  int process_id_ = 0;
  // Read without the lock on the recording path; written under it.
  std::atomic<int64_t> time_offset_us_{0};
  std::atomic<uint32_t> trace_options_{kInternalRecordUntilFull};

  TraceConfig trace_config_;
  TraceConfig::EventFilters enabled_event_filters_;

  ThreadLocalStorage::Slot thread_local_event_buffer_;
  ThreadLocalStorage::Slot thread_blocks_message_loop_;
  ThreadLocalStorage::Slot thread_is_in_trace_event_;
  // The name pointer last seen on the calling thread.
  ThreadLocalStorage::Slot current_thread_name_;

  std::unordered_set<MessageLoop*> thread_message_loops_;

  std::unique_ptr<TraceBufferChunk> thread_shared_chunk_;
  size_t thread_shared_chunk_index_ = 0;

  std::atomic<uint32_t> generation_{0};

  FilterFactoryForTesting filter_factory_for_testing_ = nullptr;
  size_t buffer_chunks_for_testing_ = 0;

  std::atomic<bool> registered_as_dump_provider_{false};

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
