#include "desktop/windows/installer/package_fetcher/additional_file_downloader_impl.h"

#include <stdint.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "base/test/scoped_path_override.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/common/product_constants.h"
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

// Asks the unpacked component's installer for its version, so that a
// component that cannot run fails the check.
struct RunningVersionChecker : PackageVersionChecker {
  bool CheckMainPackage(const base::FilePath&, std::string*, std::string*) {
    return false;
  }
  bool CheckAdditionalFile(const base::FilePath& folder,
                           const std::string& kind_name) override {
    checked.push_back(folder.value() + L"|" + base::UTF8ToWide(kind_name));
    if (refuse)
      return SetLastInstallerError(RESULT_GENERAL_ERROR, "Too old");
    base::CommandLine command(folder.AppendASCII(kind_name + "_installer.exe"));
    command.AppendSwitch("version");
    std::string printed;
    return ProcessRunnerImpl().GetAppOutput(command, &printed) &&
           base::TrimWhitespaceASCII(printed, base::TRIM_ALL) ==
               GetVersionString();
  }
  bool refuse = false;
  std::vector<std::wstring> checked;
};

base::FilePath BinFile(const char* name) {
  base::FilePath bin;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  return bin.AppendASCII(name);
}

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
base::FilePath MakeSfx(
    const base::FilePath& path,
    const std::vector<std::pair<std::string, std::string>>& entries,
    uint32_t exit_code = 0) {
  std::string image = Read(BinFile("kavor_sfx_standin.exe"));
  const uint64_t offset = image.size();
  for (const auto& entry : entries) {
    const std::string bytes = Read(BinFile(entry.second.c_str()));
    Append(&image, static_cast<uint32_t>(entry.first.size()));
    image += entry.first;
    Append(&image, static_cast<uint64_t>(bytes.size()));
    image += bytes;
  }
  Append(&image, offset);
  Append(&image, static_cast<uint32_t>(entries.size()));
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
               std::unique_ptr<AdditionalFile> entry,
               std::vector<FetchChunkStatistics>) {
              ++*calls;
              *result = std::move(entry);
            },
            &calls, &result));
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
  RunningVersionChecker versions_;
  AdditionalFileDownloaderImpl files_;
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

  auto first = Fetch(Entry("/partner", partner, ADDITIONAL_FILE_PARTNER_CONTENT,
                           L"deep\\p.bin"));
  ASSERT_TRUE(first);
  EXPECT_EQ(folder_.Append(L"additional_file0.tmp"), first->downloaded_file);
  ASSERT_TRUE(Place(first.get()));
  EXPECT_TRUE(partner == Read(folder_.Append(L"deep\\p.bin")));
  EXPECT_FALSE(base::PathExists(first->downloaded_file));

  auto second = Fetch(Entry("/res", "res", kResource, L"r.txt"), true);
  ASSERT_TRUE(second);
  EXPECT_EQ(folder_.Append(L"additional_file1.tmp"), second->downloaded_file);
  ASSERT_TRUE(Place(second.get()));

  // The assistant goes to its own folder and is no file of the package.
  auto third = Fetch(Entry("/res", "res", ADDITIONAL_FILE_ASSISTANT, L"a"));
  ASSERT_TRUE(third && Place(third.get()));
  EXPECT_EQ("res", Read(assistant_.Append(L"a")));
  files_.WriteFilesList(folder_);
  EXPECT_EQ("deep\\p.bin\r\nr.txt\r\n", Read(folder_.Append(L"files_list")));

  // A fetch of components alone adds to the list of the same folder.
  files_.ClearFilesList();
  auto fourth = Fetch(Entry("/res", "res", kResource, L"o.txt"), false, true);
  ASSERT_TRUE(fourth && Place(fourth.get()));
  files_.WriteFilesList(folder_);
  EXPECT_EQ("deep\\p.bin\r\nr.txt\r\no.txt\r\n",
            Read(folder_.Append(L"files_list")));
}

