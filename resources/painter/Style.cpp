#include "resources/painter/Style.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace art {

namespace {

QColor Mix(const QColor& a, const QColor& b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

struct ButtonColours {
  QColor top, bottom, border, text;
  bool gloss;
};

ButtonColours ColoursFor(ButtonStyle style, ButtonState state) {
  if (state == ButtonState::Gray) return {QColor(244, 245, 247), QColor(224, 226, 230), QColor(192, 196, 204), QColor(164, 168, 176), false};
  const bool hover = state == ButtonState::Hover, down = state == ButtonState::Down;
  switch (style) {
    case ButtonStyle::Primary:
      if (down) return {QColor(26, 84, 154), QColor(46, 114, 188), QColor(18, 64, 124), Qt::white, false};
      if (hover) return {QColor(110, 182, 244), QColor(44, 122, 204), QColor(24, 86, 156), Qt::white, true};
      return {QColor(86, 160, 228), QColor(32, 100, 178), QColor(22, 76, 142), Qt::white, true};
    case ButtonStyle::Secondary:
      if (down) return {QColor(200, 212, 228), QColor(228, 234, 243), QColor(126, 150, 184), QColor(30, 68, 120), false};
      if (hover) return {QColor(255, 255, 255), QColor(206, 224, 246), QColor(86, 140, 204), QColor(24, 82, 146), true};
      return {QColor(255, 255, 255), QColor(222, 229, 239), QColor(158, 176, 202), QColor(40, 78, 130), true};
    case ButtonStyle::Go:
      if (down) return {QColor(28, 116, 46), QColor(52, 150, 68), QColor(20, 96, 36), Qt::white, false};
      if (hover) return {QColor(122, 214, 118), QColor(44, 160, 62), QColor(26, 118, 44), Qt::white, true};
      return {QColor(98, 196, 98), QColor(36, 140, 54), QColor(24, 108, 40), Qt::white, true};
    case ButtonStyle::Download:
      if (down) return {QColor(200, 96, 12), QColor(232, 130, 34), QColor(164, 78, 8), Qt::white, false};
      if (hover) return {QColor(255, 196, 92), QColor(240, 132, 28), QColor(194, 96, 12), Qt::white, true};
      return {QColor(255, 180, 66), QColor(230, 116, 18), QColor(184, 88, 10), Qt::white, true};
    case ButtonStyle::Footer:
      if (down) return {QColor(196, 210, 230), QColor(222, 231, 243), QColor(120, 146, 184), QColor(22, 60, 112), false};
      if (hover) return {QColor(255, 255, 255), QColor(212, 228, 248), QColor(84, 138, 204), QColor(20, 76, 142), true};
      return {QColor(252, 253, 255), QColor(221, 230, 242), QColor(156, 176, 206), QColor(34, 72, 126), true};
  }
  return {Qt::white, Qt::lightGray, Qt::gray, Qt::black, false};
}

}  // namespace

QColor HeaderColourAt(double y, double bandHeight) {
  return Mix(colour::kHeaderTop, colour::kHeaderBottom, y / bandHeight);
}

QFont Sans(double pixelSize, bool bold) {
  QFont f(QStringLiteral("Liberation Sans"));
  f.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
  f.setPixelSize(static_cast<int>(std::lround(pixelSize)));
  f.setBold(bold);
  f.setHintingPreference(QFont::PreferVerticalHinting);
  return f;
}

QImage Canvas(int w, int h, const QColor& fill) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(fill);
  return image;
}

QImage Crop(const QImage& from, const QRect& r) { return from.copy(r); }

void Text(QPainter& p, const QRectF& box, const QString& text, const QFont& font, const QColor& colour, int flags,
          const QColor& shadow) {
  p.setFont(font);
  if (shadow.isValid()) {
    p.setPen(shadow);
    p.drawText(box.translated(0, 1), flags, text);
  }
  p.setPen(colour);
  p.drawText(box, flags, text);
}

