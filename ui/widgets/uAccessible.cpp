#include "ui/widgets/uAccessible.h"

#include "ui/widgets/cm_LSVGauges.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uStringGrid.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QPointer>

#include <map>

namespace {

// The text of the label that names a control: on its line just right of it (check
// boxes), or just above it (gauges).
QString NearbyLabelText(const QWidget* w, bool rightOf) {
  const QWidget* parent = w->parentWidget();
  if (!parent) return QString();
  const QRect g = w->geometry();
  const QLabel* best = nullptr;
  int bestDistance = 1 << 30;
  for (const QLabel* l : parent->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!l->isVisibleTo(parent) || l->text().trimmed().isEmpty()) continue;
    const QRect r = l->geometry();
    int distance = 0;
    if (rightOf) {
      const int mid = r.center().y();
      if (r.left() < g.right() || mid < g.top() - 4 || mid > g.bottom() + 4) continue;
      distance = r.left() - g.right();
    } else {
      if (r.bottom() > g.top() || g.top() - r.bottom() > 30) continue;
      distance = g.top() - r.bottom() + std::abs(r.left() - g.left());
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = l;
    }
  }
  return best ? best->text() : QString();
}

class TAccessibleImageButton : public QAccessibleWidget {
 public:
  explicit TAccessibleImageButton(TImageButton* w) : QAccessibleWidget(w, QAccessible::Button) {}
  QStringList actionNames() const override {
    return QStringList(pressAction()) + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      if (auto* b = qobject_cast<TImageButton*>(widget())) b->SimulateClick();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

class TAccessibleCheckBox : public QAccessibleWidget {
 public:
  explicit TAccessibleCheckBox(TImageCheckBox* w) : QAccessibleWidget(w, QAccessible::CheckBox) {}
  QString text(QAccessible::Text t) const override {
    QString s = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && s.isEmpty()) s = NearbyLabelText(widget(), true);
    return s;
  }
  QAccessible::State state() const override {
    QAccessible::State st = QAccessibleWidget::state();
    st.checkable = true;
    if (auto* c = qobject_cast<TImageCheckBox*>(widget())) st.checked = c->Checked();
    return st;
  }
  QStringList actionNames() const override {
    return QStringList(toggleAction()) + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == toggleAction() || action == pressAction()) {
      if (auto* c = qobject_cast<TImageCheckBox*>(widget()); c && c->OnClick) c->OnClick();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

class TAccessibleGauge : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit TAccessibleGauge(TLSVGauge* w) : QAccessibleWidget(w, QAccessible::ProgressBar) {}
  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }
  QString text(QAccessible::Text t) const override {
    QString s = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && s.isEmpty()) s = NearbyLabelText(widget(), false);
    if (t == QAccessible::Value) s = QStringLiteral("%1%").arg(Gauge()->Percent());
    return s;
  }
  QVariant currentValue() const override { return Gauge()->Progress(); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return Gauge()->MaxValue(); }
  QVariant minimumValue() const override { return Gauge()->MinValue(); }
  QVariant minimumStepSize() const override { return 1; }

 private:
  TLSVGauge* Gauge() const { return static_cast<TLSVGauge*>(widget()); }
};

