#include "base/debug/debugger.h"

#include "base/debug/gdi_debug_util_win.h"
#include "base/debug/profiler.h"
#include "gtest/gtest.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace debug {
namespace {

TEST(DebuggerDeathTest, BreakDebuggerWithUISuppressedExitsWithCodeOne) {
  EXPECT_EXIT(
      {
        SetSuppressDebugUI(true);
        BreakDebugger();
      },
      ::testing::ExitedWithCode(1), "");
}

TEST(DebuggerDeathTest, BreakDebuggerTrapsByDefault) {
  ASSERT_FALSE(IsDebugUISuppressed());
  // The trap ends the process with a breakpoint exception, not code 1.
  EXPECT_EXIT(
      BreakDebugger(),
      [](int exit_code) { return exit_code != 0 && exit_code != 1; }, "");
}

TEST(DebuggerTest, SuppressFlag) {
  EXPECT_FALSE(IsDebugUISuppressed());
  SetSuppressDebugUI(true);
  EXPECT_TRUE(IsDebugUISuppressed());
  SetSuppressDebugUI(false);
  EXPECT_FALSE(IsDebugUISuppressed());
}

TEST(ProfilerTest, FindsSectionsOfTheRunningImage) {
  HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
  const IMAGE_SECTION_HEADER* text =
      internal::FindImageSectionByName(self, ".text");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(0, memcmp(text->Name, ".text\0\0\0", 8));
  // The code of this test lies inside the section found.
  uintptr_t code =
      reinterpret_cast<uintptr_t>(&internal::FindImageSectionByName);
  uintptr_t start = reinterpret_cast<uintptr_t>(self) + text->VirtualAddress;
  EXPECT_GE(code, start);
  EXPECT_LT(code, start + text->Misc.VirtualSize);

  EXPECT_EQ(nullptr, internal::FindImageSectionByName(self, ".syzygy"));
  // A prefix of a section name is not that section.
  EXPECT_EQ(nullptr, internal::FindImageSectionByName(self, ".tex"));
}

TEST(ProfilerTest, OrdinaryBuildIsNotInstrumented) {
  EXPECT_FALSE(IsBinaryInstrumented());
  // Cached: the same answer again.
  EXPECT_FALSE(IsBinaryInstrumented());
}

TEST(GdiDebugUtilTest, OrdinaryProcessMayUseUser32AndGdi32) {
  // No win32k lockdown here, whether or not the system knows the policy.
  EXPECT_TRUE(IsUser32AndGdi32Available());
}

TEST(GdiDebugUtilDeathTest, CollectGDIUsageAndDieEndsTheProcess) {
  EXPECT_DEATH(CollectGDIUsageAndDie(nullptr, nullptr), "");
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = 1000;
  header.biHeight = -1000;
  header.biPlanes = 1;
  header.biBitCount = 32;
  EXPECT_DEATH(CollectGDIUsageAndDie(&header, nullptr), "");
}

}  // namespace
}  // namespace debug
}  // namespace base
