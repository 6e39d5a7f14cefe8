// The program joins the pages' balloon hook (the scan's error notice) to the
// main window's tray once the tray exists.
#include "shell_fixture.h"
#include "tray_fake.h"

#include "ui/pages/uPageHooks.h"
#include "ui/main/MainUnit.h"

#include <memory>

namespace {

class PageBalloonTest : public ShellTest {};

TEST_F(PageBalloonTest, HookReachesTheTrayOnceTheWindowExists) {
  ScopedFakeTray fake;
  ShowBalloonHook = nullptr;
  auto main = std::make_unique<TMainForm>();
  ASSERT_TRUE(static_cast<bool>(ShowBalloonHook));
  ShowBalloonHook("Korvane error notice", std::string(300, 'e'), BalloonIconError, 60);
  ASSERT_EQ(fake.state->balloons.size(), 1u);
  EXPECT_EQ(fake.state->balloons[0].title, QStringLiteral("Korvane error notice"));
  EXPECT_EQ(fake.state->balloons[0].text.size(), 255);
  EXPECT_EQ(fake.state->balloons[0].kind, 3);
  EXPECT_EQ(fake.state->balloons[0].msecs, 60000);
  // After the window has gone the hook does nothing (and does not crash).
  main.reset();
  ShowBalloonHook("late", "late", BalloonIconInfo, 60);
  EXPECT_EQ(fake.state->balloons.size(), 1u);
}

}  // namespace
