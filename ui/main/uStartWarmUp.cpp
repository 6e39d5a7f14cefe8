#include "ui/main/uStartWarmUp.h"

#include "ui/widgets/uSkin.h"

#include <processthreadsapi.h>

#include <QDBusConnection>
#include <QFontDatabase>
#include <QThread>

#include <fontconfig/fontconfig.h>

TStartWarmUp::TStartWarmUp() {
  QThread::currentThread();  // Qt takes the first thread that asks as its main thread
  // Qt's shared connection: the bridge finds it made. Without an address libdbus
  // autolaunches a bus by forking; its child only closes descriptors and execs
  // (libdbus is bound at load, and glibc's fork keeps the allocator usable).
  FBus = std::thread([] { QDBusConnection::sessionBus(); });
  // Reading and parsing every fontconfig file is most of the font database's cost. At
  // the lowest priority, as a head start only: the core it uses is the X server's too,
  // which the application's set-up waits for. Nothing waits for this thread: had it not
  // finished, Qt would read the configuration itself.
  FFontConfig = std::thread([] {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    FcInit();
  });
}

void TStartWarmUp::ApplicationReady() {
  // At normal priority: the windows wait for both (the icon first, then the first text),
  // and the font database holds its lock while it is filled.
  FFonts = std::thread([] {
    ProgramIconImages();
    QFontDatabase::families();
  });
}

TStartWarmUp::~TStartWarmUp() {
  for (std::thread* t : {&FFonts, &FFontConfig, &FBus})
    if (t->joinable()) t->join();
}
