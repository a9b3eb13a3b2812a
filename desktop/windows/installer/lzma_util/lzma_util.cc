#include "desktop/windows/installer/lzma_util/lzma_util.h"

#include "base/logging.h"

namespace installer {

namespace {

// Stands in until the 7z reader arrives with package acquisition: every
// archive is unreadable, so an unpack from an archive fails with the
// operation's "Could not open the archive" and is rolled back, never
// reported as done.
class UnavailableLzmaUtil : public LzmaUtil {
 public:
  int Open(const base::FilePath& archive) override {
    LOG(ERROR) << "7z packages cannot be read by this build: "
               << archive.value();
    return OPEN_ERROR;
  }
  int ListEntries(std::vector<base::string16>*) override { return OPEN_ERROR; }
  int Extract(const base::FilePath&,
              const std::set<base::string16>&,
              LzmaUtilObserver*,
              std::vector<base::FilePath>*,
              std::vector<base::FilePath>*) override {
    return OPEN_ERROR;
  }
  void Close() override {}
};

}  // namespace

std::unique_ptr<LzmaUtil> CreateLzmaUtil() {
  return std::make_unique<UnavailableLzmaUtil>();
}

}  // namespace installer
