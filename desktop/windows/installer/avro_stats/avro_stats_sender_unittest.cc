#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"

#include <atomic>
#include <functional>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/post_task.h"
#include "base/task_scheduler/task_scheduler.h"
#include "base/threading/thread.h"
#include "base/test/bounded_wait.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const char kPath[] = "/v1/binary";

class FakeMessage : public AvroStatsMessage {
 public:
  FakeMessage(const std::string& name,
              uint32_t level,
              std::atomic<int>* destroyed = nullptr)
      : AvroStatsMessage(name),
        name_(name),
        level_(level),
        destroyed_(destroyed) {}
  ~FakeMessage() override {
    if (destroyed_)
      ++*destroyed_;
  }
  std::string GetName() const override { return name_; }
  uint32_t GetVerbosityLevel() const override { return level_; }

 private:
  const std::string name_;
  const uint32_t level_;
  std::atomic<int>* const destroyed_;
};

std::unique_ptr<AvroStatsMessage> Message(const std::string& name,
                                          uint32_t level = 1) {
  return std::make_unique<FakeMessage>(name, level);
}

// What the sender asked the serializer for, one entry per attempt.
struct Attempt {
  std::string name;
  DiagnosticCounters counters;
};

struct SerializerLog {
  base::Lock lock;
  std::vector<Attempt> attempts;
  bool destroyed = false;
  // Runs before each attempt, with the message's name.
  std::function<void(const std::string&)> on_serialize;

  std::vector<Attempt> Get() {
    base::AutoLock hold(lock);
    return attempts;
  }
  size_t Count() {
    base::AutoLock hold(lock);
    return attempts.size();
  }
};

// Bodies name the message and its attempt number, so that the server's
// record tells which attempt went out.
class FakeSerializer : public AvroMessageSerializer {
 public:
  explicit FakeSerializer(SerializerLog* log)
      : AvroMessageSerializer(
            "guid", "", "1.0.0.0", "developer", CampaignData()),
        log_(log) {}
  ~FakeSerializer() override {
    base::AutoLock hold(log_->lock);
    log_->destroyed = true;
  }

  std::string Serialize(const AvroStatsMessage& message,
                        const DiagnosticCounters& counters) override {
    if (log_->on_serialize)
      log_->on_serialize(message.GetName());
    base::AutoLock hold(log_->lock);
    log_->attempts.push_back({message.GetName(), counters});
    return message.GetName() + "#" +
           base::UintToString(counters.send_attempts_total);
  }

 private:
  SerializerLog* const log_;
};

// Counts the cancels of requests in flight while it lives. Under Wine
// closing a request's handle does not end the call blocked on it, so the
// cancel itself, which the sender logs, is all that shows it; the lines
// come from the sender's threads and still go out as usual.
class ScopedCancelCount {
 public:
  ScopedCancelCount() : saved_(base::logging::GetLogMessageHandler()) {
    count_ = 0;
    base::logging::SetLogMessageHandler(&ScopedCancelCount::Handle);
  }
  ~ScopedCancelCount() { base::logging::SetLogMessageHandler(saved_); }

  int count() const { return count_; }

 private:
  static bool Handle(base::logging::LogSeverity severity,
                     const char* file,
                     int line,
                     size_t message_start,
                     const std::string& str) {
    if (str.find("A statistics request ran out of time; cancelling it",
                 message_start) != std::string::npos) {
      ++count_;
    }
    return false;
  }

  static std::atomic<int> count_;
  const base::logging::LogMessageHandler saved_;
};
std::atomic<int> ScopedCancelCount::count_{0};

std::vector<std::string> Bodies(const base::LoopbackHttpServer& server) {
  std::vector<std::string> bodies;
  for (const auto& request : server.requests())
    bodies.push_back(request.body);
  return bodies;
}

class AvroStatsSenderTest : public testing::Test {
 protected:
  void SetUp() override {
    base::TaskScheduler::Create("AvroStatsSenderTest");
    const base::SchedulerWorkerPoolParams params(
        2, base::TimeDelta::FromSeconds(30));
    base::TaskScheduler::GetInstance()->Start(
        base::TaskScheduler::InitParams(params, params, params, params));
    ASSERT_TRUE(server_.Start());
    server_.Serve(kPath, 201, "");
  }

  void TearDown() override {
    sender_.reset();
    if (!scheduler_shut_down_)
      base::TaskScheduler::GetInstance()->Shutdown();
    base::TaskScheduler::GetInstance()->Join();
    base::TaskScheduler::SetInstance(nullptr);
  }

