// The window without a mouse, as a keyboard user and a screen reader meet it: Tab in
// reading order with the header buttons last, the focus mark only while the keyboard
// is in use, Enter and Space on the image buttons and check boxes, the results list's
// keys, Esc on the settings page and in the dialogs, and the accessible names, roles
// and states of the pages' controls.
#include "pages_fixture.h"

#include "ui/main/MainUnit.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame2.h"
#include "ui/pages/uFrame3.h"
#include "ui/pages/uFrame4.h"
#include "ui/widgets/uKeyboard.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uStringGrid.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

namespace {

QImage Picture(const std::string& name) {
  QImage img;
  LoadJpegResource(name, img);
  return img.convertToFormat(QImage::Format_RGB32);
}

QImage Shown(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

std::vector<std::string> Names(const std::vector<QWidget*>& chain) {
  std::vector<std::string> names;
  for (QWidget* w : chain) names.push_back(w->objectName().toStdString());
  return names;
}

}  // namespace

class KeyboardTest : public PagesServerTest {
 protected:
  void Open() {
    OpenOnFixture();
    main_->ShowStep(1, true);
    main_->show();
    QApplication::setActiveWindow(main_.get());
    WaitFor([this] { return QApplication::activeWindow() == main_.get(); }, 5000);
  }
  // A key as the user presses it: to the focused control.
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* w = QApplication::focusWidget();
    QTest::keyClick(w ? w : main_.get(), static_cast<Qt::Key>(key), modifiers);
    QCoreApplication::processEvents();
  }
  // Tabs until `target` has the focus (at most once round the chain).
  bool TabTo(QWidget* target) {
    for (int i = 0; i < 30 && QApplication::focusWidget() != target; ++i) Key(Qt::Key_Tab);
    return QApplication::focusWidget() == target;
  }
};

TEST_F(KeyboardTest, StartPageToTheResultsAndADownloadByKeysAlone) {
  Open();
  TFrame1* f1 = Frame1();
  // Reading order: the page's controls first, the header buttons last.
  const std::vector<std::string> chain = Names(TabChain(main_.get()));
  ASSERT_GE(chain.size(), 6u);
  EXPECT_EQ(chain[chain.size() - 6], "ImBtnScanNow");
  const std::vector<std::string> header(chain.end() - 5, chain.end());
  // The window's own buttons in reading order: Minimize and Close at the top, then
  // Settings, Help and About at the foot.
  EXPECT_EQ(header,
            (std::vector<std::string>{"ImBtnMin", "ImBtnClose", "ImBtnSettings", "ImBtnHelp", "ImBtnAbout"}));
  if (f1->ts1Label33->isVisible()) {
    EXPECT_EQ(chain.front(), "ts1Label33");  // "Install Now", left of Scan Now
  }

  // The focus mark: the hover picture while the keyboard is in use, none for the mouse.
  ASSERT_TRUE(TabTo(f1->ImBtnScanNow));
  EXPECT_TRUE(KeyboardInUse());
  EXPECT_EQ(Shown(f1->ImBtnScanNow), Picture("BTNSCANNOW_A"));
  EXPECT_EQ(f1->ImBtnScanNow->State(), "_NA");  // the pointer's pictures are untouched
  QTest::mousePress(f1->ImBgFrame, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  QTest::mouseRelease(f1->ImBgFrame, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_FALSE(KeyboardInUse());
  EXPECT_EQ(Shown(f1->ImBtnScanNow), Picture("BTNSCANNOW_NA"));
  // Shift+Tab goes back round to the last header button.
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(KeyboardInUse());
  Key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), f1->ImBtnScanNow);

  // Enter is the button's click: the scan runs and the results come.
  Key(Qt::Key_Return);
  ASSERT_TRUE(Frame2()->Scanning() || main_->CurrentStep == 3);
  ASSERT_TRUE(WaitFor([this] { return !Frame2()->Scanning() && main_->CurrentStep == 3; }));
  TFrame3* f3 = Frame3();
  ASSERT_TRUE(WaitFor([f3] { return QApplication::focusWidget() == f3->sgDrvList; }, 5000));

  // The list's keys move a selection drawn only for the keyboard.
  Key(Qt::Key_Home);
  EXPECT_EQ(f3->sgDrvList->Row(), 0);
  EXPECT_TRUE(f3->IsClassRow(0));
  Key(Qt::Key_End);
  const int last = f3->sgDrvList->Row();
  EXPECT_EQ(last, f3->sgDrvList->RowCount() - 1);
  Key(Qt::Key_PageUp);
  EXPECT_LT(f3->sgDrvList->Row(), last);
  Key(Qt::Key_Home);
  int nv = -1;
  for (int i = 0; i < f3->sgDrvList->RowCount() && nv < 0; ++i) {
    if (f3->sgDrvList->Cell(0, f3->sgDrvList->Row()) == QStringLiteral("NVIDIA GeForce FX 5200"))
      nv = f3->sgDrvList->Row();
    else
      Key(Qt::Key_Down);
  }
  ASSERT_GE(nv, 0);
  const QImage selected = Shown(f3->sgDrvList->viewport());
  SetKeyboardInUse(false);
  EXPECT_NE(Shown(f3->sgDrvList->viewport()), selected);  // the mouse user's picture has no selection
  SetKeyboardInUse(true);

  // Enter opens the driver's information dialog; D downloads its newer driver.
  answer_ = [](TSkinForm&) { return mrCancel; };
  Key(Qt::Key_Return);
  ASSERT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(modalCalls_[0].Form, "TDrvInfoForm2");
  EXPECT_EQ(info2_->RecordIndex, f3->RecordOf(nv));
  Key(TFrame3::kDownloadKey);
  ASSERT_EQ(downloads_.size(), 1u);
  EXPECT_EQ(downloads_[0], server_->HttpBase() + "/packages/nvidia-forceware-178.13.zip");
  // On a class row neither key does anything.
  Key(Qt::Key_Home);
  Key(Qt::Key_Return);
  Key(TFrame3::kDownloadKey);
  EXPECT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(downloads_.size(), 1u);

  // What a screen reader reads of the list: a tree of rows with their state.
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(f3->sgDrvList);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->role(), QAccessible::Tree);
  ASSERT_EQ(list->childCount(), f3->sgDrvList->RowCount());
  EXPECT_EQ(list->child(0)->role(), QAccessible::TreeItem);
  EXPECT_EQ(list->child(nv)->text(QAccessible::Name).toStdString(),
            "NVIDIA GeForce FX 5200, out of date, newer driver: date 11-21-2008, version 6.14.11.7813");
  EXPECT_TRUE(list->child(0)->state().selected);
  EXPECT_FALSE(list->child(nv)->state().selected);

  // Space toggles the filter check box; the list then shows up-to-date drivers too.
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(f3->ImgCheckBox1);
  EXPECT_EQ(box->role(), QAccessible::CheckBox);
  EXPECT_EQ(box->text(QAccessible::Name), QStringLiteral("Show out of date drivers only"));
  EXPECT_TRUE(box->state().checked);
  ASSERT_TRUE(TabTo(f3->ImgCheckBox1));
  Key(Qt::Key_Space);
  EXPECT_FALSE(f3->ImgCheckBox1->Checked());
  EXPECT_FALSE(box->state().checked);
  bool upToDate = false;
  for (int r = 0; r < list->childCount(); ++r)
    upToDate = upToDate || list->child(r)->text(QAccessible::Name).endsWith(QStringLiteral(", up to date"));
  EXPECT_TRUE(upToDate);

  // Settings, then Esc: the settings page's Cancel, back to the results.
  ASSERT_TRUE(TabTo(main_->ImBtnSettings));
  Key(Qt::Key_Space);
  EXPECT_TRUE(Frame4()->isVisible());
  ASSERT_TRUE(WaitFor([this] { return Frame4()->isAncestorOf(QApplication::focusWidget()); }, 5000));
  Key(Qt::Key_Escape);
  EXPECT_FALSE(Frame4()->isVisible());
  EXPECT_TRUE(f3->isVisible());

  // Back by Space: the start page again.
  ASSERT_TRUE(TabTo(f3->ImBtnBack));
  Key(Qt::Key_Space);
  EXPECT_EQ(main_->CurrentStep, 1);
}

