// The whole life of the tool through its start-up: how the window ends, what shutdown sends, the
// About box, and a close while a run lasts.
#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/about_dlg.h"
#include "app/control_ids.h"
#include "app/flasher_app.h"
#include "app/paint/skin.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "settings/safe_mode.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

class ShutdownTest : public WindowTest {};

TEST_F(ShutdownTest, EveryWayOutSendsOneIdleSymbolAndFreesTheBuffer) {
  const std::vector<std::pair<const char*, std::function<void(FlasherDlg*)>>> ways = {
      {"Exit", [](FlasherDlg* d) { d->Command(kExitCommand)->trigger(); }},
      {"Escape", [](FlasherDlg* d) { QTest::keyClick(d, Qt::Key_Escape); }},
      {"close box", [](FlasherDlg* d) { d->close(); }},
      {"Enter without a focused button",
       [](FlasherDlg* d) {
         d->Button(kWriteButtonId)->clearFocus();
         QTest::keyClick(d, Qt::Key_Return);
       }},
  };
  for (const auto& entry : ways) {
    SCOPED_TRACE(entry.first);
    const std::function<void(FlasherDlg*)>& way = entry.second;
    ResetImageStoreForTests();
    RecordingAdapter adapter;
    size_t calls_at_start = 0;
    QString title;
    RunTool(&adapter, [&](FlasherDlg* dlg) {
      calls_at_start = adapter.Calls().size();
      title = dlg->windowTitle();
      way(dlg);
    });
    // The command line loads nothing.
    EXPECT_EQ(title, "Quelt Flasher USB 1.0");
    const std::vector<AdapterCall> calls = adapter.Calls();
    ASSERT_EQ(calls.size(), calls_at_start + 1);
    EXPECT_EQ(calls.back().kind, AdapterCall::Write);
    EXPECT_EQ(calls.back().bytes, (std::vector<uint8_t>{0x00, 0x10}));
    EXPECT_EQ(ImageBuffer(), nullptr);
    // Identification ran before the window, with no open at all.
    ASSERT_GT(calls_at_start, 0u);
    for (const AdapterCall& call : calls) EXPECT_NE(call.kind, AdapterCall::Open);
  }
}

TEST_F(ShutdownTest, DuringTheModalRunOnlyTheVerifyBoxesBlockTheWindow) {
  ResetImageStoreForTests();
  std::string error;
  std::unique_ptr<SimAdapter> sim = SimAdapter::Create("large", &error);
  ASSERT_TRUE(sim) << error;
  const std::string image = WriteImageFile(dir_, "img.qlz", 1000);
  RunTool(sim.get(), [&](FlasherDlg* dlg) {
    Answerer answerer(dlg);
    answerer.hold_boxes = true;
    dlg->LoadImageFile(QString::fromStdString(image));
    dlg->Button(kWriteButtonId)->click();
    ASSERT_TRUE(WaitFor([&] { return !answerer.boxes.empty(); }));
    EXPECT_EQ(answerer.boxes[0].caption, "Success");
    // A click as the window system delivers it, so that a blocked window would not take it.
    QPushButton* cancel = dlg->Button(kWriteButtonId);
    QTest::mouseClick(dlg->windowHandle(), Qt::LeftButton, {},
                      cancel->mapTo(dlg, cancel->rect().center()));
    EXPECT_TRUE(dlg->CancelRequested()) << "the window took the click";
    // The box itself takes a click too: the modal run does not block a box without an owner.
    QWidget* box = QApplication::activeWindow();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMessageBox*>(w) && w->isVisible()) box = w;
    }
    QAbstractButton* ok = qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok);
    QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {}, ok->mapTo(box, ok->rect().center()));
    EXPECT_TRUE(WaitFor([] { return !BusyFlag().load(); }, 5000)) << "the box took no click";
    answerer.ReleaseBox();
    ASSERT_TRUE(WaitFor([] { return !BusyFlag().load(); }));
    EXPECT_FALSE(dlg->CancelRequested());

    // A verify result box is the window's own and keeps the user from it.
    dlg->Button(kVerifyButtonId)->click();
    ASSERT_TRUE(WaitFor([&] { return answerer.boxes.size() == 2; }));
    EXPECT_EQ(answerer.boxes[1].caption, "Verify OK!");
    QPushButton* verify_cancel = dlg->Button(kVerifyButtonId);
    QTest::mouseClick(dlg->windowHandle(), Qt::LeftButton, {},
                      verify_cancel->mapTo(dlg, verify_cancel->rect().center()));
    EXPECT_FALSE(dlg->CancelRequested()) << "the window took a click past its own box";
    answerer.ReleaseBox();
    ASSERT_TRUE(WaitFor([] { return !BusyFlag().load(); }));
    dlg->reject();
  });
}

