#include "base/win/shortcut.h"

#include <objbase.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/win_util.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

// {4A7B2C19-0E3D-4B8F-A6C5-71D2E9F04B38}
const CLSID kToastClsid = {0x4A7B2C19,
                           0x0E3D,
                           0x4B8F,
                           {0xA6, 0xC5, 0x71, 0xD2, 0xE9, 0xF0, 0x4B, 0x38}};

struct Notification {
  LONG event_id;
  UINT flags;
  std::wstring path;  // For SHCNF_PATHW.
  bool has_item1;
};
std::vector<Notification>* g_notifications = nullptr;

void RecordNotification(LONG event_id,
                        UINT flags,
                        const void* item1,
                        const void* item2) {
  Notification n = {event_id, flags, std::wstring(), item1 != nullptr};
  if (flags == SHCNF_PATHW && item1)
    n.path = static_cast<const wchar_t*>(item1);
  g_notifications->push_back(n);
}

// Whether this system's shell link reads its property store back (Wine's
// answers E_NOTIMPL to every GetValue, while taking writes).
bool ShellLinkStoreReadsValues() {
  Microsoft::WRL::ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IShellLinkW,
                              reinterpret_cast<void**>(link.GetAddressOf())))) {
    return false;
  }
  Microsoft::WRL::ComPtr<IPropertyStore> store;
  if (FAILED(link->QueryInterface(
          IID_IPropertyStore, reinterpret_cast<void**>(store.GetAddressOf()))))
    return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  const HRESULT hr = store->GetValue(PKEY_AppUserModel_ID, &value);
  PropVariantClear(&value);
  return hr == S_OK;
}

class ShortcutTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    link_ = temp_dir_.GetPath().Append(L"Kavor.lnk");
    target_ = temp_dir_.GetPath().Append(L"kavor.exe");
    other_target_ = temp_dir_.GetPath().Append(L"other.exe");
    ASSERT_EQ(4, WriteFile(target_, "MZ..", 4));
    ASSERT_EQ(4, WriteFile(other_target_, "MZ..", 4));
    g_notifications = &notifications_;
    previous_notify_ =
        internal::SetShellChangeNotifyForTesting(&RecordNotification);

    full_.set_target(target_);
    full_.set_working_dir(temp_dir_.GetPath());
    full_.set_arguments(L"--flag \"quoted arg\"");
    full_.set_description(L"Browse the web");
    full_.set_icon(target_, 3);
  }

  void TearDown() override {
    internal::SetShellChangeNotifyForTesting(previous_notify_);
    g_notifications = nullptr;
  }

  ShortcutProperties Resolve(uint32_t options) {
    ShortcutProperties read;
    EXPECT_TRUE(ResolveShortcutProperties(link_, options, &read));
    return read;
  }

  ScopedCOMInitializer com_;
  ScopedTempDir temp_dir_;
  FilePath link_;
  FilePath target_;
  FilePath other_target_;
  ShortcutProperties full_;
  std::vector<Notification> notifications_;
  internal::ShellChangeNotifyFunction previous_notify_ = nullptr;
};

TEST_F(ShortcutTest, PropertiesSettersSetTheirBits) {
  ShortcutProperties p;
  EXPECT_EQ(0u, p.options);
  EXPECT_EQ(-1, p.icon_index);
  EXPECT_FALSE(p.dual_mode);
  p.set_app_id(L"id");
  EXPECT_EQ(0x20u, p.options);
  p.set_dual_mode(false);
  p.set_toast_activator_clsid(kToastClsid);
  EXPECT_EQ(0xE0u, p.options);
  EXPECT_EQ(0x1Fu, full_.options);
}

