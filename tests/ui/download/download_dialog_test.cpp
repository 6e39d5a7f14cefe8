// The download dialog on the offscreen platform: the save dialog and the
// modal runs are scripted, the transfer is real (reference server or a small
// loopback server), the completion notice goes to a recording message dialog.
#include "ui/download/uDownForm.h"
#include "ui/download/uDownloads.h"

#include "support/RawServer.h"
#include "ui/widgets/cm_LSVGauges.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "support/FakeTray.h"
#include "ui/main/uInfo.h"
#include "ui/main/skin_form_fixture.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "support/UpdateServerProcess.h"
#include "download/download_test_support.h"

#include <korvane_machine.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvane::testing::UpdateServerProcess;

bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 30000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

struct TNotice {
  std::string Message;
  std::string Link;
};

class DownFormTest : public SkinFormTest {
 protected:
  void SetUp() override {
    SkinFormTest::SetUp();
    modal_.reset();  // the dialogs' own modal hooks, and real modal runs where a test asks
    LoadServerUrls();
    queue_ = std::make_unique<TQtUiQueue>();
    InstallUiQueue(queue_.get());
    tray_.emplace();
    main_ = std::make_unique<TMainForm>();
    info_ = std::make_unique<TInfoForm>(*main_);
    main_->Dialogs.Info = info_.get();
    info_->ModalHook = [this](TSkinForm&) {
      notices_.push_back({info_->MessageText, info_->LinkText});
      return mrOk;
    };
    form_ = std::make_unique<TDownForm>(*main_);
    main_->Dialogs.Download = form_.get();
    form_->ReadTimeout = 5000;
    // The modal run: the event loop turns until the dialog has its result.
    form_->ModalHook = [this](TSkinForm& f) {
      ++modalRuns_;
      labelAtStart_ = form_->Label3->text().toStdString();
      while (f.ModalResult() == mrNone) {
        if (duringRun_) duringRun_();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      }
      return f.ModalResult();
    };
    saveHook_.emplace([this](TSaveDialog& d) {
      offered_.push_back(d.FileName);
      titles_.push_back(d.Title);
      if (choices_.empty()) return false;
      d.FileName = choices_.front();
      choices_.erase(choices_.begin());
      return true;
    });
  }
  void TearDown() override {
    if (form_) WaitFor([this] { return form_->DownThread() == nullptr; });
    saveHook_.reset();
    if (main_) main_->Dialogs = TMainDialogs();
    form_.reset();
    info_.reset();
    main_.reset();
    tray_.reset();
    QCoreApplication::processEvents();
    InstallUiQueue(nullptr);
    queue_.reset();
    SkinFormTest::TearDown();
    LoadServerUrls();
  }

  // "Download" on a driver: what the pages call.
  void StartDownload(const std::string& url) { main_->Dialogs.Download->DownloadPackage(url); }
  void Download(const std::string& url) {
    StartDownload(url);
    ASSERT_TRUE(WaitFor([this] { return form_->DownThread() == nullptr; }));
  }

  nettest::TempDir tmp_;  // where the packages are saved
  std::unique_ptr<TQtUiQueue> queue_;
  std::optional<ScopedFakeTray> tray_;
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TInfoForm> info_;
  std::unique_ptr<TDownForm> form_;
  std::optional<TScopedSaveDialogHook> saveHook_;
  std::vector<std::string> choices_;  // paths the save dialog answers with in turn; Cancel after
  std::vector<std::string> offered_;  // default names it was opened with
  std::vector<std::string> titles_;
  std::vector<TNotice> notices_;
  std::function<void()> duringRun_;
  std::string labelAtStart_;
  int modalRuns_ = 0;
};

