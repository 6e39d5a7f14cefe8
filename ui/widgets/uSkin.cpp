#include "ui/widgets/uSkin.h"

#include "ui/widgets/uSkinControls.h"

#include <processthreadsapi.h>

#include <QBitmap>
#include <QBuffer>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <map>
#include <mutex>
#include <algorithm>
#include <cmath>

#include <sys/mman.h>
#include <unistd.h>

extern "C" {
#include <gif_lib.h>
#include <jpeglib.h>
}

namespace {

// Makes the pages of a freshly made picture present in one call, before the decoder
// fills them. Touched one by one, fresh pages fault one at a time; on the virtual
// machines we measure on, those faults cost several times the decoding itself. Where the
// kernel does not know the call, the pages fault in as before.
void PrefaultPixels(QImage& image) {
#ifdef MADV_POPULATE_WRITE
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<uintptr_t>(image.bits());
  const uintptr_t begin = (at + page - 1) & ~(page - 1);
  const uintptr_t end = (at + static_cast<uintptr_t>(image.sizeInBytes())) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)image;
#endif
}

// ---- JPEG -------------------------------------------------------------------

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void JpegSilent(j_common_ptr, int) {}

// Plain C-style body: nothing with a destructor lives across the setjmp.
// Returns false and fills `message` when libjpeg gives up.
bool DecodeJpegInto(const unsigned char* data, unsigned long size, QImage* out, char* message,
                    size_t messageSize) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegSilent;
  err.message[0] = '\0';
  if (setjmp(err.jump)) {
    std::snprintf(message, messageSize, "%s", err.message);
    jpeg_destroy_decompress(&cinfo);  // frees the decoder also when decoding fails
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), size);
  jpeg_read_header(&cinfo, TRUE);
  // Full size, best quality, decoded straight into the image's 32-bit pixels: the
  // decoder writes QRgb's byte order itself, with an opaque alpha byte.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  cinfo.out_color_space = JCS_EXT_BGRA;
#else
  cinfo.out_color_space = JCS_EXT_ARGB;
#endif
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = TRUE;
  jpeg_start_decompress(&cinfo);
  *out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                QImage::Format_RGB32);
  if (out->isNull()) {
    std::snprintf(message, messageSize, "picture too large");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  PrefaultPixels(*out);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[4];
    const unsigned first = cinfo.output_scanline;
    const unsigned count = std::min(4u, cinfo.output_height - first);
    for (unsigned i = 0; i < count; ++i) rows[i] = out->scanLine(static_cast<int>(first + i));
    if (jpeg_read_scanlines(&cinfo, rows, count) == 0) break;
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// ---- GIF --------------------------------------------------------------------

struct GifSource {
  const unsigned char* data;
  size_t size;
  size_t pos;
};

int GifRead(GifFileType* gif, GifByteType* buf, int len) {
  auto* src = static_cast<GifSource*>(gif->UserData);
  const size_t n = std::min(static_cast<size_t>(len), src->size - src->pos);
  std::memcpy(buf, src->data + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

QString Text(const std::string& s) { return QString::fromStdString(s); }

TSkinErrorHook& ErrorHook() {
  static TSkinErrorHook hook;
  return hook;
}

// ---- dragging ---------------------------------------------------------------

class TDragFilter : public QObject {
 public:
  explicit TDragFilter(QWidget* source) : QObject(source) {}

 protected:
  bool eventFilter(QObject* obj, QEvent* ev) override {
    auto* w = qobject_cast<QWidget*>(obj);
    if (!w) return false;
    QWidget* win = w->window();
    switch (ev->type()) {
      case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(ev);
        if (me->button() != Qt::LeftButton) return false;
        FManual = false;
        QWindow* handle = win->windowHandle();
        if (handle && handle->startSystemMove()) return false;
        // No system move: follow the pointer ourselves until release.
        FManual = true;
        FGrab = me->globalPosition().toPoint() - win->frameGeometry().topLeft();
        return false;
      }
      case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(ev);
        if (FManual && (me->buttons() & Qt::LeftButton)) win->move(me->globalPosition().toPoint() - FGrab);
        return false;
      }
      case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(ev)->button() == Qt::LeftButton) FManual = false;
        return false;
      default:
        return false;
    }
  }

 private:
  bool FManual = false;
  QPoint FGrab;
};

}  // namespace

QByteArray ReadSkinResource(const std::string& name) {
  QFile f(QStringLiteral(":/rcdata/") + Text(name));
  if (name.empty() || !f.open(QIODevice::ReadOnly)) throw ESkinError("Resource " + name + " not found");
  return f.readAll();
}

