#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

#include <winsock2.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/test/bounded_wait.h"
#include "base/test/loopback_http_server.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(PrefDefaultOverridesUrlTest, SwitchValueElseLocalServerElseService) {
  const struct {
    std::vector<std::wstring> args;
    const wchar_t* url;
  } kCases[] = {
      {{L"--local-pref-default-overrides-server=http://127.0.0.1:8/p"},
       L"http://127.0.0.1:8/p"},
      {{L"--local-pref-default-overrides-server="},
       L"http://127.0.0.1:3001/prefs"},
      {{},
       L"https://autoupdate.kavor.example/api/prefs/"
       L"?product=Kavor&version=47.0.4127.0"},
  };
  for (const auto& c : kCases) {
    base::CommandLine::StringVector argv = {L"setup.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const base::CommandLine command_line(argv);
    EXPECT_EQ(c.url, GetPrefDefaultOverridesUrl(command_line))
        << command_line.GetCommandLineString();
  }
}

TEST(PrefDefaultOverridesDomainsTest, AnotherCompanyDomainGoesLast) {
  std::vector<std::wstring> domains =
      GetPrefDefaultOverridesAllowedDomains(L".kavor.example");
  domains.push_back(L".other.example");
  EXPECT_EQ(domains, GetPrefDefaultOverridesAllowedDomains(L".other.example"));
}

struct NoUiRunner : UICallbackRunner {
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {}
};

