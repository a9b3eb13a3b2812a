#include "desktop/windows/installer/service/xml_installation_status_reader.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/strings/sys_string_conversions.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

const char kRoot[] =
    "<install_log version=\"47.0\" copy_only=\"True\" all_users=\"True\">";
const char kPathAndFiles[] =
    "<path>C:\\K</path><files><file>a.dll</file></files>";

// A log of the root above, |body| and its end.
std::string Log(const std::string& body) {
  return kRoot + body + "</install_log>";
}

class XmlInstallationStatusReaderTest : public testing::Test {
 protected:
  // The record of |text| read as a legacy log; null with |error_| set.
  std::unique_ptr<InstallationStatus> Read(const std::string& text) {
    std::unique_ptr<InstallationStatusReader> reader =
        CreateInstallationStatusReader(INSTALLATION_STATUS_LEGACY_XML);
    std::unique_ptr<InstallationStatus> status;
    if (!reader)
      return status;
    reader->Read(&status, text, INSTALLATION_STATUS_LEGACY_XML);
    error_ = reader->GetError();
    return status;
  }

  base::win::ScopedCOMInitializer com_;
  std::string error_;
};

TEST_F(XmlInstallationStatusReaderTest, ReadsEverySection) {
  std::unique_ptr<InstallationStatus> status = Read(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<install_log version=\"47.0.1\" app_id=\"1442\" copy_only=\"true\" "
      "all_users=\"True\">\n"
      "  <!-- comments and text between elements are skipped -->\n"
      "  <path subfolder=\" 47.0.1 \"> C:\\K\xC3\xA4vor\\\xE6\x9C\xAC\n"
      "  </path>\n"
      "  <files>text<file>a.dll</file><file> b\\c.pak </file></files>\n"
      "  <root_files><file>Assets\\x.png</file></root_files>\n"
      "  <registry hive=\"HKLM\"><key path=\"Software\\K\" clean=\"-1\">"
      "<value name=\"\" type=\"REG_SZ\"> x y\t</value></key></registry>\n"
      "  <registry hive=\"HKLM\"><key path=\"Software\\L\" clean=\"+2\"/>"
      "</registry>\n"
      "  <registry hive=\"HKCU\"><key path=\"Software\\M\" clean=\"0\"/>"
      "</registry>\n"
      "  <shortcut type=\"SC_DEST_COMMON_MENU\">m1.lnk</shortcut>\n"
      "  <shortcut type=\"SC_DEST_MENU\"> m2.lnk </shortcut>\n"
      "  <shortcut type=\"SC_DEST_QUICK_LAUNCH\">q.lnk</shortcut>\n"
      "  <components><component><name>widevine</name><path> C:\\wv </path>"
      "<more/></component></components>\n"
      "</install_log>\n");
  ASSERT_TRUE(status) << error_;
  InstallationStatus expected(INSTALLATION_STATUS_LEGACY_XML);
  expected.version = "47.0.1";
  expected.app_id = L"1442";
  expected.copy_only = false;  // only "True" is true
  expected.all_users = true;
  expected.path = FilePath(L"C:\\K\u00E4vor\\\u672C");
  expected.subfolder = FilePath(L"47.0.1");
  expected.files = {FilePath(L"a.dll"), FilePath(L"b\\c.pak")};
  expected.root_files = {FilePath(L"Assets\\x.png")};
  expected.hklm_keys = {
      {static_cast<uint32_t>(-1), "Software\\K", {{"REG_SZ", "", "x y"}}},
      {2, "Software\\L", {}}};
  expected.hkcu_keys = {{0, "Software\\M", {}}};
  expected.menu_shortcut = FilePath(L"m2.lnk");
  expected.quick_launch_shortcut = FilePath(L"q.lnk");
  expected.components = {{"widevine", FilePath(L"C:\\wv")}};
  EXPECT_TRUE(*status == expected);
  EXPECT_EQ(expected.path, status->path);
}

TEST_F(XmlInstallationStatusReaderTest, CompleteLogsOfFewerSections) {
  const char* const kBodies[] = {
      "<root_files><file>r</file></root_files>",
      "<registry hive=\"HKCU\"><key path=\"K\" clean=\"1\"/></registry>",
      "<shortcut type=\"SC_DEST_DESKTOP\">d.lnk</shortcut>",
      "<components><component><name>n</name><path>p</path></component>"
      "</components>",
  };
  for (const char* body : kBodies) {
    std::unique_ptr<InstallationStatus> status =
        Read(Log(kPathAndFiles + std::string(body)));
    ASSERT_TRUE(status) << body << ": " << error_;
    EXPECT_TRUE(status->copy_only);
    EXPECT_EQ(std::vector<FilePath>{FilePath(L"a.dll")}, status->files);
  }
}

