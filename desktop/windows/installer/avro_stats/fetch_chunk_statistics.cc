#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"

namespace installer {

FetchChunkStatistics::FetchChunkStatistics() = default;

FetchChunkStatistics::FetchChunkStatistics(const FetchChunkStatistics& other) =
    default;

FetchChunkStatistics& FetchChunkStatistics::operator=(
    const FetchChunkStatistics& other) = default;

FetchChunkStatistics::~FetchChunkStatistics() = default;

}  // namespace installer
