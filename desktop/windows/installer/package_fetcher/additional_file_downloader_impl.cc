#include "desktop/windows/installer/package_fetcher/additional_file_downloader_impl.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/package_fetcher/package_version_checker.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

namespace {

// A file is fetched at most this many times.
const uint32_t kMaxAttempts = 3;

const wchar_t kFilesListName[] = L"files_list";

const char kBadNameMessage[] =
    "Failed parsing additional file name in JSON reply";

// The package folder's own files: a component may not take their names
// even before they are written.
const wchar_t* const kPackageFolderNames[] = {L"installer_prefs_include.json",
                                              L"files_list",
                                              L"ready",
                                              L"package_version",
                                              L"server_tracking_data",
                                              L"installer.exe",
                                              L"kavor_installer.dll",
                                              L"kavor_package"};

bool FailPlacement(const std::string& message) {
  LOG(ERROR) << message;
  return SetLastInstallerError(RESULT_GENERAL_ERROR, message);
}

void DeleteTemporaryFile(const base::FilePath& file) {
  if (!file.empty() && !base::DeleteFile(file, false))
    LOG(WARNING) << "Cannot delete " << file.value();
}

// The name, relative to |folder|, that the system gives the file opened as
// |folder|\|relative|: it drops trailing dots and blanks, so "a.txt." is
// written as "a.txt".
bool WrittenRelativePath(const base::FilePath& folder,
                         const base::FilePath& relative,
                         base::FilePath* written) {
  // Within MAX_PATH, as the moves that follow are.
  std::wstring full_folder = base::MakeAbsoluteFilePath(folder).value();
  const std::wstring full_file =
      base::MakeAbsoluteFilePath(folder.Append(relative)).value();
  if (full_folder.empty() || full_file.empty())
    return false;
  if (full_folder.back() != L'\\')
    full_folder += L'\\';
  if (full_file.size() <= full_folder.size() ||
      !base::StartsWith(full_file, full_folder,
                        base::CompareCase::INSENSITIVE_ASCII)) {
    return false;
  }
  *written = base::FilePath(full_file.substr(full_folder.size()));
  return true;
}

bool IsPackageFolderName(const base::FilePath& relative) {
  return std::any_of(std::begin(kPackageFolderNames),
                     std::end(kPackageFolderNames), [&](const wchar_t* name) {
                       return base::FilePath::CompareIgnoreCase(
                                  relative.value(), name) == 0;
                     });
}

// A fresh folder inside |folder|: nothing else writes into it.
bool CreateStagingFolder(const base::FilePath& folder,
                         base::FilePath* staging) {
  for (int i = 0; i < 100; ++i) {
    *staging = folder.Append(L"unpacking" + base::IntToString16(i));
    if (::CreateDirectoryW(staging->value().c_str(), nullptr))
      return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  return false;
}

// Moves everything in |staging| but |skip| into |folder|; nothing of
// |folder| is replaced. All or nothing: a name already taken moves none,
// and a failed move takes back what was moved.
bool MoveUnpackedFiles(const base::FilePath& staging,
                       const base::FilePath& skip,
                       const base::FilePath& folder) {
  std::vector<base::FilePath> names;
  base::FileEnumerator entries(
      staging, false,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath entry = entries.Next(); !entry.empty();
       entry = entries.Next()) {
    if (base::FilePath::CompareIgnoreCase(entry.value(), skip.value()) == 0)
      continue;
    if (base::PathExists(folder.Append(entry.BaseName()))) {
      LOG(ERROR) << "The component's " << entry.BaseName().value()
                 << " is already in " << folder.value();
      return false;
    }
    names.push_back(entry.BaseName());
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (!::MoveFileExW(staging.Append(names[i]).value().c_str(),
                       folder.Append(names[i]).value().c_str(), 0)) {
      LOG(ERROR) << "Cannot move " << names[i].value() << " to "
                 << folder.value() << ": error " << ::GetLastError();
      while (i-- > 0)
        base::DeleteFile(folder.Append(names[i]), true);
      return false;
    }
  }
  return true;
}

// The local file a "file:///" location names. The cracked path may keep the
// slash before the drive ("/C:/dir/name").
base::FilePath LocalFileFromUrlPath(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.size() >= 3 && path[0] == L'\\' && base::IsAsciiAlpha(path[1]) &&
      path[2] == L':') {
    path.erase(0, 1);
  }
  return base::FilePath(path);
}

}  // namespace

