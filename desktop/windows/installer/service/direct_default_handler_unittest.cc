#include "desktop/windows/installer/service/direct_default_handler.h"

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::OSInfo;
using base::win::ScopedOSInfoOverride;
using Microsoft::WRL::ComPtr;

OSInfo::Record MakeRecord(uint32_t major,
                          uint32_t minor,
                          uint32_t build,
                          uint32_t revision) {
  OSInfo::Record record;
  record.version = OSInfo::MajorMinorBuildToVersion(major, minor, build);
  record.version_number = {major, minor, build, revision};
  return record;
}

// The features as the product registers them at start-up, each case
// setting both through their switches; the registry is put back afterwards.
void SetProprietaryUriSwitches(bool browser, bool installer) {
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.AppendSwitchASCII("with-feature:handle-proprietary-uris",
                                 browser ? "on" : "off");
  command_line.AppendSwitchASCII(
      base::MakeFeatureSwitchName(kInstallerHandleProprietaryUris),
      installer ? "on" : "off");
  base::CommandLineFeatureReader reader(&command_line);
  base::FeatureRegistry::GetInstance()->ApplyReader(&reader);
}

TEST(DirectDefaultHandlerTest, BuildAndRevisionPickTheRoad) {
  const struct {
    uint32_t major, minor, build, revision;
    bool before;
  } cases[] = {
      {6, 1, 7601, 0, true},       {10, 0, 15063, 9999, true},
      {10, 0, 16299, 247, true},   {10, 0, 16299, 248, false},
      {10, 0, 16299, 1000, false}, {10, 0, 17134, 0, false},
  };
  for (const auto& c : cases) {
    ScopedOSInfoOverride os(MakeRecord(c.major, c.minor, c.build, c.revision));
    EXPECT_EQ(c.before, IsBeforeBuild16299Update248())
        << c.build << "." << c.revision;
  }
}

TEST(DirectDefaultHandlerTest, ProprietaryUrisNeedBuild15063AndAFeature) {
  const struct {
    uint32_t major, minor, build;
    bool browser_feature, installer_feature;
    bool expected;
  } cases[] = {
      {6, 1, 7601, true, true, false},     {10, 0, 14393, true, true, false},
      {10, 0, 15063, false, false, false}, {10, 0, 15063, true, false, true},
      {10, 0, 15063, false, true, true},   {10, 0, 17134, true, true, true},
  };
  base::ScopedFeatureRegistrySaver saved;
  RegisterInstallerExperiments(base::FeatureRegistry::GetInstance());
  RegisterBrowserFeatures(base::FeatureRegistry::GetInstance());
  for (const auto& c : cases) {
    ScopedOSInfoOverride os(MakeRecord(c.major, c.minor, c.build, 0));
    SetProprietaryUriSwitches(c.browser_feature, c.installer_feature);
    EXPECT_EQ(c.expected, ShouldHandleProprietaryUris())
        << c.build << " " << c.browser_feature << c.installer_feature;
  }
}

TEST(DirectDefaultHandlerTest, ProtocolAndExtensionNames) {
  const struct {
    const wchar_t* name;
    bool protocol, extension;
  } cases[] = {
      {L"http", true, false},
      {L".htm", false, true},
      {L"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.protocol, IsProtocolName(c.name)) << c.name;
    EXPECT_EQ(c.extension, IsFileExtensionName(c.name)) << c.name;
  }
}

// Where the system lacks the association objects (Wine has neither the
// enumeration export nor the internal interfaces), both roads give up
// cleanly. On a system that has them nothing is tried: the calls would
// change the machine's defaults.
TEST(DirectDefaultHandlerTest, WithoutTheSystemObjectsNothingIsSet) {
  base::win::ScopedCOMInitializer com;
  for (uint32_t revision : {247u, 248u}) {
    ScopedOSInfoOverride os(MakeRecord(10, 0, 16299, revision));
    ComPtr<IUnknown> internal_registration;
    internal_registration.Attach(GetInternalAssociationRegistration());
    ComPtr<IUnknown> handler;
    handler.Attach(FindAssociationHandler(L"http", L"Internet Explorer"));
    ComPtr<IUnknown> extension_registration;
    extension_registration.Attach(GetExtensionAssociationRegistration());
    if (internal_registration || (handler && extension_registration))
      GTEST_SKIP() << "this system has the association objects";
    EXPECT_FALSE(CanSetDefaultBrowserDirectly()) << revision;
    for (const wchar_t* name : {L"http", L".htm"}) {
      EXPECT_FALSE(
          SetAsDefaultHandlerDirectly(L"KavorHTML", L"Kavor", L"Kavor", name))
          << revision << " " << name;
    }
  }
}

// Records which slot of an unpublished interface was called, and with what.
class SlotRecorder : public IUnknown {
 public:
  explicit SlotRecorder(HRESULT result) : result_(result) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  virtual HRESULT STDMETHODCALLTYPE Slot3(UINT_PTR argument) {
    call_ = L"3:" + std::to_wstring(argument);
    return result_;
  }
  virtual HRESULT STDMETHODCALLTYPE Slot4(LPCWSTR a, LPCWSTR b, UINT_PTR c) {
    call_ = L"4:" + std::wstring(a) + L"|" + b + L"|" + std::to_wstring(c);
    return result_;
  }
  virtual HRESULT STDMETHODCALLTYPE Slot5(LPCWSTR a, LPCWSTR b, BOOL c) {
    call_ = L"5:" + std::wstring(a) + L"|" + b + L"|" + std::to_wstring(c);
    return result_;
  }

  const std::wstring& call() const { return call_; }
  ULONG references() const { return references_; }

 private:
  HRESULT result_;
  ULONG references_ = 1;
  std::wstring call_;
};

TEST(DirectDefaultHandlerTest, UnpublishedMethodsAreCalledAtTheirSlots) {
  enum Road { kInternalRegistration, kHandler, kExtensionRegistration };
  const struct {
    Road road;
    const wchar_t* name;
    HRESULT result;
    const wchar_t* expected_call;
    bool expected;
  } cases[] = {
      {kInternalRegistration, L"http", S_OK, L"5:KavorHTML|http|1", true},
      {kInternalRegistration, L".htm", S_FALSE, L"5:KavorHTML|.htm|0", true},
      {kInternalRegistration, L"http", E_ACCESSDENIED, L"5:KavorHTML|http|1",
       false},
      {kHandler, L"http", S_OK, L"3:0", true},
      {kHandler, L"http", E_FAIL, L"3:0", false},
      {kExtensionRegistration, L".pdf", S_OK, L"4:Kavor|.pdf|0", true},
      {kExtensionRegistration, L".pdf", E_INVALIDARG, L"4:Kavor|.pdf|0", false},
  };
  for (const auto& c : cases) {
    SlotRecorder object(c.result);
    bool result = false;
    switch (c.road) {
      case kInternalRegistration:
        result = internal::SetThroughInternalRegistration(&object, L"KavorHTML",
                                                          c.name);
        break;
      case kHandler:
        result = internal::SetThroughHandler(&object);
        break;
      case kExtensionRegistration:
        result = internal::SetThroughExtensionRegistration(&object, L"Kavor",
                                                           c.name);
        break;
    }
    EXPECT_EQ(c.expected, result) << c.expected_call;
    EXPECT_EQ(c.expected_call, object.call());
  }
}

}  // namespace
}  // namespace installer
