#include "skin_form_fixture.h"

#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"

#include <QEnterEvent>
#include <QTest>

#include <string>
#include <vector>

namespace {

using SkinTest = SkinFormTest;

TEST_F(SkinTest, PicturesDecodeFromTheResources) {
  const struct {
    const char* name;
    bool gif;
    int w, h;
  } cases[] = {{"BGMAIN", false, 750, 550}, {"BTNCLOSE_NA", false, 41, 15}, {"BTNOK_DN", false, 91, 32},
               {"BGINFO", false, 405, 162}, {"DIAGIMG30", true, 155, 92},   {"LEGEND_RED", true, 10, 10}};
  for (const auto& c : cases) {
    QImage img;
    if (c.gif)
      LoadGifResource(c.name, img);
    else
      LoadJpegResource(c.name, img);
    EXPECT_EQ(img.size(), QSize(c.w, c.h)) << c.name;
  }
}

TEST_F(SkinTest, MissingPictureNamesItAndKeepsTheTarget) {
  TImage target;
  LoadJpegResource("BTNOK_NA", &target);
  const QImage before = target.Picture();
  try {
    LoadJpegResource("NO_SUCH_PICTURE", &target);
    FAIL();
  } catch (const ESkinError& e) {
    EXPECT_STREQ(e.what(), "Resource NO_SUCH_PICTURE not found");
  }
  EXPECT_EQ(target.Picture(), before);
  EXPECT_THROW(DecodeJpeg(QByteArray("not a jpeg")), ESkinError);
  EXPECT_THROW(DecodeGif(QByteArray("GIF89a broken")), ESkinError);
  // In a handler the error is shown and the handler stops there.
  bool after = false;
  RunSkinGuarded([&] {
    LoadGifResource("NO_SUCH_GIF", &target);
    after = true;
  });
  EXPECT_FALSE(after);
  ASSERT_EQ(skinErrors_.size(), 1u);
  EXPECT_EQ(skinErrors_[0], "Resource NO_SUCH_GIF not found");
}

// The start-up prefetch and a window asking for the same pictures at the same time: the
// window never waits for the prefetch, gets the pictures as decoded where asked, and the
// run keeps one copy of each; a missing picture still fails where it is asked for.
TEST_F(SkinTest, PrefetchAndWindowsAskingTogetherGetOneCopyOfEachPicture) {
  const std::vector<std::string> jpegs = {"BGDRVINFO2", "BGABOUT", "BGDRVINFO1", "BGDOWNFORM", "START_LOGO"};
  std::vector<std::string> list = jpegs;
  list.insert(list.begin() + 2, "NO_SUCH_PREFETCH");
  list.push_back("DIAGIMG56");
  std::vector<QImage> first;
  {
    const TSkinPrefetch prefetch(list);
    for (auto it = jpegs.rbegin(); it != jpegs.rend(); ++it) {
      QImage img;
      LoadJpegResource(*it, img);
      first.insert(first.begin(), img);
    }
    try {
      QImage img;
      LoadJpegResource("NO_SUCH_PREFETCH", img);
      FAIL();
    } catch (const ESkinError& e) {
      EXPECT_STREQ(e.what(), "Resource NO_SUCH_PREFETCH not found");
    }
  }
  for (size_t i = 0; i < jpegs.size(); ++i) {
    EXPECT_EQ(first[i], DecodeJpeg(ReadSkinResource(jpegs[i]))) << jpegs[i];
    QImage again;
    LoadJpegResource(jpegs[i], again);
    EXPECT_EQ(again.cacheKey(), first[i].cacheKey()) << jpegs[i] << ": decoded twice";
  }
  QImage pie, pieAgain;
  LoadGifResource("DIAGIMG56", pie);
  LoadGifResource("DIAGIMG56", pieAgain);
  EXPECT_EQ(pie, DecodeGif(ReadSkinResource("DIAGIMG56")));
  EXPECT_EQ(pie.cacheKey(), pieAgain.cacheKey());
}

TEST_F(SkinTest, CloseButtonCornersAreWhite) {
  QImage img(41, 15, QImage::Format_RGB32);
  img.fill(qRgb(200, 10, 10));
  RoundCloseButtonCorners(img);
  const int white[6][2] = {{40, 14}, {39, 14}, {40, 13}, {0, 14}, {1, 14}, {0, 13}};
  for (const auto& p : white) EXPECT_EQ(img.pixel(p[0], p[1]) & 0xFFFFFF, 0xFFFFFFu) << p[0] << "," << p[1];
  int changed = 0;
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 41; ++x) changed += (img.pixel(x, y) & 0xFFFFFF) == 0xFFFFFFu;
  EXPECT_EQ(changed, 6);
}

