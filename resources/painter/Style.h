// The look shared by every painted picture: colours, fonts, buttons, glyphs
// and the product mark.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>

namespace art {

namespace colour {
inline const QColor kHeaderTop(36, 104, 178);
inline const QColor kHeaderBottom(13, 55, 112);
inline const QColor kAccent(38, 123, 191);      // titles on the pages
inline const QColor kAccentDark(24, 82, 146);
inline const QColor kText(55, 55, 55);
inline const QColor kSubtleText(112, 124, 140);
inline const QColor kFrameTop(236, 241, 248);     // window area around the white page
inline const QColor kFrameBottom(222, 230, 241);
inline const QColor kBorder(184, 200, 222);
inline const QColor kSoftLine(214, 224, 236);
inline const QColor kGreen(52, 168, 83);
inline const QColor kRed(218, 48, 42);
inline const QColor kAmber(244, 180, 26);
inline const QColor kClassRow(232, 237, 243);    // opaque text background of the class rows
}  // namespace colour

// Height of the deep blue band at the top of the main window.
constexpr int kHeaderHeight = 138;
// Height of the blue title strip of the dialogs.
constexpr int kDialogStripHeight = 24;

// Colour of the header band at row y (the dialogs' strips use the same ramp so
// the shared close button matches on both).
QColor HeaderColourAt(double y, double bandHeight = kHeaderHeight);

QFont Sans(double pixelSize, bool bold = false);

QImage Canvas(int w, int h, const QColor& fill = Qt::white);
QImage Crop(const QImage& from, const QRect& r);

// Text in a box, with an optional one-pixel shadow.
void Text(QPainter& p, const QRectF& box, const QString& text, const QFont& font, const QColor& colour,
          int flags = Qt::AlignLeft | Qt::AlignVCenter, const QColor& shadow = QColor());

enum class Glyph { None, Magnifier, ArrowDown, ChevronLeft, Check, Cross, Gear, Question, Info, Warning };
void DrawGlyph(QPainter& p, Glyph glyph, const QRectF& box, const QColor& colour, double stroke = 0);

enum class ButtonStyle { Primary, Secondary, Go, Download, Footer };
enum class ButtonState { Normal, Hover, Down, Gray };

// Paints a button filling r on top of whatever the canvas already shows
// (the corners outside the rounded shape keep the background).
void PaintButton(QImage& canvas, const QRect& r, ButtonStyle style, ButtonState state, const QString& text,
                 Glyph glyph = Glyph::None, double fontPx = 13, double radius = 5);

// Round status badges (tick, cross, info, download) as used by the list marks.
enum class Badge { Info, Good, Bad, Down };
void DrawBadge(QPainter& p, Badge badge, const QRectF& box);

// The product mark: a rounded tile with a chip and a tick.
void DrawEmblem(QPainter& p, const QRectF& box);

// A soft drop shadow under a rounded rectangle.
void SoftShadow(QPainter& p, const QRectF& r, double radius, int spread, int alpha);

}  // namespace art
