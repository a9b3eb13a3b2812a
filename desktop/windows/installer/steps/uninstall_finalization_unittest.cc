#include "desktop/windows/installer/steps/uninstall_finalization.h"

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/test/fake_association_operations.h"
#include "desktop/windows/installer/test/fake_security_utils.h"
#include "desktop/windows/installer/test/setting_change_recorder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Calls = std::vector<std::wstring>;

TEST(UninstallFinalizationTest, SplitReinstallCommand) {
  const struct {
    const wchar_t* command;
    const wchar_t* program;
    const wchar_t* arguments;
  } kCases[] = {
      {L"\"C:\\Windows\\System32\\ie4uinit.exe\" -reinstall",
       L"C:\\Windows\\System32\\ie4uinit.exe", L"-reinstall"},
      {L"C:\\Windows\\System32\\ie4uinit.exe -reinstall",
       L"C:\\Windows\\System32\\ie4uinit.exe", L"-reinstall"},
      {L"\"C:\\Program Files\\ie.exe\" -a -b", L"C:\\Program Files\\ie.exe",
       L"-a -b"},
      {L"\"C:\\ie.exe\"-reinstall", L"C:\\ie.exe", L"-reinstall"},
      // No separator: all program.
      {L"C:\\ie4uinit.exe", L"C:\\ie4uinit.exe", L""},
      {L"\"C:\\Program Files\\ie.exe", L"C:\\Program Files\\ie.exe", L""},
      {L"", L"", L""},
  };
  for (const auto& c : kCases) {
    base::string16 program = L"old", arguments = L"old";
    SplitReinstallCommand(c.command, &program, &arguments);
    EXPECT_EQ(c.program, program) << c.command;
    EXPECT_EQ(c.arguments, arguments) << c.command;
  }
}

TEST(UninstallFinalizationTest, SurveyUrlTakesOnlyAPlainWelcomeQuery) {
  const struct {
    const char* welcome;
    const char* expected;
  } kCases[] = {
      {"", "http://s/?version=1.2&uuid=u-1"},
      {"http://w/welcome", "http://s/?version=1.2&uuid=u-1"},
      {"http://w/welcome?from=a&b=c",
       "http://s/?version=1.2&uuid=u-1&from=a&b=c"},
      {"http://w/welcome?", "http://s/?version=1.2&uuid=u-1&"},
      {"http://w/welcome?a=1?b=2", "http://s/?version=1.2&uuid=u-1"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              BuildUninstallSurveyUrl("http://s/", "1.2", "u-1", c.welcome))
        << c.welcome;
  }
}

// Unquoted, a program path with blanks would first be tried as
// "C:\Program.exe"; a blank in the URL would start another argument.
TEST(UninstallFinalizationTest, SurveyCommandLineKeepsPathAndUrlWhole) {
  const base::FilePath ie(
      L"C:\\Program Files\\Internet Explorer\\iexplore.exe");
  EXPECT_EQ(
      L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" "
      L"http://s/?a=%20-x%22%09\u00e9",
      BuildSurveyCommandLine(ie, "http://s/?a= -x\"\t\xc3\xa9", false));
  EXPECT_EQ(
      L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" http://s/ "
      L"-private",
      BuildSurveyCommandLine(ie, "http://s/", true));
}

class FakeOperations : public UninstallFinalizationOperations {
 public:
  explicit FakeOperations(Calls* calls) : calls_(calls) {
    SetUninstallFinalizationOperationsForTesting(this);
  }
  ~FakeOperations() override {
    SetUninstallFinalizationOperationsForTesting(nullptr);
  }
  void BroadcastBrowserChange() override { calls_->push_back(L"broadcast"); }
  bool ReadReinstallCommand(base::string16* command) override {
    calls_->push_back(L"read");
    *command = reinstall_command;
    return has_reinstall_command;
  }
  bool RunAndWait(const base::string16& program,
                  const base::string16& arguments) override {
    calls_->push_back(L"run " + program + L"|" + arguments);
    return runs;
  }
  void LaunchDetached(const base::string16& command_line) override {
    calls_->push_back(L"launch " + command_line);
  }

  bool has_reinstall_command = true, runs = true;
  base::string16 reinstall_command = L"\"C:\\ie4uinit.exe\" -reinstall";

 private:
  Calls* const calls_;
};

class Details : public test::FakeFolderDetails {
 public:
  explicit Details(const base::FilePath* path) : FakeFolderDetails(path) {
    status.subfolder = base::FilePath(L"46.0");
  }
  const InstallationStatus* GetInstallationStatus() const override {
    return &status;
  }
  const std::string& GetWelcomeUrl() const override { return welcome; }
  bool IsHttpHandler() const override { return http_handler; }
  const std::string& GetAutoupdateUuid() const override { return uuid; }

