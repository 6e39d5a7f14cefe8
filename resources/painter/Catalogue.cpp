#include "resources/painter/Catalogue.h"

#include <stdexcept>

#include "resources/painter/Encoders.h"

namespace art {

void Catalogue::Add(const QString& name, Format format, const QImage& image, const QString& group, const QString& what) {
  if (Find(name)) throw std::logic_error("picture painted twice: " + name.toStdString());
  pictures_.push_back({name, format, {image}, group, what});
}

void Catalogue::AddIcon(const QString& name, const QVector<QImage>& sizes, const QString& group, const QString& what) {
  if (Find(name)) throw std::logic_error("picture painted twice: " + name.toStdString());
  pictures_.push_back({name, Format::Ico, sizes, group, what});
}

const Picture* Catalogue::Find(const QString& name) const {
  for (const Picture& p : pictures_)
    if (p.name == name) return &p;
  return nullptr;
}

QByteArray Encode(const Picture& picture) {
  switch (picture.format) {
    case Format::Jpeg: return EncodeJpeg(picture.images.front(), 92);
    case Format::Gif: return EncodeGif(picture.images.front());
    case Format::Ico: return EncodeIco(picture.images);
  }
  return {};
}

QString FileExtension(Format format) {
  switch (format) {
    case Format::Jpeg: return QStringLiteral("jpg");
    case Format::Gif: return QStringLiteral("gif");
    case Format::Ico: return QStringLiteral("ico");
  }
  return {};
}

void PaintAll(Catalogue& c) {
  PaintMainWindow(c);
  PaintDialogs(c);
  PaintPages(c);
  PaintDiagrams(c);
  PaintClassIcons(c);
}

}  // namespace art
