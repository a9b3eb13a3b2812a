#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"

#include <windows.h>
#include <wininet.h>

#include <cmath>
#include <iterator>
#include <list>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/synchronization/condition_variable.h"
#include "base/task_scheduler/post_task.h"
#include "base/threading/thread.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/request_deadline.h"
#include "desktop/windows/installer/wininet/wininet_functions.h"

namespace installer {

namespace {

// The end of a run waits for the queue to be sent, and the queue is tried up
// to five times: a statistics service that accepts a connection and never
// answers must not hold up the end of an install for long. The bodies are a
// few kilobytes, which a working link moves well within this.
constexpr DWORD kTimeoutMs = 5 * 1000;
// One connection attempt, so that an unreachable host costs one connect
// time-out, not one per retry of WinINet's own.
constexpr DWORD kConnectRetries = 1;
// The time-outs above bound each wait on the socket, not the request: a
// server that sends its answer a byte at a time would hold a request, and
// with it the end of the run, for as long as it likes.
constexpr int64_t kRequestDeadlineSeconds = 10;
// The end of a run waits at most for the back-off between the five attempts
// (0.8 + 1.6 + 3.2 + 6.4 s) and one request; what is still queued then is
// dropped.
constexpr int64_t kShutdownDeadlineSeconds = 12 + kRequestDeadlineSeconds;
// How long the end of a run waits, after the shutdown deadline, for a
// request it has cancelled to return. Where the close does not end the
// blocked call (some WinINets hold the socket until their own time-outs,
// which a trickling server never trips), the thread is left behind.
constexpr int64_t kCancelGraceSeconds = 3;

const char kServiceHost[] = "stats.kavor.example";
const uint32_t kServicePort = 443;
const char kTestServerHost[] = "127.0.0.1";
const uint32_t kTestServerPort = 9000;
const char kRequestPath[] = "/v1/binary";

// The request headers, kept out of the plain strings of the image: each
// value is a character plus a key that runs over the values before it.
constexpr uint16_t kHeaderKeySeed = 0x5A17;
constexpr uint16_t kHeaderKeyStep = 0x0B3D;
constexpr uint16_t kRequestHeaderTable[] = {
    0x5A5A, 0xC01D, 0x8B76, 0x222F, 0x4F8C, 0xAA5E, 0x5FFF, 0xCAF4, 0xA14C,
    0x4DFA, 0xA728, 0x5982, 0xBE16, 0x874F, 0x1A1C, 0x3F84, 0x8A45, 0x1FC3,
    0x4AC0, 0xA0B7, 0x4CA9, 0xA4A2, 0x5476, 0xB42F, 0x739A, 0xF232, 0xEFD3,
    0xEAF8, 0xE129, 0xCD8C, 0xA613, 0x5798, 0xBA74, 0x802A, 0x0B84, 0x2256,
    0x4FF0, 0xAAB1, 0x609C, 0xCCC3, 0xA498, 0x548B, 0xB469, 0x7424, 0xF37E,
    0xF23C, 0xEF70, 0xEA47, 0xDFE6, 0xCB00, 0xA148, 0x4DBE, 0xA6C6, 0x5884,
    0xBC6B, 0x8423, 0x1388, 0x324A, 0x6FD9, 0xEAE3, 0xE0DC, 0xCCDB, 0xA505,
    0x554E, 0xB5D3, 0x76BD, 0xF8B4,
};
static_assert(sizeof(kRequestHeaderTable) / sizeof(uint16_t) == 67,
              "the request headers are 67 characters");

std::wstring BuildRequestHeaders() {
  std::wstring headers;
  headers.reserve(std::size(kRequestHeaderTable));
  uint16_t key = kHeaderKeySeed;
  for (uint16_t value : kRequestHeaderTable) {
    headers.push_back(static_cast<wchar_t>(static_cast<uint16_t>(value - key)));
    key = static_cast<uint16_t>(key + value + kHeaderKeyStep);
  }
  return headers;
}

// Volatile, so that the stores are not dropped as dead before the free.
void WipeHeaders(std::wstring* headers) {
  volatile wchar_t* text = &(*headers)[0];
  for (size_t i = 0; i < headers->size(); ++i)
    text[i] = L'0';
}

}  // namespace

// Owns the queue; everything but the start and the hand-over of messages
// runs on the thread itself.
class NetworkThread : public base::Thread {
 public:
  NetworkThread(std::unique_ptr<AvroMessageSerializer> serializer,
                const std::string& host,
                uint32_t port,
                const std::string& path,
                uint32_t plain_http);
  // Stops the thread; Finish first.
  ~NetworkThread() override;

