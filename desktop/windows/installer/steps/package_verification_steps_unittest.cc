#include "desktop/windows/installer/steps/package_verification_steps.h"

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The run state the two steps read, set directly by the test.
class TestStepContext : public InstallerStepContextImpl {
 public:
  base::FilePath GetTargetFolder() override { return target; }
  base::FilePath GetPackageDir() override { return package; }
  bool IsMinimalInstall() override { return minimal; }
  bool IsPackageDirKnown() override { return package_dir_known; }

  base::FilePath target;
  base::FilePath package;
  bool minimal = false;
  bool package_dir_known = false;
};

class PackageVerificationStepsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    context_.target = dir_.GetPath().Append(L"target");
    context_.package = dir_.GetPath().Append(L"package");
    ASSERT_TRUE(base::CreateDirectory(context_.target.Append(L"sub")));
    ASSERT_TRUE(base::CreateDirectory(context_.package.Append(L"sub")));
    ASSERT_TRUE(
        base::CreateDirectory(context_.package.Append(L"localization")));
  }

  static void Write(const base::FilePath& path, const std::string& content) {
    ASSERT_EQ(static_cast<int>(content.size()),
              base::WriteFile(path, content.data(), content.size()));
  }

  base::ScopedTempDir dir_;
  TestStepContext context_;
};

// Every resource file of this build holds "kavor resource " + its path.
TEST_F(PackageVerificationStepsTest, DownloadableResources) {
  const base::FilePath corrupt =
      context_.package.Append(L"localization\\pt-BR.pak");
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
    context_.minimal = c.minimal;
    for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
      const base::FilePath path =
          GetResourceFilePath(context_.package, resources[i]);
      if (c.all_present || i % 2 == 0)
        Write(path,
              "kavor resource " + DecodeResourcePath(resources[i]) + "\n");
      else
        ASSERT_TRUE(base::DeleteFile(path, false));
    }
    if (c.corrupt)
      Write(corrupt, "kavor resource localization/pt-BR.pak\r\n");

    VerifyDownloadableResourcesStep step(&context_);
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

TEST_F(PackageVerificationStepsTest, PackageContentsReportsMissingInListOrder) {
  context_.package_dir_known = true;
  Write(context_.target.Append(L"present"), "");
  VerifyPackageContentsStep step(
      &context_, {"gone_1", "present", "sub\\gone_2"}, {"gone_3"}, {"gone_4"});
  InstallerStepResult result;
  step.Execute(&result, 0);
  EXPECT_EQ(STEP_FAILED, result.status);
  EXPECT_EQ(RESULT_GENERAL_ERROR, result.code);
  EXPECT_EQ(L"", result.path);
  EXPECT_EQ(
      "Package verification failed, files 'gone_1 sub\\gone_2 gone_3 gone_4' "
      "cannot be opened.",
      result.message);
  EXPECT_TRUE(context_.GetStatusUnderConstruction()->files.empty());
}

// A backend that knows the package folder checks the target folder, except
// for the extra files; one that does not checks the package folder only.
TEST_F(PackageVerificationStepsTest, PackageContentsBaseFolders) {
  struct {
    bool package_dir_known;
    bool listed_in_target;  // else in the package folder
    bool extra_in_target;
    InstallerStepStatus status;
    size_t status_files;
  } const kCases[] = {
      {true, true, false, STEP_DONE, 3},
      {true, false, false, STEP_FAILED, 1},
      {true, true, true, STEP_FAILED, 1},
      {false, false, false, STEP_DONE, 1},
      {false, true, false, STEP_FAILED, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.package_dir_known << c.listed_in_target
                                    << c.extra_in_target);
    ASSERT_TRUE(base::DeleteFile(context_.target, true));
    ASSERT_TRUE(base::DeleteFile(context_.package, true));
    ASSERT_TRUE(base::CreateDirectory(context_.target.Append(L"sub")));
    ASSERT_TRUE(base::CreateDirectory(context_.package.Append(L"sub")));
    const base::FilePath& listed =
        c.listed_in_target ? context_.target : context_.package;
    Write(listed.Append(L"sub\\a.dll"), "");
    Write(listed.Append(L"b.exe"), "");
    Write(listed.Append(L"root.txt"), "");
    Write((c.extra_in_target ? context_.target : context_.package)
              .Append(L"extra.bin"),
          "");
    context_.package_dir_known = c.package_dir_known;
    std::vector<base::FilePath>& files =
        context_.GetStatusUnderConstruction()->files;
    files.assign(1, base::FilePath(L"earlier"));

    VerifyPackageContentsStep step(&context_, {"sub\\a.dll", "b.exe"},
                                   {"root.txt"}, {"extra.bin"});
    InstallerStepResult result;
    step.Execute(&result, 0);
    EXPECT_EQ(c.status, result.status) << result.message;
    ASSERT_EQ(c.status_files, files.size());
    if (c.status_files == 3) {
      EXPECT_EQ(L"sub\\a.dll", files[1].value());
      EXPECT_EQ(L"b.exe", files[2].value());
    }
  }
}

}  // namespace
}  // namespace installer