QImage DecodeJpeg(const QByteArray& data) {
  QImage img;
  char message[JMSG_LENGTH_MAX + 32] = {};
  if (data.isEmpty() ||
      !DecodeJpegInto(reinterpret_cast<const unsigned char*>(data.constData()),
                      static_cast<unsigned long>(data.size()), &img, message, sizeof message))
    throw ESkinError(std::string("JPEG error: ") + (message[0] ? message : "no data"));
  return img;
}

QImage DecodeGif(const QByteArray& data) {
  GifSource src{reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()),
                0};
  int error = 0;
  GifFileType* gif = DGifOpen(&src, GifRead, &error);
  if (!gif) throw ESkinError(std::string("GIF error: ") + GifErrorString(error));
  QImage img;
  std::string failure;
  if (DGifSlurp(gif) != GIF_OK) {
    failure = GifErrorString(gif->Error);
  } else if (gif->ImageCount < 1 || gif->SWidth <= 0 || gif->SHeight <= 0) {
    failure = "no image";
  } else {
    const SavedImage& frame = gif->SavedImages[0];
    const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
    if (!map) {
      failure = "no colour map";
    } else {
      img = QImage(gif->SWidth, gif->SHeight, QImage::Format_RGB32);
      PrefaultPixels(img);
      const auto colour = [&](int index) {
        if (index < 0 || index >= map->ColorCount) return qRgb(0, 0, 0);
        const GifColorType& c = map->Colors[index];
        return qRgb(c.Red, c.Green, c.Blue);
      };
      img.fill(gif->SColorMap ? colour(gif->SBackGroundColor) : qRgb(0, 0, 0));
      const GifImageDesc& d = frame.ImageDesc;
      for (int y = 0; y < d.Height; ++y) {
        const int ty = d.Top + y;
        if (ty < 0 || ty >= img.height()) continue;
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(ty));
        for (int x = 0; x < d.Width; ++x) {
          const int tx = d.Left + x;
          if (tx < 0 || tx >= img.width()) continue;
          line[tx] = colour(frame.RasterBits[static_cast<size_t>(y) * d.Width + x]);
        }
      }
    }
  }
  int closeError = 0;
  DGifCloseFile(gif, &closeError);
  if (!failure.empty()) throw ESkinError("GIF error: " + failure);
  return img;
}

namespace {

// A skin picture decoded once per run: the resources never change, and the same
// pictures recur on every window and at every hover of a button. The images handed out
// share the decoded pixels until one of them is changed. A window that asks for a
// picture the start-up prefetch is still decoding decodes it too rather than wait: on a
// busy machine the prefetch thread may be put aside for many milliseconds. The first
// decoded copy is kept.
struct TPictureCache {
  struct Slot {
    bool ready = false;
    QImage image;
  };
  std::mutex mu;
  std::map<std::string, Slot> entries;
};

TPictureCache& Pictures() {
  static TPictureCache cache;
  return cache;
}

// The picture, decoded here unless already decoded. `prefetch`: nothing is done when
// another thread has already begun it (the result is then empty). `bytes`: the
// resource's content when the caller has read it already.
QImage SkinPicture(const std::string& name, bool gif, bool prefetch = false, const QByteArray& bytes = {}) {
  TPictureCache& cache = Pictures();
  const std::string key = (gif ? "gif:" : "jpeg:") + name;
  {
    std::lock_guard<std::mutex> lock(cache.mu);
    const auto it = cache.entries.find(key);
    if (it != cache.entries.end()) {
      if (it->second.ready) return it->second.image;
      if (prefetch) return QImage();
    } else {
      cache.entries[key];  // being decoded
    }
  }
  QImage img;
  try {
    const QByteArray data = bytes.isEmpty() ? ReadSkinResource(name) : bytes;
    img = gif ? DecodeGif(data) : DecodeJpeg(data);
  } catch (...) {
    std::lock_guard<std::mutex> lock(cache.mu);
    const auto it = cache.entries.find(key);
    if (it != cache.entries.end() && !it->second.ready)
      cache.entries.erase(it);  // whoever asks next decodes it and meets the error itself
    throw;
  }
  std::lock_guard<std::mutex> lock(cache.mu);
  TPictureCache::Slot& slot = cache.entries[key];
  if (!slot.ready) {
    slot.image = img;
    slot.ready = true;
  }
  return slot.image;
}

}  // namespace

void LoadJpegResource(const std::string& name, QImage& target) { target = SkinPicture(name, false); }

