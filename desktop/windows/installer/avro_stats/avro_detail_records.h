#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_DETAIL_RECORDS_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_DETAIL_RECORDS_H_

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"

namespace installer {

class AvroDatum;

// One change of wizard page.
struct PageTransitionData {
  PageTransitionData();
  PageTransitionData(const PageTransitionData& other);
  PageTransitionData& operator=(const PageTransitionData& other);
  ~PageTransitionData();

  std::optional<int32_t> page_type;
  std::optional<int32_t> changed_make_default_browser_counter;
  std::optional<int32_t> changed_import_data_counter;
  std::optional<int32_t> changed_enable_stats_counter;
  std::optional<int32_t> changed_delete_profile_counter;
  std::optional<int32_t> changed_install_mode_counter;
  std::optional<int32_t> changed_language_counter;
  std::optional<int32_t> changed_install_path_counter;
  std::optional<int32_t> edited_install_path_counter;
  std::optional<std::string> navigation_action;
  std::optional<std::string> failure_reason;
  std::optional<std::string> error_displayed;
};

// The settings of a run as the statistics see them.
struct SettingsData {
  bool make_default = false;
  bool using_default_installation_folder = false;
  bool using_privileged_installation_folder = false;
  int32_t installation_mode = 0;
  int32_t installation_operation = 0;
};

// Tracking values of the installation status.
struct StatusData {
  StatusData();
  StatusData(const StatusData& other);
  ~StatusData();

  std::optional<std::string> source;
  std::optional<std::string> uuid;
  std::optional<std::string> tracking_data;
};

// The campaign tracking values of the run.
struct CampaignData {
  CampaignData();
  CampaignData(std::optional<std::string> name,
               std::optional<std::string> source,
               std::optional<std::string> medium);
  CampaignData(const CampaignData& other);
  ~CampaignData();

  std::optional<std::string> name;
  std::optional<std::string> source;
  std::optional<std::string> medium;
};

// The sender's own counters, carried by every message.
struct DiagnosticCounters {
  uint32_t dumped_messages_total = 0;
  uint32_t dumps_total = 0;
  uint32_t messages_total = 0;
  uint32_t send_attempts_total = 0;
  uint32_t successfully_sent_total = 0;
};

// Each builder writes its record at |path| below |datum|; the record is made
// present even when none of its members is. Absent members stay null.
void AddFetchDetails(AvroDatum* datum,
                     const std::string& path,
                     const std::vector<FetchChunkStatistics>& chunks);
void AddPageTransition(AvroDatum* datum,
                       const std::string& path,
                       const PageTransitionData& transition);
void AddSettings(AvroDatum* datum,
                 const std::string& path,
                 const SettingsData& settings);
void AddStatusData(AvroDatum* datum,
                   const std::string& path,
                   const StatusData& status);
void AddCampaign(AvroDatum* datum,
                 const std::string& path,
                 const CampaignData& campaign);
void AddDiagnosticData(AvroDatum* datum,
                       const std::string& path,
                       const DiagnosticCounters& counters);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_DETAIL_RECORDS_H_
