#include "ui/widgets/uSkinControls.h"

#include "ui/widgets/uAccessible.h"
#include "ui/widgets/uKeyboard.h"
#include "ui/widgets/uSkin.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <cstdlib>

TImage::TImage(QWidget* parent, const QString& name) : QWidget(parent) {
  setObjectName(name);
  setFocusPolicy(Qt::NoFocus);
}

void TImage::SetPicture(const QImage& picture) {
  FPicture = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
  update();
}

void TImage::paintEvent(QPaintEvent*) {
  if (FPicture.isNull()) return;
  QPainter p(this);
  PaintPicture(p, FPicture);
}

void TImage::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TImage::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void TImage::PaintPicture(QPainter& p, const QImage& picture) {
  if (picture.isNull()) return;
  if (!Transparent) {
    p.drawImage(0, 0, picture);
    return;
  }
  // The bottom-left pixel names the transparent colour; JPEG noise is
  // forgiven by a small tolerance.
  const QRgb key = picture.pixel(0, picture.height() - 1);
  QImage masked = picture.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < masked.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
    for (int x = 0; x < masked.width(); ++x) {
      const QRgb c = line[x];
      if (std::abs(qRed(c) - qRed(key)) <= 12 && std::abs(qGreen(c) - qGreen(key)) <= 12 &&
          std::abs(qBlue(c) - qBlue(key)) <= 12)
        line[x] = 0;
    }
  }
  p.drawImage(0, 0, masked);
}

void TImage::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter();
}

void TImage::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave();
}

void TImage::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FLeftPressed = true;
  if (OnMouseDown) OnMouseDown(event->button());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
  // As the classic controls do: the click comes first, then the release.
  const bool click = event->button() == Qt::LeftButton && FLeftPressed && rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) FLeftPressed = false;
  QPointer<TImage> self(this);
  if (click && OnClick) OnClick();
  if (self && OnMouseUp) OnMouseUp(event->button());
}

// ---- TImageButton ---------------------------------------------------------------

TImageButton::TImageButton(QWidget* parent, const QString& name, const std::string& baseName, bool roundCorners)
    : TImage(parent, name), FBaseName(baseName), FRoundCorners(roundCorners) {
  setCursor(Qt::ArrowCursor);
  // Tab reaches it; a click does not take the focus, so the pointer works as before.
  setFocusPolicy(Qt::TabFocus);
  InstallKeyboardWatch();
  InstallSkinAccessibility();
  setAccessibleName(NameOfPicture(baseName));
  // A dialog's close button sits in the corner: the chrome, after the dialog's controls.
  if (roundCorners) MarkChrome(this);
  OnMouseEnter = [this] { ShowHover(); };
  OnMouseLeave = [this] { ShowNormal(); };
  OnMouseDown = [this](Qt::MouseButton) { ShowPressed(); };
  OnMouseUp = [this](Qt::MouseButton b) {
    if (NormalOnRelease) ShowNormal();
    if (OnRelease) RunSkinGuarded([&] { OnRelease(b); });
  };
  OnClick = [this] {
    if (OnButtonClick) RunSkinGuarded([&] { OnButtonClick(); });
  };
}

void TImageButton::Show(const std::string& suffix) {
  RunSkinGuarded([&] {
    QImage img;
    LoadJpegResource(FBaseName + suffix, img);
    if (FRoundCorners) RoundCloseButtonCorners(img);
    SetPicture(img);
    FState = suffix;
  });
}

void TImageButton::ShowNormal() { Show("_NA"); }
void TImageButton::ShowHover() { Show("_A"); }
void TImageButton::ShowPressed() { Show("_DN"); }

void TImageButton::SimulateClick() {
  QPointer<TImageButton> self(this);
  if (OnMouseDown) OnMouseDown(Qt::LeftButton);
  if (self && OnClick) OnClick();
  if (self && OnMouseUp) OnMouseUp(Qt::LeftButton);
}

QString TImageButton::NameOfPicture(const std::string& baseName) {
  static const struct {
    const char* base;
    const char* name;
  } kNames[] = {
      {"BTNSCANNOW", "Scan Now"},  {"BTNSETTINGS", "Settings"},
      {"BTNHELP", "Help"},         {"BTNABOUT", "About"},
      {"BTNBACK", "Back"},         {"BTNOK", "OK"},
      {"BTNCANCEL", "Cancel"},     {"BTNINSTALLNOW", "Install Now"},
      {"BTNDOWNLOAD", "Download"}, {"BTNCLOSE", "Close"},
      {"BTNMIN", "Minimize"},      {"BTNABORT", "Abort"},
  };
  for (const auto& n : kNames)
    if (baseName == n.base) return QString::fromLatin1(n.name);
  return QString::fromLatin1(baseName.c_str());
}

void TImageButton::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  if ((!enter && key != Qt::Key_Space) || (enter && EnterCancels(window()))) {
    TImage::keyPressEvent(event);
    return;
  }
  event->accept();
  if (event->isAutoRepeat()) return;
  if (key == Qt::Key_Space) {
    FSpacePressed = true;
    if (OnMouseDown) OnMouseDown(Qt::LeftButton);
  } else {
    SimulateClick();
  }
}

void TImageButton::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space || event->isAutoRepeat() || !FSpacePressed) {
    TImage::keyReleaseEvent(event);
    return;
  }
  event->accept();
  FSpacePressed = false;
  QPointer<TImageButton> self(this);
  if (OnClick) OnClick();
  if (self && OnMouseUp) OnMouseUp(Qt::LeftButton);
}

void TImageButton::paintEvent(QPaintEvent* event) {
  // The focus mark is the button's hover picture, shown while it rests in its
  // normal state; the pictures the pointer brings are left as they are.
  if (!ShowsFocusMark(this) || FState != "_NA") {
    TImage::paintEvent(event);
    return;
  }
  QImage hover;
  try {
    LoadJpegResource(FBaseName + "_A", hover);
    if (FRoundCorners) RoundCloseButtonCorners(hover);
  } catch (const ESkinError&) {
    hover = QImage();
  }
  QPainter p(this);
  if (hover.isNull()) {
    PaintPicture(p, Picture());
    DrawFocusFrame(p, rect());
  } else {
    PaintPicture(p, hover.convertToFormat(QImage::Format_RGB32));
  }
}

// ---- TImageCheckBox ---------------------------------------------------------------

TImageCheckBox::TImageCheckBox(QWidget* parent, const QString& name, const std::string& offName,
                               const std::string& onName)
    : TImage(parent, name), FOff(offName), FOn(onName) {
  setFocusPolicy(Qt::TabFocus);
  InstallKeyboardWatch();
  InstallSkinAccessibility();
  OnClick = [this] {
    if (CanToggle && !CanToggle()) return;
    Toggle();
    if (OnToggled) OnToggled();
  };
}

void TImageCheckBox::SetChecked(bool on) {
  Tag = on ? 1 : 0;
  RunSkinGuarded([&] { LoadJpegResource(on ? FOn : FOff, this); });
}

void TImageCheckBox::Toggle() { SetChecked(Tag != 1); }

void TImageCheckBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space) {
    TImage::keyPressEvent(event);
    return;
  }
  event->accept();
  if (!event->isAutoRepeat() && OnClick) OnClick();
}

void TImageCheckBox::paintEvent(QPaintEvent* event) {
  TImage::paintEvent(event);
  if (!ShowsFocusMark(this)) return;
  QPainter p(this);
  DrawFocusFrame(p, rect());
}
