// The 32 x 32 device class icons (named by the class GUID's 32 hex digits)
// and the program's own icons. Every icon is drawn on a 32-unit grid at four
// times the size and scaled down, with straight alpha.
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <functional>

#include "resources/painter/Catalogue.h"
#include "resources/painter/Style.h"

namespace art {

namespace {

using Draw = std::function<void(QPainter&)>;

QImage IconImage(int size, const Draw& draw) {
  const int k = 4;
  QImage big(size * k, size * k, QImage::Format_ARGB32_Premultiplied);
  big.fill(Qt::transparent);
  {
    QPainter p(&big);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size * k / 32.0, size * k / 32.0);
    draw(p);
  }
  return big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QLinearGradient V(const QRectF& r, const QColor& top, const QColor& bottom) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  return g;
}

QLinearGradient D(const QRectF& r, const QColor& a, const QColor& b) {
  QLinearGradient g(r.topLeft(), r.bottomRight());
  g.setColorAt(0, a);
  g.setColorAt(1, b);
  return g;
}

void Box(QPainter& p, const QRectF& r, const QBrush& fill, const QColor& line, double radius = 1.5, double width = 0.8) {
  p.setPen(QPen(line, width));
  p.setBrush(fill);
  p.drawRoundedRect(r, radius, radius);
}

const QColor kOutline(40, 48, 62);

// ---- building blocks -------------------------------------------------------

void MonitorShape(QPainter& p, const QColor& glassA, const QColor& glassB, bool desktop) {
  const QRectF bezel(2, 4, 28, 19);
  Box(p, bezel, V(bezel, QColor(120, 128, 142), QColor(62, 70, 84)), kOutline, 2);
  const QRectF glass(4, 6, 24, 15);
  p.setPen(Qt::NoPen);
  p.setBrush(D(glass, glassA, glassB));
  p.drawRect(glass);
  if (desktop) {
    p.fillRect(QRectF(4, 19, 24, 2), QColor(30, 60, 120));
    p.fillRect(QRectF(6, 8, 5, 4), QColor(255, 255, 255, 170));
    p.fillRect(QRectF(13, 11, 9, 6), QColor(255, 230, 140, 200));
    p.fillRect(QRectF(13, 11, 9, 1.5), QColor(30, 80, 160));
  }
  QPainterPath shine;
  shine.moveTo(4, 6);
  shine.lineTo(16, 6);
  shine.lineTo(4, 16);
  shine.closeSubpath();
  p.fillPath(shine, QColor(255, 255, 255, 45));
  QPolygonF neck;
  neck << QPointF(13, 23) << QPointF(19, 23) << QPointF(20.5, 27) << QPointF(11.5, 27);
  p.setPen(QPen(kOutline, 0.6));
  p.setBrush(QColor(92, 100, 114));
  p.drawPolygon(neck);
  Box(p, QRectF(7.5, 26.5, 17, 3), V(QRectF(7.5, 26.5, 17, 3), QColor(120, 128, 142), QColor(66, 74, 88)), kOutline, 1.2);
}

void Tower(QPainter& p) {
  const QRectF body(8, 2, 16, 28);
  Box(p, body, V(body, QColor(214, 220, 230), QColor(150, 158, 172)), kOutline, 2);
  p.fillRect(QRectF(10, 5, 12, 3), QColor(70, 78, 92));
  p.fillRect(QRectF(10, 10, 12, 3), QColor(70, 78, 92));
  p.fillRect(QRectF(10.5, 5.5, 8, 0.8), QColor(150, 160, 176));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 200, 90));
  p.drawEllipse(QPointF(12, 25), 1.1, 1.1);
  p.setBrush(QColor(90, 100, 116));
  p.drawEllipse(QPointF(19, 25), 2.2, 2.2);
  for (int i = 0; i < 3; ++i) p.fillRect(QRectF(11, 16 + i * 2, 10, 0.8), QColor(110, 118, 132));
}

void HardDisk(QPainter& p) {
  const QRectF body(2, 8, 28, 17);
  Box(p, body, V(body, QColor(206, 212, 222), QColor(120, 128, 142)), kOutline, 2.5);
  p.fillRect(QRectF(3, 20, 26, 4), QColor(70, 78, 94));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(70, 220, 90));
  p.drawEllipse(QPointF(25.5, 22), 1.2, 1.2);
  p.setPen(QPen(QColor(255, 255, 255, 120), 0.8));
  p.drawLine(QPointF(4, 10), QPointF(28, 10));
  p.setPen(QPen(QColor(90, 98, 112), 0.6));
  p.setBrush(QColor(170, 178, 192));
  p.drawEllipse(QPointF(10, 15), 5, 3);
  p.setBrush(QColor(90, 98, 112));
  p.drawEllipse(QPointF(10, 15), 1, 0.6);
}

void Disc(QPainter& p, const QPointF& c = QPointF(16, 16), double r = 14) {
  QConicalGradient g(c, 30);
  g.setColorAt(0, QColor(230, 236, 246));
  g.setColorAt(0.15, QColor(250, 220, 240));
  g.setColorAt(0.3, QColor(200, 230, 252));
  g.setColorAt(0.5, QColor(236, 246, 220));
  g.setColorAt(0.65, QColor(204, 214, 232));
  g.setColorAt(0.8, QColor(252, 240, 210));
  g.setColorAt(1, QColor(230, 236, 246));
  p.setPen(QPen(QColor(110, 120, 140), 0.8));
  p.setBrush(g);
  p.drawEllipse(c, r, r);
  p.setBrush(QColor(250, 252, 255));
  p.drawEllipse(c, r * 0.36, r * 0.36);
  p.setBrush(QColor(0, 0, 0, 0));
  p.setPen(QPen(QColor(150, 160, 176), 0.6));
  p.drawEllipse(c, r * 0.14, r * 0.14);
}

void Floppy(QPainter& p) {
  QPainterPath body;
  body.moveTo(4, 3);
  body.lineTo(25, 3);
  body.lineTo(29, 7);
  body.lineTo(29, 29);
  body.lineTo(4, 29);
  body.closeSubpath();
  p.setPen(QPen(QColor(16, 40, 90), 0.8));
  p.setBrush(V(QRectF(4, 3, 25, 26), QColor(70, 120, 210), QColor(26, 62, 140)));
  p.drawPath(body);
  Box(p, QRectF(9, 3.5, 14, 9), V(QRectF(9, 3, 14, 9), QColor(226, 230, 238), QColor(160, 168, 182)), QColor(90, 98, 112), 0.5, 0.6);
  p.fillRect(QRectF(18, 5, 3, 6), QColor(80, 88, 102));
  Box(p, QRectF(7, 16, 19, 12), QColor(250, 250, 252), QColor(170, 176, 188), 0.8, 0.5);
  for (int i = 0; i < 3; ++i) p.fillRect(QRectF(9, 19 + i * 3, 15, 0.8), QColor(140, 160, 200));
}

