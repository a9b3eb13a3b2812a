#ifndef BASE_METRICS_FIELD_TRIAL_PARAMS_H_
#define BASE_METRICS_FIELD_TRIAL_PARAMS_H_

#include <string>

namespace base {

// The value of |param_name| in the group chosen by the registered field
// trial |trial_name|, or "" when the trial, its parameters or that one are
// unknown. Asking finalizes and reports the trial's choice. Without a
// field-trial list this is one pointer test and answers "".
std::string GetFieldTrialParamValue(const std::string& trial_name,
                                    const std::string& param_name);

}  // namespace base

#endif  // BASE_METRICS_FIELD_TRIAL_PARAMS_H_
