#ifndef BASE_VLOG_H_
#define BASE_VLOG_H_

#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

// The verbose-logging levels in force: one global maximum from the "v"
// switch and per-module levels from the "vmodule" switch. Made once by
// logging set-up and never freed.
class VlogInfo {
 public:
  static const int kDefaultVlogLevel;

  // |v_switch| is a decimal level; |vmodule_switch| is a comma-separated
  // list of "pattern=level" pairs. A valid |v_switch| is also stored in
  // |*min_log_level| as its negation, so that the log filter lets verbose
  // lines through. The global maximum itself is kept here: a later change
  // of the minimum log level (to quieten ordinary lines) must not change
  // which verbose statements are on.
  VlogInfo(const std::string& v_switch,
           const std::string& vmodule_switch,
           int* min_log_level);
  ~VlogInfo();

  VlogInfo(const VlogInfo&) = delete;
  VlogInfo& operator=(const VlogInfo&) = delete;

  // The level for |file| (a source path as __FILE__ gives it): that of the
  // first matching vmodule pattern, else the global maximum.
  int GetVlogLevel(StringPiece file) const;

 private:
  struct VmodulePattern {
    enum MatchTarget { MATCH_MODULE, MATCH_FILE };

    explicit VmodulePattern(const std::string& pattern);
    VmodulePattern();

    std::string pattern;
    int vlog_level;
    MatchTarget match_target;
  };

  std::vector<VmodulePattern> vmodule_levels_;
  int max_vlog_level_;
};

// Whether |string| matches |vlog_pattern|: "?" is any one character, "*" any
// run of characters, and either slash matches either slash.
bool MatchVlogPattern(StringPiece string, StringPiece vlog_pattern);

}  // namespace base

#endif  // BASE_VLOG_H_
