// The skinned dialog window: no frame (but system menu and minimise box, so
// the taskbar keeps its commands), centred on the screen, reused for every
// modal run. A modal run ends with a modal result: 1 OK, 2 Cancel.
#pragma once

#include "core/uScopedSeam.h"

#include <QDialog>

#include <functional>

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;

class TSkinForm : public QDialog {
  Q_OBJECT
 public:
  // frameless: the splash is simply borderless (no system menu or minimise box).
  TSkinForm(const QString& name, int clientWidth, int clientHeight, bool plainBorderless = false);

  // Shows the dialog modally and returns its modal result. The form's show
  // and close steps run around the modal run.
  int ShowModal();
  // Sets the modal result, which ends a running modal run.
  void SetModalResult(int result);
  int ModalResult() const { return FModalResult; }
  bool InModalRun() const { return FInModalRun; }
  int Tag = 0;

  // Test hook: when set, a modal run does not show the window; the hook runs
  // in its place (after the show steps, before the close steps) and returns
  // the modal result. The global hook applies to every skinned dialog whose
  // own hook is empty.
  using TModalHook = std::function<int(TSkinForm&)>;
  TModalHook ModalHook;
  // Returns the hook it replaced; tests set it through TScopedModalHook.
  static TModalHook SetGlobalModalHook(TModalHook hook);

 protected:
  virtual void FormShow() {}
  virtual void FormClose() {}
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  int FModalResult = mrNone;
  bool FInModalRun = false;
};

class TImageButton;
// The button Esc presses in a window: its visible Cancel, else its visible Close button.
TImageButton* EscapeButton(QWidget* window);

// The global modal hook for one scope (tests).
using TScopedModalHook = TScopedSeam<TSkinForm::TModalHook, &TSkinForm::SetGlobalModalHook>;
