#include "resources/painter/Encoders.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include <jpeglib.h>
#include <gif_lib.h>

namespace art {

QByteArray EncodeJpeg(const QImage& source, int quality) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.width());
  cinfo.image_height = static_cast<JDIMENSION>(image.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  QByteArray out(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
  std::free(buffer);
  return out;
}

namespace {

struct ColourCount {
  QRgb rgb;
  uint32_t count;
};

struct Box {
  size_t begin, end;  // range in the colour vector
  int Channel(QRgb c, int ch) const {
    return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c);
  }
};

}  // namespace

QVector<QRgb> MedianCutPalette(const QImage& source, int maxColours) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  std::unordered_map<QRgb, uint32_t> histogram;
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) ++histogram[line[x] | 0xFF000000u];
  }
  std::vector<ColourCount> colours;
  colours.reserve(histogram.size());
  for (const auto& [rgb, count] : histogram) colours.push_back({rgb, count});
  // A deterministic order keeps the painted files identical from build to build.
  std::sort(colours.begin(), colours.end(), [](const ColourCount& a, const ColourCount& b) { return a.rgb < b.rgb; });

  QVector<QRgb> palette;
  if (colours.empty()) return palette;
  if (static_cast<int>(colours.size()) <= maxColours) {
    for (const auto& c : colours) palette.push_back(c.rgb);
    return palette;
  }

  std::vector<Box> boxes{{0, colours.size()}};
  auto channelOf = [](QRgb c, int ch) { return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c); };
  while (static_cast<int>(boxes.size()) < maxColours) {
    // Split the box whose widest channel range, weighted by its pixel count, is largest.
    int best = -1;
    double bestScore = 0;
    int bestChannel = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const Box& b = boxes[i];
      if (b.end - b.begin < 2) continue;
      int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
      uint64_t pixels = 0;
      for (size_t k = b.begin; k < b.end; ++k) {
        for (int ch = 0; ch < 3; ++ch) {
          const int v = channelOf(colours[k].rgb, ch);
          lo[ch] = std::min(lo[ch], v);
          hi[ch] = std::max(hi[ch], v);
        }
        pixels += colours[k].count;
      }
      int channel = 0;
      for (int ch = 1; ch < 3; ++ch)
        if (hi[ch] - lo[ch] > hi[channel] - lo[channel]) channel = ch;
      const int range = hi[channel] - lo[channel];
      if (range == 0) continue;
      const double score = static_cast<double>(range) * std::sqrt(static_cast<double>(pixels));
      if (score > bestScore) {
        bestScore = score;
        best = static_cast<int>(i);
        bestChannel = channel;
      }
    }
    if (best < 0) break;
    Box b = boxes[static_cast<size_t>(best)];
    std::sort(colours.begin() + static_cast<std::ptrdiff_t>(b.begin), colours.begin() + static_cast<std::ptrdiff_t>(b.end),
              [&](const ColourCount& x, const ColourCount& y) {
                const int vx = channelOf(x.rgb, bestChannel), vy = channelOf(y.rgb, bestChannel);
                return vx != vy ? vx < vy : x.rgb < y.rgb;
              });
    uint64_t total = 0;
    for (size_t k = b.begin; k < b.end; ++k) total += colours[k].count;
    uint64_t run = 0;
    size_t split = b.begin + 1;
    for (size_t k = b.begin; k < b.end - 1; ++k) {
      run += colours[k].count;
      split = k + 1;
      if (run * 2 >= total) break;
    }
    boxes[static_cast<size_t>(best)] = {b.begin, split};
    boxes.push_back({split, b.end});
  }
  for (const Box& b : boxes) {
    double r = 0, g = 0, bl = 0, n = 0;
    for (size_t k = b.begin; k < b.end; ++k) {
      const double w = colours[k].count;
      r += qRed(colours[k].rgb) * w;
      g += qGreen(colours[k].rgb) * w;
      bl += qBlue(colours[k].rgb) * w;
      n += w;
    }
    palette.push_back(qRgb(static_cast<int>(r / n + 0.5), static_cast<int>(g / n + 0.5), static_cast<int>(bl / n + 0.5)));
  }
  return palette;
}