TEST_F(ShortcutTest, CreateAndResolveEveryLinkField) {
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, full_, SHORTCUT_CREATE));
  ShortcutProperties read = Resolve(ShortcutProperties::PROPERTIES_BASIC);
  EXPECT_EQ(ShortcutProperties::PROPERTIES_BASIC, read.options);
  EXPECT_EQ(target_.value(), read.target.value());
  EXPECT_EQ(temp_dir_.GetPath().value(), read.working_dir.value());
  EXPECT_EQ(full_.arguments, read.arguments);
  EXPECT_EQ(full_.description, read.description);
  EXPECT_EQ(target_.value(), read.icon.value());
  EXPECT_EQ(3, read.icon_index);

  // Only the wanted fields are read, and only their bits are set.
  ShortcutProperties partial =
      Resolve(ShortcutProperties::PROPERTIES_ARGUMENTS);
  EXPECT_EQ(ShortcutProperties::PROPERTIES_ARGUMENTS, partial.options);
  EXPECT_TRUE(partial.target.empty());

  // A new file: the shell hears of the created path.
  ASSERT_EQ(1u, notifications_.size());
  EXPECT_EQ(SHCNE_CREATE, notifications_[0].event_id);
  EXPECT_EQ(static_cast<UINT>(SHCNF_PATHW), notifications_[0].flags);
  EXPECT_EQ(link_.value(), notifications_[0].path);
}

TEST_F(ShortcutTest, CreateNeedsTargetAndOverwrites) {
  ShortcutProperties no_target;
  no_target.set_arguments(L"--x");
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link_, no_target, SHORTCUT_CREATE));
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link_, no_target, SHORTCUT_REPLACE));
  EXPECT_FALSE(PathExists(link_));

  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, full_, SHORTCUT_CREATE));
  ShortcutProperties bare;
  bare.set_target(other_target_);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, bare, SHORTCUT_CREATE));
  // Creating starts from nothing: the old arguments are gone.
  FilePath target;
  std::wstring args;
  ASSERT_TRUE(ResolveShortcut(link_, &target, &args));
  EXPECT_EQ(other_target_.value(), target.value());
  EXPECT_EQ(L"", args);
  // The second save went over an existing file.
  ASSERT_EQ(2u, notifications_.size());
  EXPECT_EQ(SHCNE_ASSOCCHANGED, notifications_[1].event_id);
  EXPECT_EQ(static_cast<UINT>(SHCNF_IDLIST), notifications_[1].flags);
  EXPECT_FALSE(notifications_[1].has_item1);
}

TEST_F(ShortcutTest, UpdateOfMissingShortcutAndUnknownOperationFail) {
  ShortcutProperties p;
  p.set_description(L"nothing to update");
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link_, p, SHORTCUT_UPDATE));
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link_, full_,
                                          static_cast<ShortcutOperation>(3)));
  EXPECT_FALSE(PathExists(link_));
  EXPECT_TRUE(notifications_.empty());
}

TEST_F(ShortcutTest, UpdateChangesOnlyGivenFields) {
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, full_, SHORTCUT_CREATE));
  ShortcutProperties p;
  p.set_description(L"New description");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, p, SHORTCUT_UPDATE));
  ShortcutProperties read = Resolve(ShortcutProperties::PROPERTIES_BASIC);
  EXPECT_EQ(L"New description", read.description);
  EXPECT_EQ(target_.value(), read.target.value());
  EXPECT_EQ(full_.arguments, read.arguments);
  EXPECT_EQ(3, read.icon_index);
  ASSERT_EQ(2u, notifications_.size());
  EXPECT_EQ(SHCNE_ASSOCCHANGED, notifications_[1].event_id);
}

TEST_F(ShortcutTest, ReplaceKeepsArgumentsUnlessGiven) {
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, full_, SHORTCUT_CREATE));
  ShortcutProperties p;
  p.set_target(other_target_);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, p, SHORTCUT_REPLACE));
  ShortcutProperties read = Resolve(ShortcutProperties::PROPERTIES_BASIC);
  EXPECT_EQ(other_target_.value(), read.target.value());
  EXPECT_EQ(full_.arguments, read.arguments);
  // Everything else is the new shortcut's: the old description is gone.
  EXPECT_EQ(L"", read.description);

  // Given arguments win, even empty ones.
  p.set_arguments(L"");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, p, SHORTCUT_REPLACE));
  std::wstring args = L"unchanged";
  ASSERT_TRUE(ResolveShortcut(link_, nullptr, &args));
  EXPECT_EQ(L"", args);
}

