#include "desktop/windows/installer/package_fetcher/package_metadata_retriever_impl.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"
#include "desktop/windows/installer/utils/display_scales.h"
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

// Each component as "<kind><plain><remote> <name> <location>".
std::vector<std::string> Components(const PackageMetadata& metadata) {
  std::vector<std::string> lines;
  for (const auto& file : metadata.components) {
    lines.push_back(base::StringPrintf(
        "%u%u%u %s %s", file->kind, file->plain_file, file->remote,
        base::WideToUTF8(file->file_name).c_str(),
        base::WideToUTF8(file->location).c_str()));
  }
  return lines;
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
  static constexpr size_t npos = std::string::npos;
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

  // Serves |reply| at |target| (when given) and asks there for |files|;
  // |options| may hold 'a' (with the assistant) and 'f' (files only).
  Result Fetch(const std::string& target,
               const std::string& reply,
               const std::vector<std::string>& files = {},
               const std::string& options = "") {
    if (!reply.empty())
      server_.Serve(target, 200, reply);
    return FetchFrom(server_.Url(target.substr(0, target.find('?'))), files,
                     options);
  }

  Result FetchFrom(const std::wstring& url,
                   const std::vector<std::string>& files,
                   const std::string& options = "") {
    SetServer(url);
    if (!resources_.empty()) {
      base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
          "test-downloadable-resources-dir", resources_);
    }
    Result result;
    PackageMetadataRetrieverImpl retriever(1);
    result.started = retriever.Start(&downloader_, files, "utm_source=test",
                                     options.find('a') != npos,
                                     options.find('f') != npos, Into(&result));
    if (result.started)
      RunUntil([&result] { return result.called; });
    GetLastInstallerError(&result.code, &result.message, nullptr);
    return result;
  }

  static PackageMetadataRetriever::ReplyCallback Into(Result* result) {
    return base::BindOnce(
        [](Result* result, std::unique_ptr<PackageMetadata> metadata,
           std::vector<FetchChunkStatistics> statistics) {
          EXPECT_FALSE(result->called);
          result->called = true;
          result->metadata = std::move(metadata);
          result->statistics = std::move(statistics);
        },
        result);
  }

  // Retry pauses posted so far.
  size_t RetryPauses() const {
    size_t pauses = 0;
    for (const auto& post : runner_->posts())
      pauses += post.delay == base::TimeDelta::FromSeconds(6);
    return pauses;
  }

  // Whether downloader_, after a metadata request, keeps trying a server
  // that takes no connection beyond the request's own few tries, as what
  // follows on it (a package, the components) must.
  bool RetriesLikeAPackageDownload() {
    std::wstring closed;
    {
      base::LoopbackHttpServer gone;
      EXPECT_TRUE(gone.Start());
      closed = gone.Url("/package");
    }
    const size_t before = RetryPauses();
    std::string out;
    downloader_.SetAllowedDomains({});
    EXPECT_TRUE(downloader_.Start(closed, "", base::BindRepeating([] {}),
                                  std::make_unique<StringResponseWriter>(&out),
                                  std::make_unique<RequestStatsCollector>()));
    RunUntil([this, before] {
      return RetryPauses() > before + 3 ||
             downloader_.GetState() == WininetDownloader::STATE_FAILED;
    });
    const bool retrying =
        downloader_.GetState() != WininetDownloader::STATE_FAILED;
    downloader_.Stop();
    return retrying;
  }

  // Runs WinINet's reports as they come; a retry's delay passes at once.
  template <typename Done>
  void RunUntil(Done done) {
    while (!done()) {
      runner_->RunDueTasks();
      if (done())
        break;
      if (runner_->pending_count() > 0)
        runner_->FastForwardBy(base::TimeDelta::FromSeconds(6));
      else if (!runner_->WaitForPost())
        break;
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
      {nullptr, 1, {"a", "b"}, kService + "/windows/x64?additional_files=a,b"},
      {L"", 0, {}, "http://packages.kavor.internal/v2/netinstaller/developer"},
      {L"http://h/p?b=7", 1, {"a", "b"}, "http://h/p?b=7&additional_files=a,b"},
  };
  for (const auto& c : kCases) {
    *base::CommandLine::ForCurrentProcess() = saved_;
    if (c.server)
      SetServer(c.server);
    EXPECT_EQ(base::UTF8ToWide(c.url), GetPackageMetadataUrl(c.x64, c.files));
  }
  // The company's own suffix comes first, when it is not the maker's.
  std::vector<std::wstring> domains =
      GetPackageMetadataAllowedDomains(".kavor.example");
  domains.insert(domains.begin(), L".other.example");
  EXPECT_EQ(domains, GetPackageMetadataAllowedDomains(".other.example"));
}

