#include "ui/widgets/cm_LSVGauges.h"

#include "ui/widgets/uAccessible.h"

#include <QAccessible>

#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

std::string RangeMessage(long long lo, long long hi) {
  return "Value must be between " + std::to_string(lo) + " and " + std::to_string(hi);
}

QRgb Rgb24(const QColor& c) { return c.rgb() & 0xFFFFFFu; }

}  // namespace

TLSVGauge::TLSVGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  FFont.Font = font();
  InstallSkinAccessibility();
}

int TLSVGauge::PercentOf(int32_t progress, int32_t minValue, int32_t maxValue) {
  if (maxValue == minValue) return 0;
  // Multiply first: both operands are exact in a double, so an exact integer
  // quotient is never truncated one too low, and large ranges cannot overflow.
  const double q = (static_cast<double>(progress) - minValue) * 100.0 /
                   (static_cast<double>(maxValue) - minValue);
  return static_cast<int>(std::trunc(q));
}

int TLSVGauge::Percent() const { return PercentOf(FProgress, FMinValue, FMaxValue); }

int TLSVGauge::FilledWidth() const { return (width() + 1) * Percent() / 100; }

QString TLSVGauge::FormattedText() const {
  // The text takes one argument, the percentage: "%d" is replaced by it and
  // "%%" gives a percent sign; anything else is copied as it is.
  QString out;
  const QString p = QString::number(Percent());
  for (int i = 0; i < FText.size(); ++i) {
    const QChar c = FText.at(i);
    if (c == QLatin1Char('%') && i + 1 < FText.size()) {
      const QChar n = FText.at(i + 1);
      if (n == QLatin1Char('d')) {
        out += p;
        ++i;
        continue;
      }
      if (n == QLatin1Char('%')) {
        out += QLatin1Char('%');
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

void TLSVGauge::Invalidate() {
  ++FRepaintRequests;
  update();
}

void TLSVGauge::SetProgress(int32_t v) {
  v = std::clamp(v, FMinValue, FMaxValue);
  if (v == FProgress) return;
  const int before = Percent();
  FProgress = v;
  if (Percent() != before) {
    Invalidate();
    if (QAccessible::isActive()) {
      QAccessibleValueChangeEvent event(this, FProgress);
      QAccessible::updateAccessibility(&event);
    }
  }
}

void TLSVGauge::SetMaxValue(int32_t v) {
  if (v == FMaxValue) return;
  if (v < FMinValue) throw ELSVGaugeError(RangeMessage(static_cast<long long>(FMinValue) + 1, INT32_MAX));
  FMaxValue = v;
  if (FProgress > v) FProgress = v;
  Invalidate();
}

void TLSVGauge::SetMinValue(int32_t v) {
  if (v == FMinValue) return;
  if (v > FMaxValue) throw ELSVGaugeError(RangeMessage(-static_cast<long long>(INT32_MAX), static_cast<long long>(FMaxValue) - 1));
  FMinValue = v;
  if (FProgress < v) FProgress = v;
  Invalidate();
}

void TLSVGauge::SetText(const QString& text) {
  if (text == FText) return;
  FText = text;
  Invalidate();
}

QImage TLSVGauge::Compose() const {
  const int W = std::max(1, width());
  const int H = std::max(1, height());
  QImage bmp(W, H, QImage::Format_RGB32);
  const int f = FilledWidth();
  {
    QPainter pt(&bmp);
    // Pattern fills tile from the bitmap's top-left corner, so a texture of
    // the gauge's size is drawn unscaled.
    pt.setBrushOrigin(0, 0);
    if (!FTextureOnBack.isNull())
      pt.fillRect(0, 0, W, H, QBrush(FTextureOnBack));
    else
      pt.fillRect(0, 0, W, H, BackColor);
    if (f >= 1) {
      if (!FTextureOnFore.isNull())
        pt.fillRect(0, 0, f, H, QBrush(FTextureOnFore));
      else
        pt.fillRect(0, 0, f, H, ForeColor);
    }
  }

  const QString s = FormattedText();
  if (s.isEmpty()) return bmp;

  // The text is a hard-edged mask: every pixel of a character inverts the
  // colour beneath it, so antialiasing would leave odd half-inverted pixels.
  QFont font = FFont.Font;
  font.setStyleStrategy(QFont::NoAntialias);
  const QFontMetrics fm(font);
  const int tw = fm.horizontalAdvance(s);
  const int th = fm.height();
  const int x0 = (W + 1 - tw) / 2;
  const int y0 = (H + 1 - th) / 2;
  const int x1 = x0 + tw + (font.italic() ? tw / 3 : 0);
  const int y1 = y0 + th;

  QImage mask(W, H, QImage::Format_RGB32);
  mask.fill(Qt::black);
  {
    QPainter pm(&mask);
    pm.setFont(font);
    pm.setPen(Qt::white);
    pm.setClipRect(0, 0, W, H);
    pm.drawText(x0, y0 + fm.ascent(), s);
  }
  for (int y = 0; y < H; ++y) {
    auto* dst = reinterpret_cast<QRgb*>(bmp.scanLine(y));
    const auto* src = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    for (int x = 0; x < W; ++x) dst[x] = 0xFF000000u | ((dst[x] ^ src[x]) & 0xFFFFFFu);
  }

  const QRgb kf = Rgb24(ForeColor) ^ 0xFFFFFFu;
  const QRgb kb = Rgb24(BackColor) ^ 0xFFFFFFu;
  const QRgb onFilled = 0xFF000000u | Rgb24(FFont.ColorOnFilled);
  const QRgb onBack = 0xFF000000u | Rgb24(FFont.ColorOnBackground);
  auto recolour = [&](int from, int to, QRgb key, QRgb colour) {
    from = std::max(from, 0);
    to = std::min(to, W);
    for (int y = std::max(y0, 0); y < std::min(y1, H); ++y) {
      auto* line = reinterpret_cast<QRgb*>(bmp.scanLine(y));
      for (int x = from; x < to; ++x)
        if ((line[x] & 0xFFFFFFu) == key) line[x] = colour;
    }
  };
  if (f < x0) {
    recolour(x0, x1, kb, onBack);
  } else if (x1 < f) {
    recolour(x0, x1, kf, onFilled);
  } else {
    recolour(x0, f, kf, onFilled);
    recolour(f, x1, kb, onBack);
  }
  return bmp;
}

void TLSVGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Compose());
}
