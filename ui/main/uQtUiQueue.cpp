#include "ui/main/uQtUiQueue.h"

#include <QCoreApplication>
#include <QThread>

TQtUiQueue::TQtUiQueue() : FTarget(new QObject) {}

TQtUiQueue::~TQtUiQueue() { delete FTarget; }

void TQtUiQueue::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(FTarget, [f = std::move(fn)] { f(); }, Qt::QueuedConnection);
}

bool TQtUiQueue::IsUiThread() const { return QThread::currentThread() == FTarget->thread(); }
