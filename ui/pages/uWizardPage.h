// A wizard page of the main window (slots 1 to 4). The main window places it,
// runs its PreparePage when a step is entered with preparation, and copies
// the white page background into its ImBgFrame.
#pragma once

#include <QWidget>

class TImage;
class TMainForm;

class TWizardPage : public QWidget {
  Q_OBJECT
 public:
  // step: the slot the page fills (1..4). The page is a child of the main
  // window's Panel1, hidden until its step is shown.
  TWizardPage(TMainForm& main, int step, const QString& name);

  // The page's one preparation. The placeholder sets only the step's header
  // texts and Settings button; real pages do that (SetStepHeader) and fill
  // themselves.
  virtual void PreparePage();

  TMainForm& Main() const { return FMain; }
  int Step() const { return FStep; }
  TImage* ImBgFrame;  // whole page, 0, 0, 723, 371

 protected:
  // The keyboard moves onto the page's first control when the page is shown.
  void showEvent(QShowEvent* event) override;
  // Esc is the page's Cancel button where it has one (the settings page).
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TMainForm& FMain;
  int FStep;
};
