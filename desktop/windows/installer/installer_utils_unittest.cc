#include "desktop/windows/installer/installer_utils.h"

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installation_folder_details_impl.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerUtilsTest, ReadFilesList) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath list = temp.GetPath().Append(L"files_list");
  const std::string kText = "a.dll\r\n\r\nb\\c.dat\r\nx \n\rlast";
  ASSERT_TRUE(base::WriteFile(list, kText.data(), kText.size()));

  std::vector<std::string> lines = {"kept"};
  ASSERT_TRUE(ReadFilesList(list, &lines));
  EXPECT_EQ(
      (std::vector<std::string>{"a.dll", "b\\c.dat", "x ", "last", "kept"}),
      lines);

  ScopedInstallerErrorRecord record;
  EXPECT_FALSE(ReadFilesList(temp.GetPath().Append(L"missing"), &lines));
  EXPECT_EQ(RESULT_GENERAL_ERROR, GetLastInstallerErrorCode());
  EXPECT_EQ(5u, lines.size());
}

TEST(InstallerUtilsTest, MakeSafeRelativePath) {
  const struct {
    const wchar_t* entry;
    const wchar_t* relative;  // Null: refused.
  } kCases[] = {
      {L"kavor.exe", L"kavor.exe"},
      {L"resources/a.pak", L"resources\\a.pak"},
      {L"a\\b c\\d.e", L"a\\b c\\d.e"},
      {L"..a\\b..", L"..a\\b.."},
      {L"", nullptr},
      {L"..\\x", nullptr},
      {L"a/../../x", nullptr},
      {L"a\\. \\x", nullptr},
      {L"a\\...\\x", nullptr},
      {L"\\Windows\\x", nullptr},
      {L"/x", nullptr},
      {L"\\\\server\\share\\x", nullptr},
      {L"\\\\?\\C:\\x", nullptr},
      {L"C:\\x", nullptr},
      {L"C:x", nullptr},
      {L"a.exe:stream", nullptr},
      {L"a\\\\b", nullptr},
      {L"a\\", nullptr},
      // Device names, in any part, with an extension, in any case, with
      // the dots and blanks Windows drops.
      {L"con", nullptr},
      {L"NUL.txt", nullptr},
      {L"a\\aux\\b.dll", nullptr},
      {L"com1.x.y", nullptr},
      {L"COM9.dll", nullptr},
      {L"a\\lpt7", nullptr},
      {L"resources/lpt1", nullptr},
      {L"Prn. ", nullptr},
      {L"con .txt", nullptr},
      {L" nul", nullptr},
      {L"conout$", nullptr},
      {L"sub/CONOUT$.txt", nullptr},
      {L"Conin$", nullptr},
      {L"a\\CONIN$ .log\\b", nullptr},
      {L"a\\b?.dll", nullptr},
      // Names that only look like devices.
      {L"console.dll", L"console.dll"},
      {L".con", L".con"},
      {L"com10", L"com10"},
      {L"com0", L"com0"},
      {L"conin", L"conin"},
      {L"conout$x", L"conout$x"},
      {L"a\\nulx\\lpt", L"a\\nulx\\lpt"},
      {L"x ", L"x "},
  };
  for (const auto& c : kCases) {
    base::FilePath relative(L"unchanged");
    EXPECT_EQ(c.relative != nullptr, MakeSafeRelativePath(c.entry, &relative))
        << c.entry;
    if (c.relative) {
      EXPECT_EQ(c.relative, relative.value()) << c.entry;
    }
  }
}

