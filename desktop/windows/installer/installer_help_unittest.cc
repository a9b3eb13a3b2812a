#include "desktop/windows/installer/installer_help.h"

#include <string>
#include <vector>

#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class CollectingSink : public HelpPrintSink {
 public:
  void Print(const std::string& text) override { text_ += text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::string HelpText(const std::vector<std::wstring>& languages) {
  CollectingSink sink;
  WriteHelpText(&sink, languages);
  return sink.text();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(InstallerHelpTest, TitleAndIntroduction) {
  EXPECT_TRUE(base::StartsWith(
      HelpText({L"en"}),
      "Kavor Installer 47.0.4127.0 developer\n\n"
      "The following command line parameters affect the behavior of the "
      "installer:\n  silent\n",
      base::CompareCase::SENSITIVE));
}

TEST(InstallerHelpTest, OneRowPerSwitch) {
  const std::string text = HelpText({L"en"});
  // A row starts with two blanks and the switch; descriptions and defaults
  // are indented by four.
  std::vector<std::string> rows;
  for (const std::string& line : base::SplitString(
           text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL)) {
    if (base::StartsWith(line, "  ", base::CompareCase::SENSITIVE) &&
        !base::StartsWith(line, "   ", base::CompareCase::SENSITIVE)) {
      rows.push_back(line.substr(2));
    }
  }
  const std::vector<std::string> kExpected = {
      "silent",
      "runimmediately",
      "language=LANGUAGE",
      "installfolder=FOLDER",
      "allusers=[0|1]",
      "copyonly=[0|1]",
      "singleprofile=[0|1]",
      "setdefaultbrowser=[0|1]",
      "desktopshortcut=[0|1]",
      "startmenushortcut=[0|1]",
      "quicklaunchshortcut=[0|1]",
      "pintotaskbar=[0|1]",
      "import-browser-data=[0|1]",
      "enable-stats=[0|1]",
      "enable-installer-stats=[0|1]",
      "launchbrowser=[0|1]",
  };
  EXPECT_EQ(kExpected, rows);
}

TEST(InstallerHelpTest, RowsWithAndWithoutDefaults) {
  const std::string text = HelpText({L"en"});
  // No value form and no default line.
  EXPECT_TRUE(Contains(
      text,
      "  silent\n    Run the installer fully unattended. No dialog will be "
      "displayed in this mode. If it isn't running with sufficient "
      "privileges, the installer will fail instead of prompting the user.\n"
      "  runimmediately\n"));
  EXPECT_TRUE(Contains(
      text, "will prompt the user for elevation if needed.\n  language="));
  // The product name fills description and default.
  EXPECT_TRUE(Contains(
      text,
      "  language=LANGUAGE\n    Install Kavor in the specified language.This "
      "language will also be used during installation.\n    Default value: "
      "The Operating system UI language.\n  installfolder=FOLDER\n    "
      "Install Kavor in the specified folder.\n  allusers"));
  EXPECT_TRUE(Contains(
      text,
      "  setdefaultbrowser=[0|1]\n    If true, make Kavor the default browser "
      "for this user or computer.\n    Default value: True for Kavor "
      "Stable.\n"));
  EXPECT_TRUE(Contains(text,
                       "    Default value: False on Window 7 and later. True "
                       "otherwise\n  pintotaskbar"));
  EXPECT_FALSE(Contains(text, "%s"));
}

TEST(InstallerHelpTest, LanguagesAndExperimentsEndTheText) {
  EXPECT_TRUE(EndsWith(
      HelpText({L"en", L"de", L"pt-BR"}),
      "    If true, Kavor is launched once the installation is completed.\n"
      "    Default value: True.\n"
      "\nLanguages available for the language option:\n"
      "en, de, pt-BR\n"
      "\nFeatures available through command-line switches:\n"
      "\t--with-feature:installer-experiment-test [Enabled by default: "
      "false]\n"
      "\t--with-feature:installer-use-minimal-package [Enabled by default: "
      "false]\n"
      "\t--with-feature:installer-handle-proprietary-uris [Enabled by "
      "default: false]\n"));
}

}  // namespace
}  // namespace installer
