// The scan page shows the scan's error notice on the main window's tray
// directly: the balloon is there as soon as the window is.
#include "skin_form_fixture.h"
#include "support/FakeTray.h"

#include "ui/main/MainUnit.h"
#include "ui/main/uTray.h"
#include "ui/pages/uFrame2.h"

#include <memory>

namespace {

class PageBalloonTest : public SkinFormTest {};

TEST_F(PageBalloonTest, ScanPageReachesTheTrayThroughItsWindow) {
  ScopedFakeTray fake;
  auto main = std::make_unique<TMainForm>();
  TKorvaneTray tray(*main);
  main->Dialogs.Tray = &tray;
  auto* scanPage = dynamic_cast<TFrame2*>(main->Page(2));
  ASSERT_NE(scanPage, nullptr);
  ASSERT_EQ(&scanPage->Main(), main.get());
  scanPage->Main().ShowBalloon("Korvane error notice", std::string(300, 'e'), bitError, 60);
  ASSERT_EQ(fake.state->balloons.size(), 1u);
  EXPECT_EQ(fake.state->balloons[0].title, QStringLiteral("Korvane error notice"));
  EXPECT_EQ(fake.state->balloons[0].text.size(), 255);
  EXPECT_EQ(fake.state->balloons[0].kind, 3);
  EXPECT_EQ(fake.state->balloons[0].msecs, 60000);
  // The icon goes with the window.
  main.reset();
  EXPECT_FALSE(fake.state->alive);
}

}  // namespace
