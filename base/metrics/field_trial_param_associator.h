#ifndef BASE_METRICS_FIELD_TRIAL_PARAM_ASSOCIATOR_H_
#define BASE_METRICS_FIELD_TRIAL_PARAM_ASSOCIATOR_H_

#include <map>
#include <string>
#include <utility>

#include "base/macros.h"
#include "base/metrics/field_trial.h"
#include "base/synchronization/lock.h"

namespace base {

// Holds the parameters of each (trial, group) pair. One per process, made
// on first use and never destroyed, since lookups may come from any thread
// until the process ends.
class FieldTrialParamAssociator {
 public:
  static FieldTrialParamAssociator* GetInstance();

  // Gives the pair its parameters. False when the pair already has some:
  // a group's parameters do not change once published.
  bool AssociateFieldTrialParams(const std::string& trial_name,
                                 const std::string& group_name,
                                 const FieldTrial::Params& params);

  // The parameters of the group the registered trial |trial_name| chose
  // (asking finalizes and reports that choice), from this process or from
  // the trial's shared-memory entry. False when there is no such trial or
  // it has no parameters.
  bool GetFieldTrialParams(const std::string& trial_name,
                           FieldTrial::Params* params);

  // The parameters held for exactly this pair, without looking at the trial
  // list or shared memory.
  bool GetFieldTrialParamsWithoutFallback(const std::string& trial_name,
                                          const std::string& group_name,
                                          FieldTrial::Params* params);

  void ClearAllParamsForTesting();

 private:
  typedef std::pair<std::string, std::string> FieldTrialKey;

  FieldTrialParamAssociator();
  ~FieldTrialParamAssociator() = delete;

  Lock lock_;
  std::map<FieldTrialKey, FieldTrial::Params> field_trial_params_;

  DISALLOW_COPY_AND_ASSIGN(FieldTrialParamAssociator);
};

}  // namespace base

#endif  // BASE_METRICS_FIELD_TRIAL_PARAM_ASSOCIATOR_H_