  // A sender to the test server whose retries follow at once; each retry
  // number is noted, and |on_retry| runs before the next pass.
  AvroStatsSenderImpl* MakeSender(uint32_t max_verbosity = 1,
                                  base::LoopbackHttpServer* server = nullptr) {
    sender_ = std::make_unique<AvroStatsSenderImpl>(
        std::make_unique<FakeSerializer>(&log_), "127.0.0.1",
        (server ? server : &server_)->port(), kPath, 1, max_verbosity);
    sender_->SetBackOffForTesting(base::BindRepeating(
        [](AvroStatsSenderTest* test, int retry) {
          {
            base::AutoLock hold(test->retries_lock_);
            test->retries_.push_back(retry);
          }
          if (test->on_retry_)
            test->on_retry_.Run(retry);
          return base::TimeDelta();
        },
        base::Unretained(this)));
    return sender_.get();
  }

  // Shuts the sender down and waits for its reply; false when the reply
  // did not come.
  testing::AssertionResult Shutdown() {
    base::RunLoop run_loop;
    sender_->SendPendingAndShutdown(run_loop.QuitClosure());
    return base::RunWithin(&run_loop, "the shutdown reply");
  }

  // As Shutdown, with the generous bound of a shutdown that must end
  // however the server behaves.
  testing::AssertionResult ShutdownWithinAMinute() {
    base::RunLoop run_loop;
    sender_->SendPendingAndShutdown(run_loop.QuitClosure());
    return base::RunWithin(&run_loop, "the shutdown reply",
                           base::TimeDelta::FromMinutes(1));
  }

  // The counters the network thread reports as it ends, once it has (a
  // thread left behind in a request ends when its request does).
  void ObserveFinalCounters() {
    sender_->SetFinalCountersObserverForTesting(base::BindOnce(
        [](AvroStatsSenderTest* test, const DiagnosticCounters& counters) {
          {
            base::AutoLock hold(test->final_lock_);
            test->final_counters_ = counters;
          }
          test->final_reported_.Signal();
        },
        base::Unretained(this)));
  }
  testing::AssertionResult WaitForFinalCounters(DiagnosticCounters* counters) {
    testing::AssertionResult reported =
        base::WaitWithin(&final_reported_, "the thread's final counters",
                         base::TimeDelta::FromMinutes(1));
    base::AutoLock hold(final_lock_);
    *counters = final_counters_;
    return reported;
  }

  // Retries that would come long after any test's bound.
  void WaitLongBeforeRetries() {
    sender_->SetBackOffForTesting(base::BindRepeating(
        [](int retry) { return base::TimeDelta::FromMinutes(10); }));
  }

  // Sends |messages| messages to a server that answers with |response| and
  // shuts the sender down while the first request is held; the request is
  // cancelled by whichever of |request| and |shutdown| (the deadlines)
  // passes first, before the shutdown replies. Where closing the handle
  // does not end the blocked call, the thread is left in its request, and
  // drops and counts the queue once the server is gone.
  void RunShutdownAgainst(
      base::LoopbackHttpServer::Response response,
      int messages,
      base::TimeDelta request = base::TimeDelta::FromSeconds(1),
      base::TimeDelta shutdown = base::TimeDelta::FromSeconds(2)) {
    ScopedCancelCount cancels;
    auto server = std::make_unique<base::LoopbackHttpServer>();
    ASSERT_TRUE(server->Start());
    server->Script(kPath, {response});
    AvroStatsSenderImpl* sender = MakeSender(1, server.get());
    WaitLongBeforeRetries();
    sender->SetDeadlinesForTesting(request, shutdown);
    ObserveFinalCounters();
    for (int i = 0; i < messages; ++i)
      sender->Send(Message(base::IntToString(i)));
    sender->SetTrafficAllowed(true);
    ASSERT_TRUE(base::WaitUntil(
        [&server] { return !server->requests().empty(); },
        "the request at the server", base::TimeDelta::FromMinutes(1)));
    EXPECT_TRUE(ShutdownWithinAMinute());
    EXPECT_EQ(1, cancels.count()) << "the request in flight was not cancelled";
    server.reset();
    DiagnosticCounters counters;
    ASSERT_TRUE(WaitForFinalCounters(&counters));
    EXPECT_EQ(1u, counters.dumps_total);
    EXPECT_EQ(static_cast<uint32_t>(messages), counters.dumped_messages_total);
    EXPECT_EQ(1u, counters.send_attempts_total);
  }

