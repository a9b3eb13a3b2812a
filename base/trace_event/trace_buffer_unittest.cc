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

TEST(TraceBufferChunkTest, EstimateCachesOnlyWhatNoLongerChanges) {
  TraceBufferChunk chunk(1);
  AddEvents(&chunk, 10);
  Overhead partial;
  chunk.EstimateTraceMemoryOverhead(&partial);
  EXPECT_EQ(sizeof(TraceBufferChunk) - kChunkSize * sizeof(TraceEvent),
            partial.GetAllocated(Overhead::kTraceBufferChunk));
  EXPECT_EQ(10u, partial.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(54 * sizeof(TraceEvent),
            partial.GetAllocated(Overhead::kUnusedTraceEvent));
  EXPECT_EQ(0u, partial.GetCount(Overhead::kTraceEventMemoryOverhead));

  // The free slots stayed out of the cache, and the events seen are not
  // counted twice.
  AddEvents(&chunk, kChunkSize - 10);
  Overhead full;
  chunk.EstimateTraceMemoryOverhead(&full);
  EXPECT_EQ(kChunkSize, full.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(0u, full.GetCount(Overhead::kUnusedTraceEvent));
  EXPECT_EQ(1u, full.GetCount(Overhead::kTraceEventMemoryOverhead));
  // Reused as it was: the cached account does not count itself again.
  Overhead full_again;
  chunk.EstimateTraceMemoryOverhead(&full_again);
  EXPECT_EQ(kChunkSize, full_again.GetCount(Overhead::kTraceEvent));
  EXPECT_EQ(1u, full_again.GetCount(Overhead::kTraceEventMemoryOverhead));
  EXPECT_EQ(full.GetAllocated(Overhead::kTraceEventMemoryOverhead),
            full_again.GetAllocated(Overhead::kTraceEventMemoryOverhead));
}

TEST(TraceBufferRingBufferTest, RecyclesIndicesWithNewSequenceNumbers) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferRingBuffer(4);
  EXPECT_EQ(nullptr, buffer->NextChunk());
  Chunks chunks = TakeChunks(buffer.get(), 4);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(i + 1, chunks[i]->seq());
  // Every chunk is out: nothing to hand out until one comes back.
  size_t index = 1000;
  EXPECT_FALSE(buffer->GetChunk(&index));

  AddEvents(chunks[2].get(), 1);
  const TraceEventHandle old_handle = Handle(3, 2, 0);
  buffer->ReturnChunk(2, std::move(chunks[2]));
  buffer->ReturnChunk(0, std::move(chunks[0]));
  EXPECT_NE(nullptr, buffer->GetEventByHandle(old_handle));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(2, 2, 0)));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(2, 1, 0)));  // Out.

  // The oldest returned comes back first, emptied and renumbered; the old
  // handle no longer resolves.
  std::unique_ptr<TraceBufferChunk> reused = buffer->GetChunk(&index);
  EXPECT_EQ(2u, index);
  EXPECT_EQ(5u, reused->seq());
  EXPECT_EQ(0u, reused->size());
  AddEvents(reused.get(), 1);
  buffer->ReturnChunk(2, std::move(reused));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(old_handle));
  EXPECT_NE(nullptr, buffer->GetEventByHandle(Handle(5, 2, 0)));
}

TEST(TraceBufferVectorTest, NumbersFullnessAndHandles) {
  std::unique_ptr<TraceBuffer> buffer =
      TraceBuffer::CreateTraceBufferVectorOfSize(3);
  Chunks chunks = TakeChunks(buffer.get(), 2);
  EXPECT_FALSE(buffer->IsFull());
  size_t index = 0;
  chunks.push_back(buffer->GetChunk(&index));
  EXPECT_TRUE(buffer->IsFull());
  // Full, yet still handing out chunks (for metadata and thread flushes).
  chunks.push_back(buffer->GetChunk(&index));
  EXPECT_EQ(3u, index);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(i + 1, chunks[i]->seq());

  AddEvents(chunks[3].get(), 2);
  TraceEvent* event = chunks[3]->GetEventAt(1);
  buffer->ReturnChunk(3, std::move(chunks[3]));
  EXPECT_EQ(event, buffer->GetEventByHandle(Handle(4, 3, 1)));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(3, 3, 1)));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(Handle(2, 1, 0)));  // Out.
}

// A buffer that follows another starts after its numbers; they skip 0 when
// they wrap, as 0 is the empty handle's.
TEST(TraceBufferTest, FirstSequenceNumberAndWrap) {
  for (bool ring : {true, false}) {
    std::unique_ptr<TraceBuffer> buffer =
        ring ? TraceBuffer::CreateTraceBufferRingBuffer(4, 0xFFFFFFFEu)
             : TraceBuffer::CreateTraceBufferVectorOfSize(4, 0xFFFFFFFEu);
    Chunks chunks = TakeChunks(buffer.get(), 3);
    EXPECT_EQ(0xFFFFFFFEu, chunks[0]->seq()) << ring;
    EXPECT_EQ(0xFFFFFFFFu, chunks[1]->seq()) << ring;
    EXPECT_EQ(1u, chunks[2]->seq()) << ring;
    EXPECT_EQ(2u, buffer->next_chunk_seq()) << ring;
  }
  EXPECT_EQ(1u,
            TraceBuffer::CreateTraceBufferVectorOfSize(1, 0)->next_chunk_seq());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
