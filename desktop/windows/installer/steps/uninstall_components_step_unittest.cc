#include "desktop/windows/installer/steps/uninstall_components_step.h"

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/bounded_wait.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class ModeSettings : public test::FakeSettings {
 public:
  bool copy_only = false, all_users = false;
  bool GetCopyOnly() const override { return copy_only; }
  bool GetAllUsers() const override { return all_users; }
};

class Context : public test::StepTestContext {
 public:
  explicit Context(const base::FilePath& root) : test::StepTestContext(root) {
    set_settings(&mode);
  }
  const InstallationStatus& GetExistingInstallationStatus() override {
    return existing;
  }
  ModeSettings mode;
  InstallationStatus existing{INSTALLATION_STATUS_PRIMARY};
};

// Every recorded component's uninstaller starts with the installation's
// mode; "suite" falls back to the assistant's uninstaller beside it, while
// a suite that still has its own uses that. The stand-ins record their
// command lines in "NAME_calls.txt".
TEST(UninstallComponentsStepTest, StartsEachUninstallerWithTheMode) {
  const struct {
    bool copy_only, all_users;
    const char* suite_program;
    const char* switches;
  } kCases[] = {
      {false, false, "assistant_installer", "--copyonly=0 --allusers=0"},
      {true, false, "suite_installer", "--copyonly=1 --allusers=0"},
      {false, true, "assistant_installer", "--copyonly=0 --allusers=1"},
  };
  base::FilePath standin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &standin));
  standin = standin.Append(L"kavor_launcher_standin.exe");
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  // The uninstallers may still be ending when a case is over: each case
  // has folders of its own.
  int number = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.suite_program);
    const base::FilePath root = dir.GetPath().Append(std::to_wstring(++number));
    Context context(root);
    context.mode.copy_only = c.copy_only;
    context.mode.all_users = c.all_users;
    const base::FilePath programs[] = {
        root.Append(L"suite").AppendASCII(c.suite_program),
        root.Append(L"viewer\\viewer_installer")};
    context.existing.components = {{"suite", programs[0].DirName()},
                                   {"viewer", programs[1].DirName()}};
    for (const base::FilePath& program : programs) {
      ASSERT_TRUE(base::CreateDirectory(program.DirName()));
      ASSERT_TRUE(base::CopyFile(standin, program.AddExtension(L"exe")));
    }

    UninstallComponentsStep step(&context);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    for (const base::FilePath& program : programs) {
      const std::string expected =
          base::WideToUTF8(base::CommandLine(program.AddExtension(L"exe"))
                               .GetCommandLineString()) +
          " --uninstall " + c.switches + "\r\n";
      std::string calls;
      EXPECT_TRUE(base::WaitUntil(
          [&] {
            return base::ReadFileToString(
                       base::FilePath(program.value() + L"_calls.txt"),
                       &calls) &&
                   calls == expected;
          },
          "the uninstaller's start"))
          << calls;
    }
  }
  EXPECT_TRUE(base::WaitUntil([&] { return dir.Delete(); },
                              "the end of the uninstallers"));
}

// Nothing starts for an installation without components, nor for a record
// whose name or folder could lead to another program: a name with a folder
// part or "..", or a folder taken relative to the current one. The
// programs such records would reach are there, and each has ended (its file
// can go) before the test looks for its calls.
TEST(UninstallComponentsStepTest, StartsNothingForHostileRecords) {
  const struct {
    const char* label;
    const char* name;
    const wchar_t* folder;   // Relative to the case's root; "" for none.
    bool relative;           // The record gives the folder relative.
    const wchar_t* program;  // The program the record would start.
  } kCases[] = {
      {"no components", nullptr, L"", false, L"viewer\\viewer_installer"},
      {"folder part", "sub\\viewer", L"", false, L"sub\\viewer_installer"},
      {"dot dot", "..\\viewer", L"suite", false, L"viewer_installer"},
      {"relative folder", "viewer", L"viewer", true,
       L"viewer\\viewer_installer"},
  };
  base::FilePath standin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &standin));
  standin = standin.Append(L"kavor_launcher_standin.exe");
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  int number = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const base::FilePath root = dir.GetPath().Append(std::to_wstring(++number));
    const base::FilePath program = root.Append(c.program);
    ASSERT_TRUE(base::CreateDirectory(program.DirName()));
    ASSERT_TRUE(base::CopyFile(standin, program.AddExtension(L"exe")));
    Context context(root);
    if (c.name) {
      context.existing.components = {{c.name, c.relative
                                                  ? base::FilePath(c.folder)
                                                  : root.Append(c.folder)}};
    }
    base::FilePath current;
    ASSERT_TRUE(base::GetCurrentDirectory(&current));
    ASSERT_TRUE(base::SetCurrentDirectory(root));
    UninstallComponentsStep step(&context);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_TRUE(base::SetCurrentDirectory(current));
    EXPECT_EQ(STEP_DONE, result.status);
    EXPECT_TRUE(base::WaitUntil(
        [&] { return base::DeleteFile(program.AddExtension(L"exe"), false); },
        "the end of the program"));
    EXPECT_FALSE(
        base::PathExists(base::FilePath(program.value() + L"_calls.txt")));
  }
}

}  // namespace
}  // namespace installer
