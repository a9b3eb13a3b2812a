#include "base/win/scoped_variant.h"

#include "gtest/gtest.h"

namespace base {
namespace win {

TEST(ScopedVariantTest, EmptyStringAndInteger) {
  ScopedVariant empty;
  EXPECT_EQ(VT_EMPTY, empty.type());

  ScopedVariant text(L"a value");
  EXPECT_EQ(VT_BSTR, text.type());
  ASSERT_NE(nullptr, text.ptr()->bstrVal);
  EXPECT_STREQ(L"a value", text.ptr()->bstrVal);
  EXPECT_EQ(7u, ::SysStringLen(text.ptr()->bstrVal));

  text.Set(5);
  EXPECT_EQ(VT_I4, text.type());
  EXPECT_EQ(5, text.ptr()->lVal);

  text.Set(L"again");
  EXPECT_EQ(VT_BSTR, text.type());
  EXPECT_STREQ(L"again", text.ptr()->bstrVal);

  text.Reset();
  EXPECT_EQ(VT_EMPTY, text.type());
}

TEST(ScopedVariantTest, ReleaseGivesUpOwnership) {
  ScopedVariant text(L"owned");
  VARIANT released = text.Release();
  EXPECT_EQ(VT_EMPTY, text.type());
  EXPECT_EQ(VT_BSTR, released.vt);
  EXPECT_STREQ(L"owned", released.bstrVal);

  ScopedVariant adopted;
  adopted.Reset(released);
  EXPECT_EQ(VT_BSTR, adopted.type());
  EXPECT_STREQ(L"owned", adopted.ptr()->bstrVal);

  ScopedVariant received;
  VARIANT* slot = received.Receive();
  slot->vt = VT_I4;
  slot->lVal = 11;
  EXPECT_EQ(VT_I4, received.type());
}

TEST(ScopedVariantTest, SetArrayTakesItsElementType) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_I4, 0, 3);
  ASSERT_NE(nullptr, array);
  ScopedVariant variant(L"replaced");
  variant.Set(array);
  EXPECT_EQ(VT_ARRAY | VT_I4, variant.type());
  EXPECT_EQ(array, variant.ptr()->parray);

  SAFEARRAY* strings = ::SafeArrayCreateVector(VT_BSTR, 0, 1);
  ASSERT_NE(nullptr, strings);
  variant.Set(strings);
  EXPECT_EQ(VT_ARRAY | VT_BSTR, variant.type());

  // A null array leaves an empty variant.
  variant.Set(static_cast<SAFEARRAY*>(nullptr));
  EXPECT_EQ(VT_EMPTY, variant.type());
}

}  // namespace win
}  // namespace base
