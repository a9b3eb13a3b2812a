#include "base/features/feature_registry.h"

#include "base/command_line.h"
#include "base/lazy_instance.h"

namespace base {

namespace {

LazyInstance<FeatureRegistry>::Leaky g_feature_registry =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

const char kFeatureSwitchPrefix[] = "with-feature:";

FeatureState::FeatureState() : enabled_(false) {}

FeatureState::FeatureState(StringPiece name, bool enabled)
    : name_(name.data(), name.size()), enabled_(enabled) {}

FeatureState::FeatureState(const FeatureState& other) = default;

FeatureState& FeatureState::operator=(const FeatureState& other) = default;

FeatureState::~FeatureState() = default;

FeatureReader::~FeatureReader() = default;

FeatureRegistry::FeatureRegistry() = default;

FeatureRegistry::~FeatureRegistry() = default;

// static
FeatureRegistry* FeatureRegistry::GetInstance() {
  return g_feature_registry.Pointer();
}

void FeatureRegistry::RegisterFeature(StringPiece name,
                                      bool default_state,
                                      bool overridable) {
  FeatureEntry entry;
  entry.name.assign(name.data(), name.size());
  entry.default_state = default_state;
  entry.overridable = overridable;
  entries_.push_back(entry);
}

void FeatureRegistry::ApplyReader(FeatureReader* reader) {
  reader->Read(&overrides_);
}

bool FeatureRegistry::IsEnabled(StringPiece name) const {
  const FeatureEntry* entry = nullptr;
  for (const FeatureEntry& candidate : entries_) {
    if (StringPiece(candidate.name) == name) {
      entry = &candidate;
      break;
    }
  }
  if (!entry)
    return false;
  if (!entry->overridable)
    return entry->default_state;
  for (auto it = overrides_.rbegin(); it != overrides_.rend(); ++it) {
    if (StringPiece(it->name()) == name)
      return it->enabled();
  }
  return entry->default_state;
}

std::vector<FeatureState> FeatureRegistry::GetOverriddenStates() const {
  return overrides_;
}

ScopedFeatureRegistrySaver::ScopedFeatureRegistrySaver()
    : entries_(FeatureRegistry::GetInstance()->entries_),
      overrides_(FeatureRegistry::GetInstance()->overrides_) {}

ScopedFeatureRegistrySaver::~ScopedFeatureRegistrySaver() {
  FeatureRegistry::GetInstance()->entries_ = entries_;
  FeatureRegistry::GetInstance()->overrides_ = overrides_;
}

bool IsFeatureEnabled(StringPiece name) {
  return FeatureRegistry::GetInstance()->IsEnabled(name);
}

bool IsFeatureEnabledCopy(StringPiece name) {
  return FeatureRegistry::GetInstance()->IsEnabled(name);
}

std::string MakeFeatureSwitchName(StringPiece feature_name) {
  std::string switch_name(kFeatureSwitchPrefix);
  switch_name.append(feature_name.data(), feature_name.size());
  return switch_name;
}

void AppendFeatureSwitches(CommandLine* command_line) {
  for (const FeatureState& state :
       FeatureRegistry::GetInstance()->GetOverriddenStates()) {
    command_line->AppendSwitchASCII(MakeFeatureSwitchName(state.name()),
                                    state.enabled() ? "on" : "off");
  }
}

}  // namespace base