AdditionalFileDownloaderImpl::AdditionalFileDownloaderImpl() = default;
AdditionalFileDownloaderImpl::~AdditionalFileDownloaderImpl() = default;

bool AdditionalFileDownloaderImpl::DownloadAdditionalFile(
    const base::FilePath& folder,
    WininetDownloader* downloader,
    std::unique_ptr<AdditionalFile> entry,
    bool minimal,
    bool additional_files_only,
    FileCallback callback) {
  LOG(INFO) << "Preparing to download an additional file";
  entry_ = std::move(entry);
  download_folder_ = folder;
  callback_ = std::move(callback);
  // A downloadable resource belongs to a minimal package or to a fetch of
  // components alone; a full package already holds it.
  if (!entry_ || (entry_->kind == ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE &&
                  !minimal && !additional_files_only)) {
    entry_.reset();
    callback_.Reset();
    return false;
  }
  TakeTemporaryFile();
  if (Fetch(downloader))
    return true;
  entry_.reset();
  callback_.Reset();
  return false;
}

void AdditionalFileDownloaderImpl::TakeTemporaryFile() {
  entry_->downloaded_file = download_folder_.Append(
      L"additional_file" + base::UintToString16(temporary_file_counter_) +
      L".tmp");
  ++temporary_file_counter_;
}

bool AdditionalFileDownloaderImpl::Fetch(WininetDownloader* downloader) {
  if (entry_->remote != 1)
    return CopyLocalFile();
  if (!downloader) {
    LOG(ERROR) << "No downloader for an additional file";
    return false;
  }
  return AttemptDownload(downloader);
}

bool AdditionalFileDownloaderImpl::AttemptDownload(
    WininetDownloader* downloader) {
  auto writer = std::make_unique<WininetResponseWriter>();
  if (!writer->Open(entry_->downloaded_file)) {
    LOG(ERROR) << "Cannot open " << entry_->downloaded_file.value()
               << " for an additional file";
    return false;
  }
  const base::RepeatingClosure done =
      base::BindRepeating(&AdditionalFileDownloaderImpl::OnFileDownloaded,
                          weak_factory_.GetWeakPtr(), downloader);
  if (!downloader->Start(entry_->location, std::string(), done,
                         std::move(writer),
                         std::make_unique<RequestStatsCollector>())) {
    LOG(ERROR) << "Failed downloading additional file";
    // Through the completion, so that a refused start is retried like any
    // other failure.
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE_WITH_EXPLICIT_FUNCTION("AttemptDownload"), done);
  }
  return true;
}

bool AdditionalFileDownloaderImpl::CopyLocalFile() {
  const std::optional<CrackedUrl> url = WininetImpl::CrackUrl(entry_->location);
  if (!url) {
    LOG(ERROR) << "Cannot parse the location of a test additional file";
    return false;
  }
  const base::FilePath source = LocalFileFromUrlPath(url->path);
  const bool copied = base::CopyFile(source, entry_->downloaded_file);
  LOG(INFO) << "Copying test additional file " << source.value() << " "
            << (copied ? "succeeded" : "failed");
  // A failed copy fails its checksum and is retried like a download. No
  // downloader took part: the copy has no chunk statistics, and a retry
  // must not ask about the last download's attempts.
  base::ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION("DownloadAdditionalFile"),
      base::BindOnce(&AdditionalFileDownloaderImpl::OnFileDownloaded,
                     weak_factory_.GetWeakPtr(),
                     static_cast<WininetDownloader*>(nullptr)));
  return true;
}

