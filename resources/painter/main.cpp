// kv_painter OUTDIR [--sheet PREFIX] [--inventory FILE]
// kv_painter --desktop-icons DIR
// Paints every picture of the program into OUTDIR (JPEG, GIF, ICO) and writes
// OUTDIR/korvane_art.qrc, whose aliases are the resource names under /rcdata.
// --sheet writes contact sheets PREFIX-<group>.png for reviewing the look;
// --inventory writes the Markdown table of every picture.
// --desktop-icons writes the program's icon as DIR/NxN/apps/korvane.png for the
// hicolor icon theme.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>
#include <exception>
#include <map>

#include "resources/painter/Catalogue.h"
#include "resources/painter/Style.h"

namespace {

bool WriteIfChanged(const QString& path, const QByteArray& bytes) {
  QFile existing(path);
  if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) return true;
  existing.close();
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes) == bytes.size();
}

QString FormatName(art::Format f) {
  switch (f) {
    case art::Format::Jpeg: return QStringLiteral("JPEG");
    case art::Format::Gif: return QStringLiteral("GIF");
    case art::Format::Ico: return QStringLiteral("ICO");
  }
  return {};
}

QString SizeText(const art::Picture& p) {
  QStringList sizes;
  for (const QImage& i : p.images) sizes << QStringLiteral("%1 x %2").arg(i.width()).arg(i.height());
  return sizes.join(QStringLiteral(", "));
}

void WriteSheets(const art::Catalogue& c, const QString& prefix) {
  std::map<QString, std::vector<const art::Picture*>> groups;
  std::vector<QString> order;
  for (const art::Picture& p : c.All()) {
    if (!groups.count(p.group)) order.push_back(p.group);
    groups[p.group].push_back(&p);
  }
  const int sheetW = 1560, pad = 10, labelH = 14;
  for (const QString& group : order) {
    // Flow layout: measure first, then paint.
    struct Slot { const art::Picture* p; QImage img; QPoint at; };
    std::vector<Slot> cells;
    int x = pad, y = pad, rowH = 0;
    for (const art::Picture* p : groups[group]) {
      QImage img = p->images.back();
      // Icons are small: show them at twice their size for review.
      if (p->format == art::Format::Ico) img = img.scaled(img.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      const int cellW = std::max(img.width(), 96);
      if (x + cellW + pad > sheetW && x > pad) {
        x = pad;
        y += rowH + labelH + pad;
        rowH = 0;
      }
      cells.push_back({p, img, QPoint(x, y)});
      x += cellW + pad;
      rowH = std::max(rowH, img.height());
    }
    const int sheetH = y + rowH + labelH + pad;
    QImage sheet(sheetW, sheetH, QImage::Format_RGB32);
    sheet.fill(QColor(128, 132, 138));
    QPainter painter(&sheet);
    for (const Slot& s : cells) {
      // Checks behind the picture show any transparency of the icons.
      for (int cy = 0; cy < s.img.height(); cy += 4)
        for (int cx = 0; cx < s.img.width(); cx += 4)
          painter.fillRect(s.at.x() + cx, s.at.y() + cy, 4, 4, ((cx + cy) / 4) % 2 ? QColor(200, 200, 200) : QColor(255, 255, 255));
      // Show the decoded file, not the painted image, so encoder faults show too.
      QImage decoded;
      decoded.loadFromData(art::Encode(*s.p));
      if (!decoded.isNull() && decoded.size() != s.img.size())
        decoded = decoded.scaled(s.img.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
      painter.drawImage(s.at, decoded.isNull() ? s.img : decoded);
      art::Text(painter, QRectF(s.at.x(), s.at.y() + s.img.height() + 1, std::max(s.img.width(), 96) + pad, labelH),
                s.p->name, art::Sans(10), Qt::white);
    }
    painter.end();
    QString file = group;
    file.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-"));
    sheet.save(prefix + QStringLiteral("-") + file.toLower() + QStringLiteral(".png"));
  }
}

bool WriteInventory(const art::Catalogue& c, const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
  QTextStream out(&f);
  QString group;
  for (const art::Picture& p : c.All()) {
    if (p.group != group) {
      group = p.group;
      out << "\n## " << group << "\n\n| name | size | format | shows |\n|---|---|---|---|\n";
    }
    out << "| `" << p.name << "` | " << SizeText(p) << " | " << FormatName(p.format) << " | " << p.what << " |\n";
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: kv_painter OUTDIR [--sheet PREFIX] [--inventory FILE]\n");
    return 2;
  }
  if (args[1] == QLatin1String("--desktop-icons") && args.size() == 3) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args[2]).arg(size);
      QDir().mkpath(dir);
      QByteArray png;
      QBuffer buffer(&png);
      buffer.open(QIODevice::WriteOnly);
      if (!art::DesktopIcon(size).save(&buffer, "PNG") || !WriteIfChanged(dir + QStringLiteral("/korvane.png"), png)) {
        std::fprintf(stderr, "kv_painter: cannot write the %dx%d icon\n", size, size);
        return 1;
      }
    }
    return 0;
  }
  const QString outDir = args[1];
  QString sheetPrefix, inventory;
  for (int i = 2; i + 1 < args.size(); i += 2) {
    if (args[i] == QLatin1String("--sheet")) sheetPrefix = args[i + 1];
    else if (args[i] == QLatin1String("--inventory")) inventory = args[i + 1];
  }
  try {
    art::Catalogue catalogue;
    art::PaintAll(catalogue);
    QDir().mkpath(outDir);
    QByteArray qrc = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/rcdata\">\n";
    for (const art::Picture& p : catalogue.All()) {
      const QString file = p.name + QStringLiteral(".") + art::FileExtension(p.format);
      if (!WriteIfChanged(outDir + QStringLiteral("/") + file, art::Encode(p))) {
        std::fprintf(stderr, "kv_painter: cannot write %s\n", qPrintable(file));
        return 1;
      }
      qrc += "  <file alias=\"" + p.name.toUtf8() + "\">" + file.toUtf8() + "</file>\n";
    }
    qrc += "</qresource>\n</RCC>\n";
    // The list is always rewritten: it is the build's record that painting ran.
    QFile list(outDir + QStringLiteral("/korvane_art.qrc"));
    if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate) || list.write(qrc) != qrc.size()) {
      std::fprintf(stderr, "kv_painter: cannot write the resource list\n");
      return 1;
    }
    if (!sheetPrefix.isEmpty()) {
      WriteSheets(catalogue, sheetPrefix);
      art::WriteMockups(catalogue, sheetPrefix);
    }
    if (!inventory.isEmpty() && !WriteInventory(catalogue, inventory)) return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kv_painter: %s\n", e.what());
    return 1;
  }
  return 0;
}
