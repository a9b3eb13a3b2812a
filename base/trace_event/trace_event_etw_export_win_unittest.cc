#include "base/trace_event/trace_event_etw_export_win.h"

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

constexpr ULONGLONG kKeyword = 0x8000000000000000ULL;

// What one call of EventWrite would have handed to the system.
struct WrittenEvent {
  REGHANDLE handle = 0;
  USHORT descriptor_id = 0;
  std::vector<std::string> strings;
  // Whether every size was the text's length with its terminator.
  bool sizes_match = true;
};

std::vector<WrittenEvent>* g_written = nullptr;

ULONG WINAPI CaptureEventWrite(REGHANDLE handle,
                               PCEVENT_DESCRIPTOR descriptor,
                               ULONG count,
                               PEVENT_DATA_DESCRIPTOR data) {
  WrittenEvent event;
  event.handle = handle;
  event.descriptor_id = descriptor->Id;
  for (ULONG i = 0; i < count; ++i) {
    const char* text = reinterpret_cast<const char*>(data[i].Ptr);
    event.strings.push_back(text);
    event.sizes_match &= data[i].Size == strlen(text) + 1;
    event.sizes_match &= data[i].Reserved == 0;
  }
  g_written->push_back(event);
  return ERROR_SUCCESS;
}

class TraceEventETWExportTest : public testing::Test {
 protected:
  void SetUp() override {
    g_written = &written_;
    previous_write_ = TraceEventETWExport::SetEventWriteFunctionForTesting(
        &CaptureEventWrite);
    etw_export_ = TraceEventETWExport::GetInstance();
    ASSERT_NE(nullptr, etw_export_);
  }

  void TearDown() override {
    etw_export_->SetETWExportEnabledForTesting(false);
    for (const std::string& name : statuses_set_)
      etw_export_->SetCategoryStatusForTesting(name, false);
    TraceEventETWExport::CallEnableCallbackForTesting(0, 0, 0, 0);
    TraceEventETWExport::SetEventWriteFunctionForTesting(previous_write_);
    g_written = nullptr;
  }

  void SetStatus(const char* name, bool enabled) {
    ASSERT_TRUE(etw_export_->SetCategoryStatusForTesting(name, enabled))
        << name;
    statuses_set_.push_back(name);
  }

  // Export on and a session that wants the provider's event.
  void EnableEverything() {
    etw_export_->SetETWExportEnabledForTesting(true);
    TraceEventETWExport::CallEnableCallbackForTesting(1, 0, kKeyword, 0);
    ASSERT_TRUE(TraceEventETWExport::IsEventEnabledForTesting());
  }

  void AddIntEvent(char phase) {
    const char* names[1] = {"count"};
    const unsigned char types[1] = {TRACE_VALUE_TYPE_INT};
    const unsigned long long values[1] = {42};
    TraceEventETWExport::AddEvent(phase, nullptr, "event", 0, 1, names, types,
                                  values, nullptr);
  }

  TraceEventETWExport* etw_export_ = nullptr;
  std::vector<WrittenEvent> written_;
  std::vector<std::string> statuses_set_;
  TraceEventETWExport::EventWriteFunction previous_write_ = nullptr;
};

TEST_F(TraceEventETWExportTest, ExportOffEnablesNothing) {
  for (const char* name : {"toplevel", "cc", "disabled-by-default-cc.debug",
                           "__OTHER_EVENTS", "__DISABLED_OTHER_EVENTS"}) {
    SetStatus(name, true);
  }
  TraceEventETWExport::CallEnableCallbackForTesting(1, 0, kKeyword, 0);
  for (const char* group : {"toplevel", "cc,toplevel", "anything",
                            "disabled-by-default-x", "disabled-by-defaultx"}) {
    EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled(group)) << group;
  }
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  TraceEventETWExport::AddCompleteEndEvent("event");
  EXPECT_TRUE(written_.empty());

  // The same statuses with export on do count.
  etw_export_->SetETWExportEnabledForTesting(true);
  EXPECT_TRUE(TraceEventETWExport::IsCategoryGroupEnabled("toplevel"));
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  EXPECT_EQ(1u, written_.size());
}

TEST_F(TraceEventETWExportTest, CategoryGroupStatuses) {
  etw_export_->SetETWExportEnabledForTesting(true);
  EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled("toplevel"));
  EXPECT_FALSE(etw_export_->SetCategoryStatusForTesting("not.known", true));

  SetStatus("toplevel", true);
  EXPECT_TRUE(TraceEventETWExport::IsCategoryGroupEnabled("toplevel"));
  EXPECT_TRUE(TraceEventETWExport::IsCategoryGroupEnabled("blink,toplevel"));
  EXPECT_TRUE(TraceEventETWExport::IsCategoryGroupEnabled(",,toplevel,"));
  EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled("toplevelx"));
  EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled(",,"));
  SetStatus("toplevel", false);

  // Names without an entry of their own take a catch-all status; listed
  // names keep their own.
  SetStatus("__OTHER_EVENTS", true);
  EXPECT_TRUE(TraceEventETWExport::IsCategoryGroupEnabled("my.category"));
  EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled("cc"));
  EXPECT_FALSE(
      TraceEventETWExport::IsCategoryGroupEnabled("disabled-by-default-foo"));
  EXPECT_FALSE(
      TraceEventETWExport::IsCategoryGroupEnabled("disabled-by-defaultfoo"));
  SetStatus("__OTHER_EVENTS", false);

  SetStatus("__DISABLED_OTHER_EVENTS", true);
  EXPECT_TRUE(
      TraceEventETWExport::IsCategoryGroupEnabled("disabled-by-default-foo"));
  EXPECT_TRUE(
      TraceEventETWExport::IsCategoryGroupEnabled("disabled-by-defaultfoo"));
  EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled(
      "disabled-by-default-cc.debug"));
  EXPECT_FALSE(TraceEventETWExport::IsCategoryGroupEnabled("my.category"));
  SetStatus("disabled-by-default-cc.debug", true);
  EXPECT_TRUE(TraceEventETWExport::IsCategoryGroupEnabled(
      "disabled-by-default-cc.debug"));
}

