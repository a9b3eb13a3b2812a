#include "base/vlog.h"

#include <stddef.h>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace base {

const int VlogInfo::kDefaultVlogLevel = 0;

VlogInfo::VmodulePattern::VmodulePattern(const std::string& pattern)
    : pattern(pattern),
      vlog_level(VlogInfo::kDefaultVlogLevel),
      match_target(MATCH_MODULE) {
  // A pattern with a directory part is matched against the whole path.
  if (pattern.find_first_of("\\/") != std::string::npos)
    match_target = MATCH_FILE;
}

VlogInfo::VmodulePattern::VmodulePattern()
    : vlog_level(VlogInfo::kDefaultVlogLevel), match_target(MATCH_MODULE) {}

VlogInfo::VlogInfo(const std::string& v_switch,
                   const std::string& vmodule_switch,
                   int* min_log_level)
    : min_log_level_(min_log_level) {
  int vlog_level = 0;
  if (!v_switch.empty() && StringToInt(v_switch, &vlog_level)) {
    // Verbose levels are negative log severities; no clamping.
    *min_log_level_ = -vlog_level;
  }

  StringPairs kv_pairs;
  // Pairs without "=" or without a level still count, with the partial
  // result (or 0) as their level.
  SplitStringIntoKeyValuePairs(vmodule_switch, '=', ',', &kv_pairs);
  for (const auto& pair : kv_pairs) {
    VmodulePattern pattern(pair.first);
    StringToInt(pair.second, &pattern.vlog_level);
    vmodule_levels_.push_back(pattern);
  }
}

VlogInfo::~VlogInfo() = default;

namespace {

// The module of a source path: its base name without the extension and
// without a trailing "-inl".
StringPiece GetModule(StringPiece file) {
  StringPiece module(file);
  const size_t last_slash_pos = module.find_last_of("\\/");
  if (last_slash_pos != StringPiece::npos)
    module.remove_prefix(last_slash_pos + 1);
  const size_t extension_start = module.rfind('.');
  module = module.substr(0, extension_start);
  static const char kInlSuffix[] = "-inl";
  static const size_t kInlSuffixLen = sizeof(kInlSuffix) - 1;
  if (module.ends_with(kInlSuffix))
    module.remove_suffix(kInlSuffixLen);
  return module;
}

}  // namespace

int VlogInfo::GetVlogLevel(StringPiece file) const {
  if (!vmodule_levels_.empty()) {
    StringPiece module(GetModule(file));
    for (const VmodulePattern& it : vmodule_levels_) {
      StringPiece target(
          (it.match_target == VmodulePattern::MATCH_FILE) ? file : module);
      if (MatchVlogPattern(target, it.pattern))
        return it.vlog_level;
    }
  }
  // Read on every query: a later change of the minimum log level (the
  // crash reporter sets its own after start-up) moves the maximum with it.
  return -*min_log_level_;
}

bool MatchVlogPattern(StringPiece string, StringPiece vlog_pattern) {
  StringPiece p(vlog_pattern);
  StringPiece s(string);
  // Consume characters until the next star.
  while (!p.empty() && !s.empty() && (p[0] != '*')) {
    switch (p[0]) {
      // A slash (forward or back) must match a slash (forward or back).
      case '/':
      case '\\':
        if ((s[0] != '/') && (s[0] != '\\'))
          return false;
        break;

      // A '?' matches anything.
      case '?':
        break;

      // Anything else must match literally.
      default:
        if (p[0] != s[0])
          return false;
        break;
    }
    p.remove_prefix(1);
    s.remove_prefix(1);
  }

  // An empty pattern here matches only an empty string.
  if (p.empty())
    return s.empty();

  // Coalesce runs of consecutive stars. There should be at least one.
  while (!p.empty() && (p[0] == '*'))
    p.remove_prefix(1);

  // Since we moved past the stars, an empty pattern here matches anything.
  if (p.empty())
    return true;

  // Since we moved past the stars and p is non-empty, if some non-empty
  // substring of s matches p, then we ourselves match.
  while (!s.empty()) {
    if (MatchVlogPattern(s, p))
      return true;
    s.remove_prefix(1);
  }

  // Otherwise, we couldn't find a match.
  return false;
}

}  // namespace base
