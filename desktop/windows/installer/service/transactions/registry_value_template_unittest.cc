#include "desktop/windows/installer/service/transactions/registry_value_template.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class FakeVariables : public TemplateVariables {
 public:
  base::string16 GetVariable(const base::string16& name) const override {
    // A value holding its own placeholder; after many rounds it gives up so
    // that an expansion that keeps re-reading it ends (with a wrong text).
    if (name == L"Loop")
      return ++loop_reads_ < 50 ? L"x{Loop}y" : L"";
    auto found = values_.find(name);
    return found != values_.end() ? found->second : name;
  }
  std::vector<RegistryKeyRecord>* GetRecordedRegistryValues(
      HKEY root) override {
    return root == HKEY_CURRENT_USER ? &records_ : nullptr;
  }

  size_t RecordedValues() const {
    size_t count = 0;
    for (const auto& key : records_)
      count += key.values.size();
    return count;
  }

  std::map<base::string16, base::string16> values_;
  std::vector<RegistryKeyRecord> records_;
  mutable int loop_reads_ = 0;
};

// The bytes of |text| with its terminator, or none for "".
std::string WideBytes(const std::wstring& text) {
  if (text.empty())
    return std::string();
  return std::string(reinterpret_cast<const char*>(text.c_str()),
                     (text.size() + 1) * sizeof(wchar_t));
}

TEST(RegistryValueTemplateTest, OperationsOfEntries) {
  const std::wstring base = L"Software\\KavorTest\\RegistryValueTemplate-" +
                            std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(::GetTickCount64());
  FakeVariables variables;
  variables.values_ = {{L"Base", base},
                       {L"InstallFolder", L"C:\\Program Files\\X"},
                       {L"Product", L"Kavor"},
                       {L"ProgID", L"K"},
                       {L"Empty", L""}};
  const DWORD thirty_two = 32;
  const struct {
    const char* name;
    RegistryValueTemplateEntry entry;
    HKEY root;
    bool result;
    bool made;
    // The expanded value name, read back and recorded; null: none written.
    const wchar_t* value_read;
    DWORD type;
    std::string data;
  } kCases[] = {
      {"install folder",
       {L"{Base}\\K", L"v", REG_SZ, L"{InstallFolder}\\Launcher.exe,0", 1,
        nullptr, 0, 2},
       HKEY_CURRENT_USER,
       true,
       true,
       L"v",
       REG_SZ,
       WideBytes(L"C:\\Program Files\\X\\Launcher.exe,0")},
      {"unknown names stay bare",
       {L"{Base}\\K", L"{Foo}", REG_SZ, L"{Foo}", 1},
       HKEY_CURRENT_USER,
       true,
       true,
       L"Foo",
       REG_SZ,
       WideBytes(L"Foo")},
      {"open brace without close",
       {L"{Base}\\K", L"v", REG_EXPAND_SZ, L"{Product} a{b", 1},
       HKEY_CURRENT_USER,
       true,
       true,
       L"v",
       REG_EXPAND_SZ,
       WideBytes(L"Kavor a{b")},
      {"a value holding its own placeholder",
       {L"{Base}\\K", L"v", REG_SZ, L"{Loop}!", 1},
       HKEY_CURRENT_USER,
       true,
       true,
       L"v",
       REG_SZ,
       WideBytes(L"x{Loop}y!")},
      {"empty expansion",
       {L"{Base}\\K", L"v", REG_SZ, L"{Empty}", 1},
       HKEY_CURRENT_USER,
       true,
       true,
       L"v",
       REG_SZ,
       ""},
      {"number",
       {L"{Base}\\K", L"v", REG_DWORD, 32u, 1},
       HKEY_CURRENT_USER,
       true,
       true,
       L"v",
       REG_DWORD,
       std::string(reinterpret_cast<const char*>(&thirty_two), 4)},
      {"bytes",
       {L"{Base}\\K", L"v", REG_BINARY, "ab", 1},
       HKEY_CURRENT_USER,
       true,
       true,
       L"v",
       REG_BINARY,
       "ab"},
      {"value deletion",
       {L"{Base}\\K", L"v", kDeleteRegistryValueType},
       HKEY_CURRENT_USER,
       true,
       true,
       nullptr,
       0,
       ""},
      {"key deletion",
       {L"{Base}\\{ProgID}", nullptr, kDeleteRegistryKeyType},
       HKEY_CURRENT_USER,
       true,
       true,
       nullptr,
       0,
       ""},
      {"other root",
       {L"{Base}\\K", L"v", REG_SZ, L"x", 1, HKEY_LOCAL_MACHINE},
       HKEY_CURRENT_USER,
       true,
       false,
       nullptr,
       0,
       ""},
      {"later system",
       {L"{Base}\\K", L"v", REG_SZ, L"x", 100},
       HKEY_CURRENT_USER,
       true,
       false,
       nullptr,
       0,
       ""},
      {"later stream",
       {L"{Base}\\K", L"v", REG_SZ, L"x", 1, nullptr, GetChannelId() + 1},
       HKEY_CURRENT_USER,
       true,
       false,
       nullptr,
       0,
       ""},
      {"not recorded for this root",
       {L"{Base}\\K", L"v", REG_SZ, L"x", 1},
       HKEY_CLASSES_ROOT,
       true,
       true,
       nullptr,
       0,
       ""},
      {"unsupported type",
       {L"{Base}\\K", L"v", REG_MULTI_SZ, L"x", 1},
       HKEY_CURRENT_USER,
       false,
       false,
       nullptr,
       0,
       ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // Every row starts from the key holding an old value.
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetKeyValueW(HKEY_CURRENT_USER, (base + L"\\K").c_str(),
                                L"v", REG_SZ, L"old", 8));
    const size_t recorded_before = variables.RecordedValues();
    RegistryValueTemplate value_template(c.entry, &variables);
    std::unique_ptr<TransactionOperation> operation(
        new CreateRegKeyOperation(HKEY_CURRENT_USER, L"stale", 0));
    EXPECT_EQ(c.result, value_template.CreateOperation(c.root, &operation));
    EXPECT_EQ(c.made, operation != nullptr);
    EXPECT_EQ(c.value_read ? recorded_before + 1 : recorded_before,
              variables.RecordedValues());
    // Only the current user's operations are tried on the registry.
    if (!operation || c.root != HKEY_CURRENT_USER)
      continue;
    Transaction transaction;
    ASSERT_TRUE(ExecuteOperation(&transaction, std::move(operation), nullptr));
    BYTE data[256];
    DWORD type = 0, size = sizeof(data);
    const LONG read =
        ::RegGetValueW(HKEY_CURRENT_USER, (base + L"\\K").c_str(),
                       c.value_read ? c.value_read : L"v",
                       RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
    if (c.value_read) {
      ASSERT_EQ(ERROR_SUCCESS, read);
      EXPECT_EQ(c.type, type);
      EXPECT_EQ(c.data, std::string(reinterpret_cast<char*>(data), size));
    } else {
      EXPECT_EQ(ERROR_FILE_NOT_FOUND, read);
    }
    RollbackOperations(&transaction);
  }
  const std::vector<RegistryKeyRecord>& records = variables.records_;
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(2u, records[0].clean);

  ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace
}  // namespace installer
