// Window backgrounds and the window-level buttons: the main window, its
// step headers and footer buttons, the dialogs and the splash.
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

#include "resources/painter/Catalogue.h"
#include "resources/painter/Style.h"

namespace art {

namespace {

const QString kMain = QStringLiteral("Main window");
const QString kDialogs = QStringLiteral("Dialogs");

void FillHeaderRamp(QPainter& p, const QRectF& r, double bandHeight = kHeaderHeight) {
  QLinearGradient g(QPointF(0, 0), QPointF(0, bandHeight));
  g.setColorAt(0, HeaderColourAt(0, bandHeight));
  g.setColorAt(1, HeaderColourAt(bandHeight, bandHeight));
  p.fillRect(r, g);
}

// The main window's background: deep blue header band, pale frame, the white
// page area and the footer.
QImage PaintBgMain() {
  QImage img = Canvas(750, 550);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient frame(QPointF(0, kHeaderHeight), QPointF(0, 550));
  frame.setColorAt(0, colour::kFrameTop);
  frame.setColorAt(1, colour::kFrameBottom);
  p.fillRect(QRect(0, 0, 750, 550), frame);

  FillHeaderRamp(p, QRectF(0, 0, 750, kHeaderHeight));
  // Light falls on the band from above the product name; it stays clear of
  // the top right corner where the window buttons hang.
  p.save();
  p.setClipRect(QRectF(0, 0, 750, kHeaderHeight));
  QRadialGradient glow(QPointF(560, 150), 330);
  glow.setColorAt(0, QColor(120, 190, 255, 70));
  glow.setColorAt(1, QColor(120, 190, 255, 0));
  p.fillRect(QRectF(0, 18, 750, kHeaderHeight), glow);
  // Two wide arcs give the band some depth.
  p.setPen(QPen(QColor(255, 255, 255, 20), 26));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(740, 330), 300, 300);
  p.setPen(QPen(QColor(255, 255, 255, 12), 12));
  p.drawEllipse(QPointF(700, 360), 360, 360);
  p.restore();
  // A bright rim and a soft shadow where the band meets the frame.
  p.fillRect(QRectF(0, kHeaderHeight - 2, 750, 1), QColor(110, 176, 240, 150));
  p.fillRect(QRectF(0, kHeaderHeight - 1, 750, 1), QColor(8, 38, 84));
  QLinearGradient shade(QPointF(0, kHeaderHeight), QPointF(0, kHeaderHeight + 6));
  shade.setColorAt(0, QColor(10, 40, 80, 60));
  shade.setColorAt(1, QColor(10, 40, 80, 0));
  p.fillRect(QRectF(0, kHeaderHeight, 750, 6), shade);

  // Product name on the right of the band.
  DrawEmblem(p, QRectF(520, 22, 46, 46));
  Text(p, QRectF(576, 18, 170, 40), QStringLiteral("Korvane"), Sans(32, true), Qt::white, Qt::AlignLeft | Qt::AlignVCenter,
       QColor(0, 20, 60, 110));
  Text(p, QRectF(578, 54, 170, 16), QStringLiteral("by Brantholm"), Sans(12), QColor(178, 210, 244));