void AdditionalFileDownloaderImpl::OnFileDownloaded(
    WininetDownloader* downloader) {
  if (!entry_)
    return;
  const char* kind_name = AdditionalFileKindName(entry_->kind);
  const std::string location = base::WideToUTF8(entry_->location);
  const bool remote = entry_->remote == 1;
  if (!remote || downloader->GetState() == WininetDownloader::STATE_COMPLETED) {
    std::string actual;
    int64_t length = 0;
    if (CheckFileChecksum(entry_->downloaded_file, entry_->checksum, nullptr,
                          &actual, &length)) {
      Finish(true, downloader);
      return;
    }
    LOG(ERROR) << "Bad checksum for additional component " << kind_name << " "
               << location << " actual " << actual << " expected "
               << entry_->checksum << ", file length " << length;
  } else {
    LOG(ERROR) << "Failed downloading additional component " << kind_name << " "
               << location << ". Wininet state: " << downloader->GetState();
  }

  const uint32_t attempts = entry_->attempts++;
  // A downloader that already retried on its own has had its tries: one
  // more fetch would only multiply them.
  const bool first_attempt = !downloader || downloader->IsFirstAttempt();
  if (attempts + 1 < kMaxAttempts && first_attempt) {
    LOG(INFO) << "Retrying additional file download";
    DeleteTemporaryFile(entry_->downloaded_file);
    TakeTemporaryFile();
    if (Fetch(downloader))
      return;
  }
  LOG(INFO) << "Giving up downloading this file";
  DeleteTemporaryFile(entry_->downloaded_file);
  Finish(false, downloader);
}

void AdditionalFileDownloaderImpl::Finish(bool succeeded,
                                          WininetDownloader* downloader) {
  std::vector<FetchChunkStatistics> statistics;
  if (downloader)
    statistics = downloader->GetChunkStatistics();
  std::unique_ptr<AdditionalFile> entry = std::move(entry_);
  if (!succeeded)
    entry.reset();
  base::ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION("OnFileDownloaded"),
      base::BindOnce(&AdditionalFileDownloaderImpl::RunCallback,
                     weak_factory_.GetWeakPtr(), std::move(callback_),
                     std::move(entry), std::move(statistics)));
}

void AdditionalFileDownloaderImpl::RunCallback(
    FileCallback callback,
    std::unique_ptr<AdditionalFile> entry,
    std::vector<FetchChunkStatistics> statistics) {
  if (callback)
    std::move(callback).Run(std::move(entry), std::move(statistics));
}

void AdditionalFileDownloaderImpl::ClearFilesList() {
  placed_files_.clear();
}

bool AdditionalFileDownloaderImpl::PlaceDownloadedFile(
    PackageVersionChecker* version_checker,
    AdditionalFile* entry,
    const base::FilePath& package_folder,
    const base::FilePath& assistant_folder) {
  // A fetched file that cannot be placed is deleted, so that failed
  // components do not pile up in the package folder.
  const bool placed =
      Place(version_checker, *entry,
            entry->kind == ADDITIONAL_FILE_ASSISTANT ? assistant_folder
                                                     : package_folder);
  if (!placed)
    DeleteTemporaryFile(entry->downloaded_file);
  return placed;
}

bool AdditionalFileDownloaderImpl::Place(PackageVersionChecker* version_checker,
                                         const AdditionalFile& entry,
                                         const base::FilePath& target_folder) {
  const bool plain = entry.plain_file == 1;
  // The name comes from the update service's reply: whatever it says, the
  // file stays inside its folder. An archive's name is checked as it will
  // be written (an assistant's archive has no name of its own); it lies in
  // the folder it unpacks to, where its version is checked.
  const std::wstring name =
      plain ? entry.file_name : entry.file_name + L"_sfx.exe";
  base::FilePath relative;
  base::FilePath written;
  std::string reason;
  if (!MakeSafeRelativePath(name, &relative, &reason)) {
    // |reason| says why.
  } else if (!plain && relative.BaseName() != relative) {
    reason = "an archive's name has a folder part";
  } else if (!WrittenRelativePath(target_folder, relative, &written)) {
    reason = "it cannot be resolved in its folder";
  } else if (entry.kind != ADDITIONAL_FILE_ASSISTANT &&
             IsPackageFolderName(written)) {
    reason = "it names one of the package folder's own files";
  }
  if (!reason.empty()) {
    LOG(ERROR) << "Refusing additional file name "
               << base::WideToUTF8(PrintableEntry(entry.file_name)) << ": "
               << reason;
    return FailPlacement(kBadNameMessage);
  }

  if (plain) {
    const base::FilePath destination = target_folder.Append(written);
    // Never over a file that is already there: a component named like one
    // of the folder's own files would otherwise swap a checked file for an
    // unchecked one.
    if (!base::CreateDirectory(destination.DirName()) ||
        !::MoveFileExW(entry.downloaded_file.value().c_str(),
                       destination.value().c_str(), MOVEFILE_COPY_ALLOWED)) {
      LOG(ERROR) << "Cannot move " << entry.downloaded_file.value() << " to "
                 << destination.value() << ": error " << ::GetLastError();
      return FailPlacement("Failed moving additional file into place");
    }
  } else if (!PlaceArchive(version_checker, entry, target_folder, written)) {
    return false;
  }
  if (entry.kind == ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE ||
      entry.kind == ADDITIONAL_FILE_PARTNER_CONTENT) {
    // An archive's name has no folder part and is taken as it is.
    placed_files_.push_back(
        base::WideToUTF8(plain ? written.value() : entry.file_name));
  }
  return true;
}

