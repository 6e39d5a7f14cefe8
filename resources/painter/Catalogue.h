// The list of pictures the painter produces, with what the inventory says
// about each one.
#pragma once

#include <QImage>
#include <QString>
#include <QVector>
#include <vector>

namespace art {

enum class Format { Jpeg, Gif, Ico };

struct Picture {
  QString name;         // resource name, exactly as the program looks it up
  Format format;
  QVector<QImage> images;  // one image; icons may hold several sizes
  QString group;        // window or page the picture belongs to
  QString what;         // one line: what it shows
};

class Catalogue {
 public:
  void Add(const QString& name, Format format, const QImage& image, const QString& group, const QString& what);
  void AddIcon(const QString& name, const QVector<QImage>& sizes, const QString& group, const QString& what);
  const std::vector<Picture>& All() const { return pictures_; }
  const Picture* Find(const QString& name) const;

 private:
  std::vector<Picture> pictures_;
};

// Each painting unit adds its pictures; the order of the calls is the order
// of the inventory.
void PaintMainWindow(Catalogue& c);
void PaintDialogs(Catalogue& c);
void PaintPages(Catalogue& c);
void PaintDiagrams(Catalogue& c);
void PaintClassIcons(Catalogue& c);
void PaintAll(Catalogue& c);
// The program's icon for the desktop's icon theme, size x size pixels.
QImage DesktopIcon(int size);

// Review aid: the windows composed from the pictures, PREFIX-mock-*.png.
void WriteMockups(const Catalogue& c, const QString& prefix);

// Serialised file bytes of a picture in its format.
QByteArray Encode(const Picture& picture);
QString FileExtension(Format format);

// Geometry of the pies, shared with the tests that measure them.
namespace pie {
constexpr int kWidth = 155;
constexpr int kHeight = 92;
constexpr double kCentreX = 77.5;
constexpr double kCentreY = 38.0;
constexpr double kRadiusX = 70.0;
constexpr double kRadiusY = 32.0;
constexpr double kDepth = 14.0;
}  // namespace pie

}  // namespace art
