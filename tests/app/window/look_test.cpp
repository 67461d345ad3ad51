// The window as a user sees it: its face, every text whole, boxes modal to the window only,
// drops that do not hold the drag source, and titles shown as they stand.
#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QWindow>

#include "app/about_dlg.h"
#include "app/control_ids.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

using LookTest = WindowTest;

// The rectangle `control` draws `text` in, and the one the text takes there.
std::pair<QRect, QRect> TextRects(QWidget* control, const QString& text) {
  const QFontMetrics metrics = control->fontMetrics();
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const QRect box =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return {box, metrics.boundingRect(box, Qt::AlignCenter | Qt::TextShowMnemonic, text)};
  }
  const QRect box = control->contentsRect();
  const auto* label = qobject_cast<QLabel*>(control);
  return {box, metrics.boundingRect(box, label ? label->alignment() : Qt::AlignLeft, text)};
}

TEST_F(LookTest, EveryTextFitsItsControlInTheDialogFace) {
  UseRecording();
  OpenWindow();
  AboutDlg about(window_.get());
  QList<QWidget*> controls = window_->Client()->findChildren<QWidget*>();
  controls += about.findChildren<QWidget*>();

  // Each control with the texts it can show: what it shows now, and for the window's buttons
  // and the status line everything else (a trailing "\n" neither shows nor takes room).
  std::vector<std::pair<QWidget*, QStringList>> cases = {
      {window_->Button(kWriteButtonId), {"Cancel"}},
      {window_->Button(kVerifyButtonId), {"Cancel"}}};
  for (QWidget* control : controls) {
    // The face is the one set for the dialogs, not a stand-in for a missing font package.
    EXPECT_EQ(QFontInfo(control->font()).family(), "Liberation Sans")
        << control->metaObject()->className();
    EXPECT_EQ(control->font().pixelSize(), 11);
    if (auto* label = qobject_cast<QLabel*>(control)) cases.push_back({label, {label->text()}});
    if (auto* button = qobject_cast<QPushButton*>(control))
      cases.push_back({button, {button->text()}});
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
      EXPECT_TRUE(group->title().isEmpty()) << "a caption to measure";
    }
  }
  cases.push_back({window_->StatusLine(),
                   {"Can't connect to Quelt USB Adapter!", "Connection error",
                    "Connected to the Quelt JQ", "Connected to the Quelt JQ Ombrix",
                    "File too big.", "Error with bios file : impossible to read or empty file",
                    "The bios file has been loaded successfully - 2048 KBytes read",
                    "Erasing the chip, please wait...", "Write operation cancelled", "Writing...",
                    "Writing data - Finished", "Verifying, please wait...", "Verify OK",
                    "Verify Error", "Erase error", "Not enough memory", "Ready"}});
  int measured = 0;
  for (const auto& [control, texts] : cases) {
    for (const QString& text : texts) {
      if (text.isEmpty()) continue;  // the icon
      const auto [box, needed] = TextRects(control, text);
      EXPECT_TRUE(box.contains(needed))
          << text.toStdString() << ": needs " << needed.width() << "x" << needed.height() << " in "
          << box.width() << "x" << box.height();
      ++measured;
    }
  }
  // The status line's 17 and "Ready", "Cancel" on both buttons, their captions, About's two.
  EXPECT_EQ(measured, 17 + 1 + 2 + 2 + 2);

  // The About icon is drawn whole, at its size.
  QLabel* icon = nullptr;
  for (QLabel* label : about.findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) icon = label;
  }
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
  EXPECT_TRUE(icon->contentsRect().contains(icon->pixmap().rect()));
}

// A box owned by the window, opened while the ownerless "Success" box shows.
struct OwnedBoxCase {
  const char* name;
  int command;
  const char* caption;  // of the owned box
};

class ModalityTest : public WindowTest, public ::testing::WithParamInterface<OwnedBoxCase> {};

