#include "desktop/windows/installer/service/firewall_manager.h"

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kBrowser[] = L"C:\\Kavor\\47.0\\kavor.exe";
const wchar_t kOtherApp[] = L"C:\\Other\\other.exe";

#define NOT_IMPLEMENTED(signature)               \
  HRESULT STDMETHODCALLTYPE signature override { \
    return E_NOTIMPL;                            \
  }

// Fake objects alive in this process: a reference the manager keeps or
// drops too many shows here once everything is released.
int g_live_objects = 0;

// Counted references and the interfaces |T| derives from.
template <typename T>
class Counted : public T {
 public:
  Counted() { ++g_live_objects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(T) ||
        (std::is_base_of<IDispatch, T>::value && iid == __uuidof(IDispatch))) {
      *object = static_cast<T*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (!left)
      delete this;
    return left;
  }

 protected:
  virtual ~Counted() { --g_live_objects; }

 private:
  ULONG references_ = 0;
};

// clang-format off
template <typename T>
class FakeDispatch : public Counted<T> {
 public:
  NOT_IMPLEMENTED(GetTypeInfoCount(UINT*))
  NOT_IMPLEMENTED(GetTypeInfo(UINT, LCID, ITypeInfo**))
  NOT_IMPLEMENTED(GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*))
  NOT_IMPLEMENTED(Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                         EXCEPINFO*, UINT*))
};
// clang-format on

// A text property; an empty text reads as a null string.
#define TEXT_PROPERTY(Name, field)                                      \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* value) override {          \
    *value = field.empty() ? nullptr : ::SysAllocString(field.c_str()); \
    return S_OK;                                                        \
  }                                                                     \
  HRESULT STDMETHODCALLTYPE put_##Name(BSTR value) override {           \
    field = value ? value : L"";                                        \
    return S_OK;                                                        \
  }
#define VALUE_PROPERTY(Name, Type, field)                      \
  HRESULT STDMETHODCALLTYPE get_##Name(Type* value) override { \
    *value = field;                                            \
    return S_OK;                                               \
  }                                                            \
  HRESULT STDMETHODCALLTYPE put_##Name(Type value) override {  \
    field = value;                                             \
    return S_OK;                                               \
  }

class FakeRule : public FakeDispatch<INetFwRule> {
 public:
  FakeRule(const std::wstring& rule_name, const std::wstring& application)
      : name(rule_name), application_name(application) {}

  TEXT_PROPERTY(Name, name)
  TEXT_PROPERTY(Description, description)
  TEXT_PROPERTY(ApplicationName, application_name)
  TEXT_PROPERTY(ServiceName, unused)
  VALUE_PROPERTY(Protocol, LONG, protocol)
  TEXT_PROPERTY(LocalPorts, local_ports)
  TEXT_PROPERTY(RemotePorts, unused)
  TEXT_PROPERTY(LocalAddresses, unused)
  TEXT_PROPERTY(RemoteAddresses, unused)
  TEXT_PROPERTY(IcmpTypesAndCodes, unused)
  VALUE_PROPERTY(Direction, NET_FW_RULE_DIRECTION, direction)
  NOT_IMPLEMENTED(get_Interfaces(VARIANT*))
  NOT_IMPLEMENTED(put_Interfaces(VARIANT))
  TEXT_PROPERTY(InterfaceTypes, unused)
  VALUE_PROPERTY(Enabled, VARIANT_BOOL, enabled)
  TEXT_PROPERTY(Grouping, grouping)
  VALUE_PROPERTY(Profiles, LONG, profiles)
  VALUE_PROPERTY(EdgeTraversal, VARIANT_BOOL, edge_traversal)
  VALUE_PROPERTY(Action, NET_FW_ACTION, action)

  std::wstring name, description, application_name, local_ports, grouping,
      unused;
  LONG protocol = 0, profiles = 0;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  VARIANT_BOOL enabled = VARIANT_FALSE, edge_traversal = VARIANT_FALSE;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
};

