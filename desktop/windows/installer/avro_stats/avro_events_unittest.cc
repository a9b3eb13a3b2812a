#include "desktop/windows/installer/avro_stats/avro_events.h"

#include <stdint.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/json/json_reader.h"
#include "base/strings/string_number_conversions.h"
#include "base/threading/simple_thread.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_codec.h"
#include "desktop/windows/installer/avro_stats/avro_message_serializer.h"
#include "desktop/windows/installer/avro_stats/statistics_schema.h"
#include "desktop/windows/installer/test/spaced_hex.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const int64_t kEventTime = 1700000000000;  // ms since 1970
const char kEventTimeHex[] = "80 A0 AB FE F9 62";
const char kMessageId[] = "123e4567-e89b-42d3-a456-426614174000";

int64_t g_now = kEventTime;

base::Time FixedNow() {
  return base::Time::FromJavaTime(g_now);
}

std::string FixedGuid() {
  return kMessageId;
}

// A short string (below 64 bytes) as written: length, then the bytes.
std::string Str(const std::string& text) {
  const unsigned char length = static_cast<unsigned char>(text.size() * 2);
  std::string hex = base::HexEncode(&length, 1);
  for (unsigned char c : text)
    hex += " " + base::HexEncode(&c, 1);
  return hex;
}

class AvroEventsTest : public testing::Test {
 protected:
  void SetUp() override {
    g_now = kEventTime;
    SetStatsClockForTesting(&FixedNow);
    SetStatsGuidForTesting(&FixedGuid);
    ResetStatsMessageSequenceForTesting();
    base::win::OSInfo::Record os;
    os.version_number = {6, 1, 7601, 0};
    os_override_ = std::make_unique<base::win::ScopedOSInfoOverride>(os);
  }
  void TearDown() override {
    SetStatsClockForTesting(nullptr);
    SetStatsGuidForTesting(nullptr);
  }

  std::string Body(const AvroStatsMessage& message) {
    DiagnosticCounters counters;
    counters.dumped_messages_total = 1;
    counters.dumps_total = 2;
    counters.messages_total = 3;
    counters.send_attempts_total = 4;
    counters.successfully_sent_total = 5;
    AvroMessageSerializer serializer(
        "g", "", "47.0.4127.0", "developer",
        CampaignData(std::nullopt, std::nullopt, std::string("cpc")));
    return test::SpacedHex(serializer.Serialize(message, counters));
  }

  // Everything of a body before the "installer_event" record.
  std::string Prefix() const {
    return "00 00 00 01 25 02 " + Str(kMessageId) + " 00 " + kEventTimeHex +
           " " + kEventTimeHex +
           " 00"
           // context: application (name null, version, stream)
           " 02 02 00 02 " +
           Str("47.0.4127.0") + " 02 " + Str("developer") +
           // campaign with only a medium; custom_campaign, ipv6address and
           // locale null
           " 02 00 00 02 " + Str("cpc") + " 00 00 00 02 " + Str("Windows") +
           " 02 " + Str("6.1.7601.0") +
           " 00"
           // identifiers: an empty network installer id is not null
           " 02 02 00 02 " +
           Str("g") + " 02";
  }

  std::unique_ptr<base::win::ScopedOSInfoOverride> os_override_;
};

std::vector<FetchChunkStatistics> OnlyStart() {
  FetchChunkStatistics chunk;
  chunk.chunk_start = 5;
  return {chunk};
}

std::vector<FetchChunkStatistics> HeadersAndStatus() {
  FetchChunkStatistics chunk;
  chunk.headers["b"] = "2";
  chunk.headers["a"] = "1";
  chunk.http_status = 200;
  return {chunk};
}

