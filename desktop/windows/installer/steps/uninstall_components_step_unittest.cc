#include "desktop/windows/installer/steps/uninstall_components_step.h"

#include <string>
#include <vector>

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
    own_settings.folder = settings.folder;
    set_settings(&own_settings);
  }
  const InstallationStatus& GetExistingInstallationStatus() override {
    return existing;
  }
  ModeSettings own_settings;
  InstallationStatus existing{INSTALLATION_STATUS_PRIMARY};
};

class UninstallComponentsStepTest : public test::StepTest {
 protected:
  void Fresh() {
    Reset();
    ctx_ = new Context(dir_.GetPath());
    context_.reset(ctx_);
  }

  // A stand-in uninstaller |program| in |folder| that records its command
  // lines in "|program|_calls.txt".
  base::FilePath AddProgram(const base::FilePath& folder,
                            const std::string& program) {
    base::FilePath bin;
    EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    const base::FilePath path = folder.AppendASCII(program + ".exe");
    EXPECT_TRUE(base::CreateDirectory(folder) &&
                base::CopyFile(bin.Append(L"kavor_launcher_standin.exe"),
                               path));
    return path;
  }

  // The command lines |program| recorded, once it has recorded one.
  std::string WaitForCalls(const base::FilePath& program) {
    const base::FilePath file(program.RemoveExtension().value() +
                              L"_calls.txt");
    std::string text;
    EXPECT_TRUE(base::WaitUntil(
        [&] {
          return base::ReadFileToString(file, &text) && !text.empty() &&
                 text.back() == '\n';
        },
        "the component uninstaller's start"));
    return text;
  }

  static std::string Expected(const base::FilePath& program,
                              const char* copy_only,
                              const char* all_users) {
    base::CommandLine command_line(program);
    command_line.AppendSwitch("uninstall");
    command_line.AppendSwitchASCII("copyonly", copy_only);
    command_line.AppendSwitchASCII("allusers", all_users);
    return base::WideToUTF8(command_line.GetCommandLineString()) + "\r\n";
  }

  Context* ctx_ = nullptr;
};

// Every recorded component's uninstaller starts with the installation's
// mode; "suite" falls back to the assistant's uninstaller beside it, while
// a suite that still has its own uses that.
TEST_F(UninstallComponentsStepTest, StartsEachUninstallerWithTheMode) {
  const struct {
    bool copy_only, all_users, own_suite_uninstaller;
    const char* copy_only_value;
    const char* all_users_value;
  } kCases[] = {
      {false, false, false, "0", "0"},
      {true, false, true, "1", "0"},
      {false, true, false, "0", "1"},
  };
  // The uninstallers may still be ending when a case is over: each case
  // has folders of its own.
  Fresh();
  int folder = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.copy_only << c.all_users
                                    << c.own_suite_uninstaller);
    ctx_->own_settings.copy_only = c.copy_only;
    ctx_->own_settings.all_users = c.all_users;
    const base::FilePath components =
        dir_.GetPath().Append(std::to_wstring(++folder));
    const base::FilePath suite = components.Append(L"suite");
    const base::FilePath viewer = components.Append(L"viewer");
    const base::FilePath suite_program = AddProgram(
        suite, c.own_suite_uninstaller ? "suite_installer"
                                       : "assistant_installer");
    const base::FilePath viewer_program =
        AddProgram(viewer, "viewer_installer");
    ctx_->existing.components = {{"suite", suite}, {"viewer", viewer}};

    UninstallComponentsStep step(context_.get());
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    EXPECT_EQ(Expected(suite_program, c.copy_only_value, c.all_users_value),
              WaitForCalls(suite_program));
    EXPECT_EQ(Expected(viewer_program, c.copy_only_value, c.all_users_value),
              WaitForCalls(viewer_program));
  }
  EXPECT_TRUE(base::WaitUntil([this] { return dir_.Delete(); },
                              "the end of the uninstallers"));
}

}  // namespace
}  // namespace installer
