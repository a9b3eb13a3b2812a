#include "desktop/windows/installer/steps/register_protocol_handlers_step.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const wchar_t kAssociations[] =
    L"SOFTWARE\\Clients\\StartMenuInternet\\Kavordeveloper\\Capabilities\\"
    L"URLAssociations";

class Context : public test::StepTestContext {
 public:
  using test::StepTestContext::StepTestContext;
  const InstallationStatus& GetExistingInstallationStatus() override {
    return existing;
  }
  bool HasExistingInstallation() override { return installed; }
  InstallationStatus existing{INSTALLATION_STATUS_PRIMARY};
  bool installed = true;
};

using RegisterProtocolHandlersStepTest = test::StepTest;

// The protocol joins the URL associations of the installation's own root,
// and only of an installation that registered them there, and only when it
// is a URL scheme: a value from the command line must not reach another key
// or value.
TEST_F(RegisterProtocolHandlersStepTest, WritesOnlyForARecordedKey) {
  const wchar_t* kRecorded =
      L"Software\\Clients\\StartMenuInternet\\KavorDeveloper\\Capabilities\\"
      L"UrlAssociations";
  const struct {
    const char* label;
    bool installed;
    bool all_users;
    // Where the status records the associations: the machine's keys or the
    // user's.
    bool recorded_for_machine;
    const char* record;
    const wchar_t* protocol;
    bool written;
    // A volatile key above the associations, below which no lasting key
    // can be made: the write fails.
    bool blocked = false;
  } kCases[] = {
      {"all users", true, true, true, "", L"kavor-app+x.1", true},
      {"per user", true, false, false, "", L"irc", true},
      {"per user, recorded for the machine", true, false, true, "", L"irc",
       false},
      {"all users, recorded for the user", true, true, false, "", L"irc",
       false},
      {"no installation", false, true, true, "", L"kavor-app", false},
      {"another key recorded", true, true, true,
       "Software\\Clients\\StartMenuInternet\\Kavordeveloper\\Capabilities",
       L"kavor-app", false},
      {"empty", true, false, false, "", L"", false},
      {"backslash", true, false, false, "", L"a\\..\\b", false},
      {"control character", true, false, false, "", L"ka\nvor", false},
      {"not starting with a letter", true, false, false, "", L"1kavor", false},
      {"write fails", true, true, true, "", L"kavor-app", false, true},
      {"write fails for the user", true, false, false, "", L"kavor-app", false,
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    test::ScopedRegistryRoots roots;
    const HKEY root = c.all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const HKEY other = c.all_users ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    if (c.blocked) {
      HKEY key = nullptr;
      ASSERT_EQ(ERROR_SUCCESS,
                ::RegCreateKeyExW(
                    root,
                    L"SOFTWARE\\Clients\\StartMenuInternet\\Kavordeveloper", 0,
                    nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr));
      ::RegCloseKey(key);
    }
    Context context(dir_.GetPath());
    context.installed = c.installed;
    context.existing.all_users = c.all_users;
    (c.recorded_for_machine ? context.existing.hklm_keys
                            : context.existing.hkcu_keys)
        .push_back({1, *c.record ? c.record : base::WideToUTF8(kRecorded), {}});
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchNative("register-kavor-as-protocol-handler",
                                    c.protocol);
    RegisterProtocolHandlersStep step(&context, &command_line);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    CommitOperations(context.GetTransaction());
    EXPECT_EQ(c.written ? L"Kavordeveloper" : L"missing",
              test::ReadText(root, kAssociations, c.protocol));
    EXPECT_EQ(c.written, test::KeyExists(root, kAssociations));
    EXPECT_FALSE(test::KeyExists(other, kAssociations));
    // The browser also becomes the user's handler of the protocol.
    EXPECT_EQ(
        c.written,
        *c.protocol &&
            test::KeyExists(HKEY_CURRENT_USER,
                            std::wstring(L"Software\\Classes\\") + c.protocol));
  }
}

}  // namespace
}  // namespace installer
