// The user-interface queue of the program: work handed to the UI thread runs
// from the Qt event loop.
#pragma once

#include "core/uThread.h"

#include <QObject>

class TQtUiQueue : public IUiQueue {
 public:
  TQtUiQueue();  // the constructing thread is the UI thread (the QApplication's)
  ~TQtUiQueue() override;
  void Post(std::function<void()> fn) override;
  bool IsUiThread() const override;

 private:
  QObject* FTarget;  // lives on the UI thread; queued calls run in its context
};
