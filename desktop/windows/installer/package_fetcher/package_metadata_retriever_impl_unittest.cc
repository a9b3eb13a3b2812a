#include "desktop/windows/installer/package_fetcher/package_metadata_retriever_impl.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/memory/scoped_refptr.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "crypto/sha2.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Response = base::LoopbackHttpServer::Response;

const char kUpperDigest[] =
    "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";
const char kDigest[] =
    "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";

struct NoUiRunner : UICallbackRunner {
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {}
};

// One component of a reply, as JSON.
std::string Component(const std::string& type,
                      const std::string& location,
                      const std::string& filename = std::string(),
                      const std::string& checksum = kDigest) {
  std::string json = "{\"type\": \"" + type + "\", \"location\": \"" +
                     location + "\", \"archive\": 0, \"checksum\": \"" +
                     checksum + "\"";
  if (!filename.empty())
    json += ", \"filename\": \"" + filename + "\"";
  return json + "}";
}

std::string FullPackage() {
  return "\"installer\": \"https://dl.kavor.example/full.exe\", "
         "\"installer_checksum\": \"" +
         std::string(kDigest) + "\"";
}

// Escapes backslashes for a JSON string.
std::string JsonText(std::string text) {
  for (size_t i = text.find('\\'); i != std::string::npos;
       i = text.find('\\', i + 2)) {
    text.insert(i, 1, '\\');
  }
  return text;
}

class PackageMetadataRetrieverImplTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    saved_command_line_ = *base::CommandLine::ForCurrentProcess();
    downloader_ = std::make_unique<WininetImpl>(&ui_runner_, nullptr);
  }
  void TearDown() override {
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  }

  void SetSwitch(const std::string& name, const std::wstring& value) {
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(name, value);
  }

  // Points the request at |target| of the loopback server.
  void ServeAt(const std::string& target) {
    SetSwitch("internal-package-server", server_.Url(target));
  }

  struct Result {
    bool called = false;
    std::unique_ptr<PackageMetadata> metadata;
    std::vector<FetchChunkStatistics> statistics;
    InstallerResult code = RESULT_SUCCESS;
    std::string message;
  };

  // Runs one request to its end; false when it did not start.
  bool Fetch(const std::vector<std::string>& files,
             Result* result,
             bool with_assistant = false,
             bool additional_files_only = false,
             const std::string& tracking = "utm_source=test") {
    PackageMetadataRetrieverImpl retriever(1);
    const bool started = retriever.Start(
        downloader_.get(), files, tracking, with_assistant,
        additional_files_only,
        base::BindOnce(
            [](Result* result, std::unique_ptr<PackageMetadata> metadata,
               std::vector<FetchChunkStatistics> statistics) {
              EXPECT_FALSE(result->called);
              result->called = true;
              result->metadata = std::move(metadata);
              result->statistics = std::move(statistics);
            },
            result));
    if (started)
      RunUntil([result] { return result->called; });
    GetLastInstallerError(&result->code, &result->message, nullptr);
    return started;
  }

  // Runs the owner thread until |done|, waiting for WinINet's posts.
  template <typename Done>
  void RunUntil(Done done) {
    while (!done()) {
      runner_->RunDueTasks();
      if (done())
        break;
      if (runner_->pending_count() != 0)
        runner_->FastForwardBy(base::TimeDelta::FromSeconds(6));
      else if (!runner_->WaitForPost())
        return;
    }
    runner_->RunUntilIdle();
  }

  base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  base::ThreadTaskRunnerHandle runner_handle_{runner_};
  ScopedInstallerErrorRecord error_record_;
  base::LoopbackHttpServer server_;
  base::CommandLine saved_command_line_{base::CommandLine::NO_PROGRAM};
  NoUiRunner ui_runner_;
  std::unique_ptr<WininetImpl> downloader_;
};

