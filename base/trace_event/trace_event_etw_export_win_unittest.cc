#include "base/trace_event/trace_event_etw_export_win.h"

#include <windows.h>
#include <evntprov.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/at_exit.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

using Export = TraceEventETWExport;
constexpr uint64_t kKeyword = 0x8000000000000000ULL;

// The strings of each EventWrite call, in place of the system.
std::vector<std::vector<std::string>>* g_written = nullptr;
uint64_t g_written_handle = 0;

uint32_t CaptureEventWrite(uint64_t handle,
                           const void* descriptor,
                           uint32_t count,
                           void* data_descriptors) {
  EXPECT_EQ(1, static_cast<const EVENT_DESCRIPTOR*>(descriptor)->Id);
  const auto* data =
      static_cast<const EVENT_DATA_DESCRIPTOR*>(data_descriptors);
  g_written->emplace_back();
  for (uint32_t i = 0; i < count; ++i) {
    const char* text = reinterpret_cast<const char*>(data[i].Ptr);
    EXPECT_EQ(strlen(text) + 1, data[i].Size);  // The terminator included.
    g_written->back().push_back(text);
  }
  g_written_handle = handle;
  return ERROR_SUCCESS;
}

class TraceEventETWExportTest : public testing::Test {
 protected:
  void SetUp() override {
    g_written = &written_;
    previous_write_ =
        Export::SetEventWriteFunctionForTesting(&CaptureEventWrite);
    etw_export_ = Export::GetInstance();
  }

  void TearDown() override {
    etw_export_->SetETWExportEnabledForTesting(false);
    etw_export_->SetCategoryStatusForTesting("toplevel", false);
    Export::CallEnableCallbackForTesting(0, 0, 0, 0);
    Export::SetEventWriteFunctionForTesting(previous_write_);
    g_written = nullptr;
  }

  static void AddIntEvent(char phase) {
    const char* names[1] = {"count"};
    const unsigned char types[1] = {TRACE_VALUE_TYPE_INT};
    const unsigned long long values[1] = {42};
    Export::AddEvent(phase, nullptr, "event", 0, 1, names, types, values,
                     nullptr);
  }

  Export* etw_export_ = nullptr;
  std::vector<std::vector<std::string>> written_;
  Export::EventWriteFunction previous_write_ = nullptr;
};

TEST_F(TraceEventETWExportTest, CategoryGroupStatuses) {
  // Export off: nothing is enabled or written, whatever the statuses and
  // the session say.
  ASSERT_TRUE(etw_export_->SetCategoryStatusForTesting("toplevel", true));
  Export::CallEnableCallbackForTesting(1, 0, kKeyword, 0);
  EXPECT_FALSE(Export::IsCategoryGroupEnabled("toplevel"));
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  Export::AddCompleteEndEvent("event");
  EXPECT_TRUE(written_.empty());

  etw_export_->SetETWExportEnabledForTesting(true);
  etw_export_->SetCategoryStatusForTesting("toplevel", false);
  EXPECT_FALSE(etw_export_->SetCategoryStatusForTesting("not.known", true));
  const struct {
    const char* status_on;
    const char* group;
    bool enabled;
  } kCases[] = {
      {"toplevel", "blink,,toplevel,", true},
      {"toplevel", "toplevelx", false},
      // Names without an entry of their own take a catch-all status; the
      // prefix has no dash, and listed names keep their own status.
      {"__OTHER_EVENTS", "my.category", true},
      {"__OTHER_EVENTS", "disabled-by-defaultfoo", false},
      {"__DISABLED_OTHER_EVENTS", "disabled-by-defaultfoo", true},
      {"__DISABLED_OTHER_EVENTS", "disabled-by-default-cc.debug", false},
      {"disabled-by-default-cc.debug", "disabled-by-default-cc.debug", true},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(etw_export_->SetCategoryStatusForTesting(c.status_on, true));
    EXPECT_EQ(c.enabled, Export::IsCategoryGroupEnabled(c.group))
        << c.status_on << " " << c.group;
    etw_export_->SetCategoryStatusForTesting(c.status_on, false);
  }
}

