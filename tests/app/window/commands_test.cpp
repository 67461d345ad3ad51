// The window's commands up to the start of a run: connection reports, image loading, the size
// limit of the small chip, safe mode, and the status line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/control_ids.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "settings/safe_mode.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

using CommandsTest = WindowTest;

TEST_F(CommandsTest, WriteWithoutImageAsksForOneAfterReportingTheChip) {
  UseSim("large");
  OpenWindow();
  window_->Button(kWriteButtonId)->click();  // the dialog is cancelled
  EXPECT_EQ(answerer_->file_dialogs, 1);
  EXPECT_EQ(answerer_->file_title, "Please select a Quelt JQ Bios file");
  EXPECT_EQ(answerer_->file_filters, (QStringList{"All", "Bios files (*.qlz)"}));
  EXPECT_EQ(answerer_->file_first_patterns, QStringList{"*"});  // names without a dot show
  EXPECT_EQ(answerer_->file_selected_filter, "Bios files (*.qlz)");
  EXPECT_EQ(recorder_->Statuses(), std::vector<std::string>{"Connected to the Quelt JQ Ombrix"});
  EXPECT_FALSE(BusyFlag());

  answerer_->file_choice = QString::fromStdString(WriteImageFile(dir_, "chosen.QLZ", 700));
  PressAndFinish(kWriteButtonId);
  EXPECT_EQ(answerer_->file_dialogs, 2);
  EXPECT_EQ(window_->windowTitle(), "Quelt Flasher USB - 'TestBios' loaded");
  EXPECT_EQ(answerer_->boxes.back().caption, "Success");
}

TEST_F(CommandsTest, UnreadableFileKeepsTheImageWhenDroppedButClearsItThroughTheMenu) {
  UseRecording();
  OpenWindow();
  Drop({WriteImageFile(dir_, "good.qlz", 2000, "Good")});
  ASSERT_TRUE(window_->ImageLoaded());
  const std::string big = WriteImageFile(dir_, "big.qlz", 0x200001);

  // The two messages of image reading go to standard output, before the boxes.
  ::testing::internal::CaptureStdout();
  Drop({big});
  Drop({dir_.filePath("missing.qlz").toStdString()});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "File too bigError while trying to open file\n");
  ASSERT_EQ(answerer_->boxes.size(), 4u);
  EXPECT_EQ(answerer_->boxes[0].text, "File too big");
  EXPECT_EQ(answerer_->boxes[0].caption, "Error while reading file");
  EXPECT_EQ(answerer_->boxes[2].text, "Error while trying to open file");
  EXPECT_EQ(answerer_->boxes[2].icon, QMessageBox::Critical);
  EXPECT_EQ(answerer_->boxes[1].text, "Error while reading input file");
  EXPECT_EQ(answerer_->boxes[1].caption, "quelt-flasher");
  EXPECT_EQ(answerer_->boxes[1].icon, QMessageBox::Warning);
  EXPECT_TRUE(window_->ImageLoaded());
  EXPECT_EQ(ImageSize(), 2000);
  EXPECT_EQ(ImageBuffer()[16], 'G');
  EXPECT_EQ(window_->windowTitle(), "Quelt Flasher USB - 'Good' loaded");

  answerer_->boxes.clear();
  answerer_->file_choice = QString::fromStdString(big);
  window_->Command(kLoadBiosCommand)->trigger();
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Error while reading file");
  EXPECT_FALSE(window_->ImageLoaded());
}