// Which package and which components each request gets; the tracking data
// is the POST body, digests come in lower case.
TEST_F(PackageMetadataRetrieverImplTest, ChoosesPackageAndComponents) {
  const std::string kMinimal =
      J("'minimal_installer': 'https://dl/min', "
        "'minimal_installer_checksum': '" +
        kUpper + "'");
  const std::string kA = Item("downloadable_resource", "https://dl/a", "a");
  const std::string kVoice = Item("voice", "https://dl/v");
  auto with = [](const std::string& fields, const std::string& items = "") {
    return "{" + fields + ", \"components\": [" + items + "]}";
  };
  const std::wstring kFullUrl = L"https://dl.kavor.example/f";
  const std::wstring kMinUrl = L"https://dl/min";
  const std::string kOut = "111 a https://dl/a";
  const std::string kLocal = Item("downloadable_resource", "file:///C:/a", "a");
  const std::string kMixed =
      kA + "," + Item("downloadable_resource", "https://dl/x", "..\\\\x.dll") +
      "," + Item("partner_content", "http://p/p", "p.exe", kUpper) + "," +
      kVoice;
  const struct {
    std::string reply;
    std::vector<std::string> files;
    std::string options;
    std::wstring package;
    bool minimal;
    std::vector<std::string> components;
  } kCases[] = {
      // "gone" is not offered: the full package. A resource nobody asked
      // for is dropped unread, whatever its name.
      {with(kFull + ", " + kMinimal, kMixed),
       {"a", "gone"},
       "",
       kFullUrl,
       false,
       {kOut, "211 p.exe http://p/p"}},
      // Nothing requested: the minimal package is not considered.
      {with(kFull + ", " + kMinimal), {}, "", kFullUrl, false, {}},
      {with(kMinimal, kA), {"a"}, "", kMinUrl, true, {kOut}},
      // No minimal package on offer: the full one.
      {with(kFull, kA), {"a"}, "", kFullUrl, true, {kOut}},
      {with(kFull, kVoice), {}, "a", kFullUrl, false, {"011  https://dl/v"}},
      // A local location counts only in test mode.
      {with(kFull, kLocal), {"a"}, "", kFullUrl, false, {}},
      {with("\"x\": 1", kA), {"a"}, "f", L"", true, {kOut}},
      {"{}", {"a"}, "f", L"", false, {}},
  };
  int i = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reply);
    const std::string target = "/c" + std::to_string(i++) +
                               (c.files.empty() ? "" : "?additional_files=");
    const Result result = Fetch(target + base::JoinString(c.files, ","),
                                c.reply, c.files, c.options);
    ASSERT_TRUE(result.metadata) << result.message;
    EXPECT_EQ(c.package, result.metadata->package_url);
    EXPECT_EQ(c.options == "f" ? "" : kDigest,
              result.metadata->package_checksum);
    EXPECT_EQ(c.minimal, result.metadata->minimal);
    EXPECT_EQ(c.components, Components(*result.metadata));
    for (const auto& file : result.metadata->components)
      EXPECT_EQ(kDigest, file->checksum);
    EXPECT_EQ(c.reply.size() > 2, !result.metadata->reply->empty());
    const auto request = server_.requests().back();
    EXPECT_EQ("POST utm_source=test", request.method + " " + request.body);
    ASSERT_EQ(1u, result.statistics.size());
    EXPECT_EQ(200, result.statistics[0].http_status.value_or(0));
  }
  // The last request asked for the components only, which come next on the
  // same downloader: no package download is there to restore its patience.
  EXPECT_TRUE(RetriesLikeAPackageDownload());
}

