#include "base/trace_event/trace_event_impl.h"

#include <stdint.h>
#include <string.h>

#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/process/process_handle.h"
#include "base/strings/decimal_conversion.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"
#include "base/trace_event/category_registry.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class TestConvertable : public ConvertableToTraceFormat {
 public:
  TestConvertable(const char* text, int* destroyed)
      : text_(text), destroyed_(destroyed) {}
  ~TestConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override { *out += text_; }

 private:
  const char* text_;
  int* destroyed_;
};

unsigned long long AsValue(const char* text) {
  return reinterpret_cast<uintptr_t>(text);
}

std::string DoubleAsJSON(double number) {
  TraceValue value;
  value.as_double = number;
  std::string out;
  TraceEvent::AppendValueAsJSON(TRACE_VALUE_TYPE_DOUBLE, value, &out);
  return out;
}

std::string ValueAsJSON(unsigned char type, unsigned long long raw) {
  TraceValue value;
  value.as_uint = raw;
  std::string out;
  TraceEvent::AppendValueAsJSON(type, value, &out);
  return out;
}

// Every test event sits in this category, held outside the registry.
TraceCategory g_test_category = {0, 0, "test.cat"};

// What an event is made of; the defaults give SimplePrefix below.
struct EventParts {
  char phase = TRACE_EVENT_PHASE_BEGIN;
  unsigned int flags = TRACE_EVENT_FLAG_NONE;
  const char* name = "ev";
  const char* scope = nullptr;
  unsigned long long id = 0;
  unsigned long long bind_id = 0;
  int thread_id = 7;
  int64_t thread_timestamp = 0;
  std::vector<const char*> arg_names;
  std::vector<unsigned char> arg_types;
  std::vector<unsigned long long> arg_values;
  std::unique_ptr<ConvertableToTraceFormat>* convertables = nullptr;
};

void Init(TraceEvent* event, const EventParts& parts) {
  event->Initialize(parts.thread_id, TimeTicks::FromInternalValue(1000),
                    ThreadTicks::FromInternalValue(parts.thread_timestamp),
                    parts.phase, g_test_category.state_ptr(), parts.name,
                    parts.scope, parts.id, parts.bind_id,
                    static_cast<int>(parts.arg_names.size()),
                    parts.arg_names.data(), parts.arg_types.data(),
                    parts.arg_values.data(), parts.convertables, parts.flags);
}

std::string ToJSON(const TraceEvent& event,
                   const ArgumentFilterPredicate& filter = {}) {
  std::string out;
  event.AppendAsJSON(&out, filter);
  return out;
}

// The JSON text up to the end of an empty "args".
std::string SimplePrefix(char phase = 'B',
                         int pid = TraceEvent::GetProcessIdForJSON(),
                         int tid = 7) {
  return StringPrintf(
      "{\"pid\":%i,\"tid\":%i,\"ts\":1000,\"ph\":\"%c\",\"cat\":\"test.cat\","
      "\"name\":\"ev\",\"args\":{}",
      pid, tid, phase);
}

TEST(TraceEventTest, ArgumentsAndOwnership) {
  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {
      nullptr, std::make_unique<TestConvertable>("[1]", &destroyed)};
  EventParts parts;
  parts.arg_names = {"a", "b", "c"};
  parts.arg_types = {TRACE_VALUE_TYPE_INT, TRACE_VALUE_TYPE_CONVERTABLE,
                     TRACE_VALUE_TYPE_UINT};
  parts.arg_values = {static_cast<unsigned long long>(-5), 12, 9};
  parts.convertables = convertables;
  TraceEvent event;
  Init(&event, parts);
  // The third argument is dropped; the convertable is taken, its value
  // word left 0.
  EXPECT_EQ(nullptr, convertables[1]);
  EXPECT_EQ(0u, event.arg_value(1).as_uint);
  EXPECT_NE(std::string::npos,
            ToJSON(event).find("\"args\":{\"a\":-5,\"b\":[1]}"));

  // The slot reused for one argument keeps nothing of the second.
  parts.arg_names.resize(1);
  Init(&event, parts);
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(nullptr, event.arg_name(1));
  EXPECT_EQ(TRACE_VALUE_TYPE_UINT, event.arg_type(1));
  EXPECT_EQ(0u, event.arg_value(1).as_uint);

  // MoveFrom takes the copied strings and convertables along; Reset drops
  // them and unsets the duration.
  std::unique_ptr<ConvertableToTraceFormat> more[1] = {
      std::make_unique<TestConvertable>("{}", &destroyed)};
  std::string text = "moved";
  auto source = std::make_unique<TraceEvent>();
  EventParts copy_parts;
  copy_parts.flags = TRACE_EVENT_FLAG_COPY;
  copy_parts.arg_names = {"conv", "str"};
  copy_parts.arg_types = {TRACE_VALUE_TYPE_CONVERTABLE,
                          TRACE_VALUE_TYPE_STRING};
  copy_parts.arg_values = {0, AsValue(text.c_str())};
  copy_parts.convertables = more;
  Init(source.get(), copy_parts);
  source->UpdateDuration(TimeTicks::FromInternalValue(1010), ThreadTicks());
  const std::string expected = ToJSON(*source);
  event.MoveFrom(std::move(source));
  text = "XXXXX";
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(expected, ToJSON(event));
  EXPECT_EQ(10, event.duration().InMicroseconds());
  event.Reset();
  EXPECT_EQ(2, destroyed);
  EXPECT_EQ(nullptr, event.parameter_copy_storage());
  EXPECT_EQ(-1, event.duration().ToInternalValue());
}

