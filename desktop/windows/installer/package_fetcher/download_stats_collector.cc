#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"

#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"

namespace installer {

DownloadStatsCollector::DownloadStatsCollector() = default;
DownloadStatsCollector::~DownloadStatsCollector() = default;

FetchChunkStatistics* DownloadStatsCollector::Current() {
  if (records_.empty()) {
    discarded_ = FetchChunkStatistics();
    return &discarded_;
  }
  return &records_.back();
}

void DownloadStatsCollector::OnChunkStarted(uint32_t offset) {
  base::AutoLock lock(lock_);
  records_.emplace_back();
  records_.back().chunk_start = offset;
  records_.back().chunk_number = static_cast<int32_t>(chunk_counter_);
  current_ended_ = false;
}

void DownloadStatsCollector::OnConnectedToServer(const std::string& address) {
  base::AutoLock lock(lock_);
  Current()->ip = address;
}

void DownloadStatsCollector::OnRedirected(const std::wstring& url) {
  base::AutoLock lock(lock_);
  Current()->redirected_url = base::WideToUTF8(url);
}

void DownloadStatsCollector::OnHeader(const std::wstring& name,
                                      const std::wstring& value) {
  base::AutoLock lock(lock_);
  Current()->headers[base::WideToUTF8(name)] = base::WideToUTF8(value);
}

void DownloadStatsCollector::OnRequestCompleted(uint32_t wininet_error) {
  base::AutoLock lock(lock_);
  Current()->wininet_error = static_cast<int32_t>(wininet_error);
}

void DownloadStatsCollector::OnHttpStatus(uint32_t status) {
  base::AutoLock lock(lock_);
  Current()->http_status = static_cast<int32_t>(status);
}

void DownloadStatsCollector::OnRetry(int32_t retry_count) {
  base::AutoLock lock(lock_);
  Current()->retry_count = retry_count;
}

void DownloadStatsCollector::OnChunkEnded(uint32_t offset) {
  base::AutoLock lock(lock_);
  if (records_.empty() || current_ended_)
    return;
  FetchChunkStatistics& record = records_.back();
  record.chunk_end = offset;
  record.chunk_end_time = base::Time::Now().ToJavaTime();
  ++chunk_counter_;
  current_ended_ = true;
}

void DownloadStatsCollector::OnResponseTooLong(uint32_t excess_bytes) {
  base::AutoLock lock(lock_);
  Current()->response_too_long = excess_bytes;
}

void DownloadStatsCollector::OnProxyLoginNeeded() {
  base::AutoLock lock(lock_);
  Current()->proxy_login_needed = true;
}

void DownloadStatsCollector::OnProxyLoginResult(uint32_t result) {
  base::AutoLock lock(lock_);
  Current()->proxy_login_result = static_cast<int32_t>(result);
}

void DownloadStatsCollector::OnNullRequestContext() {
  base::AutoLock lock(lock_);
  Current()->null_request_context = true;
}

std::vector<FetchChunkStatistics> DownloadStatsCollector::GetChunkStatistics() {
  base::AutoLock lock(lock_);
  return records_;
}

RequestStatsCollector::RequestStatsCollector() = default;
RequestStatsCollector::~RequestStatsCollector() = default;

void RequestStatsCollector::OnRequestCompleted(uint32_t wininet_error) {
  base::AutoLock lock(lock_);
  record_.wininet_error = static_cast<int32_t>(wininet_error);
}

void RequestStatsCollector::OnHttpStatus(uint32_t status) {
  base::AutoLock lock(lock_);
  record_.http_status = static_cast<int32_t>(status);
}

void RequestStatsCollector::OnProxyLoginNeeded() {
  base::AutoLock lock(lock_);
  record_.proxy_login_needed = true;
}

void RequestStatsCollector::OnProxyLoginResult(uint32_t result) {
  base::AutoLock lock(lock_);
  record_.proxy_login_result = static_cast<int32_t>(result);
}

void RequestStatsCollector::OnNullRequestContext() {
  base::AutoLock lock(lock_);
  record_.null_request_context = true;
}

std::vector<FetchChunkStatistics> RequestStatsCollector::GetChunkStatistics() {
  base::AutoLock lock(lock_);
  return {record_};
}

}  // namespace installer
