#ifndef COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_
#define COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_

#include "base/callback.h"
#include "components/prefs/writable_pref_store.h"

// A WritablePrefStore kept in a file.
class PersistentPrefStore : public WritablePrefStore {
 public:
  enum PrefReadError {
    kReadErrorNone = 0,
    // The text did not parse; the file was moved aside.
    kReadErrorJsonParse = 1,
    // The text parsed but is no dictionary.
    kReadErrorJsonType = 2,
    kReadErrorAccessDenied = 3,
    kReadErrorFileOther = 4,
    kReadErrorFileLocked = 5,
    kReadErrorNoFile = 6,
    // As kReadErrorJsonParse, and an earlier broken file was already aside.
    kReadErrorJsonRepeat = 7,
    // ReadPrefs() returned while a filter still works on the result.
    kReadErrorAsyncIncomplete = 10,
  };

  // Told about a read that did not go cleanly.
  class ReadErrorDelegate {
   public:
    virtual ~ReadErrorDelegate() = default;
    virtual void OnError(PrefReadError error) = 0;
  };

  PersistentPrefStore() = default;

  // Changes then live in memory only.
  virtual bool IsReadOnly() const = 0;
  virtual PrefReadError GetReadError() const = 0;
  // Reads on the calling thread.
  virtual PrefReadError ReadPrefs() = 0;
  // Reads elsewhere; observers hear OnInitializationCompleted. Takes
  // |error_delegate| (may be null).
  virtual void ReadPrefsAsync(ReadErrorDelegate* error_delegate) = 0;
  // Starts any pending write now; |done_callback| (may be null) runs on the
  // calling sequence afterwards. By default it only posts the callback.
  virtual void CommitPendingWrite(base::OnceClosure done_callback);
  // Starts a write when only lossy changes wait for one.
  virtual void ScheduleLossyWrites() {}
  virtual void ClearUserValues() {}
  virtual void OnFileDeleted() {}

 protected:
  ~PersistentPrefStore() override = default;

 private:
  DISALLOW_COPY_AND_ASSIGN(PersistentPrefStore);
};

#endif  // COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_
