#include "ui/main/uSaveDialog.h"

#include "ui/widgets/uText.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace {
TSaveDialog::THook& Hook() {
  static TSaveDialog::THook hook;
  return hook;
}
}  // namespace

TSaveDialog::THook TSaveDialog::SetTestHook(THook hook) {
  THook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

namespace {

// The value of XDG_DOWNLOAD_DIR in user-dirs.dirs ("$HOME/Downloads" or an absolute
// path, in double quotes), as xdg-user-dir reads it.
QString UserDirsEntry() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!config.startsWith(QLatin1Char('/'))) config = QDir::homePath() + QStringLiteral("/.config");
  QFile file(config + QStringLiteral("/user-dirs.dirs"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  while (!file.atEnd()) {
    const QString line = QString::fromLocal8Bit(file.readLine()).trimmed();
    if (!line.startsWith(QLatin1String("XDG_DOWNLOAD_DIR="))) continue;
    QString value = line.mid(17);
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
      value = value.mid(1, value.size() - 2);
    if (value.startsWith(QLatin1String("$HOME"))) value = QDir::homePath() + value.mid(5);
    return value;
  }
  return {};
}

}  // namespace

std::string UserDownloadFolder() {
  for (const QString& dir : {qEnvironmentVariable("XDG_DOWNLOAD_DIR"), UserDirsEntry()})
    if (dir.startsWith(QLatin1Char('/')) && QFileInfo(dir).isDir()) return QToAnsi(QDir::cleanPath(dir));
  return QToAnsi(QDir::homePath());
}

bool TSaveDialog::Execute(QWidget* parent) {
  if (Hook()) return Hook()(*this);
  QString start = AnsiToQ(FileName);
  // A full path (the one chosen last) opens where it is.
  if (!InitialDir.empty() && !start.startsWith(QLatin1Char('/'))) start = AnsiToQ(InitialDir) + QLatin1Char('/') + start;
  const QString chosen = QFileDialog::getSaveFileName(parent, AnsiToQ(Title), start, AnsiToQ(Filter));
  if (chosen.isEmpty()) return false;
  FileName = QToAnsi(chosen);
  return true;
}
