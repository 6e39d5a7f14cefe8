#include "ui/pages/uWizardPage.h"

#include "ui/main/MainUnit.h"
#include "ui/widgets/uKeyboard.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinForm.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

// ---- TWizardPage -------------------------------------------------------------------

TWizardPage::TWizardPage(TMainForm& main, int step, const QString& name)
    : QWidget(main.Panel1), FMain(main), FStep(step) {
  setObjectName(name);
  setGeometry(13, 145, 723, 371);
  ImBgFrame = new TImage(this, QStringLiteral("ImBgFrame"));
  ImBgFrame->setGeometry(0, 0, 723, 371);
  ImBgFrame->lower();
  // The page's controls come before the window's header buttons in the Tab order.
  MarkFocusGroupFirst(this);
  hide();
}

void TWizardPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // After the page that had the focus is hidden (the steps change in one go).
  QPointer<TWizardPage> self(this);
  QTimer::singleShot(0, this, [self] {
    if (!self || !self->isVisible()) return;
    QWidget* focus = QApplication::focusWidget();
    if (focus && self->isAncestorOf(focus) && focus->isVisible()) return;
    if (focus && focus->window() != self->window()) return;  // a dialog has it
    if (QWidget* first = FirstTabControl(self)) first->setFocus(Qt::OtherFocusReason);
  });
}

void TWizardPage::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    for (TImageButton* b : findChildren<TImageButton*>(QStringLiteral("ImBtnCancel")))
      if (b->isVisible() && b->isEnabled()) {
        event->accept();
        b->SimulateClick();
        return;
      }
  }
  QWidget::keyPressEvent(event);
}

void TWizardPage::PreparePage() { FMain.SetStepHeader(FStep); }

