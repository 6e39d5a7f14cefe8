// The string grid: cells, hidden columns, rows of mixed height, the current
// row kept visible, and the cell under the pointer.
#include "ui/widgets/uStringGrid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>

TEST(StringGrid, CellsRowsAndHitTesting) {
  TStringGrid g(nullptr, QStringLiteral("g"));
  g.resize(200, 100);
  g.SetColCount(4);
  g.SetDefaultRowHeight(20);
  g.SetColWidth(0, 100);
  g.SetColWidth(1, 18);
  g.SetColWidth(2, 0);  // hidden
  g.SetColWidth(3, 20);
  g.SetRowCount(10);
  g.SetRowHeight(0, 32);
  g.SetCell(2, 3, QStringLiteral("7"));
  EXPECT_EQ(g.Cell(2, 3), QStringLiteral("7"));
  EXPECT_EQ(g.Cell(9, 3), QString());  // out of range reads empty
  g.SetCell(9, 3, QStringLiteral("x"));  // and ignores writes

  int c, r;
  g.MouseToCell(5, 5, c, r);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(r, 0);
  g.MouseToCell(105, 33, c, r);  // below the 32-pixel first row
  EXPECT_EQ(c, 1);
  EXPECT_EQ(r, 1);
  g.MouseToCell(120, 33, c, r);  // past the hidden column: column 3
  EXPECT_EQ(c, 3);
  g.MouseToCell(190, 33, c, r);  // right of every column
  EXPECT_EQ(r, -1);

  // The current row scrolls into view.
  g.SetRow(9);
  EXPECT_EQ(g.Row(), 9);
  const QRect last = g.CellRect(0, 9);
  EXPECT_LE(last.bottom(), g.viewport()->height());
  EXPECT_GE(last.top(), 0);
  g.SetRow(0);
  EXPECT_EQ(g.ScrollOffset(), 0);

  g.SetRowCount(1);
  EXPECT_EQ(g.RowCount(), 1);
  g.ClearRowCells(0);
  EXPECT_EQ(g.Cell(0, 0), QString());
}

// The wheel moves the list by whole rows, whatever their heights: after any
// number of notches the top row starts at the list's top edge.
TEST(StringGrid, WheelScrollsByWholeRows) {
  TStringGrid g(nullptr, QStringLiteral("g"));
  g.resize(200, 300);
  g.SetDefaultRowHeight(20);
  g.SetRowCount(60);
  for (int r = 0; r < 60; r += 4) g.SetRowHeight(r, 32);  // class rows among driver rows
  const auto wheel = [&](int angle) {
    QWheelEvent e(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(g.viewport(), &e);
  };
  const int lines = QApplication::wheelScrollLines();
  wheel(-120);  // one notch down
  EXPECT_EQ(g.TopRow(), lines);
  EXPECT_EQ(g.CellRect(0, g.TopRow()).top(), 0) << "the top row is cut";
  for (int i = 0; i < 5; ++i) wheel(-120);
  EXPECT_EQ(g.CellRect(0, g.TopRow()).top(), 0);
  EXPECT_GT(g.ScrollOffset(), 0);
  wheel(-60);  // half a notch moves nothing yet
  const int top = g.TopRow();
  EXPECT_EQ(g.TopRow(), top);
  wheel(-60);
  EXPECT_GE(g.TopRow(), top);
  EXPECT_EQ(g.CellRect(0, g.TopRow()).top(), 0);
  for (int i = 0; i < 40; ++i) wheel(-120);  // to the end: the last row shows whole
  EXPECT_EQ(g.CellRect(0, g.TopRow()).top(), 0);
  EXPECT_LE(g.CellRect(0, 59).bottom(), g.viewport()->height());
  for (int i = 0; i < 40; ++i) wheel(120);
  EXPECT_EQ(g.ScrollOffset(), 0);
}
