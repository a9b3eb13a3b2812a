#include "desktop/windows/installer/avro_stats/statistics_schema.h"

#include <set>
#include <utility>
#include <vector>

#include "base/json/string_escape.h"
#include "base/logging.h"
#include "desktop/windows/installer/avro_stats/avro_codec.h"

namespace installer {

const uint32_t kStatisticsSchemaId = 293;

namespace {

using SchemaRef = base::scoped_refptr<AvroSchema>;
using Fields = std::vector<AvroSchema::Field>;

SchemaRef String() {
  return AvroSchema::MakeString(kStatisticsSchemaId);
}

SchemaRef Int() {
  return AvroSchema::MakeInt(kStatisticsSchemaId);
}

SchemaRef Long() {
  return AvroSchema::MakeLong(kStatisticsSchemaId);
}

SchemaRef Boolean() {
  return AvroSchema::MakeBoolean(kStatisticsSchemaId);
}

// [null, |type|]: absent values go out as null.
SchemaRef Optional(SchemaRef type) {
  SchemaRef null = AvroSchema::MakeNull(kStatisticsSchemaId);
  return AvroSchema::MakeUnion(kStatisticsSchemaId, {null, std::move(type)});
}

SchemaRef Record(const std::string& name, const Fields& fields) {
  return AvroSchema::MakeRecord(kStatisticsSchemaId, std::string(), name,
                                fields);
}

SchemaRef Enum(const std::string& name,
               const std::vector<std::string>& symbols) {
  return AvroSchema::MakeEnum(kStatisticsSchemaId, std::string(), name,
                              symbols);
}

// Every field is [null, string].
SchemaRef StringsRecord(const std::string& name,
                        const std::vector<std::string>& field_names) {
  Fields fields;
  for (const std::string& field : field_names)
    fields.emplace_back(field, Optional(String()));
  return Record(name, fields);
}

SchemaRef BuildContext() {
  SchemaRef application =
      StringsRecord("application", {"name", "version", "stream"});
  SchemaRef campaign = StringsRecord("campaign", {"name", "source", "medium"});
  SchemaRef referrer =
      StringsRecord("referrer", {"type", "name", "url", "link"});
  return Record("context",
                {{"application", Optional(application)},
                 {"campaign", Optional(campaign)},
                 {"custom_campaign",
                  Optional(AvroSchema::MakeMap(kStatisticsSchemaId, String()))},
                 {"ipv6address", Optional(String())},
                 {"locale", Optional(String())},
                 {"osname", Optional(String())},
                 {"osversion", Optional(String())},
                 {"referrer", Optional(referrer)}});
}

SchemaRef BuildFetchStatisticsItem() {
  return Record(
      "fetch_statistics_array_item",
      {{"chunk_start", Optional(Long())},
       {"chunk_number", Optional(Int())},
       {"ip", Optional(String())},
       {"redirected_url", Optional(String())},
       {"headers", AvroSchema::MakeMap(kStatisticsSchemaId, String())},
       {"wininet_error", Optional(Int())},
       {"http_status", Optional(Int())},
       {"retry_count", Optional(Int())},
       {"chunk_end", Optional(Long())},
       {"chunk_end_time", Optional(Long())},
       {"response_too_long", Optional(Long())},
       {"proxy_login_needed", Optional(Boolean())},
       {"proxy_login_result", Optional(Int())},
       {"null_request_context", Optional(Boolean())}});
}

SchemaRef BuildInstallerEvent() {
  SchemaRef event_type = Enum("EventType", {"autoupdate_failed",
                                            "controller_launched",
                                            "controller_quitting",
                                            "installation_cancelled",
                                            "installer_step_starting",
                                            "installer_step_finished",
                                            "initial_settings_gathered",
                                            "settings_accepted",
                                            "status_parsed",
                                            "page_transition",
                                            "fetching_download_url",
                                            "fetching_primary_package",
                                            "primary_package_fetched",
                                            "checksum_verified",
                                            "version_verified",
                                            "signature_verified",
                                            "unpacked",
                                            "fetching_additional_file",
                                            "additional_file_fetched",
                                            "package_ready",
                                            "error",
                                            "package_fetcher_local_error",
                                            "package_fetcher_network_error",
                                            "generic"});
  SchemaRef controller_launched_details = Record(
      "controller_launched_details",
      {{"payload_type", String()},
       {"tracking_data", String()},
       {"run_immediately", Boolean()},
       {"autoupdate", Boolean()},
       {"silent", Boolean()},
       {"command_line", String()},
       {"package_architecture", Enum("PackageArchitecture", {"x86", "x64"})}});
  SchemaRef status_data =
      StringsRecord("status_data", {"source", "uuid", "tracking_data"});
  SchemaRef settings =
      Record("settings", {{"make_default", Boolean()},
                          {"using_default_installation_folder", Boolean()},
                          {"installation_mode", Int()},
                          {"installation_operation", Int()},
                          {"using_privileged_installation_folder", Boolean()},
                          {"folder_tracking_data", String()}});
  Fields transition_fields = {{"page_type", Int()}};
  for (const char* counter :
       {"changed_make_default_browser_counter", "changed_import_data_counter",
        "changed_enable_stats_counter", "changed_delete_profile_counter",
        "changed_install_mode_counter", "changed_language_counter",
        "changed_install_path_counter", "edited_install_path_counter"}) {
    transition_fields.emplace_back(counter, Optional(Int()));
  }
  for (const char* text :
       {"navigation_action", "failure_reason", "error_displayed"}) {
    transition_fields.emplace_back(text, Optional(String()));
  }
  SchemaRef page_transitions = Record("page_transitions", transition_fields);
  SchemaRef version_information = Record(
      "version_information", {{"version", String()}, {"stream", String()}});
  SchemaRef diagnostic_data =
      Record("diagnostic_data", {{"dumped_messages_total", Int()},
                                 {"dumps_total", Int()},
                                 {"messages_total", Int()},
                                 {"send_attempts_total", Int()},
                                 {"successfully_sent_total", Int()}});
  return Record(
      "installer_event",
      {{"event_type", event_type},
       {"description", Optional(String())},
       {"result", Optional(Boolean())},
       {"counter", Optional(Int())},
       {"message_session_id", Int()},
       {"controller_launched_details", Optional(controller_launched_details)},
       {"status_data", Optional(status_data)},
       {"settings", Optional(settings)},
       {"page_transitions", Optional(page_transitions)},
       {"fetch_details", Optional(AvroSchema::MakeArray(
                             kStatisticsSchemaId, BuildFetchStatisticsItem()))},
       {"version_information", Optional(version_information)},
       {"diagnostic_data", diagnostic_data}});
}

// Writes |schema| as Avro JSON; a named type is written whole once and by
// name afterwards, as Avro readers require.
void AppendJson(const AvroSchema& schema,
                std::set<std::string>* named,
                std::string* out) {
  switch (schema.type()) {
    case AVRO_NULL:
      out->append("\"null\"");
      return;
    case AVRO_BOOLEAN:
      out->append("\"boolean\"");
      return;
    case AVRO_STRING:
      out->append("\"string\"");
      return;
    case AVRO_INT:
      out->append("\"int\"");
      return;
    case AVRO_LONG:
      out->append("\"long\"");
      return;
    case AVRO_FLOAT:
      out->append("\"float\"");
      return;
    case AVRO_DOUBLE:
      out->append("\"double\"");
      return;
    case AVRO_BYTES:
      out->append("\"bytes\"");
      return;
    case AVRO_ARRAY:
      out->append("{\"type\":\"array\",\"items\":");
      AppendJson(*schema.GetItemsSchema(), named, out);
      out->append("}");
      return;
    case AVRO_MAP:
      out->append("{\"type\":\"map\",\"values\":");
      AppendJson(*schema.GetItemsSchema(), named, out);
      out->append("}");
      return;
    case AVRO_UNION:
      out->append("[");
      for (size_t i = 0; i < schema.GetChildCount(); ++i) {
        if (i)
          out->append(",");
        AppendJson(*schema.GetChild(i), named, out);
      }
      out->append("]");
      return;
    case AVRO_ENUM:
    case AVRO_RECORD:
      break;
  }
  if (!named->insert(schema.name()).second) {
    out->append(base::GetQuotedJSONString(schema.name()));
    return;
  }
  const bool is_record = schema.type() == AVRO_RECORD;
  out->append(is_record ? "{\"type\":\"record\",\"name\":"
                        : "{\"type\":\"enum\",\"name\":");
  out->append(base::GetQuotedJSONString(schema.name()));
  if (is_record) {
    out->append(",\"fields\":[");
    const std::vector<std::string> names = schema.GetFieldNames();
    for (size_t i = 0; i < names.size(); ++i) {
      if (i)
        out->append(",");
      out->append("{\"name\":" + base::GetQuotedJSONString(names[i]) +
                  ",\"type\":");
      AppendJson(*schema.GetChild(i), named, out);
      out->append("}");
    }
  } else {
    out->append(",\"symbols\":[");
    for (size_t i = 0; i < schema.symbols().size(); ++i) {
      if (i)
        out->append(",");
      out->append(base::GetQuotedJSONString(schema.symbols()[i]));
    }
  }
  out->append("]}");
}

base::scoped_refptr<AvroSchema> BuildStatisticsSchema() {
  SchemaRef metadata =
      Record("TLXSubmissionServerMetadata",
             {{"ReceivedTimestamp", Optional(Long())},
              {"RemoteIPAddr", Optional(String())},
              {"RemoteGeoCountry", Optional(String())},
              {"Forwarded",
               Optional(AvroSchema::MakeArray(kStatisticsSchemaId, String()))},
              {"ForwardedGeoCountry", Optional(String())},
              {"ReceivingNode", Optional(String())},
              {"WriteKeyTags",
               Optional(AvroSchema::MakeMap(kStatisticsSchemaId, String()))},
              {"IncomingAvroDatumSize", Optional(Int())}});
  SchemaRef identifiers =
      StringsRecord("identifiers", {"network_installer_id", "session_guid"});
  SchemaRef root =
      Record("kavor_desktop_installer",
             {{"TLXMessageUUID", Optional(String())},
              {"TLXSubmissionServerMetadata", Optional(metadata)},
              {"EventTimestamp", Long()},
              {"SentTimestamp", Long()},
              {"UTCOffset", Int()},
              {"context", Optional(BuildContext())},
              {"identifiers", Optional(identifiers)},
              {"installer_event", Optional(BuildInstallerEvent())}});
  CHECK(root);
  return root;
}

}  // namespace

base::scoped_refptr<AvroSchema> GetStatisticsSchema() {
  // Built once and kept for the life of the process; the extra reference
  // is never dropped.
  static AvroSchema* const schema = [] {
    SchemaRef built = BuildStatisticsSchema();
    built->AddRef();
    return built.get();
  }();
  return schema;
}

std::string GetStatisticsSchemaJsonForTesting() {
  std::set<std::string> named;
  std::string json;
  AppendJson(*GetStatisticsSchema(), &named, &json);
  return json;
}

}  // namespace installer
