#include "desktop/windows/installer/package_fetcher/package_metadata_retriever_impl.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const std::string kDigest(64, 'a');
const std::string kUpper(64, 'A');

// JSON written with ' for ", and $D for a digest.
std::string J(std::string text) {
  std::replace(text.begin(), text.end(), '\'', '"');
  for (size_t i = text.find("$D"); i != std::string::npos; i = text.find("$D"))
    text.replace(i, 2, kDigest);
  return text;
}

std::string Item(const std::string& type,
                 const std::string& location,
                 const std::string& name = "",
                 const std::string& checksum = "$D") {
  return J("{'type': '" + type + "', 'location': '" + location +
           "', 'archive': 0, 'checksum': '" + checksum + "'" +
           (name.empty() ? "" : ", 'filename': '" + name + "'") + "}");
}

const std::string kFull =
    J("'installer': 'https://dl.kavor.example/f', 'installer_checksum': '$D'");

struct NoUiRunner : UICallbackRunner {
  void RunUICallbackAndPostReply(
      UICallback,
      base::scoped_refptr<base::SingleThreadTaskRunner>,
      Reply) override {}
};

class PackageMetadataRetrieverImplTest : public testing::Test {
 protected:
  struct Result {
    bool started = false;
    bool called = false;
    std::unique_ptr<PackageMetadata> metadata;
    std::vector<FetchChunkStatistics> statistics;
    InstallerResult code = RESULT_SUCCESS;
    std::string message;
  };

  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  void TearDown() override { *base::CommandLine::ForCurrentProcess() = saved_; }

  void SetServer(const std::wstring& url) {
    *base::CommandLine::ForCurrentProcess() = saved_;
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
        "internal-package-server", url);
  }

  // Serves |reply| at |target| (when given) and asks there.
  Result Fetch(const std::string& target,
               const std::string& reply,
               const std::vector<std::string>& files = {},
               bool with_assistant = false,
               bool files_only = false) {
    if (!reply.empty())
      server_.Serve(target, 200, reply);
    return FetchFrom(server_.Url(target.substr(0, target.find("additional"))),
                     files, with_assistant, files_only);
  }

  Result FetchFrom(std::wstring url,
                   const std::vector<std::string>& files,
                   bool with_assistant = false,
                   bool files_only = false) {
    if (url.back() == L'?' || url.back() == L'&')
      url.pop_back();
    SetServer(url);
    if (!resources_.empty()) {
      base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
          "test-downloadable-resources-dir", resources_);
    }
    Result result;
    PackageMetadataRetrieverImpl retriever(1);
    result.started = retriever.Start(
        &downloader_, files, "utm_source=test", with_assistant, files_only,
        base::BindOnce(
            [](Result* result, std::unique_ptr<PackageMetadata> metadata,
               std::vector<FetchChunkStatistics> statistics) {
              EXPECT_FALSE(result->called);
              result->called = true;
              result->metadata = std::move(metadata);
              result->statistics = std::move(statistics);
            },
            &result));
    if (result.started)
      RunUntil([&result] { return result.called; });
    GetLastInstallerError(&result.code, &result.message, nullptr);
    return result;
  }

  template <typename Done>
  void RunUntil(Done done) {
    while (!done()) {
      runner_->RunDueTasks();
      if (done())
        break;
      // Over a retry's pause, else waiting for WinINet.
      if (runner_->pending_count() != 0)
        runner_->FastForwardBy(base::TimeDelta::FromSeconds(6));
      else if (!runner_->WaitForPost())
        return;
    }
    runner_->RunUntilIdle();
  }

  const base::CommandLine saved_ = *base::CommandLine::ForCurrentProcess();
  base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  base::ThreadTaskRunnerHandle runner_handle_{runner_};
  ScopedInstallerErrorRecord error_record_;
  base::LoopbackHttpServer server_;
  NoUiRunner ui_runner_;
  // The test resources folder to name, if any.
  std::wstring resources_;
  WininetImpl downloader_{&ui_runner_, nullptr};
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
       0,
       {"a"},
       "http://packages.kavor.internal/v2/netinstaller/developer"
       "?additional_files=a"},
      {L"http://h/p?b=7", 1, {"a", "b"}, "http://h/p?b=7&additional_files=a,b"},
      {L"http://h/p", 1, {"a"}, "http://h/p?additional_files=a"},
  };
  for (const auto& c : kCases) {
    *base::CommandLine::ForCurrentProcess() = saved_;
    if (c.server)
      SetServer(c.server);
    EXPECT_EQ(base::UTF8ToWide(c.url), GetPackageMetadataUrl(c.x64, c.files));
  }
  std::vector<std::wstring> domains =
      GetPackageMetadataAllowedDomains(".kavor.example");
  EXPECT_EQ(6u, domains.size());
  domains.insert(domains.begin(), L".other.example");
  EXPECT_EQ(domains, GetPackageMetadataAllowedDomains(".other.example"));
}

