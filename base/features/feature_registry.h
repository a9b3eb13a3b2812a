#ifndef BASE_FEATURES_FEATURE_REGISTRY_H_
#define BASE_FEATURES_FEATURE_REGISTRY_H_

#include <string>
#include <vector>

#include "base/macros.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine;

// One registered feature: its state when nothing overrides it, and whether
// outside settings may override it at all.
struct FeatureEntry {
  std::string name;
  bool default_state;
  bool overridable;
};

// One explicit state read from outside the process (a preference list or a
// feature switch).
class FeatureState {
 public:
  FeatureState();
  FeatureState(StringPiece name, bool enabled);
  FeatureState(const FeatureState& other);
  FeatureState& operator=(const FeatureState& other);
  ~FeatureState();

  const std::string& name() const { return name_; }
  bool enabled() const { return enabled_; }

 private:
  std::string name_;
  bool enabled_;
};

// A source of explicit feature states.
class FeatureReader {
 public:
  virtual ~FeatureReader();

  // Appends the states this reader knows to |states|, keeping what is there.
  virtual void Read(std::vector<FeatureState>* states) = 0;
};

// Answers whether a named feature is on. Registration and readers are
// applied on the main thread during start-up; afterwards the registry is
// only read, so it holds no lock.
class FeatureRegistry {
 public:
  FeatureRegistry();
  ~FeatureRegistry();

  // The process-wide registry; made on first use and never destroyed.
  static FeatureRegistry* GetInstance();

  // A name registered twice is kept twice; the first registration answers.
  void RegisterFeature(StringPiece name, bool default_state, bool overridable);

  // A reader applied later overrides the earlier ones for the same names.
  void ApplyReader(FeatureReader* reader);

  // False for a name that was never registered, whatever the overrides say.
  bool IsEnabled(StringPiece name) const;

  // The explicit states, oldest first.
  std::vector<FeatureState> GetOverriddenStates() const;

 private:
  friend class ScopedFeatureRegistrySaver;

  std::vector<FeatureEntry> entries_;
  std::vector<FeatureState> overrides_;

  DISALLOW_COPY_AND_ASSIGN(FeatureRegistry);
};

// Tests: puts the process-wide registry's registrations and explicit states
// back as they were when the saver was made.
class ScopedFeatureRegistrySaver {
 public:
  ScopedFeatureRegistrySaver();
  ~ScopedFeatureRegistrySaver();

 private:
  std::vector<FeatureEntry> entries_;
  std::vector<FeatureState> overrides_;

  DISALLOW_COPY_AND_ASSIGN(ScopedFeatureRegistrySaver);
};

// The feature-switch prefix; a switch "with-feature:NAME" with the value
// "on", "off" or nothing sets the feature NAME.
extern const char kFeatureSwitchPrefix[];

// IsEnabled on the process-wide registry.
bool IsFeatureEnabled(StringPiece name);
bool IsFeatureEnabledCopy(StringPiece name);

// "with-feature:" followed by |feature_name|.
std::string MakeFeatureSwitchName(StringPiece feature_name);

// Passes the process-wide registry's explicit states on to a child process:
// one feature switch per override, in the order read. Registered defaults
// are not written.
void AppendFeatureSwitches(CommandLine* command_line);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_REGISTRY_H_
