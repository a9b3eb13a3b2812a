#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

class Settings;
struct InstallationComponent;
struct LowSpaceVolume;

// Installer-wide checks and tools behind one interface, so that tests can
// swap the whole set.
class InstallerUtils {
 public:
  virtual ~InstallerUtils() = default;

  // Whether the running installer is the one inside an unpacked package:
  // the browser executable and "files_list" lie beside it and it is not
  // named "installer.exe". On an uninstall run the browser executable alone
  // decides.
  virtual bool IsInsidePackage() = 0;
  // Reads a package's "files_list": one relative path per line, empty lines
  // skipped, blanks kept, "/" turned into "\\". The lines go to the front of
  // |lines|. An entry that could reach outside the folder it is relative to
  // fails the whole list. On failure the thread's last-error record says
  // so.
  virtual bool ReadFilesList(const base::FilePath& path,
                             std::vector<std::string>* lines) = 0;
  // The volumes short of space as the user reads them: one localized
  // "drive <volume> (<MB> MB needed)" per volume, joined by ", ".
  virtual base::string16 FormatDriveSpaceList(
      const std::vector<LowSpaceVolume>& volumes) = 0;
  // The last check before an installation starts: true once the settings'
  // folder was examined without a problem and an operation chosen;
  // otherwise false, with the thread's last-error record telling why for a
  // folder problem.
  virtual bool ValidateSettings(Settings* settings) = 0;
};

class InstallerUtilsImpl : public InstallerUtils {
 public:
  bool IsInsidePackage() override;
  bool ReadFilesList(const base::FilePath& path,
                     std::vector<std::string>* lines) override;
  base::string16 FormatDriveSpaceList(
      const std::vector<LowSpaceVolume>& volumes) override;
  bool ValidateSettings(Settings* settings) override;
};

// Whether |entry| (a path from a package list or archive) names something
// inside the folder it is relative to: not empty, not absolute, no drive,
// UNC or "\\?\\" prefix, no ".." or empty component, no ":" (which would
// also reach an alternate data stream), no NUL or other control character
// and no component that Windows takes for a device ("con", "nul.txt") or
// refuses as a name. "/" counts as "\\". On success |relative| gets the
// entry with "\\" separators; on failure |reason|, when given, says why.
bool MakeSafeRelativePath(const base::string16& entry,
                          base::FilePath* relative,
                          std::string* reason = nullptr);

// MakeSafeRelativePath() for an archive entry, whose folder names may end
// in a separator: that is trimmed off first.
bool MakeSafeEntryPath(const base::string16& entry,
                       base::FilePath* relative,
                       std::string* reason = nullptr);

// |entry| (a name from a package list or archive) for a log line or an
// error record: control and direction characters, which could forge or hide
// a line, appear as \xNN or \uNNNN.
base::string16 PrintableEntry(const base::string16& entry);

// |folder| + |entry|, where |entry| comes from a status file: an entry that
// would leave |folder| (absolute, "..", a drive or a stream) is refused, and
// the log says why.
bool JoinRecordedPath(const base::FilePath& folder,
                      const base::FilePath& entry,
                      base::FilePath* path);

// The installer program of the component |name| in |folder|:
// "<name>_installer.exe". Earlier packages named the assistant's component
// "suite": without a "suite" program the assistant's one is taken.
base::FilePath GetComponentInstaller(const base::FilePath& folder,
                                     const std::string& name);
// The installer program of a component recorded in a status file; false,
// with the reason logged, for a record that could lead outside the
// component's folder or to a folder taken relative to the current one.
bool GetComponentProgram(const InstallationComponent& component,
                         base::FilePath* program);

// The process-wide instance, made on first use, or the one a test installed.
InstallerUtils* GetInstallerUtils();
// Makes GetInstallerUtils() answer |utils| until called again with null.
void SetInstallerUtilsForTesting(InstallerUtils* utils);

// The same operations on the process-wide instance.
bool IsInsidePackage();
bool ReadFilesList(const base::FilePath& path, std::vector<std::string>* lines);
base::string16 FormatDriveSpaceList(const std::vector<LowSpaceVolume>& volumes);
bool ValidateSettings(Settings* settings);

// The running program's own file; empty, with an error in the log, when it
// cannot be found.
base::FilePath GetOwnProgram();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
