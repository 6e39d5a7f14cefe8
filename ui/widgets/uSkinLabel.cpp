#include "ui/widgets/uSkinLabel.h"

#include "ui/widgets/uAccessible.h"
#include "ui/widgets/uKeyboard.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

QFont SkinFont(const QString& family, int pixelHeight, bool bold) {
  QFont f(family);
  f.setPixelSize(pixelHeight);
  f.setBold(bold);
  // The windows are not scaled: fixed pixel sizes, no hinting surprises.
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

TSkinLabel::TSkinLabel(QWidget* parent, const QString& name, int left, int top, const QString& family,
                       int pixelHeight, const QColor& colour, bool bold)
    : QLabel(parent) {
  setObjectName(name);
  setFont(SkinFont(family, pixelHeight, bold));
  setTextFormat(Qt::PlainText);
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, colour);
  setPalette(pal);
  setContentsMargins(0, 0, 0, 0);
  setIndent(0);
  setMargin(0);
  move(left, top);
}

void TSkinLabel::SetText(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  setText(t);
  if (AutoSize) {
    if (wordWrap())
      resize(width(), heightForWidth(width()));
    else
      resize(sizeHint());
  }
}

void TSkinLabel::SetFixedBox(int width, int height) {
  AutoSize = false;
  resize(width, height);
}

void TSkinLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && OnClick && rect().contains(event->position().toPoint())) OnClick();
  QLabel::mouseReleaseEvent(event);
}

void TSkinLabel::showEvent(QShowEvent* event) {
  // A link is a control: the keyboard reaches it (a click still takes no focus).
  if (OnClick && focusPolicy() == Qt::NoFocus) {
    setFocusPolicy(Qt::TabFocus);
    InstallKeyboardWatch();
    InstallSkinAccessibility();
  }
  QLabel::showEvent(event);
}

void TSkinLabel::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (OnClick && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
    event->accept();
    if (!event->isAutoRepeat()) OnClick();
    return;
  }
  QLabel::keyPressEvent(event);
}

void TSkinLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!ShowsFocusMark(this)) return;
  QPainter p(this);
  DrawFocusFrame(p, rect());
}