  // The white page area (the pages copy this part as their background).
  const QRectF page(13, 145, 723, 371);
  SoftShadow(p, page.adjusted(0.5, 0.5, -0.5, -0.5), 8, 5, 60);
  QPainterPath pagePath;
  pagePath.addRoundedRect(page.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
  p.fillPath(pagePath, Qt::white);
  p.setPen(QPen(colour::kBorder, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(pagePath);

  // Footer.
  Text(p, QRectF(400, 521, 335, 23), QStringLiteral("Copyright \u00A9 2007 Brantholm. All rights reserved."), Sans(11),
       colour::kSubtleText, Qt::AlignRight | Qt::AlignVCenter);

  // Window edge: the region's corners are 20 x 20.
  p.setPen(QPen(QColor(10, 44, 92), 1));
  p.drawRoundedRect(QRectF(0.5, 0.5, 749, 549), 10, 10);
  return img;
}

// Step header: three numbered stations over the band, the current one lit.
QImage PaintStepHead(const QImage& bg, int step) {
  QImage img = Crop(bg, QRect(0, 0, 190, 105));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const double cy = 36, r = 13;
  const double xs[3] = {57, 101, 145};
  for (int i = 0; i < 2; ++i) {
    const bool done = i + 1 < step;
    p.setPen(QPen(done ? QColor(255, 255, 255, 200) : QColor(255, 255, 255, 70), 2));
    p.drawLine(QPointF(xs[i] + r + 3, cy), QPointF(xs[i + 1] - r - 3, cy));
  }
  for (int i = 0; i < 3; ++i) {
    const int n = i + 1;
    const QPointF c(xs[i], cy);
    if (n == step) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(255, 255, 255, 46));
      p.drawEllipse(c, r + 5, r + 5);
      QRadialGradient g(c - QPointF(3, 4), r * 1.6);
      g.setColorAt(0, Qt::white);
      g.setColorAt(1, QColor(212, 232, 252));
      p.setBrush(g);
      p.setPen(QPen(QColor(255, 255, 255), 1));
      p.drawEllipse(c, r, r);
      Text(p, QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), QString::number(n), Sans(15, true), colour::kAccentDark,
           Qt::AlignCenter);
    } else if (n < step) {
      p.setPen(QPen(QColor(255, 255, 255, 210), 1.5));
      p.setBrush(QColor(52, 168, 83));
      p.drawEllipse(c, r - 1, r - 1);
      DrawGlyph(p, Glyph::Check, QRectF(c.x() - 7, c.y() - 7, 14, 14), Qt::white, 2.4);
    } else {
      p.setPen(QPen(QColor(255, 255, 255, 140), 1.5));
      p.setBrush(QColor(255, 255, 255, 18));
      p.drawEllipse(c, r - 1, r - 1);
      Text(p, QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), QString::number(n), Sans(14, true),
           QColor(255, 255, 255, 170), Qt::AlignCenter);
    }
  }
  QFont caption = Sans(10, true);
  caption.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
  Text(p, QRectF(44, 56, 146, 14), QStringLiteral("STEP %1 OF 3").arg(step), caption, QColor(170, 206, 244));
  return img;
}

