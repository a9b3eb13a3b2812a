#include "desktop/windows/installer/package_unpacker.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/interprocess_state_impl.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Answers with |version|, or fails when it is empty.
class FakeFileVersionUtils : public FileVersionUtils {
 public:
  explicit FakeFileVersionUtils(const std::string& version)
      : version_(version) {}
  bool GetPackageFileVersion(const base::FilePath&,
                             base::Version* full_version,
                             base::Version* internal_version,
                             std::string*) override {
    if (version_.empty())
      return SetLastInstallerError(RESULT_GENERAL_ERROR, "no resource");
    *full_version = base::Version(version_);
    return GetInternalVersion(*full_version, internal_version);
  }
  bool GetVersionFromExe(const base::FilePath&,
                         base::Version*,
                         base::Version*,
                         std::string*) override {
    return false;
  }

 private:
  std::string version_;
};

// "Extracts" its entries (relative to the destination unless absolute; a
// trailing "\" makes a folder) and then returns |result|.
class FakeLzmaUtil : public LzmaUtil {
 public:
  FakeLzmaUtil(std::vector<base::string16> entries, int result)
      : entries_(std::move(entries)), result_(result) {}
  int Open(const base::FilePath&) override { return OPEN_SUCCESS; }
  int Extract(const base::FilePath& destination,
              const std::set<base::string16>&,
              LzmaUtilObserver* observer,
              std::vector<base::FilePath>* extracted_files,
              std::vector<base::FilePath>* created_folders) override {
    if (!base::DirectoryExists(destination)) {
      EXPECT_TRUE(base::CreateDirectory(destination));
      created_folders->push_back(destination);
    }
    observer->OnFileCount(entries_.size());
    size_t count = 0;
    for (const base::string16& entry : entries_) {
      base::FilePath path(entry);
      if (!path.IsAbsolute())
        path = destination.Append(entry);
      if (entry.back() == L'\\') {
        EXPECT_TRUE(base::CreateDirectory(path));
        created_folders->push_back(path.StripTrailingSeparators());
        continue;
      }
      EXPECT_EQ(1, base::WriteFile(path, "x", 1));
      extracted_files->push_back(path);
      observer->OnFileUnpacked(++count);
    }
    return result_;
  }
  void Close() override {}

 private:
  std::vector<base::string16> entries_;
  int result_;
};

class Recorder : public PackageUnpackerDelegate {
 public:
  void OnTotalSteps(int count) override {
    events.push_back("total " + base::IntToString(count));
  }
  void OnStepFinished(const std::string& name, int count) override {
    events.push_back(name + " " + base::IntToString(count));
  }
  std::vector<std::string> events;
};

class X64OsOperations : public OsOperationsImpl {
 public:
  uint32_t GetOsArchitecture() override { return 9; }
};

class PackageUnpackerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    install_ = temp_.GetPath().Append(L"install");
    package_ = temp_.GetPath().Append(L"package");
    ASSERT_TRUE(base::CreateDirectory(install_));
    ASSERT_TRUE(base::CreateDirectory(package_));
    settings_.folder = install_;
    MakeState(false);
    SetOsOperationsForTesting(&os_);
  }
  // A backend's state, run from the package folder or from outside it.
  void MakeState(bool inside_package) {
    context_.reset();
    state_.reset();
    state_command_line_ =
        std::make_unique<base::CommandLine>(base::CommandLine::NO_PROGRAM);
    state_command_line_->AppendSwitch("backend");
    state_command_line_->AppendSwitchPath("package-dir", package_);
    if (inside_package)
      state_command_line_->AppendSwitch("inside-package");
    state_ = std::make_unique<InterprocessStateImpl>(
        std::make_unique<TrackingDataDictionary>(), state_command_line_.get());
    context_ = std::make_unique<InstallerStepContextImpl>(state_.get());
    context_->set_settings(&settings_);
  }
  void TearDown() override { SetOsOperationsForTesting(nullptr); }

  std::unique_ptr<PackageUnpacker> MakeUnpacker(
      const std::string& version, std::unique_ptr<LzmaUtil> lzma = nullptr) {
    return std::make_unique<PackageUnpacker>(
        std::make_unique<FakeFileVersionUtils>(version), std::move(lzma),
        context_.get(), &recorder_, state_.get());
  }
  void WritePackageFile(const base::string16& name, const std::string& text) {
    const base::FilePath path = package_.Append(name);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_EQ(static_cast<int>(text.size()),
              base::WriteFile(path, text.data(), text.size()));
  }
  // The names below the install folder, sorted, folders ending in "\".
  std::vector<std::string> InstallTree() {
    std::vector<std::string> names;
    base::FileEnumerator e(
        install_, true,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath p = e.Next(); !p.empty(); p = e.Next()) {
      std::string name =
          base::WideToUTF8(p.value().substr(install_.value().size() + 1));
      if (e.GetInfo().IsDirectory())
        name += "\\";
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string LastError(InstallerResult* code) {
    std::string message;
    GetLastInstallerError(code, &message, nullptr);
    return message;
  }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  base::FilePath install_;
  base::FilePath package_;
  std::unique_ptr<base::CommandLine> state_command_line_;
  std::unique_ptr<InterprocessStateImpl> state_;
  std::unique_ptr<InstallerStepContextImpl> context_;
  test::FakeSettings settings_;
  X64OsOperations os_;
  Recorder recorder_;
};

TEST_F(PackageUnpackerTest, NamesTheSubfolderAfterTheFirstFreeVersionName) {
  const struct {
    const char* resource_version;  // "" when the package has no resource
    const char* package_version;   // null when there is no file
    bool occupied;         // 47.0.4127.0 and 47.0.4127.0_0 are there already
    const char* expected;  // null when the preparation fails
    const char* error;
  } kCases[] = {
      {"47.0.4127.0", "9.9.9.9", true, "47.0.4127.0_1", ""},
      {"", nullptr, false, "", ""},  // this build's own version
      {"", "48.1.2.3", false, "48.1.2.3", ""},
      {"", "48.1.x", false, nullptr,
       "Invalid package version found in package folder 48.1.x"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.resource_version + std::string("/") +
                 (c.package_version ? c.package_version : "-"));
    for (const wchar_t* name : {L"47.0.4127.0", L"47.0.4127.0_0"}) {
      if (c.occupied)
        ASSERT_TRUE(base::CreateDirectory(install_.Append(name)));
      else
        base::DeleteFile(install_.Append(name), false);
    }
    base::DeleteFile(package_.Append(L"package_version"), false);
    if (c.package_version)
      WritePackageFile(L"package_version", c.package_version);
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    const bool ok = MakeUnpacker(c.resource_version)
                        ->PrepareInstallSubfolder(&command_line);
    ASSERT_EQ(c.expected != nullptr, ok);
    if (!ok) {
      InstallerResult code;
      EXPECT_EQ(c.error, LastError(&code));
      EXPECT_EQ(RESULT_FOLDER_CREATION_FAILED, code);
      EXPECT_FALSE(command_line.HasSwitch("install-subfolder"));
      continue;
    }
    const std::string expected = *c.expected ? c.expected : GetVersionString();
    EXPECT_EQ(expected, command_line.GetSwitchValueASCII("install-subfolder"));
    EXPECT_TRUE(base::DirectoryExists(install_.AppendASCII(expected)));
    // The folder went into the run's transaction.
    RollbackOperations(context_->GetTransaction());
    EXPECT_FALSE(base::PathExists(install_.AppendASCII(expected)));
  }
}

TEST_F(PackageUnpackerTest, UninstallRepairAndAChosenSubfolderCreateNothing) {
  const struct {
    InstallerOperation operation;
    bool switch_given;
  } kCases[] = {{OPERATION_UNINSTALL, false},
                {OPERATION_FIX_DOWNLOADABLE_RESOURCES, false},
                {OPERATION_INSTALL, true}};
  for (const auto& c : kCases) {
    settings_.operation = c.operation;
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    if (c.switch_given)
      command_line.AppendSwitchASCII("install-subfolder", "given");
    EXPECT_TRUE(
        MakeUnpacker("47.0.4127.0")->PrepareInstallSubfolder(&command_line));
    EXPECT_EQ(c.switch_given, command_line.HasSwitch("install-subfolder"));
    EXPECT_TRUE(InstallTree().empty());
    EXPECT_TRUE(context_->GetTransaction()->empty());
  }
}

TEST_F(PackageUnpackerTest, DirectUnpackingCopiesTheListedFiles) {
  MakeState(true);
  const struct {
    const char* files_list;
    bool ok;
    InstallerResult code;
    const char* error_start;
  } kCases[] = {
      {"kavor.dll\r\nresources/a.pak\r\n", true, RESULT_SUCCESS, ""},
      {"kavor.dll\r\n..\\x\r\n", false, RESULT_GENERAL_ERROR,
       "Files list entry outside the package: '..\\x'\n"
       "Cannot read debug files list\n"
       "Cannot copy unpacked files to subfolder."},
      {"kavor.dll\r\nmissing.dll\r\n", false, RESULT_COPY_FAILED,
       "Cannot copy package file 'missing.dll'\nThe source file "},
  };
  WritePackageFile(L"kavor.dll", "d");
  WritePackageFile(L"resources\\a.pak", "p");
  WritePackageFile(L"root_files_list", "kavor_setup.exe\r\n");
  WritePackageFile(L"kavor_setup.exe", "s");
  WritePackageFile(L"launcher.exe", "l");
  WritePackageFile(L"installer_helper_64.exe", "h");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.files_list);
    recorder_.events.clear();
    WritePackageFile(L"files_list", c.files_list);
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    ASSERT_EQ(c.ok, MakeUnpacker("47.0.4127.0")->Unpack(&command_line));
    if (!c.ok) {
      InstallerResult code;
      EXPECT_EQ(0u, LastError(&code).find(c.error_start)) << LastError(&code);
      EXPECT_EQ(c.code, code);
      RollbackOperations(context_->GetTransaction());
      EXPECT_TRUE(InstallTree().empty());
      continue;
    }
    std::vector<std::string> expected_events = {"total 7"};
    for (int i = 0; i < 7; ++i)
      expected_events.push_back("direct_unpacking " + base::IntToString(i));
    EXPECT_EQ(expected_events, recorder_.events);
    EXPECT_EQ(
        std::vector<std::string>(
            {"47.0.4127.0\\", "47.0.4127.0\\files_list",
             "47.0.4127.0\\installer_helper_64.exe", "47.0.4127.0\\kavor.dll",
             "47.0.4127.0\\kavor_setup.exe", "47.0.4127.0\\launcher.exe",
             "47.0.4127.0\\resources\\", "47.0.4127.0\\resources\\a.pak",
             "47.0.4127.0\\root_files_list"}),
        InstallTree());
    RollbackOperations(context_->GetTransaction());
    EXPECT_TRUE(InstallTree().empty());
  }
}

