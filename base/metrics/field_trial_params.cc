#include "base/metrics/field_trial_params.h"

#include <windows.h>

#include <map>
#include <utility>

namespace base {

namespace {

typedef std::map<std::pair<std::string, std::string>, std::string> ParamMap;

SRWLOCK g_params_lock = SRWLOCK_INIT;

// Made on first use and never destroyed: lookups may come from any thread
// until the process ends. Callers hold |g_params_lock|.
ParamMap& Params() {
  static ParamMap* const params = new ParamMap();
  return *params;
}

}  // namespace

std::string GetFieldTrialParamValue(const std::string& trial_name,
                                    const std::string& param_name) {
  std::string value;
  ::AcquireSRWLockShared(&g_params_lock);
  const ParamMap& params = Params();
  auto it = params.find(std::make_pair(trial_name, param_name));
  if (it != params.end())
    value = it->second;
  ::ReleaseSRWLockShared(&g_params_lock);
  return value;
}

void SetFieldTrialParamValueForTesting(const std::string& trial_name,
                                       const std::string& param_name,
                                       const std::string& value) {
  ::AcquireSRWLockExclusive(&g_params_lock);
  if (value.empty())
    Params().erase(std::make_pair(trial_name, param_name));
  else
    Params()[std::make_pair(trial_name, param_name)] = value;
  ::ReleaseSRWLockExclusive(&g_params_lock);
}

void ClearFieldTrialParamsForTesting() {
  ::AcquireSRWLockExclusive(&g_params_lock);
  Params().clear();
  ::ReleaseSRWLockExclusive(&g_params_lock);
}

}  // namespace base