TEST_F(ShortcutTest, ReplaceOfNonShortcutFailsAndLeavesFile) {
  const std::string kText = "this is not a shell link";
  ASSERT_EQ(static_cast<int>(kText.size()),
            WriteFile(link_, kText.data(), static_cast<int>(kText.size())));
  ShortcutProperties p;
  p.set_target(target_);
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link_, p, SHORTCUT_REPLACE));
  std::string contents;
  ASSERT_TRUE(ReadFileToString(link_, &contents));
  EXPECT_EQ(kText, contents);
  EXPECT_TRUE(notifications_.empty());

  // Nor is there anything to replace where no file is.
  FilePath missing = temp_dir_.GetPath().Append(L"missing.lnk");
  EXPECT_FALSE(CreateOrUpdateShortcutLink(missing, p, SHORTCUT_REPLACE));
  EXPECT_FALSE(PathExists(missing));
}

TEST_F(ShortcutTest, ResolveOfNonShortcutFails) {
  FilePath target;
  EXPECT_FALSE(ResolveShortcut(temp_dir_.GetPath().Append(L"none.lnk"), &target,
                               nullptr));
  ASSERT_EQ(3, WriteFile(link_, "abc", 3));
  EXPECT_FALSE(ResolveShortcut(link_, &target, nullptr));
}

TEST_F(ShortcutTest, StorePropertiesAreWritten) {
  // Wine's link store takes the writes without keeping them; where the
  // system reads them back, they must come back as written.
  ShortcutProperties p = full_;
  p.set_app_id(L"Kavor.Browser");
  p.set_dual_mode(true);
  p.set_toast_activator_clsid(kToastClsid);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, p, SHORTCUT_CREATE));
  EXPECT_TRUE(ResolveShortcut(link_, nullptr, nullptr));
  if (!ShellLinkStoreReadsValues())
    GTEST_SKIP() << "the shell link's property store cannot read values";

  ShortcutProperties read = Resolve(ShortcutProperties::PROPERTIES_ALL);
  EXPECT_EQ(ShortcutProperties::PROPERTIES_ALL, read.options);
  EXPECT_EQ(L"Kavor.Browser", read.app_id);
  EXPECT_TRUE(read.dual_mode);
  EXPECT_TRUE(IsEqualGUID(kToastClsid, read.toast_activator_clsid));
}

TEST_F(ShortcutTest, MissingAppIdReadsEmpty) {
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link_, full_, SHORTCUT_CREATE));
  if (!ShellLinkStoreReadsValues()) {
    // The failure is a plain false, with the link fields read before it.
    ShortcutProperties read;
    EXPECT_FALSE(
        ResolveShortcutProperties(link_,
                                  ShortcutProperties::PROPERTIES_TARGET |
                                      ShortcutProperties::PROPERTIES_APP_ID,
                                  &read));
    EXPECT_EQ(ShortcutProperties::PROPERTIES_TARGET, read.options);
    EXPECT_EQ(target_.value(), read.target.value());
    GTEST_SKIP() << "the shell link's property store cannot read values";
  }
  ShortcutProperties read = Resolve(ShortcutProperties::PROPERTIES_STORE);
  EXPECT_EQ(ShortcutProperties::PROPERTIES_STORE, read.options);
  EXPECT_EQ(L"", read.app_id);
  EXPECT_FALSE(read.dual_mode);
  EXPECT_TRUE(IsEqualGUID(CLSID_NULL, read.toast_activator_clsid));
}

TEST_F(ShortcutTest, CanPinOnlyBeforeWindows10) {
  OSInfo::Record record = OSInfo::GetInstance()->record();
  for (Version version : {WIN7, WIN8_1, WIN10}) {
    record.version = version;
    ScopedOSInfoOverride override_version(record);
    EXPECT_EQ(version < WIN10, CanPinShortcutToTaskbar()) << version;
  }
}

TEST_F(ShortcutTest, PinningAMissingShortcutFails) {
  // Whether the verbs exist depends on the shell (Wine has neither); a file
  // that is not there is refused everywhere.
  const FilePath missing = temp_dir_.GetPath().Append(L"missing.lnk");
  EXPECT_FALSE(TaskbarPinShortcutLink(missing));
  EXPECT_FALSE(TaskbarUnpinShortcutLink(missing));
}

}  // namespace
}  // namespace win
}  // namespace base
