// The out-of-date diagrams: three-dimensional pies, the red slice holding
// the out-of-date share, drawn sample by sample so both faces and the slice
// edges come out clean (the GIF palette then holds them without dithering).
#include <algorithm>
#include <cmath>

#include "resources/painter/Catalogue.h"
#include "resources/painter/Style.h"

namespace art {

namespace {

struct Rgb {
  double r, g, b;
};

Rgb Scale(const Rgb& c, double k) { return {c.r * k, c.g * k, c.b * k}; }
Rgb Mix(const Rgb& a, const Rgb& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

const Rgb kRedBase{224, 52, 42};
const Rgb kGreenBase{62, 178, 72};
const Rgb kWhite{255, 255, 255};

constexpr double kTwoPi = 2 * M_PI;

// Angle clockwise from the back (12 o'clock) of the top face.
double FaceAngle(double u, double v) {
  double a = std::atan2(u, -v);
  if (a < 0) a += kTwoPi;
  return a;
}

Rgb Sample(double x, double y, double share) {
  using namespace pie;
  const double cut = share * kTwoPi;  // the red slice spans [0, cut)
  const double u = (x - kCentreX) / kRadiusX, v = (y - kCentreY) / kRadiusY;
  const double rr = u * u + v * v;
  auto sliceColour = [&](double angle) { return angle < cut ? kRedBase : kGreenBase; };
  auto nearCut = [&](double angle, double pixelsPerRadian) {
    if (share <= 0 || share >= 1) return 1e9;
    double d = std::min({std::fabs(angle), std::fabs(kTwoPi - angle), std::fabs(angle - cut)});
    return d * pixelsPerRadian;
  };
  if (rr <= 1.0) {
    // Top face, lit from the back left with a soft highlight.
    const double angle = FaceAngle(u, v);
    Rgb c = sliceColour(angle);
    const double light = 1.02 - 0.10 * u - 0.12 * v;
    c = Scale(c, light);
    const double hx = u + 0.35, hy = v + 0.45;
    const double spec = std::exp(-(hx * hx + hy * hy) * 3.2) * 0.35;
    c = Mix(c, kWhite, spec);
    const double radiusPx = std::sqrt((u * kRadiusX) * (u * kRadiusX) + (v * kRadiusY) * (v * kRadiusY));
    if (nearCut(angle, radiusPx) < 0.75) c = Mix(c, kWhite, 0.85);
    // A darker rim where the face meets the wall.
    const double edgePx = (1.0 - std::sqrt(rr)) * kRadiusY;
    if (edgePx < 0.9) c = Scale(c, 0.86);
    return c;
  }
  if (std::fabs(u) <= 1.0) {
    const double yTop = kCentreY + kRadiusY * std::sqrt(1.0 - u * u);
    if (y > kCentreY && y >= yTop && y <= yTop + kDepth) {
      const double angle = FaceAngle(u, std::sqrt(1.0 - u * u));
      Rgb c = sliceColour(angle);
      // A cylinder lit from the left: darker than the face, darkest at the right.
      const double shade = 0.70 + 0.16 * (1.0 - u * u) - 0.16 * u - 0.10 * (y - yTop) / kDepth;
      c = Scale(c, shade);
      // Slice edges run down the wall as light seams.
      const double pxPerRad = kRadiusX * std::max(0.05, std::sqrt(1.0 - u * u));
      if (nearCut(angle, pxPerRad) < 0.6) c = Mix(c, kWhite, 0.6);
      if (yTop + kDepth - y < 0.8) c = Scale(c, 0.8);
      return c;
    }
  }
  // Background with a soft shadow under the pie.
  const double su = (x - kCentreX - 3) / (kRadiusX + 5), sv = (y - kCentreY - kDepth - 4) / (kRadiusY + 3);
  const double d = su * su + sv * sv;
  if (d < 1.0) return Mix(kWhite, Rgb{120, 130, 146}, 0.28 * (1.0 - d) * (1.0 - d));
  return kWhite;
}

QImage PaintPie(int percent) {
  using namespace pie;
  QImage img(kWidth, kHeight, QImage::Format_RGB32);
  const double share = percent / 100.0;
  const int n = 4;
  for (int py = 0; py < kHeight; ++py) {
    QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(py));
    for (int px = 0; px < kWidth; ++px) {
      Rgb sum{0, 0, 0};
      for (int sy = 0; sy < n; ++sy)
        for (int sx = 0; sx < n; ++sx) {
          const Rgb c = Sample(px + (sx + 0.5) / n, py + (sy + 0.5) / n, share);
          sum.r += c.r;
          sum.g += c.g;
          sum.b += c.b;
        }
      auto clamp = [](double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); };
      line[px] = qRgb(clamp(sum.r / (n * n)), clamp(sum.g / (n * n)), clamp(sum.b / (n * n)));
    }
  }
  return img;
}

}  // namespace

void PaintDiagrams(Catalogue& c) {
  const QString group = QStringLiteral("Diagrams");
  for (int p = 0; p <= 100; p += 2)
    c.Add(QStringLiteral("DIAGIMG%1").arg(p), Format::Gif, PaintPie(p), group,
          QStringLiteral("3-D pie: red slice %1% clockwise from the back, green %2%").arg(p).arg(100 - p));
}

}  // namespace art
