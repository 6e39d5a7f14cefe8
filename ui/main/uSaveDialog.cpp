#include "ui/main/uSaveDialog.h"

#include "ui/widgets/uText.h"

#include <QFileDialog>

namespace {
TSaveDialog::THook& Hook() {
  static TSaveDialog::THook hook;
  return hook;
}
}  // namespace

void TSaveDialog::SetTestHook(THook hook) { Hook() = std::move(hook); }

bool TSaveDialog::Execute(QWidget* parent) {
  if (Hook()) return Hook()(*this);
  QString start = AnsiToQ(FileName);
  if (!InitialDir.empty()) start = AnsiToQ(InitialDir) + QLatin1Char('/') + start;
  const QString chosen = QFileDialog::getSaveFileName(parent, AnsiToQ(Title), start, AnsiToQ(Filter));
  if (chosen.isEmpty()) return false;
  FileName = QToAnsi(chosen);
  return true;
}