// Hands out a number first, as collections of mixed items do, then the
// rules.
class FakeEnum : public Counted<IEnumVARIANT> {
 public:
  explicit FakeEnum(const std::vector<ComPtr<FakeRule>>& rules)
      : rules_(rules) {}
  HRESULT STDMETHODCALLTYPE Next(ULONG count,
                                 VARIANT* items,
                                 ULONG* fetched) override {
    if (count != 1)
      return E_INVALIDARG;
    *fetched = 0;
    if (!number_given_) {
      number_given_ = true;
      V_VT(items) = VT_I4;
      V_I4(items) = 7;
    } else if (next_ < rules_.size()) {
      V_VT(items) = VT_DISPATCH;
      V_DISPATCH(items) = rules_[next_++].Get();
      V_DISPATCH(items)->AddRef();
    } else {
      return S_FALSE;
    }
    *fetched = 1;
    return S_OK;
  }
  NOT_IMPLEMENTED(Skip(ULONG))
  NOT_IMPLEMENTED(Reset())
  NOT_IMPLEMENTED(Clone(IEnumVARIANT**))

 private:
  std::vector<ComPtr<FakeRule>> rules_;
  size_t next_ = 0;
  bool number_given_ = false;
};

// Names need not be unique: Remove takes away the first rule of the name,
// whatever its application.
class FakeRules : public FakeDispatch<INetFwRules> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(rules.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    rules.push_back(static_cast<FakeRule*>(rule));
    return add_result;
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
    for (auto it = rules.begin(); it != rules.end(); ++it) {
      if ((*it)->name == name) {
        rules.erase(it);
        return S_OK;
      }
    }
    return S_OK;
  }
  NOT_IMPLEMENTED(Item(BSTR, INetFwRule**))
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** items) override {
    ++enumerations;
    *items = new FakeEnum(rules);
    (*items)->AddRef();
    return S_OK;
  }

  // The rules of |application|, as "name" in collection order.
  std::vector<std::wstring> NamesOf(const std::wstring& application) const {
    std::vector<std::wstring> names;
    for (const ComPtr<FakeRule>& rule : rules) {
      if (rule->application_name == application)
        names.push_back(rule->name);
    }
    return names;
  }

  std::vector<ComPtr<FakeRule>> rules;
  HRESULT add_result = S_OK;
  int enumerations = 0;
};

class FakePolicy : public FakeDispatch<INetFwPolicy2> {
 public:
  using Profile = NET_FW_PROFILE_TYPE2;
  using Bool = VARIANT_BOOL;

  explicit FakePolicy(FakeRules* rules) : rules_(rules) {}

  HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profiles) override {
    *profiles = current_profiles;
    return current_profiles < 0 ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile,
                                                VARIANT_BOOL* on) override {
    if (failing_profiles & profile)
      return E_ACCESSDENIED;
    *on = (enabled_profiles & profile) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) override {
    if (!rules_)
      return E_FAIL;
    *rules = rules_.Get();
    (*rules)->AddRef();
    return S_OK;
  }
  // clang-format off
  NOT_IMPLEMENTED(put_FirewallEnabled(Profile, Bool))
  NOT_IMPLEMENTED(get_ExcludedInterfaces(Profile, VARIANT*))
  NOT_IMPLEMENTED(put_ExcludedInterfaces(Profile, VARIANT))
  NOT_IMPLEMENTED(get_BlockAllInboundTraffic(Profile, Bool*))
  NOT_IMPLEMENTED(put_BlockAllInboundTraffic(Profile, Bool))
  NOT_IMPLEMENTED(get_NotificationsDisabled(Profile, Bool*))
  NOT_IMPLEMENTED(put_NotificationsDisabled(Profile, Bool))
  NOT_IMPLEMENTED(
      get_UnicastResponsesToMulticastBroadcastDisabled(Profile, Bool*))
  NOT_IMPLEMENTED(
      put_UnicastResponsesToMulticastBroadcastDisabled(Profile, Bool))
  NOT_IMPLEMENTED(get_ServiceRestriction(INetFwServiceRestriction**))
  NOT_IMPLEMENTED(EnableRuleGroup(LONG, BSTR, Bool))
  NOT_IMPLEMENTED(IsRuleGroupEnabled(LONG, BSTR, Bool*))
  NOT_IMPLEMENTED(RestoreLocalFirewallDefaults())
  NOT_IMPLEMENTED(get_DefaultInboundAction(Profile, NET_FW_ACTION*))
  NOT_IMPLEMENTED(put_DefaultInboundAction(Profile, NET_FW_ACTION))
  NOT_IMPLEMENTED(get_DefaultOutboundAction(Profile, NET_FW_ACTION*))
  NOT_IMPLEMENTED(put_DefaultOutboundAction(Profile, NET_FW_ACTION))
  NOT_IMPLEMENTED(get_IsRuleGroupCurrentlyEnabled(BSTR, Bool*))
  NOT_IMPLEMENTED(get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*))
  // clang-format on

  // Negative: the call fails.
  LONG current_profiles = NET_FW_PROFILE2_PRIVATE;
  LONG enabled_profiles = NET_FW_PROFILE2_ALL;
  LONG failing_profiles = 0;

 private:
  ComPtr<FakeRules> rules_;
};

