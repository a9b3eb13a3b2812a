#include "desktop/windows/installer/steps/install_components_step.h"

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Components = std::vector<InstallationComponent>;

class Details : public test::FakeFolderDetails {
 public:
  using FakeFolderDetails::FakeFolderDetails;
  std::unique_ptr<InstallationStatus> status;
  const InstallationStatus* GetInstallationStatus() const override {
    return status.get();
  }
};

class ModeSettings : public test::FakeSettings {
 public:
  bool copy_only = false, all_users = false;
  Details details{&folder};
  bool GetCopyOnly() const override { return copy_only; }
  bool GetAllUsers() const override { return all_users; }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }
};

// Says how the running installer is signed; a component passes the
// verification only with |verifies|.
class FakeSignatureChecker : public SignatureChecker {
 public:
  bool own_known = true, own_signed = false, verifies = false;
  int verifications = 0;
  bool HasSecurityDirectory(const base::FilePath& path,
                            bool* is_signed) override {
    base::FilePath exe;
    EXPECT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
    *is_signed = path == exe ? own_signed : false;
    return path == exe ? own_known : true;
  }
  bool VerifyFileSignature(const base::FilePath&, std::string*) override {
    ++verifications;
    return verifies;
  }
};

// Two component installers beside the package: "comp\assistant" and
// "other\viewer", stand-ins that record their command lines and exit with
// the code the test gives.
class InstallComponentsStepTest : public test::StepTest {
 protected:
  void TearDown() override { SetSignatureCheckerForTesting(nullptr); }

  void Prepare(InstallerOperation operation,
               const char* components,
               int assistant_exit,
               int viewer_exit) {
    Reset();
    settings_.folder = install_;
    settings_.operation = operation;
    context_->set_settings(&settings_);
    parent_ = package_.DirName();
    base::FilePath bin;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    const struct {
      const char* folder;
      const char* name;
      int exit_code;
    } kInstallers[] = {{"comp", "assistant", assistant_exit},
                       {"other", "viewer", viewer_exit}};
    for (const auto& installer : kInstallers) {
      const base::FilePath folder = parent_.AppendASCII(installer.folder);
      ASSERT_TRUE(base::CreateDirectory(folder));
      ASSERT_TRUE(base::CopyFile(
          bin.Append(L"kavor_launcher_standin.exe"),
          folder.AppendASCII(std::string(installer.name) + "_installer.exe")));
      Write(folder, std::string(installer.name) + "_installer_exit_code.txt",
            std::to_string(installer.exit_code));
    }
    command_line_ = base::CommandLine(base::CommandLine::NO_PROGRAM);
    if (components)
      command_line_.AppendSwitchASCII("components", components);
  }

  Components Run() {
    InstallComponentsStep step(context_.get(), &command_line_);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    return context_->GetStatusUnderConstruction()->components;
  }

  // The command lines the installer in |folder| was started with.
  std::string Calls(const char* folder, const char* name) {
    std::string calls;
    return base::ReadFileToString(
               parent_.AppendASCII(folder).AppendASCII(std::string(name) +
                                                       "_installer_calls.txt"),
               &calls)
               ? calls
               : "";
  }

  std::string Expected(const char* folder,
                       const char* program,
                       const char* name,
                       const char* copy_only,
                       const char* all_users) {
    base::CommandLine command_line(parent_.AppendASCII(folder).AppendASCII(
        std::string(program) + "_installer.exe"));
    command_line.AppendSwitchPath("installfolder", install_.AppendASCII(name));
    command_line.AppendSwitchASCII("copyonly", copy_only);
    command_line.AppendSwitchASCII("allusers", all_users);
    return base::WideToUTF8(command_line.GetCommandLineString()) + "\r\n";
  }

  Components Recorded(const std::vector<const char*>& names) {
    Components components;
    for (const char* name : names)
      components.push_back({name, install_.AppendASCII(name)});
    return components;
  }

  ModeSettings settings_;
  base::CommandLine command_line_{base::CommandLine::NO_PROGRAM};
  base::FilePath parent_;
};

