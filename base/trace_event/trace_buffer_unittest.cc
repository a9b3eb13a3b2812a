#include "base/trace_event/trace_buffer.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

using Overhead = TraceEventMemoryOverhead;
using Chunks = std::vector<std::unique_ptr<TraceBufferChunk>>;
constexpr size_t kChunkSize = TraceBufferChunk::kTraceBufferChunkSize;

TraceEventHandle Handle(uint32_t seq, unsigned chunk, unsigned event) {
  TraceEventHandle handle;
  handle.chunk_seq = seq;
  handle.chunk_index = chunk;
  handle.event_index = event;
  return handle;
}

class DestroyFlag : public ConvertableToTraceFormat {
 public:
  explicit DestroyFlag(bool* destroyed) : destroyed_(destroyed) {}
  ~DestroyFlag() override { *destroyed_ = true; }
  void AppendAsTraceFormat(std::string* out) const override {}

 private:
  bool* destroyed_;
};

void AddEvents(TraceBufferChunk* chunk, size_t count) {
  size_t event_index = 0;
  for (size_t i = 0; i < count; ++i)
    chunk->AddTraceEvent(&event_index);
}

// Takes |count| chunks, expecting the indices 0, 1, ...
Chunks TakeChunks(TraceBuffer* buffer, size_t count) {
  Chunks chunks;
  for (size_t i = 0; i < count; ++i) {
    size_t index = 1000;
    chunks.push_back(buffer->GetChunk(&index));
    EXPECT_TRUE(chunks.back());
    EXPECT_EQ(i, index);
  }
  return chunks;
}

TEST(TraceBufferChunkTest, ResetDropsWhatTheEventsHold) {
  TraceBufferChunk chunk(7);
  size_t event_index = 99;
  AddEvents(&chunk, 1);
  TraceEvent* event = chunk.AddTraceEvent(&event_index);
  EXPECT_EQ(1u, event_index);
  EXPECT_EQ(chunk.GetEventAt(1), event);

  bool destroyed = false;
  const char* arg_name = "value";
  const unsigned char arg_type = TRACE_VALUE_TYPE_CONVERTABLE;
  const unsigned long long arg_value = 0;
  std::unique_ptr<ConvertableToTraceFormat> convertable(
      new DestroyFlag(&destroyed));
  event->Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_INSTANT,
                    nullptr, "event", nullptr, 0, 0, 1, &arg_name, &arg_type,
                    &arg_value, &convertable, TRACE_EVENT_FLAG_NONE);
  ASSERT_FALSE(destroyed);

  chunk.Reset(8);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(8u, chunk.seq());
  EXPECT_EQ(0u, chunk.size());
  chunk.AddTraceEvent(&event_index);
  EXPECT_EQ(0u, event_index);
}

TEST(TraceBufferChunkTest, EstimateCachesOnlyWhatNoLongerChanges) {
  TraceBufferChunk chunk(1);
  AddEvents(&chunk, 10);
  Overhead partial;
  chunk.EstimateTraceMemoryOverhead(&partial);
  EXPECT_EQ(sizeof(TraceBufferChunk) - kChunkSize * sizeof(TraceEvent),
            partial.GetAllocated(Overhead::kTraceBufferChunk));
  EXPECT_EQ(10u, partial.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(1u, partial.GetCount(Overhead::kUnusedTraceEvent));
  EXPECT_EQ(54 * sizeof(TraceEvent),
            partial.GetAllocated(Overhead::kUnusedTraceEvent));
  EXPECT_EQ(0u, partial.GetCount(Overhead::kTraceEventMemoryOverhead));

  // The free slots stayed out of the cache; the events seen are not
  // counted twice.
  AddEvents(&chunk, 4);
  Overhead partial_again;
  chunk.EstimateTraceMemoryOverhead(&partial_again);
  EXPECT_EQ(1u, partial_again.GetCount(Overhead::kTraceBufferChunk));
  EXPECT_EQ(14u, partial_again.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(1u, partial_again.GetCount(Overhead::kUnusedTraceEvent));
  EXPECT_EQ(50 * sizeof(TraceEvent),
            partial_again.GetAllocated(Overhead::kUnusedTraceEvent));

  AddEvents(&chunk, kChunkSize - 14);
  Overhead full;
  chunk.EstimateTraceMemoryOverhead(&full);
  EXPECT_EQ(kChunkSize, full.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(0u, full.GetCount(Overhead::kUnusedTraceEvent));
  EXPECT_EQ(1u, full.GetCount(Overhead::kTraceEventMemoryOverhead));
  // Reused as it was: the cached account does not count itself again.
  Overhead full_again;
  chunk.EstimateTraceMemoryOverhead(&full_again);
  for (uint32_t kind = 0; kind < Overhead::kLast; ++kind) {
    const auto type = static_cast<Overhead::ObjectType>(kind);
    EXPECT_EQ(full.GetCount(type), full_again.GetCount(type)) << kind;
    EXPECT_EQ(full.GetAllocated(type), full_again.GetAllocated(type)) << kind;
  }

  chunk.Reset(2);
  AddEvents(&chunk, 3);
  Overhead after_reset;
  chunk.EstimateTraceMemoryOverhead(&after_reset);
  EXPECT_EQ(3u, after_reset.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(0u, after_reset.GetCount(Overhead::kTraceEventMemoryOverhead));
}

TEST(TraceBufferRingBufferTest, RecyclesIndicesWithNewSequenceNumbers) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBuffer(4);
  EXPECT_EQ(4 * kChunkSize, buffer->Capacity());
  Chunks chunks = TakeChunks(buffer.get(), 4);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(i + 1, chunks[i]->seq());
  EXPECT_EQ(4 * kChunkSize, buffer->Size());
  EXPECT_FALSE(buffer->IsFull());
  // Every chunk is out: nothing to hand out until one comes back.
  size_t index = 1000;
  EXPECT_FALSE(buffer->GetChunk(&index));

  size_t event_index = 0;
  TraceEvent* event = chunks[2]->AddTraceEvent(&event_index);
  const TraceEventHandle old_handle = Handle(3, 2, 0);
  buffer->ReturnChunk(2, std::move(chunks[2]));
  buffer->ReturnChunk(0, std::move(chunks[0]));
  EXPECT_EQ(event, buffer->GetEventByHandle(old_handle));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(2, 2, 0)));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(2, 1, 0)));  // Out.

  // The oldest returned comes back first, emptied and renumbered.
  std::unique_ptr<TraceBufferChunk> reused = buffer->GetChunk(&index);
  EXPECT_EQ(2u, index);
  EXPECT_EQ(5u, reused->seq());
  EXPECT_EQ(0u, reused->size());
  AddEvents(reused.get(), 1);
  buffer->ReturnChunk(2, std::move(reused));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(old_handle));
  EXPECT_NE(nullptr, buffer->GetEventByHandle(Handle(5, 2, 0)));
  EXPECT_EQ(6u, buffer->GetChunk(&index)->seq());
  EXPECT_EQ(0u, index);
}

