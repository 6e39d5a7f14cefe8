#include "ui/pages/uFrame3.h"

#include "core/uAppState.h"
#include "ui/widgets/uDiagram.h"
#include "ui/pages/uPackageDownload.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/pages/uPageText.h"
#include "ui/widgets/uStringGrid.h"
#include "scan/DeviceHelper.h"
#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

#include <setupapi.h>
#include <windows.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include <cmath>

namespace {

const char* const kLegendPictures[4] = {"BTNLISTDRV_INFO", "BTNLISTDRV_GOOD", "BTNLISTDRV_BAD", "BTNLISTDRV_DOWN"};
const char* const kLegendTexts[4] = {"Information about driver", "Up to date driver", "Out of date driver",
                                     "Download driver update"};

QFont ListFont(int pixelHeight, bool bold) {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(pixelHeight);  // 10 and 8 points on the program's 96-dpi screen
  f.setBold(bold);
  return f;
}

}  // namespace

QImage ClassIconPicture(const std::string& guidStr) {
  std::string digits;
  for (char c : guidStr)
    if (c != '{' && c != '}' && c != '-') digits += c;
  QFile file(QStringLiteral(":/rcdata/") + QString::fromLatin1(digits.c_str()));
  if (file.open(QIODevice::ReadOnly)) {
    QByteArray data = file.readAll();
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "ico");
    const QImage icon = reader.read();
    if (!icon.isNull()) return icon;
  }
  // The platform's own class icon: a handle without a picture here, so nothing is drawn.
  GUID guid{};
  HICON handle = nullptr;
  if (StringToGUID(guidStr, guid)) SetupDiLoadClassIcon(&guid, &handle, nullptr);
  return QImage();
}

TFrame3::TFrame3(TMainForm& main) : TWizardPage(main, 3, QStringLiteral("TFrame3")) {
  sgDrvList = new TStringGrid(this, QStringLiteral("sgDrvList"));
  sgDrvList->setGeometry(8, 16, 454, 300);
  sgDrvList->SetColCount(8);
  sgDrvList->SetDefaultRowHeight(20);
  sgDrvList->DefaultDrawing = false;
  {
    QPalette pal = sgDrvList->palette();
    pal.setColor(QPalette::Base, Qt::white);
    sgDrvList->setPalette(pal);
  }
  sgDrvList->OnDrawCell = [this](int c, int r, const QRect& rect, QPainter& p) { sgDrvListDrawCell(c, r, rect, p); };
  sgDrvList->OnMouseDown = [this](Qt::MouseButton b, int x, int y) {
    RunSkinGuarded([&] { sgDrvListMouseDown(b, x, y); });
  };
  sgDrvList->OnMouseMove = [this](int x, int y) { sgDrvListMouseMove(x, y); };
  sgDrvList->OnKeyDown = [this](int key, Qt::KeyboardModifiers m) { return sgDrvListKeyDown(key, m); };
  sgDrvList->IsSelectableRow = [this](int row) { return IsClassRow(row) || RecordOf(row) > 0; };
  sgDrvList->AccessibleTree = true;
  sgDrvList->OnRowText = [this](int row) { return RowText(row); };
  sgDrvList->setAccessibleName(QStringLiteral("Drivers"));
  sgDrvList->setAccessibleDescription(
      QStringLiteral("Enter shows the selected driver's information; D downloads its newer driver."));

  ImDelimiter1 = new TImage(this, QStringLiteral("ImDelimiter1"));
  ImDelimiter1->setGeometry(469, 16, 3, 293);
  PanDiag = new TDiagramPanel(this, 502, 28);
  ImDelimiter2 = new TImage(this, QStringLiteral("ImDelimiter2"));
  ImDelimiter2->setGeometry(496, 193, 204, 2);
  const QColor text = palette().color(QPalette::WindowText);
  for (int i = 0; i < 4; ++i) {
    const int top = 216 + 22 * i;
    ImLegend[i] = new TImage(this, QStringLiteral("ImLegend%1").arg(i + 1));
    ImLegend[i]->setGeometry(499, top, 16, 16);
    LegendLabel[i] = new TSkinLabel(this, QStringLiteral("LegendLabel%1").arg(i + 1), 521, top + 1,
                                    QStringLiteral("Arial"), 13, text);
    LegendLabel[i]->SetText(QString::fromLatin1(kLegendTexts[i]));
  }
  ImgCheckBox1 = new TImageCheckBox(this, QStringLiteral("ImgCheckBox1"), "CHECKBOXBLUE_NA", "CHECKBOXBLUE_A");
  ImgCheckBox1->setGeometry(32, 336, 18, 18);
  ImgCheckBox1->setCursor(Qt::PointingHandCursor);
  ImgCheckBox1->Tag = 1;  // on when the program starts
  // The click is decided here (only with something to filter), then the list is rebuilt.
  ImgCheckBox1->OnClick = [this] { RunSkinGuarded([this] { ImgCheckBox1Click(); }); };
  CheckBoxLabel = new TSkinLabel(this, QStringLiteral("CheckBoxLabel"), 56, 338, QStringLiteral("Arial"), 13, text);
  CheckBoxLabel->SetText(QStringLiteral("Show out of date drivers only"));
  ImBtnBack = new TImageButton(this, QStringLiteral("ImBtnBack"), "BTNBACK");
  ImBtnBack->setGeometry(596, 328, 92, 32);
  ImBtnBack->OnRelease = [this](Qt::MouseButton) {
    Main().CurrentStep = 1;
    Main().ShowStep(1, true);
  };
}