TEST(TraceEventTest, CopyBlock) {
  char name[] = "name";
  char text[] = "value";
  EventParts parts;
  parts.name = name;
  parts.flags = TRACE_EVENT_FLAG_COPY;
  parts.arg_names = {"arg", "n"};
  parts.arg_types = {TRACE_VALUE_TYPE_STRING, TRACE_VALUE_TYPE_INT};
  parts.arg_values = {AsValue(text), 3};
  TraceEvent copied;
  Init(&copied, parts);
  // Name, both argument names and the string; the null scope takes no room.
  ASSERT_NE(nullptr, copied.parameter_copy_storage());
  EXPECT_EQ(5u + 4u + 2u + 6u, copied.parameter_copy_storage()->size());
  EXPECT_EQ(TRACE_VALUE_TYPE_COPY_STRING, copied.arg_type(0));
  strcpy(name, "XXXX");
  strcpy(text, "XXXXX");
  EXPECT_STREQ("name", copied.name());
  EXPECT_STREQ("value", copied.arg_value(0).as_string);

  // Without the flag a plain string keeps its pointer while a copied string
  // is still copied, alone; a null one takes no room.
  const char* copy_me = "copy";
  parts.flags = TRACE_EVENT_FLAG_NONE;
  parts.scope = "scope";
  parts.arg_types = {TRACE_VALUE_TYPE_STRING, TRACE_VALUE_TYPE_COPY_STRING};
  parts.arg_values = {AsValue(text), AsValue(copy_me)};
  TraceEvent mixed;
  Init(&mixed, parts);
  EXPECT_EQ(text, mixed.arg_value(0).as_string);
  EXPECT_EQ(name, mixed.name());
  ASSERT_NE(nullptr, mixed.parameter_copy_storage());
  EXPECT_EQ(5u, mixed.parameter_copy_storage()->size());
  EXPECT_NE(copy_me, mixed.arg_value(1).as_string);
  EXPECT_STREQ("copy", mixed.arg_value(1).as_string);
  parts.arg_values[1] = 0;
  Init(&mixed, parts);
  EXPECT_EQ(nullptr, mixed.parameter_copy_storage());
  EXPECT_NE(std::string::npos, ToJSON(mixed).find("\"n\":\"NULL\"}"));

  // The account holds the record, the block and the convertable.
  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {
      nullptr, std::make_unique<TestConvertable>("1", &destroyed)};
  parts.arg_types[1] = TRACE_VALUE_TYPE_CONVERTABLE;
  parts.convertables = convertables;
  Init(&mixed, parts);
  TraceEventMemoryOverhead overhead;
  mixed.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(sizeof(TraceEvent),
            overhead.GetAllocated(TraceEventMemoryOverhead::kTraceEvent));
  EXPECT_EQ(0u, overhead.GetCount(TraceEventMemoryOverhead::kStdString));
  EXPECT_EQ(1u, overhead.GetCount(
                    TraceEventMemoryOverhead::kConvertableToTraceFormat));
  copied.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(1u, overhead.GetCount(TraceEventMemoryOverhead::kStdString));
}

