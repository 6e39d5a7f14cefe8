#include "ui/widgets/uStringGrid.h"

#include "ui/widgets/uAccessible.h"
#include "ui/widgets/uKeyboard.h"

#include <QAccessible>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

TStringGrid::TStringGrid(QWidget* parent, const QString& name) : QAbstractScrollArea(parent) {
  setObjectName(name);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  InstallKeyboardWatch();
  InstallSkinAccessibility();
  viewport()->setMouseTracking(true);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->setSingleStep(FDefaultRowHeight);
  SetColCount(5);
  SetRowCount(1);
}

void TStringGrid::SetColCount(int count) {
  count = std::max(count, 1);
  FColWidths.resize(static_cast<size_t>(count), 64);
  for (TRow& r : FRows) r.Cells.resize(static_cast<size_t>(count));
  viewport()->update();
}

void TStringGrid::SetRowCount(int count) {
  count = std::max(count, 1);
  FRows.resize(static_cast<size_t>(count));
  for (TRow& r : FRows) {
    r.Cells.resize(FColWidths.size());
    if (r.Height <= 0) r.Height = FDefaultRowHeight;
  }
  FRow = std::min(FRow, count - 1);
  Relayout();
  NotifyAccessible(this, QAccessible::ObjectReorder);
}

QString TStringGrid::RowText(int row) const {
  if (OnRowText) return OnRowText(row);
  QStringList cells;
  for (int c = 0; c < ColCount(); ++c)
    if (ColWidth(c) > 0 && !Cell(c, row).isEmpty()) cells << Cell(c, row);
  return cells.join(QStringLiteral(", "));
}

int TStringGrid::AccessibleRowCount() const {
  if (RowCount() == 1 && IsSelectableRow && !IsSelectableRow(0)) return 0;
  return RowCount();
}

int TStringGrid::ColWidth(int col) const {
  return col >= 0 && col < ColCount() ? FColWidths[static_cast<size_t>(col)] : 0;
}

void TStringGrid::SetColWidth(int col, int width) {
  if (col < 0 || col >= ColCount()) return;
  FColWidths[static_cast<size_t>(col)] = std::max(width, 0);
  viewport()->update();
}

void TStringGrid::SetDefaultRowHeight(int height) {
  FDefaultRowHeight = std::max(height, 1);
  for (TRow& r : FRows) r.Height = FDefaultRowHeight;
  verticalScrollBar()->setSingleStep(FDefaultRowHeight);
  Relayout();
}

int TStringGrid::RowHeight(int row) const {
  return row >= 0 && row < RowCount() ? FRows[static_cast<size_t>(row)].Height : 0;
}

void TStringGrid::SetRowHeight(int row, int height) {
  if (row < 0 || row >= RowCount()) return;
  TRow& r = FRows[static_cast<size_t>(row)];
  if (r.Height == height) return;
  r.Height = std::max(height, 0);
  Relayout();
}

QString TStringGrid::Cell(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) return QString();
  return FRows[static_cast<size_t>(row)].Cells[static_cast<size_t>(col)];
}

void TStringGrid::SetCell(int col, int row, const QString& text) {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) return;
  FRows[static_cast<size_t>(row)].Cells[static_cast<size_t>(col)] = text;
  viewport()->update();
}

void TStringGrid::ClearRowCells(int row) {
  for (int c = 0; c < ColCount(); ++c) SetCell(c, row, QString());
}

void TStringGrid::SetRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  FRow = row;
  // Scroll just enough to show the whole row.
  const int top = RowTop(row);
  const int bottom = top + RowHeight(row);
  QScrollBar* bar = verticalScrollBar();
  const int h = viewport()->height();
  if (top < bar->value())
    bar->setValue(top);
  else if (bottom > bar->value() + h) {
    // Scroll by whole rows: the first visible row is never cut.
    int first = row;
    while (first > 0 && bottom - RowTop(first - 1) <= h) --first;
    bar->setValue(RowTop(first));
  }
  viewport()->update();
}

int TStringGrid::ScrollOffset() const { return verticalScrollBar()->value(); }

int TStringGrid::TopRow() const {
  const int off = ScrollOffset();
  for (int r = 0; r < RowCount(); ++r)
    if (RowTop(r) + RowHeight(r) > off) return r;
  return 0;
}

int TStringGrid::RowTop(int row) const {
  if (!FTopsValid) {
    FTops.assign(FRows.size() + 1, 0);
    for (size_t i = 0; i < FRows.size(); ++i) FTops[i + 1] = FTops[i] + FRows[i].Height;
    FTopsValid = true;
  }
  row = std::clamp(row, 0, RowCount());
  return FTops[static_cast<size_t>(row)];
}

int TStringGrid::ContentHeight() const { return RowTop(RowCount()); }

void TStringGrid::Relayout() {
  FTopsValid = false;
  QScrollBar* bar = verticalScrollBar();
  const int h = viewport()->height();
  bar->setPageStep(std::max(h, 1));
  // The last page starts at a row's top, so scrolling to the end never cuts a row.
  int last = 0;
  while (last < RowCount() && ContentHeight() - RowTop(last) > h) ++last;
  bar->setRange(0, RowTop(last));
  viewport()->update();
}

QRect TStringGrid::CellRect(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) return QRect();
  int left = 0;
  for (int c = 0; c < col; ++c) left += FColWidths[static_cast<size_t>(c)];
  return QRect(left, RowTop(row) - ScrollOffset(), ColWidth(col), RowHeight(row));
}

