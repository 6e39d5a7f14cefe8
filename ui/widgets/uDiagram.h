// The out-of-date diagram panel (PanDiag) that the start and results pages
// both carry, and the main window's UpdateDiagram that refreshes them.
#pragma once

#include <QWidget>

#include <cstdint>

class TImage;
class TSkinLabel;
class TKorvaneState;

class TDiagramPanel : public QWidget {
  Q_OBJECT
 public:
  TDiagramPanel(QWidget* parent, int left, int top);

  TImage* ImDiag;         // 16, 0, 155 x 92, picture centred
  TImage* ImDiagLegend1;  // "LEGEND_RED"
  TImage* ImDiagLegend2;  // "LEGEND_GREEN"
  TSkinLabel* LegendLabel1;  // "Out of date drivers"
  TSkinLabel* LegendLabel2;  // "Up to date drivers"
  TSkinLabel* Label24;       // " - od (p%)"
  TSkinLabel* Label25;       // " - ud (100-p%)"

  // The legend squares (GIF pictures).
  void LoadLegend();
  // Shows the counts: the picture "DIAGIMG" + p and the two count labels.
  void ShowCounts(int percent, int32_t odDrivers, int32_t udDrivers);
};

// UpdateDiagram: with tDrivers <= 0 both panels are hidden; otherwise both are
// shown with the picture and counts of the stored figures. Either panel may be null.
void UpdateDiagrams(const TKorvaneState& state, TDiagramPanel* start, TDiagramPanel* results);
