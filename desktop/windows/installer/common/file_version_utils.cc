#include "desktop/windows/installer/common/file_version_utils.h"

#include <windows.h>

#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/version_api.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/process_runner.h"

namespace installer {

namespace {

// The string |name| of the language-neutral Unicode block, as UTF-8.
bool QueryString(const base::win::VersionApi& api,
                 const std::vector<char>& info,
                 const wchar_t* name,
                 std::string* value) {
  std::wstring key = L"\\StringFileInfo\\000004B0\\";
  key += name;
  void* data = nullptr;
  UINT length = 0;
  if (!api.ver_query_value(info.data(), key.c_str(), &data, &length) || !data)
    return false;
  // The length counts the terminating null when there is one.
  const wchar_t* text = static_cast<const wchar_t*>(data);
  size_t size = 0;
  while (size < length && text[size])
    ++size;
  *value = base::WideToUTF8(std::wstring(text, size));
  return true;
}

bool ParseContinuousVersion(const std::string& text, uint32_t* number) {
  if (text.empty())
    return false;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
  }
  unsigned int value = 0;
  if (!base::StringToUint(text, &value))
    return false;
  *number = value;
  return true;
}

}  // namespace

FileVersionUtilsImpl::FileVersionUtilsImpl(
    std::unique_ptr<ProcessRunner> runner)
    : runner_(std::move(runner)) {}

FileVersionUtilsImpl::~FileVersionUtilsImpl() = default;

bool FileVersionUtilsImpl::GetPackageFileVersion(
    const base::FilePath& path,
    base::Version* full_version,
    base::Version* internal_version,
    std::string* stream) {
  const base::win::VersionApi* const api = base::win::GetVersionApi();
  DWORD handle = 0;
  const DWORD size =
      api ? api->get_file_version_info_size(path.value().c_str(), &handle) : 0;
  if (size == 0) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Cannot get the size of file version info");
  }
  std::vector<char> info(size, 0);
  if (!api->get_file_version_info(path.value().c_str(), 0, size, info.data())) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "No file version in the package");
  }

  std::string product_version;
  if (!QueryString(*api, info, L"ProductVersion", &product_version)) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "No product version value in the package");
  }
  base::Version full(product_version);
  if (!full.IsValid()) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Received an invalid version: " + product_version);
  }

  std::string continuous;
  if (QueryString(*api, info, L"ContinuousVersion", &continuous)) {
    uint32_t number = 0;
    if (!ParseContinuousVersion(continuous, &number)) {
      return SetLastInstallerError(
          RESULT_GENERAL_ERROR,
          "Received an invalid continuous build number: " + continuous);
    }
    std::vector<uint32_t> components = full.components();
    components.push_back(number);
    full = base::Version(std::move(components));
  }

  base::Version internal;
  if (!GetInternalVersion(full, &internal)) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Cannot acquire internal version from the full version: " +
            full.GetString());
  }

  if (stream && !QueryString(*api, info, L"Stream", stream)) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "No stream value in the package");
  }
  *full_version = full;
  *internal_version = internal;
  return true;
}

bool FileVersionUtilsImpl::GetVersionFromExe(const base::FilePath& exe,
                                             base::Version* full_version,
                                             base::Version* internal_version,
                                             std::string* stream) {
  base::CommandLine version_command(exe);
  version_command.AppendSwitch("version");
  std::string output;
  if (!runner_->GetAppOutput(version_command, &output))
    return AddLastInstallerErrorContext("Cannot get exe output: version");

  LOG(INFO) << "Downloaded item version: " << output;
  base::Version full(output);
  base::Version internal;
  if (!full.IsValid() || !GetInternalVersion(full, &internal)) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Invalid version from exe: " + output);
  }

  if (stream) {
    base::CommandLine stream_command(exe);
    stream_command.AppendSwitch("stream");
    if (!runner_->GetAppOutput(stream_command, stream))
      return AddLastInstallerErrorContext("Cannot get exe output: stream");
  }
  *full_version = full;
  *internal_version = internal;
  return true;
}

bool GetInternalVersion(const base::Version& full_version,
                        base::Version* internal_version) {
  const std::vector<uint32_t>& components = full_version.components();
  if (components.size() != 4 && components.size() != 5)
    return false;
  *internal_version = base::Version(
      std::vector<uint32_t>(components.begin() + 2, components.end()));
  return true;
}

}  // namespace installer