// The tracking data is the POST body; every field lands in the record.
TEST_F(PackageMetadataRetrieverImplTest, ParsesAFullReply) {
  const Result result = Fetch(
      "/m?b=1&additional_files=d/en.bdic,gone",
      J("{'url_welcome': 'https://w/', 'installer': 'https://dl/full', "
        "'installer_checksum': '" +
        kUpper +
        "', 'minimal_installer': 'x', "
        "'minimal_installer_checksum': '$D', 'components': [") +
          Item("downloadable_resource", "https://dl/en", "d/en.bdic") + "," +
          Item("downloadable_resource", "https://dl/fr", "d/fr.bdic") + "," +
          Item("partner_content", "http://p/p.exe", "p.exe", kUpper) + "," +
          Item("assistant", "https://dl/as") + "]}",
      {"d/en.bdic", "gone"});
  ASSERT_TRUE(result.metadata) << result.message;
  const PackageMetadata& metadata = *result.metadata;
  // "gone" is not offered: the full package.
  EXPECT_FALSE(metadata.minimal);
  EXPECT_EQ(L"https://dl/full", metadata.package_url);
  EXPECT_EQ(kDigest, metadata.package_checksum);
  EXPECT_TRUE(metadata.reply->HasKey("url_welcome"));
  ASSERT_EQ(2u, metadata.components.size());
  const AdditionalFile& resource = *metadata.components[0];
  EXPECT_EQ(L"https://dl/en", resource.location);
  EXPECT_EQ(L"d/en.bdic", resource.file_name);
  EXPECT_EQ(ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, resource.kind);
  EXPECT_EQ(1u, resource.plain_file);
  EXPECT_EQ(1u, resource.remote);
  EXPECT_EQ(kDigest, metadata.components[1]->checksum);
  EXPECT_EQ(ADDITIONAL_FILE_PARTNER_CONTENT, metadata.components[1]->kind);
  const auto requests = server_.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST utm_source=test",
            requests[0].method + " " + requests[0].body);
  ASSERT_EQ(1u, result.statistics.size());
  EXPECT_EQ(200, result.statistics[0].http_status.value_or(0));
}

// Which package and which components each request gets.
TEST_F(PackageMetadataRetrieverImplTest, ChoosesPackageAndComponents) {
  const std::string kMinimal =
      J("'minimal_installer': 'https://dl/min', "
        "'minimal_installer_checksum': '" +
        kUpper + "'");
  const std::string kA = Item("downloadable_resource", "https://dl/a", "a");
  auto with = [](const std::string& fields, const std::string& item) {
    return "{" + fields + ", \"components\": [" + item + "]}";
  };
  const std::wstring kFullUrl = L"https://dl.kavor.example/f";
  const struct {
    std::string reply;
    std::vector<std::string> files;
    bool assistant, files_only;
    std::wstring package;
    bool minimal;
    std::vector<uint32_t> kinds;
  } kCases[] = {
      {"{" + kFull + "}", {}, false, false, kFullUrl, false, {}},
      // Nothing requested: the minimal package is not considered.
      {"{" + kFull + ", " + kMinimal + "}", {}, false, false, kFullUrl, false},
      {with(kMinimal, kA), {"a"}, false, false, L"https://dl/min", true, {1}},
      // No minimal package on offer: the full one.
      {with(kFull, kA), {"a"}, false, false, kFullUrl, true, {1}},
      {with(kFull, Item("voice", "https://dl/v")),
       {},
       true,
       false,
       kFullUrl,
       false,
       {0}},
      {with(kFull, Item("voice", "https://dl/v")),
       {},
       false,
       false,
       kFullUrl,
       false,
       {}},
      // A local location counts only in test mode.
      {with(kFull, Item("downloadable_resource", "file:///C:/r/a", "a")),
       {"a"},
       false,
       false,
       kFullUrl,
       false,
       {}},
      {with("\"x\": 1", kA), {"a"}, false, true, L"", true, {1}},
      {"{}", {"a"}, false, true, L"", false, {}},
  };
  int i = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reply);
    const std::string target = "/c" + std::to_string(i++) +
                               (c.files.empty() ? "" : "?additional_files=a");
    const Result result =
        Fetch(target, c.reply, c.files, c.assistant, c.files_only);
    ASSERT_TRUE(result.metadata) << result.message;
    EXPECT_EQ(c.package, result.metadata->package_url);
    EXPECT_EQ(c.files_only ? "" : kDigest, result.metadata->package_checksum);
    EXPECT_EQ(c.minimal, result.metadata->minimal);
    std::vector<uint32_t> kinds;
    for (const auto& file : result.metadata->components)
      kinds.push_back(file->kind);
    EXPECT_EQ(c.kinds, kinds);
  }
}

