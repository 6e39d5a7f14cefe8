// The picture controls of the skin: a plain image, the image button and the
// image check box.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <string>

// A picture control: paints Picture unscaled at its top-left corner.
// Transparent pictures leave out the pixels of their bottom-left pixel's
// colour, so the window background shows through.
class TImage : public QWidget {
  Q_OBJECT
 public:
  explicit TImage(QWidget* parent = nullptr, const QString& name = QString());

  const QImage& Picture() const { return FPicture; }
  QImage& PictureRef() { return FPicture; }  // decode in place, then call update()
  void SetPicture(const QImage& picture);
  bool Transparent = false;
  int Tag = 0;

  // The five handlers of an image button (any of them may be empty).
  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;
  std::function<void(Qt::MouseButton)> OnMouseDown;
  std::function<void(Qt::MouseButton)> OnMouseUp;
  std::function<void()> OnClick;  // left button pressed and released over the control

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Paints a picture as the control paints its own (transparency included).
  void PaintPicture(QPainter& painter, const QImage& picture);
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage FPicture;
  bool FLeftPressed = false;
};

// An image button: three JPEG pictures BASE_NA (normal), BASE_A (hover) and
// BASE_DN (pressed). Enter, leave and press swap them; every load is guarded
// (a missing picture is shown as an error and stops that handler).
class TImageButton : public TImage {
  Q_OBJECT
 public:
  // roundCorners: the dialogs' 41 x 15 close buttons get RoundCloseButtonCorners after each load.
  TImageButton(QWidget* parent, const QString& name, const std::string& baseName, bool roundCorners = false);

  const std::string& BaseName() const { return FBaseName; }
  // The picture last loaded: "_NA", "_A" or "_DN" (for tests and the minimise button's rule).
  const std::string& State() const { return FState; }
  void ShowNormal();   // loads BASE_NA
  void ShowHover();    // loads BASE_A
  void ShowPressed();  // loads BASE_DN

  // When true (the default) a release shows the normal picture again before OnRelease runs.
  bool NormalOnRelease = true;
  std::function<void(Qt::MouseButton)> OnRelease;  // the button's release action
  std::function<void()> OnButtonClick;             // the button's click action

  // Performs a click as the pointer would: press, release and click with the left button.
  void SimulateClick();

  // What a screen reader calls the button ("Scan Now"): its picture's words.
  static QString NameOfPicture(const std::string& baseName);

 protected:
  // Enter activates at once; Space shows the pressed picture and activates on its
  // release, as the pointer's press and release do (the same handlers run).
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Show(const std::string& suffix);
  std::string FBaseName;
  std::string FState;
  bool FRoundCorners;
  bool FSpacePressed = false;
};

// An image check box: Tag 1 on, 0 off; the on and off pictures are JPEG resources.
class TImageCheckBox : public TImage {
  Q_OBJECT
 public:
  TImageCheckBox(QWidget* parent, const QString& name, const std::string& offName, const std::string& onName);
  bool Checked() const { return Tag == 1; }
  void SetChecked(bool on);  // sets Tag and loads the matching picture
  void Toggle();             // Tag := 1 - Tag
  // Decides whether a click toggles (for example only while there is something to filter).
  std::function<bool()> CanToggle;
  std::function<void()> OnToggled;  // after a click has toggled

 protected:
  // Space toggles as a click does.
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string FOff, FOn;
};
