#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

#include <utility>

#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

const wchar_t PrefDefaultOverridesFetcher::kFileName[] =
    L"pref_default_overrides";

// Placeholder bodies until the fetcher lands.
PrefDefaultOverridesFetcher::PrefDefaultOverridesFetcher(
    std::unique_ptr<WininetImpl> downloader)
    : downloader_(std::move(downloader)) {}

PrefDefaultOverridesFetcher::~PrefDefaultOverridesFetcher() = default;

void PrefDefaultOverridesFetcher::Fetch(const base::FilePath&,
                                        const std::string&,
                                        base::OnceClosure done) {
  std::move(done).Run();
}

void PrefDefaultOverridesFetcher::OnDownloadDone() {}

}  // namespace installer