TEST_F(DownFormTest, LayoutAndSkin) {
  EXPECT_EQ(form_->width(), 405);
  EXPECT_EQ(form_->height(), 162);
  EXPECT_EQ(form_->ImBtnCancel->geometry(), QRect(160, 120, 91, 32));
  EXPECT_EQ(form_->ImBtnClose->geometry(), QRect(340, 2, 41, 15));
  EXPECT_EQ(form_->DownProg->geometry(), QRect(22, 76, 362, 19));
  EXPECT_EQ(form_->Label4->geometry(), QRect(277, 96, 105, 14));
  EXPECT_EQ(form_->Label6->text(), QStringLiteral("File name:"));
  EXPECT_EQ(form_->Label2->text(), QStringLiteral("File size:"));
  EXPECT_EQ(form_->Label3->text(), QStringLiteral("requesting..."));
  EXPECT_EQ(form_->DownProg->TextureOnFore().size(), QSize(362, 19));
  EXPECT_EQ(form_->DownProg->TextureOnBack().size(), QSize(362, 19));
  EXPECT_EQ(form_->DownSD.Title, "Choose folder for save...");
  EXPECT_EQ(form_->DownProg->Text(), QStringLiteral("%d%%"));
  EXPECT_EQ(form_->DownProg->GaugeFont().Font.family(), QStringLiteral("Arial"));
  EXPECT_EQ(form_->DownProg->GaugeFont().Font.pixelSize(), 11);
  EXPECT_EQ(form_->Label1->font().pixelSize(), 13);
  EXPECT_EQ(form_->Label5->font().pixelSize(), 11);
  EXPECT_EQ(form_->Label4->font().pixelSize(), 11);
  EXPECT_EQ(form_->ImBtnCancel->State(), "_NA");
  EXPECT_EQ(form_->Image1->Picture().size(), QSize(405, 162));
  EXPECT_TRUE(skinErrors_.empty()) << skinErrors_.front();
}

TEST_F(DownFormTest, SuccessfulDownloadShowsTheNoticeWithTheFaqLink) {
  if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
  UpdateServerProcess srv;
  const std::string body(1536 * 1024 + 7, 'k');
  nettest::WriteFile(srv.PackagesDir() + "/sis_900.zip", body);
  const std::string dest = tmp_.File("sis_900.zip");
  choices_ = {dest};
  Download(srv.HttpBase() + "/packages/sis_900.zip");
  EXPECT_EQ(offered_, std::vector<std::string>{"sis_900.zip"});
  EXPECT_EQ(titles_, std::vector<std::string>{"Choose folder for save..."});
  EXPECT_EQ(modalRuns_, 1);
  EXPECT_EQ(labelAtStart_, "requesting...");  // the first download
  EXPECT_EQ(nettest::ReadFile(dest), body);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].Message, "Downloading completed. File has been saved to \r\n" + dest +
                                     "\r\n\r\nIf you have any questions please read our FAQ:");
  EXPECT_EQ(notices_[0].Link, VendorURL() + "/kvn/faq");
  EXPECT_EQ(form_->ModalResult(), mrOk);
  EXPECT_EQ(form_->Label1->text(), QStringLiteral("sis_900.zip"));
  EXPECT_EQ(form_->Label3->text(), QStringLiteral("1.5 MB"));
  EXPECT_TRUE(form_->Label5->text().startsWith(QStringLiteral("1.5 MB from 1.5 MB, elapsed 00:00:0")));
  EXPECT_TRUE(form_->Label4->text().startsWith(QStringLiteral("Speed ")));
  EXPECT_TRUE(form_->Label4->text().endsWith(QStringLiteral(" kb/s")));
  EXPECT_EQ(form_->DownProg->MaxValue(), static_cast<int32_t>(body.size()));
  EXPECT_EQ(form_->DownProg->Percent(), 100);
  EXPECT_EQ(form_->LastSaved(), dest);

  // The next download resets only the gauge and the file name at its start.
  choices_ = {tmp_.File("again.zip")};
  form_->DownProg->SetProgress(form_->DownProg->MaxValue());
  Download(srv.HttpBase() + "/packages/sis_900.zip");
  EXPECT_EQ(labelAtStart_, "1.5 MB");
  EXPECT_EQ(notices_.size(), 2u);
}

TEST_F(DownFormTest, SaveDialogCancelledRunsNothing) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
  });
  Download(srv.Base() + "/p.exe");
  EXPECT_EQ(modalRuns_, 0);
  EXPECT_EQ(srv.Accepted(), 0);
  EXPECT_TRUE(notices_.empty());
}

