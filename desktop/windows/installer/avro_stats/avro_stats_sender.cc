#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"

#include <windows.h>

#include <utility>

#include "base/environment.h"
#include "base/location.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/scoped_handle.h"

namespace installer {

const char kStatsLogFileVariable[] = "KAVOR_STATS_LOG_FILE";

namespace {

void RunDone(base::OnceClosure done) {
  // Callers expect the closure after the call returns, as it is for a sender
  // that flushes on its own thread.
  if (base::ThreadTaskRunnerHandle::IsSet())
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, std::move(done));
  else
    std::move(done).Run();
}

class DroppingSender : public AvroStatsSender {
 public:
  void Send(std::unique_ptr<AvroStatsMessage> event) override {}
  void SetTrafficAllowed(bool allowed) override {}
  void SendPendingAndShutdown(base::OnceClosure done) override {
    RunDone(std::move(done));
  }
};

// Appends every event as one line to the file the environment names, so that
// a test can read back what a run reported. The file is opened for each line
// with shared access: several installer processes may append to it.
class RecordingSender : public AvroStatsSender {
 public:
  RecordingSender(std::unique_ptr<AvroMessageSerializer> serializer,
                  const std::wstring& log_file)
      : serializer_(std::move(serializer)), log_file_(log_file) {}

  void Send(std::unique_ptr<AvroStatsMessage> event) override {
    base::AutoLock lock(lock_);
    if (!traffic_allowed_ || shut_down_ || log_file_.empty())
      return;
    const std::string line = event->ToRecordLine() + "\n";
    base::win::ScopedHandle file(::CreateFileW(
        log_file_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
      return;
    DWORD written = 0;
    ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()),
                &written, nullptr);
  }

  void SetTrafficAllowed(bool allowed) override {
    base::AutoLock lock(lock_);
    traffic_allowed_ = allowed;
  }

  void SendPendingAndShutdown(base::OnceClosure done) override {
    {
      base::AutoLock lock(lock_);
      shut_down_ = true;
    }
    RunDone(std::move(done));
  }

 private:
  base::Lock lock_;
  const std::unique_ptr<AvroMessageSerializer> serializer_;
  const std::wstring log_file_;
  bool traffic_allowed_ = true;
  bool shut_down_ = false;
};

struct SenderSlot {
  base::Lock lock;
  std::unique_ptr<AvroStatsSender> sender{new DroppingSender()};
};

SenderSlot& GetSenderSlot() {
  static SenderSlot* const slot = new SenderSlot();
  return *slot;
}

void ReplaceSender(std::unique_ptr<AvroStatsSender> sender) {
  SenderSlot& slot = GetSenderSlot();
  base::AutoLock lock(slot.lock);
  slot.sender = std::move(sender);
}

}  // namespace

void InitializeAvroStatsSender(
    std::unique_ptr<AvroMessageSerializer> serializer,
    bool use_test_server,
    bool user_initiated) {
  std::string log_file;
  base::Environment::Create()->GetVar(kStatsLogFileVariable, &log_file);
  ReplaceSender(std::make_unique<RecordingSender>(std::move(serializer),
                                                  base::UTF8ToWide(log_file)));
}

void DisableAvroStatsSender() {
  ReplaceSender(std::make_unique<DroppingSender>());
}

void SetAvroStatsSenderForTesting(std::unique_ptr<AvroStatsSender> sender) {
  ReplaceSender(std::move(sender));
}

AvroStatsSender* GetAvroStatsSender() {
  SenderSlot& slot = GetSenderSlot();
  base::AutoLock lock(slot.lock);
  return slot.sender.get();
}

}  // namespace installer