int NearestIndex(const QVector<QRgb>& palette, QRgb c) {
  int best = 0;
  int bestDistance = 1 << 30;
  for (int i = 0; i < palette.size(); ++i) {
    const int dr = qRed(palette[i]) - qRed(c), dg = qGreen(palette[i]) - qGreen(c), db = qBlue(palette[i]) - qBlue(c);
    const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

namespace {

int WriteToByteArray(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
  return length;
}

}  // namespace

QByteArray EncodeGif(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  const QVector<QRgb> palette = MedianCutPalette(image, 256);
  int mapSize = 2;
  while (mapSize < palette.size()) mapSize *= 2;
  std::vector<GifColorType> entries(static_cast<size_t>(mapSize), GifColorType{0, 0, 0});
  for (int i = 0; i < palette.size(); ++i) {
    entries[static_cast<size_t>(i)] = GifColorType{static_cast<GifByteType>(qRed(palette[i])),
                                                   static_cast<GifByteType>(qGreen(palette[i])),
                                                   static_cast<GifByteType>(qBlue(palette[i]))};
  }

  QByteArray out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToByteArray, &error);
  if (!gif) throw std::runtime_error("EGifOpen failed");
  ColorMapObject* map = GifMakeMapObject(mapSize, entries.data());
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, image.width(), image.height(), 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, image.width(), image.height(), false, nullptr) == GIF_OK;
  std::unordered_map<QRgb, GifByteType> cache;
  std::vector<GifByteType> line(static_cast<size_t>(image.width()));
  for (int y = 0; ok && y < image.height(); ++y) {
    const QRgb* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = src[x] | 0xFF000000u;
      auto it = cache.find(c);
      if (it == cache.end()) it = cache.emplace(c, static_cast<GifByteType>(NearestIndex(palette, c))).first;
      line[static_cast<size_t>(x)] = it->second;
    }
    ok = EGifPutLine(gif, line.data(), image.width()) == GIF_OK;
  }
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  if (!ok) throw std::runtime_error("GIF encoding failed");
  return out;
}

namespace {

void PutLE(QByteArray& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

QByteArray EncodeIco(const QVector<QImage>& images) {
  QVector<QByteArray> bodies;
  for (const QImage& source : images) {
    // Icons carry straight (not premultiplied) alpha.
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    if (w < 1 || h < 1 || w > 256 || h > 256) throw std::runtime_error("icon size out of range");
    QByteArray body;
    PutLE(body, 40, 4);               // BITMAPINFOHEADER size
    PutLE(body, static_cast<uint32_t>(w), 4);
    PutLE(body, static_cast<uint32_t>(2 * h), 4);  // colour rows plus mask rows
    PutLE(body, 1, 2);                // planes
    PutLE(body, 32, 2);               // bits per pixel
    PutLE(body, 0, 4);                // BI_RGB
    const int maskStride = ((w + 31) / 32) * 4;
    PutLE(body, static_cast<uint32_t>(w * h * 4 + maskStride * h), 4);
    PutLE(body, 0, 4);
    PutLE(body, 0, 4);
    PutLE(body, 0, 4);
    PutLE(body, 0, 4);
    for (int y = h - 1; y >= 0; --y) {  // bottom-up BGRA
      const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < w; ++x) {
        body.append(static_cast<char>(qBlue(line[x])));
        body.append(static_cast<char>(qGreen(line[x])));
        body.append(static_cast<char>(qRed(line[x])));
        body.append(static_cast<char>(qAlpha(line[x])));
      }
    }
    for (int y = h - 1; y >= 0; --y) {  // AND mask: 1 where fully transparent
      const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      QByteArray row(maskStride, '\0');
      for (int x = 0; x < w; ++x)
        if (qAlpha(line[x]) == 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
      body.append(row);
    }
    bodies.push_back(body);
  }
  QByteArray out;
  PutLE(out, 0, 2);
  PutLE(out, 1, 2);  // icon resource
  PutLE(out, static_cast<uint32_t>(images.size()), 2);
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (int i = 0; i < images.size(); ++i) {
    const int w = images[i].width(), h = images[i].height();
    out.append(static_cast<char>(w >= 256 ? 0 : w));
    out.append(static_cast<char>(h >= 256 ? 0 : h));
    out.append('\0');  // no palette
    out.append('\0');
    PutLE(out, 1, 2);
    PutLE(out, 32, 2);
    PutLE(out, static_cast<uint32_t>(bodies[i].size()), 4);
    PutLE(out, offset, 4);
    offset += static_cast<uint32_t>(bodies[i].size());
  }
  for (const QByteArray& b : bodies) out.append(b);
  return out;
}

}  // namespace art