TEST_F(ShutdownTest, RefusedAdapterNameIsReportedAndNeverFallsBack) {
  ResetImageStoreForTests();
  qputenv("QUELT_ADAPTER", "sim:large,no-such-option");
  ::testing::internal::CaptureStderr();
  std::vector<SeenBox> boxes;
  RunTool(nullptr, [&](FlasherDlg* dlg) {
    Answerer answerer(dlg);
    dlg->Button(kWriteButtonId)->click();
    boxes = answerer.boxes;
    dlg->reject();
  });
  const std::string err = ::testing::internal::GetCapturedStderr();
  qunsetenv("QUELT_ADAPTER");
  EXPECT_NE(err.find("no-such-option"), std::string::npos) << err;
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Quelt USB Adapter not found");
}

TEST_F(ShutdownTest, MissingLogoIsReportedAndEndsTheWindowAsSoonAsItRuns) {
  UseRecording();
  window_ = std::make_unique<FlasherDlg>();
  answerer_ = std::make_unique<Answerer>(window_.get());
  window_->SetLogoBitmapForTests(4321);
  EXPECT_EQ(window_->DoModal(), QDialog::Rejected);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].text, "Error while loading background image");
  EXPECT_EQ(answerer_->boxes[0].caption, "quelt-flasher");
  EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(answerer_->boxes[0].parent, window_.get());
  // The rest of the initialisation still ran.
  EXPECT_EQ(ReadStoredSafeMode(), StoredSafeMode::Off);
  EXPECT_TRUE(recording_->Calls().empty());
}

TEST_F(ShutdownTest, EnterOnAFocusedButtonPressesItInsteadOfEndingTheWindow) {
  UseRecording();
  recording_->SetOpenResult(1);
  OpenWindow();
  window_->activateWindow();
  window_->Button(kVerifyButtonId)->setFocus();
  QTest::keyClick(window_->Button(kVerifyButtonId), Qt::Key_Return);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Quelt USB Adapter not found");
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(ShutdownTest, LogoIsPaintedThroughItsMaskOverTheFace) {
  UseRecording();
  OpenWindow();
  const QImage shown = window_->Client()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Bitmap logo, mask;
  ASSERT_TRUE(LoadBackground(logo, nullptr, IDB_BACKGROUND));
  BuildMask(logo, mask, 0, 2, 2);
  QImage expected(shown.size(), QImage::Format_RGB32);
  const QColor face = window_->Client()->palette().color(QPalette::Window);
  PaintLogo(expected, {0, 0, expected.width(), expected.height()}, FromQColor(face), logo, mask);
  const QRect logo_rect(220, 0, 132, 127);
  EXPECT_EQ(shown.copy(logo_rect), expected.copy(logo_rect));
  EXPECT_EQ(shown.pixelColor(222, 2), face) << "the key colour shows the face";
}

TEST_F(ShutdownTest, AboutOpensAsOftenAsAsked) {
  UseRecording();
  OpenWindow();
  const std::vector<std::function<void(QDialog*)>> closers = {
      [](QDialog* about) { about->findChild<QPushButton*>()->click(); },
      [](QDialog* about) { QTest::keyClick(about, Qt::Key_Escape); },
      [](QDialog* about) { about->close(); },
  };
  int opened = 0;
  for (const auto& close : closers) {
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(
          WaitFor([] { return qobject_cast<AboutDlg*>(QApplication::activeModalWidget()); }));
      auto* about = qobject_cast<AboutDlg*>(QApplication::activeModalWidget());
      ++opened;
      EXPECT_EQ(about->windowTitle(), "About Quelt Flasher USB");
      EXPECT_EQ(about->parentWidget(), window_.get());
      EXPECT_TRUE(about->isModal());
      bool has_version = false;
      for (QLabel* label : about->findChildren<QLabel*>()) {
        has_version |= label->text() == "Quelt Flasher USB 1.0";
      }
      EXPECT_TRUE(has_version);
      close(about);
    });
    window_->Command(kAboutCommand)->trigger();  // returns when the box has closed
  }
  EXPECT_EQ(opened, 3);
  EXPECT_TRUE(window_->isVisible());
}

}  // namespace
}  // namespace quelt::test
