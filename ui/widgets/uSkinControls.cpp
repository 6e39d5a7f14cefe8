#include "ui/widgets/uSkinControls.h"

#include "ui/widgets/uSkin.h"

#include <QEnterEvent>
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
  if (!Transparent) {
    p.drawImage(0, 0, FPicture);
    return;
  }
  // The bottom-left pixel names the transparent colour; JPEG noise is
  // forgiven by a small tolerance.
  const QRgb key = FPicture.pixel(0, FPicture.height() - 1);
  QImage masked = FPicture.convertToFormat(QImage::Format_ARGB32);
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

// ---- TImageCheckBox ---------------------------------------------------------------

TImageCheckBox::TImageCheckBox(QWidget* parent, const QString& name, const std::string& offName,
                               const std::string& onName)
    : TImage(parent, name), FOff(offName), FOn(onName) {
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
