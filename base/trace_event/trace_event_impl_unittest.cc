#include "base/trace_event/trace_event_impl.h"

#include <stdint.h>
#include <string.h>

#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/json/json_reader.h"
#include "base/process/process_handle.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/category_registry.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class TestConvertable : public ConvertableToTraceFormat {
 public:
  explicit TestConvertable(int* destroyed) : destroyed_(destroyed) {}
  ~TestConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override { *out += "[1]"; }

 private:
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

// Every test event sits in this category, held outside the registry.
TraceCategory g_test_category = {0, 0, "test.cat"};

// What an event is made of; the defaults give Prefix() below.
struct EventParts {
  char phase = TRACE_EVENT_PHASE_BEGIN;
  unsigned int flags = TRACE_EVENT_FLAG_NONE;
  const char* scope = nullptr;
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
                    parts.phase, g_test_category.state_ptr(), "ev", parts.scope,
                    0x2a, 0xabc, static_cast<int>(parts.arg_names.size()),
                    parts.arg_names.data(), parts.arg_types.data(),
                    parts.arg_values.data(), parts.convertables, parts.flags);
}

std::string ToJSON(const TraceEvent& event,
                   const ArgumentFilterPredicate& filter = {}) {
  std::string out;
  event.AppendAsJSON(&out, filter);
  return out;
}

// The JSON text up to the arguments.
std::string Prefix(char phase = 'B',
                   const char* args = "{}",
                   int pid = TraceEvent::GetProcessIdForJSON(),
                   int tid = 7) {
  return StringPrintf(
      "{\"pid\":%i,\"tid\":%i,\"ts\":1000,\"ph\":\"%c\",\"cat\":\"test.cat\","
      "\"name\":\"ev\",\"args\":%s",
      pid, tid, phase, args);
}

TEST(TraceEventTest, ArgumentsOwnershipAndCopies) {
  int destroyed = 0;
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {
      nullptr, std::make_unique<TestConvertable>(&destroyed)};
  char text[] = "value";
  EventParts parts;
  parts.flags = TRACE_EVENT_FLAG_COPY;
  parts.arg_names = {"s", "c", "third"};
  parts.arg_types = {TRACE_VALUE_TYPE_STRING, TRACE_VALUE_TYPE_CONVERTABLE,
                     TRACE_VALUE_TYPE_UINT};
  parts.arg_values = {AsValue(text), 12, 9};
  parts.convertables = convertables;
  auto source = std::make_unique<TraceEvent>();
  Init(source.get(), parts);
  // Two arguments are kept; the convertable is taken, its value word 0.
  // With the copy flag the string becomes a copied one; the block holds
  // name, argument names and string, nothing for the null scope.
  EXPECT_EQ(nullptr, convertables[1]);
  EXPECT_EQ(0u, source->arg_value(1).as_uint);
  EXPECT_EQ(TRACE_VALUE_TYPE_COPY_STRING, source->arg_type(0));
  EXPECT_EQ(3u + 2u + 2u + 6u, source->parameter_copy_storage()->size());
  strcpy(text, "XXXXX");

  // MoveFrom takes the copies and the convertable along; Reset drops them.
  TraceEvent event;
  event.MoveFrom(std::move(source));
  EXPECT_EQ(Prefix('B', "{\"s\":\"value\",\"c\":[1]}}"), ToJSON(event));
  EXPECT_EQ(0, destroyed);
  event.Reset();
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(nullptr, event.parameter_copy_storage());

  // Without the flag a plain string keeps its pointer, a copied string is
  // still copied (a null one takes no room), and an unused slot is type 2.
  const char* copy_me = "copy";
  parts.flags = TRACE_EVENT_FLAG_NONE;
  parts.arg_types = {TRACE_VALUE_TYPE_STRING, TRACE_VALUE_TYPE_COPY_STRING};
  parts.arg_values = {AsValue(text), AsValue(copy_me)};
  Init(&event, parts);
  EXPECT_EQ(text, event.arg_value(0).as_string);
  EXPECT_EQ(5u, event.parameter_copy_storage()->size());
  EXPECT_NE(copy_me, event.arg_value(1).as_string);
  parts.arg_values[1] = 0;
  Init(&event, parts);
  EXPECT_EQ(nullptr, event.parameter_copy_storage());
  parts.arg_names.resize(1);
  Init(&event, parts);
  EXPECT_EQ(nullptr, event.arg_name(1));
  EXPECT_EQ(TRACE_VALUE_TYPE_UINT, event.arg_type(1));
  EXPECT_EQ(0u, event.arg_value(1).as_uint);
}

