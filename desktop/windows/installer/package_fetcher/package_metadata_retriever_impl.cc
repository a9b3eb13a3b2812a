#include "desktop/windows/installer/package_fetcher/package_metadata_retriever_impl.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/product_info.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

namespace {

// Retries of a failed connection within one metadata request.
constexpr uint32_t kMetadataMaxRetries = 2;

const char kInternalPackageServerSwitch[] = "internal-package-server";
const char kTestDownloadableResourcesDirSwitch[] =
    "test-downloadable-resources-dir";

// The maker's staging service inside its own network.
const char kInternalStagingServer[] = "http://packages.kavor.internal/";

const char kCannotParseComponent[] = "Cannot parse additional file definition";

// The downloader's error lines end in a line feed; the error record adds
// its own between context lines.
std::string TrimmedErrorText(const WininetDownloader& downloader) {
  return base::TrimWhitespaceASCII(downloader.GetErrorText(),
                                   base::TRIM_TRAILING)
      .as_string();
}

// A reply may be megabytes of anything: the record keeps its start, cut at
// a character boundary.
std::string ReplyExcerpt(const std::string& body) {
  if (body.size() <= PackageMetadataRetrieverImpl::kMaxReplyInError)
    return body;
  size_t end = PackageMetadataRetrieverImpl::kMaxReplyInError;
  while (end > 0 && (static_cast<unsigned char>(body[end]) & 0xC0) == 0x80)
    --end;
  return body.substr(0, end) + "...";
}

// Later steps compare digests as lower-case text: one written in capitals
// is taken, anything but 64 hexadecimal digits is not.
bool NormalizeSha256(std::string* digest) {
  if (digest->size() != 64)
    return false;
  for (char c : *digest) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
          (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  *digest = base::ToLowerASCII(*digest);
  return true;
}

// The kinds of location a reply may give.
enum class UrlScheme { kNotAUrl, kWeb, kFile, kOther };

UrlScheme SchemeOf(const std::wstring& url) {
  const std::optional<CrackedUrl> cracked = WininetImpl::CrackUrl(url);
  if (!cracked) {
    // Addresses of other schemes are refused before they are taken apart:
    // "ftp://..." is still a URL, just not one to fetch.
    const size_t separator = url.find(L"://");
    const bool has_scheme =
        separator != std::wstring::npos && separator > 0 &&
        std::all_of(url.begin(), url.begin() + separator, [](wchar_t c) {
          return base::IsAsciiAlpha(c) || base::IsAsciiDigit(c) || c == L'+' ||
                 c == L'-' || c == L'.';
        });
    return has_scheme ? UrlScheme::kOther : UrlScheme::kNotAUrl;
  }
  switch (cracked->scheme) {
    case INTERNET_SCHEME_HTTP:
    case INTERNET_SCHEME_HTTPS:
      return UrlScheme::kWeb;
    case INTERNET_SCHEME_FILE:
      return UrlScheme::kFile;
  }
  return UrlScheme::kOther;
}

// Sets the error record for a broken component and hands the same text on
// as the reason; |definition| adds the closing line the record gets after a
// field that could not be read.
bool ComponentFailure(const std::string& message,
                      bool definition,
                      std::string* reason) {
  SetLastInstallerError(RESULT_GENERAL_ERROR, message);
  *reason = message;
  if (definition) {
    AddLastInstallerErrorContext(kCannotParseComponent);
    *reason += std::string("\n") + kCannotParseComponent;
  }
  return false;
}

// Reads the package URL and checksum under |url_key| and |checksum_key|;
// |what| names the package in the reasons.
bool ReadPackage(const base::DictionaryValue& reply,
                 const char* url_key,
                 const char* checksum_key,
                 const std::string& what,
                 PackageMetadata* metadata,
                 std::string* reason) {
  const base::Value* url = nullptr;
  if (!reply.Get(url_key, &url)) {
    *reason = "Missing " + base::ToLowerASCII(what) + " url";
    return false;
  }
  if (!url->is_string()) {
    *reason = what + " url is not a string";
    return false;
  }
  const std::wstring wide_url = base::UTF8ToWide(url->GetString());
  // The package comes from wherever this says; only the web may be asked.
  if (SchemeOf(wide_url) != UrlScheme::kWeb) {
    *reason = what + " url is not an http or https URL";
    return false;
  }
  const base::Value* checksum = nullptr;
  if (!reply.Get(checksum_key, &checksum)) {
    *reason = "Missing " + base::ToLowerASCII(what) + " checksum";
    return false;
  }
  if (!checksum->is_string()) {
    *reason = what + " checksum is not a string";
    return false;
  }
  std::string digest = checksum->GetString();
  if (!NormalizeSha256(&digest)) {
    *reason = what + " checksum is not a SHA-256 digest";
    return false;
  }
  metadata->package_url = wide_url;
  metadata->package_checksum = digest;
  return true;
}

}  // namespace

// Keeps at most kMaxReplySize bytes; a longer reply fails the download
// rather than growing without end.
class PackageMetadataRetrieverImpl::ReplyWriter : public StringResponseWriter {
 public:
  explicit ReplyWriter(std::shared_ptr<ReplyBuffer> reply)
      : StringResponseWriter(&reply->body), reply_(std::move(reply)) {}