TEST_F(PackageMetadataRetrieverImplTest, UrlFollowsArchitectureFilesAndSwitch) {
  const std::string kService =
      "https://autoupdate.kavor.example/v2/netinstaller/developer";
  const struct {
    const wchar_t* server;  // null: no switch
    uint32_t x64;
    std::vector<std::string> files;
    std::string url;
  } kCases[] = {
      {nullptr, 0, {}, kService},
      {nullptr, 1, {}, kService + "/windows/x64"},
      {nullptr, 0, {"a", "b"}, kService + "?additional_files=a,b"},
      {nullptr, 1, {"a"}, kService + "/windows/x64?additional_files=a"},
      {L"",
       1,
       {"a", "b"},
       "http://packages.kavor.internal/v2/netinstaller/developer/windows/x64"
       "?additional_files=a,b"},
      {L"http://h.kavor.lan/p?build=7", 1, {"a", "b"},
       "http://h.kavor.lan/p?build=7&additional_files=a,b"},
      {L"http://h.kavor.lan/p", 0, {"a"},
       "http://h.kavor.lan/p?additional_files=a"},
      {L"http://h.kavor.lan/p?build=7", 1, {}, "http://h.kavor.lan/p?build=7"},
  };
  for (const auto& c : kCases) {
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    if (c.server)
      SetSwitch("internal-package-server", c.server);
    EXPECT_EQ(base::UTF8ToWide(c.url), GetPackageMetadataUrl(c.x64, c.files));
  }

  std::vector<std::wstring> domains =
      GetPackageMetadataAllowedDomains(".kavor.example");
  EXPECT_EQ(6u, domains.size());
  domains.insert(domains.begin(), L".other.example");
  EXPECT_EQ(domains, GetPackageMetadataAllowedDomains(".other.example"));
}

// The tracking data goes as the POST body; every field of the reply lands in
// the record.
TEST_F(PackageMetadataRetrieverImplTest, ParsesAFullReply) {
  server_.Serve(
      "/meta?b=1&additional_files=dict/en.bdic,gone.dat", 200,
      "{\"url_welcome\": \"https://www.kavor.example/welcome\", "
      "\"installer\": \"https://dl.kavor.example/full.exe\", "
      "\"installer_checksum\": \"" + std::string(kUpperDigest) +
          "\", \"minimal_installer\": \"https://dl.kavor.example/min.exe\", "
          "\"minimal_installer_checksum\": \"" + kDigest +
          "\", \"components\": [" +
          Component("downloadable_resource", "https://dl.kavor.example/en",
                    "dict/en.bdic") +
          ", " +
          Component("downloadable_resource", "https://dl.kavor.example/fr",
                    "dict/fr.bdic") +
          ", " +
          Component("partner_content", "http://partner.example/p.exe", "p.exe",
                    kUpperDigest) +
          ", " + Component("assistant", "https://dl.kavor.example/as.exe") +
          ", {\"type\": \"partner_content\", \"location\": "
          "\"https://dl.kavor.example/x\", \"archive\": 1, \"checksum\": \"" +
          kDigest + "\", \"filename\": \"sub/x.exe\"}]}");
  ServeAt("/meta?b=1");
  Result result;
  ASSERT_TRUE(Fetch({"dict/en.bdic", "gone.dat"}, &result));
  ASSERT_TRUE(result.metadata) << result.message;
  const PackageMetadata& metadata = *result.metadata;
  // Not every requested file is offered: the full package.
  EXPECT_FALSE(metadata.minimal);
  EXPECT_EQ(L"https://dl.kavor.example/full.exe", metadata.package_url);
  EXPECT_EQ(kDigest, metadata.package_checksum);
  std::string welcome;
  EXPECT_TRUE(metadata.reply->GetString("url_welcome", &welcome));
  ASSERT_EQ(3u, metadata.components.size());
  const AdditionalFile& resource = *metadata.components[0];
  EXPECT_EQ(L"https://dl.kavor.example/en", resource.location);
  EXPECT_EQ(L"dict/en.bdic", resource.file_name);
  EXPECT_EQ(ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, resource.kind);
  EXPECT_EQ(1u, resource.plain_file);
  EXPECT_EQ(1u, resource.remote);
  EXPECT_EQ(kDigest, resource.checksum);
  EXPECT_EQ(L"p.exe", metadata.components[1]->file_name);
  EXPECT_EQ(ADDITIONAL_FILE_PARTNER_CONTENT, metadata.components[1]->kind);
  EXPECT_EQ(kDigest, metadata.components[1]->checksum);
  EXPECT_EQ(L"sub/x.exe", metadata.components[2]->file_name);
  EXPECT_EQ(0u, metadata.components[2]->plain_file);

  const auto requests = server_.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("utm_source=test", requests[0].body);
  ASSERT_EQ(1u, result.statistics.size());
  EXPECT_EQ(std::optional<int32_t>(200), result.statistics[0].http_status);
}