// The repair of an installation that lacks every downloadable resource
// asks for all of them in one request, the longest URL the installer makes:
// the service gets every name, in the table's order, and the reply's
// components for all of them are taken.
TEST_F(PackageMetadataRetrieverImplTest, AsksForEveryMissingResource) {
  base::ScopedTempDir empty;
  ASSERT_TRUE(empty.CreateUniqueTempDir());
  const std::vector<std::string> missing =
      ListMissingDownloadableResources(empty.GetPath());
  ASSERT_EQ(kDownloadableResourceCount, missing.size());
  std::vector<std::string> table;
  for (size_t i = 0; i < kDownloadableResourceCount; ++i)
    table.push_back(DecodeResourcePath(GetDownloadableResources()[i]));
  ASSERT_EQ(table, missing);

  // The request to the service itself fits.
  EXPECT_LE(GetPackageMetadataUrl(1, missing).size(),
            WininetImpl::kMaxUrlLength);

  // Served where the service's own path would be, so that the request is
  // as long as the real one.
  const std::string kPath = "/v2/netinstaller/developer/windows/x64";
  const std::string target =
      kPath + "?additional_files=" + base::JoinString(missing, ",");
  std::string items;
  std::vector<std::string> expected;
  for (const std::string& name : missing) {
    const std::string location = "https://dl.kavor.example/r/" + name;
    items += (items.empty() ? "" : ",") +
             Item("downloadable_resource", location, name);
    expected.push_back("111 " + name + " " + location);
  }
  const Result result =
      Fetch(target, "{\"components\": [" + items + "]}", missing, "f");
  ASSERT_TRUE(result.started) << result.message;
  const std::vector<base::LoopbackHttpServer::Request> requests =
      server_.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(target, requests[0].target);
  ASSERT_TRUE(result.metadata) << result.message;
  EXPECT_TRUE(result.metadata->minimal);
  EXPECT_EQ(expected, Components(*result.metadata));
}

// A broken reply fails with its reason and the reply in the record.
TEST_F(PackageMetadataRetrieverImplTest, BrokenRepliesFailWithTheirReason) {
  const std::string kItem = "\nCannot parse additional file definition";
  const std::string kName =
      "Failed parsing additional file name in JSON reply" + kItem;
  auto with = [](const std::string& item) {
    return "{" + kFull + ", \"components\": [" + item + "]}";
  };
  auto full = [](const std::string& url, const std::string& checksum) {
    return J("{'installer': " + url + ", 'installer_checksum': " + checksum +
             "}");
  };
  const struct {
    std::string reply, reason;
  } kCases[] = {
      {"not json", "Invalid JSON"},
      {"[1]", "Content is not a dictionary"},
      {with("1"), "One of received components is not a dictionary"},
      {with(J("{'type': 'x', 'location': 'https://a/', 'archive': '0', "
              "'checksum': '$D'}")),
       "One of required fields is missing in json component definition" +
           kItem},
      {with(Item("partner_content", "https://a/")), kName},
      // Kept components must stay inside the package folder.
      {with(Item("partner_content", "https://a/", "a/../../b")), kName},
      {with(Item("downloadable_resource", "https://a/", "x:y")), kName},
      {with(Item("partner_content", "https://a/", "conin$")), kName},
      {with(Item("partner_content", "https://a/", "sub/CONOUT$.txt")), kName},
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
      // Addresses the platform's cracker would fail on.
      {full("'file:///C:/" + std::string(400, 'a') + "'", "'$D'"),
       "Full package url is not an http or https URL"},
      {full("'https\\n://dl/f'", "'$D'"),
       "Full package url is not an http or https URL"},
      {J("{'installer': 'https://dl/f'}"), "Missing full package checksum"},
      {full("'https://dl/f'", "[]"), "Full package checksum is not a string"},
      {full("'https://dl/f'", "'" + kDigest.substr(1) + "g'"),
       "Full package checksum is not a SHA-256 digest"},
  };
  int i = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reply);
    const std::string target =
        "/b" + std::to_string(i++) + "?additional_files=x:y";
    server_.Serve(target, 200, c.reply);
    const Result result = Fetch(target, "", {"x:y"}, "a");
    EXPECT_TRUE(result.called);
    EXPECT_FALSE(result.metadata);
    EXPECT_EQ(1u, result.statistics.size());
    EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, result.code);
    EXPECT_EQ("Failed parsing json reply: " + c.reason + " " + c.reply,
              result.message);
  }
}

