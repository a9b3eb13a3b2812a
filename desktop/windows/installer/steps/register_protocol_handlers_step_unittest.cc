#include "desktop/windows/installer/steps/register_protocol_handlers_step.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
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

// The protocol joins the machine-wide URL associations only of an
// installation that registered them, and only when it is a URL scheme: a
// value from the command line must not reach another key or value.
TEST_F(RegisterProtocolHandlersStepTest, WritesOnlyForARecordedKey) {
  const struct {
    const char* label;
    bool installed;
    const char* record;
    const wchar_t* protocol;
    bool written;
    // A volatile key above the associations, below which no lasting key
    // can be made: the write fails.
    bool blocked = false;
  } kCases[] = {
      {"recorded", true,
       "Software\\Clients\\StartMenuInternet\\KavorDeveloper\\Capabilities\\"
       "UrlAssociations",
       L"kavor-app+x.1", true},
      {"no installation", false,
       "Software\\Clients\\StartMenuInternet\\Kavordeveloper\\Capabilities\\"
       "URLAssociations",
       L"kavor-app", false},
      {"another key recorded", true,
       "Software\\Clients\\StartMenuInternet\\Kavordeveloper\\Capabilities",
       L"kavor-app", false},
      {"empty", true, "", L"", false},
      {"backslash", true, "", L"a\\..\\b", false},
      {"control character", true, "", L"ka\nvor", false},
      {"not starting with a letter", true, "", L"1kavor", false},
      {"write fails", true, "", L"kavor-app", false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    test::ScopedRegistryRoots roots;
    if (c.blocked) {
      HKEY key = nullptr;
      ASSERT_EQ(ERROR_SUCCESS,
                ::RegCreateKeyExW(
                    HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Clients\\StartMenuInternet\\Kavordeveloper", 0,
                    nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr));
      ::RegCloseKey(key);
    }
    Context context(dir_.GetPath());
    context.installed = c.installed;
    context.existing.hklm_keys.push_back(
        {0,
         *c.record ? c.record
                   : "SOFTWARE\\Clients\\StartMenuInternet\\Kavordeveloper\\"
                     "Capabilities\\URLAssociations",
         {}});
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchNative("register-kavor-as-protocol-handler",
                                    c.protocol);
    RegisterProtocolHandlersStep step(&context, &command_line);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    CommitOperations(context.GetTransaction());
    EXPECT_EQ(c.written ? L"Kavordeveloper" : L"missing",
              test::ReadText(HKEY_LOCAL_MACHINE, kAssociations, c.protocol));
    EXPECT_EQ(c.written, test::KeyExists(HKEY_LOCAL_MACHINE, kAssociations));
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
