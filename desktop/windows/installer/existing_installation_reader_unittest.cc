#include "desktop/windows/installer/existing_installation_reader.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/test/fake_signature_checker.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

bool WriteText(const FilePath& path, const std::string& text) {
  return base::CreateDirectory(path.DirName()) &&
         base::WriteFile(path, text.data(), static_cast<int>(text.size())) ==
             static_cast<int>(text.size());
}

std::string Json(const std::string& version) {
  return "{\"version\":\"" + version +
         "\",\"copy_only\":false,\"_all_users\":false,\"path\":\"C:\\\\K\","
         "\"files\":[],\"registry\":{}}";
}

std::string Xml(const std::string& version) {
  return "<install_log version=\"" + version +
         "\" copy_only=\"False\" all_users=\"False\"><path>C:\\K</path>"
         "<files><file>a</file></files><root_files><file>r</file>"
         "</root_files></install_log>";
}

// Answers with a record of its own when a test asks it to.
class FakeLegacyReader : public LegacyInstallationReader {
 public:
  std::unique_ptr<InstallationStatus> Read(const FilePath&) override {
    if (!answer)
      return nullptr;
    auto status = std::make_unique<InstallationStatus>(
        INSTALLATION_STATUS_FULLY_RECOVERED);
    status->version = "legacy";
    return status;
  }
  bool answer = false;
};

TEST(InstallationStatusFileReaderTest, ChoosesTheFileOfTheRecord) {
  base::win::ScopedCOMInitializer com;
  FakeLegacyReader legacy;
  SetLegacyInstallationReaderForTesting(&legacy);
  const std::string kCorrupt = "{\"version\":";
  const struct {
    // Empty: no such file.
    std::string json;
    std::string xml;
    std::vector<std::pair<const wchar_t*, std::string>> old_files;
    bool recovery;
    bool legacy;
    // Empty: no record.
    std::string version;
    InstallationStatusOrigin origin;
  } kCases[] = {
      {Json("json"),
       Xml("xml"),
       {},
       false,
       true,
       "json",
       INSTALLATION_STATUS_PRIMARY},
      {kCorrupt, Xml("xml"), {}, false, false, "", INSTALLATION_STATUS_INVALID},
      {"", Xml("xml"), {}, false, true, "xml", INSTALLATION_STATUS_LEGACY_XML},
      {"", Xml("xml"), {}, true, true, "xml", INSTALLATION_STATUS_LEGACY_XML},
      {kCorrupt,
       Xml("xml"),
       {{L"installation_status.json.2", Json("2")},
        {L"installation_status.json.10", Json("10")},
        {L"installation_status.json.x", Json("x")},
        {L"installation_status.xml.1", Xml("xml1")}},
       true,
       true,
       "10",
       INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES},
      {"",
       "<bad",
       {{L"installation_status.xml.3", Xml("3")}},
       true,
       false,
       "3",
       INSTALLATION_STATUS_LEGACY_XML_RECOVERED_FROM_OLD_FILES},
      // Copies are only read to recover.
      {"",
       "",
       {{L"installation_status.json.2", Json("2")}},
       false,
       true,
       "legacy",
       INSTALLATION_STATUS_FULLY_RECOVERED},
      {"", "", {}, true, false, "", INSTALLATION_STATUS_INVALID},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.json + " " + test.xml + " " + test.version);
    base::ScopedTempDir dir;
    ASSERT_TRUE(dir.CreateUniqueTempDir());
    if (!test.json.empty()) {
      ASSERT_TRUE(WriteText(dir.GetPath().Append(L"installation_status.json"),
                            test.json));
    }
    if (!test.xml.empty()) {
      ASSERT_TRUE(WriteText(dir.GetPath().Append(L"installation_status.xml"),
                            test.xml));
    }
    for (const auto& old_file : test.old_files) {
      ASSERT_TRUE(
          WriteText(dir.GetPath().Append(L"old_status").Append(old_file.first),
                    old_file.second));
    }
    legacy.answer = test.legacy;
    std::string error;
    std::string contents;
    std::unique_ptr<InstallationStatus> status =
        InstallationStatusFileReaderImpl().Read(dir.GetPath(), test.recovery,
                                                &error, &contents);
    ASSERT_EQ(!test.version.empty(), status != nullptr) << error;
    if (status) {
      EXPECT_EQ(test.version, status->version);
      EXPECT_EQ(test.origin, status->origin);
    }
  }
  SetLegacyInstallationReaderForTesting(nullptr);
}

