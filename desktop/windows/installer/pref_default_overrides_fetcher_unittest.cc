#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
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
  }
  *base::CommandLine::ForCurrentProcess() = saved;
  // The run's tracking data went along as the body of a POST.
  ASSERT_FALSE(server.requests().empty());
  EXPECT_EQ("POST utm.source=test", server.requests().front().method + " " +
                                        server.requests().front().body);
}

}  // namespace
}  // namespace installer
