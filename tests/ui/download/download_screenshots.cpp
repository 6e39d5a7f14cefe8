// Renders the download dialog to PNG in the middle of a real transfer from a
// loopback server, and the completion notice after it. Usage:
//   download_screenshots OUTDIR
#include "ui/download/uDownForm.h"
#include "ui/download/uDownloads.h"

#include "support/RawServer.h"
#include "ui/widgets/cm_LSVGauges.h"
#include "resources/kvresources.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uQtUiQueue.h"

#include <QApplication>
#include <QCoreApplication>
#include <QImage>

#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace {

void Save(QWidget* w, const std::string& path) {
  const QImage img = w->grab().toImage();
  if (!img.save(QString::fromStdString(path))) std::cerr << "download_screenshots: cannot write " << path << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: download_screenshots OUTDIR\n";
    return 2;
  }
  const std::string out = argv[1];
  nettest::TempDir tmp;
  ::setenv("KORVANE_MACHINE", tmp.Path().c_str(), 1);
  QApplication app(argc, argv);
  KorvaneInitResources();
  TQtUiQueue queue;
  InstallUiQueue(&queue);
  {
    const int64_t size = 3 * 1048576 + 512 * 1024;
    nettest::RawServer srv([&](int fd, const std::string&) {
      nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
      const std::string piece(16384, 'd');
      for (int64_t left = size; left > 0 && !srv.Stopping(); left -= static_cast<int64_t>(piece.size())) {
        nettest::SendAll(fd, piece.substr(0, static_cast<std::size_t>(std::min<int64_t>(left, piece.size()))));
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
      }
    });
    TMainForm main;
    TInfoForm info(main);
    auto form = std::make_unique<TDownForm>(main);
    main.Dialogs.Info = &info;
    main.Dialogs.Download = form.get();
    TScopedSaveDialogHook saveHook([&](TSaveDialog& d) {
      d.FileName = tmp.File(d.FileName);
      return true;
    });
    bool shot = false;
    form->ModalHook = [&](TSkinForm& f) {
      while (f.ModalResult() == mrNone) {
        if (!shot && form->DownProg->Percent() >= 42) {
          shot = true;
          Save(form.get(), out + "/download_progress.png");
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      }
      return f.ModalResult();
    };
    info.ModalHook = [&](TSkinForm& f) {
      Save(&f, out + "/download_completed.png");
      return mrOk;
    };
    form->DownloadPackage(srv.Base() + "/packages/nvidia_nforce_15.23_winxp.exe");
    while (form->DownThread()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    main.Dialogs = TMainDialogs();
  }
  InstallUiQueue(nullptr);
  return 0;
}
