#include "support/QtWait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

namespace korvane::testing {

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(20);
  }
  return true;
}

QWidget* TopLevelOfClass(const char* className, bool visibleOnly) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qstrcmp(w->metaObject()->className(), className) == 0 && (!visibleOnly || w->isVisible())) return w;
  return nullptr;
}

}  // namespace korvane::testing
