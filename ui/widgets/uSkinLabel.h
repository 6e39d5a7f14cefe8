// Labels of the skin: transparent, Arial (or the given family) at a pixel height.
#pragma once

#include <QColor>
#include <QLabel>

#include <functional>

class TSkinLabel : public QLabel {
  Q_OBJECT
 public:
  TSkinLabel(QWidget* parent, const QString& name, int left, int top, const QString& family, int pixelHeight,
             const QColor& colour, bool bold = false);
  // Auto-sized labels take the size of their text; fixed ones keep theirs.
  bool AutoSize = true;
  void SetText(const QString& text);
  void SetFixedBox(int width, int height);  // AutoSize off
  std::function<void()> OnClick;            // link labels: Tab reaches them, Enter or Space follows

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

QFont SkinFont(const QString& family, int pixelHeight, bool bold = false);