void TStringGrid::MouseToCell(int x, int y, int& col, int& row) const {
  col = -1;
  row = -1;
  if (x < 0 || y < 0) return;
  int left = 0;
  for (int c = 0; c < ColCount(); ++c) {
    const int w = FColWidths[static_cast<size_t>(c)];
    if (w > 0 && x >= left && x < left + w) {
      col = c;
      break;
    }
    left += w;
  }
  const int cy = y + ScrollOffset();
  for (int r = 0; r < RowCount(); ++r) {
    const int top = RowTop(r);
    if (cy >= top && cy < top + RowHeight(r)) {
      row = r;
      break;
    }
  }
  if (col < 0 || row < 0) col = row = -1;
}

void TStringGrid::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  const int off = ScrollOffset();
  const int h = viewport()->height();
  for (int r = TopRow(); r < RowCount(); ++r) {
    const int top = RowTop(r) - off;
    if (top >= h) break;
    int left = 0;
    for (int c = 0; c < ColCount(); ++c) {
      const int w = FColWidths[static_cast<size_t>(c)];
      const QRect rect(left, top, w, RowHeight(r));
      left += w;
      if (w <= 0 || rect.height() <= 0) continue;
      p.save();
      p.setClipRect(rect);
      if (DefaultDrawing) {
        p.fillRect(rect, palette().color(QPalette::Base));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, Cell(c, r));
      }
      if (OnDrawCell) OnDrawCell(c, r, rect, p);
      p.restore();
    }
  }
  // The keyboard's row: tinted as the desktop tints a row under the pointer, framed
  // by the skin's dotted focus frame.
  if (ShowsFocusMark(this) && FRow >= 0 && FRow < RowCount()) {
    int width = 0;
    for (int w : FColWidths) width += w;
    const QRect row(0, RowTop(FRow) - off, std::min(width, viewport()->width()), RowHeight(FRow));
    p.fillRect(row, QColor(51, 153, 255, 48));
    DrawFocusFrame(p, row);
  }
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
  const auto selectable = [this](int r) { return !IsSelectableRow || IsSelectableRow(r); };
  // The nearest selectable row from `from` in direction `step` (from itself first).
  const auto nearest = [&](int from, int step) {
    for (int r = from; r >= 0 && r < RowCount(); r += step)
      if (selectable(r)) return r;
    return -1;
  };
  const int h = std::max(viewport()->height(), 1);
  int target = -1;
  switch (event->key()) {
    case Qt::Key_Up:
      target = nearest(FRow - 1, -1);
      break;
    case Qt::Key_Down:
      target = nearest(FRow + 1, 1);
      break;
    case Qt::Key_Home:
      target = nearest(0, 1);
      break;
    case Qt::Key_End:
      target = nearest(RowCount() - 1, -1);
      break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      // A page: the rows that fit in the view, counted from the current one.
      const bool down = event->key() == Qt::Key_PageDown;
      int r = FRow, covered = 0;
      while (true) {
        const int n = r + (down ? 1 : -1);
        if (n < 0 || n >= RowCount() || covered + RowHeight(n) > h) break;
        covered += RowHeight(n);
        r = n;
      }
      if (r == FRow) r = std::clamp(FRow + (down ? 1 : -1), 0, RowCount() - 1);
      target = nearest(r, down ? 1 : -1);
      if (target < 0) target = nearest(r, down ? -1 : 1);
      break;
    }
    default:
      if (OnKeyDown && OnKeyDown(event->key(), event->modifiers())) {
        event->accept();
        return;
      }
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
  if (target < 0 || target == FRow) {
    viewport()->update();
    return;
  }
  SetRow(target);
  if (QAccessible::isActive()) {
    // The row a screen reader should read now.
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(target);
    QAccessible::updateAccessibility(&focus);
    QAccessibleEvent selection(this, QAccessible::Selection);
    selection.setChild(target);
    QAccessible::updateAccessibility(&selection);
  }
  if (OnRowChanged) OnRowChanged(target);
}

void TStringGrid::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  // Coming by keyboard onto a spare row: the first row that can be chosen.
  if (IsSelectableRow && !IsSelectableRow(FRow))
    for (int r = 0; r < RowCount(); ++r)
      if (IsSelectableRow(r)) {
        FRow = r;
        break;
      }
  viewport()->update();
}

void TStringGrid::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void TStringGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Relayout();
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  int c, r;
  MouseToCell(pos.x(), pos.y(), c, r);
  if (r >= 0) {
    FRow = r;
    FCol = c;
    viewport()->update();
  }
  if (OnMouseDown) OnMouseDown(event->button(), pos.x(), pos.y());
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(pos.x(), pos.y());
}

void TStringGrid::scrollContentsBy(int, int) { viewport()->update(); }

void TStringGrid::wheelEvent(QWheelEvent* event) {
  // The wheel moves the list by whole rows (rows differ in height), so the top
  // row is never cut: each notch moves the top by the desktop's wheel lines.
  FWheelAngle += event->angleDelta().y();
  const int notches = FWheelAngle / 120;
  FWheelAngle -= notches * 120;
  event->accept();
  if (notches == 0) return;
  QScrollBar* bar = verticalScrollBar();
  const int top = std::clamp(TopRow() - notches * QApplication::wheelScrollLines(), 0, RowCount() - 1);
  bar->setValue(std::min(RowTop(top), bar->maximum()));
}
