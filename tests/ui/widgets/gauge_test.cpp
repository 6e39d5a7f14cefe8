#include <gtest/gtest.h>

#include "ui/widgets/cm_LSVGauges.h"

#include <climits>

namespace {

struct PercentCase {
  int32_t progress, minValue, maxValue;
  int percent;
};

TEST(Gauge, PercentIsTruncatedWithoutOverflow) {
  const PercentCase cases[] = {
      {2, 0, 3, 66},                          // truncated, not rounded
      {1073741824, 0, INT32_MAX, 50},         // a large file: no overflow
      {INT32_MAX, 0, INT32_MAX, 100},
      {5, 5, 5, 0},                           // empty range shows 0 %
      {-50, -100, 100, 25},
      {29, 0, 100, 29},
      {7, 0, 7, 100},
      {INT32_MIN + 1, -INT32_MAX, INT32_MAX, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TLSVGauge::PercentOf(c.progress, c.minValue, c.maxValue), c.percent)
        << c.progress << " in " << c.minValue << ".." << c.maxValue;
}

TEST(Gauge, FilledWidthCoversTheWholeBarAtHundred) {
  TLSVGauge g;
  g.resize(657, 21);
  const std::pair<int, int> cases[] = {{0, 0}, {1, 6}, {50, 329}, {100, 658}};
  for (auto [p, f] : cases) {
    g.SetProgress(p);
    EXPECT_EQ(g.FilledWidth(), f) << p;
  }
}

TEST(Gauge, ProgressClampsAndRepaintsOnlyWhenPercentChanges) {
  TLSVGauge g;
  g.resize(100, 10);
  g.SetProgress(10);
  const int r = g.RepaintRequests();
  g.SetProgress(10);
  EXPECT_EQ(g.RepaintRequests(), r);
  g.SetProgress(10000);
  EXPECT_EQ(g.Progress(), 100);
  EXPECT_EQ(g.RepaintRequests(), r + 1);
  g.SetProgress(-5);
  EXPECT_EQ(g.Progress(), 0);

  // A download: many block reports, few repaints.
  g.SetMaxValue(1000000);
  const int before = g.RepaintRequests();
  for (int v = 0; v <= 1000000; v += 1000) g.SetProgress(v);
  EXPECT_EQ(g.RepaintRequests() - before, 100);
}

TEST(Gauge, RangeErrorsCarryTheExactMessageAndChangeNothing) {
  TLSVGauge g;
  try {
    g.SetMaxValue(-1);
    FAIL() << "no error";
  } catch (const ELSVGaugeError& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_EQ(g.MaxValue(), 100);
  try {
    g.SetMinValue(101);
    FAIL() << "no error";
  } catch (const ELSVGaugeError& e) {
    EXPECT_STREQ(e.what(), "Value must be between -2147483647 and 99");
  }
  EXPECT_EQ(g.MinValue(), 0);

  g.SetProgress(80);
  g.SetMaxValue(50);
  EXPECT_EQ(g.Progress(), 50);
  g.SetMinValue(50);  // equal bounds are allowed
  EXPECT_EQ(g.Percent(), 0);
  g.SetMinValue(0);
  g.SetProgress(10);
  g.SetMinValue(20);
  EXPECT_EQ(g.Progress(), 20);
}

TEST(Gauge, TextFormatting) {
  TLSVGauge g;
  g.SetMaxValue(3);
  g.SetProgress(2);
  EXPECT_EQ(g.FormattedText(), QStringLiteral("66%"));
  g.SetText(QStringLiteral("done %d of 100 (%s)"));
  EXPECT_EQ(g.FormattedText(), QStringLiteral("done 66 of 100 (%s)"));
  g.SetText(QString());
  EXPECT_TRUE(g.FormattedText().isEmpty());
}

QRgb At(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }

TEST(Gauge, PlainColoursSplitTheTextAtTheBarEdge) {
  TLSVGauge g;
  g.resize(200, 24);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(18);
  f.setBold(true);
  g.GaugeFont().Font = f;
  g.ForeColor = QColor(0, 0, 128);
  g.BackColor = Qt::white;
  g.SetProgress(50);
  const QImage img = g.Compose();
  ASSERT_EQ(img.size(), QSize(200, 24));
  const int fw = g.FilledWidth();
  EXPECT_EQ(fw, 100);
  // Away from the text: plain fills.
  EXPECT_EQ(At(img, 2, 2), 0x000080u);
  EXPECT_EQ(At(img, 197, 2), 0xFFFFFFu);
  // Inside the text: only the two text colours appear besides the fills,
  // white over the bar and black over the empty part.
  int whiteOnBar = 0, blackOnEmpty = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb c = At(img, x, y);
      if (x < fw) {
        EXPECT_TRUE(c == 0x000080u || c == 0xFFFFFFu) << x << "," << y << " " << std::hex << c;
        whiteOnBar += c == 0xFFFFFFu;
      } else {
        EXPECT_TRUE(c == 0xFFFFFFu || c == 0x000000u) << x << "," << y << " " << std::hex << c;
        blackOnEmpty += c == 0x000000u;
      }
    }
  EXPECT_GT(whiteOnBar, 10);
  EXPECT_GT(blackOnEmpty, 10);
}

TEST(Gauge, TexturesInvertBeneathTheTextAndNeedNoRepaint) {
  TLSVGauge g;
  g.resize(120, 20);
  g.SetText(QString());
  QImage fore(120, 20, QImage::Format_RGB32);
  fore.fill(QColor(10, 200, 30));
  QImage back(120, 20, QImage::Format_RGB32);
  back.fill(QColor(230, 230, 230));
  const int r = g.RepaintRequests();
  g.TextureOnFore() = fore;
  g.TextureOnBack() = back;
  EXPECT_EQ(g.RepaintRequests(), r);
  g.SetProgress(25);
  QImage img = g.Compose();
  const int fw = g.FilledWidth();
  EXPECT_EQ(fw, 30);
  EXPECT_EQ(At(img, 29, 10), 0x0AC81Eu);
  EXPECT_EQ(At(img, 30, 10), 0xE6E6E6u);

  // With text, character pixels are the complement of the texture beneath.
  g.SetText(QStringLiteral("%d%%"));
  img = g.Compose();
  int inverted = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = fw; x < 120; ++x) {
      const QRgb c = At(img, x, y);
      EXPECT_TRUE(c == 0xE6E6E6u || c == 0x191919u) << x << "," << y;
      inverted += c == 0x191919u;
    }
  EXPECT_GT(inverted, 5);
}

}  // namespace