  // Sends or drops what is queued, within the shutdown deadline, and ends
  // the thread. False when the thread is stuck in a request that its
  // cancellation did not end: it can be neither joined nor deleted then.
  bool Finish();
  // Finishes |thread| and deletes it, or leaves it behind when it is stuck.
  static void End(std::unique_ptr<NetworkThread> thread);

  void SetTrafficAllowed(bool allowed);
  void SendAvroMessage(std::unique_ptr<AvroStatsMessage> message);
  void SetBackOff(AvroBackOffCallback back_off);
  void SetDeadlines(base::TimeDelta request, base::TimeDelta shutdown);
  void SetFinalCountersObserver(
      base::OnceCallback<void(const DiagnosticCounters&)> observer);

 protected:
  void Init() override;

 private:
  void SetTrafficAllowedOnNetworkThread(bool allowed);
  void QueueOnNetworkThread(std::unique_ptr<AvroStatsMessage> message);
  void StartShutdownOnNetworkThread();
  void CloseInternetOnNetworkThread();
  void DropQueueAtDeadlineOnNetworkThread();
  void SendPendingOnNetworkThread();
  bool TrySend(const AvroStatsMessage& message);
  // Drops and counts, as the retry limit does, what the shutdown deadline
  // leaves in the queue.
  void DropQueueAtDeadline();
  bool OutOfTime();
  void UpdatePending();

  const std::unique_ptr<AvroMessageSerializer> serializer_;
  const std::wstring host_;
  const std::wstring path_;
  const uint32_t port_;
  const uint32_t plain_http_;

  std::list<std::unique_ptr<AvroStatsMessage>> queue_;
  uint32_t retry_count_ = 0;
  bool send_scheduled_ = false;

  base::Lock lock_;
  base::ConditionVariable condition_{&lock_};
  bool pending_ = false;
  uint32_t in_flight_ = 0;
  uint32_t messages_total_ = 0;
  base::TimeDelta request_deadline_ =
      base::TimeDelta::FromSeconds(kRequestDeadlineSeconds);
  base::TimeDelta shutdown_deadline_ =
      base::TimeDelta::FromSeconds(kShutdownDeadlineSeconds);
  // The shutdown deadline has passed: no request starts any more.
  bool out_of_time_ = false;
  // The deadline of the request under way, if any, so that the shutdown
  // can cancel it.
  RequestDeadline* current_request_ = nullptr;
  base::OnceCallback<void(const DiagnosticCounters&)> final_counters_observer_;

