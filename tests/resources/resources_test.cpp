// The compiled-in pictures: every name the program looks up exists, decodes
// in its format at its size, the pies show their share, the icons are real
// 32-bit icon files; and the painter's encoders round-trip.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#include <cstdlib>

#include <gif_lib.h>
#include <jpeglib.h>

#include "resources/kvresources.h"
#include "resources/painter/Catalogue.h"
#include "resources/painter/Encoders.h"

namespace {

QByteArray Resource(const QString& name) {
  QFile f(QStringLiteral(":/rcdata/") + name);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

QImage Decode(const QByteArray& bytes, const char* format) {
  QImage image;
  image.loadFromData(bytes, format);
  return image;
}

struct Expected {
  const char* name;
  int w, h;
  const char* format;
};

// Every picture the windows and pages name, at the size of the control that
// shows it.
const Expected kPictures[] = {
    {"BGMAIN", 750, 550, "JPEG"},         {"BGWHITE", 723, 371, "JPEG"},
    {"ICOSTEP1HEAD", 190, 105, "JPEG"},   {"ICOSTEP2HEAD", 190, 105, "JPEG"},
    {"ICOSTEP3HEAD", 190, 105, "JPEG"},   {"BTNSETTINGS_NA", 73, 23, "JPEG"},
    {"BTNSETTINGS_A", 73, 23, "JPEG"},    {"BTNSETTINGS_DN", 73, 23, "JPEG"},
    {"BTNSETTINGS_GRAY", 73, 23, "JPEG"}, {"BTNHELP_NA", 55, 23, "JPEG"},
    {"BTNHELP_A", 55, 23, "JPEG"},        {"BTNHELP_DN", 55, 23, "JPEG"},
    {"BTNABOUT_NA", 62, 23, "JPEG"},      {"BTNABOUT_A", 62, 23, "JPEG"},
    {"BTNABOUT_DN", 62, 23, "JPEG"},      {"BTNCLOSE_NA", 41, 15, "JPEG"},
    {"BTNCLOSE_A", 41, 15, "JPEG"},       {"BTNCLOSE_DN", 41, 15, "JPEG"},
    {"BTNMIN_NA", 25, 15, "JPEG"},        {"BTNMIN_A", 25, 15, "JPEG"},
    {"BTNMIN_DN", 25, 15, "JPEG"},        {"BGABOUT", 463, 260, "JPEG"},
    {"START_LOGO", 315, 170, "JPEG"},     {"BGINFO", 405, 162, "JPEG"},
    {"BGDRVINFO1", 566, 186, "JPEG"},     {"BGDRVINFO2", 566, 336, "JPEG"},
    {"BGDOWNFORM", 405, 162, "JPEG"},     {"BTNOK_NA", 91, 32, "JPEG"},
    {"BTNOK_A", 91, 32, "JPEG"},          {"BTNOK_DN", 91, 32, "JPEG"},
    {"BTNCANCEL_NA", 91, 32, "JPEG"},     {"BTNCANCEL_A", 91, 32, "JPEG"},
    {"BTNCANCEL_DN", 91, 32, "JPEG"},     {"BTNDOWNLOAD_NA", 220, 30, "JPEG"},
    {"BTNABORT_NA", 91, 32, "JPEG"},      {"BTNABORT_A", 91, 32, "JPEG"},
    {"BTNABORT_DN", 91, 32, "JPEG"},      {"BTNDOWNLOAD_A", 220, 30, "JPEG"},
    {"BTNDOWNLOAD_DN", 220, 30, "JPEG"},  {"PROGDOWN_YELLOW", 362, 19, "JPEG"},
    {"PROGDOWN_BG", 362, 19, "JPEG"},     {"BGSCANGRID", 653, 112, "JPEG"},
    {"PROG_GREEN", 657, 21, "JPEG"},      {"PROG_BG", 657, 21, "JPEG"},
    {"PROG_YELLOW", 657, 21, "JPEG"},     {"BTNSCANNOW_NA", 151, 33, "JPEG"},
    {"BTNSCANNOW_A", 151, 33, "JPEG"},    {"BTNSCANNOW_DN", 151, 33, "JPEG"},
    {"ICOSYSINFO", 48, 48, "JPEG"},       {"ICOLASTCHECK", 48, 48, "JPEG"},
    {"ICOWARNING", 48, 48, "JPEG"},       {"BTNBACK_NA", 92, 32, "JPEG"},
    {"BTNBACK_A", 92, 32, "JPEG"},        {"BTNBACK_DN", 92, 32, "JPEG"},
    {"CONTENT_DELIM1", 3, 293, "JPEG"},   {"CONTENT_DELIM2", 204, 2, "JPEG"},
    {"CHECKBOXBLUE_A", 18, 18, "JPEG"},   {"CHECKBOXBLUE_NA", 18, 18, "JPEG"},
    {"BTNLISTDRV_INFO", 16, 16, "JPEG"},  {"BTNLISTDRV_GOOD", 16, 16, "JPEG"},
    {"BTNLISTDRV_BAD", 16, 16, "JPEG"},   {"BTNLISTDRV_DOWN", 16, 16, "JPEG"},
    {"DRVLISTGRADIENT", 387, 32, "JPEG"}, {"ICOSETTINGS", 62, 50, "JPEG"},
    {"EDIT1PROXY", 226, 33, "JPEG"},      {"EDIT2PROXY", 77, 33, "JPEG"},
    {"EDIT3PROXY", 110, 32, "JPEG"},      {"CHECKBOX_A", 28, 20, "JPEG"},
    {"CHECKBOX_NA", 28, 20, "JPEG"},      {"ANIMSCAN_PIC1", 125, 80, "JPEG"},
    {"ANIMSCAN_PIC2", 125, 80, "JPEG"},   {"ANIMSCAN_PIC3", 125, 80, "JPEG"},
    {"ANIMSCAN_PIC4", 125, 80, "JPEG"},   {"ANIMSCAN_PIC5", 125, 80, "JPEG"},
    {"ANIMSCAN_PIC6", 125, 80, "JPEG"},   {"ANIMSCAN_PIC7", 125, 80, "JPEG"},
    {"ANIMSCAN_PIC8", 125, 80, "JPEG"},   {"ICODOWNTOOL", 37, 34, "JPEG"},
    {"PROGTOOL_BG", 202, 9, "JPEG"},      {"PROGTOOL_FILL", 202, 9, "JPEG"},
    {"LEGEND_RED", 10, 10, "GIF"},        {"LEGEND_GREEN", 10, 10, "GIF"},
    {"OUT_OF_DATE", 320, 210, "GIF"},     {"TRAYICON", 16, 16, "ICO"},
};

// The 65 setup classes that carry their own icon.
const char* const kClassIcons[] = {
    "0475BB515A024EE0B36C29040FAD2650", "1264760FA5C84BFEB314D56A7B44A362",
    "25DBCE516C8F4A728A6DB54C2B4FC835", "36FC9E60C46511CF8056444553540000",
    "43675D81502A4A829F84B75F418C5DEA", "4658EE7EF05011D1B6BD00C04FA372A7",
    "48721B56679511D2B1A80080C72E74A2", "49CE6AC86F8611D2B1E50080C72E74A2",
    "4D36E965E32511CEBFC108002BE10318", "4D36E966E32511CEBFC108002BE10318",
    "4D36E967E32511CEBFC108002BE10318", "4D36E968E32511CEBFC108002BE10318",
    "4D36E969E32511CEBFC108002BE10318", "4D36E96AE32511CEBFC108002BE10318",
    "4D36E96BE32511CEBFC108002BE10318", "4D36E96CE32511CEBFC108002BE10318",
    "4D36E96DE32511CEBFC108002BE10318", "4D36E96EE32511CEBFC108002BE10318",
    "4D36E96FE32511CEBFC108002BE10318", "4D36E970E32511CEBFC108002BE10318",
    "4D36E971E32511CEBFC108002BE10318", "4D36E972E32511CEBFC108002BE10318",
    "4D36E973E32511CEBFC108002BE10318", "4D36E974E32511CEBFC108002BE10318",
    "4D36E975E32511CEBFC108002BE10318", "4D36E977E32511CEBFC108002BE10318",
    "4D36E978E32511CEBFC108002BE10318", "4D36E979E32511CEBFC108002BE10318",
    "4D36E97BE32511CEBFC108002BE10318", "4D36E97DE32511CEBFC108002BE10318",
    "4D36E97EE32511CEBFC108002BE10318", "4D36E980E32511CEBFC108002BE10318",
    "4F9191084ADF11D5882D00B0D02FE381", "50127DC30F36415EA6CC4CB3BE910B65",
    "50906CB8BA1211D1BF5D0000F805F530", "5099944AF6B94057A0568C550228544C",
    "50DD5230BA8A11D1BF5D0000F805F530", "533C5B84EC7011D2950500C04F79DEAF",
    "66F250D678014A64B139EEA80A450B24", "6BDD1FC1810F11D0BEC708002BE2092F",
    "6BDD1FC5810F11D0BEC708002BE2092F", "6BDD1FC6810F11D0BEC708002BE2092F",
    "6D8078847D2111CF801C08002BE10318", "6FAE73B7B7354B50A0DA0DC2484B1F1A",
    "71A27CDD812A11D0BEC708002BE2092F", "72631E5478A411D0BCF700AA00B7B32A",
    "745A17A074D311D0B6FE00A0C90F57DA", "7EBEFBC0320011D2B4C200A0C9697D07",
    "8ECC055D047F11D1A5370000F8753ED1", "95C7A0A0309411D7A20200508B9D7D5A",
    "997B5D8DC4424F2EBAF39C8E671E9E21", "A0A588A4C46F4B37B7EAC82FE89870C6",
    "BC103702DD72406F9B2895C868337B59", "C06FF265AE0948F0812C16753D7CBA83",
    "C459DF55DB0811D1B00900A0C9081FF6", "C7C038AD1F2D44D4B2FED912BE20E6D5",
    "CE5939AEEBDE11D0B1810000F8753EC4", "D45B1C18C8FA11D19F770000F805F530",
    "D48179BEEC2011D1B6B800C04FA372A7", "D61CA3655AF44486998B9DB4734C6CA3",
    "D76B962BF0B841F285906605FE4EA312", "D94EE5D8D189499483D2F68D7D41B0E6",
    "E0CBF06CCD8B4647BB8A263B43F0F974", "EEC5AD988080425F922ADABF3DE3F69A",
    "F12D3CF8B11D457E8641BE2AF2D6D204",
};

uint32_t LE(const QByteArray& b, int at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(b[at + i])) << (8 * i);
  return v;
}

// By hue, so the lit and shaded parts of a slice count alike.
bool IsRed(QRgb c) { return qRed(c) > qGreen(c) + 50 && qRed(c) > qBlue(c) + 50; }
bool IsGreen(QRgb c) { return qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 40; }

// Red share of the pie's top face, sampled round a ring at 60% of its radius.
double RedShare(const QImage& pie) {
  int red = 0, green = 0;
  for (int i = 0; i < 720; ++i) {
    const double a = (i + 0.5) / 720 * 2 * M_PI;
    const int x = static_cast<int>(art::pie::kCentreX + 0.6 * art::pie::kRadiusX * std::sin(a));
    const int y = static_cast<int>(art::pie::kCentreY - 0.6 * art::pie::kRadiusY * std::cos(a));
    const QRgb c = pie.pixel(x, y);
    if (IsRed(c))
      ++red;
    else if (IsGreen(c))
      ++green;
  }
  return red + green == 0 ? -1 : static_cast<double>(red) / (red + green);
}

class Resources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KorvaneInitResources(); }
};