  std::vector<int> Retries() {
    base::AutoLock hold(retries_lock_);
    return retries_;
  }

  base::MessageLoop loop_;
  base::LoopbackHttpServer server_;
  SerializerLog log_;
  std::unique_ptr<AvroStatsSenderImpl> sender_;
  base::RepeatingCallback<void(int)> on_retry_;
  base::Lock final_lock_;
  DiagnosticCounters final_counters_;
  base::WaitableEvent final_reported_{
      base::WaitableEvent::ResetPolicy::MANUAL,
      base::WaitableEvent::InitialState::NOT_SIGNALED};
  base::Lock retries_lock_;
  std::vector<int> retries_;
  bool scheduler_shut_down_ = false;
};

TEST(AvroStatsSenderBackOffTest, DoublesFrom800MsAndSaturates) {
  const struct {
    int retry;
    base::TimeDelta delay;
  } kCases[] = {
      {1, base::TimeDelta::FromMilliseconds(800)},
      {2, base::TimeDelta::FromMilliseconds(1600)},
      {3, base::TimeDelta::FromMilliseconds(3200)},
      {4, base::TimeDelta::FromMilliseconds(6400)},
      {2000, base::TimeDelta::Max()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.retry);
    EXPECT_EQ(c.delay, AvroStatsSenderImpl::DefaultBackOff(c.retry));
  }
}

TEST_F(AvroStatsSenderTest, MessagesWaitForTrafficAndGoOutInOrder) {
  AvroStatsSenderImpl* sender = MakeSender();
  sender->Send(Message("first"));
  sender->Send(Message("second"));
  sender->SetTrafficAllowed(true);
  ASSERT_TRUE(Shutdown());
  EXPECT_EQ((std::vector<std::string>{"first#0", "second#1"}), Bodies(server_));
  const auto requests = server_.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ(kPath, requests[0].target);
  EXPECT_NE(
      std::string::npos,
      requests[0].headers.find("Content-Type: application/avro-binary\r\n"));
  EXPECT_NE(std::string::npos,
            requests[0].headers.find("X-Kavor-Writer-Schema: 293\r\n"));
  const auto attempts = log_.Get();
  ASSERT_EQ(2u, attempts.size());
  EXPECT_EQ(2u, attempts[0].counters.messages_total);
  EXPECT_EQ(1u, attempts[1].counters.successfully_sent_total);
  EXPECT_TRUE(log_.destroyed);
}

TEST_F(AvroStatsSenderTest, OnlyCreatedAndForbiddenRemoveAMessage) {
  const struct {
    int status;
    size_t requests;
  } kCases[] = {{201, 1}, {403, 1}, {200, 5}, {500, 5}, {404, 5}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    server_.Serve(kPath, c.status, "");
    const size_t before = server_.requests().size();
    MakeSender();
    sender_->SetTrafficAllowed(true);
    sender_->Send(Message("event"));
    ASSERT_TRUE(Shutdown());
    EXPECT_EQ(c.requests, server_.requests().size() - before);
  }
}

TEST_F(AvroStatsSenderTest, FifthFailureDropsTheQueueAndIsCounted) {
  server_.Serve(kPath, 500, "");
  AvroStatsSenderImpl* sender = MakeSender();
  sender->Send(Message("a"));
  sender->Send(Message("b"));
  sender->Send(Message("c"));
  sender->SetTrafficAllowed(true);
  // The fifth attempt has begun: the next message is queued after its pass.
  ASSERT_TRUE(
      base::WaitUntil([this] { return log_.Count() >= 5; }, "five attempts"));
  sender->Send(Message("d"));
  ASSERT_TRUE(Shutdown());

  const auto attempts = log_.Get();
  ASSERT_EQ(10u, attempts.size());
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ("a", attempts[i].name);
    EXPECT_EQ(i, attempts[i].counters.send_attempts_total);
    EXPECT_EQ(0u, attempts[i].counters.dumps_total);
  }
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4}), Retries());
  const DiagnosticCounters& next = attempts[5].counters;
  EXPECT_EQ("d", attempts[5].name);
  EXPECT_EQ(1u, next.dumps_total);
  EXPECT_EQ(3u, next.dumped_messages_total);
  EXPECT_EQ(4u, next.messages_total);
  EXPECT_EQ(5u, next.send_attempts_total);
  EXPECT_EQ(0u, next.successfully_sent_total);
  EXPECT_EQ(10u, server_.requests().size());
}

