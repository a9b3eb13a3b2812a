#ifndef DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"

namespace base {
class CommandLine;
}

namespace installer {

class WininetImpl;

// Points the fetch at another server; given without a value, at a test
// server on this machine.
extern const char kLocalPrefDefaultOverridesServerSwitch[];

// The host suffixes the overrides may come from: the fixed ones, then
// |company_domain| when it is not the first of them.
std::vector<std::wstring> GetPrefDefaultOverridesAllowedDomains(
    const std::wstring& company_domain);
// Where the overrides are asked for, given the process's |command_line|.
std::wstring GetPrefDefaultOverridesUrl(const base::CommandLine& command_line);

// Fetches the preference default overrides of this run from the update
// service into "pref_default_overrides" of the package folder, where an
// install step picks them up. The file appears only whole: the answer is
// written under a temporary name and renamed once complete. A failed,
// refused or abandoned fetch leaves nothing of its own behind and never
// fails the installation.
class PrefDefaultOverridesFetcher {
 public:
  static const wchar_t kFileName[];

  explicit PrefDefaultOverridesFetcher(std::unique_ptr<WininetImpl> downloader);
  ~PrefDefaultOverridesFetcher();

  // |done| runs exactly once, after the file was stored or the attempt
  // failed (at once when the request cannot be sent). Deleting the fetcher
  // drops a request under way, and its partial file, without running
  // |done|.
  void Fetch(const base::FilePath& folder,
             const std::string& tracking_data,
             base::OnceClosure done);

 private:
  void OnDownloadDone();
  // Deletes the file of the answer that was still being written, if any.
  void DiscardPartialFile();

  std::unique_ptr<WininetImpl> downloader_;
  base::FilePath target_;
  // Where the answer is written until it is whole; empty when there is no
  // such file.
  base::FilePath partial_;
  base::OnceClosure done_;

  DISALLOW_COPY_AND_ASSIGN(PrefDefaultOverridesFetcher);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
