#include "desktop/windows/installer/service/global_storage_win.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/memory/ref_counted.h"
#include "base/strings/string_util.h"
#include "base/threading/thread.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {

namespace {

constexpr wchar_t kMutexName[] = L"kauc_registry_mutex";
constexpr wchar_t kFallbackFileName[] = L"au_global_storage";
constexpr char kFallbackDictionary[] = "GS";
constexpr char kThreadName[] = "GsTaskThread";

std::atomic<GlobalStorageWin*> g_testing_instance{nullptr};

// Holds the access mutex from a zero wait until it goes out of scope. A
// mutex left abandoned by a process that ended is as good as a free one.
class MutexHold {
 public:
  explicit MutexHold(HANDLE mutex) : mutex_(mutex) {
    const DWORD wait = ::WaitForSingleObject(mutex_, 0);
    taken_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    result_ = taken_                 ? GLOBAL_STORAGE_DONE
              : wait == WAIT_TIMEOUT ? GLOBAL_STORAGE_BUSY
                                     : GLOBAL_STORAGE_FAILED;
  }
  ~MutexHold() {
    if (taken_)
      ::ReleaseMutex(mutex_);
  }
  int result() const { return result_; }

 private:
  const HANDLE mutex_;
  bool taken_ = false;
  int result_ = GLOBAL_STORAGE_FAILED;

  DISALLOW_COPY_AND_ASSIGN(MutexHold);
};

// Runs |work| on a store of |path| that a thread of its own makes and reads,
// and returns once the work and the file write it asked for are done. False,
// with |work| never run, when the thread cannot start.
bool UseFallbackStore(const base::FilePath& path,
                      base::OnceCallback<void(JsonPrefStore*)> work) {
  base::Thread thread(kThreadName);
  if (!thread.Start()) {
    LOG(ERROR) << "[AU] GS: Cannot start " << kThreadName;
    return false;
  }
  base::scoped_refptr<base::SingleThreadTaskRunner> runner =
      thread.task_runner();
  runner->PostTask(
      FROM_HERE,
      base::BindOnce(
          [](const base::FilePath& path,
             base::scoped_refptr<base::SingleThreadTaskRunner> runner,
             base::OnceCallback<void(JsonPrefStore*)> work) {
            base::scoped_refptr<JsonPrefStore> store(
                new JsonPrefStore(path, runner, nullptr));
            store->ReadPrefs();
            std::move(work).Run(store.get());
          },
          path, runner, std::move(work)));
  // The write the work asked for is queued behind it; the thread ends only
  // once both ran.
  thread.Stop();
  return true;
}

// Sets or removes |name| in the store's dictionary; |*written| stays false
// when the store cannot be written or its dictionary is something else.
void WriteEntry(const std::string& name,
                const std::string& value,
                bool* written,
                JsonPrefStore* store) {
  if (store->IsReadOnly())
    return;
  std::unique_ptr<base::DictionaryValue> entries;
  const base::Value* stored = nullptr;
  if (store->GetValue(kFallbackDictionary, &stored)) {
    const base::DictionaryValue* dictionary = nullptr;
    if (!stored->GetAsDictionary(&dictionary))
      return;
    entries = dictionary->CreateDeepCopy();
  } else {
    entries = std::make_unique<base::DictionaryValue>();
  }
  if (value.empty()) {
    entries->RemoveWithoutPathExpansion(name, nullptr);
  } else {
    entries->SetWithoutPathExpansion(name,
                                     std::make_unique<base::Value>(value));
  }
  store->SetValue(kFallbackDictionary, std::move(entries),
                  WritablePrefStore::DEFAULT_PREF_WRITE_FLAGS);
  store->CommitPendingWrite(base::OnceClosure());
  *written = true;
}

// The store writes in the background and tells nobody when that fails: the
// file read back must hold what was written. The file itself only: a backup
// that still holds the value says nothing of the write.
bool FileHolds(const base::FilePath& path,
               const std::string& name,
               const std::string& value) {
  base::JSONFileValueDeserializer deserializer(path);
  const std::unique_ptr<base::Value> prefs =
      deserializer.Deserialize(nullptr, nullptr);
  const base::DictionaryValue* root = nullptr;
  const base::DictionaryValue* entries = nullptr;
  if (!prefs || !prefs->GetAsDictionary(&root) ||
      !root->GetDictionary(kFallbackDictionary, &entries)) {
    return value.empty();
  }
  const base::Value* entry = nullptr;
  if (!entries->GetWithoutPathExpansion(name, &entry))
    return value.empty();
  std::string text;
  return !value.empty() && entry->GetAsString(&text) && text == value;
}

// A copy of the fallback file's dictionary; none when there is none, or
// when the entry is something else (|*not_dictionary|). The file is read as
// it is, never through a store: a store would move a damaged file aside and
// copy a good one to a backup, and reading must change nothing.
void ReadEntries(const base::FilePath& path,
                 std::unique_ptr<base::DictionaryValue>* entries,
                 bool* not_dictionary) {
  const std::unique_ptr<base::DictionaryValue> prefs =
      JsonPrefStore::ReadPrefsWithoutChanges(path);
  const base::Value* stored = nullptr;
  if (!prefs || !prefs->GetWithoutPathExpansion(kFallbackDictionary, &stored))
    return;
  const base::DictionaryValue* dictionary = nullptr;
  if (!stored->GetAsDictionary(&dictionary)) {
    *not_dictionary = true;
    return;
  }
  *entries = dictionary->CreateDeepCopy();
}

}  // namespace