  InstallationStatus status;
  std::string welcome = "http://w/welcome?from=w", uuid = "u-1";
  bool http_handler = true;
};

class Settings : public test::FakeSettings {
 public:
  bool GetCopyOnly() const override { return copy_only; }
  bool GetAllUsers() const override { return all_users; }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }
  bool copy_only = false, all_users = true;
  Details details{&folder};
};

class RecordingFirewall : public FirewallManager {
 public:
  RecordingFirewall(Calls* calls, const base::FilePath& path)
      : calls_(calls), path_(path) {}
  bool CanReceiveTraffic() override { return false; }
  bool AddMdnsInboundRule() override { return false; }
  void RemoveAllRules() override {
    calls_->push_back(L"firewall " + path_.value());
  }

 private:
  Calls* const calls_;
  const base::FilePath path_;
};

std::unique_ptr<FirewallManager> RecordRemoval(Calls* calls,
                                               const base::FilePath& path) {
  return std::make_unique<RecordingFirewall>(calls, path);
}

TEST(UninstallFinalizationTest, FinalizationByInstallationAndSystem) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  base::FilePath program_files;
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILES6432, &program_files));
  const std::wstring survey =
      L"launch \"" + program_files.value() +
      L"\\Internet Explorer\\iexplore.exe\" " +
      base::UTF8ToWide(GetNamedUrl("uninstall_survey")) + L"?version=" +
      base::UTF8ToWide(GetVersionString()) + L"&uuid=u-1&from=w";
  ASSERT_FALSE(GetNamedUrl("uninstall_survey").empty());
  const std::wstring firewall =
      L"firewall " + dir.GetPath().value() + L"\\install\\46.0\\kavor.exe";
  const std::wstring set = L"set Internet Explorer ";
  const std::wstring kFileTypes = std::to_wstring(AT_FILEEXTENSION);
  const std::wstring kProtocol = std::to_wstring(AT_URLPROTOCOL);
  const Calls ie_defaults = {
      set + L".htm " + kFileTypes, set + L".html " + kFileTypes,
      set + L"http " + kProtocol, set + L"https " + kProtocol};
  const std::wstring reinstall = L"run C:\\ie4uinit.exe|-reinstall";

  enum Change {
    NONE,
    COPY_ONLY,
    PER_USER,
    NO_REINSTALL_COMMAND,
    REINSTALL_FAILS,
    NOT_HTTP_HANDLER,
    NOT_ADMIN,
    SILENT,
    HOSTILE_SUBFOLDER,
    NO_PROGRAM,
  };
  const Calls kDialog = {L"dialog http"};
  const std::wstring kPrivate = L" -private";
  // The system calls in order, and the association calls.
  const struct {
    Change change;
    base::win::Version version;
    Calls calls;
    Calls associations;
  } kCases[] = {
      {NONE,
       base::win::WIN7,
       {L"broadcast", L"read", reinstall, firewall, survey},
       ie_defaults},
      {NONE,
       base::win::WIN8,
       {L"broadcast", L"read", reinstall, firewall, survey + kPrivate},
       kDialog},
      {NONE,
       base::win::WIN10,
       {L"broadcast", L"read", reinstall, firewall, survey + kPrivate},
       ie_defaults},
      {NONE,
       base::win::VISTA,
       {L"broadcast", L"read", reinstall, firewall, survey},
       ie_defaults},
      {NONE, base::win::XP, {L"broadcast", firewall, survey}, {}},
      {COPY_ONLY, base::win::WIN7, {L"broadcast"}, {}},
      {PER_USER,
       base::win::WIN8,
       {L"broadcast", firewall, survey + kPrivate},
       kDialog},
      {PER_USER,
       base::win::WIN7,
       {L"broadcast", firewall, survey},
       ie_defaults},
      {NO_REINSTALL_COMMAND,
       base::win::WIN7,
       {L"broadcast", L"read", firewall, survey},
       {}},
      {REINSTALL_FAILS,
       base::win::WIN7,
       {L"broadcast", L"read", reinstall, firewall, survey},
       {}},
      {NOT_HTTP_HANDLER, base::win::WIN7, {L"broadcast", firewall, survey}, {}},
      {NOT_ADMIN,
       base::win::WIN7,
       {L"broadcast", L"read", reinstall, survey},
       ie_defaults},
      {SILENT,
       base::win::WIN7,
       {L"broadcast", L"read", reinstall, firewall},
       ie_defaults},
      {HOSTILE_SUBFOLDER,
       base::win::WIN7,
       {L"broadcast", L"read", reinstall, survey},
       ie_defaults},
      {NO_PROGRAM,
       base::win::WIN7,
       {L"broadcast", L"read", firewall, survey},
       {}},
  };
  for (const auto& c : kCases) {
    Calls calls;
    FakeOperations operations(&calls);
    test::FakeAssociationOperations associations;
    test::FakeSecurityUtils security;
    SecurityUtilsImpl::SetInstanceForTesting(&security);
    SetFirewallManagerCreatorForTesting(
        base::BindRepeating(&RecordRemoval, &calls));
    base::win::OSInfo::Record record;
    record.version = c.version;
    base::win::ScopedOSInfoOverride version(record);
    test::StepTestContext context(dir.GetPath());
    Settings settings;
    settings.folder = context.settings.folder;
    context.set_settings(&settings);
    base::CommandLine command_line(base::FilePath(L"kavor_setup.exe"));

    settings.copy_only = c.change == COPY_ONLY;
    settings.all_users = c.change != PER_USER;
    operations.has_reinstall_command = c.change != NO_REINSTALL_COMMAND;
    operations.runs = c.change != REINSTALL_FAILS;
    settings.details.http_handler = c.change != NOT_HTTP_HANDLER;
    security.admin = c.change != NOT_ADMIN;
    if (c.change == SILENT)
      command_line.AppendSwitch("silent");
    if (c.change == HOSTILE_SUBFOLDER)
      settings.details.status.subfolder = base::FilePath(L"..\\..\\Windows");
    if (c.change == NO_PROGRAM)
      operations.reinstall_command = L"\"\" -x";

    FinalizeUninstallationWithCommandLine(&context, settings.folder,
                                          command_line);
    EXPECT_EQ(c.calls, calls) << c.change << " " << c.version;
    EXPECT_EQ(c.associations, associations.calls)
        << c.change << " " << c.version;

    SetFirewallManagerCreatorForTesting(FirewallManagerCreator());
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }
}

