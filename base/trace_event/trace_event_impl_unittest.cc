#include "base/trace_event/trace_event_impl.h"

#include <stdint.h>
#include <string.h>

#include <limits>
#include <memory>
#include <sstream>
#include <string>

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

unsigned long long AsValue(double number) {
  TraceValue value;
  value.as_double = number;
  return value.as_uint;
}

std::string ValueAsJSON(unsigned char type, unsigned long long raw) {
  TraceValue value;
  value.as_uint = raw;
  std::string out;
  TraceEvent::AppendValueAsJSON(type, value, &out);
  return out;
}

std::string DoubleAsJSON(double number) {
  return ValueAsJSON(TRACE_VALUE_TYPE_DOUBLE, AsValue(number));
}

// Every test event sits in this category, held outside the registry so
// that its name is known here.
TraceCategory g_test_category = {0, 0, "test.cat"};
const unsigned char* TestCategoryState() {
  return g_test_category.state_ptr();
}

// An event with no arguments whose only interesting parts are the given
// ones.
void InitSimple(TraceEvent* event,
                char phase,
                unsigned int flags,
                const char* scope = nullptr,
                unsigned long long id = 0,
                int thread_id = 7,
                unsigned long long bind_id = 0,
                ThreadTicks thread_timestamp = ThreadTicks()) {
  event->Initialize(thread_id, TimeTicks::FromInternalValue(1000),
                    thread_timestamp, phase, TestCategoryState(), "ev", scope,
                    id, bind_id, 0, nullptr, nullptr, nullptr, nullptr, flags);
}

std::string ToJSON(
    const TraceEvent& event,
    const ArgumentFilterPredicate& filter = ArgumentFilterPredicate()) {
  std::string out;
  event.AppendAsJSON(&out, filter);
  return out;
}

// The JSON text up to "args" of an event made by InitSimple.
std::string SimplePrefix(char phase, int pid, int tid) {
  return StringPrintf(
      "{\"pid\":%i,\"tid\":%i,\"ts\":1000,\"ph\":\"%c\",\"cat\":\"test.cat\","
      "\"name\":\"ev\",\"args\":{}",
      pid, tid, phase);
}

TEST(TraceEventTest, InitializeKeepsAtMostTwoArguments) {
  const char* names[3] = {"a", "b", "c"};
  const unsigned char types[3] = {TRACE_VALUE_TYPE_INT, TRACE_VALUE_TYPE_BOOL,
                                  TRACE_VALUE_TYPE_UINT};
  const unsigned long long values[3] = {static_cast<unsigned long long>(-5), 1,
                                        9};
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   TestCategoryState(), "three", nullptr, 0, 0, 3, names, types,
                   values, nullptr, TRACE_EVENT_FLAG_NONE);
  EXPECT_STREQ("b", event.arg_name(1));
  EXPECT_EQ(TRACE_VALUE_TYPE_BOOL, event.arg_type(1));
  EXPECT_EQ(-5, event.arg_value(0).as_int);
  EXPECT_NE(std::string::npos,
            ToJSON(event).find("\"args\":{\"a\":-5,\"b\":true}"));

  // Reusing the slot for a one-argument event leaves no trace of the second
  // argument: it reads as an unsigned 0 without a name.
  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {
      std::make_unique<TestConvertable>("{}", &destroyed),
      std::make_unique<TestConvertable>("[1]", &destroyed)};
  const unsigned char convertable_types[2] = {TRACE_VALUE_TYPE_CONVERTABLE,
                                              TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long raw[2] = {11, 12};
  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   TestCategoryState(), "two", nullptr, 0, 0, 2, names,
                   convertable_types, raw, convertables, TRACE_EVENT_FLAG_NONE);
  EXPECT_EQ(nullptr, convertables[0]);
  EXPECT_EQ(nullptr, convertables[1]);
  EXPECT_EQ(0u, event.arg_value(0).as_uint);
  EXPECT_NE(nullptr, event.convertable_value(1));

  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   TestCategoryState(), "one", nullptr, 0, 0, 1, names, types,
                   values, nullptr, TRACE_EVENT_FLAG_NONE);
  EXPECT_EQ(2, destroyed);
  EXPECT_EQ(nullptr, event.arg_name(1));
  EXPECT_EQ(TRACE_VALUE_TYPE_UINT, event.arg_type(1));
  EXPECT_EQ(0u, event.arg_value(1).as_uint);
  EXPECT_EQ(nullptr, event.convertable_value(0));
  EXPECT_NE(std::string::npos, ToJSON(event).find("\"args\":{\"a\":-5}"));
}

