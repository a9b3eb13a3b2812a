#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_HELP_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_HELP_H_

#include <string>
#include <vector>

namespace installer {

// Where the help goes. The console sink is the product's; tests collect the
// text instead, since a console opened by a GUI program never reaches the
// caller's pipe.
class HelpPrintSink {
 public:
  virtual ~HelpPrintSink() = default;
  // UTF-8 text, written as given (line ends included).
  virtual void Print(const std::string& text) = 0;
};

// Writes the whole help: the title, one entry per switch with its value form,
// description and default, the available languages and the installer
// experiments with their default states. |languages| are the UI language
// codes the installer can show.
void WriteHelpText(HelpPrintSink* sink,
                   const std::vector<std::wstring>& languages);

// The `help` role: opens a console, writes the help with the localization
// handler's languages and waits for a key. Prints nothing when standard
// output cannot be attached to the console.
void PrintConsoleHelp();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_HELP_H_
