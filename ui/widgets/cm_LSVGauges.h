// TLSVGauge: the textured horizontal progress bar of the scan page and the
// download dialog. The filled and empty parts are painted with two skin
// pictures (or plain colours), with an optional centred percentage text that
// is drawn as an inverted mask over whatever lies beneath it.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised when MinValue/MaxValue would cross each other; the values stay as they were.
class ELSVGaugeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The gauge font: a normal font plus the two text colours used over the
// filled and the empty part.
struct TLSVGaugeFont {
  QFont Font;
  QColor ColorOnFilled = Qt::white;
  QColor ColorOnBackground = Qt::black;
};

class TLSVGauge : public QWidget {
  Q_OBJECT
 public:
  explicit TLSVGauge(QWidget* parent = nullptr);

  int32_t MinValue() const { return FMinValue; }
  int32_t MaxValue() const { return FMaxValue; }
  int32_t Progress() const { return FProgress; }
  const QString& Text() const { return FText; }
  void SetMinValue(int32_t v);   // throws ELSVGaugeError when v > MaxValue
  void SetMaxValue(int32_t v);   // throws ELSVGaugeError when v < MinValue
  void SetProgress(int32_t v);   // clamped; repaints only when the percentage changes
  void SetText(const QString& text);

  // The textures are owned by the gauge; callers decode skin pictures into
  // them in place. Changing them does not repaint: the next repaint shows them.
  QImage& TextureOnFore() { return FTextureOnFore; }
  QImage& TextureOnBack() { return FTextureOnBack; }

  QColor ForeColor = QColor(0, 0, 128);  // navy
  QColor BackColor = Qt::white;
  TLSVGaugeFont& GaugeFont() { return FFont; }

  // Derived values.
  int Percent() const;                    // p, 0..100
  int FilledWidth() const;                // f = (W + 1) * p div 100
  QString FormattedText() const;          // Text formatted with p

  // The whole gauge composed off-screen, exactly as it is painted.
  QImage Compose() const;
  // Number of repaints the gauge has asked for (changes of p and of the range or text).
  int RepaintRequests() const { return FRepaintRequests; }

  static int PercentOf(int32_t progress, int32_t minValue, int32_t maxValue);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Invalidate();

  int32_t FMinValue = 0;
  int32_t FMaxValue = 100;
  int32_t FProgress = 0;
  QString FText = QStringLiteral("%d%%");
  QImage FTextureOnFore;
  QImage FTextureOnBack;
  TLSVGaugeFont FFont;
  int FRepaintRequests = 0;
};
