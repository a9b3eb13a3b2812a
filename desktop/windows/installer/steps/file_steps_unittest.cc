#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/steps/copy_file_step.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"
#include "desktop/windows/installer/steps/install_helper_step.h"
#include "desktop/windows/installer/steps/move_file_step.h"
#include "desktop/windows/installer/steps/remove_minimal_install_file_step.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Paths = std::vector<base::FilePath>;

class FakeOsOperations : public OsOperationsImpl {
 public:
  uint32_t architecture = 1;
  uint32_t GetOsArchitecture() override { return architecture; }
};

class FileStepsTest : public test::StepTest {
 protected:
  void TearDown() override { SetOsOperationsForTesting(nullptr); }

  static std::string Read(const base::FilePath& path) {
    std::string contents;
    return base::ReadFileToString(path, &contents) ? contents : "(missing)";
  }

  static InstallerStepResult Run(InstallerStep* step, int attempt = 0) {
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, attempt);
    return result;
  }

  // A copy failure: |prefix| + the operation's own error text.
  static void ExpectCopyFailed(const InstallerStepResult& result,
                               const base::FilePath& path,
                               const std::string& prefix) {
    EXPECT_EQ(STEP_RETRY_THEN_FAIL, result.status);
    EXPECT_EQ(RESULT_COPY_FAILED, result.code);
    EXPECT_EQ(path.value(), result.path);
    EXPECT_TRUE(base::StartsWith(result.message, prefix,
                                 base::CompareCase::SENSITIVE) &&
                result.message.size() > prefix.size())
        << result.message;
  }
};

TEST_F(FileStepsTest, CopyFailsAndRetriesWithOneEventEach) {
  PackageFileCopyStep step(context_.get(), base::FilePath(L"a.dll"));
  const base::FilePath destination = target_.Append(L"a.dll");
  ExpectCopyFailed(Run(&step, 0), destination,
                   "Failed copying a.dll to " + destination.AsUTF8Unsafe() +
                       " because of error: ");
  EXPECT_TRUE(context_->events.empty());
  EXPECT_EQ(STEP_RETRY_THEN_FAIL, Run(&step, 1).status);
  EXPECT_EQ(std::vector<std::string>({"file_copy_retry"}), context_->events);
  // The source turns up in time for the next retry.
  Write(package_, "a.dll", "a");
  EXPECT_EQ(STEP_DONE, Run(&step, 2).status);
  EXPECT_EQ(std::vector<std::string>({"file_copy_retry", "file_copy_retry"}),
            context_->events);
  EXPECT_EQ("a", Read(destination));
  EXPECT_EQ(Paths({base::FilePath(L"a.dll")}),
            context_->GetStatusUnderConstruction()->files);
}

TEST_F(FileStepsTest, PrefDefaultOverridesAreOptional) {
  struct {
    const char* contents;  // null: no file
    bool install_folder_is_a_file;
    InstallerStepStatus status;
    bool copied;
  } const kCases[] = {
      {nullptr, false, STEP_DONE, false},
      {"{\"a\": ", false, STEP_DONE, false},
      {"{\"a\": 1}", false, STEP_DONE, true},
      // A copy that keeps failing does not fail the run.
      {"{}", true, STEP_RETRY_THEN_CONTINUE, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.contents ? c.contents : "none");
    Reset();
    if (c.contents)
      Write(package_, "pref_default_overrides", c.contents);
    if (c.install_folder_is_a_file)
      Write(dir_.GetPath(), "install", "");
    PrefDefaultOverridesCopyStep step(context_.get());
    EXPECT_EQ(c.status, Run(&step).status);
    EXPECT_EQ(c.copied,
              base::PathExists(install_.Append(L"pref_default_overrides")));
  }
}

TEST_F(FileStepsTest, LauncherComesFromTheTargetFolderOnceUnpacked) {
  struct {
    bool package_dir_known;
    const char* installed;
    bool left_in_target;
  } const kCases[] = {{true, "target", false}, {false, "package", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.package_dir_known);
    Reset();
    context_->state.package_dir_known = c.package_dir_known;
    Write(target_, "launcher.exe", "target");
    Write(package_, "launcher.exe", "package");
    LauncherCopyStep step(context_.get());
    EXPECT_EQ("copy_file:launcher.exe", step.name());
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    EXPECT_EQ(c.installed, Read(install_.Append(L"launcher.exe")));
    EXPECT_EQ(c.left_in_target,
              base::PathExists(target_.Append(L"launcher.exe")));
  }
}