void DrawGlyph(QPainter& p, Glyph glyph, const QRectF& b, const QColor& c, double stroke) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const double s = std::min(b.width(), b.height());
  if (stroke <= 0) stroke = std::max(1.2, s * 0.15);
  QPen pen(c, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const QPointF o(b.center().x() - s / 2, b.center().y() - s / 2);
  auto P = [&](double x, double y) { return QPointF(o.x() + x * s, o.y() + y * s); };
  switch (glyph) {
    case Glyph::None:
      break;
    case Glyph::Magnifier: {
      p.drawEllipse(QRectF(P(0.08, 0.08), P(0.66, 0.66)));
      QPen handle(c, stroke * 1.6, Qt::SolidLine, Qt::RoundCap);
      p.setPen(handle);
      p.drawLine(P(0.62, 0.62), P(0.9, 0.9));
      break;
    }
    case Glyph::ArrowDown: {
      p.drawLine(P(0.5, 0.08), P(0.5, 0.64));
      QPolygonF head;
      head << P(0.24, 0.42) << P(0.5, 0.68) << P(0.76, 0.42);
      p.drawPolyline(head);
      p.drawLine(P(0.16, 0.9), P(0.84, 0.9));
      break;
    }
    case Glyph::ChevronLeft: {
      QPolygonF v;
      v << P(0.64, 0.14) << P(0.3, 0.5) << P(0.64, 0.86);
      p.drawPolyline(v);
      break;
    }
    case Glyph::Check: {
      QPolygonF v;
      v << P(0.16, 0.52) << P(0.4, 0.76) << P(0.84, 0.26);
      p.drawPolyline(v);
      break;
    }
    case Glyph::Cross:
      p.drawLine(P(0.24, 0.24), P(0.76, 0.76));
      p.drawLine(P(0.76, 0.24), P(0.24, 0.76));
      break;
    case Glyph::Gear: {
      QPainterPath gear;
      const QPointF ctr = b.center();
      const int teeth = 8;
      const double ro = s * 0.48, ri = s * 0.36;
      for (int i = 0; i < teeth * 4; ++i) {
        const double a = (i / (teeth * 4.0)) * 2 * M_PI;
        const double r = (i % 4 == 0 || i % 4 == 1) ? ro : ri;
        const QPointF pt(ctr.x() + r * std::cos(a), ctr.y() + r * std::sin(a));
        if (i == 0) gear.moveTo(pt); else gear.lineTo(pt);
      }
      gear.closeSubpath();
      gear.addEllipse(ctr, s * 0.15, s * 0.15);
      gear.setFillRule(Qt::OddEvenFill);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawPath(gear);
      break;
    }
    case Glyph::Question:
    case Glyph::Info: {
      QFont f = Sans(s * (glyph == Glyph::Info ? 0.9 : 0.95), true);
      if (glyph == Glyph::Info) f.setFamily(QStringLiteral("DejaVu Serif"));
      p.setFont(f);
      p.setPen(c);
      p.drawText(b, Qt::AlignCenter, glyph == Glyph::Info ? QStringLiteral("i") : QStringLiteral("?"));
      break;
    }
    case Glyph::Warning: {
      QPainterPath tri;
      tri.moveTo(P(0.5, 0.06));
      tri.lineTo(P(0.96, 0.9));
      tri.lineTo(P(0.04, 0.9));
      tri.closeSubpath();
      p.setPen(QPen(c.darker(130), stroke * 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(c);
      p.drawPath(tri);
      p.setPen(QPen(Qt::white, stroke * 1.1, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(P(0.5, 0.34), P(0.5, 0.62));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawEllipse(P(0.5, 0.76), stroke * 0.65, stroke * 0.65);
      break;
    }
  }
  p.restore();
}

void PaintButton(QImage& canvas, const QRect& r, ButtonStyle style, ButtonState state, const QString& text, Glyph glyph,
                 double fontPx, double radius) {
  QPainter p(&canvas);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const ButtonColours c = ColoursFor(style, state);
  const bool down = state == ButtonState::Down;
  const QRectF body = QRectF(r).adjusted(0.5, 0.5, -0.5, -1.5);

  if (!down && state != ButtonState::Gray) {  // a soft ledge under the button
    QPainterPath ledge;
    ledge.addRoundedRect(body.translated(0, 1.0), radius, radius);
    p.fillPath(ledge, QColor(0, 0, 0, 34));
  }
  QPainterPath shape;
  shape.addRoundedRect(body, radius, radius);
  QLinearGradient g(body.topLeft(), body.bottomLeft());
  g.setColorAt(0, c.top);
  g.setColorAt(1, c.bottom);
  p.fillPath(shape, g);
  p.save();
  p.setClipPath(shape);
  if (c.gloss) {
    QLinearGradient gloss(body.topLeft(), QPointF(body.left(), body.center().y() + 1));
    gloss.setColorAt(0, QColor(255, 255, 255, 90));
    gloss.setColorAt(1, QColor(255, 255, 255, 18));
    p.fillRect(QRectF(body.left(), body.top(), body.width(), body.height() * 0.5), gloss);
  }
  if (down) {
    QLinearGradient inner(body.topLeft(), QPointF(body.left(), body.top() + 5));
    inner.setColorAt(0, QColor(0, 0, 0, 60));
    inner.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(body, inner);
  }
  p.restore();
  // Inner highlight and border.
  if (!down) {
    QPainterPath inner;
    inner.addRoundedRect(body.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    p.setPen(QPen(QColor(255, 255, 255, state == ButtonState::Gray ? 120 : 70), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(inner);
  }
  p.setPen(QPen(c.border, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(shape);

  // Content: glyph and text, centred together.
  const QFont font = Sans(fontPx, true);
  const QFontMetricsF fm(font);
  const double textW = fm.horizontalAdvance(text);
  const double glyphS = glyph == Glyph::None ? 0 : std::round(fontPx * 1.15);
  const double gap = (glyph != Glyph::None && !text.isEmpty()) ? 7 : 0;
  const double total = glyphS + gap + textW;
  const double shift = down ? 1 : 0;
  double x = body.center().x() - total / 2;
  const double cy = body.center().y() + shift;
  const bool coloured = style != ButtonStyle::Secondary && style != ButtonStyle::Footer && state != ButtonState::Gray;
  if (glyph != Glyph::None) {
    const QRectF gb(x, cy - glyphS / 2, glyphS, glyphS);
    if (coloured) DrawGlyph(p, glyph, gb.translated(0, 1), QColor(0, 0, 0, 60));
    DrawGlyph(p, glyph, gb, c.text);
    x += glyphS + gap;
  }
  const QRectF tb(x, body.top() + shift, textW + 2, body.height());
  Text(p, tb, text, font, c.text, Qt::AlignLeft | Qt::AlignVCenter, coloured ? QColor(0, 0, 0, 70) : QColor());
}

void DrawBadge(QPainter& p, Badge badge, const QRectF& box) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QColor light, dark;
  Glyph glyph = Glyph::None;
  switch (badge) {
    case Badge::Info: light = QColor(92, 170, 240); dark = QColor(26, 98, 182); glyph = Glyph::Info; break;
    case Badge::Good: light = QColor(104, 206, 104); dark = QColor(30, 138, 50); glyph = Glyph::Check; break;
    case Badge::Bad: light = QColor(250, 104, 92); dark = QColor(196, 30, 26); glyph = Glyph::Cross; break;
    case Badge::Down: light = QColor(255, 186, 74); dark = QColor(222, 110, 14); glyph = Glyph::ArrowDown; break;
  }
  const QRectF c = box.adjusted(0.5, 0.5, -0.5, -0.5);
  QRadialGradient g(QPointF(c.center().x() - c.width() * 0.18, c.top() + c.height() * 0.25), c.width() * 0.85);
  g.setColorAt(0, light);
  g.setColorAt(1, dark);
  p.setPen(QPen(dark.darker(118), std::max(0.8, box.width() / 20)));
  p.setBrush(g);
  p.drawEllipse(c);
  const double s = box.width();
  QRectF inner = box.adjusted(s * 0.2, s * 0.2, -s * 0.2, -s * 0.2);
  if (badge == Badge::Info) inner = box.adjusted(s * 0.12, s * 0.1, -s * 0.12, -s * 0.1);
  DrawGlyph(p, glyph, inner, Qt::white, std::max(1.5, s * 0.13));
  p.restore();
}

void DrawEmblem(QPainter& p, const QRectF& box) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const double s = box.width();
  const QRectF tile = box.adjusted(s * 0.02, s * 0.02, -s * 0.02, -s * 0.02);
  QLinearGradient g(tile.topLeft(), tile.bottomRight());
  g.setColorAt(0, QColor(84, 176, 246));
  g.setColorAt(1, QColor(16, 72, 158));
  p.setPen(QPen(QColor(10, 48, 104), std::max(1.0, s * 0.03)));
  p.setBrush(g);
  p.drawRoundedRect(tile, s * 0.22, s * 0.22);
  // Gloss on the upper half.
  QPainterPath gloss;
  gloss.addRoundedRect(tile.adjusted(s * 0.05, s * 0.05, -s * 0.05, -tile.height() * 0.5), s * 0.18, s * 0.18);
  p.fillPath(gloss, QColor(255, 255, 255, 46));
  // The chip.
  const QRectF chip(tile.left() + s * 0.26, tile.top() + s * 0.26, s * 0.44, s * 0.44);
  p.setPen(QPen(Qt::white, std::max(1.0, s * 0.045), Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i) {
    const double t = chip.left() + chip.width() * (0.22 + 0.28 * i);
    p.drawLine(QPointF(t, chip.top() - s * 0.09), QPointF(t, chip.top()));
    p.drawLine(QPointF(t, chip.bottom()), QPointF(t, chip.bottom() + s * 0.09));
    const double u = chip.top() + chip.height() * (0.22 + 0.28 * i);
    p.drawLine(QPointF(chip.left() - s * 0.09, u), QPointF(chip.left(), u));
    p.drawLine(QPointF(chip.right(), u), QPointF(chip.right() + s * 0.09, u));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(chip, s * 0.05, s * 0.05);
  DrawGlyph(p, Glyph::Check, chip.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06), QColor(30, 150, 60), s * 0.075);
  p.restore();
}

void SoftShadow(QPainter& p, const QRectF& r, double radius, int spread, int alpha) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  for (int i = spread; i >= 1; --i) {
    const double t = 1.0 - static_cast<double>(i) / (spread + 1);
    p.setBrush(QColor(10, 40, 80, static_cast<int>(alpha * t * t / spread * 2)));
    p.drawRoundedRect(r.adjusted(-i, -i + 1, i, i + 1), radius + i, radius + i);
  }
  p.restore();
}

}  // namespace art
