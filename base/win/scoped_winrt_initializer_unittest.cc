#include "base/win/scoped_winrt_initializer.h"

#include <objbase.h>

#include "base/threading/simple_thread.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace base {
namespace win {

namespace {

// Apartments belong to threads: each check runs on a fresh one so that the
// test thread's own apartment is neither used nor changed.
class ApartmentThread : public SimpleThread {
 public:
  ApartmentThread() : SimpleThread("ApartmentThread") {}

  void Run() override {
    {
      ScopedWinrtInitializer initializer;
      succeeded = initializer.Succeeded();
      // Inside the multi-threaded apartment a single-threaded one is
      // refused.
      const HRESULT sta = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      sta_refused_inside = (sta == RPC_E_CHANGED_MODE);
      if (SUCCEEDED(sta))
        CoUninitialize();
    }
    // Left on destruction: the thread may now choose again.
    const HRESULT sta = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    sta_allowed_after = SUCCEEDED(sta);
    if (SUCCEEDED(sta))
      CoUninitialize();
  }

  bool succeeded = false;
  bool sta_refused_inside = false;
  bool sta_allowed_after = false;
};

}  // namespace

TEST(ScopedWinrtInitializerTest, JoinsAndLeavesMultithreadedApartment) {
  ApartmentThread thread;
  thread.Start();
  thread.Join();
  if (!thread.succeeded) {
    // Only a system without the runtime may fail.
    EXPECT_LT(GetVersion(), Version::WIN8);
    return;
  }
  EXPECT_TRUE(thread.sta_refused_inside);
  EXPECT_TRUE(thread.sta_allowed_after);
}

}  // namespace win
}  // namespace base
