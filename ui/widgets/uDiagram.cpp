#include "ui/widgets/uDiagram.h"

#include "core/uAppState.h"
#include "ui/pages/uPageText.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"

#include <QPainter>
#include <QFontMetrics>
#include <QPalette>

#include <algorithm>
#include <string>

TDiagramPanel::TDiagramPanel(QWidget* parent, int left, int top) : QWidget(parent) {
  setObjectName(QStringLiteral("PanDiag"));
  setGeometry(left, top, 198, 145);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);

  const QColor text = palette().color(QPalette::WindowText);
  ImDiag = new TImage(this, QStringLiteral("ImDiag"));
  ImDiag->setGeometry(16, 0, 155, 92);
  ImDiagLegend1 = new TImage(this, QStringLiteral("ImDiagLegend1"));
  ImDiagLegend1->setGeometry(0, 107, 10, 10);
  ImDiagLegend2 = new TImage(this, QStringLiteral("ImDiagLegend2"));
  ImDiagLegend2->setGeometry(0, 128, 10, 10);
  LegendLabel1 = new TSkinLabel(this, QStringLiteral("LegendLabel1"), 16, 104, QStringLiteral("Arial"), 13, text);
  LegendLabel1->SetText(QStringLiteral("Out of date drivers"));
  LegendLabel2 = new TSkinLabel(this, QStringLiteral("LegendLabel2"), 16, 125, QStringLiteral("Arial"), 13, text);
  LegendLabel2->SetText(QStringLiteral("Up to date drivers"));
  Label24 = new TSkinLabel(this, QStringLiteral("Label24"), 123, 104, QStringLiteral("Arial"), 13, text);
  Label25 = new TSkinLabel(this, QStringLiteral("Label25"), 123, 125, QStringLiteral("Arial"), 13, text);
}

void TDiagramPanel::LoadLegend() {
  LoadGifResource("LEGEND_RED", ImDiagLegend1);
  LoadGifResource("LEGEND_GREEN", ImDiagLegend2);
}

void TDiagramPanel::ShowCounts(int percent, int32_t odDrivers, int32_t udDrivers) {
  // The pie is centred in its box.
  QImage pie;
  LoadGifResource("DIAGIMG" + std::to_string(percent), pie);
  QImage box(155, 92, QImage::Format_RGB32);
  box.fill(Qt::white);
  {
    QPainter p(&box);
    p.drawImage((box.width() - pie.width()) / 2, (box.height() - pie.height()) / 2, pie);
  }
  ImDiag->SetPicture(box);
  const QString od = QStringLiteral(" - %1 (%2%)").arg(odDrivers).arg(percent);
  const QString ud = QStringLiteral(" - %1 (%2%)").arg(udDrivers).arg(100 - percent);
  // Counts of four and five digits still fit beside the legend: both labels
  // step down together (13 to 11 pixels), as the start page's date does.
  const int room = width() - Label24->x();
  int px = 13;
  for (; px > 11; --px) {
    const QFontMetrics fm(SkinFont(QStringLiteral("Arial"), px));
    if (std::max(fm.horizontalAdvance(od), fm.horizontalAdvance(ud)) <= room) break;
  }
  for (TSkinLabel* l : {Label24, Label25}) l->setFont(SkinFont(QStringLiteral("Arial"), px));
  Label24->SetText(od);
  Label25->SetText(ud);
  // A screen reader reads each legend line whole, and the pie by its figures.
  const QString odLine = LegendLabel1->text() + od, udLine = LegendLabel2->text() + ud;
  LegendLabel1->setAccessibleName(odLine);
  LegendLabel2->setAccessibleName(udLine);
  ImDiag->setAccessibleName(odLine + QStringLiteral(", ") + udLine);
}

void UpdateDiagrams(const TKorvaneState& state, TDiagramPanel* start, TDiagramPanel* results) {
  const int32_t t = state.Settings.tDrivers;
  if (t <= 0) {
    if (results) results->hide();
    if (start) start->hide();
    return;
  }
  if (results) results->show();
  if (start) start->show();
  const int p = DiagramPercent(t, state.Settings.udDrivers);
  for (TDiagramPanel* panel : {results, start})
    if (panel) panel->ShowCounts(p, state.Settings.odDrivers, state.Settings.udDrivers);
}