TEST(TraceEventTest, CopyFlagCopiesNamesAndStrings) {
  char name[] = "name";
  char arg_name[] = "arg";
  char text[] = "value";
  const char* names[2] = {arg_name, "other"};
  const unsigned char types[2] = {TRACE_VALUE_TYPE_STRING,
                                  TRACE_VALUE_TYPE_INT};
  const unsigned long long values[2] = {AsValue(text), 3};

  TraceEvent copied;
  copied.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                    TestCategoryState(), name, nullptr, 0, 0, 2, names, types,
                    values, nullptr, TRACE_EVENT_FLAG_COPY);
  // The name, both argument names and the string value; the null scope
  // takes no room.
  ASSERT_NE(nullptr, copied.parameter_copy_storage());
  EXPECT_EQ(
      strlen("name") + strlen("arg") + strlen("other") + strlen("value") + 4,
      copied.parameter_copy_storage()->size());
  EXPECT_EQ(nullptr, copied.scope());
  EXPECT_EQ(TRACE_VALUE_TYPE_COPY_STRING, copied.arg_type(0));
  strcpy(name, "XXXX");
  strcpy(arg_name, "XXX");
  strcpy(text, "XXXXX");
  EXPECT_STREQ("name", copied.name());
  EXPECT_STREQ("arg", copied.arg_name(0));
  EXPECT_STREQ("value", copied.arg_value(0).as_string);
  EXPECT_NE(std::string::npos,
            ToJSON(copied).find("\"args\":{\"arg\":\"value\",\"other\":3}"));

  // Without the flag a plain string keeps its pointer, while a copied
  // string is still copied, alone.
  strcpy(text, "plain");
  const unsigned char mixed_types[2] = {TRACE_VALUE_TYPE_STRING,
                                        TRACE_VALUE_TYPE_COPY_STRING};
  const char* copy_me = "copy";
  const unsigned long long mixed_values[2] = {AsValue(text), AsValue(copy_me)};
  TraceEvent mixed;
  mixed.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   TestCategoryState(), name, "scope", 0, 0, 2, names,
                   mixed_types, mixed_values, nullptr, TRACE_EVENT_FLAG_NONE);
  EXPECT_EQ(TRACE_VALUE_TYPE_STRING, mixed.arg_type(0));
  EXPECT_EQ(text, mixed.arg_value(0).as_string);
  EXPECT_EQ(name, mixed.name());
  ASSERT_NE(nullptr, mixed.parameter_copy_storage());
  EXPECT_EQ(strlen("copy") + 1, mixed.parameter_copy_storage()->size());
  EXPECT_NE(copy_me, mixed.arg_value(1).as_string);
  EXPECT_STREQ("copy", mixed.arg_value(1).as_string);

  // A null copied string takes no room and is written as "NULL".
  const unsigned long long null_values[1] = {0};
  TraceEvent null_string;
  null_string.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                         TestCategoryState(), "n", nullptr, 0, 0, 1, names,
                         mixed_types + 1, null_values, nullptr,
                         TRACE_EVENT_FLAG_NONE);
  EXPECT_EQ(nullptr, null_string.parameter_copy_storage());
  EXPECT_NE(std::string::npos,
            ToJSON(null_string).find("\"args\":{\"XXX\":\"NULL\"}"));
}

