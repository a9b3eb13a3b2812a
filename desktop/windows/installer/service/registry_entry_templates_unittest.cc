#include "desktop/windows/installer/service/registry_entry_templates.h"

#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The names between braces in |text|.
std::vector<std::wstring> Placeholders(const wchar_t* text) {
  std::vector<std::wstring> names;
  const std::wstring value = text ? text : L"";
  for (size_t open = value.find(L'{'); open != std::wstring::npos;
       open = value.find(L'{', open + 1)) {
    const size_t close = value.find(L'}', open);
    if (close == std::wstring::npos)
      break;
    names.push_back(value.substr(open + 1, close - open - 1));
  }
  return names;
}

class RegistryEntryTemplatesTest : public testing::Test {
 protected:
  RegistryEntryTemplatesTest() {
    settings_.folder = base::FilePath(L"C:\\Kavor");
    context_.set_settings(&settings_);
    *context_.uninstall_string() = L"Uninstall key";
  }

  test::FakeSettings settings_;
  InstallerStepContextImpl context_;
};

// A misspelt placeholder would be written as its bare name without a word
// in the log.
TEST_F(RegistryEntryTemplatesTest, EveryPlaceholderIsAVariableOfTheRun) {
  for (const RegistryValueTemplateEntry& entry : GetRegistryEntryTemplates()) {
    std::vector<std::wstring> names = Placeholders(entry.key);
    for (const std::wstring& name : Placeholders(entry.value_name))
      names.push_back(name);
    if (entry.type == REG_SZ || entry.type == REG_EXPAND_SZ) {
      for (const std::wstring& name : Placeholders(entry.data.text))
        names.push_back(name);
    }
    for (const std::wstring& name : names) {
      EXPECT_NE(name, context_.GetVariable(name))
          << "in the row of key " << entry.key;
    }
  }
}

// Which rows a root leaves out on this system (Vista or later) for this
// build's stream.
TEST_F(RegistryEntryTemplatesTest, RowsLeftOutByRoot) {
  ASSERT_EQ(2, GetChannelId());
  const std::set<std::wstring> kReleaseOnly = {
      L"Software\\Classes\\Applications\\kavor.exe\\shell\\open\\command|",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kavor.exe|",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kavor.exe|"
      L"Path"};
  const std::wstring kDdeExec =
      L"Software\\Classes\\Kavordeveloper\\shell\\open\\ddeexec";
  const struct {
    HKEY root;
    std::set<std::wstring> left_out;
  } kCases[] = {
      {HKEY_CURRENT_USER, {kDdeExec + L"|"}},
      {HKEY_LOCAL_MACHINE,
       {kDdeExec + L"|", kDdeExec + L"\\Application|", kDdeExec + L"\\Topic|"}},
  };
  for (const auto& test : kCases) {
    std::set<std::wstring> expected = test.left_out;
    expected.insert(kReleaseOnly.begin(), kReleaseOnly.end());
    std::set<std::wstring> left_out;
    int made = 0;
    for (const RegistryValueTemplateEntry& entry :
         GetRegistryEntryTemplates()) {
      RegistryValueTemplate value(entry, &context_);
      std::unique_ptr<TransactionOperation> operation;
      ASSERT_TRUE(value.CreateOperation(test.root, &operation));
      if (operation) {
        ++made;
        continue;
      }
      std::wstring key, name;
      value.ExpandVariables(&key, &name);
      left_out.insert(key + L"|" + name);
    }
    // Under the user's root the left-out ddeexec row is the deletion, under
    // the machine's the empty default value.
    EXPECT_EQ(expected, left_out) << "root " << test.root;
    EXPECT_EQ(GetRegistryEntryTemplates().size() - expected.size(),
              static_cast<size_t>(made));
  }
}

}  // namespace
}  // namespace installer