TEST(InstallationStatusFileReaderTest, UnusableFilesAreDescribed) {
  base::win::ScopedCOMInitializer com;
  FakeLegacyReader legacy;
  SetLegacyInstallationReaderForTesting(&legacy);
  const struct {
    const wchar_t* name;
    std::string text;
    std::string error;
  } kCases[] = {
      {L"installation_status.json", "",
       "Kavor JSON status file status file, Cannot parse the file as JSON: "},
      {L"installation_status.xml", "<install_log/>",
       "Kavor legacy XML status file status file, There's no version "
       "attribute on the root element"},
  };
  for (const auto& test : kCases) {
    base::ScopedTempDir dir;
    ASSERT_TRUE(dir.CreateUniqueTempDir());
    ASSERT_TRUE(WriteText(dir.GetPath().Append(test.name), test.text));
    std::string error;
    std::string contents;
    EXPECT_FALSE(InstallationStatusFileReaderImpl().Read(dir.GetPath(), false,
                                                         &error, &contents));
    EXPECT_EQ(test.error, error.substr(0, test.error.size()));
    EXPECT_EQ(test.text, contents);
  }
  SetLegacyInstallationReaderForTesting(nullptr);
}

void WriteValue(const std::wstring& key,
                const wchar_t* name,
                const std::wstring& value) {
  base::win::RegKey reg(HKEY_CURRENT_USER, key.c_str(),
                        KEY_SET_VALUE | KEY_WOW64_32KEY);
  ASSERT_EQ(ERROR_SUCCESS, reg.WriteStringValue(name, value.c_str()));
}

class LegacyInstallationReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    folder_ = dir_.GetPath().Append(L"K\u00E4vor");
    uninstall_ = GetUninstallRegistryKey() + L"\\Kavor Stable";
    ASSERT_TRUE(base::CreateDirectory(folder_));
    // A stranger's entry and ours, which names the folder in other case.
    const std::wstring stranger = GetUninstallRegistryKey() + L"\\Kavor Other";
    WriteValue(stranger, L"Publisher", L"Someone");
    WriteValue(stranger, L"InstallLocation", folder_.value());
    WriteValue(uninstall_, L"Publisher", L"Kavor Software");
    WriteValue(uninstall_, L"InstallLocation",
               base::ToUpperASCII(folder_.value()) + L"\\");
  }

  void AddVersionFolder(const wchar_t* name, bool installer) {
    const FilePath version = folder_.Append(name);
    ASSERT_TRUE(WriteText(version.Append(L"kavor.exe"), "exe"));
    ASSERT_TRUE(WriteText(version.Append(L"lib").Append(L"a.dll"), "dll"));
    FilePath bin;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    if (installer) {
      ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_test_child.exe"),
                                 version.Append(L"installer.exe")));
    }
  }

  base::win::ScopedCOMInitializer com_;
  test::ScopedRegistryRoots roots_;
  base::ScopedTempDir dir_;
  FilePath folder_;
  std::wstring uninstall_;
};

TEST_F(LegacyInstallationReaderTest, RebuildsTheRecordOfAnOlderInstaller) {
  AddVersionFolder(L"47.0.4127.0", true);
  AddVersionFolder(L"48.0.0.0", true);
  ASSERT_TRUE(WriteText(folder_.Append(L"48.0.0.0").Append(L"files_list"), ""));
  AddVersionFolder(L"49.0.0.0", false);
  ASSERT_TRUE(WriteText(folder_.Append(L"Assets").Append(L"x.png"), "png"));
  ASSERT_TRUE(WriteText(folder_.Append(L"Resources.pri"), "pri"));
  const std::string command = "Software\\Classes\\" + GetProductInternalName() +
                              "\\shell\\open\\command";
  WriteValue(base::UTF8ToWide(command), nullptr, L"launch");

  std::unique_ptr<InstallationStatus> status =
      LegacyInstallationReaderImpl().Read(folder_);
  ASSERT_TRUE(status);
  InstallationStatus expected(INSTALLATION_STATUS_FULLY_RECOVERED);
  expected.path = folder_;
  expected.subfolder = FilePath(L"47.0.4127.0");
  expected.version = "47.0.4127.0";
  expected.files = {FilePath(L"installer.exe"), FilePath(L"kavor.exe"),
                    FilePath(L"lib\\a.dll")};
  expected.root_files = {FilePath(L"Assets\\x.png"),
                         FilePath(L"Resources.pri")};
  // The command key's row removes its parent on uninstall.
  expected.hkcu_keys = {
      {2, command, {{"REG_SZ", "", "launch"}}},
      {1,
       "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kavor "
       "Stable",
       {{"REG_SZ", "InstallLocation",
         base::WideToUTF8(base::ToUpperASCII(folder_.value()) + L"\\")},
        {"REG_SZ", "Publisher", "Kavor Software"}}},
  };
  EXPECT_TRUE(*status == expected);
  EXPECT_EQ(expected.hkcu_keys, status->hkcu_keys);
  EXPECT_EQ(expected.files, status->files);
}