// The window buttons hang from the top edge: square top, rounded bottom.
// Their outer corner pixels are exactly the three per lower corner that the
// dialogs whiten, so on a white dialog the tab shows clean round corners.
QImage PaintTab(int w, int h, bool close, ButtonState state) {
  QImage img = Canvas(w, h);
  {
    QPainter bg(&img);
    for (int y = 0; y < h; ++y) bg.fillRect(QRectF(0, y, w, 1), HeaderColourAt(y + 0.5));
  }
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QColor top, bottom;
  if (close) {
    if (state == ButtonState::Hover) { top = QColor(246, 104, 86); bottom = QColor(212, 54, 40); }
    else if (state == ButtonState::Down) { top = QColor(150, 30, 22); bottom = QColor(182, 44, 34); }
    else { top = QColor(214, 76, 62); bottom = QColor(172, 40, 30); }
  } else {
    if (state == ButtonState::Hover) { top = QColor(108, 172, 238); bottom = QColor(50, 114, 192); }
    else if (state == ButtonState::Down) { top = QColor(16, 54, 108); bottom = QColor(30, 78, 142); }
    else { top = QColor(74, 136, 208); bottom = QColor(32, 86, 160); }
  }
  QPainterPath tab;
  tab.addRoundedRect(QRectF(0, -6, w, h + 6), 3.2, 3.2);
  QLinearGradient g(QPointF(0, 0), QPointF(0, h));
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.fillPath(tab, g);
  p.setPen(QPen(QColor(255, 255, 255, state == ButtonState::Down ? 40 : 90), 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tab);
  if (state != ButtonState::Down) p.fillRect(QRectF(1, 0, w - 2, h * 0.45), QColor(255, 255, 255, 30));
  const double shift = state == ButtonState::Down ? 1 : 0;
  QPen mark(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap);
  p.setPen(mark);
  const double cx = w / 2.0, cy = h / 2.0 - 0.5 + shift;
  if (close) {
    p.drawLine(QPointF(cx - 3.5, cy - 3.5), QPointF(cx + 3.5, cy + 3.5));
    p.drawLine(QPointF(cx + 3.5, cy - 3.5), QPointF(cx - 3.5, cy + 3.5));
  } else {
    p.drawLine(QPointF(cx - 4.5, cy + 3), QPointF(cx + 4.5, cy + 3));
  }
  p.end();
  // Keep the three outer pixels of each lower corner exactly background.
  const QPoint corners[6] = {{0, h - 1}, {1, h - 1}, {0, h - 2}, {w - 1, h - 1}, {w - 2, h - 1}, {w - 1, h - 2}};
  for (const QPoint& pt : corners) img.setPixelColor(pt, HeaderColourAt(pt.y() + 0.5));
  return img;
}

QImage FooterButton(const QImage& bg, const QRect& at, const QString& text, ButtonState state) {
  QImage img = Crop(bg, at);
  PaintButton(img, QRect(0, 0, at.width(), at.height()), ButtonStyle::Footer, state, text, Glyph::None, 12, 4);
  return img;
}

// The dialogs: white, a thin blue frame with an accent across the top edge.
QImage DialogBase(int w, int h, const QString& title, double radius) {
  QImage img = Canvas(w, h);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient accent(QPointF(0, 0), QPointF(w, 0));
  accent.setColorAt(0, colour::kHeaderBottom);
  accent.setColorAt(0.6, colour::kHeaderTop);
  accent.setColorAt(1, colour::kHeaderBottom);
  p.fillRect(QRectF(0, 0, w, 2), accent);
  if (!title.isEmpty())
    Text(p, QRectF(20, 7, w - 110, 22), title, Sans(15, true), colour::kAccentDark);
  p.setPen(QPen(QColor(70, 110, 160), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), radius, radius);
  return img;
}

void Separator(QPainter& p, double x0, double x1, double y) {
  QLinearGradient g(QPointF(x0, y), QPointF(x1, y));
  g.setColorAt(0, QColor(214, 224, 236, 0));
  g.setColorAt(0.1, colour::kSoftLine);
  g.setColorAt(0.9, colour::kSoftLine);
  g.setColorAt(1, QColor(214, 224, 236, 0));
  p.fillRect(QRectF(x0, y, x1 - x0, 1), g);
}

// A box with a title band, as in the driver details: four captions, each
// vertically centred on its value label's row (15 pixels high).
void CaptionBox(QPainter& p, const QRectF& box, const QString& title, int firstRowTop) {
  QPainterPath path;
  path.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  p.save();
  p.setClipPath(path);
  QLinearGradient band(box.topLeft(), QPointF(box.left(), box.top() + 24));
  band.setColorAt(0, QColor(240, 246, 253));
  band.setColorAt(1, QColor(226, 237, 250));
  p.fillRect(QRectF(box.left(), box.top(), box.width(), 24), band);
  p.fillRect(QRectF(box.left(), box.top() + 24, box.width(), 1), colour::kSoftLine);
  p.restore();
  p.setPen(QPen(colour::kBorder, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  Text(p, QRectF(box.left() + 12, box.top() + 1, box.width() - 24, 23), title, Sans(13, true), colour::kAccentDark);
  const QString captions[4] = {QStringLiteral("Name:"), QStringLiteral("Manufacturer:"), QStringLiteral("Date:"),
                               QStringLiteral("Version:")};
  for (int i = 0; i < 4; ++i)
    Text(p, QRectF(92, firstRowTop + 18 * i, 86, 15), captions[i], Sans(12, true), QColor(84, 100, 122));
}

QImage PaintDrvInfo(bool update) {
  const int h = update ? 336 : 186;
  QImage img = DialogBase(566, h, QStringLiteral("Driver Information"), 11.5);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  DrawBadge(p, update ? Badge::Bad : Badge::Good, QRectF(24, 46, 44, 44));
  CaptionBox(p, QRectF(84, 38, 462, 110), QStringLiteral("Installed Driver"), 68);
  if (update) {
    DrawBadge(p, Badge::Down, QRectF(24, 196, 44, 44));
    CaptionBox(p, QRectF(84, 188, 462, 110), QStringLiteral("Driver Update"), 219);
    Text(p, QRectF(84, 304, 462, 22), QStringLiteral("A newer driver is available for this device."), Sans(12),
         colour::kSubtleText);
  } else {
    Text(p, QRectF(84, 154, 462, 22), QStringLiteral("This driver is up to date."), Sans(12), colour::kSubtleText);
  }
  return img;
}

QImage PaintBgInfo() {
  QImage img = DialogBase(405, 162, QString(), 9.5);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  DrawBadge(p, Badge::Info, QRectF(20, 26, 42, 42));
  Separator(p, 16, 389, 111);
  return img;
}

QImage PaintBgDownForm() {
  QImage img = DialogBase(405, 162, QString(), 9.5);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  DrawBadge(p, Badge::Down, QRectF(22, 24, 46, 46));
  Text(p, QRectF(84, 6, 250, 20), QStringLiteral("Downloading driver update"), Sans(12, true), colour::kAccentDark);
  // A well around the gauge.
  p.setPen(QPen(colour::kBorder, 1));
  p.setBrush(QColor(246, 249, 253));
  p.drawRoundedRect(QRectF(20.5, 74.5, 364, 21), 3, 3);
  Separator(p, 16, 389, 115);
  return img;
}

QImage PaintBgAbout() {
  QImage img = DialogBase(463, 260, QString(), 9);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // A pale band behind the mark and the name.
  QLinearGradient band(QPointF(0, 2), QPointF(0, 108));
  band.setColorAt(0, QColor(232, 241, 252));
  band.setColorAt(1, QColor(255, 255, 255));
  p.fillRect(QRectF(1, 20, 461, 88), band);
  DrawEmblem(p, QRectF(34, 30, 74, 74));
  Text(p, QRectF(126, 28, 300, 44), QStringLiteral("Korvane"), Sans(36, true), colour::kAccentDark, Qt::AlignLeft | Qt::AlignVCenter);
  Text(p, QRectF(128, 72, 320, 18), QStringLiteral("Driver update utility by Brantholm"), Sans(13), colour::kSubtleText);
  Separator(p, 120, 440, 112);
  Text(p, QRectF(40, 125, 96, 16), QStringLiteral("Version:"), Sans(13), colour::kSubtleText, Qt::AlignRight | Qt::AlignVCenter);
  Text(p, QRectF(128, 150, 310, 54),
       QStringLiteral("Korvane checks the drivers of your PC against the Brantholm update server and "
                      "fetches newer driver packages for you."),
       Sans(12), colour::kText, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap);
  Text(p, QRectF(90, 216, 106, 16), QStringLiteral("Web site:"), Sans(13), colour::kSubtleText, Qt::AlignRight | Qt::AlignVCenter);
  Text(p, QRectF(128, 238, 320, 14), QStringLiteral("Copyright \u00A9 2007 Brantholm. All rights reserved."), Sans(11),
       colour::kSubtleText);
  return img;
}

QImage PaintSplash() {
  QImage img = Canvas(315, 170);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  FillHeaderRamp(p, QRectF(0, 0, 315, 170), 170);
  QRadialGradient glow(QPointF(240, 20), 220);
  glow.setColorAt(0, QColor(130, 196, 255, 90));
  glow.setColorAt(1, QColor(130, 196, 255, 0));
  p.fillRect(QRectF(0, 0, 315, 170), glow);
  p.setPen(QPen(QColor(255, 255, 255, 18), 18));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(330, 210), 150, 150);
  DrawEmblem(p, QRectF(26, 38, 66, 66));
  Text(p, QRectF(104, 36, 200, 46), QStringLiteral("Korvane"), Sans(38, true), Qt::white, Qt::AlignLeft | Qt::AlignVCenter,
       QColor(0, 20, 60, 120));
  Text(p, QRectF(106, 82, 200, 18), QStringLiteral("by Brantholm"), Sans(13), QColor(182, 214, 246));
  p.fillRect(QRectF(26, 124, 263, 1), QColor(255, 255, 255, 50));
  Text(p, QRectF(26, 130, 263, 16), QStringLiteral("Keeping your drivers up to date"), Sans(11), QColor(196, 222, 250));
  Text(p, QRectF(26, 130, 263, 16), QStringLiteral("Loading..."), Sans(11, true), Qt::white, Qt::AlignRight | Qt::AlignVCenter);
  p.setPen(QPen(QColor(8, 36, 80), 1));
  p.drawRoundedRect(QRectF(0.5, 0.5, 314, 169), 3, 3);
  return img;
}

}  // namespace

void PaintMainWindow(Catalogue& c) {
  const QImage bg = PaintBgMain();
  c.Add(QStringLiteral("BGMAIN"), Format::Jpeg, bg, kMain, QStringLiteral("main window background: blue header band with the product name, pale frame, white page area, footer"));
  c.Add(QStringLiteral("BGWHITE"), Format::Jpeg, Crop(bg, QRect(13, 145, 723, 371)), kMain,
        QStringLiteral("the white page area of BGMAIN (left 13, top 145); the pages' background"));
  for (int step = 1; step <= 3; ++step)
    c.Add(QStringLiteral("ICOSTEP%1HEAD").arg(step), Format::Jpeg, PaintStepHead(bg, step), kMain,
          QStringLiteral("step header for step %1: three stations, number %1 lit, \"STEP %1 OF 3\"; cut from BGMAIN at 0, 0").arg(step));
  struct Footer { const char* name; QRect at; const char* text; };
  const Footer footers[] = {{"BTNSETTINGS", QRect(37, 521, 73, 23), "Settings"},
                            {"BTNHELP", QRect(121, 521, 55, 23), "Help"},
                            {"BTNABOUT", QRect(187, 521, 62, 23), "About"}};
  for (const Footer& f : footers) {
    const QString base = QString::fromLatin1(f.name);
    const QString text = QString::fromLatin1(f.text);
    c.Add(base + QStringLiteral("_NA"), Format::Jpeg, FooterButton(bg, f.at, text, ButtonState::Normal), kMain,
          QStringLiteral("footer button \"%1\", normal").arg(text));
    c.Add(base + QStringLiteral("_A"), Format::Jpeg, FooterButton(bg, f.at, text, ButtonState::Hover), kMain,
          QStringLiteral("footer button \"%1\", hover").arg(text));
    c.Add(base + QStringLiteral("_DN"), Format::Jpeg, FooterButton(bg, f.at, text, ButtonState::Down), kMain,
          QStringLiteral("footer button \"%1\", pressed").arg(text));
  }
  c.Add(QStringLiteral("BTNSETTINGS_GRAY"), Format::Jpeg, FooterButton(bg, QRect(37, 521, 73, 23), QStringLiteral("Settings"), ButtonState::Gray),
        kMain, QStringLiteral("footer button \"Settings\", unavailable (greyed)"));
  const char* states[3] = {"_NA", "_A", "_DN"};
  const ButtonState st[3] = {ButtonState::Normal, ButtonState::Hover, ButtonState::Down};
  const char* stateText[3] = {"normal", "hover", "pressed"};
  for (int i = 0; i < 3; ++i) {
    c.Add(QStringLiteral("BTNCLOSE") + QLatin1String(states[i]), Format::Jpeg, PaintTab(41, 15, true, st[i]), kMain,
          QStringLiteral("close tab hanging from the top edge (red, white cross), %1; used by the dialogs too").arg(QLatin1String(stateText[i])));
  }
  for (int i = 0; i < 3; ++i) {
    c.Add(QStringLiteral("BTNMIN") + QLatin1String(states[i]), Format::Jpeg, PaintTab(25, 15, false, st[i]), kMain,
          QStringLiteral("minimise tab (blue, white bar), %1").arg(QLatin1String(stateText[i])));
  }
}

void PaintDialogs(Catalogue& c) {
  c.Add(QStringLiteral("BGABOUT"), Format::Jpeg, PaintBgAbout(), kDialogs,
        QStringLiteral("About box: product mark and name, captions \"Version:\" (ends at x 136, row 125) and \"Web site:\" (ends at x 196, row 216), copyright"));
  c.Add(QStringLiteral("START_LOGO"), Format::Jpeg, PaintSplash(), kDialogs, QStringLiteral("splash: blue tile with the mark, \"Korvane\", \"by Brantholm\", \"Loading...\""));
  c.Add(QStringLiteral("BGINFO"), Format::Jpeg, PaintBgInfo(), kDialogs,
        QStringLiteral("message dialog: white, blue top accent, information badge at 20, 26, separator above the buttons"));
  c.Add(QStringLiteral("BGDRVINFO1"), Format::Jpeg, PaintDrvInfo(false), kDialogs,
        QStringLiteral("driver details, up to date: title, green tick, box \"Installed Driver\" with Name/Manufacturer/Date/Version captions on rows 68, 86, 104, 122 (values at x 182)"));
  c.Add(QStringLiteral("BGDRVINFO2"), Format::Jpeg, PaintDrvInfo(true), kDialogs,
        QStringLiteral("driver details, out of date: red cross with box \"Installed Driver\" (rows 68-122), download symbol with box \"Driver Update\" (rows 219-273)"));
  c.Add(QStringLiteral("BGDOWNFORM"), Format::Jpeg, PaintBgDownForm(), kDialogs,
        QStringLiteral("download dialog: download badge, title, well around the gauge at 22, 76, separator above Cancel"));
  const char* states[3] = {"_NA", "_A", "_DN"};
  const ButtonState st[3] = {ButtonState::Normal, ButtonState::Hover, ButtonState::Down};
  const char* stateText[3] = {"normal", "hover", "pressed"};
  for (int i = 0; i < 3; ++i) {
    QImage ok = Canvas(91, 32), cancel = Canvas(91, 32), abort = Canvas(91, 32), down = Canvas(220, 30);
    PaintButton(ok, ok.rect(), ButtonStyle::Primary, st[i], QStringLiteral("OK"), Glyph::None, 14);
    PaintButton(cancel, cancel.rect(), ButtonStyle::Secondary, st[i], QStringLiteral("Cancel"), Glyph::None, 14);
    PaintButton(abort, abort.rect(), ButtonStyle::Secondary, st[i], QStringLiteral("Abort"), Glyph::None, 14);
    PaintButton(down, down.rect(), ButtonStyle::Download, st[i], QStringLiteral("Download Update"), Glyph::ArrowDown, 14);
    const QString s = QLatin1String(stateText[i]);
    c.Add(QStringLiteral("BTNOK") + QLatin1String(states[i]), Format::Jpeg, ok, kDialogs, QStringLiteral("blue \"OK\" button on white, %1").arg(s));
    c.Add(QStringLiteral("BTNCANCEL") + QLatin1String(states[i]), Format::Jpeg, cancel, kDialogs, QStringLiteral("light \"Cancel\" button on white, %1").arg(s));
    c.Add(QStringLiteral("BTNABORT") + QLatin1String(states[i]), Format::Jpeg, abort, kDialogs, QStringLiteral("light \"Abort\" button on white, %1").arg(s));
    c.Add(QStringLiteral("BTNDOWNLOAD") + QLatin1String(states[i]), Format::Jpeg, down, kDialogs,
          QStringLiteral("orange \"Download Update\" button with a down arrow, %1").arg(s));
  }
}

}  // namespace art