TEST_F(AvroStatsSenderTest, RetriedMessageGoesOutOnceTheServiceRecovers) {
  server_.Serve(kPath, 500, "");
  on_retry_ = base::BindRepeating(
      [](base::LoopbackHttpServer* server, int retry) {
        if (retry == 2)
          server->Serve(kPath, 201, "");
      },
      base::Unretained(&server_));
  AvroStatsSenderImpl* sender = MakeSender();
  sender->Send(Message("a"));
  sender->Send(Message("b"));
  sender->SetTrafficAllowed(true);
  ASSERT_TRUE(Shutdown());
  EXPECT_EQ((std::vector<std::string>{"a#0", "a#1", "a#2", "b#3"}),
            Bodies(server_));
  const auto attempts = log_.Get();
  ASSERT_EQ(4u, attempts.size());
  EXPECT_EQ(1u, attempts.back().counters.successfully_sent_total);
  EXPECT_EQ(0u, attempts.back().counters.dumps_total);
}

TEST_F(AvroStatsSenderTest, NewMessageRestartsTheRetryCount) {
  server_.Serve(kPath, 500, "");
  AvroStatsSenderImpl* sender = MakeSender();
  // Arrives while the first retry is scheduled: it joins the queue, and the
  // scheduled pass goes on with the whole queue.
  on_retry_ = base::BindRepeating(
      [](AvroStatsSenderImpl* sender, bool* sent, int retry) {
        if (!*sent) {
          *sent = true;
          sender->Send(Message("b"));
        }
      },
      base::Unretained(sender), base::Owned(new bool(false)));
  sender->SetTrafficAllowed(true);
  sender->Send(Message("a"));
  // The second attempt follows the retry that handed "b" over.
  ASSERT_TRUE(
      base::WaitUntil([this] { return log_.Count() >= 2; }, "the first retry"));
  ASSERT_TRUE(Shutdown());
  EXPECT_EQ((std::vector<int>{1, 1, 2, 3, 4}), Retries());
  const auto attempts = log_.Get();
  ASSERT_EQ(6u, attempts.size());
  EXPECT_EQ("a", attempts.back().name);
  EXPECT_EQ(6u, server_.requests().size());
  EXPECT_EQ(2u, attempts.back().counters.messages_total);
}

// Only a new message restarts the count: a queue that keeps failing after
// one success is still dumped after five failures in all.
TEST_F(AvroStatsSenderTest, SuccessDoesNotResetTheRetryCount) {
  int attempts_of_a = 0;
  log_.on_serialize = [this, &attempts_of_a](const std::string& name) {
    const bool accept = name == "c" || (name == "a" && ++attempts_of_a > 2);
    server_.Serve(kPath, accept ? 201 : 500, "");
  };
  AvroStatsSenderImpl* sender = MakeSender();
  sender->Send(Message("a"));
  sender->Send(Message("b"));
  sender->SetTrafficAllowed(true);
  ASSERT_TRUE(
      base::WaitUntil([this] { return log_.Count() >= 6; }, "six attempts"));
  sender->Send(Message("c"));
  ASSERT_TRUE(Shutdown());
  const auto attempts = log_.Get();
  std::vector<std::string> names;
  for (const auto& attempt : attempts)
    names.push_back(attempt.name);
  EXPECT_EQ((std::vector<std::string>{"a", "a", "a", "b", "b", "b", "c"}),
            names);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), Retries());
  ASSERT_EQ(7u, attempts.size());
  EXPECT_EQ(1u, attempts.back().counters.dumps_total);
  EXPECT_EQ(1u, attempts.back().counters.dumped_messages_total);
  EXPECT_EQ(1u, attempts.back().counters.successfully_sent_total);
}