TEST_P(ModalityTest, TheSuccessBoxStaysAnswerableWhileAnOwnedBoxShows) {
  const OwnedBoxCase& c = GetParam();
  UseSim("large");
  OpenWindow();
  Drop({WriteImageFile(dir_, "img.qlz", 1000)});
  answerer_->hold_captions = {"Success", c.caption};
  window_->Button(kWriteButtonId)->click();
  ASSERT_TRUE(WaitFor([this] { return answerer_->Holding(); }));
  QPointer<QMessageBox> success;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box && box->isVisible() && box->windowTitle() == "Success") success = box;
  }
  ASSERT_TRUE(success);

  bool run_ended = false;
  QTimer::singleShot(0, [&] {
    QWidget* owned = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      owned = QApplication::activeModalWidget();
      return owned && owned != success && owned->windowTitle() == c.caption;
    }));
    EXPECT_EQ(owned->parentWidget(), window_.get());
    EXPECT_EQ(owned->windowModality(), Qt::WindowModal);
    // A click as the window system delivers it: an application-modal box would block it.
    QAbstractButton* ok = success->button(QMessageBox::Ok);
    QTest::mouseClick(success->windowHandle(), Qt::LeftButton, {},
                      ok->mapTo(success, ok->rect().center()));
    run_ended = WaitFor([] { return !WindowRun::Busy(); }, 5000);
    if (auto* box = qobject_cast<QMessageBox*>(owned)) {
      box->button(QMessageBox::Ok)->click();
    } else {
      static_cast<QDialog*>(owned)->accept();
    }
  });
  window_->Command(c.command)->trigger();  // returns when the owned box has closed
  EXPECT_TRUE(run_ended) << "the Success box took no click";
  if (success) success->button(QMessageBox::Ok)->click();  // so that a failed run still ends
  EXPECT_EQ(window_->StatusLine()->text(), "Writing data - Finished");
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ModalityTest,
    ::testing::Values(OwnedBoxCase{"About", kAboutCommand, "About Quelt Flasher USB"},
                      // Load Bios during a run is refused with a box owned by the window.
                      OwnedBoxCase{"Refusal", kLoadBiosCommand, "Open file"}),
    [](const ::testing::TestParamInfo<OwnedBoxCase>& info) { return info.param.name; });

TEST_F(LookTest, DropIsTakenAtOnceAndLoadedRightAfter) {
  UseRecording();
  OpenWindow();
  SendDrop({WriteImageFile(dir_, "a.qlz", 100), WriteImageFile(dir_, "b.qlz", 100)});
  EXPECT_TRUE(answerer_->boxes.empty()) << "the drop event waited for the box";
  QCoreApplication::sendPostedEvents(window_.get(), QEvent::MetaCall);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].text, "Please drag only one file at a time");
  EXPECT_EQ(answerer_->boxes[0].caption, "Open file");
  EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::Information);
  EXPECT_EQ(ImageSize(), 0);
  EXPECT_EQ(window_->windowTitle(), "Quelt Flasher USB 1.0");

  SendDrop({WriteImageFile(dir_, "c.qlz", 3000)});
  EXPECT_FALSE(window_->ImageLoaded());
  QCoreApplication::sendPostedEvents(window_.get(), QEvent::MetaCall);
  EXPECT_TRUE(window_->ImageLoaded());
}

TEST_F(LookTest, TitleShowsTheImageNameAsItStands) {
  UseRecording();
  OpenWindow();
  EXPECT_EQ(window_->windowHandle()->title(), "Quelt Flasher USB 1.0");
  for (const std::string name : {"[*]", "a[*][*]b", "[[*]]*]", "x[*]y[*]"}) {
    Drop({WriteImageFile(dir_, "t.qlz", 100, name)});
    EXPECT_EQ(window_->windowHandle()->title().toStdString(),
              "Quelt Flasher USB - '" + name + "' loaded");
  }
}

}  // namespace
}  // namespace quelt::test