void LoadJpegResource(const std::string& name, TImage* target) {
  if (!target) return;
  target->SetPicture(SkinPicture(name, false));
}

void LoadGifResource(const std::string& name, QImage& target) { target = SkinPicture(name, true); }

void LoadGifResource(const std::string& name, TImage* target) {
  if (!target) return;
  target->SetPicture(SkinPicture(name, true));
}

TSkinPrefetch::TSkinPrefetch(const std::vector<std::string>& pictures) {
  QThread::currentThread();  // Qt takes the first thread that asks as its main thread
  thread_ = std::thread([this, pictures] {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    for (const std::string& name : pictures) {
      if (stop_) return;
      try {
        // Read once: its first bytes tell the decoder, the rest is decoded.
        const QByteArray bytes = ReadSkinResource(name);
        if (bytes.startsWith("GIF8"))
          SkinPicture(name, true, true, bytes);
        else if (bytes.startsWith("\xFF\xD8"))
          SkinPicture(name, false, true, bytes);
      } catch (const ESkinError&) {
        // Reported by the window that asks for it.
      }
    }
  });
}

TSkinPrefetch::~TSkinPrefetch() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void RoundCloseButtonCorners(QImage& bitmap) {
  const int W = bitmap.width(), H = bitmap.height();
  if (W < 2 || H < 2) return;
  if (bitmap.format() != QImage::Format_RGB32 && bitmap.format() != QImage::Format_ARGB32)
    bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
  const QRgb white = qRgb(255, 255, 255);
  const int pts[6][2] = {{W - 1, H - 1}, {W - 2, H - 1}, {W - 1, H - 2}, {0, H - 1}, {1, H - 1}, {0, H - 2}};
  for (const auto& p : pts) bitmap.setPixel(p[0], p[1], white);
}

QRegion RoundRectRegion(int width, int height, int ew, int eh) {
  // Row by row: a row is the full width minus, near the top and bottom, the
  // part outside the corner ellipses (radii ew/2, eh/2).
  QRegion region;
  if (width <= 0 || height <= 0) return region;
  const double a = std::max(1, ew) / 2.0, b = std::max(1, eh) / 2.0;
  for (int y = 0; y < height; ++y) {
    int inset = 0;
    const double cy = y + 0.5;
    double dy = 0;
    if (cy < b)
      dy = b - cy;
    else if (cy > height - b)
      dy = cy - (height - b);
    if (dy > 0) {
      const double t = 1.0 - (dy * dy) / (b * b);
      const double dx = t > 0 ? a * std::sqrt(t) : 0;
      inset = static_cast<int>(std::lround(a - dx));
    }
    if (width - 2 * inset > 0) region += QRect(inset, y, width - 2 * inset, 1);
  }
  return region;
}

void SetRoundWindowRegion(QWidget* window, int width, int height, int ew, int eh) {
  if (!window) return;
  window->setMask(RoundRectRegion(width, height, ew, eh));
}

void MakeDragSource(QWidget* source) {
  if (!source) return;
  source->installEventFilter(new TDragFilter(source));
}

void SetSkinErrorHook(TSkinErrorHook hook) { ErrorHook() = std::move(hook); }

void ShowSkinError(const std::string& message) {
  if (ErrorHook()) {
    ErrorHook()(message);
    return;
  }
  QMessageBox::critical(nullptr, QStringLiteral("Korvane"), Text(message));
}

void RunSkinGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const ESkinError& e) {
    ShowSkinError(e.what());
  }
}

void CentreOnScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect g = screen->availableGeometry();
  // QRect::center() rounds the far edge down, which put windows a pixel up and left.
  window->move(g.x() + (g.width() - window->width()) / 2, g.y() + (g.height() - window->height()) / 2);
}

const std::vector<QImage>& ProgramIconImages() {
  // Decoded once per run: every window carries it.
  static const std::vector<QImage> images = [] {
    std::vector<QImage> sizes;
    QFile file(QStringLiteral(":/rcdata/MAINICON"));
    if (!file.open(QIODevice::ReadOnly)) return sizes;
    QByteArray data = file.readAll();
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "ico");
    // Every size the icon file carries (16 and 32 pixels).
    for (int i = 0; i < std::max(reader.imageCount(), 1); ++i) {
      if (i > 0 && !reader.jumpToImage(i)) break;
      const QImage image = reader.read();
      if (!image.isNull()) sizes.push_back(image);
    }
    return sizes;
  }();
  return images;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const QImage& image : ProgramIconImages()) icon.addPixmap(QPixmap::fromImage(image));
  return icon;
}