// The names of everything in |folder|, sorted.
std::vector<std::wstring> FolderEntries(const base::FilePath& folder) {
  std::vector<std::wstring> names;
  base::FileEnumerator entries(
      folder, false,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath entry = entries.Next(); !entry.empty();
       entry = entries.Next()) {
    names.push_back(entry.BaseName().value());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A port on 127.0.0.1 that takes connections (the system's backlog does)
// but never answers: a request to it stays under way until it is dropped.
class SilentServer {
 public:
  SilentServer() {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~SilentServer() {
    Close();
    if (started_)
      ::WSACleanup();
  }
  // Resets the connections waiting in the backlog.
  void Close() {
    if (socket_ != INVALID_SOCKET)
      ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
  bool Listen() {
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (socket_ == INVALID_SOCKET ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address),
               sizeof(address)) != 0 ||
        ::listen(socket_, SOMAXCONN) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address),
                      &length) != 0) {
      return false;
    }
    port_ = ntohs(address.sin_port);
    return true;
  }
  std::wstring Url() const {
    return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/prefs";
  }

 private:
  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

// Points the fetch of this process at |url| while it lives.
class ScopedOverridesServer {
 public:
  explicit ScopedOverridesServer(const std::wstring& url)
      : saved_(*base::CommandLine::ForCurrentProcess()) {
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
        kLocalPrefDefaultOverridesServerSwitch, url);
  }
  ~ScopedOverridesServer() { *base::CommandLine::ForCurrentProcess() = saved_; }

 private:
  const base::CommandLine saved_;
};

// The fetch reads the URL from the process's command line; each case sets
// it and the original comes back afterwards.
TEST(PrefDefaultOverridesFetcherTest, KeepsOnlyAFullAnswer) {
  base::MessageLoop loop;
  base::LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  server.Serve("/prefs", 200, "{\"browser\":{\"show_home\":true}}");
  const base::CommandLine saved = *base::CommandLine::ForCurrentProcess();
  const struct {
    std::wstring url;
    bool sent;
    const char* stored;  // Null: no file.
  } kCases[] = {
      {server.Url("/prefs"), true, "{\"browser\":{\"show_home\":true}}"},
      {server.Url("/missing"), true, nullptr},
      {L"no url", false, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    base::ScopedTempDir folder;
    ASSERT_TRUE(folder.CreateUniqueTempDir());
    *base::CommandLine::ForCurrentProcess() = saved;
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
        "local-pref-default-overrides-server", c.url);
    NoUiRunner ui_runner;
    PrefDefaultOverridesFetcher fetcher(
        std::make_unique<WininetImpl>(&ui_runner, nullptr));
    base::RunLoop run_loop;
    int done = 0;
    fetcher.Fetch(folder.GetPath(), "utm.source=test",
                  base::BindOnce(
                      [](int* done, base::RepeatingClosure quit) {
                        ++*done;
                        quit.Run();
                      },
                      &done, run_loop.QuitClosure()));
    // A request that could not be sent is done at once.
    EXPECT_EQ(c.sent ? 0 : 1, done);
    if (c.sent) {
      EXPECT_TRUE(base::RunWithin(&run_loop, "the fetch"));
    }
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
    EXPECT_EQ(1, done);

    const base::FilePath file =
        folder.GetPath().Append(PrefDefaultOverridesFetcher::kFileName);
    std::string stored;
    EXPECT_EQ(c.stored != nullptr, base::ReadFileToString(file, &stored));
    EXPECT_EQ(c.stored ? c.stored : "", stored);
    // Nothing else is left behind, neither on success nor on failure.
    EXPECT_EQ(c.stored ? std::vector<std::wstring>{L"pref_default_overrides"}
                       : std::vector<std::wstring>(),
              FolderEntries(folder.GetPath()));
  }
  *base::CommandLine::ForCurrentProcess() = saved;
  // The run's tracking data went along as the body of a POST.
  ASSERT_FALSE(server.requests().empty());
  EXPECT_EQ("POST utm.source=test", server.requests().front().method + " " +
                                        server.requests().front().body);
}

// Two installers on one package both fetch into its folder; the one that is
// refused the installer mutex drops its fetch half-way. Neither a fetch
// under way nor a dropped one may show as "pref_default_overrides", nor
// spoil the whole answer the other stored.
TEST(PrefDefaultOverridesFetcherTest, OnlyAWholeAnswerTakesTheFileName) {
  base::MessageLoop loop;
  base::ScopedTempDir folder;
  ASSERT_TRUE(folder.CreateUniqueTempDir());
  const base::FilePath file =
      folder.GetPath().Append(PrefDefaultOverridesFetcher::kFileName);
  NoUiRunner ui_runner;

  SilentServer silent;
  ASSERT_TRUE(silent.Listen());
  auto dropped = std::make_unique<PrefDefaultOverridesFetcher>(
      std::make_unique<WininetImpl>(&ui_runner, nullptr));
  bool dropped_done = false;
  {
    ScopedOverridesServer server(silent.Url());
    dropped->Fetch(
        folder.GetPath(), "utm.source=refused",
        base::BindOnce([](bool* done) { *done = true; }, &dropped_done));
  }
  EXPECT_FALSE(base::PathExists(file)) << "a fetch under way shows as whole";

  base::LoopbackHttpServer answering;
  ASSERT_TRUE(answering.Start());
  answering.Serve("/prefs", 200, "{\"browser\":{}}");
  PrefDefaultOverridesFetcher winner(
      std::make_unique<WininetImpl>(&ui_runner, nullptr));
  base::RunLoop run_loop;
  {
    ScopedOverridesServer server(answering.Url("/prefs"));
    winner.Fetch(folder.GetPath(), "utm.source=winner", run_loop.QuitClosure());
  }
  ASSERT_TRUE(base::RunWithin(&run_loop, "the winner's fetch"));
  std::string stored;
  EXPECT_TRUE(base::ReadFileToString(file, &stored));
  EXPECT_EQ("{\"browser\":{}}", stored);

  // Wine's WinINet waits out its receive time-out even when the request's
  // handle is closed; the server going away ends the wait at once. Its
  // outcome never reaches the fetcher: the fetcher is gone before this
  // thread's loop runs again.
  silent.Close();
  dropped.reset();
  EXPECT_FALSE(dropped_done);
  stored.clear();
  EXPECT_TRUE(base::ReadFileToString(file, &stored));
  EXPECT_EQ("{\"browser\":{}}", stored) << "the dropped fetch spoilt the file";
  EXPECT_EQ(std::vector<std::wstring>{L"pref_default_overrides"},
            FolderEntries(folder.GetPath()));
}

}  // namespace
}  // namespace installer