TEST_F(XmlInstallationStatusReaderTest, ANSITextIsReadInTheSystemCodePage) {
  std::unique_ptr<InstallationStatus> status =
      Read(Log("<path>C:\\K\xE4</path><files><file>a</file></files>"
               "<root_files><file>r</file></root_files>"));
  ASSERT_TRUE(status) << error_;
  EXPECT_EQ(base::SysMultiByteToWide("C:\\K\xE4", CP_ACP),
            status->path.value());
}

TEST_F(XmlInstallationStatusReaderTest, RefusedLogsSayWhy) {
  const std::string kValid = kPathAndFiles;
  const std::string kKey = "<registry hive=\"HKLM\"><key path=\"K\" clean=";
  const std::string kComponent = kValid + "<components><component>";
  const struct {
    std::string text;
    std::string error;
  } kCases[] = {
      {"<install_log",
       "Cannot parse the file as XML: Cannot load the document "
       "from string w/err 1"},
      {"<log/>", "The root element's name is invalid"},
      {"<install_log copy_only=\"True\" all_users=\"True\"/>",
       "There's no version attribute on the root element"},
      {"<install_log version=\"1\" all_users=\"True\"/>",
       "There's no copy_only attribute on the root element"},
      {"<install_log version=\"1\" copy_only=\"True\"/>",
       "There's no all_users attribute on the root element"},
      {Log(""), "Cannot proceed to the path"},
      {Log("<paths/>"), "The path element is not named correctly"},
      {Log("<path/>"), "Cannot go to files element"},
      {Log("<path/><file/>"), "Files element is incorrectly named"},
      {Log("<path/><files/>"), "Cannot proceed to the first file on the list"},
      {Log("<path/><files><files/></files>"),
       "File element is incorrectly named"},
      {Log(kValid), "Cannot proceed to the expected root files list"},
      {Log(kValid + "<other/>"),
       "Invalid element in place of the optional root files list"},
      {Log(kValid + "<root_files/>"), "Cannot proceed to the first root file"},
      {Log(kValid + "<root_files><f/></root_files>"),
       "A root file is incorrectly named"},
      {Log(kValid + "<root_files><file/></root_files><other/>"),
       "Invalid successor of root files list"},
      {Log(kValid + "<registry/>"),
       "Cannot get the hive attibute of a registry element"},
      {Log(kValid + "<registry hive=\"HKCR\"/>"),
       "The hive attribute is not HKLM nor HKCU"},
      {Log(kValid + kKey + "\"1\"/></registry><other/>"),
       "Invalid successor of the registry element"},
      {Log(kValid + kKey + "\" 1\"/></registry>"),
       "The clean attribute of registry key K is not an integer"},
      {Log(kValid + kKey + "\"1\"><value type=\"REG_SZ\"/></key></registry>"),
       "A value of registry key K lacks its name, type or text"},
      {Log(kValid + "<shortcut/>"),
       "A shortcut element doesn't feature a type attribute"},
      {Log(kValid + "<shortcut type=\"SC_DEST_START\"/>"),
       "Invalid shortcut type SC_DEST_START"},
      {Log(kValid + "<shortcut type=\"SC_DEST_MENU\"/><registry/>"),
       "Invalid element registry after the shortcuts"},
      {Log(kValid + "<components/>"), "Failed going to the first component"},
      {Log(kValid + "<components><c/></components>"),
       "A component element is not called component"},
      {Log(kComponent + "</component></components>"),
       "Cannot go to first child of a component"},
      {Log(kComponent + "<path/></component></components>"),
       "Component's first child is not called name"},
      {Log(kComponent + "<name/></component></components>"),
       "Cannot go to component.name sibling"},
      {Log(kComponent + "<name/><name/></component></components>"),
       "component.path is not called path"},
      {Log(kValid + "<components><component><name/><path/></component>"
                    "</components><components/>"),
       "Components are not the last element in status"},
  };
  const std::string kDtd =
      "<!DOCTYPE install_log [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>";
  const std::string kRefusedDtd =
      "The document declares a DTD, which a status file never has";
  std::string oversized =
      Log(kValid + "<root_files><file>r</file></root_files>");
  oversized.resize(kMaxInstallLogSize + 1, ' ');
  const struct {
    std::string text;
    std::string error;
  } kRefusedBeforeParsing[] = {
      {kDtd + Log(kValid + "<root_files><file>&b;</file></root_files>"),
       kRefusedDtd},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!doctype install_log>" +
           Log(kValid + "<root_files><file>r</file></root_files>"),
       kRefusedDtd},
      {oversized, "The file is larger than 16777216 bytes"},
  };
  for (const auto& test : kRefusedBeforeParsing) {
    EXPECT_FALSE(Read(test.text)) << test.text.substr(0, 80);
    EXPECT_EQ(test.error, error_) << test.text.substr(0, 80);
  }
  for (const auto& test : kCases) {
    EXPECT_FALSE(Read(test.text)) << test.text;
    EXPECT_EQ(test.error, error_) << test.text;
  }
}

}  // namespace
}  // namespace installer
