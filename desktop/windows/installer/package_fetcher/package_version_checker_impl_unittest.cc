#include "desktop/windows/installer/package_fetcher/package_version_checker_impl.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"
#include "desktop/windows/installer/test/unpack_archives.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const char kRefusedMain[] = "Main component version check failed";

// What the unpacking of an old package's installer reported.
struct UnpackCounts : UnpackProgressObserver {
  void OnFilesToUnpackCounted(int32_t count) override {
    counted.push_back(count);
  }
  void OnUnpackProgressChanged(int32_t done) override {
    progress.push_back(done);
  }
  std::vector<int32_t> counted, progress;
};

// The real version reader and 7z reader on the build's package stubs and
// test packages; an old package's installer is the version stand-in, which
// answers what a text file beside it says.
class PackageVersionCheckerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    folder_ = temp_.GetPath();
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin_));
  }

  // Checks the build's |package| (from bin or its signature_fixtures; or,
  // for null, what the folder holds), whose installer.exe, if asked,
  // answers |answers|. The error record must end with |error|.
  bool Check(const char* package,
             const std::string& answers,
             const std::string& error) {
    SCOPED_TRACE((package ? package : "") + (" " + answers));
    if (package) {
      base::FilePath source = bin_.AppendASCII(package);
      if (!base::PathExists(source))
        source = bin_.AppendASCII("signature_fixtures").AppendASCII(package);
      EXPECT_TRUE(base::CopyFile(source, folder_.Append(L"kavor_package")));
    }
    if (!answers.empty())
      Answer("installer", answers);
    SetLastInstallerError(RESULT_SUCCESS, "");
    const bool accepted =
        checker_.CheckMainPackage(folder_, &version_, &stream_);
    std::string message;
    InstallerResult code;
    GetLastInstallerError(&code, &message, nullptr);
    if (!accepted) {
      EXPECT_EQ(RESULT_GENERAL_ERROR, code);
    }
    EXPECT_EQ(error, message.substr(message.size() -
                                    std::min(message.size(), error.size())));
    // What was unpacked to ask is gone.
    EXPECT_FALSE(base::PathExists(folder_.Append(L"installer.exe")));
    EXPECT_FALSE(base::PathExists(folder_.Append(L"kavor_installer.dll")));
    return accepted;
  }

  void Answer(const std::string& name, const std::string& answers) {
    ASSERT_EQ(
        static_cast<int>(answers.size()),
        base::WriteFile(folder_.AppendASCII(name + ".txt"), answers.data(),
                        static_cast<int>(answers.size())));
  }

  std::string PackageVersion() {
    std::string text;
    return base::ReadFileToString(folder_.Append(L"package_version"), &text)
               ? text
               : "<none>";
  }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  base::FilePath folder_;
  base::FilePath bin_;
  UnpackCounts unpacking_;
  PackageVersionCheckerImpl checker_{std::make_unique<FileVersionUtilsImpl>(
                                         std::make_unique<ProcessRunnerImpl>()),
                                     std::make_unique<LzmaUtil>(), &unpacking_};
  std::string version_;
  std::string stream_;
};

TEST_F(PackageVersionCheckerTest, PackageVersionResourceDecides) {
  EXPECT_TRUE(Check("kavor_package_stub.exe", "", ""));
  EXPECT_EQ("47.0.4127.0 developer", version_ + " " + stream_);
  // Signed, with an archive behind the stub.
  EXPECT_TRUE(Check("package.exe", "", ""));
  EXPECT_FALSE(Check("kavor_package_stub_stream.exe", "",
                     "Downloaded item is of a different stream than the "
                     "installer\nStream: beta\nVersion: 47.0.4200.0\n"
                     "Failed the package version check\n" +
                         std::string(kRefusedMain)));
  EXPECT_FALSE(Check("kavor_package_stub_old.exe", "",
                     "Downloaded item is older than the installer\n"
                     "Stream: developer\nVersion: 47.0.4100.0\n"
                     "Failed the package version check\n" +
                         std::string(kRefusedMain)));
  EXPECT_EQ("47.0.4100.0", version_);
  EXPECT_EQ("<none>", PackageVersion());
}

// Only the old package's road unpacks, and its unpacking moves the
// progress: the installer and the library it needs.
TEST_F(PackageVersionCheckerTest, OldPackageUnpackingReportsProgress) {
  EXPECT_TRUE(Check("package.exe", "", ""));
  EXPECT_TRUE(unpacking_.counted.empty());
  EXPECT_TRUE(Check("package_legacy.exe",
                    "47.0.4127.0\ndeveloper\nkavor_installer.dll\n", ""));
  EXPECT_EQ(std::vector<int32_t>{2}, unpacking_.counted);
  EXPECT_EQ((std::vector<int32_t>{0, 1}), unpacking_.progress);
}