TEST_F(FileStepsTest, MoveFileRecordsOnceAndNamesTheInstallFolder) {
  Write(target_, "r.dll", "r");
  MoveFileStep step(context_.get(), base::FilePath(L"r.dll"));
  EXPECT_EQ(STEP_DONE, Run(&step).status);
  EXPECT_EQ("r", Read(install_.Append(L"r.dll")));
  EXPECT_FALSE(base::PathExists(target_.Append(L"r.dll")));
  const Paths recorded = {base::FilePath(L"r.dll")};
  EXPECT_EQ(recorded, context_->GetStatusUnderConstruction()->root_files);

  // Nothing left to move.
  ExpectCopyFailed(Run(&step, 1), install_,
                   "Failed moving r.dll to " + install_.AsUTF8Unsafe() +
                       " because of error: ");
  EXPECT_EQ(recorded, context_->GetStatusUnderConstruction()->root_files);
}

TEST_F(FileStepsTest, InstallHelper) {
  const char* const kHelpers[] = {"installer_helper.exe",
                                  "installer_helper_64.exe"};
  // Helpers in the target folder: bit 0 the 32-bit one, bit 1 the 64-bit
  // one. The package holds only the 64-bit one.
  struct {
    uint32_t architecture;
    bool package_dir_known;
    int before;
    InstallerStepStatus status;
    int after;
    const char* message;
  } const kCases[] = {
      {1, true, 1, STEP_FAILED, 1,
       "Installer helper not present in unpacked files"},
      {0, true, 3, STEP_DONE, 1, ""},
      {1, true, 3, STEP_DONE, 2, ""},
      {1, false, 0, STEP_DONE, 2, ""},
      {0, false, 0, STEP_RETRY_THEN_FAIL, 0, "Cannot copy installer helper"},
  };
  FakeOsOperations os;
  SetOsOperationsForTesting(&os);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.architecture << c.package_dir_known << c.before);
    Reset();
    os.architecture = c.architecture;
    context_->state.package_dir_known = c.package_dir_known;
    Write(package_, kHelpers[1], "");
    for (int i = 0; i < 2; ++i) {
      if (c.before & (1 << i))
        Write(target_, kHelpers[i], "");
    }
    InstallHelperStep step(context_.get());
    const InstallerStepResult result = Run(&step);
    EXPECT_EQ(c.status, result.status);
    EXPECT_EQ(c.message, result.message);
    int after = 0;
    for (int i = 0; i < 2; ++i)
      after |= base::PathExists(target_.AppendASCII(kHelpers[i])) << i;
    EXPECT_EQ(c.after, after);
    const Paths helper = {
        base::FilePath().AppendASCII(kHelpers[c.architecture])};
    EXPECT_EQ(c.status == STEP_DONE ? helper : Paths(),
              context_->GetStatusUnderConstruction()->files);
    if (c.status != STEP_DONE) {
      EXPECT_EQ(RESULT_COPY_FAILED, result.code);
      EXPECT_EQ(helper[0].value(), result.path);
    }
  }
}

TEST_F(FileStepsTest, MinimalInstallMarkerGoesOnceEveryResourceIsThere) {
  // -1: every resource present.
  for (int missing :
       {0, static_cast<int>(kDownloadableResourceCount) - 1, -1}) {
    SCOPED_TRACE(missing);
    Reset();
    Write(target_, "minimal_install", "");
    for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
      const std::string path =
          DecodeResourcePath(GetDownloadableResources()[i]);
      ASSERT_FALSE(path.empty()) << i;
      if (static_cast<int>(i) != missing)
        Write(target_, path, "");
    }
    RemoveMinimalInstallFileStep step(context_.get());
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    EXPECT_EQ(missing != -1,
              base::PathExists(target_.Append(L"minimal_install")));
  }
}

}  // namespace
}  // namespace installer
