// A tray for widget tests: records what the main window asks of the
// notification area and lets the test play the user's clicks and a tray that
// comes and goes. The state outlives the backend (the icon deletes it).
#pragma once

#include "ui/main/uTray.h"

#include <QIcon>
#include <QMenu>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

struct FakeTrayState {
  struct Balloon {
    QString title, text;
    int kind = 0, msecs = 0;
  };
  bool available = true;
  bool visible = false;
  bool alive = false;
  int visibleCalls = 0;  // SetVisible(true) calls: each adds the icon
  QIcon icon;
  QString tip;
  QMenu* menu = nullptr;
  std::vector<Balloon> balloons;
  std::function<void()> balloonClick, doubleClick;
};

class FakeTrayBackend : public ITrayBackend {
 public:
  explicit FakeTrayBackend(std::shared_ptr<FakeTrayState> s) : s_(std::move(s)) {
    s_->alive = true;
    s_->balloonClick = [this] {
      if (OnBalloonClick) OnBalloonClick();
    };
    s_->doubleClick = [this] {
      if (OnDoubleClick) OnDoubleClick();
    };
  }
  ~FakeTrayBackend() override {
    s_->alive = false;
    s_->balloonClick = nullptr;
    s_->doubleClick = nullptr;
  }
  bool Available() const override { return s_->available; }
  void SetIcon(const QIcon& icon) override { s_->icon = icon; }
  void SetToolTip(const QString& tip) override { s_->tip = tip; }
  void SetMenu(QMenu* menu) override { s_->menu = menu; }
  void SetVisible(bool visible) override {
    s_->visible = visible;
    if (visible) ++s_->visibleCalls;
  }
  void ShowMessage(const QString& title, const QString& text, int kind, int msecs) override {
    s_->balloons.push_back({title, text, kind, msecs});
  }

 private:
  std::shared_ptr<FakeTrayState> s_;
};

// Installs the fake for every main window created while it lives; the
// factory before it comes back at its end.
class ScopedFakeTray {
 public:
  ScopedFakeTray() : state(std::make_shared<FakeTrayState>()), seam_(FactoryFor(state)) {}
  std::shared_ptr<FakeTrayState> state;

 private:
  static TTrayBackendFactory FactoryFor(std::shared_ptr<FakeTrayState> s) {
    return [s](QObject*) { return std::make_unique<FakeTrayBackend>(s); };
  }
  TScopedTrayBackend seam_;
};