// A broken reply fails with its reason and the reply in the record.
TEST_F(PackageMetadataRetrieverImplTest, BrokenRepliesFailWithTheirReason) {
  const std::string kItem = "\nCannot parse additional file definition";
  const std::string kMissing =
      "One of required fields is missing in json component definition" + kItem;
  const std::string kName =
      "Failed parsing additional file name in JSON reply" + kItem;
  auto with = [](const std::string& item) {
    return "{" + kFull + ", \"components\": [" + item + "]}";
  };
  auto named = [&with](const std::string& name) {
    return with(Item("partner_content", "https://a/", name));
  };
  auto full = [](const std::string& url, const std::string& checksum) {
    return J("{'installer': " + url + ", 'installer_checksum': " + checksum +
             "}");
  };
  const struct {
    std::string reply, reason;
  } kCases[] = {
      {"not json", "Invalid JSON"},
      {"", "Invalid JSON"},
      {"[1]", "Content is not a dictionary"},
      {with("1"), "One of received components is not a dictionary"},
      {with(J("{'type': 'x', 'location': 'https://a/', 'archive': 0}")),
       kMissing},
      {with(J("{'type': 'x', 'location': 'https://a/', 'archive': '0', "
              "'checksum': '$D'}")),
       kMissing},
      {with(Item("partner_content", "https://a/")), kName},
      {named("..\\\\..\\\\Windows\\\\x.dll"), kName},
      {named("C:\\\\x"), kName},
      {named("\\\\\\\\host\\\\share\\\\x"), kName},
      {named("/x"), kName},
      {named("a/../../b"), kName},
      {with(Item("voice", "not a url")),
       "Additional file location is not a URL" + kItem},
      {with(Item("voice", "ftp://a/p")),
       "Additional file location is not an http, https or file URL" + kItem},
      {with(Item("voice", "https://a/p", "", "abc")),
       "Additional file checksum is not a SHA-256 digest" + kItem},
      {J("{'installer_checksum': '$D'}"), "Missing full package url"},
      {full("5", "'$D'"), "Full package url is not a string"},
      {full("'file:///C:/evil.exe'", "'$D'"),
       "Full package url is not an http or https URL"},
      {full("'ftp://dl/f'", "'$D'"),
       "Full package url is not an http or https URL"},
      {J("{'installer': 'https://dl/f'}"), "Missing full package checksum"},
      {full("'https://dl/f'", "[]"), "Full package checksum is not a string"},
      {full("'https://dl/f'", "'abc'"),
       "Full package checksum is not a SHA-256 digest"},
      {full("'https://dl/f'", "'" + kDigest.substr(1) + "g'"),
       "Full package checksum is not a SHA-256 digest"},
  };
  int i = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reply);
    const std::string target = "/b" + std::to_string(i++);
    server_.Serve(target, 200, c.reply);
    const Result result = Fetch(target, "", {}, true);
    EXPECT_TRUE(result.called);
    EXPECT_FALSE(result.metadata);
    EXPECT_EQ(1u, result.statistics.size());
    EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, result.code);
    EXPECT_EQ("Failed parsing json reply: " + c.reason + " " + c.reply,
              result.message);
  }
}

// Hostile sizes and depths fail clearly; the record keeps the reply's start.
TEST_F(PackageMetadataRetrieverImplTest, HugeAndDeepRepliesFail) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(
      "Failed parsing json reply: Invalid JSON " + deep.substr(0, 1024) + "...",
      Fetch("/deep", deep).message);
  // A character cut by the limit is left out whole.
  const std::string wide = "{'" + std::string(1021, 'x') + "\xC3\xA9 more";
  EXPECT_EQ(
      "Failed parsing json reply: Invalid JSON " + wide.substr(0, 1023) + "...",
      Fetch("/wide", wide).message);

  // Not held beyond the cap: the download fails as the reply grows.
  std::string huge(50 << 20, ' ');
  huge.front() = '{';
  huge.back() = '}';
  const Result result = Fetch("/huge", huge);
  EXPECT_FALSE(result.metadata);
  EXPECT_EQ(RESULT_GENERAL_ERROR, result.code);
  EXPECT_EQ(
      "Failed writing the response with error 223\n"
      "Package metadata reply is longer than 4194304 bytes\n"
      "Package metadata download failed with state: *4*",
      result.message);
}