TEST_F(CommandsTest, MenuLoadOfAPathThatFailsTheTestOpenSaysFileErrorAtOnce) {
  UseRecording();
  OpenWindow();
  Drop({WriteImageFile(dir_, "good.qlz", 2000, "Good")});
  ASSERT_TRUE(window_->ImageLoaded());
  const std::string fifo = dir_.filePath("pipe.qlz").toStdString();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string gone = WriteImageFile(dir_, "gone.qlz", 100);
  // A FIFO, a device, and a file that is there when chosen and gone when the window opens it.
  for (const std::string& path : {fifo, std::string("/dev/null"), gone}) {
    SCOPED_TRACE(path);
    answerer_->boxes.clear();
    answerer_->file_choice = QString::fromStdString(path);
    answerer_->after_file_choice = [path, gone] {
      if (path == gone) QFile::remove(QString::fromStdString(path));
    };
    // Stands in for a writer: an open for reading that waits on the FIFO is let go, and seen.
    std::atomic<bool> done{false}, reader_waited{false};
    std::thread writer([&] {
      for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) continue;
        reader_waited = true;
        ::close(fd);
      }
    });
    window_->Command(kLoadBiosCommand)->trigger();
    done = true;
    writer.join();
    EXPECT_FALSE(reader_waited) << "the test open waited for a writer";
    ASSERT_EQ(answerer_->boxes.size(), 1u);
    EXPECT_EQ(answerer_->boxes[0].text, "File error");
    EXPECT_EQ(answerer_->boxes[0].caption, "quelt-flasher");
    EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answerer_->boxes[0].parent, window_.get());
    EXPECT_TRUE(window_->ImageLoaded());
    EXPECT_EQ(ImageSize(), 2000);
  }
}

TEST_F(CommandsTest, SafeModeFollowsTheMenuMarkAndTheStoredValue) {
  UseRecording();
  OpenWindow();
  // Nothing stored: off, unchecked, and 0 stored although the menu starts checked.
  QAction* item = window_->Command(kSafeModeCommand);
  EXPECT_FALSE(item->isChecked());
  EXPECT_FALSE(window_->SafeMode());
  EXPECT_EQ(ReadStoredSafeMode(), StoredSafeMode::Off);

  std::vector<int32_t> speeds;
  for (bool expect_safe : {true, false}) {
    item->trigger();
    EXPECT_EQ(item->isChecked(), expect_safe);
    EXPECT_EQ(window_->SafeMode(), expect_safe);
    EXPECT_EQ(ReadStoredSafeMode(), expect_safe ? StoredSafeMode::On : StoredSafeMode::Off);
    recording_->Clear();
    window_->Button(kWriteButtonId)->click();  // no chip answers; the speed has been passed
    for (const AdapterCall& call : recording_->Calls()) {
      if (call.kind == AdapterCall::Speed) speeds.push_back(call.speed);
    }
  }
  EXPECT_EQ(speeds, (std::vector<int32_t>{3, 2}));
}

TEST_F(CommandsTest, StoredSafeModeSetsTheWindowAtStart) {
  struct Case {
    int stored;
    bool checked;
  };
  for (const Case c : {Case{0, false}, Case{1, true}, Case{2, true}}) {
    SCOPED_TRACE(c.stored);
    SaveSafeMode(c.stored);
    UseRecording();
    OpenWindow();
    EXPECT_EQ(window_->Command(kSafeModeCommand)->isChecked(), c.checked);
    EXPECT_EQ(window_->SafeMode(), c.checked);
    window_.reset();
  }
  // A value other than 0 and 1 stays stored as it is.
  EXPECT_EQ(ReadStoredSafeMode(), StoredSafeMode::Unchanged);
}

TEST_F(CommandsTest, StatusLineBlanksFirstExceptForDirectTexts) {
  UseRecording();
  OpenWindow();
  window_->SetStatus("Writing...");
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"status:<blank>", "status:Writing..."}));

  // A trailing newline neither shows nor moves the text.
  const QString text = "Can't connect to Quelt USB Adapter!";
  window_->SetStatusDirect(text);
  const QImage plain = window_->StatusLine()->grab().toImage();
  window_->SetStatusDirect(text + "\n");
  EXPECT_EQ(window_->StatusLine()->grab().toImage(), plain);
  EXPECT_EQ(window_->StatusLine()->text(), text + "\n");
}

}  // namespace
}  // namespace quelt::test