// Which package and which components a reply gives for each request.
TEST_F(PackageMetadataRetrieverImplTest, ChoosesPackageAndComponents) {
  const std::string kMinimal =
      "\"minimal_installer\": \"https://dl.kavor.example/min.exe\", "
      "\"minimal_installer_checksum\": \"" +
      std::string(kUpperDigest) + "\"";
  const std::string kAssistant =
      Component("voice", "https://dl.kavor.example/as.exe");
  const std::string kResource =
      Component("downloadable_resource", "https://dl.kavor.example/a", "a");
  const struct {
    const char* name;
    std::string reply;
    std::vector<std::string> files;
    bool with_assistant;
    bool files_only;
    const wchar_t* package_url;
    bool minimal;
    std::vector<uint32_t> kinds;
  } kCases[] = {
      {"no_components", "{" + FullPackage() + "}", {}, false, false,
       L"https://dl.kavor.example/full.exe", false, {}},
      // Without requested files the minimal package is not considered.
      {"nothing_requested", "{" + FullPackage() + ", " + kMinimal + "}", {},
       false, false, L"https://dl.kavor.example/full.exe", false, {}},
      {"minimal", "{" + kMinimal + ", \"components\": [" + kResource + "]}",
       {"a"}, false, false, L"https://dl.kavor.example/min.exe", true, {1}},
      // No minimal package on offer: the full one, still minimal.
      {"minimal_not_offered",
       "{" + FullPackage() + ", \"components\": [" + kResource + "]}", {"a"},
       false, false, L"https://dl.kavor.example/full.exe", true, {1}},
      {"assistant", "{" + FullPackage() + ", \"components\": [" + kAssistant +
       "]}", {}, true, false, L"https://dl.kavor.example/full.exe", false, {0}},
      {"no_assistant", "{" + FullPackage() + ", \"components\": [" +
       kAssistant + "]}", {}, false, false,
       L"https://dl.kavor.example/full.exe", false, {}},
      // A local location counts only in test mode.
      {"local_skipped", "{" + FullPackage() + ", \"components\": [" +
       Component("downloadable_resource", "file:///C:/res/a", "a") + "]}",
       {"a"}, false, false, L"https://dl.kavor.example/full.exe", false, {}},
      {"files_only", "{\"components\": [" + kResource + "]}", {"a"}, false,
       true, L"", true, {1}},
      {"files_only_missing", "{}", {"a"}, false, true, L"", false, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string target = std::string("/") + c.name;
    server_.Serve(target + (c.files.empty() ? "" : "?additional_files=a"), 200,
                  c.reply);
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    ServeAt(target);
    Result result;
    ASSERT_TRUE(Fetch(c.files, &result, c.with_assistant, c.files_only));
    ASSERT_TRUE(result.metadata) << result.message;
    EXPECT_EQ(c.package_url, result.metadata->package_url);
    EXPECT_EQ(c.files_only ? "" : kDigest, result.metadata->package_checksum);
    EXPECT_EQ(c.minimal, result.metadata->minimal);
    std::vector<uint32_t> kinds;
    for (const auto& file : result.metadata->components)
      kinds.push_back(file->kind);
    EXPECT_EQ(c.kinds, kinds);
  }
}

// Each broken reply fails with its reason and the reply in the record, and
// hands on no record.
TEST_F(PackageMetadataRetrieverImplTest, BrokenRepliesFailWithTheirReason) {
  const std::string kDefinition = "\nCannot parse additional file definition";
  const std::string kMissing =
      "One of required fields is missing in json component definition" +
      kDefinition;
  const std::string kBadName =
      "Failed parsing additional file name in JSON reply" + kDefinition;
  auto with = [](const std::string& component) {
    return "{" + FullPackage() + ", \"components\": [" + component + "]}";
  };
  auto package = [](const std::string& url, const std::string& checksum) {
    return "{\"installer\": " + url + ", \"installer_checksum\": " + checksum +
           "}";
  };
  const std::string kQuotedDigest = std::string("\"") + kDigest + "\"";
  const struct {
    std::string reply;
    std::string reason;
  } kCases[] = {
      {"not json", "Invalid JSON"},
      {"", "Invalid JSON"},
      {"[1]", "Content is not a dictionary"},
      {with("1"), "One of received components is not a dictionary"},
      {with("{\"type\": \"assistant\", \"location\": \"https://a.example/\", "
            "\"archive\": 0}"),
       kMissing},
      {with("{\"type\": \"assistant\", \"location\": \"https://a.example/\", "
            "\"archive\": \"0\", \"checksum\": \"" +
            std::string(kDigest) + "\"}"),
       kMissing},
      {with(Component("partner_content", "https://a.example/")), kBadName},
      {with(Component("partner_content", "https://a.example/",
                      JsonText("..\\..\\Windows\\x.dll"))),
       kBadName},
      {with(Component("partner_content", "https://a.example/",
                      JsonText("C:\\x"))),
       kBadName},
      {with(Component("partner_content", "https://a.example/",
                      JsonText("\\\\host\\share\\x"))),
       kBadName},
      {with(Component("partner_content", "https://a.example/", "/x")),
       kBadName},
      {with(Component("partner_content", "https://a.example/", "a/../../b")),
       kBadName},
      {with(Component("partner_content", "not a url", "p")),
       "Additional file location is not a URL" + kDefinition},
      {with(Component("partner_content", "ftp://a.example/p", "p")),
       "Additional file location is not an http, https or file URL" +
           kDefinition},
      {with(Component("partner_content", "https://a.example/p", "p", "abc")),
       "Additional file checksum is not a SHA-256 digest" + kDefinition},
      {"{\"installer_checksum\": " + kQuotedDigest + "}",
       "Missing full package url"},
      {package("5", kQuotedDigest), "Full package url is not a string"},
      {package("\"file:///C:/Windows/evil.exe\"", kQuotedDigest),
       "Full package url is not an http or https URL"},
      {package("\"ftp://dl.kavor.example/full.exe\"", kQuotedDigest),
       "Full package url is not an http or https URL"},
      {"{\"installer\": \"https://dl.kavor.example/f\"}",
       "Missing full package checksum"},
      {package("\"https://dl.kavor.example/f\"", "[]"),
       "Full package checksum is not a string"},
      {package("\"https://dl.kavor.example/f\"", "\"abc\""),
       "Full package checksum is not a SHA-256 digest"},
      {package("\"https://dl.kavor.example/f\"",
               "\"" + std::string(kDigest).substr(1) + "g\""),
       "Full package checksum is not a SHA-256 digest"},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const auto& c = kCases[i];
    SCOPED_TRACE(c.reply);
    const std::string target = "/broken" + std::to_string(i);
    server_.Serve(target, 200, c.reply);
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    ServeAt(target);
    Result result;
    ASSERT_TRUE(Fetch({}, &result, true));
    EXPECT_TRUE(result.called);
    EXPECT_FALSE(result.metadata);
    EXPECT_EQ(1u, result.statistics.size());
    EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, result.code);
    EXPECT_EQ("Failed parsing json reply: " + c.reason + " " + c.reply,
              result.message);
  }
}

