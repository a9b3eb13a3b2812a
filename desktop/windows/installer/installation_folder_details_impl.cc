#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installation_folder_details_fetcher.h"

// Placeholders until the folder examination lands.
namespace installer {
namespace {
InstallationFolderDetailsFactory* g_factory = nullptr;
}  // namespace

std::unique_ptr<InstallationFolderDetails> CreateInstallationFolderDetails() {
  return g_factory ? g_factory->Run() : nullptr;
}

void SetInstallationFolderDetailsFactoryForTesting(
    InstallationFolderDetailsFactory factory) {
  delete g_factory;
  g_factory = factory ? new InstallationFolderDetailsFactory(std::move(factory))
                      : nullptr;
}

InstallationFolderDetailsFetcherFactory
CreateInstallationFolderDetailsFetcherFactory() {
  return InstallationFolderDetailsFetcherFactory();
}

}  // namespace installer
