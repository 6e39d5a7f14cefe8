// Skin operations shared by every window: pictures decoded from the program's
// resources (":/rcdata/<NAME>") at each use, rounded window regions, dragging
// by the background, the dialogs' close-button touch-up, and the standard
// message box that reports a packaging fault (a missing picture).
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QRegion>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class QWidget;
class TImage;

// A picture that cannot be had: missing resource or undecodable data.
class ESkinError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The bytes of resource `name`; raises ESkinError naming it when absent.
QByteArray ReadSkinResource(const std::string& name);
// Decoders of whole streams (libjpeg: full size, 24-bit; giflib: first frame).
QImage DecodeJpeg(const QByteArray& data);
QImage DecodeGif(const QByteArray& data);

// Decode resource `name` into the target picture. On any error the target
// keeps its previous picture and ESkinError is raised.
void LoadJpegResource(const std::string& name, QImage& target);
void LoadJpegResource(const std::string& name, TImage* target);
void LoadGifResource(const std::string& name, QImage& target);
void LoadGifResource(const std::string& name, TImage* target);

// Decodes the given skin pictures, in the order given (the order the windows ask for
// them), on a thread of its own while the program starts, so that the windows find them
// decoded; one asked for sooner is decoded where it is asked
// for (also while this thread is at it). The thread runs at the lowest priority: it is a
// head start only, and must not take a core from the window thread or the X server.
// It needs no application object, only the resources registered, so it can be made
// before the application; the constructing thread must be Qt's main thread. Destroying
// it stops and joins the thread.
class TSkinPrefetch {
 public:
  explicit TSkinPrefetch(const std::vector<std::string>& pictures);
  ~TSkinPrefetch();
  TSkinPrefetch(const TSkinPrefetch&) = delete;
  TSkinPrefetch& operator=(const TSkinPrefetch&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// White lower corners (three pixels each) of a dialog's close button.
void RoundCloseButtonCorners(QImage& bitmap);

// The rounded rectangle (0, 0)-(width, height) with corner ellipse ew x eh,
// pixel for pixel as the window system's round-rect region.
QRegion RoundRectRegion(int width, int height, int ew, int eh);
// Shapes a top-level window once, at creation.
void SetRoundWindowRegion(QWidget* window, int width, int height, int ew, int eh);

// Places a window exactly in the middle of its screen's available area.
void CentreOnScreen(QWidget* window);
// The program's icon "MAINICON" (16 and 32 pixels) for every window.
QIcon ProgramIcon();
// Its pictures, decoded once per run (any thread, once the application exists).
const std::vector<QImage>& ProgramIconImages();

// Makes `source` drag its top-level window with the left button (the window
// system's move; a manual move where the platform has none). Other buttons
// do nothing.
void MakeDragSource(QWidget* source);

// Runs a handler; a skin error stops it and is shown in a standard message box.
void RunSkinGuarded(const std::function<void()>& handler);
// Shows the error of a failed picture load (standard message box; tests may hook it).
void ShowSkinError(const std::string& message);
using TSkinErrorHook = std::function<void(const std::string& message)>;
void SetSkinErrorHook(TSkinErrorHook hook);