TEST(TraceEventTest, MoveFromResetAndOwnership) {
  int destroyed = 0;
  const char* names[2] = {"conv", "str"};
  const unsigned char types[2] = {TRACE_VALUE_TYPE_CONVERTABLE,
                                  TRACE_VALUE_TYPE_STRING};
  std::string text = "moved";
  const unsigned long long values[2] = {0, AsValue(text.c_str())};
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {
      std::make_unique<TestConvertable>("{\"k\":1}", &destroyed), nullptr};

  auto source = std::make_unique<TraceEvent>();
  source->Initialize(3, TimeTicks::FromInternalValue(5),
                     ThreadTicks::FromInternalValue(6),
                     TRACE_EVENT_PHASE_COMPLETE, TestCategoryState(), "src",
                     "scope", 9, 0, 2, names, types, values, convertables,
                     TRACE_EVENT_FLAG_COPY | TRACE_EVENT_FLAG_HAS_ID);
  source->UpdateDuration(TimeTicks::FromInternalValue(15),
                         ThreadTicks::FromInternalValue(8));
  const std::string expected = ToJSON(*source);
  EXPECT_NE(std::string::npos, expected.find("\"conv\":{\"k\":1}"));

  TraceEvent target;
  target.MoveFrom(std::move(source));
  EXPECT_EQ(0, destroyed);
  text = "XXXXX";
  EXPECT_EQ(expected, ToJSON(target));
  EXPECT_EQ(10, target.duration().InMicroseconds());

  // Reset drops what the event owns and unsets the duration.
  target.Reset();
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(nullptr, target.parameter_copy_storage());
  EXPECT_EQ(nullptr, target.convertable_value(0));
  EXPECT_EQ(-1, target.duration().ToInternalValue());

  // Destroying an event destroys its convertable values.
  std::unique_ptr<ConvertableToTraceFormat> more[1] = {
      std::make_unique<TestConvertable>("1", &destroyed)};
  {
    TraceEvent owner;
    owner.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                     TestCategoryState(), "o", nullptr, 0, 0, 1, names, types,
                     values, more, TRACE_EVENT_FLAG_NONE);
  }
  EXPECT_EQ(2, destroyed);
}

TEST(TraceEventTest, DurationsOfCompleteEvents) {
  const int pid = TraceEvent::GetProcessIdForJSON();
  TraceEvent event;
  InitSimple(&event, TRACE_EVENT_PHASE_COMPLETE, 0);
  // Not closed yet: no duration member.
  EXPECT_EQ(SimplePrefix('X', pid, 7) + "}", ToJSON(event));
  event.UpdateDuration(TimeTicks::FromInternalValue(1250),
                       ThreadTicks::FromInternalValue(99));
  // Without a thread timestamp there is no thread duration.
  EXPECT_EQ(SimplePrefix('X', pid, 7) + ",\"dur\":250}", ToJSON(event));

  InitSimple(&event, TRACE_EVENT_PHASE_COMPLETE, 0, nullptr, 0, 7, 0,
             ThreadTicks::FromInternalValue(40));
  event.UpdateDuration(TimeTicks::FromInternalValue(1003),
                       ThreadTicks::FromInternalValue(42));
  EXPECT_EQ(SimplePrefix('X', pid, 7) + ",\"dur\":3,\"tdur\":2,\"tts\":40}",
            ToJSON(event));

  // The slot is reused for an event that is never closed: neither the
  // duration nor the thread duration of the earlier event may show.
  event.Reset();
  InitSimple(&event, TRACE_EVENT_PHASE_COMPLETE, 0, nullptr, 0, 7, 0,
             ThreadTicks::FromInternalValue(50));
  EXPECT_EQ(SimplePrefix('X', pid, 7) + ",\"tts\":50}", ToJSON(event));

  // Other phases never write a duration.
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_ASYNC_TTS);
  event.UpdateDuration(TimeTicks::FromInternalValue(2000), ThreadTicks());
  EXPECT_EQ(SimplePrefix('B', pid, 7) + ", \"use_async_tts\":1}",
            ToJSON(event));
}