  bool Write(const char* data, uint32_t size) override {
    if (size > kMaxReplySize - reply_->body.size()) {
      LOG(ERROR) << "The package metadata reply exceeds " << kMaxReplySize
                 << " bytes";
      reply_->too_long = true;
      last_error_ = ERROR_FILE_TOO_LARGE;
      return false;
    }
    return StringResponseWriter::Write(data, size);
  }

 private:
  const std::shared_ptr<ReplyBuffer> reply_;

  DISALLOW_COPY_AND_ASSIGN(ReplyWriter);
};

std::vector<std::wstring> GetPackageMetadataAllowedDomains(
    const std::string& company_domain) {
  const std::wstring kMakerDomain = L".kavor.example";
  std::vector<std::wstring> domains;
  const std::wstring own = base::UTF8ToWide(company_domain);
  if (own != kMakerDomain)
    domains.push_back(own);
  for (const wchar_t* domain :
       {kMakerDomain.c_str(), L".kavor.internal", L".kavor-staging.internal",
        L".kavor.lan", L"localhost", L"127.0.0.1"}) {
    domains.push_back(domain);
  }
  return domains;
}

std::wstring GetPackageMetadataUrl(
    uint32_t package_64bit, const std::vector<std::string>& requested_files) {
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  std::wstring url =
      command_line.GetSwitchValueNative(kInternalPackageServerSwitch);
  if (url.empty()) {
    std::string built = command_line.HasSwitch(kInternalPackageServerSwitch)
                            ? kInternalStagingServer
                            : GetNamedUrl("autoupdate");
    built +=
        "v2/netinstaller/" + ProductInfoImpl::GetInstance()->GetChannelName();
    if (package_64bit == 1)
      built += "/windows/x64";
    url = base::UTF8ToWide(built);
  }
  if (!requested_files.empty()) {
    url += url.find(L'?') == std::wstring::npos ? L"?" : L"&";
    url += L"additional_files=";
    for (const std::string& file : requested_files)
      url += base::UTF8ToWide(file) + L",";
    url.pop_back();
  }
  return url;
}

PackageMetadataRetrieverImpl::PackageMetadataRetrieverImpl(
    uint32_t package_64bit)
    : package_64bit_(package_64bit) {}

PackageMetadataRetrieverImpl::~PackageMetadataRetrieverImpl() = default;

bool PackageMetadataRetrieverImpl::Start(
    WininetDownloader* downloader,
    const std::vector<std::string>& requested_files,
    const std::string& server_tracking_data,
    bool with_assistant,
    bool additional_files_only,
    ReplyCallback callback) {
  LOG(INFO) << "Preparing to fetch the download URL";
  // Nothing of an earlier request may answer this one.
  weak_factory_.InvalidateWeakPtrs();
  downloader->SetAllowedDomains(GetPackageMetadataAllowedDomains(
      ProductInfoImpl::GetInstance()->GetCompanyDomain()));
  // The request is small and the fetcher retries it on its own: an
  // unreachable service ends the attempt after a few tries instead of the
  // hour a package download may wait for its connection. The default is
  // back once the request ends.
  downloader->SetMaxRetries(kMetadataMaxRetries);
  const std::wstring url =
      GetPackageMetadataUrl(package_64bit_, requested_files);
  LOG(INFO) << "Fetching the download URL " << url;
  downloader_ = downloader;
  requested_files_ = requested_files;
  with_assistant_ = with_assistant;
  additional_files_only_ = additional_files_only;
  callback_ = std::move(callback);
  // A fresh buffer: a download Cancel left behind may still write into the
  // old one.
  reply_ = std::make_shared<ReplyBuffer>();
  if (!downloader->Start(
          url, server_tracking_data,
          base::BindRepeating(&PackageMetadataRetrieverImpl::OnDownloadDone,
                              weak_factory_.GetWeakPtr()),
          std::make_unique<ReplyWriter>(reply_),
          std::make_unique<RequestStatsCollector>())) {
    callback_.Reset();
    downloader_ = nullptr;
    reply_.reset();
    downloader->SetMaxRetries(WininetImpl::kDefaultMaxRetries);
    SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                          TrimmedErrorText(*downloader));
    AddLastInstallerErrorContext("Failed starting fetching the download URL");
    return false;
  }
  return true;
}

