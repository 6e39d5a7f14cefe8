#include "ui/widgets/uSkinForm.h"

#include "ui/widgets/uSkin.h"

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

void TSkinForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    SetModalResult(mrCancel);
    return;
  }
  QDialog::keyPressEvent(event);
}

void TSkinForm::closeEvent(QCloseEvent* event) {
  // Closing through the system (taskbar, Alt+F4) answers Cancel.
  if (FModalResult == mrNone) FModalResult = mrCancel;
  QDialog::closeEvent(event);
}
