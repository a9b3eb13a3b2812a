#include "desktop/windows/installer/steps/install_components_step.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/test/fake_signature_checker.h"
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

const char* const kFolders[] = {"comp", "other"};
const char* const kNames[] = {"assistant", "viewer"};

// Two component installers beside the package, "comp\assistant" and
// "other\viewer": stand-ins that record their command lines and exit with
// the code the test gives.
class InstallComponentsStepTest : public test::StepTest {
 protected:
  void TearDown() override { SetSignatureCheckerForTesting(nullptr); }

  void Prepare(InstallerOperation operation,
               const char* components,
               int assistant_exit,
               int viewer_exit = 0) {
    Reset();
    settings_.folder = install_;
    settings_.operation = operation;
    context_->set_settings(&settings_);
    base::FilePath bin;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    const int exits[] = {assistant_exit, viewer_exit};
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(base::CreateDirectory(Program(i).DirName()));
      ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_launcher_standin.exe"),
                                 Program(i)));
      Write(Program(i).DirName(),
            std::string(kNames[i]) + "_installer_exit_code.txt",
            std::to_string(exits[i]));
    }
    command_line_ = base::CommandLine(base::CommandLine::NO_PROGRAM);
    if (components)
      command_line_.AppendSwitchASCII("components", components);
  }

  base::FilePath Program(int i) {
    return package_.DirName()
        .AppendASCII(kFolders[i])
        .AppendASCII(std::string(kNames[i]) + "_installer.exe");
  }

  Components Run() {
    InstallComponentsStep step(context_.get(), &command_line_);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    return context_->GetStatusUnderConstruction()->components;
  }

  // What installer |i| was started with; empty when it never ran.
  std::string Calls(int i) {
    std::string calls;
    return base::ReadFileToString(
               Program(i).DirName().AppendASCII(std::string(kNames[i]) +
                                                "_installer_calls.txt"),
               &calls)
               ? calls
               : "";
  }

  // Installer |i| started for the component |name|.
  std::string Expected(int i, const char* name, const char* mode) {
    if (!name)
      return "";
    base::CommandLine command_line(Program(i));
    command_line.AppendSwitchPath("installfolder", install_.AppendASCII(name));
    command_line.AppendSwitchASCII("copyonly", mode);
    command_line.AppendSwitchASCII("allusers", mode);
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
};

TEST_F(InstallComponentsStepTest, RunsInstallersAndRecordsTheSuccessfulOnes) {
  const struct {
    const char* label;
    const char* components;
    int assistant_exit, viewer_exit;
    bool modes;
    std::vector<const char*> recorded;
    // The component each installer ran for; null when it did not run.
    const char* assistant_for;
    const char* viewer_for;
  } kCases[] = {
      // clang-format off
      {"one", "assistant:comp", 0, 0, 0, {"assistant"}, "assistant", nullptr},
      {"failing", "assistant:comp", 3, 0, 0, {}, "assistant", nullptr},
      {"failing then next", "assistant:comp|viewer:other", 1, 0, 0,
       {"viewer"}, "assistant", "viewer"},
      {"modes", "assistant:comp", 0, 0, 1, {"assistant"}, "assistant",
       nullptr},
      {"old assistant name", "suite:comp", 0, 0, 0, {"suite"}, "suite",
       nullptr},
      {"missing then next", "missing:comp|viewer:other", 0, 0, 0, {"viewer"},
       nullptr, "viewer"},
      {"no switch", nullptr, 0, 0, 0, {}, nullptr, nullptr},
      {"no entry", " | ", 0, 0, 0, {}, nullptr, nullptr},
      {"no folder part", "assistant", 0, 0, 0, {}, nullptr, nullptr},
      {"name leaving the folder", "..\\assistant:comp", 0, 0, 0, {}, nullptr,
       nullptr},
      {"folder leaving the parent", "assistant:..\\..\\comp", 0, 0, 0, {},
       nullptr, nullptr},
      // clang-format on
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Prepare(OPERATION_INSTALL, c.components, c.assistant_exit, c.viewer_exit);
    settings_.copy_only = settings_.all_users = c.modes;
    EXPECT_EQ(Recorded(c.recorded), Run());
    EXPECT_EQ(Expected(0, c.assistant_for, c.modes ? "1" : "0"), Calls(0));
    EXPECT_EQ(Expected(1, c.viewer_for, "0"), Calls(1));
  }
}