void PackageMetadataRetrieverImpl::Cancel() {
  weak_factory_.InvalidateWeakPtrs();
  callback_.Reset();
  downloader_ = nullptr;
  reply_.reset();
}

void PackageMetadataRetrieverImpl::OnDownloadDone() {
  if (!callback_)
    return;
  ReplyCallback callback = std::move(callback_);
  WininetDownloader* const downloader = downloader_;
  downloader_ = nullptr;
  // The downloader is shared: whatever comes next on it (the package, or
  // in additional-files-only mode the components at once) may wait for its
  // connection as long as a package download does.
  downloader->SetMaxRetries(WininetImpl::kDefaultMaxRetries);
  std::vector<FetchChunkStatistics> statistics =
      downloader->GetChunkStatistics();
  const int32_t state = downloader->GetState();
  if (state != WininetDownloader::STATE_COMPLETED) {
    SetLastInstallerError(RESULT_GENERAL_ERROR, TrimmedErrorText(*downloader));
    if (reply_->too_long) {
      AddLastInstallerErrorContext(
          base::StringPrintf("Package metadata reply is longer than %u bytes",
                             static_cast<unsigned>(kMaxReplySize)));
    }
    AddLastInstallerErrorContext(base::StringPrintf(
        "Package metadata download failed with state: *%d*", state));
    reply_.reset();
    // The callback may delete this object.
    std::move(callback).Run(nullptr, std::move(statistics));
    return;
  }
  const std::string body = std::move(reply_->body);
  reply_.reset();
  std::string reason;
  std::unique_ptr<PackageMetadata> metadata = ParseReply(body, &reason);
  if (!metadata)
    FailReply(reason, body);
  std::move(callback).Run(std::move(metadata), std::move(statistics));
}

std::unique_ptr<PackageMetadata> PackageMetadataRetrieverImpl::ParseReply(
    const std::string& body, std::string* reason) const {
  VLOG(1) << "Parsing the fetched URL";
  int error_code = 0;
  std::string error_message;
  std::unique_ptr<base::Value> value = base::JSONReader::ReadAndReturnError(
      body, 0, &error_code, &error_message);
  if (!value) {
    LOG(ERROR) << "The package metadata reply is not JSON: " << error_message;
    *reason = "Invalid JSON";
    return nullptr;
  }
  base::DictionaryValue* dictionary = nullptr;
  if (!value->GetAsDictionary(&dictionary)) {
    *reason = "Content is not a dictionary";
    return nullptr;
  }
  auto metadata = std::make_unique<PackageMetadata>();
  metadata->reply.reset(static_cast<base::DictionaryValue*>(value.release()));
  const base::DictionaryValue& reply = *metadata->reply;

  if (!ParseComponents(reply, metadata.get(), reason))
    return nullptr;
  AddTestResources(metadata.get());
  const bool all_present = AllRequestedFilesPresent(*metadata);

  if (additional_files_only_) {
    metadata->minimal = all_present;
    return metadata;
  }
  if (!requested_files_.empty() && all_present) {
    metadata->minimal = true;
    std::string url, checksum;
    reply.GetString("minimal_installer", &url);
    reply.GetString("minimal_installer_checksum", &checksum);
    // Without a minimal package on offer the full one is fetched.
    if (!url.empty() && !checksum.empty()) {
      if (!ReadPackage(reply, "minimal_installer", "minimal_installer_checksum",
                       "Minimal package", metadata.get(), reason)) {
        return nullptr;
      }
      return metadata;
    }
  }
  if (!ReadPackage(reply, "installer", "installer_checksum", "Full package",
                   metadata.get(), reason)) {
    return nullptr;
  }
  return metadata;
}