TEST(TraceEventTest, Durations) {
  EventParts parts;
  parts.phase = TRACE_EVENT_PHASE_COMPLETE;
  TraceEvent event;
  Init(&event, parts);
  EXPECT_EQ(Prefix('X') + "}", ToJSON(event));  // Duration still unset.
  event.UpdateDuration(TimeTicks::FromInternalValue(1250),
                       ThreadTicks::FromInternalValue(99));
  EXPECT_EQ(Prefix('X') + ",\"dur\":250}", ToJSON(event));

  parts.thread_timestamp = 40;
  Init(&event, parts);
  event.UpdateDuration(TimeTicks::FromInternalValue(1003),
                       ThreadTicks::FromInternalValue(42));
  EXPECT_EQ(Prefix('X') + ",\"dur\":3,\"tdur\":2,\"tts\":40}", ToJSON(event));
  // A reused slot shows no thread duration of its earlier event.
  event.Reset();
  Init(&event, parts);
  EXPECT_EQ(Prefix('X') + ",\"tts\":40}", ToJSON(event));
}

TEST(TraceEventTest, ValueForms) {
  const struct {
    unsigned char type;
    unsigned long long raw;
    const char* expected;
  } kCases[] = {
      // Whole numbers keep a ".0"; an exponent form is kept as it is.
      {TRACE_VALUE_TYPE_DOUBLE, AsValue(1.0), "1.0"},
      {TRACE_VALUE_TYPE_DOUBLE, AsValue(-0.5), "-0.5"},
      {TRACE_VALUE_TYPE_DOUBLE, AsValue(1e300), "1e+300"},
      {TRACE_VALUE_TYPE_DOUBLE, AsValue(-1.5e-7), "-1.5e-07"},
      {TRACE_VALUE_TYPE_DOUBLE,
       AsValue(std::numeric_limits<double>::quiet_NaN()), "\"NaN\""},
      {TRACE_VALUE_TYPE_DOUBLE,
       AsValue(-std::numeric_limits<double>::infinity()), "\"-Infinity\""},
      {TRACE_VALUE_TYPE_BOOL, 2, "false"},
      {TRACE_VALUE_TYPE_INT, ~0ull, "-1"},
      {TRACE_VALUE_TYPE_POINTER, 0xdeadbeef0ull, "\"0xdeadbeef0\""},
      {TRACE_VALUE_TYPE_COPY_STRING, AsValue("a\"b\n"), "\"a\\\"b\\n\""},
      {TRACE_VALUE_TYPE_STRING, 0, "\"NULL\""},
      {TRACE_VALUE_TYPE_CONVERTABLE, 1, ""},
  };
  for (const auto& c : kCases) {
    TraceValue value;
    value.as_uint = c.raw;
    std::string out;
    TraceEvent::AppendValueAsJSON(c.type, value, &out);
    EXPECT_EQ(c.expected, out);
  }
}

TEST(TraceEventTest, ProcessAndThreadIds) {
  EventParts parts;
  parts.flags = TRACE_EVENT_FLAG_HAS_PROCESS_ID;
  parts.thread_id = 4242;
  TraceEvent event;
  Init(&event, parts);
  EXPECT_EQ(Prefix('B', "{}", 4242, -1) + "}", ToJSON(event));
  // A process id of 0 is none: the reported process, the id as thread.
  parts.thread_id = 0;
  Init(&event, parts);
  TraceEvent::SetProcessIdForJSON(31337);
  EXPECT_EQ(Prefix('B', "{}", 31337, 0) + "}", ToJSON(event));
  TraceEvent::ResetProcessIdForJSONForTesting();
  EXPECT_EQ(Prefix('B', "{}", static_cast<int>(GetCurrentProcId()), 0) + "}",
            ToJSON(event));
}

