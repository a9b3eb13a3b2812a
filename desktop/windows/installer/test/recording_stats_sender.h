#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_RECORDING_STATS_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_RECORDING_STATS_SENDER_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"

namespace installer {
namespace test {

// Notes the name of every statistics event a controller sends; its
// shutdown ends at once, on the current thread's loop.
struct RecordingStatsSender : AvroStatsSender {
  explicit RecordingStatsSender(std::vector<std::string>* names)
      : names(names) {}
  void Send(std::unique_ptr<AvroStatsMessage> event) override {
    names->push_back(event->GetName());
  }
  void SetTrafficAllowed(bool) override {}
  void SendPendingAndShutdown(base::OnceClosure done) override {
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, std::move(done));
  }
  std::vector<std::string>* const names;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_RECORDING_STATS_SENDER_H_
