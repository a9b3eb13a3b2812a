#include "components/prefs/pref_store.h"

void PrefStore::AddObserver(PrefStoreObserver* observer) {}

void PrefStore::RemoveObserver(PrefStoreObserver* observer) {}

bool PrefStore::HasObservers() const {
  return false;
}

bool PrefStore::IsInitialized() const {
  return true;
}

PrefStore::~PrefStore() = default;