class FakeFactory : public FirewallManagerFactory {
 public:
  base::string16 GetGroupName() override { return L"Group"; }
  HRESULT CreatePolicy(INetFwPolicy2** policy) override {
    if (!this->policy)
      return REGDB_E_CLASSNOTREG;
    *policy = this->policy.Get();
    (*policy)->AddRef();
    return S_OK;
  }
  HRESULT CreateRule(INetFwRule** rule) override {
    if (!rules_work)
      return E_OUTOFMEMORY;
    *rule = new FakeRule(L"", L"");
    (*rule)->AddRef();
    return S_OK;
  }

  ComPtr<FakeRules> rules = new FakeRules();
  ComPtr<FakePolicy> policy = new FakePolicy(rules.Get());
  bool rules_work = true;
};

std::wstring MdnsRuleName() {
  return base::UTF8ToUTF16(GetProductDisplayName()) + L" (mDNS-In)";
}

// While the manager works, only the policy, the collection and the rules
// in it may live.
void ExpectOnlyTheCollectionLives(const FakeFactory& factory) {
  EXPECT_EQ(2 + static_cast<int>(factory.rules->rules.size()), g_live_objects);
}

TEST(FirewallManagerTest, TheMdnsRuleIsReplacedAndOtherRulesStayUntilRemoval) {
  {
    FakeFactory factory;
    std::vector<ComPtr<FakeRule>>& rules = factory.rules->rules;
    // Another program's rule of the same name comes first: a removal by the
    // name alone would take it.
    rules.push_back(new FakeRule(MdnsRuleName(), kOtherApp));
    rules.push_back(
        new FakeRule(L"Kavor by the user", L"c:\\KAVOR\\47.0\\KAVOR.EXE"));
    rules.push_back(new FakeRule(L"Unnamed program rule", L""));
    std::unique_ptr<FirewallManager> manager =
        FirewallManager::Create(&factory, base::FilePath(kBrowser));
    ASSERT_TRUE(manager);

    ASSERT_TRUE(manager->AddMdnsInboundRule());
    ASSERT_TRUE(manager->AddMdnsInboundRule());
    ASSERT_EQ(4u, rules.size());
    ExpectOnlyTheCollectionLives(factory);
    const FakeRule& added = *rules.back().Get();
    EXPECT_EQ(MdnsRuleName(), added.name);
    EXPECT_EQ(L"Inbound rule to allow mDNS traffic.", added.description);
    EXPECT_EQ(kBrowser, added.application_name);
    EXPECT_EQ(17, added.protocol);
    EXPECT_EQ(NET_FW_RULE_DIR_IN, added.direction);
    EXPECT_EQ(VARIANT_TRUE, added.enabled);
    EXPECT_EQ(L"5353", added.local_ports);
    EXPECT_EQ(L"Group", added.grouping);
    EXPECT_EQ(0x7FFFFFFF, added.profiles);
    EXPECT_EQ(NET_FW_ACTION_ALLOW, added.action);
    EXPECT_EQ(std::vector<std::wstring>{MdnsRuleName()},
              factory.rules->NamesOf(kOtherApp));
    EXPECT_EQ(std::vector<std::wstring>{L"Kavor by the user"},
              factory.rules->NamesOf(L"c:\\KAVOR\\47.0\\KAVOR.EXE"));

    manager->RemoveAllRules();
    ASSERT_EQ(2u, rules.size());
    EXPECT_EQ(kOtherApp, rules[0]->application_name);
    EXPECT_EQ(L"Unnamed program rule", rules[1]->name);
    ExpectOnlyTheCollectionLives(factory);
  }
  EXPECT_EQ(0, g_live_objects);
}

// Every rule the walk hands out, kept or not, and every removed rule is
// released.
TEST(FirewallManagerTest, RemoveAllRulesReleasesWhatItWalked) {
  {
    FakeFactory factory;
    std::vector<ComPtr<FakeRule>>& rules = factory.rules->rules;
    rules.push_back(new FakeRule(L"a", kBrowser));
    rules.push_back(new FakeRule(L"b", kOtherApp));
    rules.push_back(new FakeRule(L"c", kBrowser));
    std::unique_ptr<FirewallManager> manager =
        FirewallManager::Create(&factory, base::FilePath(kBrowser));
    ASSERT_TRUE(manager);
    manager->RemoveAllRules();
    EXPECT_EQ(std::vector<std::wstring>{L"b"},
              factory.rules->NamesOf(kOtherApp));
    EXPECT_EQ(1u, rules.size());
    ExpectOnlyTheCollectionLives(factory);
  }
  EXPECT_EQ(0, g_live_objects);
}