TEST_F(PackageUnpackerTest, UnpacksTheArchiveAndTakesAwayAFailedOrEscapingOne) {
  WritePackageFile(L"kavor_package", "7z");
  const base::FilePath up = temp_.GetPath().Append(L"up");
  const struct {
    std::vector<base::string16> entries;
    int result;
    const char* error;  // after "Unpack archive operation failed\n"
  } kCases[] = {
      {{L"sub\\", L"sub\\a.txt", L"b.txt"}, 0, nullptr},
      {{L"a.txt", L"b.txt"}, 7, "Could not lzma unpack, error code: 7"},
      {{L"a.txt", L"..\\evil.txt"},
       0,
       "Archive entry outside the destination folder: "},
      {{L"a.txt", up.value() + L"\\"},
       0,
       "Archive entry outside the destination folder: "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.entries.back());
    recorder_.events.clear();
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    const bool ok = MakeUnpacker("47.0.4127.0", std::make_unique<FakeLzmaUtil>(
                                                    c.entries, c.result))
                        ->Unpack(&command_line);
    ASSERT_EQ(c.error == nullptr, ok);
    if (ok) {
      EXPECT_EQ(std::vector<std::string>(
                    {"total 3", "direct_unpacking 1", "direct_unpacking 2"}),
                recorder_.events);
      EXPECT_EQ(std::vector<std::string>({"47.0.4127.0\\", "47.0.4127.0\\b.txt",
                                          "47.0.4127.0\\sub\\",
                                          "47.0.4127.0\\sub\\a.txt"}),
                InstallTree());
    } else {
      const std::string expected =
          std::string("Unpack archive operation failed\n") + c.error;
      EXPECT_EQ(expected, LastError(nullptr).substr(0, expected.size()));
      EXPECT_NE(std::string::npos,
                LastError(nullptr).find("\nCannot unpack the installer"));
    }
    RollbackOperations(context_->GetTransaction());
    EXPECT_TRUE(InstallTree().empty());
    EXPECT_FALSE(base::PathExists(up));
  }
}

TEST_F(PackageUnpackerTest, ThisBuildCannotReadAnArchive) {
  WritePackageFile(L"kavor_package", "7z");
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  EXPECT_FALSE(
      MakeUnpacker("47.0.4127.0", CreateLzmaUtil())->Unpack(&command_line));
  EXPECT_EQ(
      "Unpack archive operation failed\nCould not open the archive: 2\n"
      "Cannot unpack the installer",
      LastError(nullptr));
}

}  // namespace
}  // namespace installer