TEST_F(Resources, EveryNamedPictureDecodesAtItsSize) {
  for (const Expected& e : kPictures) {
    SCOPED_TRACE(e.name);
    const QByteArray bytes = Resource(QString::fromLatin1(e.name));
    ASSERT_FALSE(bytes.isEmpty()) << "missing resource";
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    EXPECT_EQ(reader.format().toUpper(), QByteArray(e.format));
    const QImage image = Decode(bytes, e.format);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), e.w);
    EXPECT_EQ(image.height(), e.h);
  }
}

TEST_F(Resources, GifPicturesAreSingleFrameWithoutTransparency) {
  QStringList names = {QStringLiteral("LEGEND_RED"), QStringLiteral("LEGEND_GREEN"),
                       QStringLiteral("OUT_OF_DATE")};
  for (int p = 0; p <= 100; p += 2) names << QStringLiteral("DIAGIMG%1").arg(p);
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray bytes = Resource(name);
    ASSERT_TRUE(bytes.startsWith("GIF89a") || bytes.startsWith("GIF87a"));
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "GIF");
    EXPECT_EQ(reader.imageCount(), 1);
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(image.hasAlphaChannel());
  }
}

TEST_F(Resources, PiesExistForEvenPercentagesOnlyAndShowTheirShare) {
  for (int p = 0; p <= 100; ++p) {
    SCOPED_TRACE(p);
    const QByteArray bytes = Resource(QStringLiteral("DIAGIMG%1").arg(p));
    if (p % 2) {
      EXPECT_TRUE(bytes.isEmpty());
      continue;
    }
    const QImage pie = Decode(bytes, "GIF");
    ASSERT_EQ(pie.size(), QSize(155, 92));
    EXPECT_NEAR(RedShare(pie), p / 100.0, 0.02);
  }
}

