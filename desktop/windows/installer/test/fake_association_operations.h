#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_ASSOCIATION_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_ASSOCIATION_OPERATIONS_H_

#include <string>
#include <vector>

#include "desktop/windows/installer/service/association_operations.h"

namespace installer {
namespace test {

// Answers every association call as told and lists the calls; installed
// as the process-wide instance while it lives.
class FakeAssociationOperations : public AssociationOperations {
 public:
  FakeAssociationOperations() { SetAssociationOperationsForTesting(this); }
  ~FakeAssociationOperations() override {
    SetAssociationOperationsForTesting(nullptr);
  }

  bool QueryAppIsDefault(const base::string16& query,
                         ASSOCIATIONTYPE type,
                         const base::string16& app) override {
    calls.push_back(L"query " + query);
    return is_default;
  }
  bool SetAppAsDefault(const base::string16& app,
                       const base::string16& query,
                       ASSOCIATIONTYPE type) override {
    calls.push_back(L"set " + app + L" " + query + L" " +
                    std::to_wstring(type));
    return succeed;
  }
  bool CanSetDefaultBrowserDirectly() override { return can_set_directly; }
  bool SetAsDefaultHandlerDirectly(const base::string16& app,
                                   const base::string16& display_name,
                                   const base::string16& internal_name,
                                   const base::string16& name) override {
    calls.push_back(L"direct " + name);
    return succeed;
  }
  bool ShouldHandleProprietaryUris() override { return false; }
  bool ChooseHandlerWithOpenWithDialog(const base::string16& name) override {
    calls.push_back(L"dialog " + name);
    return succeed;
  }
  bool OpenDefaultAppsSettings(const base::string16& target) override {
    calls.push_back(L"settings " + target);
    return true;
  }

  bool is_default = false;
  bool succeed = true;
  bool can_set_directly = false;
  std::vector<std::wstring> calls;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_ASSOCIATION_OPERATIONS_H_
