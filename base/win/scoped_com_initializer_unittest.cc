#include "base/win/scoped_com_initializer.h"

#include <windows.h>

#include <functional>
#include <memory>
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

std::unique_ptr<ScopedCOMInitializer> Make(bool mta) {
  return mta ? std::make_unique<ScopedCOMInitializer>(
                   ScopedCOMInitializer::kMTA)
             : std::make_unique<ScopedCOMInitializer>();
}

TEST(ScopedCOMInitializerTest, EitherApartmentEndsWithItsScope) {
  for (bool mta : {false, true}) {
    RunOnFreshThread([mta] {
      {
        std::unique_ptr<ScopedCOMInitializer> com = Make(mta);
        EXPECT_EQ(S_OK, com->hr()) << mta;
        EXPECT_TRUE(com->Succeeded());
        EXPECT_FALSE(ThreadIsUninitialized());
      }
      EXPECT_TRUE(ThreadIsUninitialized()) << mta;
    });
  }
}

// Inside a single-threaded apartment, a second initialisation of the same
// model gets S_FALSE and still owes its CoUninitialize; the other model is
// refused and must not be balanced (else the outer apartment would end
// early). Either way, with the inner one gone the thread is still in, and
// after both it is fully out again.
TEST(ScopedCOMInitializerTest, NestedInitialisationIsBalanced) {
  for (bool mta : {false, true}) {
    RunOnFreshThread([mta] {
      {
        ScopedCOMInitializer outer;
        ASSERT_EQ(S_OK, outer.hr());
        {
          std::unique_ptr<ScopedCOMInitializer> inner = Make(mta);
          EXPECT_EQ(mta ? RPC_E_CHANGED_MODE : S_FALSE, inner->hr());
          EXPECT_EQ(!mta, inner->Succeeded());
        }
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(S_FALSE, hr) << mta;
        if (SUCCEEDED(hr))
          CoUninitialize();
      }
      EXPECT_TRUE(ThreadIsUninitialized()) << mta;
    });
  }
}

}  // namespace
}  // namespace win
}  // namespace base
