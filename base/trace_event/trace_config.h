#ifndef BASE_TRACE_EVENT_TRACE_CONFIG_H_
#define BASE_TRACE_EVENT_TRACE_CONFIG_H_

#include <stdint.h>

#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/strings/string_piece.h"
#include "base/trace_event/trace_config_category_filter.h"
#include "base/values.h"

namespace base {
namespace trace_event {

// What the trace log records: a record mode, two option flags, the category
// filter, the memory dump settings and the event filter configurations.
class TraceConfig {
 public:
  enum TraceRecordMode : int32_t {
    RECORD_UNTIL_FULL = 0,
    RECORD_CONTINUOUSLY,
    RECORD_AS_MUCH_AS_POSSIBLE,
    ECHO_TO_CONSOLE,
  };

  struct MemoryDumpConfig {
    struct Trigger {
      uint32_t min_time_between_dumps_ms = 0;
      uint32_t level_of_detail = 0;
      uint32_t trigger_type = 0;
    };
    static constexpr size_t kDefaultBreakdownThresholdBytes = 1024;

    void Clear();

    std::set<uint32_t> allowed_dump_modes;
    std::vector<Trigger> triggers;
    size_t breakdown_threshold_bytes = kDefaultBreakdownThresholdBytes;
  };

  // One event filter: which predicate makes it, which categories it sees
  // and its arguments.
  class EventFilterConfig {
   public:
    explicit EventFilterConfig(const std::string& predicate_name);
    EventFilterConfig(const EventFilterConfig& other);
    EventFilterConfig& operator=(const EventFilterConfig& other);
    ~EventFilterConfig();

    const std::string& predicate_name() const { return predicate_name_; }
    const TraceConfigCategoryFilter& category_filter() const {
      return category_filter_;
    }
    void SetCategoryFilter(const TraceConfigCategoryFilter& category_filter);
    // Takes |args|, a dictionary.
    void SetArgs(std::unique_ptr<DictionaryValue> args);

    bool IsCategoryGroupEnabled(StringPiece category_group_name) const;
    // The string elements of the list under |key| into |out_set|; false
    // when there is no such list.
    bool GetArgAsSet(const char* key,
                     std::unordered_set<std::string>* out_set) const;

   private:
    std::string predicate_name_;
    TraceConfigCategoryFilter category_filter_;
    std::unique_ptr<DictionaryValue> args_;
  };
  using EventFilters = std::vector<EventFilterConfig>;

  // Record until full, options off, no patterns: every category that is
  // not off by default is enabled.
  TraceConfig();
  TraceConfig(const TraceConfig& other);
  TraceConfig& operator=(const TraceConfig& other);
  ~TraceConfig();

  bool IsCategoryGroupEnabled(StringPiece category_group_name) const;
  void Clear();

  TraceRecordMode GetTraceRecordMode() const { return record_mode_; }
  void SetTraceRecordMode(TraceRecordMode mode) { record_mode_ = mode; }
  // Option flag bit 0, for system-wide trace output; nothing here reads it.
  bool IsSystemTraceEnabled() const { return (option_flags_ & 1) != 0; }
  // Option flag bit 1, for filtering arguments on output.
  bool IsArgumentFilterEnabled() const { return (option_flags_ & 2) != 0; }
  void EnableSystemTrace() { option_flags_ |= 1; }
  void EnableArgumentFilter() { option_flags_ |= 2; }

  const TraceConfigCategoryFilter& category_filter() const {
    return category_filter_;
  }
  TraceConfigCategoryFilter* mutable_category_filter() {
    return &category_filter_;
  }
  const MemoryDumpConfig& memory_dump_config() const {
    return memory_dump_config_;
  }
  const EventFilters& event_filters() const { return event_filters_; }
  void SetEventFilters(const EventFilters& filter_configs) {
    event_filters_ = filter_configs;
  }

 private:
  TraceRecordMode record_mode_ = RECORD_UNTIL_FULL;
  uint8_t option_flags_ = 0;
  TraceConfigCategoryFilter category_filter_;
  MemoryDumpConfig memory_dump_config_;
  EventFilters event_filters_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_CONFIG_H_
