#include "desktop/windows/installer/package_unpacker.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/threading/simple_thread.h"
#include "base/version.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

namespace {

const char kInstallSubfolderSwitch[] = "install-subfolder";
const wchar_t kPackageArchiveName[] = L"kavor_package";
const wchar_t kPackageVersionFileName[] = L"package_version";

// Copying the loose files of a package is mostly waiting for the file
// system; a few copies at a time keep it busy.
const size_t kCopyThreads = 4;

// One loose file of the package to copy.
struct EntryCopy {
  base::FilePath source;
  base::FilePath destination;
  // Written by the copy, read once it ended.
  Transaction operations;
  std::string error;
  bool copied = false;
};

// Moves the operations of one entry to the end of |transaction|.
void MoveOperations(Transaction* operations, Transaction* transaction) {
  for (auto& operation : *operations)
    transaction->push_back(std::move(operation));
  operations->clear();
}

// |relative| as the file system resolves it, for comparing without case:
// trailing dots and blanks of each name do not count.
base::string16 ResolvedName(const base::FilePath& relative) {
  std::vector<base::string16> parts = base::SplitString(
      relative.value(), L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  for (base::string16& part : parts)
    part.erase(part.find_last_not_of(L". ") + 1);
  return base::JoinString(parts, L"\\");
}

// Whether two entries name the same file, or one names a file where
// another needs a folder (compared without case).
bool NamesClash(const std::vector<base::FilePath>& relatives) {
  // Each name with whether it is a file (true) or a folder some file
  // lies in (false).
  std::vector<std::pair<base::string16, bool>> names;
  for (const base::FilePath& relative : relatives) {
    const base::string16 name = ResolvedName(relative);
    names.emplace_back(name, true);
    for (size_t end = name.rfind(L'\\'); end != base::string16::npos && end > 0;
         end = name.rfind(L'\\', end - 1)) {
      names.emplace_back(name.substr(0, end), false);
    }
  }
  const auto less = [](const std::pair<base::string16, bool>& a,
                       const std::pair<base::string16, bool>& b) {
    return base::FilePath::CompareIgnoreCase(a.first, b.first) < 0;
  };
  std::stable_sort(names.begin(), names.end(), less);
  for (size_t i = 1; i < names.size(); ++i) {
    // Folders may repeat; a file may not meet its own name again.
    if (!less(names[i - 1], names[i]) &&
        (names[i - 1].second || names[i].second)) {
      LOG(INFO) << "The package lists " << names[i].first
                << " more than once, or as a file and a folder";
      return true;
    }
  }
  return false;
}

// Copies the first |count| entries on |threads| threads of its own, in
// entry order as far as taking them goes. Each copy executes into its
// entry's own operation list, which the caller moves into the run's
// transaction. Without threads the caller copies each entry itself when
// it waits for it.
class EntryCopiers {
 public:
  EntryCopiers(std::vector<EntryCopy>* entries,
               size_t count,
               size_t threads,
               const PackageUnpacker::CopyOperationFactory& factory)
      : entries_(entries),
        count_(count),
        factory_(factory),
        ended_(count, false),
        copy_ended_(&lock_) {
    for (size_t i = 0; i < threads; ++i) {
      auto worker = std::make_unique<Worker>(this);
      worker->Start();
      if (!worker->HasBeenStarted()) {
        LOG(WARNING) << "Cannot start a file copying thread; " << i << " of "
                     << threads << " copy the package's files";
        break;
      }
      workers_.push_back(std::move(worker));
    }
  }
  ~EntryCopiers() { Stop(); }

  // Returns once entry |index| is copied or failed, and whether it was
  // copied. Entries are waited for in order.
  bool WaitFor(size_t index) {
    base::AutoLock hold(lock_);
    // Without threads, or once they took no more, nobody else takes it.
    if (next_ <= index && (workers_.empty() || halted_)) {
      next_ = index + 1;
      CopyLocked(index);
    }
    while (!ended_[index])
      copy_ended_.Wait();
    return (*entries_)[index].copied;
  }

  // No new entry is taken; returns once the copies under way ended.
  void Stop() {
    {
      base::AutoLock hold(lock_);
      halted_ = true;
    }
    for (auto& worker : workers_)
      worker->Join();
    workers_.clear();
  }

 private:
  class Worker : public base::SimpleThread {
   public:
    explicit Worker(EntryCopiers* owner)
        : base::SimpleThread("Package file copier"), owner_(owner) {}
    void Run() override { owner_->RunCopies(); }

   private:
    EntryCopiers* const owner_;
  };

  void RunCopies() {
    base::AutoLock hold(lock_);
    while (!halted_ && next_ < count_)
      CopyLocked(next_++);
  }

  // Copies entry |index| with the lock released. A failure stops the
  // taking of new entries: the first failing entry ends the unpacking.
  void CopyLocked(size_t index) {
    EntryCopy& entry = (*entries_)[index];
    {
      base::AutoUnlock unhold(lock_);
      entry.copied =
          ExecuteOperation(&entry.operations,
                           factory_ ? factory_(entry.source, entry.destination)
                                    : std::make_unique<CopyFileOperation>(
                                          entry.source, entry.destination),
                           &entry.error);
    }
    ended_[index] = true;
    if (!entry.copied)
      halted_ = true;
    copy_ended_.Broadcast();
  }

  std::vector<EntryCopy>* const entries_;
  const size_t count_;
  const PackageUnpacker::CopyOperationFactory& factory_;
  base::Lock lock_;
  // Guarded by |lock_|.
  size_t next_ = 0;
  bool halted_ = false;
  std::vector<bool> ended_;
  base::ConditionVariable copy_ended_;
  std::vector<std::unique_ptr<Worker>> workers_;

  DISALLOW_COPY_AND_ASSIGN(EntryCopiers);
};

}  // namespace

const char PackageUnpacker::kDirectUnpackingStepName[] = "direct_unpacking";

PackageUnpacker::PackageUnpacker(
    std::unique_ptr<FileVersionUtils> file_version_utils,
    std::unique_ptr<LzmaUtil> lzma_util,
    InstallerStepContext* context,
    PackageUnpackerDelegate* delegate,
    InterprocessState* interprocess_state)
    : file_version_utils_(std::move(file_version_utils)),
      lzma_util_(std::move(lzma_util)),
      context_(context),
      delegate_(delegate),
      interprocess_state_(interprocess_state) {}

PackageUnpacker::~PackageUnpacker() = default;

bool PackageUnpacker::PrepareInstallSubfolder(base::CommandLine* command_line) {
  const InstallerOperation operation = context_->GetSettings()->GetOperation();
  // An uninstall and a repair of resources work in the recorded subfolder.
  if (operation == OPERATION_UNINSTALL ||
      operation == OPERATION_FIX_DOWNLOADABLE_RESOURCES ||
      command_line->HasSwitch(kInstallSubfolderSwitch)) {
    return true;
  }

  const base::FilePath package_dir = context_->GetPackageDir();
  std::string version_text;
  base::Version full_version;
  base::Version internal_version;
  if (file_version_utils_->GetPackageFileVersion(
          package_dir.Append(kPackageArchiveName), &full_version,
          &internal_version, nullptr)) {
    version_text = full_version.GetString();
  } else {
    const base::FilePath version_file =
        package_dir.Append(kPackageVersionFileName);
    if (!base::PathExists(version_file)) {
      version_text = GetVersionString();
    } else if (!base::ReadFileToString(version_file, &version_text)) {
      return SetLastInstallerError(RESULT_FOLDER_CREATION_FAILED,
                                   "Cannot read the package version file");
    } else if (!base::Version(version_text).IsValid()) {
      return SetLastInstallerError(
          RESULT_FOLDER_CREATION_FAILED,
          "Invalid package version found in package folder " + version_text);
    }
  }

  // An earlier installation of the same version keeps its folder until the
  // new one is complete, so the new one takes the first free name.
  const base::FilePath install_folder = context_->GetInstallFolder();
  const base::string16 version = base::UTF8ToWide(version_text);
  base::string16 name = version;
  for (int n = 0; base::PathExists(install_folder.Append(name)); ++n)
    name = base::StringPrintf(L"%ls_%d", version.c_str(), n);

  const base::FilePath subfolder = install_folder.Append(name);
  std::string error;
  if (!ExecuteOperation(context_->GetTransaction(),
                        std::make_unique<CreateFolderOperation>(subfolder),
                        &error)) {
    LOG(ERROR) << "Cannot create " << subfolder.value() << ": " << error;
    return SetLastInstallerError(RESULT_FOLDER_CREATION_FAILED,
                                 "Cannot create the installation subfolder.",
                                 subfolder.value());
  }
  command_line->AppendSwitchPath(kInstallSubfolderSwitch, base::FilePath(name));
  return true;
}

bool PackageUnpacker::Unpack(base::CommandLine* command_line) {
  if (!PrepareInstallSubfolder(command_line))
    return AddLastInstallerErrorContext("Cannot create subfolder for package.");
  // The switch names the folder just made; the run's context may not have
  // taken it over yet.
  const base::FilePath subfolder =
      command_line->GetSwitchValuePath(kInstallSubfolderSwitch);
  const base::FilePath target =
      subfolder.empty() ? context_->GetTargetFolder()
                        : context_->GetInstallFolder().Append(subfolder);
  if (interprocess_state()->IsInsidePackage()) {
    if (!CopyUnpackedFiles(target)) {
      return AddLastInstallerErrorContext(
          "Cannot copy unpacked files to subfolder.");
    }
    return true;
  }
  if (!UnpackArchive(target))
    return AddLastInstallerErrorContext("Cannot unpack the installer");
  return true;
}

void PackageUnpacker::OnFilesToUnpackCounted(int32_t count) {
  files_to_unpack_ = count;
  delegate_->OnTotalSteps(count);
}

void PackageUnpacker::OnUnpackProgressChanged(int32_t files_done) {
  // Before the first entry nothing is finished yet.
  if (files_done > 0)
    delegate_->OnStepFinished(kDirectUnpackingStepName, files_done);
}

bool PackageUnpacker::ShouldStopExtracting() {
  return delegate_->ShouldStopUnpacking();
}

InterprocessState* PackageUnpacker::interprocess_state() {
  return interprocess_state_ ? interprocess_state_ : GetInterprocessState();
}

bool PackageUnpacker::CopyUnpackedFiles(const base::FilePath& target) {
  const base::FilePath package_dir = context_->GetPackageDir();
  // The list reader refuses entries that could reach outside the package.
  const base::FilePath files_list = package_dir.Append(L"files_list");
  std::vector<std::string> entries;
  if (!ReadFilesList(files_list, &entries))
    return AddLastInstallerErrorContext("Cannot read debug files list");
  // An empty list means a damaged package: without this check the copy
  // would succeed and the hand-over would fail later for want of the
  // package's installer, with an error that says nothing about the cause.
  if (entries.empty()) {
    SetLastInstallerError(RESULT_GENERAL_ERROR, "No files in normal files list",
                          files_list.value());
    return AddLastInstallerErrorContext("Cannot read debug files list");
  }
  std::vector<std::string> root_entries;
  if (!ReadFilesList(package_dir.Append(L"root_files_list"), &root_entries))
    return AddLastInstallerErrorContext("Cannot read debug root files list");
  entries.insert(entries.end(), root_entries.begin(), root_entries.end());
  entries.push_back("files_list");
  entries.push_back("root_files_list");
  entries.push_back("launcher.exe");
  entries.push_back(GetOsOperations()->GetOsArchitecture() != 0
                        ? "installer_helper_64.exe"
                        : "installer_helper.exe");

  delegate_->OnTotalSteps(static_cast<int>(entries.size()));
  std::vector<EntryCopy> copies(entries.size());
  std::vector<base::FilePath> relatives;
  for (size_t i = 0; i < entries.size(); ++i) {
    relatives.emplace_back(base::UTF8ToWide(entries[i]));
    copies[i].source = package_dir.Append(relatives[i]);
    copies[i].destination = target.Append(relatives[i]);
  }

  // The folders come first, here and in entry order: no two copies race to
  // make one, and a rollback takes them away after the files in them. The
  // copies before a folder that cannot be made still run, so the error is
  // the one of the first entry that fails, as when each entry made its own.
  size_t copyable = entries.size();
  std::string folder_error;
  base::FilePath last_folder;
  for (size_t i = 0; i < entries.size(); ++i) {
    const base::FilePath folder = copies[i].destination.DirName();
    // Entries of one folder mostly follow each other.
    if (i > 0 && base::FilePath::CompareIgnoreCase(folder.value(),
                                                   last_folder.value()) == 0) {
      continue;
    }
    last_folder = folder;
    if (base::DirectoryExists(folder))
      continue;
    if (!ExecuteOperation(context_->GetTransaction(),
                          std::make_unique<CreateFolderOperation>(folder),
                          &folder_error)) {
      folder_error += "Cannot create a folder to place the file in.";
      copyable = i;
      break;
    }
  }

  // Two copies onto one file would race, and so would a copy onto a file
  // in the way of a folder that another entry needs: such a list is copied
  // one entry after the other.
  const size_t threads =
      NamesClash(relatives) ? 0 : std::min(kCopyThreads, copyable);
  EntryCopiers copiers(&copies, copyable, threads, copy_operation_factory_);
  size_t i = 0;
  bool stopped = false;
  for (; i < entries.size(); ++i) {
    // A big package takes a while; a run that is no longer wanted stops
    // here rather than after the last file.
    if (delegate_->ShouldStopUnpacking()) {
      LOG(INFO) << "Unpacking interrupted after " << i << " of "
                << entries.size() << " files";
      stopped = true;
      break;
    }
    if (i == copyable)
      break;
    const bool copied = copiers.WaitFor(i);
    MoveOperations(&copies[i].operations, context_->GetTransaction());
    if (!copied)
      break;
    delegate_->OnStepFinished(kDirectUnpackingStepName, static_cast<int>(i));
  }
  // Whatever ended the loop, the copies under way end first, and every
  // copy made goes into the transaction so that a rollback takes it away.
  copiers.Stop();
  for (size_t later = i; later < copyable; ++later)
    MoveOperations(&copies[later].operations, context_->GetTransaction());

  if (i == entries.size())
    return true;
  if (stopped) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "The unpacking was interrupted");
  }
  return SetLastInstallerError(
      RESULT_COPY_FAILED, "Cannot copy package file '" + entries[i] + "'\n" +
                              (i == copyable ? folder_error : copies[i].error));
}

