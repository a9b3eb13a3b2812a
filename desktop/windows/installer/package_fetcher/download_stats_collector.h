#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOAD_STATS_COLLECTOR_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOAD_STATS_COLLECTOR_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

// Describes the main package download for statistics: one record per
// request (chunk), the first one and every resume.
class DownloadStatsCollector : public WininetDelegate {
 public:
  DownloadStatsCollector();
  ~DownloadStatsCollector() override;

  void OnChunkStarted(uint32_t offset) override;
  void OnConnectedToServer(const std::string& address) override;
  void OnRedirected(const std::wstring& url) override;
  void OnHeader(const std::wstring& name, const std::wstring& value) override;
  void OnRequestCompleted(uint32_t wininet_error) override;
  void OnHttpStatus(uint32_t status) override;
  void OnRetry(int32_t retry_count) override;
  // Ends the current chunk. A chunk ends once: a second report of the same
  // end (a resume reports it twice) neither moves it nor skips a number.
  void OnChunkEnded(uint32_t offset) override;
  void OnResponseTooLong(uint32_t excess_bytes) override;
  void OnProxyLoginNeeded() override;
  void OnProxyLoginResult(uint32_t result) override;
  void OnNullRequestContext() override;
  std::vector<FetchChunkStatistics> GetChunkStatistics() override;

 private:
  // The record of the latest chunk; before the first, one whose contents go
  // nowhere.
  FetchChunkStatistics* Current();

  uint32_t chunk_counter_ = 0;
  std::vector<FetchChunkStatistics> records_;
  bool current_ended_ = false;
  FetchChunkStatistics discarded_;
  base::Lock lock_;

  DISALLOW_COPY_AND_ASSIGN(DownloadStatsCollector);
};

// Describes a single request (the metadata request, an additional file):
// one record, whatever the number of attempts.
class RequestStatsCollector : public WininetDelegate {
 public:
  RequestStatsCollector();
  ~RequestStatsCollector() override;

  void OnRequestCompleted(uint32_t wininet_error) override;
  void OnHttpStatus(uint32_t status) override;
  void OnProxyLoginNeeded() override;
  void OnProxyLoginResult(uint32_t result) override;
  void OnNullRequestContext() override;
  std::vector<FetchChunkStatistics> GetChunkStatistics() override;

 private:
  FetchChunkStatistics record_;
  base::Lock lock_;

  DISALLOW_COPY_AND_ASSIGN(RequestStatsCollector);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_DOWNLOAD_STATS_COLLECTOR_H_