// A notification cannot carry the key's text to other windows: the system
// refuses it, and nobody hears of the removed browser.
TEST(UninstallFinalizationTest, BroadcastReachesWindowsWithTheText) {
  std::vector<std::wstring> changes;
  ASSERT_TRUE(test::RecordSettingChanges(
      [] { GetUninstallFinalizationOperations()->BroadcastBrowserChange(); },
      &changes));
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Software\\Clients\\StartMenuInternet"}),
      changes);
}

const wchar_t kCommandInterpreter[] = L"%SystemRoot%\\system32\\cmd.exe";

// The program has ended when the call returns: what it wrote is there.
TEST(UninstallFinalizationTest, RunAndWaitReturnsWhenTheProgramEnded) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const base::FilePath done = dir.GetPath().Append(L"done");
  UninstallFinalizationOperations* operations =
      GetUninstallFinalizationOperations();
  EXPECT_TRUE(operations->RunAndWait(kCommandInterpreter,
                                     L"/c echo x> \"" + done.value() + L"\""));
  EXPECT_TRUE(base::PathExists(done));
  EXPECT_FALSE(operations->RunAndWait(
      dir.GetPath().Append(L"missing.exe").value(), L""));
}

const UINT kQuestion = WM_APP + 7;
bool g_question_answered = false;

LRESULT CALLBACK AnswerQuestion(HWND window,
                                UINT message,
                                WPARAM wparam,
                                LPARAM lparam) {
  if (message == kQuestion) {
    g_question_answered = true;
    return 1;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// The waiting thread may own windows that other programs send messages to
// and wait for. Here the program ends only after such a message was
// answered: a wait that answers nothing would never end (the sender gives
// up after a long while only so that the test fails instead of hanging).
TEST(UninstallFinalizationTest, RunAndWaitAnswersSentMessages) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &AnswerQuestion;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KavorUninstallQuestionAnswerer";
  ::RegisterClassW(&window_class);
  HWND window =
      ::CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                        HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  const std::wstring pipe_name = L"\\\\.\\pipe\\kavor_run_and_wait_" +
                                 std::to_wstring(::GetCurrentProcessId());
  HANDLE pipe =
      ::CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND,
                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
  g_question_answered = false;
  LRESULT answer = 0;
  // The program reads the pipe until it closes; it is closed once the
  // question came back.
  std::thread asker([window, pipe, &answer] {
    if (::ConnectNamedPipe(pipe, nullptr) ||
        ::GetLastError() == ERROR_PIPE_CONNECTED) {
      DWORD_PTR result = 0;
      if (::SendMessageTimeoutW(window, kQuestion, 0, 0, SMTO_NORMAL, 60000,
                                &result)) {
        answer = static_cast<LRESULT>(result);
      }
    }
    ::CloseHandle(pipe);
  });
  EXPECT_TRUE(GetUninstallFinalizationOperations()->RunAndWait(
      kCommandInterpreter, L"/c type " + pipe_name));
  asker.join();
  ::DestroyWindow(window);
  EXPECT_TRUE(g_question_answered);
  EXPECT_EQ(1, answer);
}

}  // namespace
}  // namespace installer
