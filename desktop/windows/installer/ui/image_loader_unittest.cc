#include "desktop/windows/installer/ui/image_loader.h"

#include <stdint.h>

#include <vector>

#include "desktop/windows/installer/ui/resource_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The 32-bit pixels of |bitmap|, top row first.
std::vector<uint32_t> Pixels(HBITMAP bitmap, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  HDC screen = ::GetDC(nullptr);
  const int rows = ::GetDIBits(screen, bitmap, 0, height, pixels.data(), &info,
                               DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  if (rows != height)
    pixels.clear();
  return pixels;
}

TEST(ImageLoaderTest, ResourceStreamHoldsTheResource) {
  IStream* stream = LoadResourceStream(IDR_LOGO_IMAGE, L"PNG");
  ASSERT_TRUE(stream);
  unsigned char signature[8] = {};
  ULONG read = 0;
  EXPECT_EQ(S_OK, stream->Read(signature, sizeof(signature), &read));
  EXPECT_EQ(8u, read);
  EXPECT_EQ(0, memcmp(signature, "\x89PNG\r\n\x1a\n", 8));
  stream->Release();

  EXPECT_FALSE(LoadResourceStream(9999, L"PNG"));
  // The right id of the wrong type is no resource either.
  EXPECT_FALSE(LoadResourceStream(IDR_LOGO_IMAGE, L"TXT"));
}

TEST(ImageLoaderTest, PngBecomesA32BitBitmapWithTransparency) {
  HBITMAP bitmap = LoadPngBitmap(IDR_LOGO_IMAGE);
  ASSERT_TRUE(bitmap);
  BITMAP description = {};
  ASSERT_TRUE(::GetObjectW(bitmap, sizeof(description), &description));
  EXPECT_EQ(32, description.bmBitsPixel);
  EXPECT_EQ(96, description.bmWidth);
  EXPECT_EQ(96, description.bmHeight);

  const std::vector<uint32_t> pixels = Pixels(bitmap, 96, 96);
  ASSERT_EQ(96u * 96u, pixels.size());
  size_t transparent = 0;
  size_t opaque = 0;
  for (uint32_t pixel : pixels) {
    if ((pixel >> 24) == 0) {
      ++transparent;
      // Transparent black: no colour where there is no image.
      EXPECT_EQ(0u, pixel & 0xFFFFFF);
    } else if ((pixel >> 24) == 0xFF) {
      ++opaque;
    }
  }
  // The round logo leaves its corners open.
  EXPECT_EQ(0u, pixels[0] >> 24);
  EXPECT_GT(transparent, 96u * 4);
  EXPECT_GT(opaque, 96u * 4);
  ::DeleteObject(bitmap);
}

TEST(ImageLoaderTest, MissingImageGivesNoBitmap) {
  EXPECT_FALSE(LoadPngBitmap(9999));
  // Only "PNG" resources are images.
  EXPECT_FALSE(LoadPngBitmap(IDR_TERMS_TEXT));
}

TEST(ImageLoaderTest, AlphaBlendKeepsTheBackgroundUnderTransparentPixels) {
  HBITMAP logo = LoadPngBitmap(IDR_LOGO_IMAGE);
  ASSERT_TRUE(logo);
  HDC screen = ::GetDC(nullptr);
  HDC canvas = ::CreateCompatibleDC(screen);
  HBITMAP target = ::CreateCompatibleBitmap(screen, 96, 96);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(canvas, target);
  RECT rect = {0, 0, 96, 96};
  ::FillRect(canvas, &rect,
             reinterpret_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  EXPECT_TRUE(AlphaBlendBitmap(canvas, rect, logo, rect));
  const COLORREF corner = ::GetPixel(canvas, 0, 0);
  const COLORREF centre = ::GetPixel(canvas, 48, 48);
  ::SelectObject(canvas, old);
  ::DeleteObject(target);
  ::DeleteDC(canvas);
  ::DeleteObject(logo);
  EXPECT_EQ(RGB(255, 255, 255), corner);
  EXPECT_NE(RGB(255, 255, 255), centre);

  EXPECT_FALSE(AlphaBlendBitmap(nullptr, rect, nullptr, rect));
}

}  // namespace
}  // namespace installer
