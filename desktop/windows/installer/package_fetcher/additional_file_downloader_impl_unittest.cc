#include "desktop/windows/installer/package_fetcher/additional_file_downloader_impl.h"

#include <stdint.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "base/test/scoped_path_override.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/package_version_checker.h"
#include "desktop/windows/installer/test/fake_signature_checker.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct NoUiRunner : UICallbackRunner {
  void RunUICallbackAndPostReply(
      UICallback,
      base::scoped_refptr<base::SingleThreadTaskRunner> runner,
      Reply reply) override {
    runner->PostTask(FROM_HERE,
                     base::BindOnce(std::move(reply), ERROR_CANCELLED));
  }
};

struct RecordingSender : AvroStatsSender {
  explicit RecordingSender(std::vector<std::string>* names) : names(names) {}
  void SetTrafficAllowed(bool) override {}
  void Send(std::unique_ptr<AvroStatsMessage> message) override {
    names->push_back(message->GetName());
  }
  void SendPendingAndShutdown(base::OnceClosure reply) override {
    std::move(reply).Run();
  }
  std::vector<std::string>* names;
};

// Records where it was asked to look, and whether the component's
// installer was there.
struct RecordingVersionChecker : PackageVersionChecker {
  bool CheckMainPackage(const base::FilePath&, std::string*, std::string*) {
    return false;
  }
  bool CheckAdditionalFile(const base::FilePath& folder,
                           const std::string& kind_name) override {
    const bool found =
        base::PathExists(folder.AppendASCII(kind_name + "_installer.exe"));
    checked.push_back(kind_name + (found ? " found" : " missing"));
    if (refuse)
      return SetLastInstallerError(RESULT_GENERAL_ERROR, "Too old");
    return found;
  }
  bool refuse = false;
  std::vector<std::string> checked;
};

std::string Read(const base::FilePath& path) {
  std::string text;
  return base::ReadFileToString(path, &text) ? text : "<missing>";
}

template <typename T>
void Append(std::string* out, T value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof(value));
}

// The stand-in with the archive format it reads appended: entries of name
// length, name, size and bytes, then offset, count, exit code and magic.
base::FilePath MakeSfx(const base::FilePath& path,
                       const std::vector<std::string>& names,
                       uint32_t exit_code = 0) {
  base::FilePath bin;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  std::string image = Read(bin.Append(L"kavor_sfx_standin.exe"));
  const uint64_t offset = image.size();
  for (const std::string& name : names) {
    Append(&image, static_cast<uint32_t>(name.size()));
    image += name;
    Append(&image, static_cast<uint64_t>(name.size()));
    image += name;
  }
  Append(&image, offset);
  Append(&image, static_cast<uint32_t>(names.size()));
  Append(&image, exit_code);
  image += "KVSFXEND";
  EXPECT_EQ(
      static_cast<int>(image.size()),
      base::WriteFile(path, image.data(), static_cast<int>(image.size())));
  return path;
}

std::string Checksum(const std::string& bytes) {
  return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()),
                   bytes.size());
}

class AdditionalFileDownloaderImplTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    folder_ = temp_.GetPath().Append(L"package");
    assistant_ = temp_.GetPath().Append(L"assistant");
    ASSERT_TRUE(base::CreateDirectory(folder_));
    SetSignatureCheckerForTesting(&signatures_);
    SetAvroStatsSenderForTesting(std::make_unique<RecordingSender>(&events_));
  }
  void TearDown() override {
    SetSignatureCheckerForTesting(nullptr);
    DisableAvroStatsSender();
  }

  std::unique_ptr<AdditionalFile> Entry(const std::string& target,
                                        const std::string& body,
                                        uint32_t kind,
                                        const std::wstring& name) {
    auto entry = std::make_unique<AdditionalFile>();
    entry->location = server_.Url(target);
    entry->file_name = name;
    entry->checksum = Checksum(body);
    entry->kind = kind;
    return entry;
  }

  // A test resource copied from |source|, which holds "local".
  std::unique_ptr<AdditionalFile> LocalEntry(const base::FilePath& source) {
    auto entry = Entry("", "local", ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, L"l");
    entry->location = L"file:///" + source.value();
    std::replace(entry->location.begin(), entry->location.end(), L'\\', L'/');
    entry->remote = 0;
    return entry;
  }

  // The entry handed back, or null; "skipped" when nothing was started.
  // Runs the fetcher thread over the downloader's retry pauses.
  std::unique_ptr<AdditionalFile> Fetch(std::unique_ptr<AdditionalFile> entry,
                                        bool minimal = false,
                                        bool only = false,
                                        bool* skipped = nullptr) {
    int calls = 0;
    std::unique_ptr<AdditionalFile> result;
    const bool started = files_.DownloadAdditionalFile(
        folder_, &downloader_, std::move(entry), minimal, only,
        base::BindOnce(
            [](int* calls, std::unique_ptr<AdditionalFile>* result,
               std::vector<FetchChunkStatistics>* statistics,
               std::unique_ptr<AdditionalFile> entry,
               std::vector<FetchChunkStatistics> reported) {
              ++*calls;
              *result = std::move(entry);
              *statistics = std::move(reported);
            },
            &calls, &result, &statistics_));
    while (started && calls == 0 && server_.requests().size() < 40) {
      runner_->RunDueTasks();
      if (calls == 0 && runner_->pending_count() != 0)
        runner_->FastForwardBy(base::TimeDelta::FromSeconds(6));
      else if (calls == 0 && !runner_->WaitForPost())
        break;
    }
    runner_->RunUntilIdle();
    EXPECT_EQ(started ? 1 : 0, calls);
    if (skipped)
      *skipped = !started;
    return result;
  }

  bool Place(AdditionalFile* entry) {
    return files_.PlaceDownloadedFile(&versions_, entry, folder_, assistant_);
  }

  std::string LastError() {
    InstallerResult code = RESULT_SUCCESS;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    return std::to_string(code) + " " + message;
  }

  // Every file and folder under the test's root, relative to it.
  std::vector<std::wstring> Tree() {
    std::vector<std::wstring> names;
    base::FileEnumerator all(
        temp_.GetPath(), true,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath path = all.Next(); !path.empty(); path = all.Next())
      names.push_back(path.value().substr(temp_.GetPath().value().size() + 1));
    std::sort(names.begin(), names.end());
    return names;
  }

  // A fetched file as the sequencer hands it over.
  AdditionalFile Fetched(const std::wstring& name,
                         uint32_t kind,
                         uint32_t plain) {
    AdditionalFile entry;
    entry.file_name = name;
    entry.plain_file = plain;
    entry.kind = kind;
    entry.downloaded_file = folder_.Append(L"additional_file0.tmp");
    EXPECT_EQ(5, base::WriteFile(entry.downloaded_file, "bytes", 5));
    return entry;
  }

  AdditionalFile FetchedSfx(uint32_t kind,
                            const std::wstring& name,
                            const std::vector<std::string>& files,
                            uint32_t exit_code = 0) {
    AdditionalFile entry = Fetched(name, kind, 0);
    MakeSfx(entry.downloaded_file, files, exit_code);
    return entry;
  }

  static size_t Count(const base::ScopedLogLines& log, const std::string& s) {
    return std::count_if(log.lines().begin(), log.lines().end(),
                         [&](const std::string& line) {
                           return line.compare(0, s.size(), s) == 0;
                         });
  }

  base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  base::ThreadTaskRunnerHandle runner_handle_{runner_};
  ScopedInstallerErrorRecord error_record_;
  base::LoopbackHttpServer server_;
  base::ScopedTempDir temp_;
  base::FilePath folder_, assistant_;
  NoUiRunner ui_runner_;
  WininetImpl downloader_{&ui_runner_, nullptr};
  test::FakeSignatureChecker signatures_;
  std::vector<std::string> events_;
  RecordingVersionChecker versions_;
  AdditionalFileDownloaderImpl files_;
  // What the last fetch reported.
  std::vector<FetchChunkStatistics> statistics_;
};