TEST(TraceEventTest, Durations) {
  EventParts parts;
  parts.phase = TRACE_EVENT_PHASE_COMPLETE;
  TraceEvent event;
  Init(&event, parts);
  EXPECT_EQ(SimplePrefix('X') + "}", ToJSON(event));
  event.UpdateDuration(TimeTicks::FromInternalValue(1250),
                       ThreadTicks::FromInternalValue(99));
  EXPECT_EQ(SimplePrefix('X') + ",\"dur\":250}", ToJSON(event));

  parts.thread_timestamp = 40;
  Init(&event, parts);
  event.UpdateDuration(TimeTicks::FromInternalValue(1003),
                       ThreadTicks::FromInternalValue(42));
  EXPECT_EQ(SimplePrefix('X') + ",\"dur\":3,\"tdur\":2,\"tts\":40}",
            ToJSON(event));

  // A reused slot whose event is never closed shows no thread duration of
  // the slot's earlier event.
  event.Reset();
  Init(&event, parts);
  EXPECT_EQ(SimplePrefix('X') + ",\"tts\":40}", ToJSON(event));

  parts.phase = TRACE_EVENT_PHASE_BEGIN;
  parts.thread_timestamp = 0;
  parts.flags = TRACE_EVENT_FLAG_ASYNC_TTS;
  Init(&event, parts);
  event.UpdateDuration(TimeTicks::FromInternalValue(2000), ThreadTicks());
  EXPECT_EQ(SimplePrefix() + ", \"use_async_tts\":1}", ToJSON(event));
}