// Hostile sizes and depths end in a clear failure, and the record holds only
// the start of the reply.
TEST_F(PackageMetadataRetrieverImplTest, HugeAndDeepRepliesFail) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  server_.Serve("/deep", 200, deep);
  ServeAt("/deep");
  Result result;
  ASSERT_TRUE(Fetch({}, &result));
  EXPECT_FALSE(result.metadata);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, result.code);
  EXPECT_EQ("Failed parsing json reply: Invalid JSON " +
                deep.substr(0, PackageMetadataRetrieverImpl::kMaxReplyInError) +
                "...",
            result.message);

  // A multi-byte character at the cut is left out whole.
  const std::string wide =
      "{\"" + std::string(1021, 'x') + "\xC3\xA9 and more";
  server_.Serve("/wide", 200, wide);
  *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  ServeAt("/wide");
  Result cut;
  ASSERT_TRUE(Fetch({}, &cut));
  EXPECT_EQ("Failed parsing json reply: Invalid JSON " + wide.substr(0, 1023) +
                "...",
            cut.message);

  // Not held in memory beyond the cap: the download fails as it grows.
  std::string huge(50 << 20, ' ');
  huge.front() = '{';
  huge.back() = '}';
  server_.Serve("/huge", 200, huge);
  huge.clear();
  *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  ServeAt("/huge");
  Result too_long;
  ASSERT_TRUE(Fetch({}, &too_long));
  EXPECT_FALSE(too_long.metadata);
  EXPECT_EQ(RESULT_GENERAL_ERROR, too_long.code);
  EXPECT_EQ(
      "Failed writing the response with error 223\n"
      "Package metadata reply is longer than 4194304 bytes\n"
      "Package metadata download failed with state: *4*",
      too_long.message);
}

