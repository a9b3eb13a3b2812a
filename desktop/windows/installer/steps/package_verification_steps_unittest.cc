#include "desktop/windows/installer/steps/package_verification_steps.h"

#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using PackageVerificationStepsTest = test::StepTest;

// Every resource file of this build holds "kavor resource " + its path.
TEST_F(PackageVerificationStepsTest, DownloadableResources) {
  struct {
    bool minimal;
    bool all_present;  // else the paks without their companions
    bool corrupt;
    InstallerStepStatus status;
  } const kCases[] = {
      // A full package never has its digests checked.
      {false, true, true, STEP_DONE},
      {true, false, false, STEP_DONE},
      {true, true, false, STEP_DONE},
      {true, true, true, STEP_FAILED},
  };
  const DownloadableResource* resources = GetDownloadableResources();
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.minimal << c.all_present << c.corrupt);
    Reset();
    if (c.minimal)
      Write(target_, "minimal_install", "");
    for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
      const std::string path = DecodeResourcePath(resources[i]);
      if (c.all_present || i % 2 == 0)
        Write(package_, path, "kavor resource " + path + "\n");
    }
    if (c.corrupt)
      Write(package_, "localization/pt-BR.pak",
            "kavor resource localization/pt-BR.pak\r\n");
    const base::FilePath corrupt = package_.Append(L"localization\\pt-BR.pak");

    VerifyDownloadableResourcesStep step(context_.get());
    InstallerStepResult result(STEP_RETRY_THEN_FAIL);
    step.Execute(&result, 0);
    EXPECT_EQ(c.status, result.status);
    if (c.status == STEP_FAILED) {
      EXPECT_EQ(RESULT_GENERAL_ERROR, result.code);
      EXPECT_EQ(corrupt.value(), result.path);
      EXPECT_EQ("Downloadable resource checksum validation error: " +
                    corrupt.AsUTF8Unsafe() +
                    " hash doesn't match: Q/69dtsX9FHlq4Oiq7jyEwFMoKQ= vs. "
                    "oWW5MZOzbpyvgJD3GSwSVSzhNeQ=",
                result.message);
    }
  }
}

// A backend that knows the package folder checks the target folder, except
// for the extra files; one that does not checks the package folder only.
// Missing names come in list order: standard, root, extra.
TEST_F(PackageVerificationStepsTest, PackageContents) {
  struct {
    bool package_dir_known;
    bool listed_in_target;  // else in the package folder
    bool extra_in_target;
    const char* missing;  // null: the step succeeds
    size_t status_files;
  } const kCases[] = {
      {true, true, false, nullptr, 3},
      {true, false, false, "sub\\a.dll b.exe root.txt", 1},
      {true, true, true, "extra.bin", 1},
      {false, false, false, nullptr, 1},
      {false, true, true, "sub\\a.dll b.exe root.txt extra.bin", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.package_dir_known << c.listed_in_target
                                    << c.extra_in_target);
    Reset();
    const base::FilePath& listed = c.listed_in_target ? target_ : package_;
    for (const char* name : {"sub/a.dll", "b.exe", "root.txt"})
      Write(listed, name, "");
    Write(c.extra_in_target ? target_ : package_, "extra.bin", "");
    context_->state.package_dir_known = c.package_dir_known;
    std::vector<base::FilePath>& files =
        context_->GetStatusUnderConstruction()->files;
    files.assign(1, base::FilePath(L"earlier"));

    VerifyPackageContentsStep step(context_.get(), {"sub\\a.dll", "b.exe"},
                                   {"root.txt"}, {"extra.bin"});
    InstallerStepResult result;
    step.Execute(&result, 0);
    EXPECT_EQ(c.missing ? STEP_FAILED : STEP_DONE, result.status);
    if (c.missing) {
      EXPECT_EQ(RESULT_GENERAL_ERROR, result.code);
      EXPECT_EQ(L"", result.path);
      EXPECT_EQ("Package verification failed, files '" +
                    std::string(c.missing) + "' cannot be opened.",
                result.message);
    }
    ASSERT_EQ(c.status_files, files.size());
    if (c.status_files == 3) {
      EXPECT_EQ(L"sub\\a.dll", files[1].value());
      EXPECT_EQ(L"b.exe", files[2].value());
    }
  }
}

}  // namespace
}  // namespace installer
