#include "base/win/win_util.h"

#include <objbase.h>
#include <propidl.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

// {B1E3C5A2-7D44-4F0E-9C61-2A8D5E7F9013}
const CLSID kSomeClsid = {0xB1E3C5A2,
                          0x7D44,
                          0x4F0E,
                          {0x9C, 0x61, 0x2A, 0x8D, 0x5E, 0x7F, 0x90, 0x13}};

// A property store that records what it is given and answers as told.
class FakePropertyStore : public IPropertyStore {
 public:
  struct Written {
    PROPERTYKEY key;
    PROPVARIANT value;  // A copy owned by the store.
  };

  FakePropertyStore() = default;
  virtual ~FakePropertyStore() {
    for (Written& w : written_)
      PropVariantClear(&w.value);
  }

  HRESULT set_value_result = S_OK;
  HRESULT commit_result = S_OK;
  int set_value_calls = 0;
  int commit_calls = 0;

  const std::vector<Written>& written() const { return written_; }

  // IUnknown. The store lives on the test's stack.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyStore) {
      *out = static_cast<IPropertyStore*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // IPropertyStore.
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    *count = static_cast<DWORD>(written_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key,
                                     PROPVARIANT* value) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key,
                                     REFPROPVARIANT value) override {
    ++set_value_calls;
    if (SUCCEEDED(set_value_result)) {
      Written w;
      w.key = key;
      PropVariantInit(&w.value);
      EXPECT_EQ(S_OK, PropVariantCopy(&w.value, &value));
      written_.push_back(w);
    }
    return set_value_result;
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    ++commit_calls;
    return commit_result;
  }

 private:
  std::vector<Written> written_;
};

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

// The keys are the system's, defined here by value: the shell reads them
// back (where Wine does not), so a slip in one goes unseen elsewhere.
TEST(PropertyStoreTest, AppUserModelKeys) {
  const GUID kFormat = {0x9F4C2855,
                        0x9F79,
                        0x4B39,
                        {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};
  const struct {
    const PROPERTYKEY& key;
    DWORD pid;
  } kKeys[] = {{PKEY_AppUserModel_ID, 5},
               {PKEY_AppUserModel_IsDualMode, 11},
               {PKEY_AppUserModel_ToastActivatorCLSID, 26}};
  for (const auto& k : kKeys) {
    EXPECT_TRUE(IsEqualGUID(kFormat, k.key.fmtid)) << k.pid;
    EXPECT_EQ(k.pid, k.key.pid);
  }
}

TEST(PropertyStoreTest, BooleanWrittenAndCommitted) {
  FakePropertyStore store;
  EXPECT_TRUE(SetBooleanValueForPropertyStore(
      &store, PKEY_AppUserModel_IsDualMode, true));
  EXPECT_TRUE(SetBooleanValueForPropertyStore(
      &store, PKEY_AppUserModel_IsDualMode, false));
  ASSERT_EQ(2u, store.written().size());
  EXPECT_EQ(2, store.commit_calls);
  for (const auto& w : store.written()) {
    EXPECT_TRUE(SameKey(PKEY_AppUserModel_IsDualMode, w.key));
    EXPECT_EQ(VT_BOOL, w.value.vt);
  }
  // VARIANT_TRUE has all 16 bits set, not just the lowest.
  EXPECT_EQ(VARIANT_TRUE, store.written()[0].value.boolVal);
  EXPECT_EQ(static_cast<VARIANT_BOOL>(-1), store.written()[0].value.boolVal);
  EXPECT_EQ(0, store.written()[1].value.boolVal);
}

TEST(PropertyStoreTest, ClsidWrittenAndCommitted) {
  FakePropertyStore store;
  EXPECT_TRUE(SetClsidForPropertyStore(
      &store, PKEY_AppUserModel_ToastActivatorCLSID, kSomeClsid));
  ASSERT_EQ(1u, store.written().size());
  EXPECT_EQ(1, store.commit_calls);
  const PROPVARIANT& value = store.written()[0].value;
  EXPECT_TRUE(
      SameKey(PKEY_AppUserModel_ToastActivatorCLSID, store.written()[0].key));
  ASSERT_EQ(VT_CLSID, value.vt);
  ASSERT_TRUE(value.puuid);
  EXPECT_TRUE(IsEqualGUID(kSomeClsid, *value.puuid));
}

TEST(PropertyStoreTest, AppIdWrittenUnderItsKey) {
  FakePropertyStore store;
  EXPECT_TRUE(SetAppIdForPropertyStore(&store, L"Kavor.Browser.1"));
  ASSERT_EQ(1u, store.written().size());
  EXPECT_TRUE(SameKey(PKEY_AppUserModel_ID, store.written()[0].key));
  ASSERT_EQ(VT_LPWSTR, store.written()[0].value.vt);
  EXPECT_EQ(std::wstring(L"Kavor.Browser.1"), store.written()[0].value.pwszVal);
  EXPECT_EQ(1, store.commit_calls);

  // An empty id is still an id.
  EXPECT_TRUE(SetAppIdForPropertyStore(&store, L""));
  ASSERT_EQ(2u, store.written().size());
  EXPECT_EQ(std::wstring(), store.written()[1].value.pwszVal);
}

TEST(PropertyStoreTest, SFalseFromSetValueSucceedsWithoutCommit) {
  FakePropertyStore store;
  store.set_value_result = S_FALSE;
  EXPECT_TRUE(SetBooleanValueForPropertyStore(
      &store, PKEY_AppUserModel_IsDualMode, true));
  EXPECT_TRUE(SetAppIdForPropertyStore(&store, L"id"));
  EXPECT_TRUE(SetClsidForPropertyStore(
      &store, PKEY_AppUserModel_ToastActivatorCLSID, kSomeClsid));
  EXPECT_EQ(3, store.set_value_calls);
  EXPECT_EQ(0, store.commit_calls);
}

TEST(PropertyStoreTest, FailuresOfSetValueOrCommit) {
  FakePropertyStore refusing;
  // A null id is refused before the store is touched.
  EXPECT_FALSE(SetAppIdForPropertyStore(&refusing, nullptr));
  EXPECT_EQ(0, refusing.set_value_calls);
  refusing.set_value_result = E_ACCESSDENIED;
  EXPECT_FALSE(SetBooleanValueForPropertyStore(
      &refusing, PKEY_AppUserModel_IsDualMode, true));
  EXPECT_FALSE(SetAppIdForPropertyStore(&refusing, L"id"));
  EXPECT_FALSE(SetClsidForPropertyStore(
      &refusing, PKEY_AppUserModel_ToastActivatorCLSID, kSomeClsid));
  EXPECT_EQ(3, refusing.set_value_calls);
  EXPECT_EQ(0, refusing.commit_calls);

  FakePropertyStore failing_commit;
  failing_commit.commit_result = STG_E_WRITEFAULT;
  EXPECT_FALSE(SetAppIdForPropertyStore(&failing_commit, L"id"));
  EXPECT_FALSE(SetBooleanValueForPropertyStore(
      &failing_commit, PKEY_AppUserModel_IsDualMode, false));
  EXPECT_EQ(2, failing_commit.commit_calls);
}

}  // namespace
}  // namespace win
}  // namespace base