// A sender shut down while the scheduler shuts down still sends its queue
// and replies: the scheduler waits for it.
TEST_F(AvroStatsSenderTest, ShutdownDuringSchedulerShutdownStillReplies) {
  AvroStatsSenderImpl* sender = MakeSender();
  sender->SetTrafficAllowed(true);
  sender->Send(Message("a"));
  // Holds the scheduler's shutdown open until the sender's is under way.
  base::WaitableEvent release(base::WaitableEvent::ResetPolicy::MANUAL,
                              base::WaitableEvent::InitialState::NOT_SIGNALED);
  base::PostTaskWithTraits(
      FROM_HERE,
      base::TaskTraits().WithBaseSyncPrimitives().WithShutdownBehavior(
          base::TaskShutdownBehavior::BLOCK_SHUTDOWN),
      base::BindOnce(&base::WaitableEvent::Wait, base::Unretained(&release)));
  base::Thread shutdown_thread("scheduler shutdown");
  ASSERT_TRUE(shutdown_thread.Start());
  shutdown_thread.task_runner()->PostTask(
      FROM_HERE,
      base::BindOnce([] { base::TaskScheduler::GetInstance()->Shutdown(); }));
  scheduler_shut_down_ = true;
  // Ordinary tasks are refused once shutdown has begun.
  base::scoped_refptr<base::TaskRunner> probe =
      base::CreateTaskRunnerWithTraits(base::TaskTraits());
  ASSERT_TRUE(base::WaitUntil(
      [&probe] { return !probe->PostTask(FROM_HERE, base::BindOnce([] {})); },
      "the scheduler's shutdown"));

  base::RunLoop run_loop;
  sender->SendPendingAndShutdown(run_loop.QuitClosure());
  release.Signal();
  EXPECT_TRUE(base::RunWithin(&run_loop, "the shutdown reply"));
  shutdown_thread.Stop();
  EXPECT_EQ(std::vector<std::string>{"a#0"}, Bodies(server_));
}

// However the senders and the shutdown interleave, each message is either
// sent once or refused, and none is kept.
TEST_F(AvroStatsSenderTest, SendsRacingTheShutdownAreSentOrRefused) {
  constexpr int kThreads = 4;
  constexpr int kMessagesPerThread = 20;
  AvroStatsSenderImpl* sender = MakeSender();
  sender->SetTrafficAllowed(true);
  std::atomic<int> destroyed{0};
  base::WaitableEvent start(base::WaitableEvent::ResetPolicy::MANUAL,
                            base::WaitableEvent::InitialState::NOT_SIGNALED);
  std::vector<std::unique_ptr<base::Thread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<base::Thread>("sending"));
    ASSERT_TRUE(threads.back()->Start());
    threads.back()->task_runner()->PostTask(
        FROM_HERE,
        base::BindOnce(
            [](AvroStatsSenderImpl* sender, base::WaitableEvent* start,
               std::atomic<int>* destroyed, int t) {
              start->Wait();
              for (int i = 0; i < kMessagesPerThread; ++i) {
                sender->Send(std::make_unique<FakeMessage>(
                    base::IntToString(t) + "." + base::IntToString(i), 1,
                    destroyed));
              }
            },
            base::Unretained(sender), base::Unretained(&start),
            base::Unretained(&destroyed), t));
  }
  start.Signal();
  ASSERT_TRUE(Shutdown());
  for (auto& thread : threads)
    thread->Stop();

  EXPECT_EQ(kThreads * kMessagesPerThread, destroyed.load());
  const auto attempts = log_.Get();
  std::set<std::string> names;
  for (const auto& attempt : attempts)
    names.insert(attempt.name);
  EXPECT_EQ(attempts.size(), names.size());
  EXPECT_EQ(attempts.size(), server_.requests().size());
  if (!attempts.empty()) {
    EXPECT_EQ(attempts.size(), attempts.back().counters.messages_total);
  }
}

// The queue left at the shutdown deadline is dropped and counted as a dump,
// as the retry limit's is; the reply does not wait for the retries.
TEST_F(AvroStatsSenderTest, ShutdownDeadlineDropsAQueueWaitingToRetry) {
  server_.Serve(kPath, 500, "");
  AvroStatsSenderImpl* sender = MakeSender();
  WaitLongBeforeRetries();
  sender->SetDeadlinesForTesting(base::TimeDelta::FromSeconds(30),
                                 base::TimeDelta::FromSeconds(1));
  ObserveFinalCounters();
  sender->Send(Message("a"));
  sender->Send(Message("b"));
  sender->SetTrafficAllowed(true);
  ASSERT_TRUE(base::WaitUntil([this] { return log_.Count() >= 1; },
                              "an attempt", base::TimeDelta::FromMinutes(1)));
  ASSERT_TRUE(ShutdownWithinAMinute());

  DiagnosticCounters final_counters;
  ASSERT_TRUE(WaitForFinalCounters(&final_counters));
  EXPECT_EQ(1u, final_counters.dumps_total);
  EXPECT_EQ(2u, final_counters.dumped_messages_total);
  EXPECT_EQ(0u, final_counters.successfully_sent_total);
  EXPECT_TRUE(log_.destroyed);
}

