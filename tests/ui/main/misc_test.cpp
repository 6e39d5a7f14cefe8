#include "skin_form_fixture.h"

#include "core/uThread.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/main/uSaveDialog.h"
#include "ui/widgets/uText.h"

#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

class SyncThread : public TThread {
 public:
  std::atomic<bool> ranOnUi{false};

 protected:
  void Execute() override {
    Synchronize([this] { ranOnUi = UiQueue()->IsUiThread(); });
  }
};

TEST(QtUiQueue, SynchronizeRunsOnTheEventLoop) {
  TQtUiQueue queue;
  InstallUiQueue(&queue);
  EXPECT_TRUE(queue.IsUiThread());
  SyncThread t;
  bool terminated = false;
  t.OnTerminate = [&](TThread&) { terminated = QThread::currentThread() == qApp->thread(); };
  t.Start();
  for (int i = 0; i < 200 && !terminated; ++i) QTest::qWait(10);
  EXPECT_TRUE(t.ranOnUi);
  EXPECT_TRUE(terminated);
  t.WaitFor();
  CloseUiQueue();
  InstallUiQueue(nullptr);
}

TEST(SaveDialog, HookAnswersWithoutShowing) {
  std::string offered;
  auto chosen = std::make_unique<TScopedSaveDialogHook>([&](TSaveDialog& d) {
    offered = d.FileName;
    d.FileName = "/tmp/chosen.zip";
    return true;
  });
  TSaveDialog dlg;
  dlg.Title = "Choose folder for save...";
  dlg.FileName = "driver.zip";
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(offered, "driver.zip");
  EXPECT_EQ(dlg.FileName, "/tmp/chosen.zip");
  {
    TScopedSaveDialogHook cancelled([](TSaveDialog&) { return false; });
    EXPECT_FALSE(dlg.Execute());
  }
  chosen.reset();
}

TEST(Text, CodePageConversions) {
  EXPECT_EQ(AnsiToQ("caf\xe9 \x80"), QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));
  EXPECT_EQ(QToAnsi(QString::fromUtf8("\xe2\x82\xac\xc3\xa9")), "\x80\xe9");
}

TEST(HalfBrightness, EveryChannelHalved) {
  QImage img(2, 1, QImage::Format_RGB32);
  img.setPixel(0, 0, qRgb(255, 128, 0));
  img.setPixel(1, 0, qRgb(1, 2, 254));
  const QImage h = HalfBrightness(img);
  EXPECT_EQ(h.pixel(0, 0) & 0xFFFFFF, static_cast<QRgb>(qRgb(128, 64, 0) & 0xFFFFFF));
  EXPECT_EQ(h.pixel(1, 0) & 0xFFFFFF, static_cast<QRgb>(qRgb(0, 1, 127) & 0xFFFFFF));
}

}  // namespace
