#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "base/trace_event/trace_event_impl.h"

namespace base {
namespace trace_event {

class TraceEventMemoryOverhead;

// 64 event slots handed to one writer at a time. The sequence number tells
// a handle whether a slot still holds its event.
class TraceBufferChunk {
 public:
  static constexpr size_t kTraceBufferChunkSize = 64;

  explicit TraceBufferChunk(uint32_t seq);
  ~TraceBufferChunk();

  TraceBufferChunk(const TraceBufferChunk&) = delete;
  TraceBufferChunk& operator=(const TraceBufferChunk&) = delete;

  // Empties the chunk for reuse under |new_seq|.
  void Reset(uint32_t new_seq);
  // The next free slot; never called on a full chunk.
  TraceEvent* AddTraceEvent(size_t* event_index);
  bool IsFull() const { return next_free_ == kTraceBufferChunkSize; }

  uint32_t seq() const { return seq_; }
  size_t capacity() const { return kTraceBufferChunkSize; }
  size_t size() const { return next_free_; }

  TraceEvent* GetEventAt(size_t index) { return &chunk_[index]; }
  const TraceEvent* GetEventAt(size_t index) const { return &chunk_[index]; }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

 private:
  size_t next_free_ = 0;
  std::unique_ptr<TraceEventMemoryOverhead> cached_overhead_estimate_;
  TraceEvent chunk_[kTraceBufferChunkSize];
  uint32_t seq_;
};

// Where the trace log keeps its chunks: a ring that recycles a fixed number
// forever, or a vector that grows to a maximum and then reports itself full.
class TraceBuffer {
 public:
  // The widest chunk index a TraceEventHandle can carry (26 bits). A ring
  // buffer never uses a larger index. A vector buffer may, past this many
  // chunks: events in such chunks get no handle.
  static constexpr size_t kMaxChunkIndex = (1u << 26) - 1;

  virtual ~TraceBuffer() = default;

  // A chunk to write into, and its index; may be null.
  virtual std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) = 0;
  virtual void ReturnChunk(size_t index,
                           std::unique_ptr<TraceBufferChunk> chunk) = 0;

  virtual bool IsFull() const = 0;
  virtual size_t Size() const = 0;
  virtual size_t Capacity() const = 0;
  // The event |handle| names, or null when its chunk is gone or reused.
  virtual TraceEvent* GetEventByHandle(TraceEventHandle handle) = 0;

  // Iterates over the chunks held; null at the end.
  virtual const TraceBufferChunk* NextChunk() = 0;

  virtual void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) = 0;

  // The sequence number that the next chunk handed out gets.
  virtual uint32_t next_chunk_seq() const = 0;

  // Buffers of |max_chunks| chunks whose first chunk gets |first_seq| (0 is
  // taken as 1). A handle names a chunk by index and sequence number, so the
  // trace log starts each new buffer after the numbers of the one before:
  // an old handle then never resolves into the new buffer.
  static std::unique_ptr<TraceBuffer> CreateTraceBufferRingBuffer(
      size_t max_chunks, uint32_t first_seq = 1);
  static std::unique_ptr<TraceBuffer> CreateTraceBufferVectorOfSize(
      size_t max_chunks, uint32_t first_seq = 1);

  // The sequence number after |seq|. 0 is what an empty handle carries, so a
  // chunk never gets it, not even when the numbers wrap.
  static uint32_t NextSeq(uint32_t seq) {
    return seq == UINT32_MAX ? 1 : seq + 1;
  }
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_H_