TEST_F(AdditionalFileDownloaderImplTest, PlainFilesArePlacedAndListed) {
  const std::string partner = base::LoopbackHttpServer::Bytes(200000);
  server_.Serve("/partner", 200, partner);
  server_.Serve("/res", 200, "res");
  const auto kResource = ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE;

  // A full package holds the downloadable resources already.
  bool skipped = false;
  Fetch(Entry("/res", "res", kResource, L"r"), false, false, &skipped);
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(server_.requests().empty());

  // Listed as written: separators turned, the trailing dot dropped.
  auto first = Fetch(Entry("/partner", partner, ADDITIONAL_FILE_PARTNER_CONTENT,
                           L"deep/p.bin."));
  ASSERT_TRUE(first);
  EXPECT_EQ(folder_.Append(L"additional_file0.tmp"), first->downloaded_file);
  ASSERT_TRUE(Place(first.get()));
  EXPECT_TRUE(partner == Read(folder_.Append(L"deep\\p.bin")));

  auto second = Fetch(Entry("/res", "res", kResource, L"r.txt"), true);
  ASSERT_TRUE(second);
  EXPECT_EQ(folder_.Append(L"additional_file1.tmp"), second->downloaded_file);
  ASSERT_TRUE(Place(second.get()));

  // The assistant goes to its own folder, may take any name there, and is
  // no file of the package.
  auto third = Fetch(Entry("/res", "res", ADDITIONAL_FILE_ASSISTANT, L"ready"));
  ASSERT_TRUE(third && Place(third.get()));
  EXPECT_EQ("res", Read(assistant_.Append(L"ready")));
  files_.WriteFilesList(folder_);
  EXPECT_EQ("deep\\p.bin\r\nr.txt\r\n", Read(folder_.Append(L"files_list")));

  // A fetch of components alone adds to the list of the same folder.
  files_.ClearFilesList();
  auto fourth = Fetch(Entry("/res", "res", kResource, L"o.txt"), false, true);
  ASSERT_TRUE(fourth && Place(fourth.get()));
  files_.WriteFilesList(folder_);
  EXPECT_EQ("deep\\p.bin\r\nr.txt\r\no.txt\r\n",
            Read(folder_.Append(L"files_list")));
  EXPECT_EQ((std::vector<std::wstring>{
                L"assistant", L"assistant\\ready", L"package", L"package\\deep",
                L"package\\deep\\p.bin", L"package\\files_list",
                L"package\\o.txt", L"package\\r.txt"}),
            Tree());
}

// No failed attempt leaves its temporary file behind.
TEST_F(AdditionalFileDownloaderImplTest,
       FailedFilesAreFetchedThreeTimesAtMost) {
  server_.Serve("/error", 500, "");
  server_.Serve("/corrupt", 200, "corrupt");
  server_.Serve("/busy", 503, "");
  const auto kPartner = ADDITIONAL_FILE_PARTNER_CONTENT;
  const std::vector<std::wstring> empty_folder = {L"package"};

  base::ScopedLogLines log(base::logging::LOG_INFO, base::logging::LOG_ERROR);
  EXPECT_FALSE(Fetch(Entry("/error", "", kPartner, L"e")));
  EXPECT_EQ(3u, server_.RequestsFor("/error").size());
  EXPECT_EQ(3u, Count(log,
                      "Failed downloading additional component "
                      "partner_content " +
                          base::WideToUTF8(server_.Url("/error")) +
                          ". Wininet state: 4"));
  EXPECT_EQ(1u, Count(log, "Giving up downloading this file"));
  EXPECT_EQ(empty_folder, Tree());

  EXPECT_FALSE(Fetch(Entry("/corrupt", "other", kPartner, L"c")));
  EXPECT_EQ(3u, server_.RequestsFor("/corrupt").size());
  EXPECT_EQ(3u, Count(log,
                      "Bad checksum for additional component "
                      "partner_content " +
                          base::WideToUTF8(server_.Url("/corrupt")) +
                          " actual " + Checksum("corrupt") + " expected " +
                          Checksum("other") + ", file length 7"));
  EXPECT_EQ(empty_folder, Tree());

  // A test file is copied, and a missing one tried three times like a
  // download.
  const base::FilePath source = temp_.GetPath().Append(L"res dir\\local.bin");
  ASSERT_TRUE(base::CreateDirectory(source.DirName()));
  ASSERT_EQ(5, base::WriteFile(source, "local", 5));
  auto entry = LocalEntry(source);
  auto missing = std::make_unique<AdditionalFile>(*entry);
  missing->location += L".gone";
  const std::string copying =
      "Copying test additional file " + base::WideToUTF8(source.value());
  EXPECT_FALSE(Fetch(std::move(missing), false, true));
  EXPECT_EQ(3u, Count(log, copying + ".gone failed"));
  const std::vector<std::wstring> with_source = {L"package", L"res dir",
                                                 L"res dir\\local.bin"};
  EXPECT_EQ(with_source, Tree());
  auto copied = Fetch(std::move(entry), false, true);
  ASSERT_TRUE(copied);
  EXPECT_EQ("local", Read(copied->downloaded_file));
  EXPECT_EQ(1u, Count(log, copying + " succeeded"));
  EXPECT_EQ(6u, server_.requests().size());
  ASSERT_TRUE(base::DeleteFile(copied->downloaded_file, false));

  // The downloader retried once on its own and gave up: no more fetches.
  downloader_.SetMaxRetries(0);
  EXPECT_FALSE(Fetch(Entry("/busy", "", kPartner, L"b")));
  EXPECT_EQ(2u, server_.RequestsFor("/busy").size());
  EXPECT_EQ(6u, Count(log, "Retrying additional file download"));
  EXPECT_EQ(with_source, Tree());
}

