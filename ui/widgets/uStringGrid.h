// TStringGrid: a small grid of text cells for the scan and results lists. The
// owner paints the cells (OnDrawCell) and reads the hidden columns; the grid
// keeps the cells, column widths, row heights, the current cell and a
// pixel-scrolled vertical bar (no horizontal one, no grid lines, no focus
// rectangle).
#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include <functional>
#include <vector>

class QPainter;

class TStringGrid : public QAbstractScrollArea {
  Q_OBJECT
 public:
  TStringGrid(QWidget* parent, const QString& name);

  int ColCount() const { return static_cast<int>(FColWidths.size()); }
  void SetColCount(int count);
  int RowCount() const { return static_cast<int>(FRows.size()); }
  void SetRowCount(int count);  // new rows are empty and of the default height

  int ColWidth(int col) const;
  void SetColWidth(int col, int width);
  int DefaultRowHeight() const { return FDefaultRowHeight; }
  void SetDefaultRowHeight(int height);  // applies to every row
  int RowHeight(int row) const;
  void SetRowHeight(int row, int height);

  // Cells out of range read as empty and ignore writes.
  QString Cell(int col, int row) const;
  void SetCell(int col, int row, const QString& text);
  void ClearRowCells(int row);

  // The current cell. Setting the row scrolls it into view.
  int Row() const { return FRow; }
  int Col() const { return FCol; }
  void SetRow(int row);
  int TopRow() const;     // first row at least partly visible
  int ScrollOffset() const;

  // Cell geometry in viewport coordinates; MouseToCell gives -1 outside cells.
  QRect CellRect(int col, int row) const;
  void MouseToCell(int x, int y, int& col, int& row) const;

  // Default drawing paints the base colour and the cell's text before OnDrawCell.
  bool DefaultDrawing = true;
  int Tag = 0;
  std::function<void(int col, int row, const QRect& rect, QPainter& painter)> OnDrawCell;
  std::function<void(Qt::MouseButton button, int x, int y)> OnMouseDown;
  std::function<void(int x, int y)> OnMouseMove;

  // The keyboard: Up, Down, Page Up, Page Down, Home and End move the current row
  // (then OnRowChanged runs); any other key goes to OnKeyDown first, which returns
  // true when it used the key. While the list has the focus and the keyboard is in
  // use the current row is drawn selected.
  std::function<void(int row)> OnRowChanged;
  std::function<bool(int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;
  // Rows that the keyboard passes over (the emptied list's spare row).
  std::function<bool(int row)> IsSelectableRow;

  // What a screen reader reads: the grid as a list (or, with AccessibleTree, a tree)
  // of rows, each named by OnRowText (by default its non-empty visible cells).
  bool AccessibleTree = false;
  std::function<QString(int row)> OnRowText;
  QString RowText(int row) const;
  int AccessibleRowCount() const;  // 0 for the emptied list's spare row alone

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  struct TRow {
    std::vector<QString> Cells;
    int Height = 0;
  };
  int RowTop(int row) const;  // content coordinates
  int ContentHeight() const;
  void Relayout();

  std::vector<int> FColWidths;
  std::vector<TRow> FRows;
  mutable std::vector<int> FTops;  // prefix sums of the row heights
  mutable bool FTopsValid = false;
  int FDefaultRowHeight = 24;
  int FRow = 0;
  int FCol = 0;
  int FWheelAngle = 0;  // wheel turn not yet worth a notch
};