TEST_F(InstallComponentsStepTest, RunsInstallersAndRecordsTheSuccessfulOnes) {
  const struct {
    const char* label;
    const char* components;
    int assistant_exit, viewer_exit;
    bool copy_only, all_users;
    std::vector<const char*> recorded;
    bool assistant_runs, viewer_runs;
    const char* assistant_name;
  } kCases[] = {
      {"one", "assistant:comp", 0, 0, 0, 0, {"assistant"}, 1, 0, "assistant"},
      {"failing", "assistant:comp", 3, 0, 0, 0, {}, 1, 0, "assistant"},
      {"failing then next",
       "assistant:comp|viewer:other",
       1,
       0,
       0,
       0,
       {"viewer"},
       1,
       1,
       "assistant"},
      {"modes", "assistant:comp", 0, 0, 1, 1, {"assistant"}, 1, 0, "assistant"},
      {"old assistant name",
       "suite:comp",
       0,
       0,
       0,
       0,
       {"suite"},
       1,
       0,
       "suite"},
      {"missing then next",
       "missing:comp|viewer:other",
       0,
       0,
       0,
       0,
       {"viewer"},
       0,
       1,
       ""},
      {"no switch", nullptr, 0, 0, 0, 0, {}, 0, 0, ""},
      {"no entry", " | ", 0, 0, 0, 0, {}, 0, 0, ""},
      {"no folder part", "assistant", 0, 0, 0, 0, {}, 0, 0, ""},
      {"name with a folder", "comp\\assistant:.", 0, 0, 0, 0, {}, 0, 0, ""},
      {"name leaving the folder",
       "..\\assistant:comp",
       0,
       0,
       0,
       0,
       {},
       0,
       0,
       ""},
      {"folder leaving the parent",
       "assistant:..\\..\\comp",
       0,
       0,
       0,
       0,
       {},
       0,
       0,
       ""},
      {"absolute folder", "assistant:C:\\comp", 0, 0, 0, 0, {}, 0, 0, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Prepare(OPERATION_INSTALL, c.components, c.assistant_exit, c.viewer_exit);
    settings_.copy_only = c.copy_only;
    settings_.all_users = c.all_users;
    EXPECT_EQ(Recorded(c.recorded), Run());
    const char* mode = c.copy_only ? "1" : "0";
    EXPECT_EQ(c.assistant_runs
                  ? Expected("comp", "assistant", c.assistant_name, mode, mode)
                  : "",
              Calls("comp", "assistant"));
    EXPECT_EQ(
        c.viewer_runs ? Expected("other", "viewer", "viewer", "0", "0") : "",
        Calls("other", "viewer"));
  }
}

// An upgrade keeps what earlier versions installed; a component installed
// again is recorded once, with its new path.
TEST_F(InstallComponentsStepTest, UpgradeKeepsEarlierComponents) {
  const base::FilePath old_path(L"C:\\old\\assistant");
  const struct {
    InstallerOperation operation;
    const char* components;
    int assistant_exit;
    Components expected;
  } kCases[] = {
      {OPERATION_UPGRADE,
       nullptr,
       0,
       {{"legacy", base::FilePath(L"C:\\old\\legacy")},
        {"assistant", old_path}}},
      {OPERATION_UPGRADE,
       "assistant:comp",
       1,
       {{"legacy", base::FilePath(L"C:\\old\\legacy")},
        {"assistant", old_path}}},
      {OPERATION_UPGRADE,
       "assistant:comp",
       0,
       {{"legacy", base::FilePath(L"C:\\old\\legacy")},
        {"assistant", base::FilePath()}}},
      {OPERATION_INSTALL, nullptr, 0, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.operation << c.assistant_exit);
    Prepare(c.operation, c.components, c.assistant_exit, 0);
    settings_.details.status = std::make_unique<InstallationStatus>();
    settings_.details.status->components = {
        {"legacy", base::FilePath(L"C:\\old\\legacy")},
        {"assistant", old_path}};
    Components expected = c.expected;
    for (InstallationComponent& component : expected) {
      if (component.path.empty())
        component.path = install_.Append(L"assistant");
    }
    EXPECT_EQ(expected, Run());
  }
}

// A signed installer, or one that cannot tell, runs only components whose
// signature verifies.
TEST_F(InstallComponentsStepTest, SignedInstallerRunsOnlyVerifiedComponents) {
  const struct {
    bool own_known, own_signed, verifies, runs;
  } kCases[] = {
      {true, false, false, true}, {true, true, true, true},
      {true, true, false, false}, {false, false, false, false},
      {false, false, true, true},
  };
  FakeSignatureChecker checker;
  SetSignatureCheckerForTesting(&checker);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.own_known << c.own_signed << c.verifies);
    Prepare(OPERATION_INSTALL, "assistant:comp", 0, 0);
    checker.own_known = c.own_known;
    checker.own_signed = c.own_signed;
    checker.verifies = c.verifies;
    EXPECT_EQ(c.runs ? Recorded({"assistant"}) : Components(), Run());
    EXPECT_EQ(c.runs, !Calls("comp", "assistant").empty());
  }
}

}  // namespace
}  // namespace installer