TEST_F(AvroEventsTest, BodyOfEachEvent) {
  SettingsData settings;
  settings.make_default = true;
  settings.using_privileged_installation_folder = true;
  settings.installation_mode = 2;
  settings.installation_operation = 1;
  SettingsData accepted;
  accepted.using_default_installation_folder = true;
  accepted.installation_mode = 1;
  accepted.installation_operation = 2;
  ControllerLaunchedDetails launched;
  launched.payload_type = "none";
  launched.tracking_data = "t";
  launched.run_immediately = true;
  launched.silent = true;
  launched.command_line = "-x";
  launched.package_architecture = "x64";
  PageTransitionData transition;
  transition.page_type = 4;
  transition.changed_language_counter = 1;
  transition.navigation_action = "n";
  StatusData status;
  status.source = "primary";

  // The "installer_event" record up to its diagnostic data: event type,
  // description, result, counter, sequence number (1), then the detail
  // records.
  const struct {
    std::function<std::unique_ptr<AvroStatsMessage>()> make;
    uint32_t level;
    const char* event;
  } kCases[] = {
      {[] { return std::make_unique<AdditionalFileFetchedEvent>(OnlyStart()); },
       1,
       "24 00 00 00 02 00 00 00 00 02 02 02 0A 00 00 00 00 00 00 00 00 00 00 "
       "00 00 00 00 00"},
      {[&] {
         return std::make_unique<AutoupdateFailedEvent>(
             "bad", std::vector<FetchChunkStatistics>(), settings, "1.2",
             "dev");
       },
       0,
       "00 02 06 62 61 64 00 00 02 00 00 02 01 00 04 02 01 00 00 02 00 02 06 "
       "31 2E 32 06 64 65 76"},
      {[] { return std::make_unique<ChecksumVerifiedEvent>(); }, 1,
       "1A 00 00 00 02 00 00 00 00 00 00"},
      {[&] { return std::make_unique<ControllerLaunchedEvent>(launched); }, 1,
       "02 00 00 00 02 02 08 6E 6F 6E 65 02 74 01 00 01 04 2D 78 02 00 00 00 "
       "00 00"},
      {[] { return std::make_unique<ControllerQuittingEvent>(true); }, 1,
       "04 00 02 01 00 02 00 00 00 00 00 00"},
      // An empty description still selects the string.
      {[] { return std::make_unique<ErrorEvent>(""); }, 1,
       "28 02 00 00 00 02 00 00 00 00 00 00"},
      {[] { return std::make_unique<FetchingAdditionalFileEvent>("f"); }, 1,
       "22 02 02 66 00 00 02 00 00 00 00 00 00"},
      {[] { return std::make_unique<FetchingDownloadUrlEvent>(); }, 1,
       "14 00 00 00 02 00 00 00 00 00 00"},
      {[] {
         return std::make_unique<FetchingPrimaryPackageEvent>(
             HeadersAndStatus(), "p");
       },
       1,
       "16 02 02 70 00 00 02 00 00 00 00 02 02 00 00 00 00 04 02 61 02 31 02 "
       "62 02 32 00 00 02 90 03 00 00 00 00 00 00 00 00 00"},
      {[] {
         return std::make_unique<InitialSettingsGatheredEvent>(SettingsData());
       },
       1, "0C 00 00 00 02 00 00 02 00 00 00 00 00 00 00 00 00"},
      {[] { return std::make_unique<InstallationCancelledEvent>(2); }, 1,
       "06 00 00 02 04 02 00 00 00 00 00 00"},
      {[] { return std::make_unique<InstallerStepFinishedEvent>(3, "s"); }, 1,
       "0A 02 02 73 00 02 06 02 00 00 00 00 00 00"},
      {[] { return std::make_unique<InstallerStepStartingEvent>("s"); }, 1,
       "08 02 02 73 00 00 02 00 00 00 00 00 00"},
      {[] { return std::make_unique<PackageFetcherLocalErrorEvent>("l"); }, 1,
       "2A 02 02 6C 00 00 02 00 00 00 00 00 00"},
      // An empty chunk list is an empty array, not null.
      {[] {
         return std::make_unique<PackageFetcherNetworkErrorEvent>(
             std::vector<FetchChunkStatistics>(), "n");
       },
       1, "2C 02 02 6E 00 00 02 00 00 00 00 02 00 00"},
      {[] { return std::make_unique<PackageReadyEvent>(); }, 1,
       "26 00 00 00 02 00 00 00 00 00 00"},
      {[&] { return std::make_unique<PageTransitionEvent>(transition); }, 1,
       "12 00 00 00 02 00 00 00 02 08 00 00 00 00 00 02 02 00 00 02 02 6E 00 "
       "00 00 00"},
      {[] {
         return std::make_unique<PrimaryPackageFetchedEvent>(
             std::vector<FetchChunkStatistics>());
       },
       1, "18 00 00 00 02 00 00 00 00 02 00 00"},
      {[&] { return std::make_unique<SettingsAcceptedEvent>(accepted); }, 1,
       "0E 00 00 00 02 00 00 02 00 01 02 04 00 00 00 00 00"},
      {[] { return std::make_unique<SignatureVerifiedEvent>(); }, 1,
       "1E 00 00 00 02 00 00 00 00 00 00"},
      {[&] { return std::make_unique<StatusParsedEvent>(status); }, 1,
       "10 00 00 00 02 00 02 02 0E 70 72 69 6D 61 72 79 00 00 00 00 00 00"},
      {[] { return std::make_unique<VersionVerifiedEvent>("1", "s"); }, 1,
       "1C 00 00 00 02 00 00 00 00 00 02 02 31 02 73"},
  };
  // The sender's counters close every body.
  const std::string kDiagnostics = " 02 04 06 08 0A";
  std::vector<std::string> names;
  for (const auto& c : kCases) {
    ResetStatsMessageSequenceForTesting();
    std::unique_ptr<AvroStatsMessage> message = c.make();
    names.push_back(message->GetName());
    EXPECT_EQ(c.level, message->GetVerbosityLevel()) << names.back();
    EXPECT_EQ(Prefix() + " " + c.event + kDiagnostics, Body(*message))
        << names.back();
  }
  // Every event type but "unpacked" and "generic" has its class.
  std::vector<std::string> symbols =
      GetStatisticsSchema()->GetChild(7)->GetChild(1)->GetChild(0)->symbols();
  ASSERT_EQ(24u, symbols.size());
  EXPECT_EQ("unpacked", symbols[16]);
  EXPECT_EQ("generic", symbols[23]);
  symbols.erase(symbols.begin() + 23);
  symbols.erase(symbols.begin() + 16);
  std::sort(symbols.begin(), symbols.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(symbols, names);
}

TEST_F(AvroEventsTest, DetailRecordsWithNothingPresentAreStillPresent) {
  const struct {
    std::function<std::unique_ptr<AvroStatsMessage>()> make;
    const char* event;
  } kCases[] = {
      // page_type 0, every other member null
      {[] {
         return std::make_unique<PageTransitionEvent>(PageTransitionData());
       },
       "12 00 00 00 02 00 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00 "
       "00"},
      {[] { return std::make_unique<StatusParsedEvent>(StatusData()); },
       "10 00 00 00 02 00 02 00 00 00 00 00 00 00"},
      // A chunk with nothing known is one item of nulls and no headers.
      {[] {
         return std::make_unique<PrimaryPackageFetchedEvent>(
             std::vector<FetchChunkStatistics>(1));
       },
       "18 00 00 00 02 00 00 00 00 02 02 00 00 00 00 00 00 00 00 00 00 00 00 "
       "00 00 00 00"},
  };
  for (const auto& c : kCases) {
    ResetStatsMessageSequenceForTesting();
    std::unique_ptr<AvroStatsMessage> message = c.make();
    EXPECT_EQ(Prefix() + " " + c.event + " 02 04 06 08 0A", Body(*message))
        << message->GetName();
  }
}

// The event's datum after a trip through the encoding.
std::unique_ptr<AvroDatum> RoundTrip(const AvroStatsMessage& message) {
  AvroDatum root(GetStatisticsSchema());
  message.FillDatum(&root);
  return AvroEncoder().Decode(GetStatisticsSchema(),
                              AvroEncoder().Encode(root));
}

// Member |name| of |record| as text as its schema types it, "null" when it
// or its union is absent.
std::string Member(AvroDatum* record, const std::string& name) {
  AvroDatum* value = record ? record->FieldByName(name) : nullptr;
  if (value && value->schema()->type() == AVRO_UNION)
    value = value->branch_index() == 1 ? value->GetBranch() : nullptr;
  if (!value)
    return "null";
  switch (value->schema()->type()) {
    case AVRO_BOOLEAN:
      return value->GetBool() ? "true" : "false";
    case AVRO_INT:
      return "int " + base::IntToString(value->GetInt());
    case AVRO_LONG:
      return "long " + base::Int64ToString(value->GetLong());
    case AVRO_STRING:
      return value->GetString();
    default:
      return "?";
  }
}

// Present members must reach the reader under their own names and types.
TEST_F(AvroEventsTest, EveryDetailMemberReadsBackByName) {
  FetchChunkStatistics chunk;
  chunk.chunk_start = 1LL << 40;
  chunk.chunk_number = 2;
  chunk.ip = "10.0.0.1";
  chunk.redirected_url = "http://r/";
  chunk.headers["Server"] = "s";
  chunk.headers["Age"] = "7";
  chunk.wininet_error = 12002;
  chunk.http_status = 206;
  chunk.retry_count = 3;
  chunk.chunk_end = (1LL << 40) + 5;
  chunk.chunk_end_time = kEventTime + 9;
  chunk.response_too_long = 11;
  chunk.proxy_login_needed = true;
  chunk.proxy_login_result = 4;
  chunk.null_request_context = true;
  std::unique_ptr<AvroDatum> fetched =
      RoundTrip(PrimaryPackageFetchedEvent({chunk}));
  ASSERT_TRUE(fetched);
  AvroDatum* chunks =
      fetched->FieldByPath("installer_event")->FieldByName("fetch_details");
  ASSERT_EQ(1u, chunks->branch_index());
  ASSERT_EQ(1u, chunks->GetBranch()->GetItemCount());
  AvroDatum* item = chunks->GetBranch()->GetChild(0);
  const std::vector<std::pair<const char*, std::string>> kChunk = {
      {"chunk_start", "long 1099511627776"},
      {"chunk_number", "int 2"},
      {"ip", "10.0.0.1"},
      {"redirected_url", "http://r/"},
      {"wininet_error", "int 12002"},
      {"http_status", "int 206"},
      {"retry_count", "int 3"},
      {"chunk_end", "long 1099511627781"},
      {"chunk_end_time", "long 1700000000009"},
      {"response_too_long", "long 11"},
      {"proxy_login_needed", "true"},
      {"proxy_login_result", "int 4"},
      {"null_request_context", "true"},
  };
  for (const auto& member : kChunk)
    EXPECT_EQ(member.second, Member(item, member.first)) << member.first;
  AvroDatum* headers = item->FieldByName("headers");
  ASSERT_EQ(2u, headers->map_entries().size());
  EXPECT_EQ("s", Member(headers, "Server"));
  EXPECT_EQ("7", Member(headers, "Age"));

  PageTransitionData page;
  page.page_type = 3;
  page.changed_make_default_browser_counter = 11;
  page.changed_import_data_counter = 12;
  page.changed_enable_stats_counter = 13;
  page.changed_delete_profile_counter = 14;
  page.changed_install_mode_counter = 15;
  page.changed_language_counter = 16;
  page.changed_install_path_counter = 17;
  page.edited_install_path_counter = 18;
  page.navigation_action = "next";
  page.failure_reason = "disk";
  page.error_displayed = "shown";
  std::unique_ptr<AvroDatum> transition = RoundTrip(PageTransitionEvent(page));
  ASSERT_TRUE(transition);
  AvroDatum* pages =
      transition->FieldByPath("installer_event.page_transitions");
  const std::vector<std::pair<const char*, std::string>> kPage = {
      {"page_type", "int 3"},
      {"changed_make_default_browser_counter", "int 11"},
      {"changed_import_data_counter", "int 12"},
      {"changed_enable_stats_counter", "int 13"},
      {"changed_delete_profile_counter", "int 14"},
      {"changed_install_mode_counter", "int 15"},
      {"changed_language_counter", "int 16"},
      {"changed_install_path_counter", "int 17"},
      {"edited_install_path_counter", "int 18"},
      {"navigation_action", "next"},
      {"failure_reason", "disk"},
      {"error_displayed", "shown"},
  };
  for (const auto& member : kPage)
    EXPECT_EQ(member.second, Member(pages, member.first)) << member.first;

  StatusData status;
  status.source = "primary";
  status.uuid = "u-1";
  status.tracking_data = "t=1";
  std::unique_ptr<AvroDatum> parsed = RoundTrip(StatusParsedEvent(status));
  ASSERT_TRUE(parsed);
  AvroDatum* data = parsed->FieldByPath("installer_event.status_data");
  EXPECT_EQ("primary", Member(data, "source"));
  EXPECT_EQ("u-1", Member(data, "uuid"));
  EXPECT_EQ("t=1", Member(data, "tracking_data"));
}

TEST_F(AvroEventsTest, ArchitectureOtherThanX64LeavesX86) {
  for (const char* architecture : {"", "arm64", "x86"}) {
    ControllerLaunchedDetails details;
    details.package_architecture = architecture;
    ControllerLaunchedEvent event(details);
    AvroDatum root(GetStatisticsSchema());
    event.FillDatum(&root);
    EXPECT_EQ(0u,
              root.FieldByPath("installer_event.controller_launched_details."
                               "package_architecture")
                  ->enum_index())
        << architecture;
  }
}

TEST_F(AvroEventsTest, RetriesKeepTheMessageButNotTheSendTime) {
  ErrorEvent event("e");
  AvroMessageSerializer serializer("g", "u", "1", "s", CampaignData());
  DiagnosticCounters counters;
  const std::string first = serializer.Serialize(event, counters);
  g_now = kEventTime + 1;
  counters.send_attempts_total = 1;
  const std::string second = serializer.Serialize(event, counters);
  ASSERT_NE(first, second);

  base::scoped_refptr<AvroSchema> schema = GetStatisticsSchema();
  ASSERT_EQ(std::string("\0\0\0\x01\x25", 5), first.substr(0, 5));
  std::unique_ptr<AvroDatum> a = AvroEncoder().Decode(schema, first.substr(5));
  std::unique_ptr<AvroDatum> b = AvroEncoder().Decode(schema, second.substr(5));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(kEventTime, a->FieldByPath("SentTimestamp")->GetLong());
  EXPECT_EQ(kEventTime + 1, b->FieldByPath("SentTimestamp")->GetLong());
  EXPECT_EQ(kEventTime, b->FieldByPath("EventTimestamp")->GetLong());
  EXPECT_EQ(1, b->FieldByPath("installer_event.diagnostic_data."
                              "send_attempts_total")
                   ->GetInt());
  // Put back the two values that may differ: the rest is the same.
  b->FieldByPath("SentTimestamp")->SetLong(kEventTime);
  b->FieldByPath("installer_event.diagnostic_data.send_attempts_total")
      ->SetInt(0);
  EXPECT_EQ(first.substr(5), AvroEncoder().Encode(*b));
  EXPECT_EQ("u",
            a->FieldByPath("identifiers.network_installer_id")->GetString());
}

TEST_F(AvroEventsTest, SequenceNumbersCountAcrossThreads) {
  class Maker : public base::SimpleThread {
   public:
    explicit Maker(uint32_t* number) : SimpleThread("stats"), number_(number) {}
    void Run() override { *number_ = PackageReadyEvent().sequence_number(); }

   private:
    uint32_t* const number_;
  };
  uint32_t numbers[3] = {};
  for (uint32_t& number : numbers) {
    Maker maker(&number);
    maker.Start();
    maker.Join();
  }
  EXPECT_EQ(1u, numbers[0]);
  EXPECT_EQ(2u, numbers[1]);
  EXPECT_EQ(3u, numbers[2]);
}

TEST(StatisticsSchemaTest, EmptyDatumAndSharedSchema) {
  base::scoped_refptr<AvroSchema> schema = GetStatisticsSchema();
  EXPECT_EQ(schema.get(), GetStatisticsSchema().get());
  EXPECT_EQ(kStatisticsSchemaId, schema->id());
  EXPECT_EQ(8u, schema->GetChildCount());
  const AvroSchema* event = schema->GetChild(7)->GetChild(1);
  ASSERT_EQ(12u, event->GetChildCount());
  EXPECT_EQ("diagnostic_data", event->GetFieldNames()[11]);
  EXPECT_EQ(AVRO_RECORD, event->GetChild(11)->type());

  AvroDatum root(schema);
  EXPECT_EQ("00 00 00 00 00 00 00 00",
            test::SpacedHex(AvroEncoder().Encode(root)));
  EXPECT_EQ("00 00 00 01 25 00 00 00 00 00 00 00 00",
            test::SpacedHex(AvroEncoder().EncodeWithSchemaId(root)));
}

// Names every record and enum of |schema| into |names|.
void CollectNames(const AvroSchema* schema, std::set<std::string>* names) {
  if (!schema)
    return;
  if (schema->type() == AVRO_RECORD || schema->type() == AVRO_ENUM)
    names->insert(schema->name());
  CollectNames(schema->GetItemsSchema(), names);
  if (schema->type() == AVRO_RECORD || schema->type() == AVRO_UNION) {
    for (size_t i = 0; i < schema->GetChildCount(); ++i)
      CollectNames(schema->GetChild(i), names);
  }
}

void CollectNames(const base::Value& json, std::set<std::string>* names) {
  if (json.is_list()) {
    for (const auto& item : json.list_storage())
      CollectNames(*item, names);
    return;
  }
  if (!json.is_dict())
    return;
  const base::Value* type = json.FindPath({"type"});
  const base::Value* name = json.FindPath({"name"});
  if (type && type->is_string() && name && name->is_string() &&
      (type->GetString() == "record" || type->GetString() == "enum")) {
    names->insert(name->GetString());
  }
  for (const auto& entry : json.dict_storage())
    CollectNames(*entry.second, names);
}

// Readers outside the process decode with the JSON form: it must name the
// same records and enums as the schema in code.
TEST(StatisticsSchemaTest, JsonNamesEveryRecordAndEnum) {
  std::unique_ptr<base::Value> json =
      base::JSONReader::Read(GetStatisticsSchemaJsonForTesting());
  ASSERT_TRUE(json);
  std::set<std::string> from_json;
  CollectNames(*json, &from_json);
  std::set<std::string> from_schema;
  CollectNames(GetStatisticsSchema().get(), &from_schema);
  EXPECT_EQ(17u, from_schema.size());
  EXPECT_EQ(from_schema, from_json);
  const base::Value* root_name = json->FindPath({"name"});
  ASSERT_TRUE(root_name && root_name->is_string());
  EXPECT_EQ("kavor_desktop_installer", root_name->GetString());
}

}  // namespace
}  // namespace installer
