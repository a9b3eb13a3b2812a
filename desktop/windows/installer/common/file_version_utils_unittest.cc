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

// Prints |outputs[switch]|; a switch without an entry fails the run.
class FakeProcessRunner : public ProcessRunner {
 public:
  bool GetAppOutput(const base::CommandLine& command_line,
                    std::string* output) override {
    for (const auto& entry : outputs) {
      if (command_line.HasSwitch(entry.first)) {
        *output = entry.second;
        return true;
      }
    }
    return SetLastInstallerError(RESULT_GENERAL_ERROR, "Cannot get app output");
  }
  bool Launch(const base::CommandLine&, const base::LaunchOptions&) override {
    return false;
  }
  std::vector<std::pair<std::string, std::string>> outputs;
};

std::string LastError() {
  std::string message;
  GetLastInstallerError(nullptr, &message, nullptr);
  return message;
}

TEST(FileVersionUtilsTest, ReadsTheVersionResource) {
  ScopedInstallerErrorRecord record;
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
  const struct {
    const wchar_t* file;
    const char* full;  // empty when reading fails
    const char* internal;
    const char* stream;  // null: not asked for
    const char* error;
  } kCases[] = {
      {L"kavor_version_plain.dll", "47.0.4127.0", "4127.0", "stable", ""},
      {L"kavor_version_continuous.dll", "47.0.4127.0.17", "4127.0.17", nullptr,
       ""},
      {L"kavor_version_continuous.dll", "", "", "",
       "No stream value in the package"},
      {L"kavor_version_bad_continuous.dll", "", "", nullptr,
       "Received an invalid continuous build number: 12a"},
      {L"kavor_version_none.dll", "", "", nullptr,
       "Cannot get the size of file version info"},
  };
  FileVersionUtilsImpl utils(std::make_unique<FakeProcessRunner>());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    base::Version full;
    base::Version internal;
    std::string stream;
    const bool ok = utils.GetPackageFileVersion(
        exe_dir.Append(c.file), &full, &internal, c.stream ? &stream : nullptr);
    ASSERT_EQ(*c.full != 0, ok) << LastError();
    if (!ok) {
      EXPECT_EQ(c.error, LastError());
      EXPECT_EQ(RESULT_GENERAL_ERROR, GetLastInstallerErrorCode());
      continue;
    }
    EXPECT_EQ(c.full, full.GetString());
    EXPECT_EQ(c.internal, internal.GetString());
    if (c.stream) {
      EXPECT_EQ(c.stream, stream);
    }
  }
}

TEST(FileVersionUtilsTest, ReadsWhatTheExecutablePrints) {
  ScopedInstallerErrorRecord record;
  const struct {
    const char* version_output;  // null: the run fails
    const char* stream_output;
    const char* full;  // empty when it fails
    const char* error;
  } kCases[] = {
      {"47.0.4127.0.17", "beta", "47.0.4127.0.17", ""},
      {"47.0.4127", "beta", "", "Invalid version from exe: 47.0.4127"},
      {"47.0.4127.0", nullptr, "",
       "Cannot get app output\nCannot get exe output: stream"},
  };
  for (const auto& c : kCases) {
    auto runner = std::make_unique<FakeProcessRunner>();
    if (c.version_output)
      runner->outputs.emplace_back("version", c.version_output);
    if (c.stream_output)
      runner->outputs.emplace_back("stream", c.stream_output);
    FileVersionUtilsImpl utils(std::move(runner));
    base::Version full;
    base::Version internal;
    std::string stream;
    const bool ok = utils.GetVersionFromExe(base::FilePath(L"kavor.exe"), &full,
                                            &internal, &stream);
    ASSERT_EQ(*c.full != 0, ok);
    if (!ok) {
      EXPECT_EQ(c.error, LastError());
      continue;
    }
    EXPECT_EQ(c.full, full.GetString());
    EXPECT_EQ("4127.0.17", internal.GetString());
    EXPECT_EQ(c.stream_output, stream);
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
