#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"

#include <optional>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

// However many attempts a single request takes, it is one record holding
// what the last one said.
TEST(RequestStatsCollectorTest, KeepsOneRecord) {
  RequestStatsCollector collector;
  collector.OnHttpStatus(503);
  collector.OnRequestCompleted(12029);
  collector.OnProxyLoginNeeded();
  collector.OnHttpStatus(200);
  collector.OnRequestCompleted(0);
  const std::vector<FetchChunkStatistics> records =
      collector.GetChunkStatistics();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(200, records[0].http_status);
  EXPECT_EQ(0, records[0].wininet_error);
  EXPECT_EQ(true, records[0].proxy_login_needed);
}

TEST(DownloadStatsCollectorTest, OneRecordPerChunk) {
  // 'S': chunk started at the offset, 'E': chunk ended there.
  struct Event {
    char kind;
    uint32_t offset;
  };
  struct Chunk {
    int32_t number;
    uint32_t start;
    std::optional<uint32_t> end;
  };
  const struct {
    const char* name;
    std::vector<Event> events;
    std::vector<Chunk> chunks;
  } kCases[] = {
      {"ended_before_any_started", {{'E', 10}}, {}},
      {"ended_before_then_started",
       {{'E', 10}, {'S', 0}},
       {{0, 0, std::nullopt}}},
      // A resume reports its chunk's end twice.
      {"resumed_twice",
       {{'S', 0},
        {'E', 100},
        {'E', 100},
        {'S', 100},
        {'E', 250},
        {'E', 250},
        {'S', 250},
        {'E', 400}},
       {{0, 0, 100}, {1, 100, 250}, {2, 250, 400}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DownloadStatsCollector collector;
    for (const Event& event : c.events) {
      if (event.kind == 'S')
        collector.OnChunkStarted(event.offset);
      else
        collector.OnChunkEnded(event.offset);
    }
    const std::vector<FetchChunkStatistics> records =
        collector.GetChunkStatistics();
    ASSERT_EQ(c.chunks.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(c.chunks[i].number, records[i].chunk_number);
      EXPECT_EQ(c.chunks[i].start, records[i].chunk_start);
      EXPECT_EQ(c.chunks[i].end, records[i].chunk_end);
    }
  }
}

}  // namespace
}  // namespace installer