bool TFrame3::IsClassRow(int row) const { return !sgDrvList->Cell(kColClass, row).isEmpty(); }

bool TFrame3::IsOutOfDateRow(int row) const { return !sgDrvList->Cell(kColNewDate, row).isEmpty(); }

int TFrame3::RecordOf(int row) const {
  bool ok = false;
  const int n = sgDrvList->Cell(kColRecord, row).toInt(&ok);
  return ok ? n : 0;
}

void TFrame3::ClearRow(int row) {
  sgDrvList->ClearRowCells(row);
  sgDrvList->SetRowHeight(row, sgDrvList->DefaultRowHeight());
}

int TFrame3::AppendRow(bool& reuse) {
  if (reuse) {
    reuse = false;
    return 0;
  }
  sgDrvList->SetRowCount(sgDrvList->RowCount() + 1);
  return sgDrvList->RowCount() - 1;
}

void TFrame3::PreparePage() {
  TMainForm& main = Main();
  TKorvaneState& s = main.State;
  LoadJpegResource("CONTENT_DELIM1", ImDelimiter1);
  LoadJpegResource("CONTENT_DELIM2", ImDelimiter2);
  for (int i = 0; i < 4; ++i) LoadJpegResource(kLegendPictures[i], ImLegend[i]);
  PanDiag->LoadLegend();
  ImBtnBack->ShowNormal();
  main.SetStepHeader(3);

  const int scrollBar = sgDrvList->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  sgDrvList->SetColWidth(0, sgDrvList->width() - scrollBar - 56);
  sgDrvList->SetColWidth(1, 18);
  sgDrvList->SetColWidth(2, 18);
  sgDrvList->SetColWidth(3, 20);
  for (int c = 4; c < 8; ++c) sgDrvList->SetColWidth(c, 0);

  // Empty the list; the filter keeps its state unless there is nothing to filter.
  sgDrvList->SetRowCount(1);
  ClearRow(0);
  sgDrvList->SetRow(0);
  if (s.Settings.odDrivers == 0) ImgCheckBox1->SetChecked(false);
  else ImgCheckBox1->SetChecked(ImgCheckBox1->Tag == 1);
  const bool filter = ImgCheckBox1->Tag == 1;

  bool reuse = true;
  for (int i = 1; i <= s.GUIDCount && static_cast<size_t>(i) < s.GUIDList.size(); ++i) {
    const TGUIDRec& g = s.GUIDList[static_cast<size_t>(i)];
    if (filter && !g.HasUpdates) continue;
    const int row = AppendRow(reuse);
    ClearRow(row);
    sgDrvList->SetCell(0, row, AnsiToQ(g.Description));
    sgDrvList->SetCell(kColClass, row, QString::number(i));
    sgDrvList->SetRowHeight(row, kClassRowHeight);
    for (int j = 1; j <= s.DrvCount && static_cast<size_t>(j) < s.DrvList.size(); ++j) {
      const TDrvRec& d = s.DrvList[static_cast<size_t>(j)];
      if (d.ClassGUID != g.GUIDStr) continue;
      if (filter && d.NewDate.empty()) continue;
      const int r = AppendRow(reuse);
      ClearRow(r);
      sgDrvList->SetCell(0, r, AnsiToQ(d.DevName));
      sgDrvList->SetCell(kColRecord, r, QString::number(j));
      sgDrvList->SetCell(kColNewDate, r, AnsiToQ(d.NewDate));
    }
  }
  sgDrvList->SetRow(0);
  main.UpdateDiagram();
}

