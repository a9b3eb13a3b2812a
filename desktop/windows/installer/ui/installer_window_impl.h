#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_IMPL_H_

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/single_thread_task_runner.h"
#include "base/time/time.h"
#include "desktop/windows/installer/avro_stats/avro_detail_records.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/options_page.h"
#include "desktop/windows/installer/ui/progress_calculator.h"

namespace installer {

class AssociationOperations;
class SecurityUtils;

// Page types of the page-transition statistics beyond the pages themselves.
enum PageTransitionType : int32_t {
  PAGE_TYPE_UNINSTALL_WARNING = 100,
  PAGE_TYPE_CLOSED_FOR_REINSTALL = 101,
  PAGE_TYPE_CLOSED = -1,
};

// The status line of the progress page for |stage|; |remaining| is what is
// left of the stage, when known. |user_name| is shown when installing for
// the current user. Empty for a stage that has nothing to say.
std::wstring GetStageStatusText(int stage,
                                std::optional<int> remaining,
                                bool uninstall_run,
                                InstallMode mode,
                                const std::wstring& user_name);

// Whether |language| (a code such as "ar" or "he-IL") is written right to
// left, so the wizard is laid out mirrored.
bool IsRightToLeftLanguage(const std::wstring& language);

// The wizard: one modeless dialog whose controls are shown page by page,
// with the options page as a child dialog. UI thread only.
class InstallerWindowImpl : public InstallerWindow,
                            public SettingsObserver,
                            public ProgressObserver,
                            public InstallerProgressObserver,
                            public OptionsPageHost {
 public:
  // What the window takes from its surroundings; null seams mean the
  // product's own.
  struct Environment {
    Environment();
    bool uninstall_run = false;
    FolderBrowser* folder_browser = nullptr;
    AssociationOperations* association_operations = nullptr;
    SecurityUtils* security_utils = nullptr;
    // Where merged status updates wait, and the clock that spaces them.
    base::scoped_refptr<base::SingleThreadTaskRunner> task_runner;
    base::RepeatingCallback<base::TimeTicks()> now;
    // Shows a system message box (owner, text, title, type) and gives the
    // button pressed; null means MessageBoxW.
    base::RepeatingCallback<int(
        HWND, const std::wstring&, const std::wstring&, UINT)>
        message_box;
  };

  InstallerWindowImpl(Settings* settings,
                      InstallerProgressNotifier* notifier,
                      ProgressCalculator* calculator,
                      const Environment& environment);
  ~InstallerWindowImpl() override;

  // Makes and shows the dialogs; false (after logging) when they cannot be
  // made.
  bool Create();

  // InstallerWindow:
  HWND GetWindowHandle() override;
  void ShowProgressPage() override;
  void DisplayError(const std::wstring& text,
                    bool offer_full_package,
                    const std::optional<std::string>& detail) override;
  void ShowErrorMessageBox(const std::wstring& text) override;
  void AddObserver(InstallerWindowDelegate* delegate) override;
  void RemoveObserver(InstallerWindowDelegate* delegate) override;

  // SettingsObserver:
  void OnSettingsChanged() override;
  void OnLanguageChanged() override;
  void OnPathChanged() override;

  // ProgressObserver:
  void OnProgressChanged(uint32_t progress,
                         std::optional<int> remaining) override;

  // InstallerProgressObserver:
  void OnPhaseEntered(int phase) override;
  void OnTotalSteps(int total) override;
  void OnStepFinished(int finished_count) override;

  // OptionsPageHost:
  HWND GetMainDialog() override;
  const std::vector<std::wstring>& GetAvailableLanguages() override;
  PageTransitionData* GetPageTransitionRecord() override;
  void UpdatePageElements() override;
  HFONT GetBoldFont() override;
  bool IsUninstallRun() override;

  // A click on the link whose target reads |target| in the terms line.
  void OnLinkClicked(const std::wstring& target);

  HWND options_dialog() const;
  InstallerPage current_page() const { return current_page_; }
  bool full_package_offered() const { return full_package_offered_; }

 private:
  class PageElement;
  class BackButtonElement;
  class FullPackageElement;
  class FolderWarningElement;
  class DeleteUserDataElement;

  static INT_PTR CALLBACK DialogProc(HWND dialog,
                                     UINT message,
                                     WPARAM wparam,
                                     LPARAM lparam);
  static LRESULT CALLBACK PictureProc(HWND control,
                                      UINT message,
                                      WPARAM wparam,
                                      LPARAM lparam);
  // The headline's and the terms line's: they are drawn on the page's
  // background, and the terms line opens its link from the keyboard.
  static LRESULT CALLBACK RichTextProc(HWND control,
                                       UINT message,
                                       WPARAM wparam,
                                       LPARAM lparam);

  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void InitDialog();
  void CreateFonts();
  void LoadTermsText();
  void BuildPageElements();
  void AddElement(std::unique_ptr<PageElement> element);
  void ShowPage(InstallerPage page);
  void OnCommand(int id, int notification, HWND control);
  // Whether the control |id| is one of the current page's.
  bool IsShownOnPage(int id) const;
  void OnLinkNotification(const NMHDR* header);
  // The close and accept flows tell the delegates last: a delegate may
  // destroy the window.
  void CloseFlow(const char* navigation_action);
  void AcceptFlow();
  int ShowMessageBox(const std::wstring& text, UINT type);
  void SendPageTransition(PageTransitionData record);
  template <typename Method>
  void NotifyDelegates(Method method);

  void SetControlText(int id, uint32_t string_id);
  // Shows the options page when the folder has a problem it warns about.
  void ShowOptionsOnFolderProblem();
  const std::wstring& CurrentUserDisplayName();
  void ShowStatusText(const std::wstring& text);

  // Lays the window, its pages and their controls out for the reading
  // direction, mirrored when |right_to_left|.
  void ApplyReadingDirection(bool right_to_left);

  void SubclassRichText(HWND control);
  // Paints the rich-text |control| (whose own procedure is |control_proc|)
  // over the page's background; false when there is no background to paint
  // on yet and the control must paint itself.
  bool PaintRichText(HWND control, WNDPROC control_proc);
  // Enter or Space on the terms line opens its link.
  void OpenTermsLink();

  void RebuildBackground();
  void FreeBackground();
  bool EraseBackground(HDC dc);
  void PaintPicture(HWND control);
  INT_PTR OnControlColor(UINT message, HDC dc, HWND control);

  Settings* const settings_;
  InstallerProgressNotifier* const notifier_;
  ProgressCalculator* const calculator_;
  const bool uninstall_run_;
  const bool run_immediately_;
  bool right_to_left_ = false;

  HWND main_dialog_ = nullptr;
  std::unique_ptr<OptionsPage> options_page_;
  base::ObserverList<InstallerWindowDelegate> delegates_;
  std::vector<std::wstring> languages_;

  HFONT default_font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HFONT title_font_ = nullptr;
  HFONT headline_font_ = nullptr;
  HBITMAP logo_bitmap_ = nullptr;
  HBITMAP badge_bitmap_ = nullptr;
  HBITMAP background_image_ = nullptr;
  // The painted background of the client area and a brush of it for
  // controls drawn over it; rebuilt when the window moves or resizes.
  HBITMAP background_ = nullptr;
  HBRUSH background_brush_ = nullptr;
  WNDPROC picture_proc_ = nullptr;

  InstallerPage current_page_ = PAGE_NONE;
  std::vector<std::unique_ptr<PageElement>> elements_;
  bool full_package_offered_ = false;

  std::optional<int> last_remaining_;
  base::TimeTicks last_status_update_;
  const base::scoped_refptr<base::SingleThreadTaskRunner> task_runner_;
  const base::RepeatingCallback<base::TimeTicks()> now_;
  const base::RepeatingCallback<int(
      HWND, const std::wstring&, const std::wstring&, UINT)>
      message_box_;
  // The record of the page shown.
  PageTransitionData record_;
  std::optional<std::wstring> error_text_;
  // Asked for on first need.
  std::optional<std::wstring> user_display_name_;
  std::optional<std::string> error_detail_;

  // Cancels a pending merged status update when a newer one comes.
  base::WeakPtrFactory<InstallerWindowImpl> status_weak_factory_;
  base::WeakPtrFactory<InstallerWindowImpl> weak_factory_;

  DISALLOW_COPY_AND_ASSIGN(InstallerWindowImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_IMPL_H_