bool AdditionalFileDownloaderImpl::PlaceArchive(
    PackageVersionChecker* version_checker,
    const AdditionalFile& entry,
    const base::FilePath& target_folder,
    const base::FilePath& archive_name) {
  // A development build runs unsigned components; a release build only the
  // maker's. Asked first here because the event counts real verifications
  // only.
  if (!IsInstallerUnsigned()) {
    if (!IsProgramSignatureAccepted(entry.downloaded_file, "additional file"))
      return FailPlacement("Failed verifying signature of the additional file");
    GetAvroStatsSender()->Send(std::make_unique<SignatureVerifiedEvent>(1));
  }
  // The archive unpacks beside itself, in a folder of its own: what a
  // failed or refused component left is removed with that folder, and only
  // a checked one reaches the target folder.
  base::FilePath staging;
  if (!base::CreateDirectory(target_folder) ||
      !CreateStagingFolder(target_folder, &staging)) {
    return FailPlacement(
        "Could not create unpacking folder for additional file");
  }
  const bool placed =
      UnpackArchive(version_checker, entry, staging, archive_name) &&
      (MoveUnpackedFiles(staging, staging.Append(archive_name),
                         target_folder) ||
       FailPlacement("Failed moving unpacked additional component into place"));
  if (!base::DeleteFile(staging, true))
    LOG(WARNING) << "Cannot delete " << staging.value();
  return placed;
}

bool AdditionalFileDownloaderImpl::UnpackArchive(
    PackageVersionChecker* version_checker,
    const AdditionalFile& entry,
    const base::FilePath& staging,
    const base::FilePath& archive_name) {
  const base::FilePath archive = staging.Append(archive_name);
  if (!base::Move(entry.downloaded_file, archive))
    return FailPlacement("Failed moving additional component SFX into place");

  base::Process process =
      base::LaunchProcess(base::CommandLine(archive), base::LaunchOptions());
  if (!process.IsValid()) {
    LOG(ERROR) << "Cannot start " << archive.value() << ": error "
               << ::GetLastError();
    return FailPlacement("Failed starting SFX archive");
  }
  int exit_code = -1;
  if (!process.WaitForExit(&exit_code) || exit_code != 0) {
    LOG(ERROR) << "SFX archive " << archive.value() << " exit code "
               << exit_code;
    return FailPlacement("Failed extracting SFX archive");
  }
  if (!base::DeleteFile(archive, false))
    LOG(WARNING) << "Cannot delete " << archive.value();
  if (!version_checker->CheckAdditionalFile(
          staging, AdditionalFileKindName(entry.kind))) {
    // After the checker's own reason, which says what was wrong.
    const char kMessage[] = "Component version didn't pass check";
    LOG(ERROR) << kMessage;
    return AddLastInstallerErrorContext(kMessage, RESULT_GENERAL_ERROR);
  }
  return true;
}

void AdditionalFileDownloaderImpl::WriteFilesList(
    const base::FilePath& folder) {
  if (placed_files_.empty())
    return;
  const std::string text = base::JoinString(placed_files_, "\r\n") + "\r\n";
  const base::FilePath path = folder.Append(kFilesListName);
  // Appended: a fetch of components alone adds to the package's own list.
  base::win::ScopedHandle file(
      ::CreateFileW(path.value().c_str(), FILE_APPEND_DATA, 0, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file.IsValid() ||
      !::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr) ||
      written != text.size()) {
    LOG(ERROR) << "Cannot append to " << path.value() << ": error "
               << ::GetLastError();
    return;
  }
  // Written: a later call appends only what is placed after this one.
  placed_files_.clear();
}

void AdditionalFileDownloaderImpl::Cancel() {
  weak_factory_.InvalidateWeakPtrs();
  download_folder_.clear();
  placed_files_.clear();
  entry_.reset();
  callback_.Reset();
}

}  // namespace installer
