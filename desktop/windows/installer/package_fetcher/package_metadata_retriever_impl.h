#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_RETRIEVER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_RETRIEVER_IMPL_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "desktop/windows/installer/package_fetcher/package_metadata_retriever.h"

namespace installer {

// The host suffixes the metadata request (and its redirects) may reach:
// |company_domain| first when it is not the maker's public suffix, then the
// maker's public, internal and loopback hosts.
std::vector<std::wstring> GetPackageMetadataAllowedDomains(
    const std::string& company_domain);

// The metadata request URL for this build's channel. The switch
// "internal-package-server" of this process redirects it: its value is the
// whole URL; without a value the internal staging server is asked.
std::wstring GetPackageMetadataUrl(
    uint32_t package_64bit, const std::vector<std::string>& requested_files);

class PackageMetadataRetrieverImpl : public PackageMetadataRetriever {
 public:
  // Most bytes of a reply held in memory; a longer reply fails. Real
  // replies are a few KiB.
  static constexpr size_t kMaxReplySize = 4 << 20;
  // Most bytes of the reply copied into the error record of a bad reply:
  // enough for any real one, whole.
  static constexpr size_t kMaxReplyInError = 64 << 10;

  // |package_64bit| 1 asks for the x64 package.
  explicit PackageMetadataRetrieverImpl(uint32_t package_64bit);
  ~PackageMetadataRetrieverImpl() override;

  // PackageMetadataRetriever:
  bool Start(WininetDownloader* downloader,
             const std::vector<std::string>& requested_files,
             const std::string& server_tracking_data,
             bool with_assistant,
             bool additional_files_only,
             ReplyCallback callback) override;
  void Cancel() override;

 private:
  // The reply as it arrives. The downloader's writer shares it, so a
  // download that outlives this object still has somewhere to write.
  struct ReplyBuffer {
    std::string body;
    bool too_long = false;
  };
  class ReplyWriter;

  void OnDownloadDone();
  // Null, with the reason in |reason|, when the reply is unusable.
  std::unique_ptr<PackageMetadata> ParseReply(const std::string& body,
                                              std::string* reason) const;
  // Adds the components of the reply to |metadata|; false, with the thread's
  // error record set and its message in |reason|, on a broken one.
  bool ParseComponents(const base::DictionaryValue& reply,
                       PackageMetadata* metadata,
                       std::string* reason) const;
  // Adds the requested files of the test resources folder, if any.
  void AddTestResources(PackageMetadata* metadata) const;
  bool AllRequestedFilesPresent(const PackageMetadata& metadata) const;
  // Fails the reply: the error record gets |reason| and the start of the
  // body.
  void FailReply(const std::string& reason, const std::string& body);

  const uint32_t package_64bit_;
  // The reply of the request under way; null when none is.
  std::shared_ptr<ReplyBuffer> reply_;

  // The request under way.
  WininetDownloader* downloader_ = nullptr;
  std::vector<std::string> requested_files_;
  bool with_assistant_ = false;
  bool additional_files_only_ = false;
  ReplyCallback callback_;

  base::WeakPtrFactory<PackageMetadataRetrieverImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(PackageMetadataRetrieverImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_RETRIEVER_IMPL_H_