void TFrame3::DrawMark(const char* name, const QRect& rect, QPainter& p) {
  QImage mark;
  LoadJpegResource(name, mark);
  p.drawImage(rect.left(), rect.top() + 2, mark);
}

void TFrame3::DrawClassRow(int row, const QRect& rect, QPainter& p) {
  if (sgDrvList->RowHeight(row) != kClassRowHeight) sgDrvList->SetRowHeight(row, kClassRowHeight);
  QImage bar;
  LoadJpegResource("DRVLISTGRADIENT", bar);
  p.drawImage(rect.topLeft(), bar);

  const TKorvaneState& s = Main().State;
  const int slot = sgDrvList->Cell(kColClass, row).toInt();
  if (slot >= 1 && static_cast<size_t>(slot) < s.GUIDList.size()) {
    const QImage icon = ClassIconPicture(s.GUIDList[static_cast<size_t>(slot)].GUIDStr);
    if (!icon.isNull()) p.drawImage(rect.left() + 4, rect.top(), icon);
  }

  const QFont f = ListFont(13, true);
  p.setFont(f);
  const QFontMetrics fm(f);
  const QString t = TruncateToColumn(sgDrvList->Cell(0, row), 46, sgDrvList->ColWidth(0),
                                     [&](const QString& x) { return fm.horizontalAdvance(x); });
  const QRect textBox(rect.left() + 46, rect.top() + 7, fm.horizontalAdvance(t), fm.height());
  p.fillRect(textBox, QColor(232, 237, 243));
  p.setPen(Qt::black);
  p.drawText(textBox.left(), textBox.top() + fm.ascent(), t);
}

void TFrame3::DrawDriverName(int row, const QRect& rect, QPainter& p) {
  p.fillRect(rect, Qt::white);
  const bool outOfDate = IsOutOfDateRow(row);
  const QFont f = ListFont(11, outOfDate);
  p.setFont(f);
  p.setPen(outOfDate ? QColor(255, 0, 0) : sgDrvList->palette().color(QPalette::Text));
  const QFontMetrics fm(f);
  const QString t = TruncateToColumn(sgDrvList->Cell(0, row), 30, sgDrvList->ColWidth(0),
                                     [&](const QString& x) { return fm.horizontalAdvance(x); });
  p.drawText(rect.left() + 30, rect.top() + 3 + fm.ascent(), t);

  // Tree connector: to mid-height on the class's last driver row, else through the row.
  const int x = rect.left() + 16;
  const int m = rect.top() + static_cast<int>(std::nearbyint(rect.height() / 2.0));
  const bool last = row + 1 >= sgDrvList->RowCount() || IsClassRow(row + 1);
  p.setPen(QPen(QColor(192, 192, 192), 1));
  p.drawLine(x, rect.top(), x, last ? m : rect.top() + rect.height());
  p.drawLine(x, m, rect.left() + 28, m);
}

