#include "base/metrics/field_trial_param_associator.h"

namespace base {

FieldTrialParamAssociator::FieldTrialParamAssociator() = default;

// static
FieldTrialParamAssociator* FieldTrialParamAssociator::GetInstance() {
  static FieldTrialParamAssociator* const instance =
      new FieldTrialParamAssociator();
  return instance;
}

bool FieldTrialParamAssociator::AssociateFieldTrialParams(
    const std::string& trial_name,
    const std::string& group_name,
    const FieldTrial::Params& params) {
  AutoLock auto_lock(lock_);
  return field_trial_params_
      .emplace(FieldTrialKey(trial_name, group_name), params)
      .second;
}

bool FieldTrialParamAssociator::GetFieldTrialParams(
    const std::string& trial_name, FieldTrial::Params* params) {
  FieldTrial* trial = FieldTrialList::Find(trial_name);
  if (!trial)
    return false;
  // Taken before our lock: choosing the group may reach the trial list,
  // which in turn asks us for the group's parameters.
  const std::string& group_name = trial->group_name();
  if (GetFieldTrialParamsWithoutFallback(trial_name, group_name, params))
    return true;
  return FieldTrialList::GetParamsFromSharedMemory(trial, params);
}

bool FieldTrialParamAssociator::GetFieldTrialParamsWithoutFallback(
    const std::string& trial_name,
    const std::string& group_name,
    FieldTrial::Params* params) {
  AutoLock auto_lock(lock_);
  auto it = field_trial_params_.find(FieldTrialKey(trial_name, group_name));
  if (it == field_trial_params_.end())
    return false;
  *params = it->second;
  return true;
}

void FieldTrialParamAssociator::ClearAllParamsForTesting() {
  AutoLock auto_lock(lock_);
  field_trial_params_.clear();
}

}  // namespace base
