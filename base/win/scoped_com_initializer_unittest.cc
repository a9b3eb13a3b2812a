#include "base/win/scoped_com_initializer.h"

#include <windows.h>

#include <functional>
#include <utility>

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

// Runs |body| on a fresh thread, whose apartment state nothing else has
// touched.
void RunOnFreshThread(std::function<void()> body) {
  RunOnThreadAndJoin(std::move(body));
}

// True when the thread is in no apartment: a fresh initialisation then
// answers S_OK rather than S_FALSE or RPC_E_CHANGED_MODE.
bool ThreadIsUninitialized() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr))
    CoUninitialize();
  return hr == S_OK;
}

TEST(ScopedCOMInitializerTest, SingleThreadedApartment) {
  RunOnFreshThread([] {
    {
      ScopedCOMInitializer com;
      EXPECT_EQ(S_OK, com.hr());
      EXPECT_TRUE(com.Succeeded());
      EXPECT_FALSE(ThreadIsUninitialized());
    }
    EXPECT_TRUE(ThreadIsUninitialized());
  });
}

TEST(ScopedCOMInitializerTest, MultiThreadedApartment) {
  RunOnFreshThread([] {
    {
      ScopedCOMInitializer com(ScopedCOMInitializer::kMTA);
      EXPECT_EQ(S_OK, com.hr());
      EXPECT_TRUE(com.Succeeded());
    }
    EXPECT_TRUE(ThreadIsUninitialized());
  });
}

// A second initialisation of the same model gets S_FALSE and still owes its
// CoUninitialize: after both are gone the thread is fully out again, and
// with only the inner one gone it is still in.
TEST(ScopedCOMInitializerTest, SecondSingleThreadedInitGetsFalse) {
  RunOnFreshThread([] {
    {
      ScopedCOMInitializer outer;
      ASSERT_EQ(S_OK, outer.hr());
      {
        ScopedCOMInitializer inner;
        EXPECT_EQ(S_FALSE, inner.hr());
        EXPECT_TRUE(inner.Succeeded());
      }
      // Still in the single-threaded apartment.
      HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      EXPECT_EQ(S_FALSE, hr);
      if (SUCCEEDED(hr))
        CoUninitialize();
    }
    EXPECT_TRUE(ThreadIsUninitialized());
  });
}

// The other model is refused and must not be balanced: if the refused one
// called CoUninitialize, the outer apartment would end early.
TEST(ScopedCOMInitializerTest, MultiThreadedAfterSingleThreadedIsRefused) {
  RunOnFreshThread([] {
    {
      ScopedCOMInitializer outer;
      ASSERT_EQ(S_OK, outer.hr());
      {
        ScopedCOMInitializer refused(ScopedCOMInitializer::kMTA);
        EXPECT_EQ(RPC_E_CHANGED_MODE, refused.hr());
        EXPECT_FALSE(refused.Succeeded());
      }
      HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      EXPECT_EQ(S_FALSE, hr);
      if (SUCCEEDED(hr))
        CoUninitialize();
    }
    EXPECT_TRUE(ThreadIsUninitialized());
  });
}

}  // namespace
}  // namespace win
}  // namespace base