TEST_F(DownFormTest, AHiddenNameIsOfferedWithoutItsLeadingDots) {
  Download("http://127.0.0.1:9/..profile");  // cancelled at the save dialog
  EXPECT_EQ(offered_, std::vector<std::string>{"profile"});
}

TEST_F(DownFormTest, UrlEndingInSlashOffersAnEmptyName) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
  });
  form_->Label1->SetText(QStringLiteral("stale"));
  choices_ = {tmp_.File("index.html")};
  Download(srv.Base() + "/packages/");
  EXPECT_EQ(offered_, std::vector<std::string>{""});
  EXPECT_EQ(form_->Label1->text(), QString());
  EXPECT_EQ(nettest::ReadFile(tmp_.File("index.html")), "abc");
}

TEST_F(DownFormTest, ReadOnlyFolderWarnsAndAsksAgainWithTheLastPath) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
  });
  std::string folder = "/sys";
  if (::geteuid() != 0) {
    folder = tmp_.File("ro");
    ::mkdir(folder.c_str(), 0555);
  }
  const std::string bad = folder + "/p.exe";
  const std::string good = tmp_.File("p.exe");
  choices_ = {bad, good};
  Download(srv.Base() + "/p.exe");
  EXPECT_EQ(offered_, (std::vector<std::string>{"p.exe", bad}));
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[0].Message, "Selected directory is not writeable. Select another directory.");
  EXPECT_EQ(notices_[0].Link, "");
  EXPECT_NE(notices_[1].Message.find(good), std::string::npos);
  EXPECT_EQ(nettest::ReadFile(good), "abc");
}

TEST_F(DownFormTest, ErrorStatusClosesWithoutNoticeOrFile) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  choices_ = {tmp_.File("p.exe")};
  Download(srv.Base() + "/p.exe");
  EXPECT_EQ(modalRuns_, 1);
  EXPECT_EQ(form_->ModalResult(), mrOk);  // closed by the end of the thread
  EXPECT_TRUE(notices_.empty());
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
}

TEST_F(DownFormTest, FailedTransferOverAnExistingFileKeepsItAndSaysNothing) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string dest = tmp_.File("p.exe");
  nettest::WriteFile(dest, "from last week");
  choices_ = {dest};
  Download(srv.Base() + "/p.exe");
  EXPECT_TRUE(notices_.empty());  // a file at the path proves nothing about this transfer
  EXPECT_EQ(nettest::ReadFile(dest), "from last week");
}