TEST(TraceEventTest, EstimateTraceMemoryOverhead) {
  int destroyed = 0;
  const char* names[1] = {"c"};
  const unsigned char types[1] = {TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long values[1] = {0};
  std::unique_ptr<ConvertableToTraceFormat> convertables[1] = {
      std::make_unique<TestConvertable>("1", &destroyed)};
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   TestCategoryState(), "name", nullptr, 0, 0, 1, names, types,
                   values, convertables, TRACE_EVENT_FLAG_COPY);
  TraceEventMemoryOverhead overhead;
  event.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(1u, overhead.GetCount(TraceEventMemoryOverhead::kTraceEvent));
  EXPECT_EQ(sizeof(TraceEvent),
            overhead.GetAllocated(TraceEventMemoryOverhead::kTraceEvent));
  EXPECT_EQ(1u, overhead.GetCount(TraceEventMemoryOverhead::kStdString));
  EXPECT_EQ(1u, overhead.GetCount(
                    TraceEventMemoryOverhead::kConvertableToTraceFormat));

  // Nothing owned: only the record itself.
  TraceEvent plain;
  InitSimple(&plain, TRACE_EVENT_PHASE_BEGIN, 0);
  TraceEventMemoryOverhead plain_overhead;
  plain.EstimateTraceMemoryOverhead(&plain_overhead);
  EXPECT_EQ(1u, plain_overhead.GetCount(TraceEventMemoryOverhead::kTraceEvent));
  EXPECT_EQ(0u, plain_overhead.GetCount(TraceEventMemoryOverhead::kStdString));
}

TEST(TraceEventTest, DoubleValues) {
  EXPECT_EQ("1.0", DoubleAsJSON(1.0));
  EXPECT_EQ("-1.0", DoubleAsJSON(-1.0));
  EXPECT_EQ("0.0", DoubleAsJSON(0.0));
  EXPECT_EQ("0.5", DoubleAsJSON(0.5));
  EXPECT_EQ("-0.5", DoubleAsJSON(-0.5));
  EXPECT_EQ("1234.5", DoubleAsJSON(1234.5));
  EXPECT_EQ("1000.0", DoubleAsJSON(1e3));
  // An exponent form is kept as it is and gets no ".0".
  const std::string huge = DoubleAsJSON(1e300);
  EXPECT_NE(std::string::npos, huge.find("e+300")) << huge;
  EXPECT_EQ(std::string::npos, huge.find(".0")) << huge;
  EXPECT_EQ('1', huge[0]);
  const std::string tiny = DoubleAsJSON(-1.5e-7);
  EXPECT_EQ('-', tiny[0]);
  EXPECT_NE(std::string::npos, tiny.find("e-")) << tiny;

  // The shortest text reads back as the same double.
  for (double number : {0.1, 1.0 / 3.0, 2.0 / 3.0, 123456.789e-3,
                        std::numeric_limits<double>::max(),
                        std::numeric_limits<double>::denorm_min()}) {
    const std::string text = DoubleAsJSON(number);
    const char* end = nullptr;
    EXPECT_EQ(number, ParseDouble(text.c_str(), &end)) << text;
    EXPECT_EQ(text.c_str() + text.size(), end) << text;
  }
  EXPECT_EQ("0.1", DoubleAsJSON(0.1));

  EXPECT_EQ("\"NaN\"", DoubleAsJSON(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("\"Infinity\"",
            DoubleAsJSON(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("\"-Infinity\"",
            DoubleAsJSON(-std::numeric_limits<double>::infinity()));
}

TEST(TraceEventTest, OtherValues) {
  EXPECT_EQ("true", ValueAsJSON(TRACE_VALUE_TYPE_BOOL, 1));
  EXPECT_EQ("false", ValueAsJSON(TRACE_VALUE_TYPE_BOOL, 0));
  // Only the lowest bit counts.
  EXPECT_EQ("false", ValueAsJSON(TRACE_VALUE_TYPE_BOOL, 2));
  EXPECT_EQ("18446744073709551615", ValueAsJSON(TRACE_VALUE_TYPE_UINT, ~0ull));
  EXPECT_EQ("-9223372036854775808",
            ValueAsJSON(TRACE_VALUE_TYPE_INT, 0x8000000000000000ull));
  EXPECT_EQ("\"0xdeadbeef0\"",
            ValueAsJSON(TRACE_VALUE_TYPE_POINTER, 0xdeadbeef0ull));
  EXPECT_EQ("\"a\\\"b\\\\c\\n\"",
            ValueAsJSON(TRACE_VALUE_TYPE_STRING, AsValue("a\"b\\c\n")));
  EXPECT_EQ("\"x\"", ValueAsJSON(TRACE_VALUE_TYPE_COPY_STRING, AsValue("x")));
  EXPECT_EQ("\"NULL\"", ValueAsJSON(TRACE_VALUE_TYPE_STRING, 0));
  EXPECT_EQ("", ValueAsJSON(TRACE_VALUE_TYPE_CONVERTABLE, 1));
  EXPECT_EQ("", ValueAsJSON(99, 1));
}

TEST(TraceEventTest, ProcessAndThreadIds) {
  const int current = static_cast<int>(GetCurrentProcId());
  EXPECT_EQ(current, TraceEvent::GetProcessIdForJSON());

  TraceEvent event;
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, 0, nullptr, 0, 12);
  EXPECT_EQ(SimplePrefix('B', current, 12) + "}", ToJSON(event));

  // The stored id is a process id: the event names that process and no
  // thread.
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_HAS_PROCESS_ID,
             nullptr, 0, 4242);
  EXPECT_EQ(SimplePrefix('B', 4242, -1) + "}", ToJSON(event));

  // A process id of 0 is no process id.
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_HAS_PROCESS_ID,
             nullptr, 0, 0);
  EXPECT_EQ(SimplePrefix('B', current, 0) + "}", ToJSON(event));

  TraceEvent::SetProcessIdForJSON(31337);
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, 0, nullptr, 0, 12);
  EXPECT_EQ(SimplePrefix('B', 31337, 12) + "}", ToJSON(event));
  TraceEvent::SetProcessIdForJSON(current);
}

