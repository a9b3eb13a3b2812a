#include "base/win/scoped_bstr.h"

#include <wchar.h>

#include "gtest/gtest.h"

namespace base {
namespace win {

TEST(ScopedBstrTest, HoldsACopyOfTheText) {
  const wchar_t kText[] = L"installer text";
  ScopedBstr bstr(kText);
  ASSERT_NE(nullptr, bstr.Get());
  EXPECT_NE(kText, static_cast<const wchar_t*>(bstr.Get()));
  EXPECT_STREQ(kText, bstr.Get());
  EXPECT_EQ(wcslen(kText), bstr.Length());
  EXPECT_EQ(wcslen(kText) * sizeof(wchar_t), ::SysStringByteLen(bstr));

  ScopedBstr empty_text(L"");
  ASSERT_NE(nullptr, empty_text.Get());
  EXPECT_EQ(0u, empty_text.Length());

  ScopedBstr none;
  EXPECT_EQ(nullptr, none.Get());
  EXPECT_EQ(0u, none.Length());
}

TEST(ScopedBstrTest, ReleaseResetAndReceive) {
  ScopedBstr bstr(L"first");
  BSTR released = bstr.Release();
  EXPECT_EQ(nullptr, bstr.Get());
  ASSERT_NE(nullptr, released);
  EXPECT_STREQ(L"first", released);

  bstr.Reset(released);
  EXPECT_EQ(released, bstr.Get());
  // Resetting to the same string keeps it alive.
  bstr.Reset(released);
  EXPECT_STREQ(L"first", bstr.Get());
  bstr.Reset();
  EXPECT_EQ(nullptr, bstr.Get());

  BSTR* slot = bstr.Receive();
  *slot = ::SysAllocString(L"received");
  EXPECT_STREQ(L"received", bstr.Get());

  BSTR bytes = bstr.AllocateBytes(6);
  ASSERT_NE(nullptr, bytes);
  EXPECT_EQ(6u, ::SysStringByteLen(bytes));
  EXPECT_EQ(3u, bstr.Length());
}

}  // namespace win
}  // namespace base
