#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/macros.h"
#include "base/values.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/json_installation_status_reader.h"
#include "desktop/windows/installer/service/json_installation_status_writer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

InstallationStatus FullRecord(bool all_users) {
  InstallationStatus status(INSTALLATION_STATUS_PRIMARY);
  status.copy_only = true;
  status.all_users = all_users;
  status.app_id = L"Kavor.ABC";
  status.path = FilePath(L"C:\\Kavor");
  status.subfolder = FilePath(L"47.0");
  status.version = "47.0.1";
  status.desktop_shortcut = FilePath(L"d.lnk");
  status.menu_shortcut = FilePath(L"m.lnk");
  status.quick_launch_shortcut = FilePath(L"q.lnk");
  status.files = {FilePath(L"a.dll"), FilePath(L"b\\c.pak")};
  status.root_files = {FilePath(L"launcher.exe")};
  status.components = {{"widevine", FilePath(L"C:\\K\\wv")}};
  status.hklm_keys = {{2, "Software\\Kavor", {{"REG_SZ", "", "x"}}}};
  return status;
}

TEST(JsonInstallationStatusTest, WritesCompactSortedText) {
  InstallationStatus full = FullRecord(true);
  // An unpaired surrogate cannot be stored as it is.
  full.app_id = std::wstring{L'K', static_cast<wchar_t>(0xD800)};
  InstallationStatus per_user;
  per_user.desktop_shortcut = FilePath(L"d.lnk");
  per_user.menu_shortcut = FilePath(L"m.lnk");
  const struct {
    InstallationStatus status;
    std::string json;
  } kCases[] = {
      {InstallationStatus(),
       "{\"_all_users\":false,\"_subfolder\":\"\",\"copy_only\":false,"
       "\"files\":[],\"path\":\"\",\"registry\":{},\"version\":\"\"}"},
      {full,
       "{\"_all_users\":true,\"_subfolder\":\"47.0\","
       "\"app_id\":\"K\xEF\xBF\xBD\","
       "\"components\":{\"widevine\":\"C:\\\\K\\\\wv\"},\"copy_only\":true,"
       "\"files\":[\"a.dll\",\"b\\\\c.pak\"],\"path\":\"C:\\\\Kavor\","
       "\"registry\":{\"HKLM\":[{\"clean\":2,\"path\":\"Software\\\\Kavor\","
       "\"values\":[{\"data\":\"x\",\"name\":\"\",\"type\":\"REG_SZ\"}]}]},"
       "\"root_files\":[\"launcher.exe\"],"
       "\"shortcuts\":{\"SC_DEST_COMMON_DESKTOP\":\"d.lnk\","
       "\"SC_DEST_COMMON_MENU\":\"m.lnk\",\"SC_DEST_QUICK_LAUNCH\":\"q.lnk\"},"
       "\"version\":\"47.0.1\"}"},
      {per_user,
       "{\"_all_users\":false,\"_subfolder\":\"\",\"copy_only\":false,"
       "\"files\":[],\"path\":\"\",\"registry\":{},"
       "\"shortcuts\":{\"SC_DEST_DESKTOP\":\"d.lnk\",\"SC_DEST_MENU\":\"m."
       "lnk\"},"
       "\"version\":\"\"}"},
  };
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const FilePath file = dir.GetPath().Append(L"installation_status.json");
  // A longer file first, so that a write that does not truncate shows.
  ASSERT_EQ(3, base::WriteFile(file, "xxx", 3));
  JsonInstallationStatusWriter writer;
  for (const auto& test : kCases) {
    ASSERT_TRUE(writer.WriteToFile(test.status, file));
    std::string written;
    ASSERT_TRUE(base::ReadFileToString(file, &written));
    EXPECT_EQ(test.json, written);
  }
}