TEST_F(Resources, ThirtyPercentPieIsAboutThirtyPercentRedOverall) {
  const QImage pie = Decode(Resource(QStringLiteral("DIAGIMG30")), "GIF");
  int red = 0, green = 0;
  for (int y = 0; y < pie.height(); ++y)
    for (int x = 0; x < pie.width(); ++x) {
      if (IsRed(pie.pixel(x, y)))
        ++red;
      else if (IsGreen(pie.pixel(x, y)))
        ++green;
    }
  // The front wall is mostly green at 30%, so the whole picture reads a little under.
  const double share = static_cast<double>(red) / (red + green);
  EXPECT_GT(share, 0.22);
  EXPECT_LT(share, 0.34);
  const double top = RedShare(pie);
  EXPECT_NEAR(top, 0.30, 0.02);
}

TEST_F(Resources, ClassIconsAre32BitIconFilesWithAlpha) {
  ASSERT_EQ(std::size(kClassIcons), 65u);
  QStringList names;
  for (const char* hex : kClassIcons) names << QString::fromLatin1(hex);
  names << QStringLiteral("TRAYICON");
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray ico = Resource(name);
    ASSERT_GE(ico.size(), 6 + 16 + 40);
    EXPECT_EQ(LE(ico, 0, 2), 0u);
    EXPECT_EQ(LE(ico, 2, 2), 1u);  // icon, not cursor
    ASSERT_EQ(LE(ico, 4, 2), 1u);
    const int size = name == QLatin1String("TRAYICON") ? 16 : 32;
    EXPECT_EQ(static_cast<uint8_t>(ico[6]), size);
    EXPECT_EQ(static_cast<uint8_t>(ico[7]), size);
    EXPECT_EQ(LE(ico, 12, 2), 32u);
    const uint32_t bytes = LE(ico, 14, 4), offset = LE(ico, 18, 4);
    EXPECT_EQ(offset + bytes, static_cast<uint32_t>(ico.size()));
    EXPECT_EQ(LE(ico, static_cast<int>(offset) + 4, 4), static_cast<uint32_t>(size));
    EXPECT_EQ(LE(ico, static_cast<int>(offset) + 8, 4), static_cast<uint32_t>(2 * size));
    EXPECT_EQ(LE(ico, static_cast<int>(offset) + 14, 2), 32u);
    const QImage image = Decode(ico, "ICO");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(size, size));
    ASSERT_TRUE(image.hasAlphaChannel());
    // Drawn shapes, not a filled square: some corners clear, a good part opaque.
    int opaque = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) opaque += qAlpha(image.pixel(x, y)) > 200;
    EXPECT_GT(opaque, size * size / 8);
    EXPECT_LT(opaque, size * size);
  }
}