class TAccessibleLink : public QAccessibleWidget {
 public:
  explicit TAccessibleLink(TSkinLabel* w) : QAccessibleWidget(w, QAccessible::Link) {}
  QString text(QAccessible::Text t) const override {
    QString s = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && s.isEmpty()) s = static_cast<QLabel*>(widget())->text();
    return s;
  }
  QStringList actionNames() const override {
    return QStringList(pressAction()) + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      if (auto* l = qobject_cast<TSkinLabel*>(widget()); l && l->OnClick) l->OnClick();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

class TAccessibleGrid;

// One row of a string grid: a list or tree item named by the grid's RowText.
class TAccessibleGridRow : public QAccessibleInterface {
 public:
  TAccessibleGridRow(TStringGrid* grid, int row) : FGrid(grid), FRow(row) {}
  bool isValid() const override { return FGrid && FRow < FGrid->RowCount(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return FGrid ? FGrid->window()->windowHandle() : nullptr; }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(FGrid.data());
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QString text(QAccessible::Text t) const override {
    if (!isValid()) return QString();
    if (t == QAccessible::Name) return FGrid->RowText(FRow);
    return QString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid()) return QRect();
    QRect r = FGrid->CellRect(0, FRow);
    int width = 0;
    for (int c = 0; c < FGrid->ColCount(); ++c) width += FGrid->ColWidth(c);
    r.setWidth(width);
    return QRect(FGrid->viewport()->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override {
    return FGrid && FGrid->AccessibleTree ? QAccessible::TreeItem : QAccessible::ListItem;
  }
  QAccessible::State state() const override {
    QAccessible::State st;
    if (!isValid()) {
      st.invalid = true;
      return st;
    }
    st.selectable = true;
    st.focusable = true;
    st.selected = FGrid->Row() == FRow;
    st.focused = st.selected && FGrid->hasFocus();
    const QRect r = FGrid->CellRect(0, FRow);
    st.offscreen = r.bottom() < 0 || r.top() >= FGrid->viewport()->height() || r.height() <= 0;
    st.invisible = r.height() <= 0;
    return st;
  }
  int Row() const { return FRow; }

 private:
  QPointer<TStringGrid> FGrid;
  int FRow;
};

class TAccessibleGrid : public QAccessibleWidget {
 public:
  explicit TAccessibleGrid(TStringGrid* w)
      : QAccessibleWidget(w, w->AccessibleTree ? QAccessible::Tree : QAccessible::List) {}
  ~TAccessibleGrid() override {
    for (const auto& [row, id] : FRows) QAccessible::deleteAccessibleInterface(id);
  }
  int childCount() const override { return Grid()->AccessibleRowCount(); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    auto it = FRows.find(index);
    if (it != FRows.end()) return QAccessible::accessibleInterface(it->second);
    auto* row = new TAccessibleGridRow(Grid(), index);
    FRows[index] = QAccessible::registerAccessibleInterface(row);
    return row;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (const auto& [row, id] : FRows)
      if (QAccessible::accessibleInterface(id) == child) return row < childCount() ? row : -1;
    return -1;
  }
  QAccessibleInterface* focusChild() const override {
    return Grid()->hasFocus() && Grid()->Row() < childCount() ? child(Grid()->Row()) : nullptr;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    const QPoint p = Grid()->viewport()->mapFromGlobal(QPoint(x, y));
    int c = -1, r = -1;
    Grid()->MouseToCell(p.x(), p.y(), c, r);
    return r >= 0 && r < childCount() ? child(r) : nullptr;
  }

 private:
  TStringGrid* Grid() const { return static_cast<TStringGrid*>(widget()); }
  mutable std::map<int, QAccessible::Id> FRows;
};

QAccessibleInterface* SkinAccessibleFactory(const QString& className, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  if (className == QLatin1String("TImageButton"))
    return new TAccessibleImageButton(static_cast<TImageButton*>(object));
  if (className == QLatin1String("TImageCheckBox"))
    return new TAccessibleCheckBox(static_cast<TImageCheckBox*>(object));
  if (className == QLatin1String("TLSVGauge")) return new TAccessibleGauge(static_cast<TLSVGauge*>(object));
  if (className == QLatin1String("TStringGrid"))
    return new TAccessibleGrid(static_cast<TStringGrid*>(object));
  if (className == QLatin1String("TSkinLabel") && static_cast<TSkinLabel*>(object)->OnClick)
    return new TAccessibleLink(static_cast<TSkinLabel*>(object));
  if (className == QLatin1String("TImage") && !static_cast<QWidget*>(object)->accessibleName().isEmpty())
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
  return nullptr;
}

}  // namespace

void InstallSkinAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(SkinAccessibleFactory);
}

void NotifyAccessible(QWidget* w, QAccessible::Event kind) {
  if (!w || !QAccessible::isActive()) return;
  QAccessibleEvent event(w, kind);
  QAccessible::updateAccessibility(&event);
}