TEST(TraceEventTest, IdFlagsAndScope) {
  const int pid = TraceEvent::GetProcessIdForJSON();
  const std::string prefix = SimplePrefix('B', pid, 7);
  TraceEvent event;

  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_HAS_ID, "sc",
             0x2a);
  EXPECT_EQ(prefix + ",\"scope\":\"sc\",\"id\":\"0x2a\"}", ToJSON(event));

  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_HAS_LOCAL_ID,
             nullptr, 0xff);
  EXPECT_EQ(prefix + ",\"id2\":{\"local\":\"0xff\"}}", ToJSON(event));

  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_HAS_GLOBAL_ID,
             "g", 0x10);
  EXPECT_EQ(prefix + ",\"scope\":\"g\",\"id2\":{\"global\":\"0x10\"}}",
            ToJSON(event));

  // Two kinds of id at once name no id, but the scope is still written.
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN,
             TRACE_EVENT_FLAG_HAS_GLOBAL_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID,
             "both", 1);
  EXPECT_EQ(prefix + ",\"scope\":\"both\"}", ToJSON(event));
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN,
             TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID, nullptr,
             1);
  EXPECT_EQ(prefix + "}", ToJSON(event));

  // Without any id flag the scope and id are not written.
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_MANGLE_ID, "sc",
             5);
  EXPECT_EQ(prefix + "}", ToJSON(event));
}

