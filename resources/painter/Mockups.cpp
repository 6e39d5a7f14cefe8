// Review aid: composes the windows from the painted pictures at the places
// the windows show them, with sample texts, so the whole look can be judged.
#include <QImage>
#include <QPainter>

#include "resources/painter/Catalogue.h"
#include "resources/painter/Style.h"

namespace art {

namespace {

class Composer {
 public:
  Composer(const Catalogue& c, QImage& target) : c_(c), p_(&target) {
    p_.setRenderHint(QPainter::TextAntialiasing);
  }
  void Pic(const char* name, int x, int y) {
    const Picture* pic = c_.Find(QString::fromLatin1(name));
    if (!pic) return;
    QImage decoded;
    decoded.loadFromData(Encode(*pic));
    p_.drawImage(QPoint(ox_ + x, oy_ + y), decoded);
  }
  void Label(int x, int y, const QString& text, double px, bool bold = false, QColor colour = QColor(0, 0, 0), int w = 600,
             int h = 0) {
    const QFont f = Sans(px, bold);
    if (h == 0) h = static_cast<int>(px * 1.3);
    Text(p_, QRectF(ox_ + x, oy_ + y, w, h), text, f, colour, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap);
  }
  void Origin(int x, int y) { ox_ = x; oy_ = y; }
  QPainter& P() { return p_; }

