#include "base/trace_event/trace_log.h"

#include <string.h>

#include <memory>
#include <string>

#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class CountingConvertable : public ConvertableToTraceFormat {
 public:
  explicit CountingConvertable(int* destroyed) : destroyed_(destroyed) {}
  ~CountingConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override {
    out->append("{}");
  }

 private:
  int* destroyed_;
};

TEST(TraceLogTest, SingleInstance) {
  EXPECT_NE(nullptr, TraceLog::GetInstance());
  EXPECT_EQ(TraceLog::GetInstance(), TraceLog::GetInstance());
  EXPECT_FALSE(TraceLog::GetInstance()->IsEnabled());
}

TEST(TraceLogTest, CategoriesAreOffAndPermanent) {
  const unsigned char* toplevel = TraceLog::GetCategoryGroupEnabled("toplevel");
  ASSERT_NE(nullptr, toplevel);
  EXPECT_EQ(0, *toplevel & TraceLog::kEnabledForAnyMask);
  EXPECT_STREQ("toplevel", TraceLog::GetCategoryGroupName(toplevel));

  // Found by content, not by the address of the text.
  char name[] = "TraceLogTest.category";
  const unsigned char* state = TraceLog::GetCategoryGroupEnabled(name);
  EXPECT_EQ(0, *state);
  strcpy(name, "TraceLogTest.xxxxxxxx");
  EXPECT_STREQ("TraceLogTest.category", TraceLog::GetCategoryGroupName(state));
  EXPECT_EQ(state, TraceLog::GetCategoryGroupEnabled("TraceLogTest.category"));
  EXPECT_NE(state, TraceLog::GetCategoryGroupEnabled("TraceLogTest.other"));
}

TEST(TraceLogTest, AddTraceEventTakesTheConvertables) {
  const unsigned char* state =
      TraceLog::GetCategoryGroupEnabled("task_scheduler");
  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> values[2] = {
      std::make_unique<CountingConvertable>(&destroyed),
      std::make_unique<CountingConvertable>(&destroyed)};
  const char* names[2] = {"a", "b"};
  const unsigned char types[2] = {TRACE_VALUE_TYPE_CONVERTABLE,
                                  TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long raw[2] = {0, 0};
  TraceEventHandle handle = TraceLog::GetInstance()->AddTraceEvent(
      TRACE_EVENT_PHASE_COMPLETE, state, "Run", nullptr, 1, 0, 1, TimeTicks(),
      2, names, types, raw, values,
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID |
          TRACE_EVENT_FLAG_FLOW_IN);
  EXPECT_EQ(2, destroyed);
  EXPECT_EQ(nullptr, values[0]);
  EXPECT_EQ(0u, handle.chunk_seq);
  EXPECT_EQ(0u, handle.chunk_index);
  EXPECT_EQ(0u, handle.event_index);
  TraceLog::GetInstance()->UpdateTraceEventDuration(state, "Run", handle);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