void TFrame3::sgDrvListDrawCell(int col, int row, const QRect& rect, QPainter& p) {
  if (IsClassRow(row)) {
    if (col == 0) DrawClassRow(row, rect, p);
    return;
  }
  if (RecordOf(row) == 0) return;  // the emptied list's spare row
  switch (col) {
    case 0: DrawDriverName(row, rect, p); break;
    case 1:
      if (IsOutOfDateRow(row)) DrawMark("BTNLISTDRV_DOWN", rect, p);
      break;
    case 2: DrawMark(IsOutOfDateRow(row) ? "BTNLISTDRV_BAD" : "BTNLISTDRV_GOOD", rect, p); break;
    case 3: DrawMark("BTNLISTDRV_INFO", rect, p); break;
    default: break;
  }
}

void TFrame3::sgDrvListMouseMove(int x, int y) {
  int col, row;
  sgDrvList->MouseToCell(x, y, col, row);
  bool hand = false;
  if (row >= 0 && !IsClassRow(row) && RecordOf(row) > 0)
    hand = col == 3 || (col == 1 && IsOutOfDateRow(row));
  sgDrvList->viewport()->setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TFrame3::sgDrvListMouseDown(Qt::MouseButton, int x, int y) {
  int col, row;
  sgDrvList->MouseToCell(x, y, col, row);
  if (col == 1)
    DownloadDriver(row);
  else if (col == 3)
    OpenDriverInfo(row);
}

QString TFrame3::RowText(int row) const {
  if (IsClassRow(row)) return sgDrvList->Cell(0, row);
  const int rec = RecordOf(row);
  if (rec <= 0) return QString();
  const QString name = sgDrvList->Cell(0, row);
  if (!IsOutOfDateRow(row)) return name + QStringLiteral(", up to date");
  const TDrvRec& d = DrvInfoRecord(Main().State, rec);
  return name + QStringLiteral(", out of date, newer driver: date %1, version %2")
                    .arg(AnsiToQ(d.NewDate), AnsiToQ(d.NewVersion));
}

bool TFrame3::sgDrvListKeyDown(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const int row = sgDrvList->Row();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    RunSkinGuarded([&] { OpenDriverInfo(row); });
    return true;
  }
  if (key == kDownloadKey) {
    RunSkinGuarded([&] { DownloadDriver(row); });
    return true;
  }
  return false;
}

void TFrame3::DownloadDriver(int row) {
  if (row < 0 || IsClassRow(row) || !IsOutOfDateRow(row)) return;
  const int rec = RecordOf(row);
  if (rec <= 0) return;
  const std::string url = DrvInfoRecord(Main().State, rec).NewURL.str();
  if (!url.empty() && Main().Dialogs.Download) Main().Dialogs.Download->DownloadPackage(url);
}

void TFrame3::OpenDriverInfo(int row) {
  if (row < 0 || IsClassRow(row)) return;
  const int rec = RecordOf(row);
  if (rec <= 0) return;
  const TMainDialogs& d = Main().Dialogs;
  if (IsOutOfDateRow(row)) {
    if (d.DrvInfo2) {
      d.DrvInfo2->RecordIndex = rec;
      d.DrvInfo2->ShowModal();
    }
  } else if (d.DrvInfo1) {
    d.DrvInfo1->RecordIndex = rec;
    d.DrvInfo1->ShowModal();
  }
}

void TFrame3::ImgCheckBox1Click() {
  if (Main().State.Settings.odDrivers <= 0) return;
  ImgCheckBox1->SetChecked(ImgCheckBox1->Tag != 1);
  PreparePage();
}