GlobalStorageWin::GlobalStorageWin() = default;

GlobalStorageWin::~GlobalStorageWin() = default;

// static
GlobalStorageWin* GlobalStorageWin::GetInstance() {
  if (GlobalStorageWin* testing = g_testing_instance.load())
    return testing;
  // Checked inside the static initialisation, so that no thread gets the
  // instance before it knows where its values live. Never destroyed: an
  // examination that a newer one replaced may still use it on a worker
  // thread while the process ends.
  static GlobalStorageWin* const instance = [] {
    GlobalStorageWin* storage = new GlobalStorageWin();
    storage->Initialize();
    return storage;
  }();
  return instance;
}

// static
void GlobalStorageWin::SetInstanceForTesting(GlobalStorageWin* storage) {
  g_testing_instance.store(storage);
}

// static
std::unique_ptr<GlobalStorageWin> GlobalStorageWin::CreateForTesting(
    bool fallback_only) {
  std::unique_ptr<GlobalStorageWin> storage(new GlobalStorageWin());
  storage->Initialize();
  if (fallback_only) {
    base::AutoLock lock(storage->lock_);
    storage->use_fallback_only_ = true;
  }
  return storage;
}

void GlobalStorageWin::Initialize() {
  base::AutoLock lock(lock_);
  // A standalone copy leaves nothing of itself in the registry.
  if (Installation::GetCurrent()->IsCopyOnly()) {
    use_fallback_only_ = true;
    return;
  }
  HKEY key = nullptr;
  const LONG opened =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(), 0,
                      KEY_READ | KEY_WRITE, &key);
  if (opened == ERROR_SUCCESS)
    ::RegCloseKey(key);
  else if (opened == ERROR_ACCESS_DENIED)
    use_fallback_only_ = true;
}

bool GlobalStorageWin::EnsureMutex() {
  if (mutex_.IsValid())
    return true;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kMutexName);
  if (!mutex && ::GetLastError() == ERROR_ACCESS_DENIED)
    mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  if (!mutex)
    return false;
  mutex_.Set(mutex);
  return true;
}

void GlobalStorageWin::MigrateFromFile(const base::FilePath& folder) {
  base::AutoLock lock(lock_);
  // The file of an earlier examination must not answer for this one, nor a
  // relative path for the folder the process happens to run in.
  if (folder.empty()) {
    fallback_path_ = base::FilePath();
    return;
  }
  fallback_path_ = folder.Append(kFallbackFileName);
  if (!base::PathExists(fallback_path_) || use_fallback_only_ ||
      registry_written_) {
    return;
  }
  migrating_ = true;
  std::unique_ptr<base::DictionaryValue> entries;
  bool not_dictionary = false;
  ReadEntries(fallback_path_, &entries, &not_dictionary);
  if (entries) {
    for (base::DictionaryValue::Iterator it(*entries); !it.IsAtEnd();
         it.Advance()) {
      std::string value;
      if (it.value().GetAsString(&value))
        SetLocked(it.key(), value);
    }
  }
  migrating_ = false;
}

int GlobalStorageWin::Set(const std::string& name, const std::string& value) {
  base::AutoLock lock(lock_);
  return SetLocked(name, value);
}

int GlobalStorageWin::SetLocked(const std::string& name,
                                const std::string& value) {
  if (name.empty())
    return GLOBAL_STORAGE_INVALID_ARGUMENT;
  if (!EnsureMutex()) {
    LOG(ERROR) << "[AU] GS: Couldn't create an access mutex";
    return GLOBAL_STORAGE_FAILED;
  }
  MutexHold hold(mutex_.Get());
  if (hold.result() != GLOBAL_STORAGE_DONE) {
    LOG(ERROR) << "[AU] GS: Couldn't get hold on an access mutex";
    return hold.result();
  }
  int result = GLOBAL_STORAGE_DONE;
  if (use_fallback_only_ || (!migrating_ && !fallback_path_.empty() &&
                             base::PathExists(fallback_path_))) {
    result = WriteFallback(name, value);
    if (use_fallback_only_)
      return result;
  }
  // A failed file write must not cost the registry its value as well: the
  // registry is what every reader looks at first.
  const int registry = WriteRegistry(name, value);
  registry_written_ = registry == GLOBAL_STORAGE_DONE;
  return result != GLOBAL_STORAGE_DONE ? result : registry;
}

