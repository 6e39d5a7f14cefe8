// Encoders of the build-time painter: JPEG through libjpeg, GIF through giflib
// with a palette of our own, and the ICO container.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QVector>

namespace art {

// Baseline JPEG, no chroma subsampling (small captions stay crisp).
QByteArray EncodeJpeg(const QImage& image, int quality = 92);

// Palette of at most maxColours entries chosen by median cut over the
// image's own colours (alpha is ignored: GIF pictures are opaque).
QVector<QRgb> MedianCutPalette(const QImage& image, int maxColours = 256);

// Index of the palette entry nearest to c (squared RGB distance).
int NearestIndex(const QVector<QRgb>& palette, QRgb c);

// Single-frame GIF89a without transparency, no dithering so that flat areas
// and edges stay clean.
QByteArray EncodeGif(const QImage& image);

// ICO file with one 32-bit BGRA entry (plus its AND mask) per image.
// Every image must be at most 256 x 256.
QByteArray EncodeIco(const QVector<QImage>& images);

}  // namespace art