 private:
  const Catalogue& c_;
  QPainter p_;
  int ox_ = 0, oy_ = 0;
};

const QColor kTitle(38, 123, 191);
const QColor kDark(55, 55, 55);

void MainFrame(Composer& m, int step, const QString& title, const QString& subtitle) {
  m.Origin(0, 0);
  m.Pic("BGMAIN", 0, 0);
  if (step >= 1 && step <= 3) m.Pic(step == 1 ? "ICOSTEP1HEAD" : step == 2 ? "ICOSTEP2HEAD" : "ICOSTEP3HEAD", 0, 0);
  m.Pic("BTNCLOSE_NA", 694, 0);
  m.Pic("BTNMIN_NA", 671, 0);
  m.Label(44, 79, title, 21, false, Qt::white);
  m.Label(44, 109, subtitle, 15, false, Qt::white, 638, 17);
  m.Pic(step == 2 ? "BTNSETTINGS_GRAY" : "BTNSETTINGS_NA", 37, 521);
  m.Pic("BTNHELP_NA", 121, 521);
  m.Pic("BTNABOUT_A", 187, 521);
  m.Pic("BGWHITE", 13, 145);
  m.Origin(13, 145);
}

void Diagram(Composer& m, int x, int y) {
  m.Pic("DIAGIMG30", x + 16, y + 0);
  m.Pic("LEGEND_RED", x + 0, y + 107);
  m.Label(x + 16, y + 104, QStringLiteral("Out of date drivers"), 13);
  m.Label(x + 123, y + 104, QStringLiteral(" - 3 (30%)"), 13);
  m.Pic("LEGEND_GREEN", x + 0, y + 128);
  m.Label(x + 16, y + 125, QStringLiteral("Up to date drivers"), 13);
  m.Label(x + 123, y + 125, QStringLiteral(" - 7 (70%)"), 13);
}

QImage Page1(const Catalogue& c, bool scanned) {
  QImage img(750, 550, QImage::Format_RGB32);
  Composer m(c, img);
  MainFrame(m, 1, QStringLiteral("Getting start"),
            QStringLiteral("Start checking your drivers for updates from this step. Click \"Scan Now\" to continue."));
  m.Pic("ICOSYSINFO", 22, 24);
  m.Label(85, 57, QStringLiteral("System information"), 16, true, kTitle);
  const char* caps[] = {"Computer name:", "RAM total:", "RAM free:", "Memory used:", "Virtual memory total:", "Virtual memory free:"};
  const int capX[] = {136, 95, 92, 119, 164, 161};
  const char* vals[] = {"OFFICE-PC", "1024 Mb", "412 Mb", "59%", "2461 Mb", "1890 Mb"};
  m.Label(24, 88, QStringLiteral("OS Name:"), 13, true);
  m.Label(96, 88, QStringLiteral("Microsoft Windows XP Professional\nService Pack 2 32-bit"), 13, false, Qt::black, 258, 37);
  m.Label(24, 132, QStringLiteral("Processor:"), 13, true);
  m.Label(96, 132, QStringLiteral("Intel(R) Core(TM)2 CPU 6400\n@ 2.13GHz, 2 cores"), 13, false, Qt::black, 258, 37);
  for (int i = 0; i < 6; ++i) {
    m.Label(24, 175 + 22 * i, QString::fromLatin1(caps[i]), 13, true);
    m.Label(capX[i], 175 + 22 * i, QString::fromLatin1(vals[i]), 13);
  }
  m.Pic("CONTENT_DELIM1", 360, 16);
  if (scanned) {
    m.Pic("ICOLASTCHECK", 382, 24);
    m.Label(446, 57, QStringLiteral("Scan summary"), 16, true, kTitle);
    m.Label(382, 88, QStringLiteral("Last scan date:"), 13, true);
    m.Label(483, 88, QStringLiteral("Monday, July 23, 2007, 04:19 pm"), 13, false, Qt::black, 219, 15);
    m.Label(382, 110, QStringLiteral("Last scan result:"), 13, true);
    Diagram(m, 452, 151);
  } else {
    m.Pic("ICOWARNING", 382, 24);
    m.Label(446, 57, QStringLiteral("Your drivers are out of date!"), 16, true, kTitle);
    m.Pic("OUT_OF_DATE", 381, 90);
  }
  m.Pic("BTNSCANNOW_NA", 471, 328);
  m.Pic("ICODOWNTOOL", 14, 329);
  m.Label(57, 329, QStringLiteral(" We also recommend you to try our Sweepline.\n This will increase PC Stability and Performance."), 11,
          false, Qt::black, 274, 28);
  m.Label(292, 343, QStringLiteral("Install Now"), 11, true, QColor(87, 151, 203));
  return img;
}

QImage Page2(const Catalogue& c) {
  QImage img(750, 550, QImage::Format_RGB32);
  Composer m(c, img);
  MainFrame(m, 2, QStringLiteral("Scanning of your system"),
            QStringLiteral("Scanning of your system in progress. It takes 1-2 minutes. Please wait..."));
  m.Pic("ANIMSCAN_PIC3", 8, 9);
  m.Label(142, 25, QStringLiteral("Scan Progress"), 16, false, kTitle);
  m.Label(142, 50, QStringLiteral("Current section:"), 13, false, kTitle);
  m.Label(238, 50, QStringLiteral("Network adapters"), 13, false, Qt::black, 467, 17);
  m.Pic("BGSCANGRID", 34, 95);
  m.Label(55, 102, QStringLiteral("Section"), 13, false, kTitle);
  m.Label(558, 102, QStringLiteral("Drivers found"), 13, false, kTitle);
  const char* rows[] = {"Disk drives", "Display adapters", "Keyboards", "Network adapters"};
  for (int i = 0; i < 4; ++i) {
    m.Label(55, 124 + 18 * i + 4, QString::fromLatin1(rows[i]), 13, false, Qt::black, 460, 13);
    m.Label(55 + 540, 124 + 18 * i + 4, QString::number(i + 1), 13, false, Qt::black, 80, 13);
  }
  m.Label(39, 225, QStringLiteral("Network adapters driver scanning in progress"), 13, false, kTitle);
  m.Pic("PROG_BG", 32, 242);
  {
    const Picture* g = c.Find(QStringLiteral("PROG_GREEN"));
    QImage fill;
    fill.loadFromData(Encode(*g));
    m.P().drawImage(QPoint(13 + 32, 145 + 242), fill.copy(0, 0, 438, 21));
  }
  m.Label(39, 270, QStringLiteral("All sections scanning progress"), 13, false, kTitle);
  m.Pic("PROG_BG", 32, 287);
  {
    const Picture* g = c.Find(QStringLiteral("PROG_YELLOW"));
    QImage fill;
    fill.loadFromData(Encode(*g));
    m.P().drawImage(QPoint(13 + 32, 145 + 287), fill.copy(0, 0, 276, 21));
  }
  return img;
}

QImage Page3(const Catalogue& c) {
  QImage img(750, 550, QImage::Format_RGB32);
  Composer m(c, img);
  MainFrame(m, 3, QStringLiteral("Scanning of your system is completed"), QStringLiteral("Now you can update out of date drivers..."));
  struct Row { bool cls; const char* text; const char* icon; bool bad; };
  const Row rows[] = {{true, "Display adapters", "4D36E968E32511CEBFC108002BE10318", false},
                      {false, "NVIDIA GeForce 7600 GS", nullptr, true},
                      {true, "Network adapters", "4D36E972E32511CEBFC108002BE10318", false},
                      {false, "Intel(R) PRO/1000 MT Network Connection", nullptr, false},
                      {false, "Realtek RTL8139 Family PCI Fast Ethernet", nullptr, true},
                      {true, "Sound, video and game controllers", "4D36E96CE32511CEBFC108002BE10318", false},
                      {false, "Realtek High Definition Audio", nullptr, false},
                      {true, "Universal Serial Bus controllers", "36FC9E60C46511CF8056444553540000", false},
                      {false, "Standard Enhanced PCI to USB Host Controller", nullptr, false}};
  int y = 16;
  const int col0 = 454 - 17 - 56;
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& r = rows[i];
    if (r.cls) {
      m.Pic("DRVLISTGRADIENT", 8, y);
      m.Pic(r.icon, 8 + 4, y);
      QPainter& p = m.P();
      p.setFont(Sans(13, true));
      const QRectF box(13 + 8 + 46, 145 + y + 7, p.fontMetrics().horizontalAdvance(QString::fromLatin1(r.text)), 16);
      p.fillRect(box, colour::kClassRow);
      m.Label(8 + 46, y + 7, QString::fromLatin1(r.text), 13, true, Qt::black, 330, 16);
      y += 32;
    } else {
      const bool last = i + 1 == std::size(rows) || rows[i + 1].cls;
      QPainter& p = m.P();
      p.setPen(QColor(192, 192, 192));
      p.drawLine(13 + 8 + 16, 145 + y, 13 + 8 + 16, 145 + y + (last ? 10 : 20));
      p.drawLine(13 + 8 + 16, 145 + y + 10, 13 + 8 + 28, 145 + y + 10);
      m.Label(8 + 30, y + 3, QString::fromLatin1(r.text), 11, r.bad, r.bad ? QColor(255, 0, 0) : Qt::black, 330, 14);
      if (r.bad) m.Pic("BTNLISTDRV_DOWN", 8 + col0, y + 2);
      m.Pic(r.bad ? "BTNLISTDRV_BAD" : "BTNLISTDRV_GOOD", 8 + col0 + 18, y + 2);
      m.Pic("BTNLISTDRV_INFO", 8 + col0 + 36, y + 2);
      y += 20;
    }
  }
  m.Pic("CONTENT_DELIM1", 469, 16);
  m.Origin(13 + 502, 145 + 28);
  Diagram(m, 0, 0);
  m.Origin(13, 145);
  m.Pic("CONTENT_DELIM2", 496, 193);
  const char* marks[] = {"BTNLISTDRV_INFO", "BTNLISTDRV_GOOD", "BTNLISTDRV_BAD", "BTNLISTDRV_DOWN"};
  const char* legend[] = {"Information about driver", "Up to date driver", "Out of date driver", "Download driver update"};
  for (int i = 0; i < 4; ++i) {
    m.Pic(marks[i], 499, 216 + 22 * i);
    m.Label(521, 216 + 22 * i, QString::fromLatin1(legend[i]), 13);
  }
  m.Pic("CHECKBOXBLUE_A", 32, 336);
  m.Label(56, 338, QStringLiteral("Show out of date drivers only"), 13);
  m.Pic("BTNBACK_NA", 596, 328);
  return img;
}

QImage Page4(const Catalogue& c) {
  QImage img(750, 550, QImage::Format_RGB32);
  Composer m(c, img);
  MainFrame(m, 4, QStringLiteral("General Settings"), QStringLiteral("Customize general settings of Korvane"));
  m.Pic("ICOSETTINGS", 10, 20);
  m.Label(86, 48, QStringLiteral("General settings of Korvane"), 16, true, kTitle);
  m.Pic("CHECKBOX_A", 86, 96);
  m.Label(128, 96, QStringLiteral("Start Korvane when Windows starts"), 13);
  m.Pic("CHECKBOX_NA", 86, 136);
  m.Label(128, 136, QStringLiteral("Close to System Tray icon"), 13);
  m.Pic("CHECKBOX_NA", 86, 176);
  m.Label(128, 176, QStringLiteral("Use a Proxy Server"), 13);
  m.Label(128, 220, QStringLiteral("Address:"), 13);
  m.Pic("EDIT1PROXY", 194, 214);
  m.Label(202, 222, QStringLiteral("proxy.example.net"), 13);
  m.Label(460, 220, QStringLiteral("Port:"), 13);
  m.Pic("EDIT2PROXY", 502, 214);
  m.Label(510, 222, QStringLiteral("8080"), 13);
  m.Label(194, 268, QStringLiteral("Login:"), 13);
  m.Pic("EDIT3PROXY", 244, 260);
  m.Label(392, 268, QStringLiteral("Password:"), 13);
  m.Pic("EDIT3PROXY", 469, 260);
  m.Label(477, 268, QStringLiteral("******"), 13);
  m.Pic("BTNCANCEL_NA", 488, 328);
  m.Pic("BTNOK_A", 596, 328);
  return img;
}

QImage Dialogs(const Catalogue& c) {
  QImage img(1160, 620, QImage::Format_RGB32);
  img.fill(QColor(128, 132, 138));
  Composer m(c, img);
  m.Origin(10, 10);
  m.Pic("BGINFO", 0, 0);
  m.Pic("BTNCLOSE_NA", 340, 2);
  m.Label(76, 27, QStringLiteral("To continue updating drivers, you need to have an active Internet connection. Connect to the Internet and click OK."),
          13, false, kDark, 320, 48);
  m.Pic("BTNOK_NA", 64, 120);
  m.Pic("BTNCANCEL_NA", 218, 120);
  m.Origin(430, 10);
  m.Pic("BGABOUT", 0, 0);
  m.Pic("BTNCLOSE_NA", 404, 2);
  m.Label(141, 125, QStringLiteral("1.0.3.25"), 13, true, kDark);
  m.Label(202, 216, QStringLiteral("http://www.brantholm.com"), 13, true, QColor(87, 151, 203));
  m.Origin(10, 190);
  m.Pic("BGDOWNFORM", 0, 0);
  m.Pic("BTNCLOSE_NA", 340, 2);
  m.Label(84, 28, QStringLiteral("File name:"), 13, false, kDark);
  m.Label(151, 28, QStringLiteral("nv_7600_drv.exe"), 13, false, kDark);
  m.Label(84, 50, QStringLiteral("File size:"), 13, false, kDark);
  m.Label(151, 50, QStringLiteral("34.25 MB"), 13, false, kDark);
  m.Pic("PROGDOWN_BG", 22, 76);
  {
    QImage fill;
    fill.loadFromData(Encode(*c.Find(QStringLiteral("PROGDOWN_YELLOW"))));
    m.P().drawImage(QPoint(10 + 22, 190 + 76), fill.copy(0, 0, 150, 19));
  }
  m.Label(22, 96, QStringLiteral("14.2 MB from 34.25 MB, elapsed 00:00:41"), 11, false, kDark);
  m.Label(277, 96, QStringLiteral("Speed 354.6 kb/s"), 11, false, kDark);
  m.Pic("BTNCANCEL_A", 160, 120);
  m.Origin(10, 370);
  m.Pic("BGDRVINFO1", 0, 0);
  m.Pic("BTNCLOSE_NA", 504, 2);
  const char* v1[] = {"Realtek High Definition Audio", "Realtek Semiconductor Corp.", "11-21-2006", "5.10.0.5345"};
  for (int i = 0; i < 4; ++i) m.Label(182, 68 + 18 * i, QString::fromLatin1(v1[i]), 13, false, kDark, 350, 15);
  m.Origin(590, 280);
  m.Pic("BGDRVINFO2", 0, 0);
  m.Pic("BTNCLOSE_NA", 504, 2);
  const char* v2[] = {"NVIDIA GeForce 7600 GS", "NVIDIA", "7/1/2006", "6.14.10.9147", "NVIDIA GeForce 7600 GS", "NVIDIA",
                      "3/2/2007", "6.14.10.9371"};
  for (int i = 0; i < 4; ++i) m.Label(182, 68 + 18 * i, QString::fromLatin1(v2[i]), 12, false, kDark, 350, 15);
  for (int i = 0; i < 4; ++i) m.Label(182, 219 + 18 * i, QString::fromLatin1(v2[4 + i]), 12, false, kDark, 350, 15);
  m.Pic("BTNDOWNLOAD_NA", 296, 258);
  m.Origin(430, 290);
  m.Pic("START_LOGO", 0, 0);
  return img;
}

}  // namespace

void WriteMockups(const Catalogue& c, const QString& prefix) {
  Page1(c, false).save(prefix + QStringLiteral("-mock-start.png"));
  Page1(c, true).save(prefix + QStringLiteral("-mock-summary.png"));
  Page2(c).save(prefix + QStringLiteral("-mock-scan.png"));
  Page3(c).save(prefix + QStringLiteral("-mock-results.png"));
  Page4(c).save(prefix + QStringLiteral("-mock-settings.png"));
  Dialogs(c).save(prefix + QStringLiteral("-mock-dialogs.png"));
}

}  // namespace art