TEST_F(PackageMetadataRetrieverImplTest, DownloadFailuresAndRefusedHosts) {
  server_.Serve("/missing", 404, "gone");
  ServeAt("/missing");
  Result missing;
  ASSERT_TRUE(Fetch({}, &missing));
  EXPECT_FALSE(missing.metadata);
  EXPECT_EQ(1u, missing.statistics.size());
  EXPECT_EQ(RESULT_GENERAL_ERROR, missing.code);
  EXPECT_EQ(
      "Request completed with an unexpected HTTP status 404\n"
      "Package metadata download failed with state: *4*",
      missing.message);

  // "127.1" reaches the loopback server, yet is not an allowed host: a
  // request to it is refused before it goes out ...
  const std::string elsewhere =
      "http://127.1:" + std::to_string(server_.port()) + "/meta";
  server_.Serve("/meta", 200, "{" + FullPackage() + "}");
  *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  SetSwitch("internal-package-server", base::UTF8ToWide(elsewhere));
  Result refused;
  EXPECT_FALSE(Fetch({}, &refused));
  EXPECT_FALSE(refused.called);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, refused.code);
  EXPECT_EQ("Domain disallowed 127.1\nFailed starting fetching the download URL",
            refused.message);

  // ... and a redirect to it is not followed.
  server_.Redirect("/hop", elsewhere);
  *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  ServeAt("/hop");
  Result redirected;
  ASSERT_TRUE(Fetch({}, &redirected));
  EXPECT_FALSE(redirected.metadata);
  EXPECT_EQ(RESULT_GENERAL_ERROR, redirected.code);
  EXPECT_EQ("Redirect URL is disallowed " + elsewhere +
                "\nPackage metadata download failed with state: *4*",
            redirected.message);
  EXPECT_TRUE(server_.RequestsFor("/meta").empty());

  // Any host allowed, the same address is answered.
  std::string body;
  downloader_->SetAllowedDomains({});
  ASSERT_TRUE(downloader_->Start(
      base::UTF8ToWide(elsewhere), std::string(), base::BindRepeating([] {}),
      std::make_unique<StringResponseWriter>(&body),
      std::make_unique<RequestStatsCollector>()));
  RunUntil([this] {
    return downloader_->GetState() == WininetDownloader::STATE_COMPLETED ||
           downloader_->GetState() == WininetDownloader::STATE_FAILED;
  });
  EXPECT_EQ(1u, server_.RequestsFor("/meta").size());
}