TEST(TraceEventTest, FlowBindingAndInstantScopes) {
  const int pid = TraceEvent::GetProcessIdForJSON();
  TraceEvent event;
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN,
             TRACE_EVENT_FLAG_BIND_TO_ENCLOSING | TRACE_EVENT_FLAG_FLOW_IN |
                 TRACE_EVENT_FLAG_FLOW_OUT,
             nullptr, 0, 7, 0xabc);
  EXPECT_EQ(SimplePrefix('B', pid, 7) +
                ",\"bp\":\"e\",\"bind_id\":\"0xabc\",\"flow_in\":true,"
                "\"flow_out\":true}",
            ToJSON(event));
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, TRACE_EVENT_FLAG_FLOW_OUT,
             nullptr, 0, 7, 1);
  EXPECT_EQ(
      SimplePrefix('B', pid, 7) + ",\"bind_id\":\"0x1\",\"flow_out\":true}",
      ToJSON(event));
  // A bind id without a flow flag is not written.
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, 0, nullptr, 0, 7, 1);
  EXPECT_EQ(SimplePrefix('B', pid, 7) + "}", ToJSON(event));

  const struct {
    unsigned int flags;
    const char* letter;
  } kScopes[] = {
      {TRACE_EVENT_SCOPE_GLOBAL, "g"},
      {TRACE_EVENT_SCOPE_PROCESS, "p"},
      {TRACE_EVENT_SCOPE_THREAD, "t"},
      {TRACE_EVENT_FLAG_SCOPE_MASK, "?"},
  };
  for (const auto& scope : kScopes) {
    InitSimple(&event, TRACE_EVENT_PHASE_INSTANT, scope.flags);
    EXPECT_EQ(SimplePrefix('I', pid, 7) + ",\"s\":\"" + scope.letter + "\"}",
              ToJSON(event));
  }
}

TEST(TraceEventTest, ArgumentFilters) {
  const char* names[2] = {"keep", "drop"};
  const unsigned char types[2] = {TRACE_VALUE_TYPE_INT, TRACE_VALUE_TYPE_INT};
  const unsigned long long values[2] = {1, 2};
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   TestCategoryState(), "ev", nullptr, 0, 0, 2, names, types,
                   values, nullptr, TRACE_EVENT_FLAG_NONE);

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

  const ArgumentFilterPredicate by_name =
      BindRepeating([](const char*, const char*,
                       ArgumentNameFilterPredicate* arg_name_filter) {
        *arg_name_filter = BindRepeating(
            [](const char* arg_name) { return strcmp(arg_name, "drop") != 0; });
        return true;
      });
  EXPECT_NE(std::string::npos,
            ToJSON(event, by_name)
                .find(",\"args\":{\"keep\":1,\"drop\":\"__stripped__\"}"));

  // An event without arguments is not offered to the filter.
  seen.clear();
  InitSimple(&event, TRACE_EVENT_PHASE_BEGIN, 0);
  EXPECT_NE(std::string::npos, ToJSON(event, reject_all).find("\"args\":{}"));
  EXPECT_EQ("", seen);
}

TEST(TraceEventTest, CategoryNameAndPrettyPrint) {
  TraceCategory* toplevel = CategoryRegistry::GetCategoryByName("toplevel");
  ASSERT_NE(nullptr, toplevel);
  int destroyed = 0;
  const char* names[2] = {"n", "c"};
  const unsigned char types[2] = {TRACE_VALUE_TYPE_DOUBLE,
                                  TRACE_VALUE_TYPE_CONVERTABLE};
  const unsigned long long values[2] = {AsValue(2.0), 0};
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {
      nullptr, std::make_unique<TestConvertable>("[3]", &destroyed)};
  TraceEvent event;
  event.Initialize(1, TimeTicks(), ThreadTicks(), TRACE_EVENT_PHASE_BEGIN,
                   toplevel->state_ptr(), "Pretty", nullptr, 0, 0, 2, names,
                   types, values, convertables, TRACE_EVENT_FLAG_NONE);
  EXPECT_STREQ("toplevel", event.category_group_name());
  std::ostringstream out;
  event.AppendPrettyPrinted(&out);
  EXPECT_EQ("Pretty[toplevel], {n:2.0, c:[3]}", out.str());

  TraceEvent bare;
  InitSimple(&bare, TRACE_EVENT_PHASE_BEGIN, 0);
  std::ostringstream bare_out;
  bare.AppendPrettyPrinted(&bare_out);
  EXPECT_EQ("ev[test.cat]", bare_out.str());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