TEST(TraceEventTest, ValueForms) {
  EXPECT_EQ("1.0", DoubleAsJSON(1.0));
  EXPECT_EQ("-1.0", DoubleAsJSON(-1.0));
  EXPECT_EQ("0.0", DoubleAsJSON(0.0));
  EXPECT_EQ("0.5", DoubleAsJSON(0.5));
  EXPECT_EQ("-0.5", DoubleAsJSON(-0.5));
  EXPECT_EQ("0.1", DoubleAsJSON(0.1));
  EXPECT_EQ("1234.5", DoubleAsJSON(1234.5));
  // An exponent form keeps its exponent and gets no ".0".
  const std::string huge = DoubleAsJSON(1e300);
  EXPECT_EQ('1', huge[0]);
  EXPECT_NE(std::string::npos, huge.find("e+300")) << huge;
  EXPECT_EQ(std::string::npos, huge.find(".0")) << huge;
  EXPECT_EQ(0u, DoubleAsJSON(-1.5e-7).find("-1.5e-")) << DoubleAsJSON(-1.5e-7);
  // The shortest text reads back as the same double.
  for (double number :
       {1.0 / 3.0, 123456.789e-3, std::numeric_limits<double>::max(),
        std::numeric_limits<double>::denorm_min()}) {
    const std::string text = DoubleAsJSON(number);
    EXPECT_EQ(number, ParseDouble(text.c_str(), nullptr)) << text;
  }
  EXPECT_EQ("\"NaN\"", DoubleAsJSON(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("\"Infinity\"",
            DoubleAsJSON(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("\"-Infinity\"",
            DoubleAsJSON(-std::numeric_limits<double>::infinity()));

  EXPECT_EQ("true", ValueAsJSON(TRACE_VALUE_TYPE_BOOL, 1));
  EXPECT_EQ("false", ValueAsJSON(TRACE_VALUE_TYPE_BOOL, 2));
  EXPECT_EQ("18446744073709551615", ValueAsJSON(TRACE_VALUE_TYPE_UINT, ~0ull));
  EXPECT_EQ("-9223372036854775808",
            ValueAsJSON(TRACE_VALUE_TYPE_INT, 0x8000000000000000ull));
  EXPECT_EQ("\"0xdeadbeef0\"",
            ValueAsJSON(TRACE_VALUE_TYPE_POINTER, 0xdeadbeef0ull));
  EXPECT_EQ("\"a\\\"b\\\\c\\n\"",
            ValueAsJSON(TRACE_VALUE_TYPE_COPY_STRING, AsValue("a\"b\\c\n")));
  EXPECT_EQ("\"NULL\"", ValueAsJSON(TRACE_VALUE_TYPE_STRING, 0));
  EXPECT_EQ("", ValueAsJSON(TRACE_VALUE_TYPE_CONVERTABLE, 1));
}

TEST(TraceEventTest, ProcessAndThreadIds) {
  const int current = static_cast<int>(GetCurrentProcId());
  EXPECT_EQ(current, TraceEvent::GetProcessIdForJSON());
  EventParts parts;
  parts.flags = TRACE_EVENT_FLAG_HAS_PROCESS_ID;
  parts.thread_id = 4242;
  TraceEvent event;
  Init(&event, parts);
  EXPECT_EQ(SimplePrefix('B', 4242, -1) + "}", ToJSON(event));
  // A process id of 0 is none: this process and the stored id as thread.
  parts.thread_id = 0;
  Init(&event, parts);
  EXPECT_EQ(SimplePrefix('B', current, 0) + "}", ToJSON(event));

  TraceEvent::SetProcessIdForJSON(31337);
  EXPECT_EQ(SimplePrefix('B', 31337, 0) + "}", ToJSON(event));
  TraceEvent::SetProcessIdForJSON(current);
}

TEST(TraceEventTest, IdFlagsScopeAndFlows) {
  const struct {
    unsigned int flags;
    const char* scope;
    const char* expected;
  } kCases[] = {
      {TRACE_EVENT_FLAG_HAS_ID, "sc", ",\"scope\":\"sc\",\"id\":\"0x2a\"}"},
      {TRACE_EVENT_FLAG_HAS_LOCAL_ID, nullptr,
       ",\"id2\":{\"local\":\"0x2a\"}}"},
      {TRACE_EVENT_FLAG_HAS_GLOBAL_ID, "g",
       ",\"scope\":\"g\",\"id2\":{\"global\":\"0x2a\"}}"},
      // Two kinds of id at once: no id, but the scope is written.
      {TRACE_EVENT_FLAG_HAS_GLOBAL_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID, "both",
       ",\"scope\":\"both\"}"},
      {TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID, nullptr, "}"},
      // Without an id flag neither scope nor id.
      {TRACE_EVENT_FLAG_MANGLE_ID, "sc", "}"},
      {TRACE_EVENT_FLAG_BIND_TO_ENCLOSING | TRACE_EVENT_FLAG_FLOW_IN |
           TRACE_EVENT_FLAG_FLOW_OUT,
       nullptr,
       ",\"bp\":\"e\",\"bind_id\":\"0xabc\",\"flow_in\":true,"
       "\"flow_out\":true}"},
      {TRACE_EVENT_FLAG_FLOW_OUT, nullptr,
       ",\"bind_id\":\"0xabc\",\"flow_out\":true}"},
  };
  for (const auto& test_case : kCases) {
    EventParts parts;
    parts.flags = test_case.flags;
    parts.scope = test_case.scope;
    parts.id = 0x2a;
    parts.bind_id = 0xabc;
    TraceEvent event;
    Init(&event, parts);
    EXPECT_EQ(SimplePrefix() + test_case.expected, ToJSON(event));
  }

  const struct {
    unsigned int flags;
    char letter;
  } kScopes[] = {{TRACE_EVENT_SCOPE_GLOBAL, 'g'},
                 {TRACE_EVENT_SCOPE_PROCESS, 'p'},
                 {TRACE_EVENT_SCOPE_THREAD, 't'},
                 {TRACE_EVENT_FLAG_SCOPE_MASK, '?'}};
  for (const auto& scope : kScopes) {
    EventParts parts;
    parts.phase = TRACE_EVENT_PHASE_INSTANT;
    parts.flags = scope.flags;
    TraceEvent event;
    Init(&event, parts);
    EXPECT_EQ(SimplePrefix('I') + ",\"s\":\"" + scope.letter + "\"}",
              ToJSON(event));
  }
}

TEST(TraceEventTest, ArgumentFiltersAndPrettyPrint) {
  EventParts parts;
  parts.arg_names = {"keep", "drop"};
  parts.arg_types = {TRACE_VALUE_TYPE_INT, TRACE_VALUE_TYPE_BOOL};
  parts.arg_values = {1, 1};
  TraceEvent event;
  Init(&event, parts);

  std::string seen;
  const ArgumentFilterPredicate reject_all = BindRepeating(
      [](std::string* seen, const char* category, const char* name,
         ArgumentNameFilterPredicate*) {
        *seen = std::string(category) + "/" + name;
        return false;
      },
      &seen);
  EXPECT_NE(std::string::npos,
            ToJSON(event, reject_all).find(",\"args\":\"__stripped__\"}"));
  EXPECT_EQ("test.cat/ev", seen);
  const ArgumentFilterPredicate by_name = BindRepeating(
      [](const char*, const char*, ArgumentNameFilterPredicate* name_filter) {
        *name_filter = BindRepeating(
            [](const char* arg) { return strcmp(arg, "drop") != 0; });
        return true;
      });
  EXPECT_NE(std::string::npos,
            ToJSON(event, by_name)
                .find(",\"args\":{\"keep\":1,\"drop\":\"__stripped__\"}"));

  std::ostringstream out;
  event.AppendPrettyPrinted(&out);
  EXPECT_EQ("ev[test.cat], {keep:1, drop:true}", out.str());

  // Without arguments the filter is not asked.
  seen.clear();
  TraceCategory* toplevel = CategoryRegistry::GetCategoryByName("toplevel");
  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   toplevel->state_ptr(), "bare", nullptr, 0, 0, 0, nullptr,
                   nullptr, nullptr, nullptr, TRACE_EVENT_FLAG_NONE);
  EXPECT_NE(std::string::npos, ToJSON(event, reject_all).find("\"args\":{}"));
  EXPECT_EQ("", seen);
  std::ostringstream bare;
  event.AppendPrettyPrinted(&bare);
  EXPECT_EQ("bare[toplevel]", bare.str());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
