// Pictures of the four wizard pages: icons, dividers, check boxes, list
// marks, gauge textures, edit frames, the scan animation and the advisory.
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

#include "resources/painter/Catalogue.h"
#include "resources/painter/Style.h"

namespace art {

namespace {

const QString kStart = QStringLiteral("Start page");
const QString kScan = QStringLiteral("Scan page");
const QString kResults = QStringLiteral("Results page");
const QString kSettings = QStringLiteral("Settings page");
const QString kGauges = QStringLiteral("Gauges");

// Small pictures are painted four times larger and scaled down, which gives
// cleaner edges than painting at the final size.
template <typename Fn>
QImage Supersampled(int w, int h, const QColor& background, Fn paint) {
  const int k = 4;
  QImage big = Canvas(w * k, h * k, background);
  {
    QPainter p(&big);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(k, k);
    paint(p);
  }
  return big.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage GaugeTexture(int w, int h, int kind) {  // 0 empty, 1 green, 2 yellow, 3 blue
  QImage img = Canvas(w, h);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const double radius = std::min(4.0, h / 2.5);
  const QRectF r(0.5, 0.5, w - 1, h - 1);
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  QColor border;
  switch (kind) {
    case 0:
      g.setColorAt(0, QColor(222, 227, 234));
      g.setColorAt(0.35, QColor(238, 241, 245));
      g.setColorAt(1, QColor(250, 251, 253));
      border = QColor(184, 194, 208);
      break;
    case 1:
      g.setColorAt(0, QColor(150, 224, 128));
      g.setColorAt(0.5, QColor(66, 176, 70));
      g.setColorAt(1, QColor(44, 146, 54));
      border = QColor(36, 124, 44);
      break;
    case 2:
      g.setColorAt(0, QColor(255, 234, 130));
      g.setColorAt(0.5, QColor(250, 196, 40));
      g.setColorAt(1, QColor(236, 168, 18));
      border = QColor(196, 136, 10);
      break;
    default:
      g.setColorAt(0, QColor(132, 192, 246));
      g.setColorAt(1, QColor(34, 104, 184));
      border = QColor(26, 84, 152);
      break;
  }
  p.fillPath(path, g);
  p.save();
  p.setClipPath(path);
  if (kind != 0) {
    // Diagonal stripes and a gloss on the upper half.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, kind == 2 ? 40 : 26));
    for (int x = -h; x < w + h; x += 18) {
      QPolygonF band;
      band << QPointF(x, h) << QPointF(x + 9, h) << QPointF(x + 9 + h, 0) << QPointF(x + h, 0);
      p.drawPolygon(band);
    }
    p.fillRect(QRectF(0, 0, w, h * 0.45), QColor(255, 255, 255, 60));
  } else {
    p.fillRect(QRectF(0, 0, w, 1.5), QColor(0, 0, 0, 18));
  }
  p.restore();
  p.setPen(QPen(border, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  return img;
}

QImage ToolGaugeTexture(bool fill) {
  QImage img = Canvas(202, 9);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(0.5, 0.5, 201, 8), 3, 3);
  if (fill) {
    QLinearGradient g(QPointF(0, 0), QPointF(202, 0));
    g.setColorAt(0, QColor(120, 196, 250));
    g.setColorAt(1, QColor(24, 92, 176));
    p.fillPath(path, g);
    p.fillRect(QRectF(1, 1, 200, 3), QColor(255, 255, 255, 70));
    p.setPen(QPen(QColor(24, 80, 150), 1));
  } else {
    p.fillPath(path, QColor(236, 240, 245));
    p.setPen(QPen(QColor(184, 194, 208), 1));
  }
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  return img;
}

void Monitor(QPainter& p, const QRectF& b) {
  const double s = b.width();
  const QRectF screen(b.left() + s * 0.04, b.top() + s * 0.08, s * 0.92, s * 0.64);
  p.setPen(QPen(QColor(60, 70, 84), s * 0.03));
  QLinearGradient bezel(screen.topLeft(), screen.bottomLeft());
  bezel.setColorAt(0, QColor(110, 120, 134));
  bezel.setColorAt(1, QColor(60, 68, 80));
  p.setBrush(bezel);
  p.drawRoundedRect(screen, s * 0.06, s * 0.06);
  const QRectF glass = screen.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06);
  QLinearGradient g(glass.topLeft(), glass.bottomRight());
  g.setColorAt(0, QColor(120, 200, 255));
  g.setColorAt(1, QColor(20, 86, 176));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRect(glass);
  QPainterPath shine;
  shine.moveTo(glass.topLeft());
  shine.lineTo(glass.left() + glass.width() * 0.6, glass.top());
  shine.lineTo(glass.left(), glass.top() + glass.height() * 0.7);
  shine.closeSubpath();
  p.fillPath(shine, QColor(255, 255, 255, 50));
  // Stand.
  QPolygonF neck;
  neck << QPointF(b.left() + s * 0.42, screen.bottom()) << QPointF(b.left() + s * 0.58, screen.bottom())
       << QPointF(b.left() + s * 0.62, screen.bottom() + s * 0.12) << QPointF(b.left() + s * 0.38, screen.bottom() + s * 0.12);
  p.setBrush(QColor(90, 98, 110));
  p.drawPolygon(neck);
  p.setBrush(QColor(70, 78, 90));
  p.drawRoundedRect(QRectF(b.left() + s * 0.24, screen.bottom() + s * 0.11, s * 0.52, s * 0.07), s * 0.03, s * 0.03);
}

QImage IconSysInfo() {
  return Supersampled(48, 48, Qt::white, [](QPainter& p) {
    Monitor(p, QRectF(1, 2, 44, 44));
    DrawBadge(p, Badge::Info, QRectF(29, 27, 19, 19));
  });
}

QImage IconLastCheck() {
  return Supersampled(48, 48, Qt::white, [](QPainter& p) {
    // Clipboard with a checked list.
    p.setPen(QPen(QColor(120, 86, 50), 1));
    QLinearGradient board(QPointF(0, 4), QPointF(0, 46));
    board.setColorAt(0, QColor(196, 150, 96));
    board.setColorAt(1, QColor(150, 106, 60));
    p.setBrush(board);
    p.drawRoundedRect(QRectF(6, 5, 32, 40), 3, 3);
    p.setPen(QPen(QColor(200, 206, 214), 0.8));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9, 9, 26, 33));
    p.setPen(Qt::NoPen);
    QLinearGradient clip(QPointF(0, 2), QPointF(0, 10));
    clip.setColorAt(0, QColor(170, 178, 190));
    clip.setColorAt(1, QColor(110, 118, 130));
    p.setBrush(clip);
    p.drawRoundedRect(QRectF(15, 2, 14, 7), 2, 2);
    for (int i = 0; i < 4; ++i) {
      const double y = 15 + i * 6.5;
      p.setPen(QPen(colour::kGreen, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPolygonF tick;
      tick << QPointF(11.5, y) << QPointF(13, y + 1.6) << QPointF(16, y - 1.6);
      p.drawPolyline(tick);
      p.setPen(QPen(QColor(150, 164, 182), 1.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(19, y), QPointF(31 - (i % 2) * 4, y));
    }
    DrawBadge(p, Badge::Good, QRectF(28, 27, 19, 19));
  });
}

QImage IconWarning() {
  return Supersampled(48, 48, Qt::white, [](QPainter& p) {
    DrawGlyph(p, Glyph::Warning, QRectF(1, 1, 46, 46), QColor(246, 176, 22), 4.2);
  });
}

void Gear(QPainter& p, const QPointF& c, double ro, double ri, int teeth, const QColor& light, const QColor& dark) {
  QPainterPath gear;
  for (int i = 0; i < teeth * 4; ++i) {
    const double a = (i / (teeth * 4.0)) * 2 * M_PI + M_PI / (teeth * 4.0);
    const double r = (i % 4 == 0 || i % 4 == 1) ? ro : ri;
    const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    if (i == 0) gear.moveTo(pt); else gear.lineTo(pt);
  }
  gear.closeSubpath();
  gear.addEllipse(c, ri * 0.42, ri * 0.42);
  gear.setFillRule(Qt::OddEvenFill);
  QLinearGradient g(QPointF(c.x() - ro, c.y() - ro), QPointF(c.x() + ro, c.y() + ro));
  g.setColorAt(0, light);
  g.setColorAt(1, dark);
  p.setPen(QPen(dark.darker(130), 0.8));
  p.setBrush(g);
  p.drawPath(gear);
}

QImage IconSettings() {
  return Supersampled(62, 50, Qt::white, [](QPainter& p) {
    Gear(p, QPointF(42, 17), 14, 10.5, 9, QColor(200, 206, 216), QColor(112, 122, 138));
    Gear(p, QPointF(23, 29), 20, 15, 10, QColor(110, 184, 250), QColor(22, 88, 170));
  });
}

QImage IconDownTool() {
  return Supersampled(37, 34, Qt::white, [](QPainter& p) {
    // A parcel with a download arrow.
    QLinearGradient box(QPointF(0, 14), QPointF(0, 33));
    box.setColorAt(0, QColor(104, 176, 244));
    box.setColorAt(1, QColor(28, 94, 176));
    p.setPen(QPen(QColor(20, 70, 140), 0.8));
    p.setBrush(box);
    p.drawRoundedRect(QRectF(4, 15, 29, 17), 2.5, 2.5);
    p.fillRect(QRectF(4.5, 15.5, 28, 5), QColor(255, 255, 255, 60));
    p.fillRect(QRectF(16.5, 15.5, 4, 16), QColor(255, 255, 255, 90));
    QPainterPath arrow;
    arrow.moveTo(14.5, 1);
    arrow.lineTo(22.5, 1);
    arrow.lineTo(22.5, 9);
    arrow.lineTo(27, 9);
    arrow.lineTo(18.5, 18);
    arrow.lineTo(10, 9);
    arrow.lineTo(14.5, 9);
    arrow.closeSubpath();
    QLinearGradient ga(QPointF(0, 1), QPointF(0, 18));
    ga.setColorAt(0, QColor(120, 214, 110));
    ga.setColorAt(1, QColor(34, 146, 52));
    p.setPen(QPen(QColor(24, 112, 40), 0.8));
    p.setBrush(ga);
    p.drawPath(arrow);
  });
}

QImage Delimiter(bool vertical) {
  const int w = vertical ? 3 : 204, h = vertical ? 293 : 2;
  QImage img = Canvas(w, h);
  const int len = vertical ? h : w;
  for (int i = 0; i < len; ++i) {
    // Fade in and out over the first and last fifth.
    const double t = std::min(1.0, std::min(i, len - 1 - i) / (len * 0.2));
    auto mix = [&](const QColor& c) {
      return QColor(static_cast<int>(255 + (c.red() - 255) * t), static_cast<int>(255 + (c.green() - 255) * t),
                    static_cast<int>(255 + (c.blue() - 255) * t));
    };
    const QColor line = mix(QColor(190, 204, 222)), light = mix(QColor(236, 241, 247));
    if (vertical) {
      img.setPixelColor(0, i, light);
      img.setPixelColor(1, i, line);
      img.setPixelColor(2, i, Qt::white);
    } else {
      img.setPixelColor(i, 0, line);
      img.setPixelColor(i, 1, light);
    }
  }
  return img;
}

QImage CheckBox(int w, int h, bool on, const QColor& onLight, const QColor& onDark) {
  return Supersampled(w, h, Qt::white, [&](QPainter& p) {
    const QRectF box(1.5 + (w - 18) / 2.0 * 0.0 + (w > 18 ? 4 : 0), (h - 17) / 2.0, 16, 16);
    if (on) {
      QLinearGradient g(box.topLeft(), box.bottomLeft());
      g.setColorAt(0, onLight);
      g.setColorAt(1, onDark);
      p.setPen(QPen(onDark.darker(125), 1));
      p.setBrush(g);
      p.drawRoundedRect(box, 3.5, 3.5);
      DrawGlyph(p, Glyph::Check, box.adjusted(2.5, 2.5, -2.5, -2.5), Qt::white, 2.2);
    } else {
      QLinearGradient g(box.topLeft(), box.bottomLeft());
      g.setColorAt(0, QColor(236, 240, 246));
      g.setColorAt(1, Qt::white);
      p.setPen(QPen(QColor(136, 156, 186), 1));
      p.setBrush(g);
      p.drawRoundedRect(box, 3.5, 3.5);
    }
  });
}

QImage ListMark(Badge badge) {
  return Supersampled(16, 16, Qt::white, [&](QPainter& p) { DrawBadge(p, badge, QRectF(0.5, 0.5, 15, 15)); });
}

QImage ClassRowGradient() {
  QImage img = Canvas(387, 32);
  QPainter p(&img);
  // The class name is drawn with an opaque background of kClassRow, so the
  // bar keeps exactly that colour where names run and fades only at the end.
  QLinearGradient g(QPointF(0, 0), QPointF(387, 0));
  g.setColorAt(0, colour::kClassRow);
  g.setColorAt(0.78, colour::kClassRow);
  g.setColorAt(1, Qt::white);
  p.fillRect(QRect(0, 0, 387, 32), g);
  QLinearGradient top(QPointF(0, 0), QPointF(387, 0));
  top.setColorAt(0, QColor(255, 255, 255));
  top.setColorAt(1, QColor(255, 255, 255));
  p.fillRect(QRect(0, 0, 387, 1), top);
  QLinearGradient bottom(QPointF(0, 0), QPointF(387, 0));
  bottom.setColorAt(0, QColor(188, 204, 226));
  bottom.setColorAt(0.78, QColor(200, 214, 232));
  bottom.setColorAt(1, Qt::white);
  p.fillRect(QRect(0, 31, 387, 1), bottom);
  p.fillRect(QRect(0, 1, 3, 30), colour::kAccent);
  return img;
}

QImage EditFrame(int w, int h) {
  QImage img = Canvas(w, h);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF field(2.5, 2.5, w - 5, h - 5);
  // A faint focus-like halo around the field, then the field itself.
  p.setPen(QPen(QColor(226, 236, 248), 2));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(field.adjusted(-1, -1, 1, 1), 5, 5);
  p.setPen(QPen(QColor(150, 172, 202), 1));
  p.setBrush(Qt::white);
  p.drawRoundedRect(field, 4, 4);
  QLinearGradient inner(QPointF(0, field.top()), QPointF(0, field.top() + 4));
  inner.setColorAt(0, QColor(0, 30, 80, 26));
  inner.setColorAt(1, QColor(0, 30, 80, 0));
  p.fillRect(QRectF(field.left() + 2, field.top() + 0.5, field.width() - 4, 4), inner);
  return img;
}

// Frame behind the scan page's section list: a heading band for the two
// column captions and a white body for the rows.
QImage ScanGrid() {
  QImage img = Canvas(653, 112);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.5, 0.5, 652, 111);
  QPainterPath path;
  path.addRoundedRect(r, 6, 6);
  p.fillPath(path, Qt::white);
  p.save();
  p.setClipPath(path);
  QLinearGradient band(QPointF(0, 0), QPointF(0, 26));
  band.setColorAt(0, QColor(246, 249, 254));
  band.setColorAt(1, QColor(224, 235, 249));
  p.fillRect(QRectF(0, 0, 653, 26), band);
  p.fillRect(QRectF(0, 26, 653, 1), QColor(196, 212, 232));
  p.restore();
  p.fillRect(QRectF(508, 5, 1, 17), QColor(196, 212, 232));
  p.setPen(QPen(colour::kBorder, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  return img;
}

// One frame of the scan animation: a chip under a sweeping beam with a
// magnifier riding the beam's leading edge.
QImage ScanFrame(int frame) {
  return Supersampled(125, 80, Qt::white, [frame](QPainter& p) {
    const QPointF c(62.5, 40);
    const double angle = (frame - 1) * 45.0;
    // Rings.
    p.setPen(QPen(QColor(214, 228, 244), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 36, 36);
    p.drawEllipse(c, 27, 27);
    // Beam: a wedge fading behind its leading edge.
    // The gradient runs counter-clockwise like the magnifier, so the lit end
    // of the ramp (1.0) sits right behind it.
    QConicalGradient beam(c, angle);
    beam.setColorAt(0, QColor(38, 123, 191, 0));
    beam.setColorAt(0.8, QColor(38, 123, 191, 0));
    beam.setColorAt(1, QColor(38, 123, 191, 130));
    p.setPen(Qt::NoPen);
    p.setBrush(beam);
    p.drawEllipse(c, 37, 37);
    // The chip.
    const QRectF chip(c.x() - 14, c.y() - 14, 28, 28);
    p.setPen(QPen(QColor(120, 132, 150), 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
      const double t = chip.left() + 5 + i * 6;
      p.drawLine(QPointF(t, chip.top() - 4), QPointF(t, chip.top()));
      p.drawLine(QPointF(t, chip.bottom()), QPointF(t, chip.bottom() + 4));
      const double u = chip.top() + 5 + i * 6;
      p.drawLine(QPointF(chip.left() - 4, u), QPointF(chip.left(), u));
      p.drawLine(QPointF(chip.right(), u), QPointF(chip.right() + 4, u));
    }
    QLinearGradient body(chip.topLeft(), chip.bottomRight());
    body.setColorAt(0, QColor(84, 96, 116));
    body.setColorAt(1, QColor(36, 44, 58));
    p.setPen(QPen(QColor(26, 32, 44), 0.8));
    p.setBrush(body);
    p.drawRoundedRect(chip, 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 60), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(chip.adjusted(4, 4, -4, -4), 2, 2);
    // Dots round the outer ring: the one at the beam lights up.
    for (int i = 0; i < 8; ++i) {
      const double a = (i * 45.0) * M_PI / 180.0;
      const QPointF d(c.x() + 36 * std::cos(a), c.y() - 36 * std::sin(a));
      const bool lit = i == frame - 1;
      p.setPen(Qt::NoPen);
      p.setBrush(lit ? QColor(52, 168, 83) : QColor(196, 212, 232));
      p.drawEllipse(d, lit ? 3.2 : 2.2, lit ? 3.2 : 2.2);
    }
    // Magnifier at the leading edge, half way out.
    const double a = angle * M_PI / 180.0;
    const QPointF m(c.x() + 22 * std::cos(a), c.y() - 22 * std::sin(a));
    p.setPen(QPen(QColor(40, 52, 70), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(m + QPointF(6, 6), m + QPointF(13, 13));
    QRadialGradient lens(m - QPointF(2, 2), 10);
    lens.setColorAt(0, QColor(255, 255, 255, 200));
    lens.setColorAt(1, QColor(170, 214, 250, 150));
    p.setPen(QPen(colour::kAccentDark, 2.2));
    p.setBrush(lens);
    p.drawEllipse(m, 8, 8);
  });
}

QImage LegendSquare(bool red) {
  QImage img = Canvas(10, 10);
  QPainter p(&img);
  const QColor light = red ? QColor(246, 96, 80) : QColor(110, 204, 100);
  const QColor dark = red ? QColor(190, 30, 24) : QColor(36, 140, 52);
  QLinearGradient g(QPointF(0, 0), QPointF(0, 10));
  g.setColorAt(0, light);
  g.setColorAt(1, dark);
  p.fillRect(QRect(0, 0, 10, 10), g);
  p.setPen(dark.darker(130));
  p.drawRect(QRect(0, 0, 9, 9));
  return img;
}

// The advisory shown on the start page before the first successful scan.
QImage OutOfDate() {
  QImage img = Canvas(320, 210);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // Illustration: a chip with an old-clock badge.
  {
    const QRectF chip(18, 22, 52, 52);
    p.setPen(QPen(QColor(130, 140, 156), 2.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
      const double t = chip.left() + 9 + i * 11.3;
      p.drawLine(QPointF(t, chip.top() - 6), QPointF(t, chip.top()));
      p.drawLine(QPointF(t, chip.bottom()), QPointF(t, chip.bottom() + 6));
      const double u = chip.top() + 9 + i * 11.3;
      p.drawLine(QPointF(chip.left() - 6, u), QPointF(chip.left(), u));
      p.drawLine(QPointF(chip.right(), u), QPointF(chip.right() + 6, u));
    }
    QLinearGradient body(chip.topLeft(), chip.bottomRight());
    body.setColorAt(0, QColor(92, 104, 124));
    body.setColorAt(1, QColor(40, 48, 62));
    p.setPen(QPen(QColor(30, 36, 48), 1));
    p.setBrush(body);
    p.drawRoundedRect(chip, 5, 5);
    const QPointF cc(62, 68);
    p.setPen(QPen(Qt::white, 2));
    QRadialGradient red(cc - QPointF(3, 4), 20);
    red.setColorAt(0, QColor(250, 110, 96));
    red.setColorAt(1, QColor(196, 30, 26));
    p.setBrush(red);
    p.drawEllipse(cc, 15, 15);
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(cc, cc + QPointF(0, -9));
    p.drawLine(cc, cc + QPointF(6, 3));
  }
  Text(p, QRectF(96, 14, 220, 40), QStringLiteral("Korvane has not checked your drivers yet."), Sans(14, true),
       QColor(196, 36, 28), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap);
  Text(p, QRectF(96, 56, 220, 48),
       QStringLiteral("Out-of-date drivers can make your PC slow and unstable, and some devices may stop working."),
       Sans(12), colour::kText, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap);
  const QString risks[3] = {QStringLiteral("System crashes and freezes"), QStringLiteral("Poor graphics and sound"),
                            QStringLiteral("Devices that do not respond")};
  for (int i = 0; i < 3; ++i) {
    const double y = 108 + i * 19;
    DrawBadge(p, Badge::Bad, QRectF(98, y + 1, 13, 13));
    Text(p, QRectF(118, y, 200, 15), risks[i], Sans(12), colour::kText);
  }
  // The call to action.
  const QRectF note(8.5, 172.5, 303, 32);
  p.setPen(QPen(QColor(184, 208, 236), 1));
  p.setBrush(QColor(236, 244, 253));
  p.drawRoundedRect(note, 6, 6);
  DrawGlyph(p, Glyph::Magnifier, QRectF(20, 180, 16, 16), colour::kAccent, 2.2);
  Text(p, QRectF(44, 173, 262, 31), QStringLiteral("Click \"Scan Now\" to check your drivers."), Sans(13, true),
       colour::kAccentDark);
  return img;
}

}  // namespace

void PaintPages(Catalogue& c) {
  c.Add(QStringLiteral("ICOSYSINFO"), Format::Jpeg, IconSysInfo(), kStart, QStringLiteral("monitor with an information badge (system information title)"));
  c.Add(QStringLiteral("ICOLASTCHECK"), Format::Jpeg, IconLastCheck(), kStart, QStringLiteral("clipboard of ticked lines with a green tick badge (scan summary title)"));
  c.Add(QStringLiteral("ICOWARNING"), Format::Jpeg, IconWarning(), kStart, QStringLiteral("amber warning triangle (drivers out of date title)"));
  c.Add(QStringLiteral("OUT_OF_DATE"), Format::Gif, OutOfDate(), kStart,
        QStringLiteral("advisory before the first scan: chip with a red clock, why old drivers hurt, \"Click Scan Now\" note"));
  c.Add(QStringLiteral("LEGEND_RED"), Format::Gif, LegendSquare(true), kStart, QStringLiteral("legend square of the out-of-date slice"));
  c.Add(QStringLiteral("LEGEND_GREEN"), Format::Gif, LegendSquare(false), kStart, QStringLiteral("legend square of the up-to-date slice"));
  const char* states[3] = {"_NA", "_A", "_DN"};
  const ButtonState st[3] = {ButtonState::Normal, ButtonState::Hover, ButtonState::Down};
  const char* stateText[3] = {"normal", "hover", "pressed"};
  for (int i = 0; i < 3; ++i) {
    QImage scan = Canvas(151, 33);
    PaintButton(scan, scan.rect(), ButtonStyle::Go, st[i], QStringLiteral("Scan Now"), Glyph::Magnifier, 15, 6);
    c.Add(QStringLiteral("BTNSCANNOW") + QLatin1String(states[i]), Format::Jpeg, scan, kStart,
          QStringLiteral("green \"Scan Now\" button with a magnifier, %1").arg(QLatin1String(stateText[i])));
  }
  c.Add(QStringLiteral("ICODOWNTOOL"), Format::Jpeg, IconDownTool(), kStart,
        QStringLiteral("companion offer icon (ts1ImIcoDown): blue parcel with a green download arrow"));
  c.Add(QStringLiteral("PROGTOOL_BG"), Format::Jpeg, ToolGaugeTexture(false), kStart, QStringLiteral("companion download bar (ts1DownProg), empty part"));
  c.Add(QStringLiteral("PROGTOOL_FILL"), Format::Jpeg, ToolGaugeTexture(true), kStart, QStringLiteral("companion download bar (ts1DownProg), filled part: blue ramp"));

  c.Add(QStringLiteral("BGSCANGRID"), Format::Jpeg, ScanGrid(), kScan,
        QStringLiteral("frame of the section list: heading band (captions at 21, 7 and 524, 7), white body from row 27"));
  for (int f = 1; f <= 8; ++f)
    c.Add(QStringLiteral("ANIMSCAN_PIC%1").arg(f), Format::Jpeg, ScanFrame(f), kScan,
          QStringLiteral("scan animation frame %1 of 8: chip under a sweeping beam, magnifier at %2 degrees").arg(f).arg((f - 1) * 45));

  c.Add(QStringLiteral("PROG_BG"), Format::Jpeg, GaugeTexture(657, 21, 0), kGauges, QStringLiteral("scan gauges, empty part: pale inset track"));
  c.Add(QStringLiteral("PROG_GREEN"), Format::Jpeg, GaugeTexture(657, 21, 1), kGauges, QStringLiteral("scan gauges, filled part: glossy green with stripes"));
  c.Add(QStringLiteral("PROG_YELLOW"), Format::Jpeg, GaugeTexture(657, 21, 2), kGauges, QStringLiteral("scan gauge during the update check: glossy amber with stripes"));
  c.Add(QStringLiteral("PROGDOWN_BG"), Format::Jpeg, GaugeTexture(362, 19, 0), kGauges, QStringLiteral("download gauge, empty part"));
  c.Add(QStringLiteral("PROGDOWN_YELLOW"), Format::Jpeg, GaugeTexture(362, 19, 2), kGauges, QStringLiteral("download gauge, filled part: amber"));

  c.Add(QStringLiteral("CONTENT_DELIM1"), Format::Jpeg, Delimiter(true), kResults,
        QStringLiteral("vertical divider fading at both ends (results page, and the start page's divider at 360, 16)"));
  c.Add(QStringLiteral("CONTENT_DELIM2"), Format::Jpeg, Delimiter(false), kResults, QStringLiteral("horizontal divider fading at both ends"));
  c.Add(QStringLiteral("CHECKBOXBLUE_NA"), Format::Jpeg, CheckBox(18, 18, false, QColor(86, 160, 228), QColor(32, 100, 178)), kResults,
        QStringLiteral("filter check box, off"));
  c.Add(QStringLiteral("CHECKBOXBLUE_A"), Format::Jpeg, CheckBox(18, 18, true, QColor(86, 160, 228), QColor(32, 100, 178)), kResults,
        QStringLiteral("filter check box, on: blue with a white tick"));
  c.Add(QStringLiteral("BTNLISTDRV_INFO"), Format::Jpeg, ListMark(Badge::Info), kResults, QStringLiteral("list mark: blue information badge"));
  c.Add(QStringLiteral("BTNLISTDRV_GOOD"), Format::Jpeg, ListMark(Badge::Good), kResults, QStringLiteral("list mark: green tick, up to date"));
  c.Add(QStringLiteral("BTNLISTDRV_BAD"), Format::Jpeg, ListMark(Badge::Bad), kResults, QStringLiteral("list mark: red cross, out of date"));
  c.Add(QStringLiteral("BTNLISTDRV_DOWN"), Format::Jpeg, ListMark(Badge::Down), kResults, QStringLiteral("list mark: orange download arrow"));
  c.Add(QStringLiteral("DRVLISTGRADIENT"), Format::Jpeg, ClassRowGradient(), kResults,
        QStringLiteral("class row bar: RGB(232, 237, 243) with a blue edge, fading to white over the last fifth"));
  for (int i = 0; i < 3; ++i) {
    QImage back = Canvas(92, 32);
    PaintButton(back, back.rect(), ButtonStyle::Secondary, st[i], QStringLiteral("Back"), Glyph::ChevronLeft, 14);
    c.Add(QStringLiteral("BTNBACK") + QLatin1String(states[i]), Format::Jpeg, back, kResults,
          QStringLiteral("light \"Back\" button with a left chevron, %1").arg(QLatin1String(stateText[i])));
  }

  c.Add(QStringLiteral("ICOSETTINGS"), Format::Jpeg, IconSettings(), kSettings, QStringLiteral("blue and grey gears"));
  c.Add(QStringLiteral("CHECKBOX_NA"), Format::Jpeg, CheckBox(28, 20, false, QColor(86, 160, 228), QColor(32, 100, 178)), kSettings,
        QStringLiteral("settings check box, off"));
  c.Add(QStringLiteral("CHECKBOX_A"), Format::Jpeg, CheckBox(28, 20, true, QColor(86, 160, 228), QColor(32, 100, 178)), kSettings,
        QStringLiteral("settings check box, on"));
  c.Add(QStringLiteral("EDIT1PROXY"), Format::Jpeg, EditFrame(226, 33), kSettings, QStringLiteral("frame of the proxy address field (white inside from 3, 3)"));
  c.Add(QStringLiteral("EDIT2PROXY"), Format::Jpeg, EditFrame(77, 33), kSettings, QStringLiteral("frame of the proxy port field"));
  c.Add(QStringLiteral("EDIT3PROXY"), Format::Jpeg, EditFrame(110, 32), kSettings, QStringLiteral("frame of the proxy login and password fields"));
}

}  // namespace art
