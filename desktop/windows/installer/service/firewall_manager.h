#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_

#include <windows.h>
#include <netfw.h>

#include <memory>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

// What the firewall rules of every executable share.
class FirewallManagerFactory {
 public:
  // The process-wide factory; made on first use and never freed.
  static FirewallManagerFactory* GetInstance();

  virtual ~FirewallManagerFactory() = default;

  // The rule group: the product's display name.
  virtual base::string16 GetGroupName();

  // The Windows Firewall's policy and a new, empty rule, made with
  // CoCreateInstance on the calling thread; the caller owns the reference.
  virtual HRESULT CreatePolicy(INetFwPolicy2** policy);
  virtual HRESULT CreateRule(INetFwRule** rule);
};

// The Windows Firewall rules of one executable: the inbound mDNS rule the
// browser needs, and the removal of every rule naming the executable.
// Firewall changes are not part of any transaction.
class FirewallManager {
 public:
  // Null when the firewall cannot be reached; the caller logs it. The
  // manager asks |factory| for its COM objects, so |factory| must outlive it.
  static std::unique_ptr<FirewallManager> Create(
      FirewallManagerFactory* factory, const base::FilePath& application_path);

  virtual ~FirewallManager() = default;

  // True when the firewall is off for every active profile or a rule for
  // the executable exists.
  virtual bool CanReceiveTraffic() = 0;
  // Replaces the executable's mDNS rule; false when it cannot be added.
  virtual bool AddMdnsInboundRule() = 0;
  virtual void RemoveAllRules() = 0;
};

using FirewallManagerCreator =
    base::RepeatingCallback<std::unique_ptr<FirewallManager>(
        const base::FilePath& application_path)>;
// Makes FirewallManager::Create answer through |creator| until called again
// with a null callback.
void SetFirewallManagerCreatorForTesting(FirewallManagerCreator creator);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_
