#include "components/prefs/writable_pref_store.h"

void WritablePrefStore::NotifySubValuesChanged(
    const std::string& key,
    std::set<std::vector<std::string>> path_components,
    uint32_t flags) {
  NotifyValueChanged(key, flags);
}
