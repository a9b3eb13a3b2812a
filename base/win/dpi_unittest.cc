#include "base/win/dpi.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/win/system_library.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

TEST(DpiTest, PerMonitorDpiAwareness) {
  // Windows reports an undeclared process unaware (0); Wine reports every
  // process per-monitor aware (2). Either way the answer follows the
  // system's, and stays.
  using GetAwarenessFunction = HRESULT(WINAPI*)(HANDLE, int*);
  auto get_awareness = reinterpret_cast<GetAwarenessFunction>(GetProcAddress(
      LoadSystemLibrary(L"shcore.dll"), "GetProcessDpiAwareness"));
  ASSERT_TRUE(get_awareness);
  int awareness = -1;
  ASSERT_EQ(S_OK, get_awareness(nullptr, &awareness));
  EXPECT_EQ(awareness == 2, IsProcessPerMonitorDpiAware());
  EXPECT_EQ(awareness == 2, IsProcessPerMonitorDpiAware());
}

// The calls the fakes below saw, in order ("internal:1", "context:-4",
// "aware").
std::vector<std::string>* g_calls = nullptr;
HRESULT g_internal_result = S_OK;
BOOL g_context_result = TRUE;

HRESULT WINAPI FakeSetAwarenessInternal(int awareness) {
  g_calls->push_back("internal:" + std::to_string(awareness));
  return g_internal_result;
}

BOOL WINAPI FakeSetAwarenessContext(HANDLE context) {
  g_calls->push_back("context:" + std::to_string(static_cast<intptr_t>(
                                      reinterpret_cast<intptr_t>(context))));
  return g_context_result;
}

BOOL WINAPI FakeSetAware() {
  g_calls->push_back("aware");
  return TRUE;
}

TEST(DpiTest, VersionChoosesTheAwarenessCall) {
  struct {
    Version version;
    bool has_internal;
    bool has_context;
    HRESULT internal_result;
    BOOL context_result;
    std::vector<std::string> expected;
  } const kCases[] = {
      // Windows 7 has neither newer call.
      {WIN7, false, false, S_OK, TRUE, {"aware"}},
      {WIN8_1, true, true, S_OK, TRUE, {"internal:1"}},
      {WIN8_1, true, true, E_ACCESSDENIED, TRUE, {"internal:1", "aware"}},
      {WIN10, true, true, S_OK, TRUE, {"internal:2"}},
      {WIN10_RS1, true, true, S_OK, TRUE, {"internal:2"}},
      {WIN10_RS2, true, true, S_OK, TRUE, {"context:-4"}},
      {WIN10_RS2, true, true, S_OK, FALSE, {"context:-4", "aware"}},
      {WIN10_RS2, true, false, S_OK, TRUE, {"aware"}},
      {WIN_LAST, true, true, S_OK, TRUE, {"context:-4"}},
  };
  for (const auto& c : kCases) {
    OSInfo::Record record = OSInfo::GetInstance()->record();
    record.version = c.version;
    ScopedOSInfoOverride override_info(record);
    std::vector<std::string> calls;
    g_calls = &calls;
    g_internal_result = c.internal_result;
    g_context_result = c.context_result;
    internal::DpiAwarenessSetters setters;
    if (c.has_internal)
      setters.set_process_dpi_awareness_internal = &FakeSetAwarenessInternal;
    if (c.has_context)
      setters.set_process_dpi_awareness_context = &FakeSetAwarenessContext;
    setters.set_process_dpi_aware = &FakeSetAware;
    internal::EnableHighDPISupportWith(setters);
    g_calls = nullptr;
    EXPECT_EQ(c.expected, calls) << "version " << c.version;
  }
}

}  // namespace
}  // namespace win
}  // namespace base