TEST_F(PackageMetadataRetrieverImplTest, DownloadFailuresAndRefusedHosts) {
  server_.Serve("/missing", 404, "gone");
  const Result missing = Fetch("/missing", "");
  EXPECT_TRUE(missing.called);
  EXPECT_FALSE(missing.metadata);
  EXPECT_EQ(RESULT_GENERAL_ERROR, missing.code);
  EXPECT_EQ(
      "Request completed with an unexpected HTTP status 404\n"
      "Package metadata download failed with state: *4*",
      missing.message);

  // "127.1" is the loopback server too, but no allowed host: neither a
  // request nor a redirect goes there.
  const std::string elsewhere =
      "http://127.1:" + std::to_string(server_.port()) + "/meta";
  server_.Serve("/meta", 200, "{" + kFull + "}");
  const Result refused = FetchFrom(base::UTF8ToWide(elsewhere), {});
  EXPECT_FALSE(refused.started);
  EXPECT_FALSE(refused.called);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, refused.code);
  EXPECT_EQ(
      "Domain disallowed 127.1\nFailed starting fetching the download URL",
      refused.message);

  server_.Redirect("/hop", elsewhere);
  const Result redirected = Fetch("/hop", "");
  EXPECT_FALSE(redirected.metadata);
  EXPECT_EQ(RESULT_GENERAL_ERROR, redirected.code);
  EXPECT_EQ("Redirect URL is disallowed " + elsewhere +
                "\nPackage metadata download failed with state: *4*",
            redirected.message);
  EXPECT_TRUE(server_.RequestsFor("/meta").empty());
}

// Requested files of the test resources folder become local components, as
// do local locations of the reply.
TEST_F(PackageMetadataRetrieverImplTest, TestResourcesAreLocalComponents) {
  base::ScopedTempDir folder;
  ASSERT_TRUE(folder.CreateUniqueTempDir());
  ASSERT_TRUE(base::CreateDirectory(folder.GetPath().Append(L"sub")));
  const std::string content = base::LoopbackHttpServer::Bytes(100000);
  for (const wchar_t* name : {L"a.dat", L"sub\\b.dat", L"c.dat"}) {
    ASSERT_EQ(100000, base::WriteFile(folder.GetPath().Append(name),
                                      content.data(), 100000));
  }
  const std::string digest =
      Sha256Hex(reinterpret_cast<const uint8_t*>(content.data()), 100000);
  resources_ = folder.GetPath().value();
  // Either separator names a file in a sub-folder.
  const Result result = Fetch(
      "/r?additional_files=a.dat,sub/b.dat,r.dat",
      "{" + kFull + ", \"components\": [" +
          Item("downloadable_resource", "file:///C:/r.dat", "r.dat") + "]}",
      {"a.dat", "sub/b.dat", "r.dat"});
  ASSERT_TRUE(result.metadata);
  EXPECT_TRUE(result.metadata->minimal);
  ASSERT_EQ(3u, result.metadata->components.size());
  EXPECT_EQ(0u, result.metadata->components[0]->remote);
  std::wstring root = folder.GetPath().value();
  std::replace(root.begin(), root.end(), L'\\', L'/');
  std::vector<std::wstring> names;
  for (size_t i = 1; i < 3; ++i) {
    const AdditionalFile& file = *result.metadata->components[i];
    names.push_back(file.file_name);
    EXPECT_EQ(L"file:///" + root + L"/" + file.file_name, file.location);
    EXPECT_EQ(digest, file.checksum);
    EXPECT_EQ(0u, file.remote);
    EXPECT_EQ(ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, file.kind);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::wstring>{L"a.dat", L"sub/b.dat"}), names);
}

// A cancelled request never answers, even when the retriever goes first.
TEST_F(PackageMetadataRetrieverImplTest, CancelDropsTheReply) {
  base::LoopbackHttpServer::Response slow;
  slow.body = "{" + kFull + "}" + std::string(200000, ' ');
  slow.trickle_bytes = 20000;
  slow.trickle_pause_ms = 5;
  server_.Script("/slow", {slow});
  SetServer(server_.Url("/slow"));
  bool called = false;
  auto retriever = std::make_unique<PackageMetadataRetrieverImpl>(0);
  ASSERT_TRUE(retriever->Start(
      &downloader_, {}, "", false, false,
      base::BindOnce([](bool* called, std::unique_ptr<PackageMetadata>,
                        std::vector<FetchChunkStatistics>) { *called = true; },
                     &called)));
  retriever->Cancel();
  retriever.reset();
  RunUntil([this] {
    return downloader_.GetState() >= WininetDownloader::STATE_FAILED;
  });
  EXPECT_EQ(WininetDownloader::STATE_COMPLETED, downloader_.GetState());
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace installer