// A copy is no download: it owes nothing to the download before it.
TEST_F(AdditionalFileDownloaderImplTest, LocalCopiesStandApartFromDownloads) {
  server_.Serve("/busy", 503, "");
  const base::FilePath source = temp_.GetPath().Append(L"local.bin");
  ASSERT_EQ(5, base::WriteFile(source, "local", 5));
  auto entry = LocalEntry(source);
  auto missing = std::make_unique<AdditionalFile>(*entry);
  missing->location += L".gone";

  // The downloader retries once on its own and is past its first attempt.
  downloader_.SetMaxRetries(0);
  base::ScopedLogLines log(base::logging::LOG_INFO, base::logging::LOG_ERROR);
  EXPECT_FALSE(
      Fetch(Entry("/busy", "", ADDITIONAL_FILE_PARTNER_CONTENT, L"b")));
  ASSERT_FALSE(statistics_.empty());

  // Still three tries for a missing copy.
  EXPECT_FALSE(Fetch(std::move(missing), false, true));
  EXPECT_EQ(3u,
            Count(log, "Copying test additional file " +
                           base::WideToUTF8(source.value()) + ".gone failed"));
  auto copied = Fetch(std::move(entry), false, true);
  ASSERT_TRUE(copied);
  EXPECT_EQ("local", Read(copied->downloaded_file));
  EXPECT_TRUE(statistics_.empty());
}