// The system and FilePath both end a path at a NUL: each of these would
// name the target or its parent once cut.
TEST(InstallerUtilsTest, MakeSafeRelativePathRefusesControlCharacters) {
  const std::wstring kEntries[] = {
      std::wstring(L"..\\\0x", 5),
      std::wstring(L"a/..\\\0", 6),
      std::wstring(L"\0", 1),
      std::wstring(L"a\0b.dll", 7),
      L"a\tb.dll",
      L"a\x1F",
      L"a\x7F",
      L"dir\\a\nb",
  };
  for (const std::wstring& entry : kEntries) {
    base::FilePath relative(L"unchanged");
    std::string reason;
    EXPECT_FALSE(MakeSafeRelativePath(entry, &relative, &reason))
        << entry.size();
    EXPECT_EQ(L"unchanged", relative.value());
    EXPECT_EQ("it holds a control character", reason);
  }
}

TEST(InstallerUtilsTest, ReadFilesListNamesTheRefusedEntryAndTheReason) {
  const struct {
    std::string entry;
    const char* message;
  } kCases[] = {
      {std::string("..\\\0x", 5),
       "Files list entry '..\\\\x00x' refused: it holds a control character"},
      {"a:b", "Files list entry 'a:b' refused: it names a drive or a stream"},
      {"bin\\CON.dll",
       "Files list entry 'bin\\CON.dll' refused: it names a device or is "
       "not a valid file name"},
      {"CONOUT$",
       "Files list entry 'CONOUT$' refused: it names a device or is "
       "not a valid file name"},
      {"a\\..\\..\\x",
       "Files list entry 'a\\..\\..\\x' refused: it has an empty, \".\" or "
       "\"..\" part"},
      {"..\\evil.dll",
       "Files list entry '..\\evil.dll' refused: it has an empty, \".\" or "
       "\"..\" part"},
  };
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath list = temp.GetPath().Append(L"files_list");
  for (const auto& c : kCases) {
    // Good entries around the refused one, one in a subfolder.
    const std::string text =
        "a.dll\r\nb/c.dat\r\n" + c.entry + "\r\nb.dll\r\n";
    ASSERT_TRUE(base::WriteFile(list, text.data(), text.size()));
    ScopedInstallerErrorRecord record;
    std::vector<std::string> lines;
    EXPECT_FALSE(ReadFilesList(list, &lines)) << c.message;
    EXPECT_TRUE(lines.empty());
    InstallerResult code;
    std::string message;
    std::wstring path;
    GetLastInstallerError(&code, &message, &path);
    EXPECT_EQ(RESULT_GENERAL_ERROR, code);
    EXPECT_EQ(c.message, message);
    EXPECT_EQ(list.value(), path);
  }
}

// Settings whose folder was examined and refused.
class RefusedFolderSettings : public test::FakeSettings {
 public:
  explicit RefusedFolderSettings(const base::FilePath& path) {
    details_.Initialize(path, false);
  }
  FolderProblem GetFolderProblem() const override {
    return FOLDER_PROBLEM_INVALID_PATH;
  }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details_;
  }

 private:
  InstallationFolderDetailsImpl details_;
};

TEST(InstallerUtilsTest, RefusedFolderIsNamedWithTheReason) {
  const struct {
    const wchar_t* path;
    const char* reason;
  } kCases[] = {
      {L"C:\\Kavor\\CON",
       "is not a valid Windows folder path (too long, a device name, a part "
       "ending in a dot or blank or a character Windows refuses)"},
      {L"Kavor", "is relative"},
      {L"\\\\server\\share\\Kavor",
       "is on no drive or share that can be reached"},
  };
  for (const auto& c : kCases) {
    ScopedInstallerErrorRecord record;
    RefusedFolderSettings settings{base::FilePath(c.path)};
    EXPECT_FALSE(ValidateSettings(&settings));
    InstallerResult code;
    std::string message;
    std::wstring path;
    GetLastInstallerError(&code, &message, &path);
    EXPECT_EQ(RESULT_INVALID_LOCATION, code);
    EXPECT_EQ(
        "Attempting to start installation with invalid settings\n"
        "The path is invalid: \"" +
            base::WideToUTF8(c.path) + "\" " + c.reason,
        message);
    EXPECT_EQ(c.path, path);
  }
}

}  // namespace
}  // namespace installer