// An upgrade keeps what earlier versions installed; a component installed
// again is recorded once, with its new path. An install starts afresh.
TEST_F(InstallComponentsStepTest, UpgradeKeepsEarlierComponents) {
  const InstallationComponent kLegacy = {"legacy",
                                         base::FilePath(L"C:\\old\\legacy")};
  const InstallationComponent kOld = {"assistant",
                                      base::FilePath(L"C:\\old\\assistant")};
  const struct {
    InstallerOperation operation;
    const char* components;
    int assistant_exit;
    bool kept, replaced;
  } kCases[] = {
      {OPERATION_UPGRADE, nullptr, 0, true, false},
      {OPERATION_UPGRADE, "assistant:comp", 1, true, false},
      {OPERATION_UPGRADE, "assistant:comp", 0, true, true},
      {OPERATION_INSTALL, nullptr, 0, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.operation << c.assistant_exit);
    Prepare(c.operation, c.components, c.assistant_exit);
    settings_.details.status = std::make_unique<InstallationStatus>();
    settings_.details.status->components = {kLegacy, kOld};
    Components expected;
    if (c.kept)
      expected = {kLegacy, c.replaced ? Recorded({"assistant"})[0] : kOld};
    EXPECT_EQ(expected, Run());
  }
}

// A signed installer, or one that cannot tell, runs only components whose
// signature verifies.
TEST_F(InstallComponentsStepTest, SignedInstallerRunsOnlyVerifiedComponents) {
  const struct {
    bool own_known, own_signed, verifies, runs;
  } kCases[] = {
      {1, 0, 0, 1}, {1, 1, 1, 1}, {1, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 1}};
  test::FakeSignatureChecker checker;
  SetSignatureCheckerForTesting(&checker);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.own_known << c.own_signed << c.verifies);
    Prepare(OPERATION_INSTALL, "assistant:comp", 0);
    checker.own_known = c.own_known;
    checker.own_signed = c.own_signed;
    checker.verifies = c.verifies;
    EXPECT_EQ(c.runs ? Recorded({"assistant"}) : Components(), Run());
    EXPECT_EQ(c.runs, !Calls(0).empty());
  }
}

// Tries, while the step checks the signature, to change the program the
// ways a swap would.
class SwapAttempt : public test::FakeSignatureChecker {
 public:
  bool VerifyFileSignature(const base::FilePath& path,
                           std::string* log) override {
    base::win::ScopedHandle writer(
        ::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    written = writer.IsValid();
    writer.Close();
    const base::FilePath moved = path.AddExtension(L"moved");
    renamed = ::MoveFileW(path.value().c_str(), moved.value().c_str()) != 0;
    if (renamed) {
      EXPECT_TRUE(::MoveFileW(moved.value().c_str(), path.value().c_str()));
    }
    return test::FakeSignatureChecker::VerifyFileSignature(path, log);
  }
  bool written = true, renamed = true;
};

// The program checked is the program started: nobody can write or rename
// it in between, and a program that cannot be held so is not started.
TEST_F(InstallComponentsStepTest, ProgramIsHeldFromCheckToStart) {
  SwapAttempt checker;
  checker.own_signed = checker.verifies = true;
  SetSignatureCheckerForTesting(&checker);
  Prepare(OPERATION_INSTALL, "assistant:comp", 0);
  EXPECT_EQ(Recorded({"assistant"}), Run());
  EXPECT_FALSE(checker.written);
  EXPECT_FALSE(checker.renamed);

  Prepare(OPERATION_INSTALL, "assistant:comp", 0);
  base::win::ScopedHandle writer(
      ::CreateFileW(Program(0).value().c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.IsValid());
  EXPECT_EQ(Components(), Run());
  writer.Close();
  EXPECT_EQ("", Calls(0));
}

}  // namespace
}  // namespace installer
