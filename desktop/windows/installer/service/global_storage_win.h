#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_GLOBAL_STORAGE_WIN_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_GLOBAL_STORAGE_WIN_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Results of GlobalStorageWin::Set and Get.
enum GlobalStorageResult : int {
  GLOBAL_STORAGE_DONE = 0,
  // Another process holds the access mutex; nobody waits for it.
  GLOBAL_STORAGE_BUSY = 1,
  GLOBAL_STORAGE_FAILED = -252,
  GLOBAL_STORAGE_INVALID_ARGUMENT = -254,
};

// The named values the autoupdate machinery shares between all the user's
// installations: values of the company key under HKEY_CURRENT_USER, guarded
// between processes by the mutex "kauc_registry_mutex". Where the registry
// cannot be used (a standalone copy, or a company key that denies access)
// the values live in the fallback file "au_global_storage" instead; while an
// older fallback file still exists, they go to both. Reading never changes
// the fallback file, not even a damaged one.
//
// One lock serialises the operations of the instance: a replaced folder
// examination may still run on a worker while the next one starts, and the
// access mutex, owned by a thread, would make the second thread of this
// process find it busy.
class GlobalStorageWin {
 public:
  // The process's one instance, made and checked once, thread-safely, by the
  // first call, which decides whether the registry can be used at all.
  static GlobalStorageWin* GetInstance();

  // A fresh instance that decided as the first GetInstance() does; with
  // |fallback_only| its values live only in the fallback file.
  static std::unique_ptr<GlobalStorageWin> CreateForTesting(bool fallback_only);
  // Makes GetInstance() answer |storage| until called again with null: the
  // process's instance remembers what earlier work of the process did (a
  // fallback file migrates once), which a test must not inherit.
  static void SetInstanceForTesting(GlobalStorageWin* storage);

  // The fallback file becomes |folder|\"au_global_storage". Values found
  // there are copied into the registry once per process, unless this
  // process already wrote the registry. An empty |folder| means that no
  // fallback file is known: the one of an earlier call is forgotten.
  virtual void MigrateFromFile(const base::FilePath& folder);
  // An empty |value| removes |name|.
  virtual int Set(const std::string& name, const std::string& value);
  // A missing value is an empty |*value| and GLOBAL_STORAGE_DONE.
  virtual int Get(const std::string& name, std::string* value);
  virtual ~GlobalStorageWin();

 private:
  GlobalStorageWin();

  // The one-time decision between the registry and the fallback file.
  void Initialize();
  // False when the mutex can be neither created nor opened.
  bool EnsureMutex();
  // Set, with |lock_| already held.
  int SetLocked(const std::string& name, const std::string& value);
  int WriteFallback(const std::string& name, const std::string& value);
  int ReadFallback(const std::string& name, std::string* value);
  int WriteRegistry(const std::string& name, const std::string& value);
  int ReadRegistry(const std::string& name, std::string* value);

  // Held through every operation; guards all below.
  base::Lock lock_;
  base::win::ScopedHandle mutex_;
  base::FilePath fallback_path_;
  bool use_fallback_only_ = false;
  // The last registry write or delete of this process succeeded.
  bool registry_written_ = false;
  bool migrating_ = false;

  DISALLOW_COPY_AND_ASSIGN(GlobalStorageWin);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_GLOBAL_STORAGE_WIN_H_