TEST_F(TraceEventETWExportTest, EnableCallbackLevelsAndKeywords) {
  const struct {
    uint32_t code;
    uint8_t level;
    uint64_t match_any;
    uint64_t match_all;
    bool enabled;
  } kSteps[] = {
      {1, 3, kKeyword, 0, false},  // The event's level is 4.
      {1, 0, kKeyword, 0, true},
      {0, 0, 0, 0, false},
      {2, 5, kKeyword, 0, false},  // Other codes change nothing.
      {1, 5, kKeyword, 0, true},
      {2, 3, 0, 0, true},
      // One shared bit with match-any, every bit of match-all.
      {1, 5, 0x1, 0, false},
      {1, 5, kKeyword | 0x1, kKeyword, true},
      {1, 5, kKeyword, kKeyword | 0x1, false},
  };
  etw_export_->SetETWExportEnabledForTesting(true);
  size_t expected_writes = 0;
  for (const auto& step : kSteps) {
    Export::CallEnableCallbackForTesting(step.code, step.level, step.match_any,
                                         step.match_all);
    EXPECT_EQ(step.enabled, Export::IsEventEnabledForTesting());
    Export::AddCompleteEndEvent("event");
    expected_writes += step.enabled ? 1 : 0;
    EXPECT_EQ(expected_writes, written_.size());
  }
}

TEST_F(TraceEventETWExportTest, RegisteredOnceAndEventStrings) {
  const uint64_t handle = Export::ProviderHandleForTesting();
  EXPECT_NE(0u, handle);
  Export::IsCategoryGroupEnabled("toplevel");
  EXPECT_EQ(etw_export_, Export::GetInstance());
  EXPECT_EQ(handle, Export::ProviderHandleForTesting());

  etw_export_->SetETWExportEnabledForTesting(true);
  Export::CallEnableCallbackForTesting(1, 0, kKeyword, 0);
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);  // One argument: 2 and 3 empty.
  AddIntEvent('R');                      // Not in the table: sent as itself.
  Export::AddCompleteEndEvent("done");

  const std::vector<std::vector<std::string>> kExpected = {
      {"event", "Begin", "count", "42", "", "", "", ""},
      {"event", "R", "count", "42", "", "", "", ""},
      {"done", "Complete End", "", "", "", "", "", ""},
  };
  EXPECT_EQ(kExpected, written_);
  EXPECT_EQ(handle, g_written_handle);
}

TEST_F(TraceEventETWExportTest, RegisteredAgainAfterAnAtExitManagerEnds) {
  // A short-lived manager (a test fixture's, say) that sees the first use
  // unregisters the provider when it ends; the process goes on tracing.
  Export::UnregisterProviderForTesting();
  EXPECT_EQ(0u, Export::ProviderHandleForTesting());
  {
    AtExitManager short_lived;
    Export::IsCategoryGroupEnabled("toplevel");
    EXPECT_NE(0u, Export::ProviderHandleForTesting());
  }
  EXPECT_EQ(0u, Export::ProviderHandleForTesting());
  EXPECT_EQ(etw_export_, Export::GetInstance());
  const uint64_t handle = Export::ProviderHandleForTesting();
  EXPECT_NE(0u, handle);

  // The statuses survive, and events go out under the new registration.
  etw_export_->SetETWExportEnabledForTesting(true);
  ASSERT_TRUE(etw_export_->SetCategoryStatusForTesting("toplevel", true));
  EXPECT_TRUE(Export::IsCategoryGroupEnabled("toplevel"));
  Export::CallEnableCallbackForTesting(1, 0, kKeyword, 0);
  Export::AddCompleteEndEvent("done");
  ASSERT_EQ(1u, written_.size());
  EXPECT_EQ(handle, g_written_handle);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