TEST_F(DownFormTest, CancelMidTransferClosesAtOnceAndKeepsTheOldFile) {
  std::atomic<bool> peerClosed{false};
  nettest::RawServer srv([&](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n");
    const std::string piece(4096, 'p');
    for (int i = 0; i < 3000 && !srv.Stopping(); ++i) {
      if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0) {
        peerClosed = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const std::string dest = tmp_.File("p.exe");
  nettest::WriteFile(dest, "older");
  choices_ = {dest};
  bool clicked = false;
  duringRun_ = [&] {
    if (!clicked && form_->DownProg->Progress() > 40000) {
      clicked = true;
      form_->ImBtnCancel->SimulateClick();
      EXPECT_EQ(form_->ModalResult(), mrCancel);
    }
  };
  Download(srv.Base() + "/p.exe");
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(nettest::ReadFile(dest), "older");
  EXPECT_EQ(Entries(tmp_.Path()), (std::vector<std::string>{"p.exe"}));
  for (int i = 0; i < 100 && !peerClosed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(peerClosed);
}

TEST_F(DownFormTest, CloseButtonStopsLikeCancel) {
  nettest::RawServer srv([&](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n");
    const std::string piece(4096, 'p');
    for (int i = 0; i < 3000 && !srv.Stopping(); ++i) {
      if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  choices_ = {tmp_.File("p.exe")};
  bool clicked = false;
  duringRun_ = [&] {
    if (!clicked && form_->DownProg->Progress() > 0) {
      clicked = true;
      form_->ImBtnClose->SimulateClick();
    }
  };
  Download(srv.Base() + "/p.exe");
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(notices_.empty());
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
}

// A server that sends the head and a little of the body, then nothing.
class StalledServer {
 public:
  StalledServer()
      : srv_([](int fd, const std::string&) {
          nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(1000, 's'));
          nettest::WaitPeerClose(fd, 10000);
        }) {}
  std::string Base() const { return srv_.Base(); }

 private:
  nettest::RawServer srv_;
};

TEST_F(DownFormTest, ACancelledDownloadEndingLaterLeavesTheNextOneAlone) {
  StalledServer stalled;
  nettest::RawServer good([&](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 40960\r\n\r\n");
    for (int i = 0; i < 40 && !good.Stopping(); ++i) {
      nettest::SendAll(fd, std::string(1024, 'g'));
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  });
  form_->ReadTimeout = 400;  // the stalled transfer ends while the next one runs
  choices_ = {tmp_.File("first.exe"), tmp_.File("second.exe")};
  bool cancelled = false;
  duringRun_ = [&] {
    if (!cancelled && form_->DownProg->Progress() > 0) {
      cancelled = true;
      form_->ImBtnCancel->SimulateClick();
    }
  };
  StartDownload(stalled.Base() + "/first.exe");
  ASSERT_TRUE(cancelled);
  ASSERT_NE(form_->DownThread(), nullptr);  // still waiting for data
  duringRun_ = nullptr;
  StartDownload(good.Base() + "/second.exe");
  // The run ended with the second transfer, not with the first one's end.
  EXPECT_EQ(form_->DownThread(), nullptr);
  EXPECT_EQ(nettest::ReadFile(tmp_.File("second.exe")), std::string(40960, 'g'));
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_[0].Message.find("second.exe"), std::string::npos);
  EXPECT_NE(::access(tmp_.File("first.exe").c_str(), F_OK), 0);
}

TEST_F(DownFormTest, DialogGoneWhileACancelledDownloadEnds) {
  StalledServer stalled;
  form_->ReadTimeout = 300;
  choices_ = {tmp_.File("p.exe")};
  bool cancelled = false;
  duringRun_ = [&] {
    if (!cancelled && form_->DownProg->Progress() > 0) {
      cancelled = true;
      form_->ImBtnCancel->SimulateClick();
    }
  };
  StartDownload(stalled.Base() + "/p.exe");
  ASSERT_TRUE(cancelled);
  ASSERT_GT(TThread::LiveCount(), 0);
  main_->Dialogs.Download = nullptr;
  form_.reset();  // the program ending
  EXPECT_TRUE(WaitFor([] { return TThread::LiveCount() == 0; }, 10000));
  EXPECT_TRUE(notices_.empty());
  EXPECT_NE(::access(tmp_.File("p.exe").c_str(), F_OK), 0);
}

TEST_F(DownFormTest, RealModalRunEndsWithTheTransferOrWithCancel) {
  nettest::RawServer srv([&](int fd, const std::string& req) {
    const bool slow = req.find("/slow.exe") != std::string::npos;
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 409600\r\n\r\n");
    for (int i = 0; i < 100 && !srv.Stopping(); ++i) {
      if (::send(fd, std::string(4096, 'r').data(), 4096, MSG_NOSIGNAL) <= 0) return;
      if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  form_->ModalHook = nullptr;  // the dialog's own event loop
  choices_ = {tmp_.File("fast.exe")};
  StartDownload(srv.Base() + "/fast.exe");
  EXPECT_EQ(form_->DownThread(), nullptr);  // the end of the transfer ended the run
  EXPECT_EQ(nettest::ReadFile(tmp_.File("fast.exe")).size(), 409600u);
  EXPECT_EQ(notices_.size(), 1u);
  EXPECT_FALSE(form_->isVisible());

  choices_ = {tmp_.File("slow.exe")};
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (form_->isVisible() && form_->DownProg->Progress() > 8192) {
      poll.stop();
      form_->ImBtnCancel->SimulateClick();
    }
  });
  poll.start();
  StartDownload(srv.Base() + "/slow.exe");
  EXPECT_EQ(form_->ModalResult(), mrCancel);
  EXPECT_FALSE(form_->isVisible());
  ASSERT_TRUE(WaitFor([this] { return form_->DownThread() == nullptr; }));
  EXPECT_EQ(notices_.size(), 1u);
  EXPECT_NE(::access(tmp_.File("slow.exe").c_str(), F_OK), 0);
}

}  // namespace