void Keyboard(QPainter& p) {
  const QRectF body(1, 9, 30, 16);
  Box(p, body, V(body, QColor(232, 236, 242), QColor(170, 178, 192)), kOutline, 2.5);
  p.setPen(Qt::NoPen);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 9; ++col) {
      const double x = 3.5 + col * 2.8 + (row == 1 ? 0.8 : 0), y = 11.5 + row * 3.6;
      if (x > 27.5) continue;
      p.setBrush(QColor(90, 98, 114));
      p.drawRoundedRect(QRectF(x, y, 2.2, 2.6), 0.5, 0.5);
    }
  p.setBrush(QColor(90, 98, 114));
  p.drawRoundedRect(QRectF(9, 22.2, 14, 1.9), 0.5, 0.5);
}

void Mouse(QPainter& p) {
  p.setPen(QPen(QColor(90, 98, 112), 1.2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  QPainterPath cable;
  cable.moveTo(16, 7);
  cable.cubicTo(16, 2, 24, 4, 26, 1);
  p.drawPath(cable);
  const QRectF body(8, 6, 16, 24);
  Box(p, body, D(body, QColor(246, 248, 252), QColor(160, 170, 186)), kOutline, 8);
  p.setPen(QPen(QColor(110, 120, 136), 0.7));
  p.drawLine(QPointF(16, 6.5), QPointF(16, 15));
  p.drawLine(QPointF(8.5, 15), QPointF(23.5, 15));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(38, 123, 191));
  p.drawRoundedRect(QRectF(15, 8.5, 2, 4), 1, 1);
}

void Speaker(QPainter& p) {
  QPainterPath cone;
  cone.moveTo(3, 12);
  cone.lineTo(9, 12);
  cone.lineTo(17, 5);
  cone.lineTo(17, 27);
  cone.lineTo(9, 20);
  cone.lineTo(3, 20);
  cone.closeSubpath();
  p.setPen(QPen(kOutline, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(V(QRectF(3, 5, 14, 22), QColor(120, 130, 150), QColor(50, 58, 74)));
  p.drawPath(cone);
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(QColor(38, 123, 191, 255 - i * 60), 1.8, Qt::SolidLine, Qt::RoundCap));
    const double r = 4 + i * 4;
    p.drawArc(QRectF(17 - r, 16 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
  }
}

void Printer(QPainter& p, const QColor& paper = Qt::white) {
  Box(p, QRectF(8, 2, 16, 11), paper, QColor(150, 156, 170), 0.5, 0.7);
  for (int i = 0; i < 3; ++i) p.fillRect(QRectF(10, 5 + i * 2.5, 12 - (i % 2) * 4, 0.8), QColor(150, 170, 200));
  const QRectF body(2, 11, 28, 13);
  Box(p, body, V(body, QColor(226, 230, 238), QColor(140, 148, 164)), kOutline, 2.5);
  p.fillRect(QRectF(6, 20, 20, 2), QColor(70, 78, 92));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(70, 210, 90));
  p.drawEllipse(QPointF(26, 15), 1.1, 1.1);
  Box(p, QRectF(7, 22, 18, 8), paper, QColor(150, 156, 170), 0.5, 0.7);
}

void ChipShape(QPainter& p, const QString& label, const QRectF& chip = QRectF(7, 7, 18, 18)) {
  p.setPen(QPen(QColor(176, 150, 70), 1.3, Qt::SolidLine, Qt::FlatCap));
  const int pins = 4;
  for (int i = 0; i < pins; ++i) {
    const double t = chip.left() + chip.width() * (i + 0.5) / pins;
    const double u = chip.top() + chip.height() * (i + 0.5) / pins;
    p.drawLine(QPointF(t, chip.top() - 3.5), QPointF(t, chip.top()));
    p.drawLine(QPointF(t, chip.bottom()), QPointF(t, chip.bottom() + 3.5));
    p.drawLine(QPointF(chip.left() - 3.5, u), QPointF(chip.left(), u));
    p.drawLine(QPointF(chip.right(), u), QPointF(chip.right() + 3.5, u));
  }
  Box(p, chip, D(chip, QColor(86, 98, 120), QColor(30, 36, 50)), QColor(20, 24, 34), 1.5);
  p.setPen(QPen(QColor(255, 255, 255, 50), 0.6));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(chip.adjusted(2, 2, -2, -2), 1, 1);
  if (!label.isEmpty()) {
    p.setFont(Sans(label.size() > 3 ? 5 : 6, true));
    p.setPen(QColor(220, 230, 244));
    p.drawText(chip, Qt::AlignCenter, label);
  }
}

// Expansion card: a printed circuit board with gold contacts and a bracket.
void CardShape(QPainter& p, const QColor& board, bool port = false) {
  const QRectF pcb(3, 8, 26, 15);
  Box(p, pcb, V(pcb, board.lighter(125), board.darker(120)), board.darker(170), 1.2);
  for (int i = 0; i < 8; ++i) p.fillRect(QRectF(7 + i * 2.4, 23, 1.5, 3), QColor(226, 180, 60));
  p.fillRect(QRectF(3, 23, 3, 1), board.darker(160));
  Box(p, QRectF(7, 11, 7, 7), QColor(40, 46, 58), QColor(20, 24, 32), 0.8, 0.5);
  Box(p, QRectF(16, 12, 4, 4), QColor(40, 46, 58), QColor(20, 24, 32), 0.5, 0.5);
  p.fillRect(QRectF(21, 11, 1, 9), QColor(255, 255, 255, 60));
  // Bracket on the left.
  Box(p, QRectF(1, 5, 2.5, 22), V(QRectF(1, 5, 2.5, 22), QColor(220, 224, 232), QColor(150, 158, 170)), QColor(90, 98, 110), 0.5, 0.5);
  if (port) {
    Box(p, QRectF(22, 13, 6, 6), QColor(230, 232, 236), QColor(90, 98, 110), 0.5, 0.6);
    p.fillRect(QRectF(23.5, 15, 3, 2.6), QColor(40, 46, 58));
  }
}

void UsbTrident(QPainter& p, const QColor& c = QColor(36, 54, 80), double k = 1.0, const QPointF& at = QPointF(0, 0)) {
  p.save();
  p.translate(at);
  p.scale(k, k);
  QPen pen(c, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(16, 5), QPointF(16, 26));
  QPolygonF left;
  left << QPointF(16, 21) << QPointF(9, 15) << QPointF(9, 11);
  p.drawPolyline(left);
  QPolygonF right;
  right << QPointF(16, 18) << QPointF(23, 12) << QPointF(23, 9.5);
  p.drawPolyline(right);
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  QPolygonF head;
  head << QPointF(16, 1.5) << QPointF(19.5, 6.5) << QPointF(12.5, 6.5);
  p.drawPolygon(head);
  p.drawEllipse(QPointF(9, 10), 2.2, 2.2);
  p.drawRect(QRectF(21, 6.5, 4, 4));
  p.drawEllipse(QPointF(16, 27.5), 3, 3);
  p.restore();
}

void BluetoothRune(QPainter& p, const QRectF& b) {
  Box(p, b, V(b, QColor(70, 150, 240), QColor(16, 70, 170)), QColor(10, 50, 130), b.width() / 2.2);
  const double s = b.width() / 16.0;
  auto P = [&](double x, double y) { return QPointF(b.left() + x * s, b.top() + y * b.height() / 24.0); };
  QPolygonF rune;
  rune << P(4, 7) << P(12, 16) << P(8, 20) << P(8, 4) << P(12, 8) << P(4, 17);
  p.setPen(QPen(Qt::white, 1.4 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(rune);
}

void FireWireSign(QPainter& p, const QPointF& c, double r, const QColor& colour = QColor(230, 120, 20)) {
  p.setPen(QPen(colour, r * 0.28, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    const double a = (-90 + i * 120) * M_PI / 180.0;
    const QPointF end(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    p.drawLine(c, end);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(end, r * 0.24, r * 0.24);
    p.setPen(QPen(colour, r * 0.28, Qt::SolidLine, Qt::RoundCap));
  }
}

void FireWirePort(QPainter& p) {
  const QRectF body(4, 6, 24, 20);
  Box(p, body, V(body, QColor(220, 224, 232), QColor(150, 158, 172)), kOutline, 3);
  FireWireSign(p, QPointF(16, 17), 7.5);
}

void Battery(QPainter& p) {
  const QRectF body(2, 9, 25, 14);
  Box(p, body, V(body, QColor(90, 98, 114), QColor(40, 46, 58)), QColor(24, 28, 36), 2.5);
  p.fillRect(QRectF(27, 13, 3, 6), QColor(90, 98, 114));
  const QRectF charge(4, 11, 17, 10);
  Box(p, charge, V(charge, QColor(140, 230, 110), QColor(40, 150, 50)), QColor(30, 110, 40), 1, 0.5);
  p.fillRect(QRectF(4.5, 11.5, 16, 3), QColor(255, 255, 255, 70));
}

void Camera(QPainter& p) {
  Box(p, QRectF(9, 6, 8, 5), QColor(70, 78, 92), kOutline, 1);
  const QRectF body(2, 9, 28, 18);
  Box(p, body, V(body, QColor(110, 118, 134), QColor(44, 50, 64)), QColor(24, 28, 36), 3);
  QRadialGradient lens(QPointF(15, 16), 8);
  lens.setColorAt(0, QColor(120, 190, 250));
  lens.setColorAt(0.5, QColor(30, 70, 140));
  lens.setColorAt(1, QColor(10, 20, 40));
  p.setPen(QPen(QColor(200, 206, 216), 1.4));
  p.setBrush(lens);
  p.drawEllipse(QPointF(16, 18), 6.5, 6.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 170));
  p.drawEllipse(QPointF(14, 16), 1.6, 1.6);
  p.setBrush(QColor(250, 200, 60));
  p.drawRect(QRectF(24, 11.5, 3, 2));
}

void Camcorder(QPainter& p) {
  const QRectF body(2, 9, 21, 15);
  Box(p, body, V(body, QColor(110, 118, 134), QColor(44, 50, 64)), QColor(24, 28, 36), 3);
  QPolygonF lens;
  lens << QPointF(23, 13) << QPointF(30, 9) << QPointF(30, 24) << QPointF(23, 20);
  p.setPen(QPen(QColor(24, 28, 36), 0.8));
  p.setBrush(V(QRectF(23, 9, 7, 15), QColor(90, 98, 114), QColor(40, 46, 58)));
  p.drawPolygon(lens);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(230, 60, 50));
  p.drawEllipse(QPointF(6, 12.5), 1.3, 1.3);
  Box(p, QRectF(5, 15, 11, 6), QColor(120, 190, 250), QColor(30, 40, 60), 1, 0.5);
}

void Tape(QPainter& p) {
  const QRectF body(2, 7, 28, 19);
  Box(p, body, V(body, QColor(80, 88, 104), QColor(36, 42, 54)), QColor(20, 24, 32), 2);
  Box(p, QRectF(5, 9, 22, 9), QColor(240, 236, 220), QColor(150, 140, 120), 1, 0.5);
  p.setPen(QPen(QColor(60, 60, 60), 0.7));
  p.setBrush(QColor(250, 250, 250));
  p.drawEllipse(QPointF(10.5, 13.5), 2.6, 2.6);
  p.drawEllipse(QPointF(21.5, 13.5), 2.6, 2.6);
  p.fillRect(QRectF(13, 12.5, 6, 2), QColor(70, 50, 30));
  QPolygonF foot;
  foot << QPointF(8, 26) << QPointF(10, 21) << QPointF(22, 21) << QPointF(24, 26);
  p.setPen(QPen(QColor(20, 24, 32), 0.6));
  p.setBrush(QColor(110, 118, 134));
  p.drawPolygon(foot);
}

void MemoryStick(QPainter& p) {
  const QRectF pcb(1, 10, 30, 12);
  Box(p, pcb, V(pcb, QColor(60, 160, 80), QColor(24, 110, 44)), QColor(14, 80, 30), 1);
  for (int i = 0; i < 4; ++i) Box(p, QRectF(3 + i * 7, 12, 5.5, 6.5), QColor(36, 40, 50), QColor(16, 18, 24), 0.5, 0.5);
  for (int i = 0; i < 13; ++i) p.fillRect(QRectF(2.5 + i * 2.2, 22, 1.4, 2.6), QColor(226, 180, 60));
  p.fillRect(QRectF(15.3, 21, 1.4, 3.5), QColor(0, 0, 0, 0));
}

void SmartCard(QPainter& p) {
  const QRectF card(2, 7, 28, 19);
  Box(p, card, D(card, QColor(120, 180, 250), QColor(30, 90, 180)), QColor(20, 60, 130), 2.5);
  Box(p, QRectF(5.5, 12, 8, 7), V(QRectF(5, 12, 8, 7), QColor(252, 220, 120), QColor(200, 150, 40)), QColor(150, 110, 30), 1.2, 0.6);
  p.setPen(QPen(QColor(150, 110, 30), 0.5));
  p.drawLine(QPointF(9.5, 12), QPointF(9.5, 19));
  p.drawLine(QPointF(5.5, 15.5), QPointF(13.5, 15.5));
  p.fillRect(QRectF(16, 20, 11, 1.5), QColor(255, 255, 255, 150));
  p.fillRect(QRectF(16, 17, 7, 1.5), QColor(255, 255, 255, 110));
}

void SdCard(QPainter& p) {
  QPainterPath card;
  card.moveTo(7, 2);
  card.lineTo(22, 2);
  card.lineTo(26, 6);
  card.lineTo(26, 30);
  card.lineTo(7, 30);
  card.closeSubpath();
  p.setPen(QPen(QColor(20, 24, 34), 0.8));
  p.setBrush(V(QRectF(7, 2, 19, 28), QColor(80, 90, 110), QColor(30, 36, 48)));
  p.drawPath(card);
  for (int i = 0; i < 5; ++i) p.fillRect(QRectF(9 + i * 3, 3.5, 2, 4.5), QColor(226, 180, 60));
  Box(p, QRectF(9, 13, 15, 14), QColor(230, 238, 248), QColor(140, 150, 170), 1, 0.5);
  p.setFont(Sans(7, true));
  p.setPen(QColor(38, 123, 191));
  p.drawText(QRectF(9, 13, 15, 14), Qt::AlignCenter, QStringLiteral("SD"));
}

void Gamepad(QPainter& p) {
  QPainterPath pad;
  pad.moveTo(6, 10);
  pad.cubicTo(10, 8, 22, 8, 26, 10);
  pad.cubicTo(31, 12, 32, 26, 28, 27);
  pad.cubicTo(25, 28, 23, 22, 20, 21);
  pad.lineTo(12, 21);
  pad.cubicTo(9, 22, 7, 28, 4, 27);
  pad.cubicTo(0, 26, 1, 12, 6, 10);
  p.setPen(QPen(QColor(40, 46, 58), 0.8));
  p.setBrush(V(QRectF(0, 8, 32, 20), QColor(236, 240, 246), QColor(150, 160, 176)));
  p.drawPath(pad);
  p.fillRect(QRectF(6, 14, 6, 2), QColor(60, 68, 82));
  p.fillRect(QRectF(8, 12, 2, 6), QColor(60, 68, 82));
  const QColor buttons[4] = {QColor(60, 180, 70), QColor(220, 50, 40), QColor(40, 120, 220), QColor(240, 190, 30)};
  const QPointF at[4] = {{23, 17}, {25.5, 14.5}, {20.5, 14.5}, {23, 12}};
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    p.setBrush(buttons[i]);
    p.drawEllipse(at[i], 1.3, 1.3);
  }
  p.setBrush(QColor(90, 200, 100));
  p.drawEllipse(QPointF(16, 12.5), 1.6, 1.6);
}

void Joystick(QPainter& p) {
  const QRectF base(4, 20, 24, 9);
  Box(p, base, V(base, QColor(110, 118, 134), QColor(44, 50, 64)), QColor(24, 28, 36), 3.5);
  p.setPen(QPen(QColor(60, 66, 80), 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 22), QPointF(13, 9));
  QRadialGradient knob(QPointF(11, 6), 6);
  knob.setColorAt(0, QColor(255, 140, 120));
  knob.setColorAt(1, QColor(190, 30, 24));
  p.setPen(QPen(QColor(120, 20, 16), 0.7));
  p.setBrush(knob);
  p.drawEllipse(QPointF(12.5, 7), 4.5, 4.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(240, 190, 30));
  p.drawEllipse(QPointF(23, 23.5), 1.8, 1.2);
}

void Handheld(QPainter& p, bool phone) {
  const QRectF body(8, 2, 16, 28);
  Box(p, body, V(body, QColor(90, 98, 114), QColor(36, 42, 54)), QColor(20, 24, 32), 3);
  const QRectF screen(10, 5, 12, phone ? 17 : 14);
  p.setPen(Qt::NoPen);
  p.setBrush(D(screen, QColor(140, 210, 255), QColor(30, 90, 180)));
  p.drawRect(screen);
  if (phone) {
    p.setBrush(QColor(180, 186, 198));
    p.drawEllipse(QPointF(16, 26), 2, 2);
  } else {
    for (int i = 0; i < 3; ++i) {
      p.setBrush(QColor(180, 186, 198));
      p.drawEllipse(QPointF(11.5 + i * 4.5, 24), 1.4, 1.4);
    }
    p.fillRect(QRectF(11, 27, 10, 1), QColor(150, 156, 170));
  }
}

void SerialPort(QPainter& p, const QRectF& b = QRectF(2, 8, 28, 16)) {
  QPainterPath d;
  const double s = b.width() / 28.0;
  d.moveTo(b.left(), b.top());
  d.lineTo(b.right(), b.top());
  d.lineTo(b.right() - 3 * s, b.bottom());
  d.lineTo(b.left() + 3 * s, b.bottom());
  d.closeSubpath();
  p.setPen(QPen(kOutline, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(V(b, QColor(220, 224, 232), QColor(140, 148, 162)));
  p.drawPath(d);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(50, 56, 70));
  for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(b.left() + (6 + i * 4) * s, b.top() + 5 * s), 1.2 * s, 1.2 * s);
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(b.left() + (8 + i * 4) * s, b.top() + 10.5 * s), 1.2 * s, 1.2 * s);
}

void Volume(QPainter& p) {
  HardDisk(p);
  // A partition slice over the platter.
  p.setPen(QPen(Qt::white, 0.8));
  p.setBrush(QColor(38, 123, 191));
  p.drawPie(QRectF(17, 5, 13, 13), 90 * 16, -110 * 16);
  p.setBrush(QColor(110, 190, 250));
  p.drawPie(QRectF(17, 5, 13, 13), -20 * 16, -250 * 16);
}

void Globe(QPainter& p) {
  QRadialGradient g(QPointF(12, 11), 16);
  g.setColorAt(0, QColor(140, 210, 255));
  g.setColorAt(1, QColor(20, 90, 180));
  p.setPen(QPen(QColor(14, 60, 130), 0.8));
  p.setBrush(g);
  p.drawEllipse(QPointF(16, 16), 13, 13);
  p.setPen(QPen(QColor(255, 255, 255, 170), 0.9));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(16, 16), 6, 13);
  p.drawLine(QPointF(3, 16), QPointF(29, 16));
  p.drawLine(QPointF(16, 3), QPointF(16, 29));
  p.drawArc(QRectF(4, 3, 24, 14), 200 * 16, 140 * 16);
  p.drawArc(QRectF(4, 15, 24, 14), 20 * 16, 140 * 16);
}

void TwoComputers(QPainter& p) {
  p.save();
  p.translate(-1, 6);
  p.scale(0.55, 0.55);
  MonitorShape(p, QColor(120, 200, 255), QColor(20, 86, 176), false);
  p.restore();
  p.save();
  p.translate(15, 6);
  p.scale(0.55, 0.55);
  MonitorShape(p, QColor(120, 200, 255), QColor(20, 86, 176), false);
  p.restore();
  p.setPen(QPen(QColor(52, 168, 83), 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8, 24), QPointF(8, 28));
  p.drawLine(QPointF(24, 24), QPointF(24, 28));
  p.drawLine(QPointF(8, 28), QPointF(24, 28));
}

void Arrows(QPainter& p) {
  auto arrow = [&](double y, bool right, const QColor& c) {
    QPainterPath a;
    if (right) {
      a.moveTo(3, y - 2.5); a.lineTo(20, y - 2.5); a.lineTo(20, y - 6); a.lineTo(29, y);
      a.lineTo(20, y + 6); a.lineTo(20, y + 2.5); a.lineTo(3, y + 2.5);
    } else {
      a.moveTo(29, y - 2.5); a.lineTo(12, y - 2.5); a.lineTo(12, y - 6); a.lineTo(3, y);
      a.lineTo(12, y + 6); a.lineTo(12, y + 2.5); a.lineTo(29, y + 2.5);
    }
    a.closeSubpath();
    p.setPen(QPen(c.darker(150), 0.8));
    p.setBrush(V(QRectF(0, y - 6, 32, 12), c.lighter(130), c));
    p.drawPath(a);
  };
  arrow(10, true, QColor(38, 123, 191));
  arrow(22, false, QColor(52, 168, 83));
}

void Plug(QPainter& p) {
  p.setPen(QPen(QColor(60, 66, 80), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(12, 3), QPointF(12, 10));
  p.drawLine(QPointF(20, 3), QPointF(20, 10));
  QPainterPath body;
  body.moveTo(7, 10);
  body.lineTo(25, 10);
  body.lineTo(25, 16);
  body.cubicTo(25, 21, 21, 23, 19, 23);
  body.lineTo(13, 23);
  body.cubicTo(11, 23, 7, 21, 7, 16);
  body.closeSubpath();
  p.setPen(QPen(kOutline, 0.8));
  p.setBrush(V(QRectF(7, 10, 18, 13), QColor(240, 244, 250), QColor(160, 168, 182)));
  p.drawPath(body);
  p.setPen(QPen(QColor(60, 66, 80), 2.4, Qt::SolidLine, Qt::RoundCap));
  QPainterPath cord;
  cord.moveTo(16, 23);
  cord.cubicTo(16, 29, 24, 27, 27, 30);
  p.setBrush(Qt::NoBrush);
  p.drawPath(cord);
  p.setPen(QPen(QColor(240, 180, 20), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPolygonF bolt;
  bolt << QPointF(17, 12) << QPointF(14, 16.5) << QPointF(18, 16.5) << QPointF(15, 21);
  p.drawPolyline(bolt);
}

void ShieldLock(QPainter& p) {
  QPainterPath shield;
  shield.moveTo(16, 2);
  shield.cubicTo(21, 5, 25, 5, 28, 5);
  shield.cubicTo(28, 17, 25, 25, 16, 30);
  shield.cubicTo(7, 25, 4, 17, 4, 5);
  shield.cubicTo(7, 5, 11, 5, 16, 2);
  p.setPen(QPen(QColor(14, 60, 130), 0.8));
  p.setBrush(D(QRectF(4, 2, 24, 28), QColor(110, 184, 250), QColor(20, 80, 166)));
  p.drawPath(shield);
  p.setPen(QPen(QColor(230, 236, 246), 1.8));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(12, 9, 8, 9), 0, 180 * 16);
  p.drawLine(QPointF(12, 13.5), QPointF(12, 15));
  p.drawLine(QPointF(20, 13.5), QPointF(20, 15));
  Box(p, QRectF(10, 15, 12, 9), V(QRectF(10, 15, 12, 9), QColor(252, 220, 110), QColor(210, 150, 30)), QColor(150, 100, 20), 1.5, 0.6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 80, 20));
  p.drawEllipse(QPointF(16, 18.5), 1.3, 1.3);
  p.drawRect(QRectF(15.4, 19, 1.2, 3));
}

void GearIcon(QPainter& p, const QColor& light = QColor(200, 206, 216), const QColor& dark = QColor(100, 110, 126)) {
  QPainterPath gear;
  const QPointF c(16, 16);
  const int teeth = 9;
  for (int i = 0; i < teeth * 4; ++i) {
    const double a = (i / (teeth * 4.0)) * 2 * M_PI;
    const double r = (i % 4 == 0 || i % 4 == 1) ? 14 : 10.5;
    const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    if (i == 0) gear.moveTo(pt); else gear.lineTo(pt);
  }
  gear.closeSubpath();
  gear.addEllipse(c, 4.5, 4.5);
  gear.setFillRule(Qt::OddEvenFill);
  p.setPen(QPen(dark.darker(140), 0.8));
  p.setBrush(D(QRectF(2, 2, 28, 28), light, dark));
  p.drawPath(gear);
}

void QuestionMark(QPainter& p) {
  QRadialGradient g(QPointF(12, 10), 18);
  g.setColorAt(0, QColor(230, 234, 240));
  g.setColorAt(1, QColor(140, 150, 166));
  p.setPen(QPen(QColor(90, 98, 112), 0.8));
  p.setBrush(g);
  p.drawEllipse(QPointF(16, 16), 14, 14);
  QFont f = Sans(20, true);
  f.setPixelSize(20);
  p.setFont(f);
  p.setPen(QColor(60, 70, 88));
  p.drawText(QRectF(2, 2, 28, 29), Qt::AlignCenter, QStringLiteral("?"));
}

void Modem(QPainter& p) {
  QPolygonF body;
  body << QPointF(2, 16) << QPointF(6, 11) << QPointF(26, 11) << QPointF(30, 16) << QPointF(30, 24) << QPointF(2, 24);
  p.setPen(QPen(kOutline, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(V(QRectF(2, 11, 28, 13), QColor(226, 230, 238), QColor(140, 148, 164)));
  p.drawPolygon(body);
  p.fillRect(QRectF(2.5, 20, 27, 3.5), QColor(60, 68, 82));
  const QColor leds[5] = {QColor(80, 230, 90), QColor(80, 230, 90), QColor(250, 190, 40), QColor(80, 230, 90), QColor(230, 60, 50)};
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 5; ++i) {
    p.setBrush(leds[i]);
    p.drawEllipse(QPointF(7 + i * 4.5, 21.8), 1, 1);
  }
  p.setPen(QPen(QColor(38, 123, 191), 1.4, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(12, 2, 8, 8), 30 * 16, 120 * 16);
  p.drawArc(QRectF(9, -1, 14, 14), 40 * 16, 100 * 16);
}

void NetCard(QPainter& p) {
  CardShape(p, QColor(46, 140, 70), true);
  p.setPen(QPen(QColor(38, 123, 191), 1.8, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  QPainterPath cable;
  cable.moveTo(25, 16);
  cable.cubicTo(31, 16, 30, 4, 22, 3);
  p.drawPath(cable);
}

void Infrared(QPainter& p) {
  Box(p, QRectF(3, 10, 12, 12), V(QRectF(3, 10, 12, 12), QColor(90, 98, 114), QColor(36, 42, 54)), QColor(20, 24, 32), 2);
  QRadialGradient led(QPointF(9, 15), 5);
  led.setColorAt(0, QColor(255, 180, 170));
  led.setColorAt(1, QColor(170, 20, 20));
  p.setPen(Qt::NoPen);
  p.setBrush(led);
  p.drawEllipse(QPointF(9, 16), 3.2, 3.2);
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(QColor(210, 40, 30, 240 - i * 60), 1.6, Qt::SolidLine, Qt::RoundCap));
    const double r = 6 + i * 4.5;
    p.drawArc(QRectF(9 - r, 16 - r, 2 * r, 2 * r), -40 * 16, 80 * 16);
  }
}

void PcCard(QPainter& p) {
  const QRectF card(3, 4, 26, 24);
  Box(p, card, V(card, QColor(220, 226, 236), QColor(150, 160, 176)), kOutline, 1.5);
  p.fillRect(QRectF(4, 4.5, 24, 3), QColor(60, 68, 82));
  for (int i = 0; i < 10; ++i) p.fillRect(QRectF(5 + i * 2.3, 5.2, 1.2, 1.6), QColor(200, 206, 216));
  Box(p, QRectF(7, 12, 18, 11), QColor(38, 123, 191), QColor(20, 80, 150), 1, 0.5);
  p.setFont(Sans(7, true));
  p.setPen(Qt::white);
  p.drawText(QRectF(7, 12, 18, 11), Qt::AlignCenter, QStringLiteral("PC"));
}

void Stacked(QPainter& p, const std::function<void(QPainter&)>& one, int copies, double dx, double dy, double scale) {
  for (int i = copies - 1; i >= 0; --i) {
    p.save();
    p.translate(i * dx, -i * dy);
    p.translate(16 * (1 - scale), 16 * (1 - scale) + dy * (copies - 1) / 2.0);
    p.scale(scale, scale);
    one(p);
    p.restore();
  }
}

// A small badge in the lower right corner telling a variant of a class.
void CornerBadge(QPainter& p, const std::function<void(QPainter&)>& drawInside, const QColor& ring = Qt::white) {
  p.save();
  p.setPen(QPen(ring, 1));
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawEllipse(QPointF(24.5, 24.5), 7, 7);
  p.translate(18, 18);
  p.scale(13.0 / 32.0, 13.0 / 32.0);
  drawInside(p);
  p.restore();
}

struct ClassIcon {
  const char* hex;
  const char* what;
  Draw draw;
};

std::vector<ClassIcon> Classes() {
  const auto printerPlug = [](QPainter& p) { Printer(p); CornerBadge(p, [](QPainter& q) { UsbTrident(q); }); };
  const auto genericCard = [](const QColor& c, const QString& chip) {
    return [c, chip](QPainter& p) {
      CardShape(p, c);
      if (!chip.isEmpty()) CornerBadge(p, [chip](QPainter& q) { ChipShape(q, chip); });
    };
  };
  return {
      {"0475BB515A024EE0B36C29040FAD2650", "vendor device class: teal add-in card", genericCard(QColor(30, 150, 160), QString())},
      {"1264760FA5C84BFEB314D56A7B44A362", "display driver kernel: graphics card with a monitor badge",
       [](QPainter& p) { CardShape(p, QColor(40, 60, 120)); CornerBadge(p, [](QPainter& q) { MonitorShape(q, QColor(120, 200, 255), QColor(20, 86, 176), false); }); }},
      {"25DBCE516C8F4A728A6DB54C2B4FC835", "handheld synchronisation: handheld with sync arrows",
       [](QPainter& p) { Handheld(p, false); CornerBadge(p, [](QPainter& q) { Arrows(q); }); }},
      {"36FC9E60C46511CF8056444553540000", "USB controllers: the USB trident", [](QPainter& p) { UsbTrident(p); }},
      {"43675D81502A4A829F84B75F418C5DEA", "vendor device class: chip", [](QPainter& p) { ChipShape(p, QStringLiteral("IO")); }},
      {"4658EE7EF05011D1B6BD00C04FA372A7", "plug and play printers: printer with USB badge", printerPlug},
      {"48721B56679511D2B1A80080C72E74A2", "IEEE 1284.4 devices: printer with a port badge",
       [](QPainter& p) { Printer(p); CornerBadge(p, [](QPainter& q) { SerialPort(q); }); }},
      {"49CE6AC86F8611D2B1E50080C72E74A2", "IEEE 1284.4 print functions: printer with blue paper",
       [](QPainter& p) { Printer(p, QColor(214, 232, 252)); }},
      {"4D36E965E32511CEBFC108002BE10318", "DVD/CD-ROM drives: optical disc", [](QPainter& p) { Disc(p); }},
      {"4D36E966E32511CEBFC108002BE10318", "computer: tower case", [](QPainter& p) { Tower(p); }},
      {"4D36E967E32511CEBFC108002BE10318", "disk drives: hard disk", [](QPainter& p) { HardDisk(p); }},
      {"4D36E968E32511CEBFC108002BE10318", "display adapters: monitor showing a desktop",
       [](QPainter& p) { MonitorShape(p, QColor(120, 200, 255), QColor(20, 86, 176), true); }},
      {"4D36E969E32511CEBFC108002BE10318", "floppy disk controllers: card with a floppy badge",
       [](QPainter& p) { CardShape(p, QColor(46, 120, 80)); CornerBadge(p, [](QPainter& q) { Floppy(q); }); }},
      {"4D36E96AE32511CEBFC108002BE10318", "IDE ATA/ATAPI controllers: card with a disk badge",
       [](QPainter& p) { CardShape(p, QColor(46, 120, 80)); CornerBadge(p, [](QPainter& q) { HardDisk(q); }); }},
      {"4D36E96BE32511CEBFC108002BE10318", "keyboards: keyboard", [](QPainter& p) { Keyboard(p); }},
      {"4D36E96CE32511CEBFC108002BE10318", "sound, video and game controllers: speaker with sound waves", [](QPainter& p) { Speaker(p); }},
      {"4D36E96DE32511CEBFC108002BE10318", "modems: modem with signal arcs", [](QPainter& p) { Modem(p); }},
      {"4D36E96EE32511CEBFC108002BE10318", "monitors: monitor", [](QPainter& p) { MonitorShape(p, QColor(150, 220, 255), QColor(40, 120, 200), false); }},
      {"4D36E96FE32511CEBFC108002BE10318", "mice and other pointing devices: mouse", [](QPainter& p) { Mouse(p); }},
      {"4D36E970E32511CEBFC108002BE10318", "memory technology devices: memory module with an SD badge",
       [](QPainter& p) { MemoryStick(p); CornerBadge(p, [](QPainter& q) { SdCard(q); }); }},
      {"4D36E971E32511CEBFC108002BE10318", "multifunction adapters: stacked cards",
       [](QPainter& p) { Stacked(p, [](QPainter& q) { CardShape(q, QColor(46, 140, 70)); }, 3, 2.5, 3.5, 0.82); }},
      {"4D36E972E32511CEBFC108002BE10318", "network adapters: network card with its cable", [](QPainter& p) { NetCard(p); }},
      {"4D36E973E32511CEBFC108002BE10318", "network clients: two linked computers", [](QPainter& p) { TwoComputers(p); }},
      {"4D36E974E32511CEBFC108002BE10318", "network services: globe", [](QPainter& p) { Globe(p); }},
      {"4D36E975E32511CEBFC108002BE10318", "network protocols: send and receive arrows", [](QPainter& p) { Arrows(p); }},
      {"4D36E977E32511CEBFC108002BE10318", "PCMCIA adapters: PC card", [](QPainter& p) { PcCard(p); }},
      {"4D36E978E32511CEBFC108002BE10318", "ports (COM and LPT): serial connector", [](QPainter& p) { SerialPort(p); }},
      {"4D36E979E32511CEBFC108002BE10318", "printers: printer", [](QPainter& p) { Printer(p); }},
      {"4D36E97BE32511CEBFC108002BE10318", "SCSI and RAID controllers: card with a SCSI chip",
       [](QPainter& p) { CardShape(p, QColor(40, 90, 150)); CornerBadge(p, [](QPainter& q) { ChipShape(q, QStringLiteral("SCSI")); }); }},
      {"4D36E97DE32511CEBFC108002BE10318", "system devices: chip", [](QPainter& p) { ChipShape(p, QStringLiteral("SYS")); }},
      {"4D36E97EE32511CEBFC108002BE10318", "other devices: question mark", [](QPainter& p) { QuestionMark(p); }},
      {"4D36E980E32511CEBFC108002BE10318", "floppy disk drives: floppy disk", [](QPainter& p) { Floppy(p); }},
      {"4F9191084ADF11D5882D00B0D02FE381", "vendor device class: gear", [](QPainter& p) { GearIcon(p, QColor(170, 220, 190), QColor(40, 130, 80)); }},
      {"50127DC30F36415EA6CC4CB3BE910B65", "processors: processor chip", [](QPainter& p) { ChipShape(p, QStringLiteral("CPU"), QRectF(6, 6, 20, 20)); }},
      {"50906CB8BA1211D1BF5D0000F805F530", "multi-port serial adapters: two serial connectors",
       [](QPainter& p) { SerialPort(p, QRectF(1, 3, 22, 13)); SerialPort(p, QRectF(9, 16, 22, 13)); }},
      {"5099944AF6B94057A0568C550228544C", "memory devices: memory module", [](QPainter& p) { MemoryStick(p); }},
      {"50DD5230BA8A11D1BF5D0000F805F530", "smart card readers: smart card", [](QPainter& p) { SmartCard(p); }},
      {"533C5B84EC7011D2950500C04F79DEAF", "volume shadow copies: volume with a clock badge",
       [](QPainter& p) { Volume(p); CornerBadge(p, [](QPainter& q) {
           q.setPen(QPen(QColor(38, 123, 191), 3)); q.setBrush(Qt::white); q.drawEllipse(QPointF(16, 16), 12, 12);
           q.drawLine(QPointF(16, 16), QPointF(16, 8)); q.drawLine(QPointF(16, 16), QPointF(22, 19)); }); }},
      {"66F250D678014A64B139EEA80A450B24", "IEEE 1394 debugger: FireWire port with a gear badge",
       [](QPainter& p) { FireWirePort(p); CornerBadge(p, [](QPainter& q) { GearIcon(q); }); }},
      {"6BDD1FC1810F11D0BEC708002BE2092F", "IEEE 1394 host controllers: FireWire port", [](QPainter& p) { FireWirePort(p); }},
      {"6BDD1FC5810F11D0BEC708002BE2092F", "infrared devices: infrared emitter", [](QPainter& p) { Infrared(p); }},
      {"6BDD1FC6810F11D0BEC708002BE2092F", "imaging devices: camera", [](QPainter& p) { Camera(p); }},
      {"6D8078847D2111CF801C08002BE10318", "tape drives: tape cartridge", [](QPainter& p) { Tape(p); }},
      {"6FAE73B7B7354B50A0DA0DC2484B1F1A", "vendor device class: purple add-in card", genericCard(QColor(110, 70, 160), QString())},
      {"71A27CDD812A11D0BEC708002BE2092F", "storage volumes: disk with a partition slice", [](QPainter& p) { Volume(p); }},
      {"72631E5478A411D0BCF700AA00B7B32A", "batteries: charged battery", [](QPainter& p) { Battery(p); }},
      {"745A17A074D311D0B6FE00A0C90F57DA", "human interface devices: joystick", [](QPainter& p) { Joystick(p); }},
      {"7EBEFBC0320011D2B4C200A0C9697D07", "IEEE 1394 audio/video (61883): camcorder with a FireWire badge",
       [](QPainter& p) { Camcorder(p); CornerBadge(p, [](QPainter& q) { FireWireSign(q, QPointF(16, 16), 11); }); }},
      {"8ECC055D047F11D1A5370000F8753ED1", "non-plug and play drivers: grey gear", [](QPainter& p) { GearIcon(p); }},
      {"95C7A0A0309411D7A20200508B9D7D5A", "Bluetooth (vendor stack): Bluetooth rune with a plug badge",
       [](QPainter& p) { BluetoothRune(p, QRectF(7, 2, 18, 28)); CornerBadge(p, [](QPainter& q) { Plug(q); }); }},
      {"997B5D8DC4424F2EBAF39C8E671E9E21", "auxiliary displays: small display device", [](QPainter& p) { Handheld(p, true); }},
      {"A0A588A4C46F4B37B7EAC82FE89870C6", "SD host adapters: SD card", [](QPainter& p) { SdCard(p); }},
      {"BC103702DD72406F9B2895C868337B59", "vendor device class: chip on a card", genericCard(QColor(70, 100, 150), QStringLiteral("IC"))},
      {"C06FF265AE0948F0812C16753D7CBA83", "IEEE 1394 AV/C devices: camcorder", [](QPainter& p) { Camcorder(p); }},
      {"C459DF55DB0811D1B00900A0C9081FF6", "IEEE 1394 enumerated devices: FireWire sign",
       [](QPainter& p) { p.setPen(QPen(QColor(200, 206, 216), 1)); p.setBrush(QColor(250, 250, 252)); p.drawEllipse(QPointF(16, 16), 14, 14); FireWireSign(p, QPointF(16, 17), 10); }},
      {"C7C038AD1F2D44D4B2FED912BE20E6D5", "vendor device class: orange add-in card", genericCard(QColor(200, 110, 30), QString())},
      {"CE5939AEEBDE11D0B1810000F8753EC4", "medium changers: stack of discs",
       [](QPainter& p) { Stacked(p, [](QPainter& q) { Disc(q); }, 3, 3, 3, 0.72); }},
      {"D45B1C18C8FA11D19F770000F805F530", "power management support: power plug", [](QPainter& p) { Plug(p); }},
      {"D48179BEEC2011D1B6B800C04FA372A7", "IEEE 1394 storage (SBP-2): hard disk with a FireWire badge",
       [](QPainter& p) { HardDisk(p); CornerBadge(p, [](QPainter& q) { FireWireSign(q, QPointF(16, 16), 11); }); }},
      {"D61CA3655AF44486998B9DB4734C6CA3", "game controllers: gamepad", [](QPainter& p) { Gamepad(p); }},
      {"D76B962BF0B841F285906605FE4EA312", "vendor device class: blue gear", [](QPainter& p) { GearIcon(p, QColor(150, 200, 250), QColor(30, 90, 170)); }},
      {"D94EE5D8D189499483D2F68D7D41B0E6", "security devices: shield with a padlock", [](QPainter& p) { ShieldLock(p); }},
      {"E0CBF06CCD8B4647BB8A263B43F0F974", "Bluetooth radios: Bluetooth rune", [](QPainter& p) { BluetoothRune(p, QRectF(7, 2, 18, 28)); }},
      {"EEC5AD988080425F922ADABF3DE3F69A", "portable devices: phone", [](QPainter& p) { Handheld(p, true); CornerBadge(p, [](QPainter& q) { Speaker(q); }); }},
      {"F12D3CF8B11D457E8641BE2AF2D6D204", "Bluetooth USB adapters: Bluetooth rune with a USB badge",
       [](QPainter& p) { BluetoothRune(p, QRectF(7, 2, 18, 28)); CornerBadge(p, [](QPainter& q) { UsbTrident(q); }); }},
  };
}

// The program's own icon at small sizes: the mark simplified to a tile and a tick.
void TrayMark(QPainter& p) {
  const QRectF tile(1, 1, 30, 30);
  QLinearGradient g(tile.topLeft(), tile.bottomRight());
  g.setColorAt(0, QColor(84, 176, 246));
  g.setColorAt(1, QColor(16, 72, 158));
  p.setPen(QPen(QColor(10, 48, 104), 1.6));
  p.setBrush(g);
  p.drawRoundedRect(tile, 7, 7);
  p.fillRect(QRectF(4, 3, 24, 11), QColor(255, 255, 255, 40));
  p.setPen(QPen(Qt::white, 5.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPolygonF tick;
  tick << QPointF(8, 16.5) << QPointF(13.5, 22) << QPointF(24, 10);
  p.drawPolyline(tick);
}

}  // namespace

void PaintClassIcons(Catalogue& c) {
  const QString group = QStringLiteral("Class icons");
  for (const ClassIcon& icon : Classes())
    c.AddIcon(QString::fromLatin1(icon.hex), {IconImage(32, icon.draw)}, group, QString::fromLatin1(icon.what));
  const QString program = QStringLiteral("Program icons");
  c.AddIcon(QStringLiteral("TRAYICON"), {IconImage(16, TrayMark)}, program,
            QStringLiteral("notification area icon: blue tile with a white tick"));
  c.AddIcon(QStringLiteral("MAINICON"), {IconImage(16, TrayMark), IconImage(32, [](QPainter& p) { DrawEmblem(p, QRectF(0, 0, 32, 32)); })},
            program, QStringLiteral("window and taskbar icon: the product mark (16 and 32 pixels)"));
}

QImage DesktopIcon(int size) {
  // Below 32 pixels the emblem's detail blurs: the tile with the tick reads better.
  if (size < 32) return IconImage(size, TrayMark);
  return IconImage(size, [](QPainter& p) { DrawEmblem(p, QRectF(0, 0, 32, 32)); });
}

}  // namespace art