TEST(JsonInstallationStatusTest, ReadsBackWhatWasWritten) {
  InstallationStatus per_user = FullRecord(false);
  per_user.hkcu_keys = {
      {0xFFFFFFFFu, "Software\\A", {}},
      {0x80000000u, "Software\\B", {{"REG_DWORD", "n", "1"}}}};
  // A component name is a key, dots and all.
  per_user.components.insert(per_user.components.begin(),
                             {"a.b", FilePath(L"C:\\K\\ab")});
  JsonInstallationStatusWriter writer;
  for (const InstallationStatus& original :
       {InstallationStatus(), FullRecord(true), per_user}) {
    const std::string json = writer.ToJson(original);
    for (InstallationStatusOrigin origin :
         {INSTALLATION_STATUS_PRIMARY,
          INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES}) {
      std::unique_ptr<InstallationStatusReader> reader =
          CreateInstallationStatusReader(origin);
      ASSERT_TRUE(reader);
      std::unique_ptr<InstallationStatus> read;
      reader->Read(&read, json, origin);
      ASSERT_TRUE(read) << json << ": " << reader->GetError();
      InstallationStatus expected = original;
      expected.origin = origin;
      EXPECT_TRUE(*read == expected) << json;
    }
  }
  for (uint32_t origin : {0, 1, 6, 7, 8}) {
    EXPECT_FALSE(CreateInstallationStatusReader(
        static_cast<InstallationStatusOrigin>(origin)))
        << origin;
  }
}

// The base record below with |member| (a dotted path) replaced by the JSON
// value |value|, or removed when |value| is null.
std::string EditedStatus(const char* member, const char* value) {
  std::unique_ptr<base::Value> root = base::JSONReader::Read(
      "{\"version\":\"1\",\"copy_only\":false,\"_all_users\":false,"
      "\"path\":\"C:\\\\K\",\"files\":[],\"registry\":{}}");
  base::DictionaryValue* dict;
  EXPECT_TRUE(root && root->GetAsDictionary(&dict));
  if (value) {
    std::unique_ptr<base::Value> parsed = base::JSONReader::Read(value);
    EXPECT_TRUE(parsed) << value;
    dict->Set(member, std::move(parsed));
  } else {
    EXPECT_TRUE(dict->RemovePath(member, nullptr)) << member;
  }
  std::string json;
  EXPECT_TRUE(base::JSONWriter::Write(*dict, &json));
  return json;
}