TEST(FirewallManagerTest, CanReceiveTraffic) {
  const LONG kPublic = NET_FW_PROFILE2_PUBLIC,
             kPrivate = NET_FW_PROFILE2_PRIVATE,
             kDomain = NET_FW_PROFILE2_DOMAIN;
  const struct {
    LONG current, enabled, failing;
    bool has_rule, expected, looks_at_rules;
  } kCases[] = {
      // Off in every active profile: the rules do not matter.
      {kPrivate | kDomain, kPublic, 0, false, true, false},
      {0, NET_FW_PROFILE2_ALL, 0, false, true, false},
      // On in one active profile: a rule is needed.
      {kPrivate | kDomain, kDomain, 0, false, false, true},
      {kPrivate | kDomain, kDomain, 0, true, true, true},
      // A profile that cannot be read counts as on.
      {kPublic, 0, kPublic, false, false, true},
      {kPublic, 0, kPublic, true, true, true},
      // Without the active profiles the firewall counts as off.
      {-1, NET_FW_PROFILE2_ALL, 0, false, true, false},
  };
  for (const auto& c : kCases) {
    FakeFactory factory;
    factory.policy->current_profiles = c.current;
    factory.policy->enabled_profiles = c.enabled;
    factory.policy->failing_profiles = c.failing;
    if (c.has_rule)
      factory.rules->rules.push_back(new FakeRule(L"r", kBrowser));
    std::unique_ptr<FirewallManager> manager =
        FirewallManager::Create(&factory, base::FilePath(kBrowser));
    ASSERT_TRUE(manager);
    EXPECT_EQ(c.expected, manager->CanReceiveTraffic())
        << c.current << " " << c.enabled << " " << c.has_rule;
    EXPECT_EQ(c.looks_at_rules, factory.rules->enumerations > 0) << c.current;
  }
}

TEST(FirewallManagerTest, FailuresOfTheFirewallObjects) {
  FakeFactory no_policy;
  no_policy.policy = nullptr;
  EXPECT_FALSE(FirewallManager::Create(&no_policy, base::FilePath(kBrowser)));

  FakeFactory no_rules;
  no_rules.policy = new FakePolicy(nullptr);
  EXPECT_FALSE(FirewallManager::Create(&no_rules, base::FilePath(kBrowser)));

  FakeFactory refused;
  refused.rules->add_result = E_ACCESSDENIED;
  std::unique_ptr<FirewallManager> manager =
      FirewallManager::Create(&refused, base::FilePath(kBrowser));
  ASSERT_TRUE(manager);
  EXPECT_FALSE(manager->AddMdnsInboundRule());

  FakeFactory no_new_rule;
  no_new_rule.rules_work = false;
  manager = FirewallManager::Create(&no_new_rule, base::FilePath(kBrowser));
  ASSERT_TRUE(manager);
  EXPECT_FALSE(manager->AddMdnsInboundRule());
  EXPECT_TRUE(no_new_rule.rules->rules.empty());
}

// The system's own firewall objects: the manager exists exactly when the
// policy and its rules can be had, and its calls come back.
TEST(FirewallManagerTest, TheSystemFirewall) {
  base::win::ScopedCOMInitializer com;
  FirewallManagerFactory* factory = FirewallManagerFactory::GetInstance();
  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  const bool reachable =
      SUCCEEDED(factory->CreatePolicy(policy.GetAddressOf())) &&
      SUCCEEDED(policy->get_Rules(rules.GetAddressOf())) && rules;
  std::unique_ptr<FirewallManager> manager =
      FirewallManager::Create(factory, base::FilePath(kBrowser));
  ASSERT_EQ(reachable, manager != nullptr);
  if (!manager)
    return;
  const bool added = manager->AddMdnsInboundRule();
  const bool receives = manager->CanReceiveTraffic();
  manager->RemoveAllRules();
  // A rule of the executable lets its traffic in whatever the profiles.
  EXPECT_TRUE(!added || receives);
  LOG(INFO) << "System firewall: rule added " << added << ", traffic "
            << receives;
}

}  // namespace
}  // namespace installer
