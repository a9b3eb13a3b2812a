#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_FINALIZATION_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_FINALIZATION_H_

#include <string>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace base {
class CommandLine;
}

namespace installer {

class InstallerStepContext;

// What the uninstall finalization asks of the system beyond the association
// services and the firewall, reached through one replaceable object.
class UninstallFinalizationOperations {
 public:
  virtual ~UninstallFinalizationOperations() = default;

  // Tells running programs and the shell that the browser registrations
  // changed.
  virtual void BroadcastBrowserChange() = 0;
  // Internet Explorer's own "ReinstallCommand"; false when it cannot be
  // read.
  virtual bool ReadReinstallCommand(base::string16* command) = 0;
  // Starts |program| through the shell, file-system redirection off, and
  // waits for it to end; false when it could not be started.
  virtual bool RunAndWait(const base::string16& program,
                          const base::string16& arguments) = 0;
  // Starts |command_line| so that it is no child of the installer.
  virtual void LaunchDetached(const base::string16& command_line) = 0;
};

// The process-wide instance, or the one a test installed.
UninstallFinalizationOperations* GetUninstallFinalizationOperations();

// Makes GetUninstallFinalizationOperations() answer |operations| until
// called again with null.
void SetUninstallFinalizationOperationsForTesting(
    UninstallFinalizationOperations* operations);

// After the installation status is gone: tells the shell, gives the default
// browser back to Internet Explorer when the removed browser held it,
// removes the browser's firewall rules and opens the uninstall survey.
// Nothing here fails the uninstall.
void FinalizeUninstallation(InstallerStepContext* context,
                            const base::FilePath& install_folder);

// The same, reading the switches of |command_line| instead of the
// process's.
void FinalizeUninstallationWithCommandLine(
    InstallerStepContext* context,
    const base::FilePath& install_folder,
    const base::CommandLine& command_line);

// Splits a registered command into its program and arguments: a leading
// double quote runs to the next one, otherwise the program ends at the first
// blank; one blank after the program is dropped. A command without such a
// separator is all program.
void SplitReinstallCommand(const base::string16& command,
                           base::string16* program,
                           base::string16* arguments);

// |survey_url| with the installer's version, the autoupdate id and the
// query of |welcome_url|, when that has exactly one "?".
std::string BuildUninstallSurveyUrl(const std::string& survey_url,
                                    const std::string& version,
                                    const std::string& uuid,
                                    const std::string& welcome_url);

// The command that opens |url| in |browser|, in a private window where
// the browser has one.
base::string16 BuildSurveyCommandLine(const base::FilePath& browser,
                                      const std::string& url,
                                      bool private_window);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_FINALIZATION_H_
