#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

const char kLocalPrefDefaultOverridesServerSwitch[] =
    "local-pref-default-overrides-server";

const wchar_t PrefDefaultOverridesFetcher::kFileName[] =
    L"pref_default_overrides";

namespace {

// Where a developer runs the overrides service next to the installer.
constexpr wchar_t kLocalTestServerUrl[] = L"http://127.0.0.1:3001/prefs";

}  // namespace

std::vector<std::wstring> GetPrefDefaultOverridesAllowedDomains(
    const std::wstring& company_domain) {
  std::vector<std::wstring> domains = {
      L".kavor.example",
      L".services.kavor.internal",
      L".build.kavor.internal",
      L".staging.kavor.internal",
      L"localhost",
      L"127.0.0.1",
  };
  if (company_domain != domains.front())
    domains.push_back(company_domain);
  return domains;
}

std::wstring GetPrefDefaultOverridesUrl(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(kLocalPrefDefaultOverridesServerSwitch)) {
    const std::wstring server = command_line.GetSwitchValueNative(
        kLocalPrefDefaultOverridesServerSwitch);
    return server.empty() ? kLocalTestServerUrl : server;
  }
  return base::UTF8ToWide(GetNamedUrl("autoupdate") + "api/prefs/?product=" +
                          GetProductName() + "&version=" + GetVersionString());
}

PrefDefaultOverridesFetcher::PrefDefaultOverridesFetcher(
    std::unique_ptr<WininetImpl> downloader)
    : downloader_(std::move(downloader)) {}

PrefDefaultOverridesFetcher::~PrefDefaultOverridesFetcher() {
  // Ends the request under way: once WinINet has let go of it the file is
  // closed and can go.
  downloader_.reset();
  DiscardPartialFile();
}

void PrefDefaultOverridesFetcher::DiscardPartialFile() {
  if (partial_.empty())
    return;
  if (!base::DeleteFile(partial_, false))
    PLOG(ERROR) << "Could not delete " << partial_.value();
  partial_.clear();
}

void PrefDefaultOverridesFetcher::Fetch(const base::FilePath& folder,
                                        const std::string& tracking_data,
                                        base::OnceClosure done) {
  target_ = folder.Append(kFileName);
  // The answer grows under a name of its own and takes the file's name only
  // once it is whole: another installer on the same package may read the
  // file meanwhile or fetch it too, and a cut-off answer must never look
  // like the overrides.
  partial_ = folder.Append(std::wstring(kFileName) + L"." +
                           base::UTF8ToWide(base::GenerateGUID()) + L".tmp");
  LOG(INFO) << "Fetching default prefs overrides to " << target_.value()
            << " with tracking data " << tracking_data;
  downloader_->SetAllowedDomains(GetPrefDefaultOverridesAllowedDomains(
      base::UTF8ToWide(GetCompanyDomain())));
  downloader_->SetMaxRetries(0);
  auto writer = std::make_unique<WininetResponseWriter>();
  // The tracking data of the run goes along as the downloader's payload,
  // which makes the request a POST whenever there is tracking data: the
  // downloader has no other way to carry it, and the overrides service
  // answers POST and GET alike.
  if (!writer->Open(partial_) ||
      !downloader_->Start(
          GetPrefDefaultOverridesUrl(*base::CommandLine::ForCurrentProcess()),
          tracking_data,
          // The downloader is ours and drops its completion when it goes.
          base::BindRepeating(&PrefDefaultOverridesFetcher::OnDownloadDone,
                              base::Unretained(this)),
          std::move(writer), std::make_unique<WininetDelegate>())) {
    LOG(ERROR) << "Failed sending request for default prefs overrides";
    // The writer may have made an empty file already.
    DiscardPartialFile();
    std::move(done).Run();
    return;
  }
  done_ = std::move(done);
}

void PrefDefaultOverridesFetcher::OnDownloadDone() {
  if (downloader_->GetState() != WininetImpl::STATE_COMPLETED) {
    // Only this fetch's own file goes: "pref_default_overrides" may be a
    // whole answer that another installer stored meanwhile.
    DiscardPartialFile();
    LOG(ERROR) << "Failed fetching default prefs overrides";
  } else if (!base::ReplaceFile(partial_, target_, nullptr)) {
    PLOG(ERROR) << "Could not move the default prefs overrides to "
                << target_.value();
    DiscardPartialFile();
    LOG(ERROR) << "Failed fetching default prefs overrides";
  } else {
    partial_.clear();
    LOG(INFO) << "Default prefs overrides fetched successfully";
  }
  // |done| may delete this fetcher.
  std::move(done_).Run();
}

}  // namespace installer
