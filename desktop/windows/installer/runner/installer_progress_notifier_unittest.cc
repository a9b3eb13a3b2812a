#include "desktop/windows/installer/runner/installer_progress_notifier.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

// Writes each call as "<name>:<event><value>" into a shared log; may remove
// another observer from inside a call.
class LoggingObserver : public InstallerProgressObserver {
 public:
  LoggingObserver(const std::string& name,
                  InstallerProgressNotifier* notifier,
                  std::vector<std::string>* log)
      : name_(name), notifier_(notifier), log_(log) {}

  void OnPhaseEntered(int phase) override {
    Add("phase" + std::to_string(phase) + "/" +
        std::to_string(notifier_->GetCurrentPhase()));
  }
  void OnTotalSteps(int total) override {
    Add("total" + std::to_string(total));
  }
  void OnStepFinished(int count) override {
    Add("step" + std::to_string(count));
  }

  InstallerProgressObserver* remove_on_call = nullptr;

 private:
  void Add(const std::string& entry) {
    log_->push_back(name_ + ":" + entry);
    if (remove_on_call)
      notifier_->RemoveObserver(remove_on_call);
  }

  const std::string name_;
  InstallerProgressNotifier* const notifier_;
  std::vector<std::string>* const log_;
};

TEST(InstallerProgressNotifierTest, RelaysInOrderAndStoresThePhase) {
  InstallerProgressNotifier notifier;
  std::vector<std::string> log;
  LoggingObserver a("a", &notifier, &log), b("b", &notifier, &log);
  EXPECT_EQ(0, notifier.GetCurrentPhase());
  notifier.AddObserver(&a);
  notifier.AddObserver(&b);
  notifier.AddObserver(&a);  // Not a second time.
  notifier.OnEnteringPhase(3);
  notifier.OnTotalSteps(12);
  notifier.OnStepFinished(5);
  // Removed during a notification, b is not reached by it.
  a.remove_on_call = &b;
  notifier.OnStepFinished(6);
  EXPECT_EQ(3, notifier.GetCurrentPhase());
  // Each observer already sees the new phase.
  EXPECT_EQ(
      (std::vector<std::string>{"a:phase3/3", "b:phase3/3", "a:total12",
                                "b:total12", "a:step5", "b:step5", "a:step6"}),
      log);
}

}  // namespace
}  // namespace installer