TEST(TraceEventTest, IdFlagsScopesAndFlows) {
  const struct {
    char phase;
    unsigned int flags;
    const char* scope;
    const char* expected;
  } kCases[] = {
      {'B', TRACE_EVENT_FLAG_HAS_ID, "sc",
       ",\"scope\":\"sc\",\"id\":\"0x2a\"}"},
      {'B', TRACE_EVENT_FLAG_HAS_LOCAL_ID, nullptr,
       ",\"id2\":{\"local\":\"0x2a\"}}"},
      {'B', TRACE_EVENT_FLAG_HAS_GLOBAL_ID, nullptr,
       ",\"id2\":{\"global\":\"0x2a\"}}"},
      // Two kinds of id at once: no id, but the scope.
      {'B', TRACE_EVENT_FLAG_HAS_GLOBAL_ID | TRACE_EVENT_FLAG_HAS_LOCAL_ID,
       "both", ",\"scope\":\"both\"}"},
      {'B', TRACE_EVENT_FLAG_MANGLE_ID, "sc", "}"},
      {'B',
       TRACE_EVENT_FLAG_ASYNC_TTS | TRACE_EVENT_FLAG_BIND_TO_ENCLOSING |
           TRACE_EVENT_FLAG_FLOW_IN | TRACE_EVENT_FLAG_FLOW_OUT,
       nullptr,
       ", \"use_async_tts\":1,\"bp\":\"e\",\"bind_id\":\"0xabc\","
       "\"flow_in\":true,\"flow_out\":true}"},
      {'I', TRACE_EVENT_SCOPE_GLOBAL, nullptr, ",\"s\":\"g\"}"},
      {'I', TRACE_EVENT_SCOPE_PROCESS, nullptr, ",\"s\":\"p\"}"},
      {'I', TRACE_EVENT_SCOPE_THREAD, nullptr, ",\"s\":\"t\"}"},
      {'I', TRACE_EVENT_FLAG_SCOPE_MASK, nullptr, ",\"s\":\"?\"}"},
  };
  for (const auto& c : kCases) {
    EventParts parts;
    parts.phase = c.phase;
    parts.flags = c.flags;
    parts.scope = c.scope;
    TraceEvent event;
    Init(&event, parts);
    EXPECT_EQ(Prefix(c.phase) + c.expected, ToJSON(event));
  }
}

TEST(TraceEventTest, ArgumentFiltersAndPrettyPrint) {
  EventParts parts;
  parts.arg_names = {"keep", "drop"};
  parts.arg_types = {TRACE_VALUE_TYPE_INT, TRACE_VALUE_TYPE_BOOL};
  parts.arg_values = {1, 1};
  TraceEvent event;
  Init(&event, parts);
  // Asked with the category and event names; keeps the arguments of
  // "test.cat" but names one to strip.
  const ArgumentFilterPredicate filter = BindRepeating(
      [](const char* category, const char*, ArgumentNameFilterPredicate* arg) {
        *arg = BindRepeating([](const char* a) { return *a != 'd'; });
        return strcmp(category, "test.cat") == 0;
      });
  EXPECT_EQ(Prefix('B', "{\"keep\":1,\"drop\":\"__stripped__\"}}"),
            ToJSON(event, filter));
  std::ostringstream out;
  event.AppendPrettyPrinted(&out);
  EXPECT_EQ("ev[test.cat], {keep:1, drop:true}", out.str());
}

// Names are text from callers like any value: quotes, backslashes and
// control characters in them still give JSON the project's reader takes.
TEST(TraceEventTest, NamesWithQuotesAndControlCharactersStayJSON) {
  static TraceCategory odd_category = {0, 0, "cat\"\\\x01"};
  const char* const kName = "name\"\\\n";
  const char* const kScope = "scope\"\\\t\x1f";
  const char* arg_names[2] = {"arg\"\\\x02", "\"}{"};
  const unsigned char arg_types[2] = {TRACE_VALUE_TYPE_STRING,
                                      TRACE_VALUE_TYPE_INT};
  const unsigned long long arg_values[2] = {AsValue("v\"\\"), 5};
  for (const unsigned int copy : {0u, unsigned{TRACE_EVENT_FLAG_COPY}}) {
    SCOPED_TRACE(copy ? "copied names" : "kept names");
    TraceEvent event;
    event.Initialize(7, TimeTicks::FromInternalValue(1000), ThreadTicks(),
                     TRACE_EVENT_PHASE_BEGIN, odd_category.state_ptr(), kName,
                     kScope, 0x2a, 0, 2, arg_names, arg_types, arg_values,
                     nullptr, TRACE_EVENT_FLAG_HAS_ID | copy);
    const std::string json = ToJSON(event);
    std::unique_ptr<Value> read = JSONReader::Read(json);
    ASSERT_TRUE(read) << json;
    ASSERT_TRUE(read->is_dict()) << json;
    const Value* cat = read->FindPath({"cat"});
    ASSERT_TRUE(cat && cat->is_string()) << json;
    EXPECT_EQ("cat\"\\\x01", cat->GetString());
    const Value* name = read->FindPath({"name"});
    ASSERT_TRUE(name && name->is_string()) << json;
    EXPECT_EQ(kName, name->GetString());
    const Value* scope = read->FindPath({"scope"});
    ASSERT_TRUE(scope && scope->is_string()) << json;
    EXPECT_EQ(kScope, scope->GetString());
    const Value* args = read->FindPath({"args"});
    ASSERT_TRUE(args && args->is_dict()) << json;
    const Value* first = args->FindPath({arg_names[0]});
    ASSERT_TRUE(first && first->is_string()) << json;
    EXPECT_EQ("v\"\\", first->GetString());
    const Value* second = args->FindPath({arg_names[1]});
    ASSERT_TRUE(second && second->is_int()) << json;
    EXPECT_EQ(5, second->GetInt());
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace base
