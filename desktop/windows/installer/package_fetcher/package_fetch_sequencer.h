#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCH_SEQUENCER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCH_SEQUENCER_H_

#include <string>
#include <vector>

namespace installer {

// Drives one acquisition of the package on the fetcher thread.
class PackageFetchSequencer {
 public:
  virtual ~PackageFetchSequencer() = default;

  virtual void Initialize() = 0;
  virtual void Start() = 0;
  virtual void Restart() = 0;
  // Sets the requested additional files, then restarts.
  virtual void RestartWithMinimalPackageFiles(
      const std::vector<std::string>& names) = 0;
  // Sets them for the next start only.
  virtual void SetMinimalPackageFiles(
      const std::vector<std::string>& names) = 0;
  // Any thread may ask.
  virtual bool CanRetry() = 0;
  // From now on only the additional files are fetched.
  virtual void EnableAdditionalFiles() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCH_SEQUENCER_H_
