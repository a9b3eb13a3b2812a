#include "desktop/windows/installer/service/firewall_manager.h"

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <utility>
#include <vector>

#include "base/guid.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;

// Declared by the system headers without a definition in the import
// libraries.
constexpr CLSID kNetFwPolicy2Clsid = {
    0xe2b3c97f,
    0x6ae1,
    0x41ac,
    {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
constexpr CLSID kNetFwRuleClsid = {
    0x2c5bc43e,
    0x3369,
    0x4c33,
    {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};

const char kMdnsRuleSuffix[] = " (mDNS-In)";
const wchar_t kMdnsRuleDescription[] = L"Inbound rule to allow mDNS traffic.";
const unsigned kMdnsPort = 5353;

FirewallManagerCreator& TestingCreator() {
  static FirewallManagerCreator* const creator = new FirewallManagerCreator();
  return *creator;
}

class FirewallManagerImpl : public FirewallManager {
 public:
  FirewallManagerImpl(FirewallManagerFactory* factory,
                      const base::string16& group_name,
                      const base::FilePath& application_path)
      : factory_(factory),
        group_name_(group_name),
        application_path_(application_path) {}

  bool Init() {
    ComPtr<INetFwPolicy2> policy;
    HRESULT hr = factory_->CreatePolicy(policy.GetAddressOf());
    if (FAILED(hr) || !policy) {
      LOG(ERROR) << "Cannot reach the firewall policy: 0x" << std::hex << hr;
      return false;
    }
    ComPtr<INetFwRules> rules;
    hr = policy->get_Rules(rules.GetAddressOf());
    if (FAILED(hr) || !rules) {
      LOG(ERROR) << "Cannot read the firewall rules: 0x" << std::hex << hr;
      return false;
    }
    policy_ = std::move(policy);
    rules_ = std::move(rules);
    return true;
  }

  bool CanReceiveTraffic() override {
    return !IsFirewallEnabled() || !GetRules().empty();
  }

  bool AddMdnsInboundRule() override {
    const base::string16 rule_name =
        base::UTF8ToUTF16(GetProductDisplayName() + kMdnsRuleSuffix);
    // Only the installer's own rule is replaced; other rules of the
    // executable may be the user's.
    for (const ComPtr<INetFwRule>& rule : GetRules()) {
      base::win::ScopedBstr name;
      if (SUCCEEDED(rule->get_Name(name.Receive())) && name.Get() &&
          rule_name == name.Get()) {
        RemoveRule(rule.Get());
      }
    }

    ComPtr<INetFwRule> rule;
    HRESULT hr = factory_->CreateRule(rule.GetAddressOf());
    if (FAILED(hr) || !rule) {
      LOG(ERROR) << "Cannot create a firewall rule: 0x" << std::hex << hr;
      return false;
    }
    const base::string16 port = std::to_wstring(kMdnsPort);
    rule->put_Name(base::win::ScopedBstr(rule_name.c_str()));
    rule->put_Description(base::win::ScopedBstr(kMdnsRuleDescription));
    rule->put_ApplicationName(
        base::win::ScopedBstr(application_path_.value().c_str()));
    rule->put_Protocol(NET_FW_IP_PROTOCOL_UDP);
    rule->put_Direction(NET_FW_RULE_DIR_IN);
    rule->put_Enabled(VARIANT_TRUE);
    rule->put_LocalPorts(base::win::ScopedBstr(port.c_str()));
    rule->put_Grouping(base::win::ScopedBstr(group_name_.c_str()));
    rule->put_Profiles(NET_FW_PROFILE2_ALL);
    rule->put_Action(NET_FW_ACTION_ALLOW);
    hr = rules_->Add(rule.Get());
    if (FAILED(hr)) {
      LOG(ERROR) << "Cannot add the firewall rule: 0x" << std::hex << hr;
      return false;
    }
    return true;
  }

  void RemoveAllRules() override {
    for (const ComPtr<INetFwRule>& rule : GetRules())
      RemoveRule(rule.Get());
  }

 private:
  // Whether the firewall is on in any active profile. A profile whose state
  // cannot be read counts as on; when the active profiles cannot be read,
  // the firewall counts as off.
  bool IsFirewallEnabled() {
    LONG current = 0;
    if (FAILED(policy_->get_CurrentProfileTypes(&current)))
      return false;
    for (NET_FW_PROFILE_TYPE2 profile :
         {NET_FW_PROFILE2_PUBLIC, NET_FW_PROFILE2_PRIVATE,
          NET_FW_PROFILE2_DOMAIN}) {
      if (!(current & profile))
        continue;
      VARIANT_BOOL enabled = VARIANT_FALSE;
      if (FAILED(policy_->get_FirewallEnabled(profile, &enabled)) ||
          enabled != VARIANT_FALSE) {
        return true;
      }
    }
    return false;
  }

  // The rules naming the executable, letter case aside; the walk ends at
  // the first call that fails.
  std::vector<ComPtr<INetFwRule>> GetRules() {
    std::vector<ComPtr<INetFwRule>> found;
    ComPtr<IUnknown> unknown;
    if (FAILED(rules_->get__NewEnum(unknown.GetAddressOf())) || !unknown)
      return found;
    ComPtr<IEnumVARIANT> items;
    if (FAILED(unknown.As(&items)))
      return found;
    for (;;) {
      base::win::ScopedVariant item;
      ULONG fetched = 0;
      if (items->Next(1, item.Receive(), &fetched) != S_OK)
        break;
      if (item.type() != VT_DISPATCH || !V_DISPATCH(item.ptr()))
        continue;
      ComPtr<INetFwRule> rule;
      if (FAILED(V_DISPATCH(item.ptr())->QueryInterface(IID_PPV_ARGS(&rule))))
        continue;
      base::win::ScopedBstr application;
      if (SUCCEEDED(rule->get_ApplicationName(application.Receive())) &&
          application.Get() &&
          base::FilePath::CompareIgnoreCase(application_path_.value(),
                                            application.Get()) == 0) {
        found.push_back(std::move(rule));
      }
    }
    return found;
  }

  // Rules are removed by name and several may share one: a fresh unique
  // name makes the removal hit exactly this rule.
  void RemoveRule(INetFwRule* rule) {
    const base::win::ScopedBstr unique_name(
        base::UTF8ToUTF16(base::GenerateGUID()).c_str());
    if (FAILED(rule->put_Name(unique_name))) {
      LOG(ERROR) << "Cannot rename a firewall rule for its removal";
      return;
    }
    rules_->Remove(unique_name);
  }

  FirewallManagerFactory* const factory_;
  const base::string16 group_name_;
  const base::FilePath application_path_;
  ComPtr<INetFwPolicy2> policy_;
  ComPtr<INetFwRules> rules_;
};

}  // namespace

FirewallManagerFactory* FirewallManagerFactory::GetInstance() {
  static FirewallManagerFactory* const factory = new FirewallManagerFactory();
  return factory;
}

base::string16 FirewallManagerFactory::GetGroupName() {
  return base::UTF8ToUTF16(GetProductDisplayName());
}

HRESULT FirewallManagerFactory::CreatePolicy(INetFwPolicy2** policy) {
  return ::CoCreateInstance(kNetFwPolicy2Clsid, nullptr, CLSCTX_ALL,
                            __uuidof(INetFwPolicy2),
                            reinterpret_cast<void**>(policy));
}

HRESULT FirewallManagerFactory::CreateRule(INetFwRule** rule) {
  return ::CoCreateInstance(kNetFwRuleClsid, nullptr, CLSCTX_ALL,
                            __uuidof(INetFwRule),
                            reinterpret_cast<void**>(rule));
}

// static
std::unique_ptr<FirewallManager> FirewallManager::Create(
    FirewallManagerFactory* factory, const base::FilePath& application_path) {
  if (TestingCreator())
    return TestingCreator().Run(application_path);
  auto manager = std::make_unique<FirewallManagerImpl>(
      factory, factory->GetGroupName(), application_path);
  if (!manager->Init())
    return nullptr;
  return manager;
}

void SetFirewallManagerCreatorForTesting(FirewallManagerCreator creator) {
  TestingCreator() = std::move(creator);
}

}  // namespace installer
