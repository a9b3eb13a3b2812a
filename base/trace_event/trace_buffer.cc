#include "base/trace_event/trace_buffer.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/check.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

namespace {

using ChunkVector = std::vector<std::unique_ptr<TraceBufferChunk>>;

// The event |handle| names among |chunks|, where an empty position is a
// chunk in flight: null unless the chunk is there under the handle's
// sequence number.
TraceEvent* FindEventInChunks(const ChunkVector& chunks,
                              TraceEventHandle handle) {
  if (handle.chunk_index >= chunks.size())
    return nullptr;
  TraceBufferChunk* chunk = chunks[handle.chunk_index].get();
  if (!chunk || chunk->seq() != handle.chunk_seq)
    return nullptr;
  return chunk->GetEventAt(handle.event_index);
}

// A fixed set of chunks recycled forever, the oldest returned first. The
// indices of chunks available for writing wait in a circular queue with one
// position more than there are chunks, so that a full queue and an empty
// one differ.
class TraceBufferRingBuffer : public TraceBuffer {
 public:
  TraceBufferRingBuffer(size_t max_chunks, uint32_t first_seq)
      // Every index must fit a handle's chunk index exactly.
      : max_chunks_(std::min(max_chunks, kMaxChunkIndex + 1)),
        recyclable_chunks_queue_(new size_t[max_chunks_ + 1]),
        queue_head_(0),
        queue_tail_(max_chunks_),
        current_iteration_index_(0),
        current_chunk_seq_(first_seq == 0 ? 1 : first_seq) {
    chunks_.reserve(max_chunks_);
    for (size_t i = 0; i < max_chunks_; ++i)
      recyclable_chunks_queue_[i] = i;
  }

  TraceBufferRingBuffer(const TraceBufferRingBuffer&) = delete;
  TraceBufferRingBuffer& operator=(const TraceBufferRingBuffer&) = delete;

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override {
    // The chunks are the tracing machinery's own memory, not the traced
    // code's.
    ScopedHeapProfilerIgnore ignore;

    // Every chunk is in flight: there is nothing to hand out, and the
    // queue position at the head holds no index.
    if (QueueIsEmpty())
      return nullptr;

    *index = recyclable_chunks_queue_[queue_head_];
    queue_head_ = NextQueueIndex(queue_head_);
    current_iteration_index_ = queue_head_;

    if (*index >= chunks_.size())
      chunks_.resize(*index + 1);

    std::unique_ptr<TraceBufferChunk> chunk = std::move(chunks_[*index]);
    if (chunk)
      chunk->Reset(current_chunk_seq_);
    else
      chunk = std::make_unique<TraceBufferChunk>(current_chunk_seq_);
    current_chunk_seq_ = NextSeq(current_chunk_seq_);
    return chunk;
  }

  void ReturnChunk(size_t index,
                   std::unique_ptr<TraceBufferChunk> chunk) override {
    // Only a chunk handed out by GetChunk comes back, so the queue has room.
    DCHECK_LT(index, chunks_.size());
    DCHECK(!chunks_[index]);
    DCHECK(!QueueIsFull());
    chunks_[index] = std::move(chunk);
    recyclable_chunks_queue_[queue_tail_] = index;
    queue_tail_ = NextQueueIndex(queue_tail_);
  }

  bool IsFull() const override { return false; }

  uint32_t next_chunk_seq() const override { return current_chunk_seq_; }

  size_t Size() const override {
    return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
  }

  size_t Capacity() const override {
    return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
  }

  TraceEvent* GetEventByHandle(TraceEventHandle handle) override {
    return FindEventInChunks(chunks_, handle);
  }

  const TraceBufferChunk* NextChunk() override {
    if (chunks_.empty())
      return nullptr;
    while (current_iteration_index_ != queue_tail_) {
      const size_t chunk_index =
          recyclable_chunks_queue_[current_iteration_index_];
      current_iteration_index_ = NextQueueIndex(current_iteration_index_);
      // Indices never handed out have no chunk yet.
      if (chunk_index >= chunks_.size())
        continue;
      if (const TraceBufferChunk* chunk = chunks_[chunk_index].get())
        return chunk;
    }
    return nullptr;
  }

  void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) override {
    overhead->Add(TraceEventMemoryOverhead::kTraceBuffer, sizeof(*this));
    for (size_t queue_index = queue_head_; queue_index != queue_tail_;
         queue_index = NextQueueIndex(queue_index)) {
      const size_t chunk_index = recyclable_chunks_queue_[queue_index];
      if (chunk_index >= chunks_.size())
        continue;
      if (TraceBufferChunk* chunk = chunks_[chunk_index].get())
        chunk->EstimateTraceMemoryOverhead(overhead);
    }
  }

 private:
  bool QueueIsEmpty() const { return queue_head_ == queue_tail_; }
  bool QueueIsFull() const {
    return NextQueueIndex(queue_tail_) == queue_head_;
  }

  size_t NextQueueIndex(size_t index) const {
    ++index;
    return index > max_chunks_ ? 0 : index;
  }

  const size_t max_chunks_;
  // An empty position is a chunk in flight.
  ChunkVector chunks_;
  std::unique_ptr<size_t[]> recyclable_chunks_queue_;
  size_t queue_head_;
  size_t queue_tail_;
  size_t current_iteration_index_;
  uint32_t current_chunk_seq_;
};