  AvroBackOffCallback back_off_;
  bool traffic_allowed_ = false;
  bool shutting_down_ = false;
  uint32_t dumps_total_ = 0;
  uint32_t dumped_messages_total_ = 0;
  uint32_t successfully_sent_total_ = 0;
  uint32_t send_attempts_total_ = 0;
  HINTERNET internet_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(NetworkThread);
};

NetworkThread::NetworkThread(std::unique_ptr<AvroMessageSerializer> serializer,
                             const std::string& host,
                             uint32_t port,
                             const std::string& path,
                             uint32_t plain_http)
    : base::Thread("Avro Network thread"),
      serializer_(std::move(serializer)),
      host_(base::ASCIIToWide(host)),
      path_(base::ASCIIToWide(path)),
      port_(port),
      plain_http_(plain_http),
      back_off_(base::BindRepeating(&AvroStatsSenderImpl::DefaultBackOff)) {
  if (!Start())
    LOG(ERROR) << "Could not start the statistics thread";
}

NetworkThread::~NetworkThread() {
  Stop();
}

bool NetworkThread::Finish() {
  base::scoped_refptr<base::SingleThreadTaskRunner> runner = task_runner();
  if (!runner)
    return true;
  runner->PostTask(
      FROM_HERE, base::BindOnce(&NetworkThread::StartShutdownOnNetworkThread,
                                base::Unretained(this)));
  {
    base::AutoLock lock(lock_);
    const base::TimeTicks end = base::TimeTicks::Now() + shutdown_deadline_;
    for (;;) {
      if (!pending_)
        break;
      const base::TimeDelta left = end - base::TimeTicks::Now();
      if (left <= base::TimeDelta())
        break;
      condition_.TimedWait(left);
    }
    if (pending_) {
      LOG(ERROR) << "The statistics queue was not sent within "
                 << shutdown_deadline_.InMilliseconds() << " ms";
      out_of_time_ = true;
      if (current_request_)
        current_request_->CancelNow();
    }
  }
  runner->PostTask(
      FROM_HERE,
      base::BindOnce(&NetworkThread::DropQueueAtDeadlineOnNetworkThread,
                     base::Unretained(this)));
  bool stuck = false;
  {
    base::AutoLock lock(lock_);
    // A thread outside a request gets to the drop on its own; only one
    // blocked in a request that outlives its cancellation is given up.
    const base::TimeDelta grace =
        base::TimeDelta::FromSeconds(kCancelGraceSeconds);
    base::TimeTicks end = base::TimeTicks::Now() + grace;
    while (pending_) {
      const base::TimeDelta left = end - base::TimeTicks::Now();
      if (left > base::TimeDelta()) {
        condition_.TimedWait(left);
        continue;
      }
      if (current_request_) {
        LOG(ERROR) << "A cancelled statistics request did not return; "
                      "leaving the statistics thread behind";
        stuck = true;
        break;
      }
      end = base::TimeTicks::Now() + grace;
    }
  }
  // A thread left behind closes its session too, should its request return
  // before the process ends.
  runner->PostTask(
      FROM_HERE, base::BindOnce(&NetworkThread::CloseInternetOnNetworkThread,
                                base::Unretained(this)));
  return !stuck;
}

// static
void NetworkThread::End(std::unique_ptr<NetworkThread> thread) {
  if (!thread || thread->Finish())
    return;
  // Still running the request: deleting it would free what the call uses,
  // and joining it would wait for the request. The process is ending, and
  // ends the thread with it; the drop and the close posted by Finish run
  // should the request return first.
  ignore_result(thread.release());
}

void NetworkThread::Init() {
  if (!Wininet())
    return;
  internet_ = Wininet()->open(L"Kavor installer", INTERNET_OPEN_TYPE_PRECONFIG,
                              nullptr, nullptr, 0);
  if (!internet_) {
    PLOG(ERROR) << "InternetOpen failed for the statistics sender";
    return;
  }
  SetInternetTimeouts(internet_, kTimeoutMs, kConnectRetries);
}

void NetworkThread::SetTrafficAllowed(bool allowed) {
  base::scoped_refptr<base::SingleThreadTaskRunner> runner = task_runner();
  if (!runner)
    return;
  runner->PostTask(
      FROM_HERE,
      base::BindOnce(&NetworkThread::SetTrafficAllowedOnNetworkThread,
                     base::Unretained(this), allowed));
}

void NetworkThread::SendAvroMessage(std::unique_ptr<AvroStatsMessage> message) {
  base::scoped_refptr<base::SingleThreadTaskRunner> runner = task_runner();
  if (!runner)
    return;
  {
    base::AutoLock lock(lock_);
    ++messages_total_;
    ++in_flight_;
    pending_ = true;
  }
  runner->PostTask(FROM_HERE,
                   base::BindOnce(&NetworkThread::QueueOnNetworkThread,
                                  base::Unretained(this), std::move(message)));
}

void NetworkThread::SetBackOff(AvroBackOffCallback back_off) {
  base::scoped_refptr<base::SingleThreadTaskRunner> runner = task_runner();
  if (!runner)
    return;
  runner->PostTask(FROM_HERE,
                   base::BindOnce(
                       [](NetworkThread* thread, AvroBackOffCallback back_off) {
                         thread->back_off_ = std::move(back_off);
                       },
                       base::Unretained(this), std::move(back_off)));
}

void NetworkThread::SetDeadlines(base::TimeDelta request,
                                 base::TimeDelta shutdown) {
  base::AutoLock lock(lock_);
  request_deadline_ = request;
  shutdown_deadline_ = shutdown;
}

void NetworkThread::SetFinalCountersObserver(
    base::OnceCallback<void(const DiagnosticCounters&)> observer) {
  base::scoped_refptr<base::SingleThreadTaskRunner> runner = task_runner();
  if (!runner)
    return;
  runner->PostTask(
      FROM_HERE,
      base::BindOnce(
          [](NetworkThread* thread,
             base::OnceCallback<void(const DiagnosticCounters&)> observer) {
            thread->final_counters_observer_ = std::move(observer);
          },
          base::Unretained(this), std::move(observer)));
}

void NetworkThread::SetTrafficAllowedOnNetworkThread(bool allowed) {
  VLOG(5) << "Traffic allowed: " << allowed;
  traffic_allowed_ = allowed;
  if (allowed && !send_scheduled_ && !queue_.empty())
    SendPendingOnNetworkThread();
}

void NetworkThread::QueueOnNetworkThread(
    std::unique_ptr<AvroStatsMessage> message) {
  {
    base::AutoLock lock(lock_);
    --in_flight_;
  }
  queue_.push_back(std::move(message));
  retry_count_ = 0;
  if (!send_scheduled_ && !queue_.empty())
    SendPendingOnNetworkThread();
}

void NetworkThread::StartShutdownOnNetworkThread() {
  shutting_down_ = true;
  if (!send_scheduled_ && !queue_.empty())
    SendPendingOnNetworkThread();
}

void NetworkThread::CloseInternetOnNetworkThread() {
  CloseInternetHandle(&internet_);
  if (final_counters_observer_) {
    DiagnosticCounters counters;
    counters.dumped_messages_total = dumped_messages_total_;
    counters.dumps_total = dumps_total_;
    {
      base::AutoLock lock(lock_);
      counters.messages_total = messages_total_;
    }
    counters.send_attempts_total = send_attempts_total_;
    counters.successfully_sent_total = successfully_sent_total_;
    std::move(final_counters_observer_).Run(counters);
  }
}

void NetworkThread::DropQueueAtDeadlineOnNetworkThread() {
  DropQueueAtDeadline();
  UpdatePending();
}

void NetworkThread::DropQueueAtDeadline() {
  if (queue_.empty())
    return;
  LOG(ERROR) << "Shutdown deadline passed. Dumping " << queue_.size()
             << " messages!";
  ++dumps_total_;
  dumped_messages_total_ += static_cast<uint32_t>(queue_.size());
  queue_.clear();
}

bool NetworkThread::OutOfTime() {
  base::AutoLock lock(lock_);
  return out_of_time_;
}

void NetworkThread::UpdatePending() {
  base::AutoLock lock(lock_);
  pending_ = !queue_.empty() || in_flight_ > 0;
  condition_.Broadcast();
}

void NetworkThread::SendPendingOnNetworkThread() {
  send_scheduled_ = false;
  while (!queue_.empty()) {
    if (!traffic_allowed_) {
      if (shutting_down_)
        queue_.clear();
      break;
    }
    if (OutOfTime()) {
      DropQueueAtDeadline();
      break;
    }
    if (TrySend(*queue_.front())) {
      ++successfully_sent_total_;
      queue_.pop_front();
      continue;
    }
    // No retry is due once the shutdown has run out of time.
    if (OutOfTime()) {
      DropQueueAtDeadline();
      break;
    }
    const uint32_t retry = retry_count_++;
    if (retry > 3) {
      LOG(ERROR) << "Retry limit exceeded. Dumping messages!";
      ++dumps_total_;
      dumped_messages_total_ += static_cast<uint32_t>(queue_.size());
      queue_.clear();
      break;
    }
    send_scheduled_ = true;
    task_runner()->PostDelayedTask(
        FROM_HERE,
        base::BindOnce(&NetworkThread::SendPendingOnNetworkThread,
                       base::Unretained(this)),
        back_off_.Run(static_cast<int>(retry_count_)));
    break;
  }
  UpdatePending();
}

bool NetworkThread::TrySend(const AvroStatsMessage& message) {
  if (!internet_)
    return false;

  DiagnosticCounters counters;
  counters.dumped_messages_total = dumped_messages_total_;
  counters.dumps_total = dumps_total_;
  base::TimeDelta request_deadline;
  {
    base::AutoLock lock(lock_);
    counters.messages_total = messages_total_;
    request_deadline = request_deadline_;
  }
  counters.send_attempts_total = send_attempts_total_;
  counters.successfully_sent_total = successfully_sent_total_;
  std::string body = serializer_->Serialize(message, counters);
  ++send_attempts_total_;

  const std::string name = message.GetName();
  ScopedInternetHandle connection(Wininet()->connect(
      internet_, host_.c_str(), static_cast<INTERNET_PORT>(port_), nullptr,
      nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection)
    return false;

  bool succeeded = false;
  {
    const DWORD flags = plain_http_ ? 0
                                    : INTERNET_FLAG_SECURE |
                                          INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;
    HINTERNET request =
        Wininet()->open_request(connection.get(), L"POST", path_.c_str(),
                                L"HTTP/1.1", nullptr, nullptr, flags, 0);
    if (request) {
      SetInternetTimeouts(request, kTimeoutMs, kConnectRetries);
      std::wstring headers = BuildRequestHeaders();
      // Closing the handle is how WinINet cancels a call blocked on it; the
      // handle is then gone, and is neither queried nor closed again.
      RequestDeadline deadline(
          request_deadline,
          base::BindOnce(
              [](HINTERNET request) {
                LOG(ERROR) << "A statistics request ran out of time; "
                              "cancelling it";
                if (!Wininet()->close_handle(request))
                  PLOG(ERROR) << "Could not cancel the statistics request";
              },
              request));
      bool may_send;
      {
        base::AutoLock lock(lock_);
        may_send = !out_of_time_;
        if (may_send)
          current_request_ = &deadline;
      }
      BOOL sent = FALSE;
      if (may_send) {
        VLOG(5) << "Attempting to send " << name;
        sent = Wininet()->send_request(
            request, headers.c_str(), static_cast<DWORD>(headers.size()),
            body.empty() ? nullptr : &body[0], static_cast<DWORD>(body.size()));
        base::AutoLock lock(lock_);
        current_request_ = nullptr;
      }
      const bool cancelled = deadline.Disarm();
      WipeHeaders(&headers);
      headers.clear();
      headers.shrink_to_fit();
      if (!cancelled) {
        if (sent) {
          wchar_t status[32] = {};
          DWORD size = sizeof(status);
          DWORD index = 0;
          if (Wininet()->query_info(request, HTTP_QUERY_STATUS_CODE, status,
                                    &size, &index)) {
            const std::wstring text(status, size / sizeof(wchar_t));
            succeeded = text == L"201" || text == L"403";
          }
        }
        CloseInternetHandle(&request);
      }
    }
  }
  VLOG(5) << "Message " << name << " processed, sending "
          << (succeeded ? "succeeded" : "failed");
  return succeeded;
}

// static
base::TimeDelta AvroStatsSenderImpl::DefaultBackOff(int retry) {
  return base::TimeDelta::FromMillisecondsD(std::ldexp(400.0, retry));
}

AvroStatsSenderImpl::AvroStatsSenderImpl(
    std::unique_ptr<AvroMessageSerializer> serializer,
    const std::string& host,
    uint32_t port,
    const std::string& path,
    uint32_t plain_http,
    uint32_t max_verbosity)
    : network_thread_(std::make_unique<NetworkThread>(
          std::move(serializer), host, port, path, plain_http)),
      max_verbosity_(max_verbosity) {}

AvroStatsSenderImpl::~AvroStatsSenderImpl() {
  // Not left to member destruction: the thread is detached under the lock
  // first, so that a call reaching the sender while the thread ends (from a
  // back-off callback on that thread) finds a finished sender, not a thread
  // half destroyed.
  std::unique_ptr<NetworkThread> thread;
  {
    base::AutoLock lock(lock_);
    thread = std::move(network_thread_);
  }
  NetworkThread::End(std::move(thread));
}

void AvroStatsSenderImpl::SetTrafficAllowed(bool allowed) {
  base::AutoLock lock(lock_);
  if (network_thread_)
    network_thread_->SetTrafficAllowed(allowed);
}

void AvroStatsSenderImpl::Send(std::unique_ptr<AvroStatsMessage> message) {
  base::AutoLock lock(lock_);
  if (!network_thread_) {
    LOG(ERROR) << "Attempting to send a message after sender finished";
    return;
  }
  if (message->GetVerbosityLevel() > max_verbosity_) {
    VLOG(5) << "Message " << message->GetName()
            << " will not be sent due to exceeded verbosity level";
    return;
  }
  network_thread_->SendAvroMessage(std::move(message));
}

void AvroStatsSenderImpl::SendPendingAndShutdown(base::OnceClosure reply) {
  std::unique_ptr<NetworkThread> thread;
  {
    base::AutoLock lock(lock_);
    thread = std::move(network_thread_);
  }
  // Deleting the thread waits for the last sends and joins the thread: a
  // worker that may block does it, and the caller hears back on its own
  // sequence. It blocks the scheduler's shutdown: skipped, the queue would
  // never go out and the caller would wait for a reply that never comes.
  base::PostTaskWithTraitsAndReply(
      FROM_HERE,
      base::TaskTraits()
          .MayBlock()
          .WithBaseSyncPrimitives()
          .WithShutdownBehavior(base::TaskShutdownBehavior::BLOCK_SHUTDOWN),
      base::BindOnce(&NetworkThread::End, std::move(thread)),
      std::move(reply));
}

void AvroStatsSenderImpl::SetBackOffForTesting(AvroBackOffCallback back_off) {
  base::AutoLock lock(lock_);
  if (network_thread_)
    network_thread_->SetBackOff(std::move(back_off));
}

void AvroStatsSenderImpl::SetDeadlinesForTesting(base::TimeDelta request,
                                                 base::TimeDelta shutdown) {
  base::AutoLock lock(lock_);
  if (network_thread_)
    network_thread_->SetDeadlines(request, shutdown);
}

void AvroStatsSenderImpl::SetFinalCountersObserverForTesting(
    base::OnceCallback<void(const DiagnosticCounters&)> observer) {
  base::AutoLock lock(lock_);
  if (network_thread_)
    network_thread_->SetFinalCountersObserver(std::move(observer));
}

void NullAvroStatsSender::SetTrafficAllowed(bool allowed) {}

void NullAvroStatsSender::Send(std::unique_ptr<AvroStatsMessage> message) {}

void NullAvroStatsSender::SendPendingAndShutdown(base::OnceClosure reply) {
  // Callers expect the reply after the call returns, as it comes from a
  // sender that flushes on its own thread; a thread without a loop has
  // nothing to wait for.
  if (base::ThreadTaskRunnerHandle::IsSet()) {
    base::ThreadTaskRunnerHandle::Get()->PostNonNestableTask(FROM_HERE,
                                                             std::move(reply));
  } else {
    std::move(reply).Run();
  }
}

namespace {

struct SenderSlot {
  base::Lock lock;
  std::unique_ptr<AvroStatsSender> sender{new NullAvroStatsSender()};
};

SenderSlot& GetSenderSlot() {
  static SenderSlot* const slot = new SenderSlot();
  return *slot;
}

void ReplaceSender(std::unique_ptr<AvroStatsSender> sender) {
  SenderSlot& slot = GetSenderSlot();
  {
    base::AutoLock lock(slot.lock);
    slot.sender.swap(sender);
  }
  // The previous sender ends outside the lock: a real one first sends what
  // it holds.
  sender.reset();
}

}  // namespace

// static
void AvroStatsSenderFactory::Initialize(
    std::unique_ptr<AvroMessageSerializer> serializer,
    int mode,
    uint32_t max_verbosity) {
  switch (mode) {
    case 0:
      ReplaceSender(std::make_unique<AvroStatsSenderImpl>(
          std::move(serializer), kServiceHost, kServicePort, kRequestPath, 0,
          max_verbosity));
      break;
    case 1:
      ReplaceSender(std::make_unique<AvroStatsSenderImpl>(
          std::move(serializer), kTestServerHost, kTestServerPort, kRequestPath,
          1, max_verbosity));
      break;
    default:
      LOG(ERROR) << "Unknown statistics sender mode " << mode;
      break;
  }
}

// static
void AvroStatsSenderFactory::Disable() {
  ReplaceSender(std::make_unique<NullAvroStatsSender>());
}

void InitializeAvroStatsSender(
    std::unique_ptr<AvroMessageSerializer> serializer,
    int mode,
    uint32_t max_verbosity) {
  AvroStatsSenderFactory::Initialize(std::move(serializer), mode,
                                     max_verbosity);
}

void DisableAvroStatsSender() {
  AvroStatsSenderFactory::Disable();
}

void SetAvroStatsSenderForTesting(std::unique_ptr<AvroStatsSender> sender) {
  ReplaceSender(std::move(sender));
}

AvroStatsSender* GetAvroStatsSender() {
  // The pointer outlives the lock: the sender is replaced only while the
  // process starts (and by tests), before any caller sends, so no caller
  // races a replacement.
  SenderSlot& slot = GetSenderSlot();
  base::AutoLock lock(slot.lock);
  return slot.sender.get();
}

}  // namespace installer