TEST_F(KeyboardTest, DialogsAnswerEscThroughTheirOwnButtons) {
  Open();
  // Esc in the driver dialog is its Close button; Enter on its Download button downloads.
  info2_->RecordIndex = 3;
  std::vector<int> results;
  answer_ = [&](TSkinForm& form) {
    form.show();
    QApplication::setActiveWindow(&form);
    QCoreApplication::processEvents();
    QWidget* first = QApplication::focusWidget();
    if (first) QTest::keyClick(first, Qt::Key_Escape);
    results.push_back(form.ModalResult());
    form.hide();
    return form.ModalResult();
  };
  info2_->ShowModal();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], mrCancel);
  EXPECT_TRUE(downloads_.empty());

  answer_ = [&](TSkinForm& form) {
    form.show();
    QApplication::setActiveWindow(&form);
    QCoreApplication::processEvents();
    auto* d = dynamic_cast<TDrvInfoForm2*>(&form);
    EXPECT_EQ(QApplication::focusWidget(), d ? d->ImBtnDownload : nullptr);  // the first control, Close last
    if (QWidget* w = QApplication::focusWidget()) QTest::keyClick(w, Qt::Key_Return);
    form.hide();
    return form.ModalResult();
  };
  info2_->ShowModal();
  EXPECT_EQ(downloads_.size(), 1u);

  // The buttons read as push buttons by their pictures' words.
  QAccessibleInterface* b = QAccessible::queryAccessibleInterface(info2_->ImBtnDownload);
  EXPECT_EQ(b->role(), QAccessible::Button);
  EXPECT_EQ(b->text(QAccessible::Name), QStringLiteral("Download"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Frame1()->ImBtnScanNow)->text(QAccessible::Name),
            QStringLiteral("Scan Now"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(main_->ImBtnMin)->text(QAccessible::Name),
            QStringLiteral("Minimize"));
  // The page header is the window's description.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(main_.get())->text(QAccessible::Description),
            main_->Label1->text() + QStringLiteral(". ") + main_->Label2->text());
}
