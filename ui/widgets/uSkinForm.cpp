#include "ui/widgets/uSkinForm.h"

#include "ui/widgets/uKeyboard.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace {
TSkinForm::TModalHook& GlobalHook() {
  static TSkinForm::TModalHook hook;
  return hook;
}
}  // namespace

TSkinForm::TSkinForm(const QString& name, int clientWidth, int clientHeight, bool plainBorderless)
    : QDialog(nullptr) {
  setObjectName(name);
  Qt::WindowFlags flags = Qt::Dialog | Qt::FramelessWindowHint;
  if (!plainBorderless) flags |= Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint;
  setWindowFlags(flags);
  setWindowTitle(QStringLiteral("Korvane"));
  setWindowIcon(ProgramIcon());  // what task bars and Alt-Tab show
  setFixedSize(clientWidth, clientHeight);
  setModal(true);
}

TSkinForm::TModalHook TSkinForm::SetGlobalModalHook(TModalHook hook) {
  TModalHook previous = std::move(GlobalHook());
  GlobalHook() = std::move(hook);
  return previous;
}

void TSkinForm::SetModalResult(int result) {
  FModalResult = result;
  if (FInModalRun && isVisible()) done(result);
}

int TSkinForm::ShowModal() {
  if (FInModalRun) return mrCancel;  // already up: a second run of the same dialog cannot nest
  FModalResult = mrNone;
  FInModalRun = true;
  CentreOnScreen(this);
  FormShow();
  TModalHook hook = ModalHook ? ModalHook : GlobalHook();
  if (hook) {
    FModalResult = hook(*this);
  } else if (FModalResult == mrNone) {
    const int r = exec();
    if (FModalResult == mrNone) FModalResult = r == QDialog::Accepted ? mrOk : (r == 0 ? mrCancel : r);
  }
  FInModalRun = false;
  FormClose();
  return FModalResult;
}

TImageButton* EscapeButton(QWidget* window) {
  // Cancel where the window shows one, else its Close button.
  for (const char* name : {"ImBtnCancel", "ImBtnClose"})
    for (TImageButton* b : window->findChildren<TImageButton*>(QString::fromLatin1(name)))
      if (b->isVisibleTo(window) && b->isEnabled()) return b;
  return nullptr;
}

void TSkinForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    // Esc is the Cancel or Close button, through its own handler (which may do more
    // than end the modal run, as the download dialog's Cancel does).
    event->accept();
    if (TImageButton* b = EscapeButton(this))
      b->SimulateClick();
    else
      SetModalResult(mrCancel);
    return;
  }
  // Enter belongs to the focused button; without one it does not end the dialog.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TSkinForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The keyboard starts on the dialog's first control.
  const std::vector<QWidget*> chain = TabChain(this);
  if (!chain.empty() && !(focusWidget() && isAncestorOf(focusWidget()) && focusWidget()->isVisible()))
    chain.front()->setFocus(Qt::ActiveWindowFocusReason);
}

void TSkinForm::closeEvent(QCloseEvent* event) {
  // Closing through the system (taskbar, Alt+F4) answers Cancel.
  if (FModalResult == mrNone) FModalResult = mrCancel;
  QDialog::closeEvent(event);
}
