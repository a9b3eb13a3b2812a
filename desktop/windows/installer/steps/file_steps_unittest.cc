#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
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

class FileStepsTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { SetOsOperationsForTesting(nullptr); }

  // A fresh folder and run for each case of a table.
  void Reset() {
    context_.reset();
    if (dir_.IsValid()) {
      ASSERT_TRUE(dir_.Delete());
    }
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    context_ = std::make_unique<test::StepTestContext>(dir_.GetPath());
    install_ = context_->settings.folder;
    target_ = context_->GetTargetFolder();
    package_ = context_->state.package_dir;
  }

  void Write(const base::FilePath& folder,
             const std::string& name,
             const std::string& contents) {
    ASSERT_TRUE(test::StepTestContext::WriteFile(folder, name, contents));
  }

  std::string Read(const base::FilePath& path) {
    std::string contents;
    return base::ReadFileToString(path, &contents) ? contents : "(missing)";
  }

  InstallerStepResult Run(InstallerStep* step, int attempt = 0) {
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, attempt);
    return result;
  }

  base::ScopedTempDir dir_;
  std::unique_ptr<test::StepTestContext> context_;
  base::FilePath install_;
  base::FilePath target_;
  base::FilePath package_;
};

TEST_F(FileStepsTest, CopyRetriesEachSendOneEvent) {
  PackageFileCopyStep step(context_.get(), base::FilePath(L"a.dll"));
  EXPECT_EQ(STEP_RETRY_THEN_FAIL, Run(&step, 0).status);
  EXPECT_TRUE(context_->events.empty());
  EXPECT_EQ(STEP_RETRY_THEN_FAIL, Run(&step, 1).status);
  EXPECT_EQ(std::vector<std::string>({"file_copy_retry"}), context_->events);
  // The source turns up in time for the last retry.
  Write(package_, "a.dll", "a");
  EXPECT_EQ(STEP_DONE, Run(&step, 2).status);
  EXPECT_EQ(std::vector<std::string>({"file_copy_retry", "file_copy_retry"}),
            context_->events);
  EXPECT_EQ("a", Read(target_.Append(L"a.dll")));
  EXPECT_EQ(Paths({base::FilePath(L"a.dll")}),
            context_->GetStatusUnderConstruction()->files);
}

TEST_F(FileStepsTest, CopyFailure) {
  struct {
    bool required;
    InstallerStepStatus status;
  } const kCases[] = {{true, STEP_RETRY_THEN_FAIL},
                      {false, STEP_RETRY_THEN_CONTINUE}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.required);
    Reset();
    // No folder can be made inside a file.
    Write(dir_.GetPath(), "install", "");
    std::unique_ptr<CopyFileStep> step;
    base::FilePath destination;
    if (c.required) {
      Write(package_, "a.dll", "a");
      step = std::make_unique<PackageFileCopyStep>(context_.get(),
                                                   base::FilePath(L"a.dll"));
      destination = target_.Append(L"a.dll");
    } else {
      Write(package_, "pref_default_overrides", "{}");
      step = std::make_unique<PrefDefaultOverridesCopyStep>(context_.get());
      destination = install_.Append(L"pref_default_overrides");
    }
    const InstallerStepResult result = Run(step.get());
    EXPECT_EQ(c.status, result.status);
    EXPECT_EQ(RESULT_COPY_FAILED, result.code);
    EXPECT_EQ(destination.value(), result.path);
    const std::string prefix = "Failed copying " +
                               step->name().substr(strlen("copy_file:")) +
                               " to " + destination.AsUTF8Unsafe() +
                               " because of error: ";
    EXPECT_TRUE(base::StartsWith(result.message, prefix,
                                 base::CompareCase::SENSITIVE))
        << result.message;
    EXPECT_GT(result.message.size(), prefix.size());
    EXPECT_TRUE(context_->GetStatusUnderConstruction()->files.empty());
  }
}

TEST_F(FileStepsTest, PrefDefaultOverridesCopiedOnlyWhenJson) {
  struct {
    const char* contents;  // null: no file
    bool copied;
  } const kCases[] = {
      {nullptr, false}, {"{\"a\": ", false}, {"{\"a\": 1}", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.contents ? c.contents : "none");
    Reset();
    if (c.contents)
      Write(package_, "pref_default_overrides", c.contents);
    PrefDefaultOverridesCopyStep step(context_.get());
    EXPECT_EQ(STEP_DONE, Run(&step).status);
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
  const InstallerStepResult result = Run(&step, 1);
  EXPECT_EQ(STEP_RETRY_THEN_FAIL, result.status);
  EXPECT_EQ(RESULT_COPY_FAILED, result.code);
  EXPECT_EQ(install_.value(), result.path);
  const std::string prefix =
      "Failed moving r.dll to " + install_.AsUTF8Unsafe() + " because of error: ";
  EXPECT_TRUE(base::StartsWith(result.message, prefix,
                               base::CompareCase::SENSITIVE))
      << result.message;
  EXPECT_EQ(recorded, context_->GetStatusUnderConstruction()->root_files);
}

TEST_F(FileStepsTest, InstallHelper) {
  // Sets of helpers: bit 0 the 32-bit one, bit 1 the 64-bit one.
  const char* const kHelpers[] = {"installer_helper.exe",
                                  "installer_helper_64.exe"};
  struct {
    uint32_t architecture;
    bool package_dir_known;
    int in_target;
    int in_package;
    InstallerStepStatus status;
    int in_target_after;
  } const kCases[] = {
      {1, true, 1, 0, STEP_FAILED, 1},
      {0, true, 3, 0, STEP_DONE, 1},
      {1, true, 3, 0, STEP_DONE, 2},
      {1, false, 0, 2, STEP_DONE, 2},
      {0, false, 0, 2, STEP_RETRY_THEN_FAIL, 0},
  };
  FakeOsOperations os;
  SetOsOperationsForTesting(&os);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.architecture << c.package_dir_known
                                    << c.in_target);
    Reset();
    os.architecture = c.architecture;
    context_->state.package_dir_known = c.package_dir_known;
    for (int i = 0; i < 2; ++i) {
      if (c.in_target & (1 << i))
        Write(target_, kHelpers[i], kHelpers[i]);
      if (c.in_package & (1 << i))
        Write(package_, kHelpers[i], kHelpers[i]);
    }
    InstallHelperStep step(context_.get());
    const InstallerStepResult result = Run(&step);
    EXPECT_EQ(c.status, result.status);
    int in_target_after = 0;
    for (int i = 0; i < 2; ++i) {
      if (base::PathExists(target_.AppendASCII(kHelpers[i])))
        in_target_after |= 1 << i;
    }
    EXPECT_EQ(c.in_target_after, in_target_after);
    const base::FilePath helper =
        base::FilePath().AppendASCII(kHelpers[c.architecture ? 1 : 0]);
    const Paths& files = context_->GetStatusUnderConstruction()->files;
    if (c.status == STEP_DONE) {
      EXPECT_EQ(Paths({helper}), files);
      continue;
    }
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(RESULT_COPY_FAILED, result.code);
    EXPECT_EQ(helper.value(), result.path);
    EXPECT_EQ(c.package_dir_known
                  ? "Installer helper not present in unpacked files"
                  : "Cannot copy installer helper",
              result.message);
  }
}

TEST_F(FileStepsTest, MinimalInstallMarkerGoesOnceEveryResourceIsThere) {
  // -1: every resource present.
  for (int missing : {0, static_cast<int>(kDownloadableResourceCount) - 1,
                      -1}) {
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