TEST(JsonInstallationStatusTest, ReaderChecksEveryMember) {
  const std::string kDeep = std::string(300, '[') + std::string(300, ']');
  const struct {
    // The whole text when |member| is null, else the member's new value.
    const char* member;
    std::string value;
    bool remove;
    // Null when the read must succeed.
    const char* error;
    bool (*check)(const InstallationStatus&);
  } kCases[] = {
      {nullptr, "", false,
       "Cannot parse the file as JSON: Line: 1, column: 1, Unexpected token."},
      {nullptr, "{\"version\":", false,
       "Cannot parse the file as JSON: Line: 1, column: 12, Unexpected token."},
      {nullptr, "{\"version\":\"1\",}", false,
       "Cannot parse the file as JSON: Line: 1, column: 16, "
       "Trailing comma not allowed."},
      {nullptr, "{\"version\":\"\xff\"}", false,
       "Cannot parse the file as JSON: Line: 1, column: 14, "
       "Unsupported encoding. JSON must be UTF-8."},
      {nullptr, kDeep, false,
       "Cannot parse the file as JSON: Line: 1, column: 200, "
       "Too much nesting."},
      {nullptr, "[]", false, "The root is not a dictionary"},
      {"version", "1", false, "No version information"},
      {"app_id", "5", false, "Invalid app id type"},
      {"copy_only", "\"false\"", false, "No copy only information"},
      {"_all_users", "", true, "No all users information"},
      {"path", "null", false, "No install path information"},
      {"_subfolder", "[]", false, "Subfolder not a string"},
      {"files", "", true, "No files list"},
      {"files", "{}", false, "No files list"},
      {"files", "[\"a\",1]", false, "Element on files list is not a string"},
      {"root_files", "{}", false, "root_files is not a list"},
      {"root_files", "[2]", false, "Element on files list is not a string"},
      {"registry", "", true, "No registry dictionary"},
      // No text of its own, and none left over from the read before.
      {"registry.HKLM", "5", false, ""},
      {"registry.HKCU", "[5]", false, "Registry key not a dictionary"},
      {"registry.HKLM", "[{\"clean\":1,\"values\":[]}]", false,
       "Registry key dictionary doesn't specify a path"},
      {"registry.HKLM", "[{\"path\":\"k\",\"clean\":1.5,\"values\":[]}]", false,
       "No cleanup information on a registry key"},
      {"registry.HKLM", "[{\"path\":\"k\",\"clean\":3000000000,\"values\":[]}]",
       false, "No cleanup information on a registry key"},
      {"registry.HKLM", "[{\"path\":\"k\",\"clean\":1}]", false,
       "No values list in a registry key"},
      {"registry.HKLM", "[{\"path\":\"k\",\"clean\":1,\"values\":[3]}]", false,
       "Registry value is not a dictionary"},
      {"registry.HKLM",
       "[{\"path\":\"k\",\"clean\":1,\"values\":[{\"type\":\"REG_SZ\"}]}]",
       false, "No name in a registry key value"},
      {"registry.HKLM",
       "[{\"path\":\"k\",\"clean\":1,\"values\":[{\"name\":\"\"}]}]", false,
       "No type information on a registry key value"},
      {"shortcuts", "7", false, "Shortcuts not a dictionary"},
      {"shortcuts.SC_DEST_MENU", "1", false, "Shorcut path is not a string"},
      {"shortcuts.SC_DEST_TASKBAR", "\"t.lnk\"", false,
       "Invalid shortcut type SC_DEST_TASKBAR"},
      {"components.widevine", "[]", false, "Shorcut path is not a string"},
      // A NUL would end the path after trimming, leaving "C:\K " behind.
      {"path", "\"C:\\\\K \\u0000 \"", false,
       "A path holds a control character"},
      {"_subfolder", "\"47\\u001f\"", false,
       "A path holds a control character"},
      {"files", "[\"a\",\"b \\u0000\"]", false,
       "A path holds a control character"},
      {"root_files", "[\"a\\tb\"]", false, "A path holds a control character"},
      {"shortcuts.SC_DEST_MENU", "\"m\\u0000.lnk\"", false,
       "A path holds a control character"},
      {"components.widevine", "\"C:\\\\w\\nv\"", false,
       "A path holds a control character"},
      // What the writer never writes but the reader takes.
      {"path", "\" C:\\\\K\\u3000\\t\"", false, nullptr,
       [](const InstallationStatus& s) {
         return s.path == FilePath(L"C:\\K");
       }},
      {"shortcuts", "{\"SC_DEST_DESKTOP\":\" d.lnk \"}", false, nullptr,
       [](const InstallationStatus& s) {
         return s.desktop_shortcut == FilePath(L" d.lnk ");
       }},
      {"files", "[\" a.dll\"]", false, nullptr,
       [](const InstallationStatus& s) {
         return s.files == std::vector<FilePath>{FilePath(L"a.dll")};
       }},
      {"components", "{\"b\":\" B \",\"a\":\"A\"}", false, nullptr,
       [](const InstallationStatus& s) {
         return s.components ==
                std::vector<InstallationComponent>{{"a", FilePath(L"A")},
                                                   {"b", FilePath(L"B")}};
       }},
      {"components", "7", false, nullptr,
       [](const InstallationStatus& s) { return s.components.empty(); }},
      {"shortcuts",
       "{\"SC_DEST_MENU\":\"p\",\"SC_DEST_COMMON_MENU\":\"c\","
       "\"SC_DEST_COMMON_DESKTOP\":\"d\"}",
       false, nullptr,
       [](const InstallationStatus& s) {
         return s.menu_shortcut == FilePath(L"p") &&
                s.desktop_shortcut == FilePath(L"d");
       }},
      {"registry.HKLM",
       "[{\"path\":\"k\",\"clean\":-1,\"unknown\":0,"
       "\"values\":[{\"name\":\"n\",\"type\":\"REG_ODD\",\"data\":7}]}]",
       false, nullptr,
       [](const InstallationStatus& s) {
         return s.hkcu_keys.empty() &&
                s.hklm_keys == std::vector<RegistryKeyRecord>{
                                   {0xFFFFFFFFu, "k", {{"REG_ODD", "n", ""}}}};
       }},
  };
  // One reader for every case: an error must not leak into a later read.
  JsonInstallationStatusReader reader;
  for (const auto& test : kCases) {
    const std::string json =
        test.member ? EditedStatus(test.member,
                                   test.remove ? nullptr : test.value.c_str())
                    : test.value;
    SCOPED_TRACE(json);
    std::unique_ptr<InstallationStatus> status(new InstallationStatus());
    reader.Read(&status, json, INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES);
    if (test.error) {
      EXPECT_FALSE(status);
      EXPECT_EQ(test.error, reader.GetError());
      continue;
    }
    ASSERT_TRUE(status) << reader.GetError();
    EXPECT_EQ(INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES, status->origin);
    EXPECT_TRUE(!test.check || test.check(*status));
  }
}

