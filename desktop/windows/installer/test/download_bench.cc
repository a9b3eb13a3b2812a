// Downloads one URL into a file with the installer's downloader, as the
// package download does, for scripts/bench_download.sh.
//   kavor_download_bench.exe URL FILE
// Prints the size and the seconds taken. Exit code: 0 completed, 1 failed,
// 2 bad usage.

#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include <memory>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/time/time.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace {

// The download never asks for proxy credentials here.
class NoUiRunner : public installer::UICallbackRunner {
 public:
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {
    reply_runner->PostTask(FROM_HERE, base::BindOnce(std::move(reply), 0));
  }
};

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc != 3) {
    fprintf(stderr, "usage: kavor_download_bench.exe URL FILE\n");
    return 2;
  }
  base::AtExitManager at_exit;
  base::MessageLoop loop;
  NoUiRunner ui_runner;
  installer::WininetImpl downloader(&ui_runner, nullptr);
  auto writer = std::make_unique<installer::WininetResponseWriter>();
  if (!writer->Open(base::FilePath(argv[2])))
    return 1;
  base::RunLoop run_loop;
  const base::TimeTicks start = base::TimeTicks::Now();
  if (!downloader.Start(
          argv[1], std::string(), run_loop.QuitClosure(), std::move(writer),
          std::make_unique<installer::DownloadStatsCollector>())) {
    fprintf(stderr, "%s", downloader.GetErrorText().c_str());
    return 1;
  }
  run_loop.Run();
  const double seconds = (base::TimeTicks::Now() - start).InSecondsF();
  if (downloader.GetState() != installer::WininetImpl::STATE_COMPLETED) {
    fprintf(stderr, "%s", downloader.GetErrorText().c_str());
    return 1;
  }
  printf("%u bytes in %.3f s\n", downloader.GetDownloadedSize(), seconds);
  return 0;
}
