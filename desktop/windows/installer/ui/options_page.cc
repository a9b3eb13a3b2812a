#include "desktop/windows/installer/ui/options_page.h"

#include "desktop/windows/installer/ui/resource_ids.h"

namespace installer {

OptionsPage::OptionsPage(Settings* settings,
                         OptionsPageHost* host,
                         FolderBrowser* folder_browser,
                         AssociationOperations* association_operations,
                         SecurityUtils* security_utils)
    : settings_(settings),
      host_(host),
      folder_browser_(folder_browser),
      association_operations_(association_operations),
      security_utils_(security_utils) {}

OptionsPage::~OptionsPage() {
  Destroy();
}

bool OptionsPage::Create(HWND main_dialog) {
  dialog_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                 MAKEINTRESOURCEW(IDD_OPTIONS_PAGE),
                                 main_dialog, nullptr, 0);
  return dialog_ != nullptr;
}

void OptionsPage::Destroy() {
  if (dialog_)
    ::DestroyWindow(dialog_);
  dialog_ = nullptr;
}

void OptionsPage::OnLanguageChanged() {}

void OptionsPage::Refresh() {}

bool OptionsPage::OnCommand(int id, int notification, HWND control) {
  return false;
}

}  // namespace installer