TEST_F(SkinTest, RoundRegionCutsOnlyTheCorners) {
  const QRegion r = RoundRectRegion(750, 550, 20, 20);
  EXPECT_FALSE(r.contains(QPoint(0, 0)));
  EXPECT_FALSE(r.contains(QPoint(749, 549)));
  EXPECT_FALSE(r.contains(QPoint(1, 1)));
  EXPECT_TRUE(r.contains(QPoint(10, 10)));
  EXPECT_TRUE(r.contains(QPoint(375, 0)));
  EXPECT_TRUE(r.contains(QPoint(0, 275)));
  EXPECT_TRUE(r.contains(QPoint(749, 275)));
  EXPECT_FALSE(r.contains(QPoint(750, 275)));
  EXPECT_EQ(r.boundingRect(), QRect(0, 0, 750, 550));
}

void Enter(QWidget* w) {
  QEnterEvent e(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QCoreApplication::sendEvent(w, &e);
}
void Leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QCoreApplication::sendEvent(w, &e);
}

TEST_F(SkinTest, ImageButtonSwapsPicturesOnEveryPointerEvent) {
  QWidget host;
  host.resize(200, 100);
  TImageButton btn(&host, QStringLiteral("ImBtnOk"), "BTNOK");
  btn.setGeometry(0, 0, 91, 32);
  host.show();
  int clicks = 0, releases = 0;
  btn.OnButtonClick = [&] { ++clicks; };
  btn.OnRelease = [&](Qt::MouseButton) { ++releases; };
  btn.ShowNormal();
  EXPECT_EQ(btn.State(), "_NA");
  Enter(&btn);
  EXPECT_EQ(btn.State(), "_A");
  QTest::mousePress(&btn, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(btn.State(), "_DN");  // any button shows the pressed picture
  QTest::mouseRelease(&btn, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(btn.State(), "_NA");
  EXPECT_EQ(clicks, 0);  // only the left button clicks
  EXPECT_EQ(releases, 1);
  QTest::mouseClick(&btn, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(clicks, 1);
  Leave(&btn);
  EXPECT_EQ(btn.State(), "_NA");
  QImage expected;
  LoadJpegResource("BTNOK_NA", expected);
  EXPECT_EQ(btn.Picture(), expected);
  // Reached by Tab only: a click never takes the focus, so the pictures stay the mouse's.
  EXPECT_EQ(btn.focusPolicy(), Qt::TabFocus);
}

TEST_F(SkinTest, RoundedButtonsKeepWhiteCornersInEveryState) {
  TImageButton btn(nullptr, QStringLiteral("ImBtnClose"), "BTNCLOSE", true);
  btn.resize(41, 15);
  for (auto show : {&TImageButton::ShowNormal, &TImageButton::ShowHover, &TImageButton::ShowPressed}) {
    (btn.*show)();
    const QImage& p = btn.Picture();
    ASSERT_EQ(p.size(), QSize(41, 15));
    for (auto [x, y] : {std::pair{40, 14}, {39, 14}, {40, 13}, {0, 14}, {1, 14}, {0, 13}})
      EXPECT_EQ(p.pixel(x, y) & 0xFFFFFF, 0xFFFFFFu) << btn.State() << " " << x << "," << y;
  }
}

TEST_F(SkinTest, ImageCheckBoxTogglesWhenAllowed) {
  TImageCheckBox box(nullptr, QStringLiteral("ImCheckBox1"), "CHECKBOX_NA", "CHECKBOX_A");
  box.resize(20, 20);
  box.SetChecked(false);
  QImage off, on;
  LoadJpegResource("CHECKBOX_NA", off);
  LoadJpegResource("CHECKBOX_A", on);
  EXPECT_EQ(box.Picture(), off);
  int toggled = 0;
  box.OnToggled = [&] { ++toggled; };
  QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(box.Tag, 1);
  EXPECT_EQ(box.Picture(), on);
  bool allowed = false;
  box.CanToggle = [&] { return allowed; };
  QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(box.Tag, 1);
  allowed = true;
  QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(box.Tag, 0);
  EXPECT_EQ(toggled, 2);
}

}  // namespace
