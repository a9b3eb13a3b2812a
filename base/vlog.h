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
  // list of "pattern=level" pairs. The global maximum lives in
  // |*min_log_level| as its negation, where the log filter reads it, so a
  // later change of the minimum log level changes the global maximum too.
  // |min_log_level| must outlive this object.
  VlogInfo(const std::string& v_switch,
           const std::string& vmodule_switch,
           int* min_log_level);
  ~VlogInfo();

  VlogInfo(const VlogInfo&) = delete;
  VlogInfo& operator=(const VlogInfo&) = delete;

  // The level for |file| (a source path as __FILE__ gives it): that of the
  // first matching vmodule pattern, else the global maximum as it is now.
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
  int* const min_log_level_;
};

// Whether |string| matches |vlog_pattern|: "?" is any one character, "*" any
// run of characters, and either slash matches either slash.
bool MatchVlogPattern(StringPiece string, StringPiece vlog_pattern);

}  // namespace base

#endif  // BASE_VLOG_H_