TEST_F(TraceEventETWExportTest, EnableCallbackLevelsAndKeywords) {
  etw_export_->SetETWExportEnabledForTesting(true);
  EXPECT_FALSE(TraceEventETWExport::IsEventEnabledForTesting());

  // The event's level is 4: a session asking for less detail leaves it off.
  TraceEventETWExport::CallEnableCallbackForTesting(1, 3, kKeyword, 0);
  EXPECT_FALSE(TraceEventETWExport::IsEventEnabledForTesting());
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  EXPECT_TRUE(written_.empty());

  TraceEventETWExport::CallEnableCallbackForTesting(1, 0, kKeyword, 0);
  EXPECT_TRUE(TraceEventETWExport::IsEventEnabledForTesting());
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  EXPECT_EQ(1u, written_.size());

  // Disabling clears it; codes other than enable and disable change nothing.
  TraceEventETWExport::CallEnableCallbackForTesting(0, 0, 0, 0);
  EXPECT_FALSE(TraceEventETWExport::IsEventEnabledForTesting());
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  TraceEventETWExport::AddCompleteEndEvent("event");
  EXPECT_EQ(1u, written_.size());
  TraceEventETWExport::CallEnableCallbackForTesting(2, 5, kKeyword, 0);
  EXPECT_FALSE(TraceEventETWExport::IsEventEnabledForTesting());

  TraceEventETWExport::CallEnableCallbackForTesting(1, 5, kKeyword, 0);
  EXPECT_TRUE(TraceEventETWExport::IsEventEnabledForTesting());
  TraceEventETWExport::CallEnableCallbackForTesting(2, 3, 0, 0);
  EXPECT_TRUE(TraceEventETWExport::IsEventEnabledForTesting());

  // The keywords must allow it: one shared bit with match-any, every bit of
  // match-all.
  TraceEventETWExport::CallEnableCallbackForTesting(1, 5, 0x1, 0);
  EXPECT_FALSE(TraceEventETWExport::IsEventEnabledForTesting());
  TraceEventETWExport::CallEnableCallbackForTesting(1, 5, kKeyword | 0x1,
                                                    kKeyword);
  EXPECT_TRUE(TraceEventETWExport::IsEventEnabledForTesting());
  TraceEventETWExport::CallEnableCallbackForTesting(1, 5, kKeyword,
                                                    kKeyword | 0x1);
  EXPECT_FALSE(TraceEventETWExport::IsEventEnabledForTesting());
}

TEST_F(TraceEventETWExportTest, RegisteredOnceAndEventStrings) {
  // Registered once: the handle outlives later uses of the export.
  const REGHANDLE handle = TraceEventETWExport::ProviderHandleForTesting();
  EXPECT_NE(0u, handle);
  EXPECT_EQ(etw_export_, TraceEventETWExport::GetInstance());
  TraceEventETWExport::IsCategoryGroupEnabled("toplevel");
  EXPECT_EQ(handle, TraceEventETWExport::ProviderHandleForTesting());

  EnableEverything();
  AddIntEvent(TRACE_EVENT_PHASE_BEGIN);
  ASSERT_EQ(1u, written_.size());
  EXPECT_EQ(handle, written_[0].handle);
  EXPECT_EQ(1, written_[0].descriptor_id);
  EXPECT_EQ((std::vector<std::string>{"event", "Begin", "count", "42", "", "",
                                      "", ""}),
            written_[0].strings);
  EXPECT_TRUE(written_[0].sizes_match);

  // A phase without a text of its own is sent as itself.
  AddIntEvent('R');
  ASSERT_EQ(2u, written_.size());
  EXPECT_EQ("R", written_[1].strings[1]);

  // Values are JSON text, a convertable value is sent empty, and a missing
  // text is sent as "NULL".
  const char* names[3] = {"d", nullptr, "s"};
  const unsigned char types[3] = {TRACE_VALUE_TYPE_DOUBLE,
                                  TRACE_VALUE_TYPE_CONVERTABLE,
                                  TRACE_VALUE_TYPE_STRING};
  TraceValue one;
  one.as_double = 1.0;
  const unsigned long long values[3] = {one.as_uint, 0,
                                        reinterpret_cast<uintptr_t>("t\"x")};
  TraceEventETWExport::AddEvent(TRACE_EVENT_PHASE_COMPLETE, nullptr, nullptr, 0,
                                3, names, types, values, nullptr);
  ASSERT_EQ(3u, written_.size());
  EXPECT_EQ((std::vector<std::string>{"NULL", "Complete", "d", "1.0", "NULL",
                                      "", "s", "\"t\\\"x\""}),
            written_[2].strings);
  EXPECT_TRUE(written_[2].sizes_match);

  TraceEventETWExport::AddCompleteEndEvent("done");
  ASSERT_EQ(4u, written_.size());
  EXPECT_EQ((std::vector<std::string>{"done", "Complete End", "", "", "", "",
                                      "", ""}),
            written_[3].strings);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
