#include "desktop/windows/installer/service/firewall_manager.h"

#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

namespace {

FirewallManagerCreator& TestingCreator() {
  static FirewallManagerCreator* const creator = new FirewallManagerCreator();
  return *creator;
}

}  // namespace

FirewallManagerFactory* FirewallManagerFactory::GetInstance() {
  static FirewallManagerFactory* const factory = new FirewallManagerFactory();
  return factory;
}

base::string16 FirewallManagerFactory::GetGroupName() {
  return base::UTF8ToUTF16(GetProductDisplayName());
}

// static
std::unique_ptr<FirewallManager> FirewallManager::Create(
    FirewallManagerFactory* factory, const base::FilePath& application_path) {
  if (TestingCreator())
    return TestingCreator().Run(application_path);
  // The rules over the Windows Firewall's COM interfaces are not part of
  // this build yet.
  VLOG(1) << "Firewall rules are not available for " << application_path.value()
          << " (" << factory->GetGroupName() << ")";
  return nullptr;
}

void SetFirewallManagerCreatorForTesting(FirewallManagerCreator creator) {
  TestingCreator() = std::move(creator);
}

}  // namespace installer
