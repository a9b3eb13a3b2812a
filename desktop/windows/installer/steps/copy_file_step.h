#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_COPY_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_COPY_FILE_STEP_H_

#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// Copy steps are many and small; the front end weights them apart from the
// other steps and sends no statistics for them.
bool IsCopyFileStepName(const std::string& name);

// Copies one file of the package into place through the run's transaction.
// The members of the family differ only in the hooks: where the file comes
// from and goes to, whether it must be there, and what is recorded once it
// is copied. Named "copy_file:" + the relative path.
class CopyFileStep : public InstallerStep {
 public:
  // What CheckSource answers.
  enum SourceCheck { COPY_SOURCE = 0, SKIP_SOURCE = 1 };

  CopyFileStep(InstallerStepContext* context,
               const base::FilePath& relative_path);
  ~CopyFileStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;

 protected:
  const base::FilePath& relative_path() const { return relative_path_; }

  virtual void OnCopied();
  // A step that is not required gives up after its retries and lets the
  // run go on.
  virtual bool IsRequired();
  // SKIP_SOURCE reports success without copying.
  virtual int CheckSource(const base::FilePath& source);
  virtual void GetDestinationName(base::FilePath* name);
  virtual void GetSourceFolder(base::FilePath* folder);
  virtual void GetDestinationFolder(base::FilePath* folder) = 0;

 private:
  void Copy(InstallerStepResult* result);

  const base::FilePath relative_path_;
  // The failure text of the last copy operation.
  std::string error_;

  DISALLOW_COPY_AND_ASSIGN(CopyFileStep);
};

// A file of the standard (or extra) list: package folder to target folder,
// recorded among the installed files.
class PackageFileCopyStep : public CopyFileStep {
 public:
  PackageFileCopyStep(InstallerStepContext* context,
                      const base::FilePath& relative_path);

 protected:
  void OnCopied() override;
  void GetDestinationFolder(base::FilePath* folder) override;
};

// A file of the root list: package folder to install folder, recorded
// among the root files.
class RootFileCopyStep : public CopyFileStep {
 public:
  RootFileCopyStep(InstallerStepContext* context,
                   const base::FilePath& relative_path);

 protected:
  void OnCopied() override;
  void GetDestinationFolder(base::FilePath* folder) override;
};

// "launcher.exe" into the install folder. When the package was unpacked
// into the target folder it is taken from there, and the copy left behind
// in the target folder goes.
class LauncherCopyStep : public CopyFileStep {
 public:
  explicit LauncherCopyStep(InstallerStepContext* context);

 protected:
  void OnCopied() override;
  void GetSourceFolder(base::FilePath* folder) override;
  void GetDestinationFolder(base::FilePath* folder) override;
};

// The optional "pref_default_overrides" fetched by the front end: copied
// into the install folder only when it is there and holds JSON, and never
// worth failing the run for.
class PrefDefaultOverridesCopyStep : public CopyFileStep {
 public:
  explicit PrefDefaultOverridesCopyStep(InstallerStepContext* context);

 protected:
  bool IsRequired() override;
  int CheckSource(const base::FilePath& source) override;
  void GetDestinationFolder(base::FilePath* folder) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_COPY_FILE_STEP_H_
