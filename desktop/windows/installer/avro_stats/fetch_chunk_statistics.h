#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_FETCH_CHUNK_STATISTICS_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_FETCH_CHUNK_STATISTICS_H_

#include <stdint.h>

#include <map>
#include <optional>
#include <string>

namespace installer {

// One download request (chunk) of a file as the statistics describe it.
// Members the downloader never learnt stay absent and are not reported.
struct FetchChunkStatistics {
  FetchChunkStatistics();
  FetchChunkStatistics(const FetchChunkStatistics& other);
  FetchChunkStatistics& operator=(const FetchChunkStatistics& other);
  ~FetchChunkStatistics();

  // Bytes already downloaded when the chunk's request started.
  std::optional<int64_t> chunk_start;
  std::optional<int32_t> chunk_number;
  // The server address connected to.
  std::optional<std::string> ip;
  std::optional<std::string> redirected_url;
  // Response headers, name to value.
  std::map<std::string, std::string> headers;
  std::optional<int32_t> wininet_error;
  std::optional<int32_t> http_status;
  std::optional<int32_t> retry_count;
  std::optional<int64_t> chunk_end;
  std::optional<int64_t> chunk_end_time;
  // Excess bytes of a response longer than expected.
  std::optional<int64_t> response_too_long;
  std::optional<bool> proxy_login_needed;
  std::optional<int32_t> proxy_login_result;
  // A WinINet callback arrived without its request context.
  std::optional<bool> null_request_context;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_FETCH_CHUNK_STATISTICS_H_