bool PackageUnpacker::UnpackArchive(const base::FilePath& target) {
  const base::FilePath archive =
      context_->GetPackageDir().Append(kPackageArchiveName);
  // The front end checked the package in a folder its user can write to,
  // and this process may run elevated: the archive unpacked is the one
  // checked here, held so that nobody can write, replace or delete it until
  // it has been read.
  base::win::ScopedHandle held(
      ::CreateFileW(archive.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.IsValid()) {
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Cannot hold the package " << archive.value()
               << " against changes: " << FormatWin32Error(error);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                   "Unpack archive operation failed\nThe "
                                   "archive " +
                                       archive.AsUTF8Unsafe() +
                                       " does not exist.");
    }
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Cannot open the package: " + FormatWin32Error(error),
        archive.value());
  }
  if (!IsProgramSignatureAccepted(archive, "package")) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Signature incorrect for the package",
                                 archive.value());
  }
  files_to_unpack_ = 0;
  std::string error;
  if (!ExecuteOperation(context_->GetTransaction(),
                        std::make_unique<UnpackArchiveOperation>(
                            archive, target, lzma_util_.get(), this),
                        &error)) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Unpack archive operation failed\n" + error);
  }
  // The reader says nothing after its last entry: the progress reaches the
  // total only here, once every entry is on disk.
  if (files_to_unpack_ > 0)
    delegate_->OnStepFinished(kDirectUnpackingStepName, files_to_unpack_);
  return true;
}

bool IsDirectUnpackingStep(const std::string& name) {
  return name == PackageUnpacker::kDirectUnpackingStepName;
}

}  // namespace installer