bool PackageMetadataRetrieverImpl::ParseComponents(
    const base::DictionaryValue& reply,
    PackageMetadata* metadata,
    std::string* reason) const {
  const base::ListValue* components = nullptr;
  if (!reply.GetList("components", &components))
    return true;
  const bool test_resources = base::CommandLine::ForCurrentProcess()->HasSwitch(
      kTestDownloadableResourcesDirSwitch);
  for (size_t i = 0; i < components->GetSize(); ++i) {
    const base::DictionaryValue* component = nullptr;
    if (!components->GetDictionary(i, &component)) {
      return ComponentFailure("One of received components is not a dictionary",
                              false, reason);
    }
    std::string location, type, checksum;
    int archive = 0;
    if (!component->GetString("location", &location) ||
        !component->GetString("type", &type) ||
        !component->GetInteger("archive", &archive) ||
        !component->GetStringASCII("checksum", &checksum)) {
      return ComponentFailure(
          "One of required fields is missing in json component definition",
          true, reason);
    }
    auto file = std::make_unique<AdditionalFile>();
    if (type == "downloadable_resource" || type == "partner_content") {
      file->kind = type == "partner_content"
                       ? ADDITIONAL_FILE_PARTNER_CONTENT
                       : ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE;
      std::string name;
      if (!component->GetString("filename", &name)) {
        return ComponentFailure(
            "Failed parsing additional file name in JSON reply", true, reason);
      }
      // Only what is kept matters: a resource nobody asked for, whatever its
      // name, must not fail the reply.
      if (file->kind == ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE &&
          std::find(requested_files_.begin(), requested_files_.end(), name) ==
              requested_files_.end()) {
        VLOG(1) << "Skipping downloadable resource not requested: " << name;
        continue;
      }
      // The name is joined to the package folder: it must stay inside.
      base::FilePath relative;
      std::string unsafe;
      if (!MakeSafeRelativePath(base::UTF8ToWide(name), &relative, &unsafe)) {
        LOG(ERROR) << "Refusing additional file name " << name << ": "
                   << unsafe;
        return ComponentFailure(
            "Failed parsing additional file name in JSON reply", true, reason);
      }
      file->file_name = base::UTF8ToWide(name);
    } else if (with_assistant_) {
      file->kind = ADDITIONAL_FILE_ASSISTANT;
    } else {
      VLOG(1) << "Skipping component of type " << type;
      continue;
    }
    file->location = base::UTF8ToWide(location);
    const UrlScheme scheme = SchemeOf(file->location);
    if (scheme == UrlScheme::kNotAUrl) {
      return ComponentFailure("Additional file location is not a URL", true,
                              reason);
    }
    if (scheme == UrlScheme::kFile) {
      if (!test_resources) {
        LOG(WARNING) << "Skipping local component " << location;
        continue;
      }
      file->remote = 0;
    } else if (scheme == UrlScheme::kWeb) {
      file->remote = 1;
    } else {
      return ComponentFailure(
          "Additional file location is not an http, https or file URL", true,
          reason);
    }
    if (!NormalizeSha256(&checksum)) {
      return ComponentFailure(
          "Additional file checksum is not a SHA-256 digest", true, reason);
    }
    file->checksum = checksum;
    file->plain_file = archive == 0 ? 1 : 0;
    metadata->components.push_back(std::move(file));
  }
  return true;
}

void PackageMetadataRetrieverImpl::AddTestResources(
    PackageMetadata* metadata) const {
  const base::FilePath folder =
      base::CommandLine::ForCurrentProcess()->GetSwitchValuePath(
          kTestDownloadableResourcesDirSwitch);
  if (folder.empty() || !base::DirectoryExists(folder))
    return;
  base::FileEnumerator files(folder, true, base::FileEnumerator::FILES);
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    base::FilePath relative;
    if (!folder.AppendRelativePath(path, &relative))
      continue;
    const std::wstring& name = relative.value();
    // The request may spell a sub-folder with either separator; the
    // component keeps the requested spelling, which the minimal check and
    // the callers compare with.
    const auto requested =
        std::find_if(requested_files_.begin(), requested_files_.end(),
                     [&name](const std::string& file) {
                       std::wstring wide = base::UTF8ToWide(file);
                       std::replace(wide.begin(), wide.end(), L'/', L'\\');
                       return wide == name;
                     });
    if (requested == requested_files_.end())
      continue;
    std::string checksum;
    int64_t length = 0;
    // Hashed without reading the file into memory; an empty expectation
    // never matches, the digest is what is wanted.
    CheckFileChecksum(path, std::string(), nullptr, &checksum, &length);
    if (checksum.empty()) {
      LOG(WARNING) << "Cannot read test resource " << path.value();
      continue;
    }
    auto file = std::make_unique<AdditionalFile>();
    std::wstring location = path.value();
    std::replace(location.begin(), location.end(), L'\\', L'/');
    file->location = L"file:///" + location;
    file->file_name = base::UTF8ToWide(*requested);
    file->plain_file = 1;
    file->checksum = checksum;
    file->kind = ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE;
    file->remote = 0;
    metadata->components.push_back(std::move(file));
  }
}

bool PackageMetadataRetrieverImpl::AllRequestedFilesPresent(
    const PackageMetadata& metadata) const {
  for (const std::string& requested : requested_files_) {
    const std::wstring name = base::UTF8ToWide(requested);
    if (std::none_of(metadata.components.begin(), metadata.components.end(),
                     [&name](const std::unique_ptr<AdditionalFile>& file) {
                       return file->file_name == name;
                     })) {
      return false;
    }
  }
  return true;
}

void PackageMetadataRetrieverImpl::FailReply(const std::string& reason,
                                             const std::string& body) {
  const std::string message = "Failed parsing json reply: " + reason;
  LOG(ERROR) << message;
  SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                        message + " " + ReplyExcerpt(body));
}

}  // namespace installer
