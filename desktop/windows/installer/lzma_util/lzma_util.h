#ifndef DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_LZMA_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_LZMA_UTIL_H_

#include <windows.h>
#include <stdint.h>

#include <set>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"

namespace installer {

// Told how an extraction advances: the package unpacker turns this into
// install steps, the fetcher into unpack progress.
class UnpackProgressObserver {
 public:
  virtual ~UnpackProgressObserver() = default;

  // How many entries the extraction is going to handle.
  virtual void OnFilesToUnpackCounted(int32_t count) = 0;
  // Called before each entry with the number handled so far (0 first).
  virtual void OnUnpackProgressChanged(int32_t files_done) = 0;
  // Asked before each entry: true ends the extraction there, as
  // EXTRACT_INTERRUPTED.
  virtual bool ShouldStopExtracting() { return false; }
};

// Reads 7z archives, also one behind an executable stub or appended to the
// installer. The unpacked solid block lives in a file mapping in the
// destination folder, so extraction needs little memory. Extracting every
// entry, writer threads create and write the files while the calling thread
// goes on decoding (step by step where the block is plain LZMA or LZMA2,
// also behind the x86 branch filter; else a block at a time); the observer
// is still called on the calling thread, before each entry. In a signed image
// only an archive that lies whole before the certificate table is read:
// the signature vouches for nothing after that.
class LzmaUtil {
 public:
  // Results of Open.
  enum OpenResult {
    OPEN_SUCCESS = 0,
    OPEN_FILE_NOT_FOUND = 1,
    OPEN_ERROR = 2,
  };

  // Results of Extract.
  enum ExtractResult : uint8_t {
    EXTRACT_SUCCESS = 0,
    EXTRACT_NOT_OPEN = 1,
    EXTRACT_BAD_ARCHIVE = 3,
    EXTRACT_DECODER_ERROR = 4,
    EXTRACT_IN_PAGE_ERROR = 5,
    EXTRACT_BAD_NAME = 6,
    EXTRACT_CREATE_FILE_FAILED = 7,
    EXTRACT_WRITE_FAILED = 8,
    EXTRACT_SET_TIME_FAILED = 9,
    EXTRACT_CLOSE_FAILED = 10,
    EXTRACT_NO_SIGNATURE = 11,
    // An entry's name would land outside the destination (absolute, a
    // drive, "..", ":") or make a path of MAX_PATH characters or more
    // there: the archive is refused before anything is written.
    EXTRACT_UNSAFE_NAME = 12,
    // The destination's drive has less free space than the entries to
    // write need: refused before anything is written.
    EXTRACT_DISK_FULL = 13,
    // The observer asked to stop before an entry.
    EXTRACT_INTERRUPTED = 14,
  };

  LzmaUtil();
  virtual ~LzmaUtil();

  // One of OpenResult. Closes an archive that was open.
  virtual int Open(const base::FilePath& archive);
  virtual void Close();

  // Writes the entries named in |names| (archive-relative paths, compared
  // exactly; every entry when it is empty) below |destination|. Returns one
  // of ExtractResult. Also when it stops early, |written_files| names every
  // file it wrote and |created_folders| every folder it created (the
  // destination and the parents of an entry too, outermost first), so that
  // the caller can take them away again; a folder this reader made before
  // is listed again each time an entry needs it. Written files are listed
  // in the archive's order. When a writer thread fails, the entry after it
  // may have been reached (its folder made and listed, its file written)
  // before the failure was known; the result is the failure of the first
  // entry that failed. |observer| and both
  // vectors may be null. Call once after each Open: the archive is looked
  // for from the file's current position on.
  virtual uint8_t Extract(const base::FilePath& destination,
                          const std::set<base::FilePath>& names,
                          UnpackProgressObserver* observer,
                          std::vector<base::FilePath>* written_files,
                          std::vector<base::FilePath>* created_folders);

  // The NTSTATUS of the last in-page error that ended an extraction (or
  // the code of the access violation that stood for one).
  virtual uint32_t GetLastInPageError() const;

  // The names of the open archive's entries as the archive holds them (a
  // folder entry may end with a separator). Returns 0 on success, else an
  // ExtractResult. Leaves the file where Extract expects it.
  virtual int ListEntries(std::vector<base::string16>* names);

 private:
  // Makes |folder| (with its missing parents) unless it exists, remembering
  // each one made; a folder this reader made before is not made again.
  // Appends to |created_folders| the folders made now, outermost first, or
  // |folder| when it was made before. False when a folder could not be made
  // (also when a file stands in its place).
  bool EnsureFolder(const base::FilePath& folder,
                    std::vector<base::FilePath>* created_folders);

  HANDLE archive_ = nullptr;
  std::set<base::FilePath> created_folders_;
  uint32_t last_in_page_error_ = 0;

  DISALLOW_COPY_AND_ASSIGN(LzmaUtil);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_LZMA_UTIL_H_
