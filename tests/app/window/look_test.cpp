// The window as a user sees it: its face and every text whole.
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>

#include "app/about_dlg.h"
#include "app/control_ids.h"
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

}  // namespace
}  // namespace quelt::test
