#include "ui/widgets/uKeyboard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <algorithm>

namespace {

const char* const kGroupFirst = "korvaneFocusGroupFirst";
const char* const kChrome = "korvaneChrome";

bool g_keyboardInUse = false;

void RepaintFocusWidget() {
  if (QWidget* w = QApplication::focusWidget()) {
    w->update();
    // Scroll areas paint in their viewport.
    for (QWidget* child : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) child->update();
  }
}

class TKeyboardWatch : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress: {
        SetKeyboardInUse(true);
        auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && watched->isWidgetType()) {
          QWidget* window = static_cast<QWidget*>(watched)->window();
          const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
          if (window && MoveFocusInReadingOrder(window, !back)) return true;
        }
        break;
      }
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
        SetKeyboardInUse(false);
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }
};

bool InFirstGroup(const QWidget* w, const QWidget* window) {
  if (w->property(kChrome).toBool()) return false;
  for (const QWidget* p = w; p && p != window; p = p->parentWidget())
    if (p->property(kGroupFirst).toBool()) return true;
  return false;
}

bool WindowHasGroups(const QWidget* window) {
  for (const QWidget* c : window->findChildren<QWidget*>())
    if (c->property(kGroupFirst).toBool()) return true;
  return false;
}

// Reading order: lines from top to bottom (a control whose top lies above the
// bottom of a line's first control joins that line), each line left to right.
void SortInReadingOrder(std::vector<QWidget*>& controls) {
  struct TItem {
    QWidget* w;
    QRect r;
  };
  std::vector<TItem> items;
  for (QWidget* w : controls) items.push_back({w, QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size())});
  std::stable_sort(items.begin(), items.end(),
                   [](const TItem& a, const TItem& b) { return a.r.top() < b.r.top(); });
  controls.clear();
  std::size_t i = 0;
  while (i < items.size()) {
    const int lineBottom = items[i].r.bottom();
    std::size_t j = i + 1;
    while (j < items.size() && items[j].r.top() <= lineBottom) ++j;
    std::stable_sort(items.begin() + static_cast<std::ptrdiff_t>(i),
                     items.begin() + static_cast<std::ptrdiff_t>(j),
                     [](const TItem& a, const TItem& b) { return a.r.left() < b.r.left(); });
    for (std::size_t k = i; k < j; ++k) controls.push_back(items[k].w);
    i = j;
  }
}

}  // namespace

void InstallKeyboardWatch() {
  static QPointer<TKeyboardWatch> watch;
  if (watch || !qApp) return;
  watch = new TKeyboardWatch(qApp);
  qApp->installEventFilter(watch);
}

bool KeyboardInUse() { return g_keyboardInUse; }

void SetKeyboardInUse(bool inUse) {
  if (g_keyboardInUse == inUse) return;
  g_keyboardInUse = inUse;
  RepaintFocusWidget();
}

bool ShowsFocusMark(const QWidget* w) { return g_keyboardInUse && w && w->hasFocus(); }

void DrawFocusFrame(QPainter& painter, const QRect& rect) {
  painter.save();
  QPen pen(QColor(64, 64, 64), 1, Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
  painter.restore();
}

void MarkFocusGroupFirst(QWidget* container) { container->setProperty(kGroupFirst, true); }
void MarkChrome(QWidget* control) { control->setProperty(kChrome, true); }
void MarkEnterCancels(QWidget* window) { window->setProperty("korvaneEnterCancels", true); }
bool EnterCancels(const QWidget* window) {
  return window && window->property("korvaneEnterCancels").toBool();
}

std::vector<QWidget*> TabChain(QWidget* window) {
  std::vector<QWidget*> first, chrome;
  const bool groups = WindowHasGroups(window);
  for (QWidget* c : window->findChildren<QWidget*>()) {
    if (!(c->focusPolicy() & Qt::TabFocus) || !c->isVisibleTo(window) || !c->isEnabled()) continue;
    if (c->focusProxy()) continue;
    const bool isFirst = groups ? InFirstGroup(c, window) : !c->property(kChrome).toBool();
    (isFirst ? first : chrome).push_back(c);
  }
  SortInReadingOrder(first);
  SortInReadingOrder(chrome);
  first.insert(first.end(), chrome.begin(), chrome.end());
  return first;
}

QWidget* FirstTabControl(QWidget* container) {
  for (QWidget* w : TabChain(container->window()))
    if (container->isAncestorOf(w)) return w;
  return nullptr;
}

bool MoveFocusInReadingOrder(QWidget* window, bool next) {
  const std::vector<QWidget*> chain = TabChain(window);
  if (chain.empty()) return false;
  QWidget* focus = QApplication::focusWidget();
  auto at = std::find(chain.begin(), chain.end(), focus);
  std::size_t index = 0;
  if (at == chain.end()) {
    index = next ? 0 : chain.size() - 1;
  } else {
    const std::size_t i = static_cast<std::size_t>(at - chain.begin());
    index = next ? (i + 1) % chain.size() : (i + chain.size() - 1) % chain.size();
  }
  chain[index]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  return true;
}