int GlobalStorageWin::Get(const std::string& name, std::string* value) {
  base::AutoLock lock(lock_);
  if (!value)
    return GLOBAL_STORAGE_INVALID_ARGUMENT;
  value->clear();
  if (name.empty())
    return GLOBAL_STORAGE_INVALID_ARGUMENT;
  if (!EnsureMutex())
    return GLOBAL_STORAGE_FAILED;
  MutexHold hold(mutex_.Get());
  if (hold.result() != GLOBAL_STORAGE_DONE)
    return hold.result();
  return use_fallback_only_ ? ReadFallback(name, value)
                            : ReadRegistry(name, value);
}

int GlobalStorageWin::WriteFallback(const std::string& name,
                                    const std::string& value) {
  bool written = false;
  // Without a folder the store would write into whatever folder the process
  // runs in.
  if (!fallback_path_.empty()) {
    UseFallbackStore(fallback_path_,
                     base::BindOnce(&WriteEntry, name, value, &written));
  }
  if (!written || !FileHolds(fallback_path_, name, value)) {
    LOG(ERROR) << "[AU] GS: Writing to a fallback storage failed";
    return GLOBAL_STORAGE_FAILED;
  }
  return GLOBAL_STORAGE_DONE;
}

int GlobalStorageWin::ReadFallback(const std::string& name,
                                   std::string* value) {
  if (fallback_path_.empty())
    return GLOBAL_STORAGE_DONE;
  std::unique_ptr<base::DictionaryValue> entries;
  bool not_dictionary = false;
  ReadEntries(fallback_path_, &entries, &not_dictionary);
  if (not_dictionary) {
    LOG(ERROR) << "[AU] GS: The fallback storage holds no dictionary";
    return GLOBAL_STORAGE_FAILED;
  }
  const base::Value* entry = nullptr;
  std::string text;
  if (entries && entries->GetWithoutPathExpansion(name, &entry) &&
      entry->GetAsString(&text) && base::IsStringASCII(text)) {
    *value = text;
  }
  return GLOBAL_STORAGE_DONE;
}

int GlobalStorageWin::WriteRegistry(const std::string& name,
                                    const std::string& value) {
  HKEY key = nullptr;
  if (value.empty()) {
    const LONG opened = ::RegOpenKeyExW(
        HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(), 0, KEY_WRITE, &key);
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND)
      return GLOBAL_STORAGE_DONE;
    if (opened != ERROR_SUCCESS) {
      LOG(ERROR) << "[AU] GS: Deleting reg value failed with: " << opened;
      return GLOBAL_STORAGE_FAILED;
    }
    ::RegDeleteValueA(key, name.c_str());
    ::RegCloseKey(key);
    return GLOBAL_STORAGE_DONE;
  }
  const LONG created = ::RegCreateKeyExW(
      HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(), 0, nullptr,
      REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (created != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Creating reg key failed with: " << created;
    return GLOBAL_STORAGE_FAILED;
  }
  // Only the text's own bytes are counted, no terminating zero; readers
  // take the text up to the first zero or the end of the data.
  const LONG set = ::RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.data()),
                                    static_cast<DWORD>(value.size()));
  ::RegCloseKey(key);
  if (set != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Setting reg value failed with: " << set;
    return GLOBAL_STORAGE_FAILED;
  }
  return GLOBAL_STORAGE_DONE;
}

int GlobalStorageWin::ReadRegistry(const std::string& name,
                                   std::string* value) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(), 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return GLOBAL_STORAGE_DONE;
  }
  int result = GLOBAL_STORAGE_DONE;
  DWORD size = 0;
  const LONG queried =
      ::RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size);
  if (queried == ERROR_SUCCESS && size != 0) {
    // One more byte for the terminator the stored data may lack.
    std::string buffer(size + 1, '\0');
    DWORD read = size + 1;
    if (::RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                           reinterpret_cast<BYTE*>(&buffer[0]),
                           &read) == ERROR_SUCCESS) {
      *value = buffer.c_str();
    } else {
      result = GLOBAL_STORAGE_FAILED;
    }
  } else if (queried != ERROR_SUCCESS && queried != ERROR_FILE_NOT_FOUND) {
    result = GLOBAL_STORAGE_FAILED;
  }
  ::RegCloseKey(key);
  return result;
}

}  // namespace installer