// Chunks in the order they were handed out, never reused. Reaching the
// maximum only makes IsFull true: metadata events and the flushes of thread
// buffers still need chunks afterwards.
class TraceBufferVector : public TraceBuffer {
 public:
  TraceBufferVector(size_t max_chunks, uint32_t first_seq)
      : in_flight_chunk_count_(0),
        current_iteration_index_(0),
        max_chunks_(max_chunks),
        first_seq_(first_seq == 0 ? 1 : first_seq) {
    chunks_.reserve(max_chunks_);
  }

  TraceBufferVector(const TraceBufferVector&) = delete;
  TraceBufferVector& operator=(const TraceBufferVector&) = delete;

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override {
    ScopedHeapProfilerIgnore ignore;

    *index = chunks_.size();
    chunks_.push_back(nullptr);
    ++in_flight_chunk_count_;
    return std::make_unique<TraceBufferChunk>(SeqAt(*index));
  }

  void ReturnChunk(size_t index,
                   std::unique_ptr<TraceBufferChunk> chunk) override {
    DCHECK_GT(in_flight_chunk_count_, 0u);
    DCHECK_LT(index, chunks_.size());
    DCHECK(!chunks_[index]);
    --in_flight_chunk_count_;
    chunks_[index] = std::move(chunk);
  }

  bool IsFull() const override { return chunks_.size() >= max_chunks_; }

  uint32_t next_chunk_seq() const override { return SeqAt(chunks_.size()); }

  size_t Size() const override {
    return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
  }

  size_t Capacity() const override {
    return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
  }

  TraceEvent* GetEventByHandle(TraceEventHandle handle) override {
    return FindEventInChunks(chunks_, handle);
  }

  const TraceBufferChunk* NextChunk() override {
    while (current_iteration_index_ < chunks_.size()) {
      // Positions of chunks in flight are empty.
      const TraceBufferChunk* chunk = chunks_[current_iteration_index_++].get();
      if (chunk)
        return chunk;
    }
    return nullptr;
  }

  void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) override {
    const size_t chunks_ptr_vector_allocated_size =
        sizeof(*this) + max_chunks_ * sizeof(decltype(chunks_)::value_type);
    const size_t chunks_ptr_vector_resident_size =
        sizeof(*this) + chunks_.size() * sizeof(decltype(chunks_)::value_type);
    overhead->Add(TraceEventMemoryOverhead::kTraceBuffer,
                  chunks_ptr_vector_allocated_size,
                  chunks_ptr_vector_resident_size);
    // Chunks in flight are counted by their threads' own dumps.
    for (const std::unique_ptr<TraceBufferChunk>& chunk : chunks_) {
      if (chunk)
        chunk->EstimateTraceMemoryOverhead(overhead);
    }
  }

 private:
  // The chunk at |index| is numbered |index| places after the first, over
  // the numbers 1..2^32-1 only.
  uint32_t SeqAt(size_t index) const {
    constexpr uint64_t kNonZeroSeqs = UINT32_MAX;
    return static_cast<uint32_t>((first_seq_ - 1 + uint64_t{index}) %
                                 kNonZeroSeqs) +
           1;
  }

  size_t in_flight_chunk_count_;
  size_t current_iteration_index_;
  const size_t max_chunks_;
  const uint32_t first_seq_;
  // An empty position is a chunk in flight.
  ChunkVector chunks_;
};

}  // namespace

TraceBufferChunk::TraceBufferChunk(uint32_t seq) : seq_(seq) {}

TraceBufferChunk::~TraceBufferChunk() = default;

void TraceBufferChunk::Reset(uint32_t new_seq) {
  for (size_t i = 0; i < next_free_; ++i)
    chunk_[i].Reset();
  next_free_ = 0;
  seq_ = new_seq;
  cached_overhead_estimate_.reset();
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t* event_index) {
  DCHECK(!IsFull());
  *event_index = next_free_++;
  return &chunk_[*event_index];
}

void TraceBufferChunk::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  if (!cached_overhead_estimate_) {
    cached_overhead_estimate_ = std::make_unique<TraceEventMemoryOverhead>();
    // The slots are counted one event at a time below.
    cached_overhead_estimate_->Add(TraceEventMemoryOverhead::kTraceBufferChunk,
                                   sizeof(*this) - sizeof(chunk_));
  }

  // A full chunk no longer changes: its estimate is made once.
  const size_t num_cached_estimated_events =
      cached_overhead_estimate_->GetCount(
          TraceEventMemoryOverhead::kTraceEvent);
  DCHECK_LE(num_cached_estimated_events, size());
  if (IsFull() && num_cached_estimated_events == size()) {
    overhead->Update(*cached_overhead_estimate_);
    return;
  }

  for (size_t i = num_cached_estimated_events; i < size(); ++i)
    chunk_[i].EstimateTraceMemoryOverhead(cached_overhead_estimate_.get());

  if (IsFull()) {
    cached_overhead_estimate_->AddSelf();
  } else {
    // The free slots change as the chunk fills, so they stay out of the
    // cache.
    const size_t num_unused_trace_events = capacity() - size();
    overhead->Add(TraceEventMemoryOverhead::kUnusedTraceEvent,
                  num_unused_trace_events * sizeof(TraceEvent));
  }

  overhead->Update(*cached_overhead_estimate_);
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferRingBuffer(
    size_t max_chunks, uint32_t first_seq) {
  return std::make_unique<TraceBufferRingBuffer>(max_chunks, first_seq);
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferVectorOfSize(
    size_t max_chunks, uint32_t first_seq) {
  return std::make_unique<TraceBufferVector>(max_chunks, first_seq);
}

}  // namespace trace_event
}  // namespace base
