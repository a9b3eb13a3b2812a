#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/single_thread_task_runner.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

// What the package fetcher reports to the front end's controller.
class PackageFetcherDelegate {
 public:
  virtual ~PackageFetcherDelegate() = default;
  virtual void NotifyPackageFetcherStatusChanged(int status) = 0;
  virtual void NotifyPackageReady(const base::FilePath& folder) = 0;
  virtual void NotifyPackageFetcherError(
      int kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) = 0;
  virtual void SetTotalProgress(uint32_t bytes) = 0;
  virtual void SetCurrentProgress(uint32_t bytes) = 0;
  virtual void NotifyStalled() = 0;
};

// The fetcher's delegate on its own thread: reposts every report to the
// thread that made the proxy, where the controller lives. Reports that
// arrive after the controller is gone are dropped.
class PackageFetcherDelegateProxy : public PackageFetcherDelegate,
                                    public UICallbackRunner {
 public:
  PackageFetcherDelegateProxy(base::WeakPtr<UICallbackRunner> ui_runner,
                              base::WeakPtr<PackageFetcherDelegate> delegate);
  ~PackageFetcherDelegateProxy() override;

  // PackageFetcherDelegate:
  void NotifyPackageFetcherStatusChanged(int status) override;
  void NotifyPackageReady(const base::FilePath& folder) override;
  void NotifyPackageFetcherError(
      int kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) override;
  void SetTotalProgress(uint32_t bytes) override;
  void SetCurrentProgress(uint32_t bytes) override;
  void NotifyStalled() override;

  // UICallbackRunner: the callback runs on the controller's thread (or not
  // at all, as the controller decides); the reply comes to |reply_runner|.
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override;

 private:
  const base::scoped_refptr<base::SingleThreadTaskRunner> owner_runner_;
  const base::WeakPtr<UICallbackRunner> ui_runner_;
  const base::WeakPtr<PackageFetcherDelegate> delegate_;

  DISALLOW_COPY_AND_ASSIGN(PackageFetcherDelegateProxy);
};

// The package fetcher as far as this build has one: it lives on its own
// thread and is deleted there. Downloading a package comes with package
// acquisition; until then every fetch ends in a fetcher error, so a front
// end that needs a download ends with a failure rather than a success.
class PackageFetcher {
 public:
  static const char kNotAvailableError[];

  PackageFetcher(
      base::scoped_refptr<base::SingleThreadTaskRunner> fetcher_runner,
      std::unique_ptr<PackageFetcherDelegateProxy> proxy);
  ~PackageFetcher();

  void SetUseMinimalPackage(const std::vector<std::string>& resources);
  void EnableAdditionalFiles();
  // Starts the fetch sequence again.
  void Restart();
  // True when another attempt was started.
  bool Retry();

 private:
  void RunFetch();

  const base::scoped_refptr<base::SingleThreadTaskRunner> fetcher_runner_;
  std::unique_ptr<PackageFetcherDelegateProxy> proxy_;
  std::vector<std::string> minimal_resources_;
  bool additional_files_ = false;

  DISALLOW_COPY_AND_ASSIGN(PackageFetcher);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