// A server that takes the request and never answers, or answers with a head
// that never ends, holds a request for as long as it likes; the end of the
// run does not wait for it.
TEST_F(AvroStatsSenderTest, ShutdownEndsWhileTheServerNeverAnswers) {
  base::LoopbackHttpServer::Response silent;
  silent.silent = true;
  RunShutdownAgainst(silent, 1);
}

// The shutdown's own deadline may pass first, while the request still has
// time of its own: the shutdown cancels it then rather than wait for it.
TEST_F(AvroStatsSenderTest, ShutdownDeadlineCancelsARequestWithTimeLeft) {
  base::LoopbackHttpServer::Response silent;
  silent.silent = true;
  RunShutdownAgainst(silent, 1, base::TimeDelta::FromSeconds(30),
                     base::TimeDelta::FromSeconds(1));
}

TEST_F(AvroStatsSenderTest, ShutdownEndsWhileTheServerTricklesAnEndlessHead) {
  base::LoopbackHttpServer::Response endless;
  endless.endless_header = true;
  endless.trickle_pause_ms = 300;
  RunShutdownAgainst(endless, 2);
}

TEST_F(AvroStatsSenderTest, ShutdownWithoutTrafficDropsTheQueue) {
  AvroStatsSenderImpl* sender = MakeSender();
  sender->Send(Message("a"));
  sender->Send(Message("b"));
  ASSERT_TRUE(Shutdown());
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_EQ(0u, log_.Count());
  EXPECT_TRUE(log_.destroyed);
}

TEST_F(AvroStatsSenderTest, MessagesAfterShutdownAreRefused) {
  AvroStatsSenderImpl* sender = MakeSender();
  sender->SetTrafficAllowed(true);
  sender->Send(Message("a"));
  ASSERT_TRUE(Shutdown());
  ASSERT_EQ(1u, server_.requests().size());
  base::ScopedLogLines lines(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
  sender->Send(Message("late"));
  EXPECT_EQ(
      std::vector<std::string>{
          "Attempting to send a message after sender finished"},
      lines.lines());
  EXPECT_EQ(1u, server_.requests().size());
}

TEST_F(AvroStatsSenderTest, VerbosityLimitKeepsDetailedMessagesBack) {
  AvroStatsSenderImpl* sender = MakeSender(0);
  sender->SetTrafficAllowed(true);
  sender->Send(Message("step", 1));
  sender->Send(Message("autoupdate_failed", 0));
  sender->Send(Message("page", 1));
  ASSERT_TRUE(Shutdown());
  EXPECT_EQ(std::vector<std::string>{"autoupdate_failed#0"}, Bodies(server_));
  const auto attempts = log_.Get();
  ASSERT_EQ(1u, attempts.size());
  EXPECT_EQ(1u, attempts[0].counters.messages_total);
}

TEST_F(AvroStatsSenderTest, ProcessWideSenderFollowsTheMode) {
  DisableAvroStatsSender();
  AvroStatsSender* null_sender = GetAvroStatsSender();
  SerializerLog unknown_log;
  InitializeAvroStatsSender(std::make_unique<FakeSerializer>(&unknown_log), 7,
                            1);
  EXPECT_TRUE(unknown_log.destroyed);
  EXPECT_EQ(null_sender, GetAvroStatsSender());

  SerializerLog test_server_log;
  InitializeAvroStatsSender(std::make_unique<FakeSerializer>(&test_server_log),
                            1, 1);
  EXPECT_NE(null_sender, GetAvroStatsSender());
  EXPECT_FALSE(test_server_log.destroyed);
  DisableAvroStatsSender();
  EXPECT_TRUE(test_server_log.destroyed);
}

TEST_F(AvroStatsSenderTest, NullSenderRepliesThroughTheCurrentRunner) {
  DisableAvroStatsSender();
  GetAvroStatsSender()->SetTrafficAllowed(true);
  GetAvroStatsSender()->Send(Message("dropped"));
  bool replied = false;
  base::RunLoop run_loop;
  GetAvroStatsSender()->SendPendingAndShutdown(base::BindOnce(
      [](bool* replied, base::OnceClosure quit) {
        *replied = true;
        std::move(quit).Run();
      },
      &replied, run_loop.QuitClosure()));
  EXPECT_FALSE(replied);
  ASSERT_TRUE(base::RunWithin(&run_loop, "the null sender's reply"));
  EXPECT_TRUE(replied);
}

}  // namespace
}  // namespace installer
