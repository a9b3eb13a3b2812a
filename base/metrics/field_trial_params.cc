#include "base/metrics/field_trial_params.h"

#include "base/metrics/field_trial.h"
#include "base/metrics/field_trial_param_associator.h"

namespace base {

std::string GetFieldTrialParamValue(const std::string& trial_name,
                                    const std::string& param_name) {
  // Without a list no trial can be found; the associator is not even made.
  if (!FieldTrialList::IsSet())
    return std::string();
  FieldTrial::Params params;
  if (!FieldTrialParamAssociator::GetInstance()->GetFieldTrialParams(trial_name,
                                                                     &params)) {
    return std::string();
  }
  auto it = params.find(param_name);
  return it == params.end() ? std::string() : it->second;
}

}  // namespace base
