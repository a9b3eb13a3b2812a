#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_RETRIEVER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_RETRIEVER_H_

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"
#include "desktop/windows/installer/package_fetcher/package_metadata.h"

namespace installer {

class WininetDownloader;

// Asks the update service which package (and which components) to fetch.
class PackageMetadataRetriever {
 public:
  // The parsed reply, or null after a failure (the reason is in the
  // thread's error record), with the statistics of the request.
  using ReplyCallback = base::OnceCallback<void(
      std::unique_ptr<PackageMetadata>, std::vector<FetchChunkStatistics>)>;

  virtual ~PackageMetadataRetriever() = default;

  // False, with the error record set, when the request could not start;
  // |callback| then never runs. Otherwise it runs once, on this thread.
  virtual bool Start(WininetDownloader* downloader,
                     const std::vector<std::string>& requested_files,
                     const std::string& server_tracking_data,
                     bool with_assistant,
                     bool additional_files_only,
                     ReplyCallback callback) = 0;
  // Drops a pending reply.
  virtual void Cancel() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_RETRIEVER_H_
