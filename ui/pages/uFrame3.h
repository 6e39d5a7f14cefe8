// TFrame3: the results page (wizard step 3). A two-level list of the scan's
// classes and drivers with status, download and information marks, the marks'
// legend, the out-of-date diagram, the filter check box and Back.
// Every list row refers back to the catalogue and the driver list by slot.
#pragma once

#include "ui/pages/uWizardPage.h"

#include <QString>

class QPainter;
class TDiagramPanel;
class TImage;
class TImageButton;
class TImageCheckBox;
class TSkinLabel;
class TStringGrid;

class TFrame3 : public TWizardPage {
  Q_OBJECT
 public:
  explicit TFrame3(TMainForm& main);

  void PreparePage() override;
  void ClearRow(int row);

  // Hidden columns: 4 class slot, 5 record slot, 6 the record's NewDate.
  static constexpr int kColClass = 4;
  static constexpr int kColRecord = 5;
  static constexpr int kColNewDate = 6;
  static constexpr int kClassRowHeight = 32;
  bool IsClassRow(int row) const;
  bool IsOutOfDateRow(int row) const;
  int RecordOf(int row) const;  // DrvList slot of a driver row, 0 otherwise

  void sgDrvListDrawCell(int col, int row, const QRect& rect, QPainter& painter);
  void sgDrvListMouseDown(Qt::MouseButton button, int x, int y);
  void sgDrvListMouseMove(int x, int y);
  // The list's keys besides the row moves: Enter opens the selected driver's
  // information dialog, kDownloadKey downloads its newer driver (when it has one).
  bool sgDrvListKeyDown(int key, Qt::KeyboardModifiers modifiers);
  static constexpr int kDownloadKey = Qt::Key_D;
  // What a click on a row's marks does: the download mark, the information mark.
  void DownloadDriver(int row);
  void OpenDriverInfo(int row);
  // A row as a screen reader reads it: the class, or the driver's name with
  // "up to date" or "out of date" and the newer driver's date and version.
  QString RowText(int row) const;
  void ImgCheckBox1Click();

  TStringGrid* sgDrvList;
  TImage* ImDelimiter1;
  TDiagramPanel* PanDiag;
  TImage* ImDelimiter2;
  TImage* ImLegend[4];
  TSkinLabel* LegendLabel[4];
  TImageCheckBox* ImgCheckBox1;
  TSkinLabel* CheckBoxLabel;
  TImageButton* ImBtnBack;

 private:
  void DrawClassRow(int row, const QRect& rect, QPainter& p);
  void DrawDriverName(int row, const QRect& rect, QPainter& p);
  void DrawMark(const char* name, const QRect& rect, QPainter& p);
  int AppendRow(bool& reuse);
};

// The picture of a class row: the class's own icon resource when there is one,
// else the platform's class icon (which on this platform carries no picture).
QImage ClassIconPicture(const std::string& guidStr);
