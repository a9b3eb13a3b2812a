#ifndef BASE_METRICS_FIELD_TRIAL_PARAMS_H_
#define BASE_METRICS_FIELD_TRIAL_PARAMS_H_

#include <string>

namespace base {

// The value of |param_name| of the field trial |trial_name|, or "" when the
// trial has no parameters or lacks that one. Never fails.
std::string GetFieldTrialParamValue(const std::string& trial_name,
                                    const std::string& param_name);

// Tests only: sets (or, with an empty |value|, removes) one parameter.
void SetFieldTrialParamValueForTesting(const std::string& trial_name,
                                       const std::string& param_name,
                                       const std::string& value);

// Tests only: forgets every parameter set so far.
void ClearFieldTrialParamsForTesting();

}  // namespace base

#endif  // BASE_METRICS_FIELD_TRIAL_PARAMS_H_