// Files of the test resources folder that were asked for become local
// components, as do local locations in the reply.
TEST_F(PackageMetadataRetrieverImplTest, TestResourcesAreLocalComponents) {
  base::ScopedTempDir folder;
  ASSERT_TRUE(folder.CreateUniqueTempDir());
  ASSERT_TRUE(base::CreateDirectory(folder.GetPath().Append(L"sub")));
  const std::string content = base::LoopbackHttpServer::Bytes(100000);
  for (const wchar_t* name : {L"a.dat", L"sub\\b.dat", L"c.dat"})
    ASSERT_EQ(static_cast<int>(content.size()),
              base::WriteFile(folder.GetPath().Append(name), content.data(),
                              static_cast<int>(content.size())));
  const std::string digest =
      Sha256Hex(reinterpret_cast<const uint8_t*>(content.data()),
                content.size());
  const std::string query = "?additional_files=a.dat,sub/b.dat,r.dat";
  server_.Serve("/res" + query, 200,
                "{" + FullPackage() + ", \"components\": [" +
                    Component("downloadable_resource", "file:///C:/res/r.dat",
                              "r.dat") +
                    "]}");
  ServeAt("/res");
  SetSwitch("test-downloadable-resources-dir", folder.GetPath().value());
  Result result;
  // Either separator names a file in a sub-folder.
  ASSERT_TRUE(Fetch({"a.dat", "sub/b.dat", "r.dat"}, &result));
  ASSERT_TRUE(result.metadata) << result.message;
  EXPECT_TRUE(result.metadata->minimal);
  ASSERT_EQ(3u, result.metadata->components.size());
  EXPECT_EQ(L"file:///C:/res/r.dat", result.metadata->components[0]->location);
  EXPECT_EQ(0u, result.metadata->components[0]->remote);
  std::wstring root = folder.GetPath().value();
  std::replace(root.begin(), root.end(), L'\\', L'/');
  std::vector<std::wstring> names;
  for (size_t i = 1; i < 3; ++i) {
    const AdditionalFile& file = *result.metadata->components[i];
    names.push_back(file.file_name);
    std::wstring name = file.file_name;
    std::replace(name.begin(), name.end(), L'\\', L'/');
    EXPECT_EQ(L"file:///" + root + L"/" + name, file.location);
    EXPECT_EQ(digest, file.checksum);
    EXPECT_EQ(0u, file.remote);
    EXPECT_EQ(1u, file.plain_file);
    EXPECT_EQ(ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, file.kind);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::wstring>{L"a.dat", L"sub/b.dat"}), names);
}

// A cancelled request never answers, and the retriever may go before the
// download ends.
TEST_F(PackageMetadataRetrieverImplTest, CancelDropsTheReply) {
  Response slow;
  slow.body = "{" + FullPackage() + "}" + std::string(200000, ' ');
  slow.trickle_bytes = 20000;
  slow.trickle_pause_ms = 5;
  server_.Script("/slow", {slow});
  ServeAt("/slow");
  bool called = false;
  auto retriever = std::make_unique<PackageMetadataRetrieverImpl>(0);
  ASSERT_TRUE(retriever->Start(
      downloader_.get(), {}, std::string(), false, false,
      base::BindOnce([](bool* called, std::unique_ptr<PackageMetadata>,
                        std::vector<FetchChunkStatistics>) { *called = true; },
                     &called)));
  retriever->Cancel();
  retriever.reset();
  RunUntil([this] {
    return downloader_->GetState() == WininetDownloader::STATE_COMPLETED ||
           downloader_->GetState() == WininetDownloader::STATE_FAILED;
  });
  EXPECT_EQ(WininetDownloader::STATE_COMPLETED, downloader_->GetState());
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace installer
