#include "desktop/windows/installer/avro_stats/avro_detail_records.h"

#include <utility>

#include "desktop/windows/installer/avro_stats/avro_codec.h"

namespace installer {

PageTransitionData::PageTransitionData() = default;
PageTransitionData::PageTransitionData(const PageTransitionData& other) =
    default;
PageTransitionData& PageTransitionData::operator=(
    const PageTransitionData& other) = default;
PageTransitionData::~PageTransitionData() = default;

StatusData::StatusData() = default;
StatusData::StatusData(const StatusData& other) = default;
StatusData::~StatusData() = default;

CampaignData::CampaignData() = default;
CampaignData::CampaignData(std::optional<std::string> name,
                           std::optional<std::string> source,
                           std::optional<std::string> medium)
    : name(std::move(name)),
      source(std::move(source)),
      medium(std::move(medium)) {}
CampaignData::CampaignData(const CampaignData& other) = default;
CampaignData::~CampaignData() = default;

void AddFetchDetails(AvroDatum* datum,
                     const std::string& path,
                     const std::vector<FetchChunkStatistics>& chunks) {
  AvroDatum* array = datum->FieldByPath(path);
  if (!array)
    return;
  for (const FetchChunkStatistics& chunk : chunks) {
    AvroDatum* item = array->AppendItem();
    if (!item)
      return;
    SetIfPresent(item, "chunk_start", chunk.chunk_start);
    SetIfPresent(item, "chunk_end", chunk.chunk_end);
    SetIfPresent(item, "chunk_number", chunk.chunk_number);
    SetIfPresent(item, "ip", chunk.ip);
    SetIfPresent(item, "redirected_url", chunk.redirected_url);
    if (AvroDatum* headers = item->FieldByPath("headers")) {
      for (const auto& header : chunk.headers)
        headers->MapValue(header.first)->SetString(header.second);
    }
    SetIfPresent(item, "wininet_error", chunk.wininet_error);
    SetIfPresent(item, "http_status", chunk.http_status);
    SetIfPresent(item, "retry_count", chunk.retry_count);
    SetIfPresent(item, "chunk_end_time", chunk.chunk_end_time);
    SetIfPresent(item, "response_too_long", chunk.response_too_long);
    SetIfPresent(item, "proxy_login_needed", chunk.proxy_login_needed);
    SetIfPresent(item, "proxy_login_result", chunk.proxy_login_result);
    SetIfPresent(item, "null_request_context", chunk.null_request_context);
  }
}

void AddPageTransition(AvroDatum* datum,
                       const std::string& path,
                       const PageTransitionData& transition) {
  AvroDatum* record = datum->FieldByPath(path);
  if (!record)
    return;
  SetIfPresent(record, "page_type", transition.page_type);
  SetIfPresent(record, "changed_make_default_browser_counter",
               transition.changed_make_default_browser_counter);
  SetIfPresent(record, "changed_import_data_counter",
               transition.changed_import_data_counter);
  SetIfPresent(record, "changed_enable_stats_counter",
               transition.changed_enable_stats_counter);
  SetIfPresent(record, "changed_delete_profile_counter",
               transition.changed_delete_profile_counter);
  SetIfPresent(record, "changed_install_mode_counter",
               transition.changed_install_mode_counter);
  SetIfPresent(record, "changed_language_counter",
               transition.changed_language_counter);
  SetIfPresent(record, "changed_install_path_counter",
               transition.changed_install_path_counter);
  SetIfPresent(record, "edited_install_path_counter",
               transition.edited_install_path_counter);
  SetIfPresent(record, "navigation_action", transition.navigation_action);
  SetIfPresent(record, "failure_reason", transition.failure_reason);
  SetIfPresent(record, "error_displayed", transition.error_displayed);
}

void AddSettings(AvroDatum* datum,
                 const std::string& path,
                 const SettingsData& settings) {
  AvroDatum* record = datum->FieldByPath(path);
  if (!record)
    return;
  SetAtPath(record, "make_default", settings.make_default);
  SetAtPath(record, "using_default_installation_folder",
            settings.using_default_installation_folder);
  SetAtPath(record, "using_privileged_installation_folder",
            settings.using_privileged_installation_folder);
  SetAtPath(record, "installation_mode", settings.installation_mode);
  SetAtPath(record, "installation_operation", settings.installation_operation);
}

void AddStatusData(AvroDatum* datum,
                   const std::string& path,
                   const StatusData& status) {
  AvroDatum* record = datum->FieldByPath(path);
  if (!record)
    return;
  SetIfPresent(record, "source", status.source);
  SetIfPresent(record, "tracking_data", status.tracking_data);
  SetIfPresent(record, "uuid", status.uuid);
}

void AddCampaign(AvroDatum* datum,
                 const std::string& path,
                 const CampaignData& campaign) {
  AvroDatum* record = datum->FieldByPath(path);
  if (!record)
    return;
  SetIfPresent(record, "name", campaign.name);
  SetIfPresent(record, "source", campaign.source);
  SetIfPresent(record, "medium", campaign.medium);
}

void AddDiagnosticData(AvroDatum* datum,
                       const std::string& path,
                       const DiagnosticCounters& counters) {
  AvroDatum* record = datum->FieldByPath(path);
  if (!record)
    return;
  // The schema holds them as ints; the counters never come near 2^31.
  SetAtPath(record, "dumped_messages_total",
            static_cast<int32_t>(counters.dumped_messages_total));
  SetAtPath(record, "dumps_total", static_cast<int32_t>(counters.dumps_total));
  SetAtPath(record, "messages_total",
            static_cast<int32_t>(counters.messages_total));
  SetAtPath(record, "send_attempts_total",
            static_cast<int32_t>(counters.send_attempts_total));
  SetAtPath(record, "successfully_sent_total",
            static_cast<int32_t>(counters.successfully_sent_total));
}

}  // namespace installer
