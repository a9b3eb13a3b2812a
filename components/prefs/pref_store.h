#ifndef COMPONENTS_PREFS_PREF_STORE_H_
#define COMPONENTS_PREFS_PREF_STORE_H_

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/values.h"

// Hears about the values of a PrefStore.
class PrefStoreObserver {
 public:
  virtual void OnPrefValueChanged(const std::string& key) = 0;
  // Once, when the store has read its values (|succeeded| false when it
  // could not start at all).
  virtual void OnInitializationCompleted(bool succeeded) = 0;

 protected:
  virtual ~PrefStoreObserver() = default;
};

// Holds preference values under dotted key paths. Reference-counted by its
// users on one sequence, so the count is not atomic.
class PrefStore {
 public:
  using Observer = PrefStoreObserver;

  PrefStore() = default;

  void AddRef() const { ++ref_count_; }
  void Release() const {
    if (--ref_count_ == 0)
      delete this;
  }
  bool HasOneRef() const { return ref_count_ == 1; }

  virtual void AddObserver(PrefStoreObserver* observer);
  virtual void RemoveObserver(PrefStoreObserver* observer);
  virtual bool HasObservers() const;
  virtual bool IsInitialized() const;
  // False when |key| has no value; |result| may be null.
  virtual bool GetValue(const std::string& key,
                        const base::Value** result) const = 0;
  virtual std::unique_ptr<base::DictionaryValue> GetAllValues() const = 0;

 protected:
  virtual ~PrefStore();

 private:
  mutable int ref_count_ = 0;

  DISALLOW_COPY_AND_ASSIGN(PrefStore);
};

#endif  // COMPONENTS_PREFS_PREF_STORE_H_