TEST_F(Resources, ClassIconsDifferFromEachOther) {
  std::vector<QImage> icons;
  for (const char* hex : kClassIcons) icons.push_back(Decode(Resource(QString::fromLatin1(hex)), "ICO"));
  for (size_t i = 0; i < icons.size(); ++i)
    for (size_t j = i + 1; j < icons.size(); ++j)
      EXPECT_NE(icons[i], icons[j]) << kClassIcons[i] << " " << kClassIcons[j];
}

TEST_F(Resources, WhitePageMatchesTheMainBackgroundBehindIt) {
  const QImage main = Decode(Resource(QStringLiteral("BGMAIN")), "JPEG");
  const QImage white = Decode(Resource(QStringLiteral("BGWHITE")), "JPEG");
  double diff = 0;
  for (int y = 0; y < white.height(); y += 3)
    for (int x = 0; x < white.width(); x += 3) {
      const QRgb a = main.pixel(13 + x, 145 + y), b = white.pixel(x, y);
      diff += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
    }
  EXPECT_LT(diff / ((white.width() / 3) * (white.height() / 3)), 4.0);
  // And its inside is white, where the pages draw.
  const QRgb centre = white.pixel(360, 180);
  EXPECT_GT(qRed(centre), 250);
  EXPECT_GT(qBlue(centre), 250);
}

