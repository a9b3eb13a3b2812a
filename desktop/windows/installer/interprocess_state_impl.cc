#include "desktop/windows/installer/interprocess_state_impl.h"

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/package_fetcher/folder_preparer.h"

namespace installer {
namespace {

constexpr char kBackendSwitch[] = "backend";
constexpr char kPackageDirSwitch[] = "package-dir";
constexpr char kPackageDirPrefixSwitch[] = "package-dir-prefix";
constexpr char kWaitForPackageSwitch[] = "wait-for-package";
constexpr char kSessionGuidSwitch[] = "session-guid";
constexpr char kInsidePackageSwitch[] = "inside-package";
constexpr char kFixDownloadableResourcesSwitch[] = "fix-downloadable-resources";
constexpr char kServerTrackingBlobSwitch[] = "server-tracking-blob";
constexpr char kOtdSwitch[] = "otd";
constexpr char kMediumSwitch[] = "medium";
constexpr char kNiuidSwitch[] = "niuid";
constexpr char kAutoupdateSwitch[] = "autoupdate";
constexpr char kSilentSwitch[] = "silent";
constexpr char kUninstallSwitch[] = "uninstall";
constexpr char kUiThreadIdSwitch[] = "ui-thread-id";

// A package folder is complete once the fetcher has put this entry in it.
constexpr wchar_t kReadyMarker[] = L"ready";

void ReadCommandLineTrackingValues(const base::CommandLine& command_line,
                                   TrackingDataDictionary* tracking_data) {
  for (const std::string& piece : base::SplitString(
           base::WideToUTF8(command_line.GetSwitchValueNative(kOtdSwitch)), ",",
           base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    size_t colon = piece.find(':');
    if (colon != std::string::npos)
      tracking_data->SetString(piece.substr(0, colon), piece.substr(colon + 1));
  }
  // These come last so that they win over the same keys in "otd".
  std::string medium =
      base::WideToUTF8(command_line.GetSwitchValueNative(kMediumSwitch));
  if (!medium.empty())
    tracking_data->SetString("utm.medium", medium);
  std::string niuid =
      base::WideToUTF8(command_line.GetSwitchValueNative(kNiuidSwitch));
  if (!niuid.empty())
    tracking_data->SetString("uuid", niuid);
}

}  // namespace

InterprocessStateImpl::InterprocessStateImpl(
    std::unique_ptr<TrackingDataDictionary> tracking_data,
    const base::CommandLine* command_line)
    : tracking_data_(std::move(tracking_data)),
      command_line_(command_line),
      inside_package_(false),
      backend_(command_line->HasSwitch(kBackendSwitch)) {
  if (command_line_->HasSwitch(kPackageDirSwitch)) {
    package_dir_ = command_line_->GetSwitchValuePath(kPackageDirSwitch);
  } else if (command_line_->HasSwitch(kPackageDirPrefixSwitch)) {
    package_dir_prefix_ =
        command_line_->GetSwitchValuePath(kPackageDirPrefixSwitch);
  } else if (command_line_->HasSwitch(kWaitForPackageSwitch)) {
    package_dir_ = command_line_->GetSwitchValuePath(kWaitForPackageSwitch);
  } else if (backend_) {
    // A backend started by hand from an unpacked package.
    if (!base::PathService::Get(base::DIR_EXE, &package_dir_))
      package_dir_.clear();
  }

  session_guid_ = command_line_->GetSwitchValueASCII(kSessionGuidSwitch);
  if (session_guid_.empty())
    session_guid_ = base::GenerateGUID();

  inside_package_ = backend_ ? command_line_->HasSwitch(kInsidePackageSwitch)
                             : installer::IsInsidePackage();

  if (command_line_->HasSwitch(kServerTrackingBlobSwitch) &&
      !tracking_data_->ParseTrackingBlob(
          command_line_->GetSwitchValueASCII(kServerTrackingBlobSwitch))) {
    LOG(ERROR) << "Cannot read the server tracking data of the command line";
  }
  ReadCommandLineTrackingValues(*command_line_, tracking_data_.get());
}

InterprocessStateImpl::~InterprocessStateImpl() = default;

void InterprocessStateImpl::AppendToCommandLine(
    base::CommandLine* command_line) {
  if (IsPackageDirKnown()) {
    if (!package_dir_.empty())
      command_line->AppendSwitchPath(kPackageDirSwitch, package_dir_);
    else if (!package_dir_prefix_.empty())
      command_line->AppendSwitchPath(kPackageDirPrefixSwitch,
                                     package_dir_prefix_);
  }
  if (inside_package_)
    command_line->AppendSwitch(kInsidePackageSwitch);
  if (!session_guid_.empty())
    command_line->AppendSwitchASCII(kSessionGuidSwitch, session_guid_);
  if (IsFixDownloadableResources())
    command_line->AppendSwitch(kFixDownloadableResourcesSwitch);
  std::string blob = tracking_data_->SerializeTrackingBlob();
  if (!blob.empty())
    command_line->AppendSwitchASCII(kServerTrackingBlobSwitch, blob);
  if (IsAutoupdate())
    command_line->AppendSwitch(kAutoupdateSwitch);
  if (IsSilent())
    command_line->AppendSwitch(kSilentSwitch);
}

base::FilePath InterprocessStateImpl::GetPackageDir() {
  if (!package_dir_.empty() || package_dir_prefix_.empty())
    return package_dir_;
  base::FileEnumerator folders(package_dir_prefix_.DirName(), false,
                               base::FileEnumerator::DIRECTORIES,
                               package_dir_prefix_.BaseName().value() + L"*");
  for (base::FilePath folder = folders.Next(); !folder.empty();
       folder = folders.Next()) {
    if (!base::PathExists(folder.Append(kReadyMarker)))
      continue;
    // Anyone who can write to the download root can make a ready folder of
    // that name, and a front end started in the same second makes its own:
    // only the folder this session's front end made holds the package it
    // checked.
    if (!IsPackageFolderOfSession(folder, session_guid_)) {
      LOG(WARNING) << "Skipping the package folder " << folder.value()
                   << ": not made by this installation";
      continue;
    }
    package_dir_ = folder;
    break;
  }
  return package_dir_;
}

std::string InterprocessStateImpl::GetSessionGuid() {
  return session_guid_;
}

bool InterprocessStateImpl::IsAutoupdate() {
  return command_line_->HasSwitch(kAutoupdateSwitch);
}

bool InterprocessStateImpl::IsSilent() {
  return command_line_->HasSwitch(kSilentSwitch);
}

bool InterprocessStateImpl::IsUninstall() {
  return command_line_->HasSwitch(kUninstallSwitch);
}

bool InterprocessStateImpl::IsInsidePackage() {
  return inside_package_;
}

bool InterprocessStateImpl::IsOutsidePackage() {
  return !inside_package_;
}

void InterprocessStateImpl::SetPackageDirPrefix(const base::FilePath& prefix) {
  package_dir_prefix_ = prefix;
}

void InterprocessStateImpl::SetPackageDir(const base::FilePath& folder) {
  package_dir_ = folder;
}

bool InterprocessStateImpl::IsPackageDirKnown() {
  return !backend_ || command_line_->HasSwitch(kPackageDirSwitch) ||
         command_line_->HasSwitch(kPackageDirPrefixSwitch);
}

bool InterprocessStateImpl::IsFixDownloadableResources() {
  return command_line_->HasSwitch(kFixDownloadableResourcesSwitch);
}

uint32_t InterprocessStateImpl::GetUiThreadId() {
  if (!command_line_->HasSwitch(kUiThreadIdSwitch))
    return 0xFFFFFFFF;
  unsigned int id = 0;
  if (!base::StringToUint(
          command_line_->GetSwitchValueNative(kUiThreadIdSwitch), &id)) {
    LOG(ERROR) << "Failed parsing ui thread id";
    return 0xFFFFFFFF;
  }
  return id;
}

TrackingDataDictionary* InterprocessStateImpl::GetTrackingData() {
  return tracking_data_.get();
}

}  // namespace installer
