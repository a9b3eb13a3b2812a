#include "desktop/windows/installer/installer_help.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

namespace {

// Texts of the switch table name the product as "%s". They are not used as
// format strings: a stray "%" in a description must not read arguments.
std::string FillProductName(const char* text) {
  std::string filled(text);
  base::ReplaceSubstringsAfterOffset(&filled, 0, "%s", GetProductName());
  return filled;
}

class ConsoleSink : public HelpPrintSink {
 public:
  void Print(const std::string& text) override { fputs(text.c_str(), stdout); }
};

}  // namespace

void WriteHelpText(HelpPrintSink* sink,
                   const std::vector<std::wstring>& languages) {
  sink->Print(
      base::StringPrintf("%s Installer %s %s\n\n", GetProductName().c_str(),
                         GetVersionString().c_str(), GetChannelName().c_str()));
  sink->Print(
      "The following command line parameters affect the behavior of the "
      "installer:\n");

  size_t switch_count = 0;
  const SwitchHelp* switches = GetSwitchHelpTable(&switch_count);
  for (size_t i = 0; i < switch_count; ++i) {
    const SwitchHelp& entry = switches[i];
    std::string text = "  ";
    text += entry.name;
    if (entry.value_form) {
      text += '=';
      text += entry.value_form;
    }
    text += "\n    " + FillProductName(entry.description) + "\n";
    if (entry.default_value)
      text +=
          "    Default value: " + FillProductName(entry.default_value) + "\n";
    sink->Print(text);
  }

  sink->Print(base::StringPrintf("\nLanguages available for the %s option:\n",
                                 "language"));
  sink->Print(base::WideToUTF8(base::JoinString(languages, L", ")) + "\n");

  sink->Print("\nFeatures available through command-line switches:\n");
  size_t experiment_count = 0;
  const FeatureRecord* experiments = GetInstallerExperiments(&experiment_count);
  for (size_t i = 0; i < experiment_count; ++i) {
    sink->Print(base::StringPrintf(
        "\t--%s [Enabled by default: %s]\n",
        (std::string("with-feature:") + experiments[i].name).c_str(),
        IsFeatureEnabledByDefault(experiments[i]) ? "true" : "false"));
  }
}

void PrintConsoleHelp() {
  // A GUI program has no console of its own; the help opens one and keeps it
  // until the user has read it.
  ::AllocConsole();
  if (!freopen("CONOUT$", "w", stdout))
    return;
  setvbuf(stdout, nullptr, _IONBF, 0);

  ConsoleSink sink;
  WriteHelpText(&sink, GetL10nHandler()->LoadTextResource());
  system("PAUSE");
}

}  // namespace installer