// Pictures laid over BGMAIN carry its colours where they do not draw, so
// they sit on it without a visible box.
TEST_F(Resources, MainWindowPiecesBlendIntoTheBackground) {
  const QImage main = Decode(Resource(QStringLiteral("BGMAIN")), "JPEG");
  struct Piece {
    const char* name;
    int left, top;
    QPoint probe;
  };
  const Piece pieces[] = {
      {"ICOSTEP1HEAD", 0, 0, {180, 95}},       {"ICOSTEP2HEAD", 0, 0, {5, 95}},
      {"ICOSTEP3HEAD", 0, 0, {185, 5}},        {"BTNSETTINGS_NA", 37, 521, {0, 0}},
      {"BTNSETTINGS_GRAY", 37, 521, {72, 22}}, {"BTNHELP_A", 121, 521, {0, 22}},
      {"BTNABOUT_DN", 187, 521, {61, 0}},      {"BTNCLOSE_NA", 694, 0, {0, 14}},
      {"BTNCLOSE_A", 694, 0, {40, 14}},        {"BTNMIN_NA", 671, 0, {0, 14}},
  };
  for (const Piece& piece : pieces) {
    SCOPED_TRACE(piece.name);
    const QImage img = Decode(Resource(QString::fromLatin1(piece.name)), "JPEG");
    const QRgb a = img.pixel(piece.probe),
               b = main.pixel(piece.left + piece.probe.x(), piece.top + piece.probe.y());
    EXPECT_NEAR(qRed(a), qRed(b), 14);
    EXPECT_NEAR(qGreen(a), qGreen(b), 14);
    EXPECT_NEAR(qBlue(a), qBlue(b), 14);
  }
  // The close tab itself is red, inside its corners.
  const QImage close = Decode(Resource(QStringLiteral("BTNCLOSE_NA")), "JPEG");
  const QRgb body = close.pixel(5, 10);
  EXPECT_GT(qRed(body), qBlue(body) + 60);
}

TEST_F(Resources, ButtonStatesDiffer) {
  const char* buttons[] = {"BTNCLOSE",  "BTNMIN",   "BTNHELP",     "BTNABOUT",   "BTNSETTINGS", "BTNOK",
                           "BTNCANCEL", "BTNABORT", "BTNDOWNLOAD", "BTNSCANNOW", "BTNBACK"};
  for (const char* b : buttons) {
    SCOPED_TRACE(b);
    const QString base = QString::fromLatin1(b);
    const QImage na = Decode(Resource(base + QStringLiteral("_NA")), "JPEG");
    const QImage a = Decode(Resource(base + QStringLiteral("_A")), "JPEG");
    const QImage dn = Decode(Resource(base + QStringLiteral("_DN")), "JPEG");
    EXPECT_NE(na, a);
    EXPECT_NE(na, dn);
    EXPECT_NE(a, dn);
  }
}

TEST_F(Resources, InventoryListsEveryResource) {
  QFile doc(QString::fromLocal8Bit(std::getenv("KORVANE_SOURCE_DIR")) +
            QStringLiteral("/resources/RESOURCES.md"));
  ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(doc.readAll());
  art::Catalogue catalogue;
  art::PaintAll(catalogue);
  ASSERT_GE(catalogue.All().size(), std::size(kPictures) + 51 + 65);
  for (const art::Picture& p : catalogue.All()) {
    EXPECT_TRUE(text.contains(QStringLiteral("`") + p.name + QStringLiteral("`"))) << p.name.toStdString();
    EXPECT_FALSE(Resource(p.name).isEmpty()) << p.name.toStdString();
  }
}

