#ifndef COMPONENTS_PREFS_WRITABLE_PREF_STORE_H_
#define COMPONENTS_PREFS_WRITABLE_PREF_STORE_H_

#include <stdint.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "components/prefs/pref_store.h"

// A PrefStore whose values can be changed.
class WritablePrefStore : public PrefStore {
 public:
  // Flags of a change.
  enum PrefWriteFlags : uint32_t {
    DEFAULT_PREF_WRITE_FLAGS = 0,
    // The change may wait for a later write instead of starting one.
    LOSSY_PREF_WRITE_FLAG = 1 << 1,
  };
  static constexpr uint32_t kLossyWrite = LOSSY_PREF_WRITE_FLAG;

  WritablePrefStore() = default;

  // Stores |value| under |key| and notifies observers.
  virtual void SetValue(const std::string& key,
                        std::unique_ptr<base::Value> value,
                        uint32_t flags) = 0;
  virtual void RemoveValue(const std::string& key, uint32_t flags) = 0;
  // A caller that changes the value must call NotifyValueChanged.
  virtual bool GetMutableValue(const std::string& key,
                               base::Value** result) = 0;
  virtual void NotifyValueChanged(const std::string& key, uint32_t flags) = 0;
  // |path_components|: the key paths inside the value that changed, each as
  // its sequence of keys. By default the whole value counts as changed.
  virtual void NotifySubValuesChanged(
      const std::string& key,
      std::set<std::vector<std::string>> path_components,
      uint32_t flags);
  // As SetValue, without telling observers.
  virtual void SetValueWithoutNotification(const std::string& key,
                                           std::unique_ptr<base::Value> value,
                                           uint32_t flags) = 0;

 protected:
  ~WritablePrefStore() override = default;

 private:
  DISALLOW_COPY_AND_ASSIGN(WritablePrefStore);
};

#endif  // COMPONENTS_PREFS_WRITABLE_PREF_STORE_H_