// Answers for the shortcuts it was given, as the shell would for real ones.
class FakeShortcutReader : public ShortcutPropertiesReader {
 public:
  void ReadTargetAndAppId(const FilePath& shortcut,
                          base::win::ShortcutProperties* properties) override {
    auto found = links_.find(shortcut.value());
    if (found == links_.end())
      return;
    properties->set_target(found->second.first);
    if (found->second.second)
      properties->set_app_id(found->second.second);
  }
  void Add(const FilePath& link, const FilePath& target, const wchar_t* id) {
    links_[link.value()] = {target, id};
    ASSERT_TRUE(WriteText(link, "lnk"));
  }

 private:
  std::map<std::wstring, std::pair<FilePath, const wchar_t*>> links_;
};

TEST_F(LegacyInstallationReaderTest, ShortcutToTheFolderGivesTheAppId) {
  AddVersionFolder(L"47.0.4127.0", true);
  FilePath quick_launch;
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_USER_QUICK_LAUNCH, &quick_launch));
  ASSERT_TRUE(base::CreateDirectory(quick_launch));
  const std::wstring name =
      L"KavorLegacyReaderTest" + std::to_wstring(::GetCurrentProcessId());
  const FilePath browser = folder_.Append(L"47.0.4127.0").Append(L"kavor.exe");
  // Passed over: a shortcut to elsewhere, one without an app id, one whose
  // app id does not end in a number. The last one names the installation.
  const struct {
    const wchar_t* suffix;
    FilePath target;
    const wchar_t* app_id;
  } kLinks[] = {
      {L"a.lnk", dir_.GetPath().Append(L"kavor.exe"), L"Kavor.Stable.1"},
      {L"b.lnk", browser, nullptr},
      {L"c.lnk", browser, L"Kavor.Stable.x1"},
      {L"d.lnk", browser, L"Kavor.Stable.1442"},
  };
  FakeShortcutReader reader;
  for (const auto& link : kLinks)
    reader.Add(quick_launch.Append(name + link.suffix), link.target,
               link.app_id);

  std::unique_ptr<InstallationStatus> status =
      LegacyInstallationReaderImpl(&reader).Read(folder_);
  for (const auto& link : kLinks)
    base::DeleteFile(quick_launch.Append(name + link.suffix), false);
  ASSERT_TRUE(status);
  EXPECT_EQ(quick_launch.Append(name + L"d.lnk"),
            status->quick_launch_shortcut);
  EXPECT_EQ(L"1442", status->app_id);
  EXPECT_TRUE(status->desktop_shortcut.empty());
}

TEST_F(LegacyInstallationReaderTest, NoRecordWithoutAnInstallerToAsk) {
  AddVersionFolder(L"47.0.4127.0", false);
  EXPECT_FALSE(LegacyInstallationReaderImpl().Read(folder_));
}

// Counts the programs asked for their output.
class CountingOs : public OsOperationsImpl {
 public:
  bool GetAppOutput(const base::CommandLine& command_line,
                    std::string* output) override {
    ++runs;
    return OsOperationsImpl::GetAppOutput(command_line, output);
  }
  int runs = 0;
};

// The running installer signed as |own_signed| says; no other program's
// signature verifies.
TEST_F(LegacyInstallationReaderTest, SignedInstallerRunsOnlySignedOlderOnes) {
  AddVersionFolder(L"47.0.4127.0", true);
  CountingOs os;
  test::FakeSignatureChecker checker;
  SetOsOperationsForTesting(&os);
  SetSignatureCheckerForTesting(&checker);
  for (bool own_signed : {true, false}) {
    SCOPED_TRACE(own_signed);
    os.runs = 0;
    checker.own_signed = own_signed;
    std::unique_ptr<InstallationStatus> status =
        LegacyInstallationReaderImpl().Read(folder_);
    EXPECT_EQ(!own_signed, status != nullptr);
    EXPECT_EQ(own_signed ? 0 : 1, os.runs);
  }
  SetSignatureCheckerForTesting(nullptr);
  SetOsOperationsForTesting(nullptr);
}

}  // namespace
}  // namespace installer
