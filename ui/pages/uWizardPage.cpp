#include "ui/pages/uWizardPage.h"

#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkinControls.h"

// ---- TWizardPage -------------------------------------------------------------------

TWizardPage::TWizardPage(TMainForm& main, int step, const QString& name)
    : QWidget(main.Panel1), FMain(main), FStep(step) {
  setObjectName(name);
  setGeometry(13, 145, 723, 371);
  ImBgFrame = new TImage(this, QStringLiteral("ImBgFrame"));
  ImBgFrame->setGeometry(0, 0, 723, 371);
  ImBgFrame->lower();
  hide();
}

void TWizardPage::PreparePage() { FMain.SetStepHeader(FStep); }