// A refused host, hostile sizes and depths fail clearly; the record keeps
// the reply's start, enough of it for any real reply.
TEST_F(PackageMetadataRetrieverImplTest, FailedDownloadsAndHugeReplies) {
  // "127.1" is the loopback server too, but no allowed host.
  const Result refused = FetchFrom(
      L"http://127.1:" + std::to_wstring(server_.port()) + L"/meta", {});
  EXPECT_FALSE(refused.started);
  EXPECT_FALSE(refused.called);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, refused.code);
  EXPECT_EQ(
      "Domain disallowed 127.1\nFailed starting fetching the download URL",
      refused.message);
  EXPECT_TRUE(server_.RequestsFor("/meta").empty());

  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ("Failed parsing json reply: Invalid JSON " + deep.substr(0, 65536) +
                "...",
            Fetch("/deep", deep).message);
  // A character cut by the limit is left out whole.
  const std::string wide = "{'" + std::string(65533, 'x') + "\xC3\xA9 more";
  EXPECT_EQ("Failed parsing json reply: Invalid JSON " + wide.substr(0, 65535) +
                "...",
            Fetch("/wide", wide).message);

  // A service that takes no connection: a few tries, then the failure,
  // rather than the hour a package download waits for its connection.
  std::wstring closed;
  {
    base::LoopbackHttpServer gone;
    ASSERT_TRUE(gone.Start());
    closed = gone.Url("/meta");
  }
  const Result unreachable = FetchFrom(closed, {});
  EXPECT_TRUE(unreachable.called);
  EXPECT_FALSE(unreachable.metadata);
  EXPECT_NE(npos, unreachable.message.find("Number of retries exceeded"))
      << unreachable.message;
  EXPECT_EQ(3u, RetryPauses());
  EXPECT_TRUE(RetriesLikeAPackageDownload());

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
  std::wstring root = folder.GetPath().value();
  std::replace(root.begin(), root.end(), L'\\', L'/');
  const std::string local = "110 %s file:///" + base::WideToUTF8(root) + "/%s";
  std::vector<std::string> components = Components(*result.metadata);
  std::sort(components.begin(), components.end());
  EXPECT_EQ((std::vector<std::string>{
                base::StringPrintf(local.c_str(), "a.dat", "a.dat"),
                "110 r.dat file:///C:/r.dat",
                base::StringPrintf(local.c_str(), "sub/b.dat", "sub/b.dat")}),
            components);
  for (const auto& file : result.metadata->components)
    EXPECT_EQ(file->file_name == L"r.dat" ? kDigest : digest, file->checksum);
}

// A cancelled request never answers, though the download goes on to its
// end; the next request is answered as usual.
TEST_F(PackageMetadataRetrieverImplTest, CancelDropsTheReply) {
  base::LoopbackHttpServer::Response slow;
  slow.body = "{" + kFull + "}" + std::string(200000, ' ');
  slow.trickle_bytes = 20000;
  slow.trickle_pause_ms = 5;
  server_.Script("/slow", {slow});
  SetServer(server_.Url("/slow"));
  PackageMetadataRetrieverImpl retriever(0);
  Result cancelled;
  ASSERT_TRUE(
      retriever.Start(&downloader_, {}, "", false, false, Into(&cancelled)));
  retriever.Cancel();
  RunUntil([this] {
    return downloader_.GetState() >= WininetDownloader::STATE_FAILED;
  });
  EXPECT_EQ(WininetDownloader::STATE_COMPLETED, downloader_.GetState());
  EXPECT_FALSE(cancelled.called);

  Result next;
  ASSERT_TRUE(retriever.Start(&downloader_, {}, "", false, false, Into(&next)));
  RunUntil([&next] { return next.called; });
  ASSERT_TRUE(next.metadata);
  EXPECT_EQ(L"https://dl.kavor.example/f", next.metadata->package_url);
  EXPECT_FALSE(cancelled.called);
}

}  // namespace
}  // namespace installer
