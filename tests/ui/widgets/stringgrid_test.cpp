// The string grid: cells, hidden columns, rows of mixed height, the current
// row kept visible, and the cell under the pointer.
#include "ui/widgets/uStringGrid.h"

#include <gtest/gtest.h>

#include <QScrollBar>

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
