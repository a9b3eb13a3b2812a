#include "base/path_service.h"

#include <unordered_map>

#include "base/files/file_util.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

typedef std::unordered_map<int, FilePath> PathMap;

struct Provider {
  PathService::ProviderFunc func;
  Provider* next;
  bool is_static;
};

// The chain is fixed: the Windows provider first, then the common one.
Provider base_provider = {PathProvider, nullptr, true};
Provider base_provider_win = {PathProviderWin, &base_provider, true};

struct PathData {
  Lock lock;
  PathMap cache;
  PathMap overrides;
  Provider* providers = &base_provider_win;
};

PathData* GetPathData() {
  // Made once, thread-safely, and never destroyed: providers may ask for
  // paths during shutdown.
  static PathData* const path_data = new PathData;
  return path_data;
}

bool LockedGetFromCache(int key, const PathData* path_data, FilePath* result) {
  PathMap::const_iterator it = path_data->cache.find(key);
  if (it == path_data->cache.end())
    return false;
  *result = it->second;
  return true;
}

bool LockedGetFromOverrides(int key, PathData* path_data, FilePath* result) {
  PathMap::const_iterator it = path_data->overrides.find(key);
  if (it == path_data->overrides.end())
    return false;
  path_data->cache[key] = it->second;
  *result = it->second;
  return true;
}

}  // namespace

// static
bool PathService::Get(int key, FilePath* result) {
  PathData* path_data = GetPathData();

  // The current folder may change at any time, so it is never cached.
  if (key == DIR_CURRENT)
    return GetCurrentDirectory(result);

  Provider* provider = nullptr;
  {
    AutoLock scoped_lock(path_data->lock);
    if (LockedGetFromCache(key, path_data, result))
      return true;
    if (LockedGetFromOverrides(key, path_data, result))
      return true;
    provider = path_data->providers;
  }

  // Providers run without the lock: some ask for other keys.
  FilePath path;
  while (provider) {
    if (provider->func(key, &path))
      break;
    provider = provider->next;
  }

  if (path.empty())
    return false;

  if (path.ReferencesParent()) {
    path = MakeAbsoluteFilePath(path);
    if (path.empty())
      return false;
  }
  *result = path;

  AutoLock scoped_lock(path_data->lock);
  path_data->cache[key] = path;
  return true;
}

// static
bool PathService::OverrideAndCreateIfNeeded(int key,
                                            const FilePath& path,
                                            bool is_absolute,
                                            bool create) {
  PathData* path_data = GetPathData();

  FilePath file_path = path;

  if (create && !PathExists(file_path) && !CreateDirectory(file_path))
    return false;

  if (!is_absolute) {
    file_path = MakeAbsoluteFilePath(file_path);
    if (file_path.empty())
      return false;
  }

  AutoLock scoped_lock(path_data->lock);
  // Keys derived from this one hold stale answers too, and nothing records
  // which they are.
  path_data->cache.clear();
  path_data->overrides[key] = file_path;
  return true;
}

// static
bool PathService::RemoveOverrideForTesting(int key) {
  PathData* path_data = GetPathData();
  AutoLock scoped_lock(path_data->lock);
  path_data->cache.clear();
  return path_data->overrides.erase(key) != 0;
}

}  // namespace base