TEST_F(AdditionalFileDownloaderImplTest, TestResourcesAreCopied) {
  const base::FilePath source = temp_.GetPath().Append(L"res dir\\local.bin");
  ASSERT_TRUE(base::CreateDirectory(source.DirName()));
  ASSERT_EQ(5, base::WriteFile(source, "local", 5));
  auto entry = Entry("", "local", ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, L"l");
  entry->location = L"file:///" + source.value();
  std::replace(entry->location.begin(), entry->location.end(), L'\\', L'/');
  entry->remote = 0;
  auto missing = std::make_unique<AdditionalFile>(*entry);
  missing->location += L".gone";

  base::ScopedLogLines log(base::logging::LOG_INFO, base::logging::LOG_INFO);
  auto copied = Fetch(std::move(entry), false, true);
  ASSERT_TRUE(copied);
  EXPECT_EQ("local", Read(copied->downloaded_file));
  EXPECT_EQ((std::vector<std::string>{
                "Preparing to download an additional file",
                "Copying test additional file " +
                    base::WideToUTF8(source.value()) + " succeeded"}),
            log.lines());
  // Tried three times like a download, then reported as missing.
  EXPECT_FALSE(Fetch(std::move(missing), false, true));
  EXPECT_EQ(4u, Count(log, "Copying test additional file"));
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(AdditionalFileDownloaderImplTest,
       FailedFilesAreFetchedThreeTimesAtMost) {
  server_.Serve("/error", 500, "");
  server_.Serve("/corrupt", 200, "corrupt");
  server_.Serve("/busy", 503, "");
  const auto kPartner = ADDITIONAL_FILE_PARTNER_CONTENT;

  base::ScopedLogLines log(base::logging::LOG_INFO, base::logging::LOG_ERROR);
  EXPECT_FALSE(Fetch(Entry("/error", "", kPartner, L"e")));
  EXPECT_EQ(3u, server_.RequestsFor("/error").size());
  EXPECT_EQ(2u, Count(log, "Retrying additional file download"));
  EXPECT_EQ(3u, Count(log,
                      "Failed downloading additional component "
                      "partner_content " +
                          base::WideToUTF8(server_.Url("/error")) +
                          ". Wininet state: 4"));
  EXPECT_EQ(1u, Count(log, "Giving up downloading this file"));

  EXPECT_FALSE(Fetch(Entry("/corrupt", "other", kPartner, L"c")));
  EXPECT_EQ(3u, server_.RequestsFor("/corrupt").size());
  EXPECT_EQ(3u, Count(log,
                      "Bad checksum for additional component "
                      "partner_content " +
                          base::WideToUTF8(server_.Url("/corrupt")) +
                          " actual " + Checksum("corrupt") + " expected " +
                          Checksum("other") + ", file length 7"));
  EXPECT_EQ("corrupt", Read(folder_.Append(L"additional_file5.tmp")));

  // The downloader retried once on its own and gave up: no more fetches.
  downloader_.SetMaxRetries(0);
  EXPECT_FALSE(Fetch(Entry("/busy", "", kPartner, L"b")));
  EXPECT_EQ(2u, server_.RequestsFor("/busy").size());
  EXPECT_EQ(4u, Count(log, "Retrying additional file download"));
}

TEST_F(AdditionalFileDownloaderImplTest, ArchivesAreCheckedRunAndVersioned) {
  const std::vector<std::pair<std::string, std::string>> assistant_files = {
      {"assistant_installer.exe", "kavor_setup.exe"},
      {"kavor_installer.dll", "kavor_installer.dll"}};
  auto fetched = [this](const base::FilePath& sfx, uint32_t kind,
                        const std::wstring& name) {
    AdditionalFile entry;
    entry.file_name = name;
    entry.plain_file = 0;
    entry.kind = kind;
    entry.downloaded_file = folder_.Append(L"additional_file0.tmp");
    EXPECT_TRUE(base::Move(sfx, entry.downloaded_file));
    return entry;
  };
  const base::FilePath sfx = temp_.GetPath().Append(L"sfx");

  // A development build runs the assistant without asking for a signature.
  AdditionalFile assistant =
      fetched(MakeSfx(sfx, assistant_files), ADDITIONAL_FILE_ASSISTANT, L"");
  ASSERT_TRUE(Place(&assistant)) << LastError();
  EXPECT_TRUE(base::PathExists(assistant_.Append(L"kavor_installer.dll")));
  EXPECT_FALSE(base::PathExists(assistant_.Append(L"_sfx.exe")));
  EXPECT_EQ(std::vector<std::wstring>{assistant_.value() + L"|assistant"},
            versions_.checked);
  EXPECT_TRUE(events_.empty());

  // A signed build runs only signed components.
  signatures_.own_signed = signatures_.verifies = true;
  AdditionalFile partner = fetched(
      MakeSfx(sfx, {{"partner_content_installer.exe", "kavor_setup.exe"},
                    {"kavor_installer.dll", "kavor_installer.dll"}}),
      ADDITIONAL_FILE_PARTNER_CONTENT, L"p");
  ASSERT_TRUE(Place(&partner)) << LastError();
  EXPECT_EQ(std::vector<std::string>{"signature_verified"}, events_);
  EXPECT_FALSE(base::PathExists(folder_.Append(L"p_sfx.exe")));
  files_.WriteFilesList(folder_);
  EXPECT_EQ("p\r\n", Read(folder_.Append(L"files_list")));

  // The real check, the installer switched to a signed image: the
  // stand-in bears no signature and never runs.
  versions_.checked.clear();
  {
    MakeSfx(sfx, assistant_files);
    SetSignatureCheckerForTesting(nullptr);
    base::ScopedPathOverride own(
        base::FILE_EXE, BinFile("signature_fixtures").AppendASCII("maker.exe"));
    AdditionalFile unsigned_sfx = fetched(sfx, ADDITIONAL_FILE_ASSISTANT, L"");
    base::DeleteFile(assistant_, true);
    EXPECT_FALSE(Place(&unsigned_sfx));
    EXPECT_EQ("1 Failed verifying signature of the additional file",
              LastError());
    EXPECT_FALSE(base::PathExists(assistant_));
  }
  SetSignatureCheckerForTesting(&signatures_);

  AdditionalFile failing =
      fetched(MakeSfx(sfx, assistant_files, 7), ADDITIONAL_FILE_ASSISTANT, L"");
  EXPECT_FALSE(Place(&failing));
  EXPECT_EQ("1 Failed extracting SFX archive", LastError());
  EXPECT_TRUE(versions_.checked.empty());

  versions_.refuse = true;
  AdditionalFile old = fetched(MakeSfx(sfx, assistant_files),
                               ADDITIONAL_FILE_PARTNER_CONTENT, L"old");
  EXPECT_FALSE(Place(&old));
  EXPECT_EQ("1 Too old\nComponent version didn't pass check", LastError());
  files_.WriteFilesList(folder_);
  EXPECT_EQ("p\r\np\r\n", Read(folder_.Append(L"files_list")));
}

// A name from the reply never places a file outside its folder, whoever
// made the entry.
TEST_F(AdditionalFileDownloaderImplTest, NamesOutsideTheFolderAreRefused) {
  const base::FilePath victim = temp_.GetPath().Append(L"victim");
  ASSERT_EQ(8, base::WriteFile(victim, "precious", 8));
  for (const std::wstring& name :
       {std::wstring(L"..\\victim"), std::wstring(L"..\\..\\victim"),
        victim.value(), std::wstring(L"\\\\host\\share\\x"),
        std::wstring(L"a\r\nforged")}) {
    for (uint32_t plain : {1u, 0u}) {
      SCOPED_TRACE(base::WideToUTF8(name) + (plain ? " plain" : " archive"));
      AdditionalFile entry;
      entry.file_name = name;
      entry.plain_file = plain;
      entry.kind = ADDITIONAL_FILE_PARTNER_CONTENT;
      entry.downloaded_file = folder_.Append(L"additional_file0.tmp");
      ASSERT_EQ(5, base::WriteFile(entry.downloaded_file, "evil!", 5));
      EXPECT_FALSE(Place(&entry));
      EXPECT_EQ("1 Failed parsing additional file name in JSON reply",
                LastError());
      EXPECT_EQ("precious", Read(victim));
      EXPECT_EQ("evil!", Read(entry.downloaded_file));
    }
  }
  EXPECT_TRUE(versions_.checked.empty());

  // Nor over one of the folder's own files, the checked package above all.
  ASSERT_EQ(4, base::WriteFile(folder_.Append(L"kavor_package"), "good", 4));
  AdditionalFile swap;
  swap.file_name = L"kavor_package";
  swap.kind = ADDITIONAL_FILE_PARTNER_CONTENT;
  swap.downloaded_file = folder_.Append(L"additional_file0.tmp");
  EXPECT_FALSE(Place(&swap));
  EXPECT_EQ("1 Failed moving additional file into place", LastError());
  EXPECT_EQ("good", Read(folder_.Append(L"kavor_package")));
  files_.WriteFilesList(folder_);
  EXPECT_FALSE(base::PathExists(folder_.Append(L"files_list")));
}

}  // namespace
}  // namespace installer
