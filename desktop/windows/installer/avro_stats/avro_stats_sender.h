#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_SENDER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "desktop/windows/installer/avro_stats/avro_message_serializer.h"
#include "desktop/windows/installer/avro_stats/avro_stats_message.h"

namespace installer {

// Takes finished statistics messages from any thread and posts them to the
// statistics service.
class AvroStatsSender {
 public:
  virtual ~AvroStatsSender() = default;

  // Messages wait in the queue until traffic is allowed.
  virtual void SetTrafficAllowed(bool allowed) = 0;
  virtual void Send(std::unique_ptr<AvroStatsMessage> message) = 0;
  // Sends what is queued (or drops it when traffic is not allowed), then
  // runs |reply| on the calling sequence. Later messages are dropped. The
  // reply comes within a bounded time: what is still queued then is
  // dropped.
  virtual void SendPendingAndShutdown(base::OnceClosure reply) = 0;
};

// The delay before the next send pass after the |retry|th failure in a row.
using AvroBackOffCallback = base::RepeatingCallback<base::TimeDelta(int)>;

class NetworkThread;

// Queues messages on the "Avro Network thread" and posts each one, framed by
// the serializer, with WinINet.
class AvroStatsSenderImpl : public AvroStatsSender {
 public:
  // |plain_http| zero means HTTPS. Messages whose verbosity level is above
  // |max_verbosity| are not sent.
  AvroStatsSenderImpl(std::unique_ptr<AvroMessageSerializer> serializer,
                      const std::string& host,
                      uint32_t port,
                      const std::string& path,
                      uint32_t plain_http,
                      uint32_t max_verbosity);
  ~AvroStatsSenderImpl() override;

  void SetTrafficAllowed(bool allowed) override;
  void Send(std::unique_ptr<AvroStatsMessage> message) override;
  void SendPendingAndShutdown(base::OnceClosure reply) override;

  // Replaces the delays between retries; applies to the passes scheduled
  // after the call.
  void SetBackOffForTesting(AvroBackOffCallback back_off);
  // Replaces the bound of one request (10 s) and of the whole shutdown
  // (12 s of back-off plus one request).
  void SetDeadlinesForTesting(base::TimeDelta request,
                              base::TimeDelta shutdown);
  // |observer| gets the counters as the thread ends, on that thread.
  void SetFinalCountersObserverForTesting(
      base::OnceCallback<void(const DiagnosticCounters&)> observer);

  // The delays used unless replaced: 400 ms doubled on each failure in a
  // row, at most TimeDelta::Max().
  static base::TimeDelta DefaultBackOff(int retry);

 private:
  base::Lock lock_;
  std::unique_ptr<NetworkThread> network_thread_;
  const uint32_t max_verbosity_;

  DISALLOW_COPY_AND_ASSIGN(AvroStatsSenderImpl);
};

// The sender of processes that report nothing: drops every message.
class NullAvroStatsSender : public AvroStatsSender {
 public:
  NullAvroStatsSender() = default;

  void SetTrafficAllowed(bool allowed) override;
  void Send(std::unique_ptr<AvroStatsMessage> message) override;
  // Posts |reply| to the current thread as a non-nestable task.
  void SendPendingAndShutdown(base::OnceClosure reply) override;

 private:
  DISALLOW_COPY_AND_ASSIGN(NullAvroStatsSender);
};

// Chooses the process-wide sender; the free functions below are the same
// calls under the names callers use.
class AvroStatsSenderFactory {
 public:
  // See InitializeAvroStatsSender.
  static void Initialize(std::unique_ptr<AvroMessageSerializer> serializer,
                         int mode,
                         uint32_t max_verbosity);
  // See DisableAvroStatsSender: the process gets a NullAvroStatsSender.
  static void Disable();

  AvroStatsSenderFactory() = delete;
};

// Makes the real sender the process-wide one. |mode| 0 sends to the
// statistics service, 1 to the test server on this machine
// ("http://127.0.0.1:9000/v1/binary"); with any other mode nothing changes
// and |serializer| is deleted.
void InitializeAvroStatsSender(
    std::unique_ptr<AvroMessageSerializer> serializer,
    int mode,
    uint32_t max_verbosity);

// Makes the process-wide sender one that drops every message.
void DisableAvroStatsSender();

// The process-wide sender; the dropping one until either call above. Each of
// them replaces (and destroys) the previous sender, so callers ask for the
// sender when they send rather than keep the pointer. Replacing happens only
// while the process starts, or in tests, never while others send.
AvroStatsSender* GetAvroStatsSender();

// Makes |sender| the process-wide sender (tests that inspect what was sent).
void SetAvroStatsSenderForTesting(std::unique_ptr<AvroStatsSender> sender);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_SENDER_H_