TEST_F(AdditionalFileDownloaderImplTest, ArchivesAreCheckedRunAndVersioned) {
  const std::vector<std::string> assistant_files = {"assistant_installer.exe",
                                                    "kavor_installer.dll"};
  // A development build runs the assistant without asking for a signature;
  // the version is checked where the archive unpacked.
  AdditionalFile assistant =
      FetchedSfx(ADDITIONAL_FILE_ASSISTANT, L"", assistant_files);
  ASSERT_TRUE(Place(&assistant)) << LastError();
  EXPECT_EQ(std::vector<std::string>{"assistant found"}, versions_.checked);
  EXPECT_TRUE(events_.empty());

  // A signed build runs only signed components.
  signatures_.own_signed = signatures_.verifies = true;
  AdditionalFile partner = FetchedSfx(ADDITIONAL_FILE_PARTNER_CONTENT, L"p",
                                      {"partner_content_installer.exe"});
  ASSERT_TRUE(Place(&partner)) << LastError();
  EXPECT_EQ(std::vector<std::string>{"signature_verified"}, events_);
  files_.WriteFilesList(folder_);
  const std::vector<std::wstring> placed = {
      L"assistant",
      L"assistant\\assistant_installer.exe",
      L"assistant\\kavor_installer.dll",
      L"package",
      L"package\\files_list",
      L"package\\partner_content_installer.exe"};
  EXPECT_EQ(placed, Tree());

  // Whatever fails, nothing fetched or unpacked stays and nothing placed
  // is touched.
  base::DeleteFile(assistant_, true);
  ASSERT_TRUE(base::CreateDirectory(assistant_));
  std::vector<std::wstring> before = placed;
  before.erase(before.begin() + 1, before.begin() + 3);
  const struct {
    uint32_t kind;
    const wchar_t* name;
    std::vector<std::string> files;
    uint32_t exit_code;
    bool refuse;
    const char* error;
  } kFailures[] = {
      {ADDITIONAL_FILE_ASSISTANT, L"", assistant_files, 7, false,
       "1 Failed extracting SFX archive"},
      {ADDITIONAL_FILE_ASSISTANT, L"", assistant_files, 0, true,
       "1 Too old\nComponent version didn't pass check"},
      // Unpacked over a file that is there already.
      {ADDITIONAL_FILE_PARTNER_CONTENT,
       L"q",
       {"partner_content_installer.exe", "new.dll"},
       0,
       false,
       "1 Failed moving unpacked additional component into place"},
      // Unpacked elsewhere than its version would be checked.
      {ADDITIONAL_FILE_PARTNER_CONTENT,
       L"sub\\q",
       {"partner_content_installer.exe"},
       0,
       false,
       "1 Failed parsing additional file name in JSON reply"},
  };
  for (const auto& c : kFailures) {
    SCOPED_TRACE(c.error);
    versions_.refuse = c.refuse;
    AdditionalFile entry = FetchedSfx(c.kind, c.name, c.files, c.exit_code);
    EXPECT_FALSE(Place(&entry));
    EXPECT_EQ(c.error, LastError());
    EXPECT_EQ(before, Tree());
    EXPECT_EQ("partner_content_installer.exe",
              Read(folder_.Append(L"partner_content_installer.exe")));
  }
  versions_.refuse = false;

  // The real check, the installer switched to a signed image: the
  // stand-in bears no signature and never runs.
  SetSignatureCheckerForTesting(nullptr);
  base::FilePath fixtures;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &fixtures));
  base::ScopedPathOverride own(
      base::FILE_EXE, fixtures.Append(L"signature_fixtures\\maker.exe"));
  versions_.checked.clear();
  AdditionalFile unsigned_sfx =
      FetchedSfx(ADDITIONAL_FILE_ASSISTANT, L"", assistant_files);
  EXPECT_FALSE(Place(&unsigned_sfx));
  EXPECT_EQ("1 Failed verifying signature of the additional file", LastError());
  EXPECT_TRUE(versions_.checked.empty());
  EXPECT_EQ(before, Tree());
  // Nothing placed since the last write: nothing listed twice.
  files_.WriteFilesList(folder_);
  EXPECT_EQ("p\r\n", Read(folder_.Append(L"files_list")));
}

// A name from the reply never places a file outside its folder nor takes
// the name of one of the package folder's own files, whoever made the
// entry; the refused file is deleted.
TEST_F(AdditionalFileDownloaderImplTest, UnsafeNamesAreRefused) {
  const base::FilePath victim = temp_.GetPath().Append(L"victim");
  ASSERT_EQ(8, base::WriteFile(victim, "precious", 8));
  for (const wchar_t* name :
       {L"..\\victim", L"..\\..\\victim", victim.value().c_str(),
        L"\\\\host\\share\\x", L"a\r\nforged", L"READY", L"installer.exe. ",
        L"Files_List"}) {
    SCOPED_TRACE(base::WideToUTF8(name));
    AdditionalFile entry = Fetched(name, ADDITIONAL_FILE_PARTNER_CONTENT, 1);
    EXPECT_FALSE(Place(&entry));
    EXPECT_EQ("1 Failed parsing additional file name in JSON reply",
              LastError());
    EXPECT_EQ("precious", Read(victim));
    EXPECT_EQ((std::vector<std::wstring>{L"package", L"victim"}), Tree());
  }
  EXPECT_TRUE(versions_.checked.empty());

  // Nor over a file that is already there.
  ASSERT_EQ(4, base::WriteFile(folder_.Append(L"partner.bin"), "good", 4));
  AdditionalFile swap =
      Fetched(L"partner.bin", ADDITIONAL_FILE_PARTNER_CONTENT, 1);
  EXPECT_FALSE(Place(&swap));
  EXPECT_EQ("1 Failed moving additional file into place", LastError());
  EXPECT_EQ("good", Read(folder_.Append(L"partner.bin")));
  EXPECT_FALSE(base::PathExists(swap.downloaded_file));
  files_.WriteFilesList(folder_);
  EXPECT_FALSE(base::PathExists(folder_.Append(L"files_list")));
}

}  // namespace
}  // namespace installer