// The reader refuses a path with a control character, so a record holding
// one is not written (a path never holds a NUL: FilePath ends there).
TEST(JsonInstallationStatusTest, RefusesControlCharactersInPaths) {
  const struct {
    void (*edit)(InstallationStatus*, const std::wstring&);
  } kCases[] = {
      {[](InstallationStatus* s, const std::wstring& p) {
        s->path = FilePath(p);
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->subfolder = FilePath(p);
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->files.push_back(FilePath(p));
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->root_files.push_back(FilePath(p));
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->desktop_shortcut = FilePath(p);
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->menu_shortcut = FilePath(p);
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->quick_launch_shortcut = FilePath(p);
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->components.push_back({"c", FilePath(p)});
      }},
      // Not only the first entry of a list.
      {[](InstallationStatus* s, const std::wstring& p) {
        s->files.insert(s->files.begin() + 1, FilePath(p));
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->root_files = {FilePath(L"launcher.exe"), FilePath(p)};
      }},
      {[](InstallationStatus* s, const std::wstring& p) {
        s->components = {{"a", FilePath(L"C:\\a")}, {"c", FilePath(p)}};
      }},
  };
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const FilePath file = dir.GetPath().Append(L"installation_status.json");
  ASSERT_EQ(3, base::WriteFile(file, "old", 3));
  JsonInstallationStatusWriter writer;
  for (const std::wstring& bad :
       {std::wstring(L"C:\\K \x01 "), std::wstring(L"C:\\K\x1f")}) {
    for (size_t i = 0; i < arraysize(kCases); ++i) {
      InstallationStatus status = FullRecord(false);
      kCases[i].edit(&status, bad);
      EXPECT_EQ("", writer.ToJson(status)) << i;
      EXPECT_FALSE(writer.WriteToFile(status, file)) << i;
    }
  }
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(file, &contents));
  EXPECT_EQ("old", contents);
  // Other characters below U+0100 are fine.
  InstallationStatus status = FullRecord(false);
  status.path = FilePath(L"C:\\K\x7f\x85");
  EXPECT_NE("", writer.ToJson(status));
}

TEST(JsonInstallationStatusTest, RecordsRegistryValuesAsText) {
  const uint8_t kBytes[] = {1, 171, 255};
  const uint32_t kSmall = 171;
  const uint32_t kAllBits = 0xFFFFFFFF;
  const wchar_t kText[] = L"caf\u00e9";
  // Two records that match alike: the later one takes the value.
  std::vector<RegistryKeyRecord> keys = {{0, "Software\\Dup", {}},
                                         {0, "software\\dup", {}}};
  AddRegistryValueToStatus(&keys, L"Software\\Kavor", L"bin", kBytes, 3, 3, 1);
  AddRegistryValueToStatus(&keys, L"SOFTWARE\\kavor", L"dw", &kSmall, 4, 4, 2);
  AddRegistryValueToStatus(&keys, L"Software\\Kavor", L"", kText, 1,
                           sizeof(kText), 0);
  AddRegistryValueToStatus(&keys, L"Software\\Kavor", L"gone", nullptr, -1, 0,
                           9);
  AddRegistryValueToStatus(&keys, L"Software\\Other", L"all", &kAllBits, 4, 4,
                           0);
  AddRegistryValueToStatus(&keys, L"Software\\Other", L"n\u00e9", nullptr, 2, 0,
                           0);
  AddRegistryValueToStatus(&keys, L"Software\\Other", L"q", &kAllBits, 11, 4,
                           0);
  AddRegistryValueToStatus(&keys, L"SOFTWARE\\DUP", L"d", nullptr, 1, 0, 1);
  const std::vector<RegistryKeyRecord> kExpected = {
      {0, "Software\\Dup", {}},
      {1, "software\\dup", {{"REG_SZ", "d", ""}}},
      {2,
       "Software\\Kavor",
       {{"REG_BINARY", "bin", "01,ab,ff"},
        {"REG_DWORD", "dw", "000000ab"},
        {"REG_SZ", "", "caf\xC3\xA9"}}},
      {0,
       "Software\\Other",
       {{"REG_DWORD", "all", "ffffffff"},
        {"REG_EXPAND_SZ", "n\xC3\xA9", ""},
        {"REG_QWORD", "q", ""}}},
  };
  InstallationStatus status;
  status.hklm_keys = keys;
  EXPECT_TRUE(keys == kExpected)
      << JsonInstallationStatusWriter().ToJson(status);
}

}  // namespace
}  // namespace installer