// The program decodes with libjpeg and giflib themselves, not Qt's readers.
TEST_F(Resources, LibjpegAndGiflibDecodeThePictures) {
  const QByteArray jpeg = Resource(QStringLiteral("BGMAIN"));
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.constData()),
               static_cast<unsigned long>(jpeg.size()));
  ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
  jpeg_start_decompress(&cinfo);
  EXPECT_EQ(cinfo.output_width, 750u);
  EXPECT_EQ(cinfo.output_height, 550u);
  EXPECT_EQ(cinfo.output_components, 3);
  std::vector<unsigned char> row(cinfo.output_width * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);

  struct Reader {
    QByteArray data;
    int at = 0;
  };
  Reader reader{Resource(QStringLiteral("DIAGIMG42"))};
  int error = 0;
  GifFileType* gif = DGifOpen(
      &reader,
      [](GifFileType* g, GifByteType* out, int n) {
        auto* r = static_cast<Reader*>(g->UserData);
        const int take = std::min(n, static_cast<int>(r->data.size()) - r->at);
        std::memcpy(out, r->data.constData() + r->at, static_cast<size_t>(take));
        r->at += take;
        return take;
      },
      &error);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  EXPECT_EQ(gif->ImageCount, 1);
  EXPECT_EQ(gif->SWidth, 155);
  EXPECT_EQ(gif->SHeight, 92);
  EXPECT_NE(gif->SColorMap, nullptr);
  DGifCloseFile(gif, &error);
}

// ---- the painter's encoders -------------------------------------------------

TEST(Encoders, GifKeepsAnImageOfFewColoursExactly) {
  QImage image(37, 23, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, qRgb((x * 7) % 200, (y * 11) % 250, ((x + y) * 5) % 180));
  const QImage decoded = Decode(art::EncodeGif(image), "GIF").convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(decoded.size(), image.size());
  int exact = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) exact += decoded.pixel(x, y) == image.pixel(x, y);
  // At most 256 distinct colours in this picture? Then all exact.
  QSet<QRgb> distinct;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) distinct.insert(image.pixel(x, y));
  if (distinct.size() <= 256)
    EXPECT_EQ(exact, image.width() * image.height());
  else
    EXPECT_GT(exact, 0);
}

TEST(Encoders, MedianCutBoundsThePaletteAndStaysClose) {
  QImage image(64, 64, QImage::Format_RGB32);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) image.setPixel(x, y, qRgb(x * 4, y * 4, (x ^ y) * 4));
  for (int n : {2, 16, 256}) {
    const QVector<QRgb> palette = art::MedianCutPalette(image, n);
    EXPECT_LE(palette.size(), n);
    EXPECT_GE(palette.size(), n / 2);
  }
  const QVector<QRgb> palette = art::MedianCutPalette(image, 256);
  double err = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const QRgb c = image.pixel(x, y), q = palette[art::NearestIndex(palette, c)];
      err += std::abs(qRed(c) - qRed(q)) + std::abs(qGreen(c) - qGreen(q)) + std::abs(qBlue(c) - qBlue(q));
    }
  EXPECT_LT(err / (64 * 64), 24.0);
}

TEST(Encoders, IcoRoundTripsStraightAlpha) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 8; y < 24; ++y)
    for (int x = 4; x < 28; ++x) image.setPixel(x, y, qRgba(200, 40, 30, x < 16 ? 255 : 128));
  const QByteArray ico = art::EncodeIco({image});
  const QImage decoded = Decode(ico, "ICO").convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(decoded.size(), QSize(32, 32));
  EXPECT_EQ(qAlpha(decoded.pixel(0, 0)), 0);
  EXPECT_EQ(decoded.pixel(8, 10), qRgba(200, 40, 30, 255));
  EXPECT_EQ(qAlpha(decoded.pixel(20, 10)), 128);
  EXPECT_NEAR(qRed(decoded.pixel(20, 10)), 200, 2);
  // The AND mask marks exactly the clear pixels (mask rows are bottom-up).
  const int maskAt = static_cast<int>(LE(ico, 18, 4)) + 40 + 32 * 32 * 4;
  EXPECT_EQ(static_cast<uint8_t>(ico[maskAt]) & 0x80, 0x80);               // row 31, x 0: clear
  EXPECT_EQ(static_cast<uint8_t>(ico[maskAt + 4 * (31 - 10)]) & 0x08, 0);  // row 10, x 4: drawn
}

TEST(Encoders, JpegDecodesCloseToTheSource) {
  QImage image(40, 20, QImage::Format_RGB32);
  image.fill(qRgb(38, 123, 191));
  const QImage decoded = Decode(art::EncodeJpeg(image, 92), "JPEG");
  ASSERT_EQ(decoded.size(), image.size());
  const QRgb c = decoded.pixel(20, 10);
  EXPECT_NEAR(qRed(c), 38, 3);
  EXPECT_NEAR(qGreen(c), 123, 3);
  EXPECT_NEAR(qBlue(c), 191, 3);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
