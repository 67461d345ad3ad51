// Write and verify runs against the emulator, with boxes answered as a user would.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>

#include "app/control_ids.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "link/erase.h"
#include "link/work_buffer.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

using Events = std::vector<std::string>;

const Events kBusyWrite = {"buttons:Write/off,Verify/on", "buttons:Write/off,Verify/off",
                           "buttons:Cancel/off,Verify/off", "buttons:Cancel/on,Verify/off"};
const Events kBusyVerify = {"buttons:Write/off,Verify/on", "buttons:Write/off,Verify/off",
                            "buttons:Write/off,Cancel/off", "buttons:Write/off,Cancel/on"};
const Events kFinishVerify = {"buttons:Write/off,Cancel/on", "buttons:Write/on,Cancel/on",
                              "buttons:Write/on,Verify/on", "buttons:Write/on,Verify/on"};
const Events kFinish = {"buttons:Write/on,Verify/off", "buttons:Write/on,Verify/off",
                        "buttons:Write/on,Verify/off", "buttons:Write/on,Verify/on"};

// The events from the first one starting with `from` to the end.
Events From(const Events& all, const std::string& from) {
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == from) return Events(all.begin() + static_cast<long>(i), all.end());
  }
  return {};
}

Events Concat(std::initializer_list<Events> parts) {
  Events out;
  for (const Events& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class WriteVerifyTest : public WindowTest {
 protected:
  // A large chip whose flash starts all 0x00, so that an erase shows.
  void OpenOnZeroedLargeChip(const std::string& extra = "") {
    const QString flash = dir_.filePath("flash.bin");
    QFile file(flash);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(0x200000, '\0'));
    file.close();
    UseSim("large,flash=" + flash.toStdString() + extra);
    OpenWindow();
  }
};

TEST_F(WriteVerifyTest, FullWriteThenVerifyShowEveryStepInOrder) {
  OpenOnZeroedLargeChip();
  const int32_t n = 5000;
  Drop({WriteImageFile(dir_, "small.qlz", n)});
  ASSERT_TRUE(window_->ImageLoaded());
  recorder_->events.clear();

  PressAndFinish(kWriteButtonId);
  const Events write = From(recorder_->events, "buttons:Write/off,Verify/on");
  const Events head =
      Concat({kBusyWrite,
              {"range:5000", "pos:0", "status:<blank>", "status:Erasing the chip, please wait...",
               "status:<blank>", "status:Writing..."}});
  const Events tail = Concat(
      {{"box:Success", "pos:5000", "status:<blank>", "status:Writing data - Finished"}, kFinish});
  ASSERT_GE(write.size(), head.size() + tail.size());
  EXPECT_EQ(Events(write.begin(), write.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(Events(write.end() - static_cast<long>(tail.size()), write.end()), tail);
  // Between them only progress positions, rising within the image.
  int last = 0;
  for (auto it = write.begin() + static_cast<long>(head.size());
       it != write.end() - static_cast<long>(tail.size()); ++it) {
    ASSERT_EQ(it->rfind("pos:", 0), 0u) << *it;
    const int pos = std::stoi(it->substr(4));
    EXPECT_GE(pos, last);
    EXPECT_LE(pos, n);
    last = pos;
  }

  ASSERT_EQ(answerer_->boxes.size(), 1u);
  const SeenBox& success = answerer_->boxes[0];
  EXPECT_EQ(success.text,
            "Write complete!\nDon't forget to exit programming mode by switching off DIP switch "
            "2!");
  EXPECT_EQ(success.icon, QMessageBox::Information);
  EXPECT_EQ(success.parent, nullptr);
  EXPECT_EQ(success.modality, Qt::NonModal);
  // While it shows the run is not over: Cancel, Verify disabled, bar not yet full.
  EXPECT_EQ(success.window.write_caption, "Cancel");
  EXPECT_TRUE(success.window.write_enabled);
  EXPECT_FALSE(success.window.verify_enabled);
  EXPECT_LT(success.window.progress, n);

  const std::string flash = sim_->FlashContents();
  const std::vector<uint8_t> image = ImageBytes(n);
  EXPECT_EQ(flash.substr(0, n), std::string(image.begin(), image.end()));

  recorder_->events.clear();
  answerer_->boxes.clear();
  PressAndFinish(kVerifyButtonId);
  const Events verify = From(recorder_->events, "buttons:Write/off,Verify/on");
  EXPECT_EQ(verify.front(), kBusyVerify.front());
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  const SeenBox& ok = answerer_->boxes[0];
  EXPECT_EQ(ok.text, "No error detected");
  EXPECT_EQ(ok.caption, "Verify OK!");
  EXPECT_EQ(ok.icon, QMessageBox::Information);
  EXPECT_EQ(ok.parent, window_.get());
  EXPECT_EQ(ok.window.progress, n);  // full while the result shows
  EXPECT_EQ(ok.window.verify_caption, "Cancel");
  const Events verify_tail =
      Concat({{"pos:5000", "box:Verify OK!", "status:<blank>", "status:Verify OK"}, kFinishVerify});
  ASSERT_GE(verify.size(), verify_tail.size());
  EXPECT_EQ(Events(verify.end() - static_cast<long>(verify_tail.size()), verify.end()),
            verify_tail);
  const Events verify_head = Concat(
      {kBusyVerify, {"range:5000", "pos:0", "status:<blank>", "status:Verifying, please wait..."}});
  EXPECT_EQ(Events(verify.begin(), verify.begin() + static_cast<long>(verify_head.size())),
            verify_head);

  const WindowState after = Snapshot(*window_);
  EXPECT_EQ(after.write_caption, "Write");
  EXPECT_EQ(after.verify_caption, "Verify");
  EXPECT_TRUE(after.write_enabled && after.verify_enabled);
  EXPECT_EQ(after.progress, n);
  EXPECT_FALSE(window_->CancelRequested());
}

TEST_F(WriteVerifyTest, ProgrammingThatDidNotTakeStillSucceedsAndVerifyFindsIt) {
  OpenOnZeroedLargeChip(",bad=0x100:0x01");
  Drop({WriteImageFile(dir_, "img.qlz", 1024)});
  PressAndFinish(kWriteButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Success");

  answerer_->boxes.clear();
  PressAndFinish(kVerifyButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].text, "Data mismatch");
  EXPECT_EQ(answerer_->boxes[0].caption, "Verify Error!");
  EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::Warning);
  EXPECT_EQ(answerer_->boxes[0].parent, window_.get());
  EXPECT_EQ(window_->StatusLine()->text(), "Verify Error");
  EXPECT_EQ(window_->ProgressBar()->value(), 1024);
}

TEST_F(WriteVerifyTest, CancelDuringEraseErasesButProgramsNothing) {
  OpenOnZeroedLargeChip();
  const int32_t n = 3000;
  Drop({WriteImageFile(dir_, "img.qlz", n)});
  recorder_->events.clear();
  sim_->HoldNextStatusRead();
  window_->Button(kWriteButtonId)->click();
  ASSERT_TRUE(WaitFor([this] { return sim_->WaitForHeldRead(std::chrono::milliseconds(0)); }));
  EXPECT_EQ(window_->Button(kWriteButtonId)->text(), "Cancel");

  window_->Button(kWriteButtonId)->click();  // a second press only asks to cancel
  EXPECT_TRUE(window_->CancelRequested());
  EXPECT_EQ(window_->Button(kWriteButtonId)->text(), "Cancel");
  sim_->ReleaseHeldRead();
  WaitIdle();

  EXPECT_TRUE(answerer_->boxes.empty());
  EXPECT_EQ(recorder_->Statuses(), (std::vector<std::string>{"Connected to the Quelt JQ Ombrix",
                                                             "Erasing the chip, please wait...",
                                                             "Write operation cancelled"}));
  EXPECT_EQ(window_->ProgressBar()->value(), 0);
  EXPECT_EQ(window_->Button(kWriteButtonId)->text(), "Write");
  EXPECT_FALSE(window_->CancelRequested());
  const std::string flash = sim_->FlashContents();
  EXPECT_EQ(flash.substr(0, n), std::string(n, '\xFF')) << "the range is erased";
  EXPECT_EQ(flash.back(), '\0') << "blocks beyond the image are untouched";
}

TEST_F(WriteVerifyTest, CancelDuringProgrammingIsIgnored) {
  OpenOnZeroedLargeChip();
  Drop({WriteImageFile(dir_, "img.qlz", 2048)});
  QObject::connect(window_.get(), &FlasherDlg::statusTextSet, window_.get(),
                   [this](const QString& text) {
                     if (text == "Writing...") window_->Button(kWriteButtonId)->click();
                   });
  PressAndFinish(kWriteButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Success");
  EXPECT_EQ(window_->StatusLine()->text(), "Writing data - Finished");
  EXPECT_FALSE(window_->CancelRequested());
  const std::vector<uint8_t> image = ImageBytes(2048);
  EXPECT_EQ(sim_->FlashContents().substr(0, 2048), std::string(image.begin(), image.end()));
}

TEST_F(WriteVerifyTest, PressAsARunEndsDoesNotCancelTheNextWrite) {
  OpenOnZeroedLargeChip();
  Drop({WriteImageFile(dir_, "img.qlz", 1024)});
  PressAndFinish(kWriteButtonId);
  // The worker clears the cancel request and then the busy flag; a press that lands between
  // the two is taken as a cancel request of the run that has just ended.
  BusyFlag() = true;
  window_->Button(kWriteButtonId)->click();
  BusyFlag() = false;
  ASSERT_TRUE(window_->CancelRequested());

  answerer_->boxes.clear();
  PressAndFinish(kWriteButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Success");
  EXPECT_EQ(window_->StatusLine()->text(), "Writing data - Finished");
}

TEST_F(WriteVerifyTest, CancelDuringVerifyChangesNothing) {
  OpenOnZeroedLargeChip();
  Drop({WriteImageFile(dir_, "img.qlz", 1024)});
  QObject::connect(window_.get(), &FlasherDlg::statusTextSet, window_.get(),
                   [this](const QString& text) {
                     if (text == "Verifying, please wait...")
                       window_->Button(kVerifyButtonId)->click();
                   });
  PressAndFinish(kVerifyButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Verify Error!");  // the chip holds zeros
  EXPECT_FALSE(window_->CancelRequested());
}

TEST_F(WriteVerifyTest, EraseThatNeverFinishesIsReportedAndNothingIsProgrammed) {
  OpenOnZeroedLargeChip(",erase-polls=1000000");
  SetEraseTimeout(std::chrono::milliseconds(30));
  Drop({WriteImageFile(dir_, "img.qlz", 1024)});
  PressAndFinish(kWriteButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].text, "The chip did not finish erasing. Nothing was programmed.");
  EXPECT_EQ(answerer_->boxes[0].caption, "Erase error");
  EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::Critical);
  EXPECT_EQ(window_->StatusLine()->text(), "Erase error");
  EXPECT_EQ(sim_->FlashContents()[0x10], '\0');
  EXPECT_EQ(window_->Button(kWriteButtonId)->text(), "Write");
}

TEST_F(WriteVerifyTest, WorkingBufferNotObtainedIsReportedInsteadOfTheResult) {
  OpenOnZeroedLargeChip();
  Drop({WriteImageFile(dir_, "img.qlz", 1024)});
  SetWorkBufferAllocatorForTests([](std::size_t) -> void* { return nullptr; });
  for (int id : {kWriteButtonId, kVerifyButtonId}) {
    SCOPED_TRACE(id);
    answerer_->boxes.clear();
    PressAndFinish(id);
    ASSERT_EQ(answerer_->boxes.size(), 1u);
    EXPECT_EQ(answerer_->boxes[0].text, "Not enough memory for this operation.");
    EXPECT_EQ(answerer_->boxes[0].caption, "Error");
    EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(window_->StatusLine()->text(), "Not enough memory");
  }
  SetWorkBufferAllocatorForTests(nullptr);
  // The write erased the range and programmed nothing.
  EXPECT_EQ(sim_->FlashContents().substr(0, 1024), std::string(1024, '\xFF'));
}

TEST_F(WriteVerifyTest, WorkerThatCannotStartIsReportedAndLeavesTheWindowIdle) {
  OpenOnZeroedLargeChip();
  Drop({WriteImageFile(dir_, "img.qlz", 1024)});
  window_->FailNextWorkerStartForTests();
  window_->Button(kWriteButtonId)->click();
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].text, "The operation could not be started.");
  EXPECT_EQ(answerer_->boxes[0].caption, "Error");
  EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::Critical);
  EXPECT_FALSE(BusyFlag());
  EXPECT_EQ(window_->StatusLine()->text(), "Ready");
  // The next press starts a run rather than asking to cancel.
  PressAndFinish(kWriteButtonId);
  EXPECT_EQ(answerer_->boxes.back().caption, "Success");
}

TEST_F(WriteVerifyTest, VerifyOnTheSmallChipIsNotImplementedAndAsksForNoFile) {
  UseSim("base");
  OpenWindow();
  window_->Button(kVerifyButtonId)->click();
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].text,
            "This feature is only implemented for Quelt JQ Ombrix for now...");
  EXPECT_EQ(answerer_->boxes[0].caption, "Not Yet Implemented");
  EXPECT_EQ(answerer_->boxes[0].icon, QMessageBox::Warning);
  EXPECT_EQ(answerer_->file_dialogs, 0);
  EXPECT_EQ(window_->StatusLine()->text(), "Ready");
  EXPECT_FALSE(BusyFlag());
}

}  // namespace
}  // namespace quelt::test