TEST(TraceBufferRingBufferTest, IterationAndEstimate) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBuffer(4);
  EXPECT_EQ(nullptr, buffer->NextChunk());
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(1, 0, 0)));

  Chunks chunks = TakeChunks(buffer.get(), 3);
  const TraceBufferChunk* chunk0 = chunks[0].get();
  const TraceBufferChunk* chunk2 = chunks[2].get();
  AddEvents(chunks[0].get(), 10);
  AddEvents(chunks[1].get(), 20);
  buffer->ReturnChunk(2, std::move(chunks[2]));
  buffer->ReturnChunk(0, std::move(chunks[0]));

  // Index 3 was never handed out; chunk 1 is in flight.
  EXPECT_EQ(chunk2, buffer->NextChunk());
  EXPECT_EQ(chunk0, buffer->NextChunk());
  EXPECT_EQ(nullptr, buffer->NextChunk());

  Overhead overhead;
  buffer->EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(1u, overhead.GetCount(Overhead::kTraceBuffer));
  EXPECT_EQ(2u, overhead.GetCount(Overhead::kTraceBufferChunk));
  EXPECT_EQ(10u, overhead.GetCount(Overhead::kTraceEvent));
}

TEST(TraceBufferRingBufferTest, SequenceNumbersSkipZeroWhenTheyWrap) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBufferForTesting(2, 0xFFFFFFFFu);
  size_t index = 0;
  EXPECT_EQ(0xFFFFFFFFu, buffer->GetChunk(&index)->seq());
  EXPECT_EQ(1u, buffer->GetChunk(&index)->seq());
}

TEST(TraceBufferVectorTest, NumbersFullnessHandlesAndIteration) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferVectorOfSize(3);
  EXPECT_EQ(3 * kChunkSize, buffer->Capacity());
  EXPECT_EQ(nullptr, buffer->NextChunk());
  Chunks chunks = TakeChunks(buffer.get(), 2);
  EXPECT_FALSE(buffer->IsFull());
  size_t index = 0;
  chunks.push_back(buffer->GetChunk(&index));
  EXPECT_EQ(2u, index);
  EXPECT_TRUE(buffer->IsFull());
  // Full, yet still handing out chunks (for metadata and thread flushes).
  chunks.push_back(buffer->GetChunk(&index));
  EXPECT_EQ(3u, index);
  EXPECT_EQ(4 * kChunkSize, buffer->Size());
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(i + 1, chunks[i]->seq());

  AddEvents(chunks[3].get(), 2);
  TraceEvent* event = chunks[3]->GetEventAt(1);
  const TraceBufferChunk* chunk1 = chunks[1].get();
  const TraceBufferChunk* chunk3 = chunks[3].get();
  buffer->ReturnChunk(3, std::move(chunks[3]));
  buffer->ReturnChunk(1, std::move(chunks[1]));
  EXPECT_EQ(event, buffer->GetEventByHandle(Handle(4, 3, 1)));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(3, 3, 1)));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(1, 0, 0)));  // Out.
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(5, 4, 0)));

  EXPECT_EQ(chunk1, buffer->NextChunk());
  EXPECT_EQ(chunk3, buffer->NextChunk());
  EXPECT_EQ(nullptr, buffer->NextChunk());
}

TEST(TraceBufferVectorTest, EstimateSeparatesAllocatedFromResident) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferVectorOfSize(10);
  Chunks chunks = TakeChunks(buffer.get(), 3);
  AddEvents(chunks[0].get(), 5);
  buffer->ReturnChunk(0, std::move(chunks[0]));

  Overhead overhead;
  buffer->EstimateTraceMemoryOverhead(&overhead);
  // Room for ten chunk pointers is allocated; three are in use.
  EXPECT_EQ(7 * sizeof(void*),
            overhead.GetAllocated(Overhead::kTraceBuffer) -
                overhead.GetResident(Overhead::kTraceBuffer));
  // Chunks in flight are left to their threads' own dumps.
  EXPECT_EQ(1u, overhead.GetCount(Overhead::kTraceBufferChunk));
  EXPECT_EQ(5u, overhead.GetCount(Overhead::kTraceEvent));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
