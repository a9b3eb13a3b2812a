#include "desktop/windows/installer/ui/custom_message_box.h"

#include "base/bind.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(CustomMessageBoxTest, CannotBeShownYet) {
  bool called = false;
  CustomMessageBox box;
  EXPECT_FALSE(box.Show(
      nullptr, IDS_CORRUPTED_INSTALLER_TITLE,
      GetString(IDS_CORRUPTED_INSTALLER_TEXT), IDS_CORRUPTED_INSTALLER_GO,
      IDS_CORRUPTED_INSTALLER_CANCEL,
      base::BindOnce([](bool* called, int) { *called = true; }, &called)));
  EXPECT_FALSE(called);
  MSG msg = {};
  EXPECT_EQ(base::MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT,
            Win32DialogDispatcher::GetInstance()->Dispatch(msg));
}

}  // namespace
}  // namespace installer