TEST_F(PackageVersionCheckerTest, OldPackageIsJudgedByItsInstaller) {
  const std::string failed =
      "Failed the version check\n" + std::string(kRefusedMain);
  // package_legacy.exe is signed (the 7z reader finds the archive between
  // the stub and the certificate table) and holds the library, which its
  // installer.exe is told to need.
  EXPECT_FALSE(Check("package_legacy.exe", "47.0.4100.0\ndeveloper\n",
                     "Downloaded item is older than the installer\n"
                     "Stream: developer\nVersion: 47.0.4100.0\n" +
                         failed));
  EXPECT_FALSE(Check("package_legacy.exe", "47.0.4127.0\nbeta\n",
                     "Downloaded item is of a different stream than the "
                     "installer\nStream: beta\nVersion: 47.0.4127.0\n" +
                         failed));
  EXPECT_FALSE(Check("package_legacy_bare.exe",
                     "47.0.4127.0\ndeveloper\nkavor_installer.dll\n",
                     "Cannot get exe output: version\n"
                     "Version data not present in the file\n" +
                         failed));
  EXPECT_EQ("<none>", PackageVersion());

  EXPECT_TRUE(Check("package_legacy.exe",
                    "47.0.4127.0\ndeveloper\nkavor_installer.dll\n", ""));
  EXPECT_EQ("47.0.4127.0 developer", version_ + " " + stream_);
  EXPECT_EQ("47.0.4127.0", PackageVersion());
  EXPECT_FALSE(base::PathExists(folder_.Append(L"readme.txt")));
  // The reader let go of the package.
  EXPECT_TRUE(
      base::Move(folder_.Append(L"kavor_package"), folder_.Append(L"moved")));

  const std::string end =
      "\nCannot unpack installer.exe for legacy version "
      "check\n" +
      std::string(kRefusedMain);

  // Unreadable packages.
  const base::FilePath package = folder_.Append(L"kavor_package");
  EXPECT_FALSE(Check(nullptr, "", "Archive opening failed with error 1" + end));
  ASSERT_EQ(7, base::WriteFile(package, "garbage", 7));
  EXPECT_FALSE(
      Check(nullptr, "", "Archive unpacking failed with error 11" + end));
  EXPECT_TRUE(version_.empty() && stream_.empty());
  ASSERT_TRUE(base::CopyFile(test::TestData(L"lzma_util").Append(L"small.7z"),
                             package));
  EXPECT_FALSE(Check(nullptr, "", "The package holds no installer.exe" + end));
}

// Versions compare number by number: a number of more digits is the larger
// one, though its text sorts first ("10000" < "4127" < "999").
TEST_F(PackageVersionCheckerTest, VersionNumbersOfOtherLengthsCompareAsNumbers) {
  const std::string refused =
      "Downloaded item is older than the installer\nStream: developer\n"
      "Version: 47.0.999.0\nFailed the version check\n" +
      std::string(kRefusedMain);
  EXPECT_TRUE(Check("package_legacy.exe",
                    "47.0.10000.0\ndeveloper\nkavor_installer.dll\n", ""));
  EXPECT_EQ("47.0.10000.0", PackageVersion());
  ASSERT_TRUE(base::DeleteFile(folder_.Append(L"package_version"), false));
  EXPECT_TRUE(Check("package_legacy.exe",
                    "47.0.4127.10\ndeveloper\nkavor_installer.dll\n", ""));
  ASSERT_TRUE(base::DeleteFile(folder_.Append(L"package_version"), false));
  EXPECT_FALSE(Check("package_legacy.exe",
                     "47.0.999.0\ndeveloper\nkavor_installer.dll\n", refused));
  EXPECT_EQ("<none>", PackageVersion());

  ASSERT_TRUE(base::CopyFile(bin_.Append(L"kavor_version_standin.exe"),
                             folder_.Append(L"assistant_installer.exe")));
  Answer("assistant_installer", "47.0.10000.0\ndeveloper\n");
  EXPECT_TRUE(checker_.CheckAdditionalFile(folder_, "assistant"));
  Answer("assistant_installer", "48.0.999.0\ndeveloper\n");
  EXPECT_FALSE(checker_.CheckAdditionalFile(folder_, "assistant"));
}

TEST_F(PackageVersionCheckerTest, AdditionalFileIsAskedForItsVersion) {
  ASSERT_TRUE(base::CopyFile(bin_.Append(L"kavor_version_standin.exe"),
                             folder_.Append(L"assistant_installer.exe")));
  // The stream does not matter.
  Answer("assistant_installer", "47.0.4130.0\nbeta\n");
  EXPECT_TRUE(checker_.CheckAdditionalFile(folder_, "assistant"));
  Answer("assistant_installer", "47.0.4126.9\ndeveloper\n");
  EXPECT_FALSE(checker_.CheckAdditionalFile(folder_, "assistant"));
  std::string message;
  GetLastInstallerError(nullptr, &message, nullptr);
  EXPECT_EQ(
      "Downloaded item is older than the installer\n"
      "Version: 47.0.4126.9\nAdditional file version invalid",
      message);
}

}  // namespace
}  // namespace installer
