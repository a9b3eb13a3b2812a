#include "desktop/windows/installer/common/file_version_utils.h"

#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/path_service.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Prints the output given for the first switch of the command line that
// has one; otherwise the run fails.
class FakeProcessRunner : public ProcessRunner {
 public:
  bool GetAppOutput(const base::CommandLine& command_line,
                    std::string* output) override {
    for (const auto& entry : outputs) {
      if (entry.second && command_line.HasSwitch(entry.first)) {
        *output = entry.second;
        return true;
      }
    }
    return SetLastInstallerError(RESULT_GENERAL_ERROR, "Cannot get app output");
  }
  bool Launch(const base::CommandLine&, const base::LaunchOptions&) override {
    return false;
  }
  std::vector<std::pair<std::string, const char*>> outputs;
};

// Reads the version resource of |file|, or without one runs an executable:
// "full/internal[/stream]", or the error message.
std::string Query(const wchar_t* file,
                  const char* version_output,
                  const char* stream_output,
                  bool with_stream) {
  ScopedInstallerErrorRecord record;
  base::FilePath exe_dir;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
  auto runner = std::make_unique<FakeProcessRunner>();
  runner->outputs = {{"version", version_output}, {"stream", stream_output}};
  FileVersionUtilsImpl utils(std::move(runner));
  base::Version full;
  base::Version internal;
  std::string stream;
  std::string* stream_out = with_stream ? &stream : nullptr;
  const bool ok = file ? utils.GetPackageFileVersion(
                             exe_dir.Append(file), &full, &internal, stream_out)
                       : utils.GetVersionFromExe(base::FilePath(L"kavor.exe"),
                                                 &full, &internal, stream_out);
  std::string message;
  InstallerResult code = RESULT_SUCCESS;
  GetLastInstallerError(&code, &message, nullptr);
  if (!ok)
    return (code == RESULT_GENERAL_ERROR ? "" : "wrong code: ") + message;
  return full.GetString() + "/" + internal.GetString() +
         (with_stream ? "/" + stream : "");
}

TEST(FileVersionUtilsTest, ReadsTheResourceOrWhatTheExecutablePrints) {
  const struct {
    const wchar_t* file;  // null: run the executable
    const char* version_output;
    const char* stream_output;
    bool with_stream;
    const char* expected;
  } kCases[] = {
      {L"kavor_version_plain.dll", nullptr, nullptr, true,
       "47.0.4127.0/4127.0/stable"},
      {L"kavor_version_continuous.dll", nullptr, nullptr, false,
       "47.0.4127.0.17/4127.0.17"},
      {L"kavor_version_continuous.dll", nullptr, nullptr, true,
       "No stream value in the package"},
      {L"kavor_version_bad_continuous.dll", nullptr, nullptr, false,
       "Received an invalid continuous build number: 12a"},
      {L"kavor_version_none.dll", nullptr, nullptr, false,
       "Cannot get the size of file version info"},
      {nullptr, "47.0.4127.0.17", "beta", true,
       "47.0.4127.0.17/4127.0.17/beta"},
      {nullptr, "47.0.4127", "beta", true,
       "Invalid version from exe: 47.0.4127"},
      {nullptr, "47.0.4127.0", nullptr, true,
       "Cannot get app output\nCannot get exe output: stream"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              Query(c.file, c.version_output, c.stream_output, c.with_stream))
        << (c.file ? c.file : L"exe");
  }
}

TEST(FileVersionUtilsTest, InternalVersionOnlyOfFourOrFiveComponents) {
  for (const char* full : {"47.0.4127", "47.0.4127.0.17.3"}) {
    base::Version internal;
    EXPECT_FALSE(GetInternalVersion(base::Version(full), &internal)) << full;
  }
}

}  // namespace
}  // namespace installer
