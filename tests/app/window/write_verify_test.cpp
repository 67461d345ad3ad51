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

TEST_F(WriteVerifyTest, SmallChipTakesExactly131072Bytes) {
  UseSim("base");
  OpenWindow();
  Drop({WriteImageFile(dir_, "exact.qlz", 131072)});
  PressAndFinish(kWriteButtonId);
  ASSERT_EQ(answerer_->boxes.size(), 1u);
  EXPECT_EQ(answerer_->boxes[0].caption, "Success");
  const std::vector<uint8_t> image = ImageBytes(131072);
  EXPECT_EQ(sim_->FlashContents(), std::string(image.begin(), image.end()));
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

// One press that ends in one box and no run: the box as shown, and the status line at the box
// and after it.
struct RefusalCase {
  const char* name;
  const char* sim;  // "" for an adapter that is not found
  int32_t image;    // bytes dropped before the press, 0 for none
  int button;
  const char* text;
  const char* caption;
  QMessageBox::Icon icon;
  const char* status_at_box;  // null: not looked at
  const char* status;         // as set after the box
};

const char kNotFound[] =
    "Quelt USB Adapter not found!\nMake sure it's plugged correctly and that the driver is "
    "installed\nIf the error persists, unplug then replug the USB cable.";
const char kNoChip[] =
    "The Quelt USB Adapter was detected, but can't communicate with a Quelt JQ or Quelt JQ Ombrix "
    "chip.\nMake sure the DIP switch 2 is ON (Programming mode) and that JQ is turned on.";
const char kUnknown[] =
    "Unkown version of Quelt JQ detected.\nGet the latest version of this software.";
const char kNoMemory[] = "Not enough memory for this operation.";
constexpr auto kCritical = QMessageBox::Critical;
constexpr int kW = kWriteButtonId, kV = kVerifyButtonId;

const RefusalCase kRefusals[] = {
    {"NotFoundWrite", "", 0, kW, kNotFound, "Quelt USB Adapter not found", kCritical, "Ready",
     "Can't connect to Quelt USB Adapter!\n"},
    {"NotFoundVerify", "", 0, kV, kNotFound, "Quelt USB Adapter not found", kCritical, "Ready",
     "Can't connect to Quelt USB Adapter!\n"},
    {"NoChipWrite", "none", 0, kW, kNoChip, "Connection error", kCritical, "Connection error",
     "Connection error"},
    {"NoChipVerify", "none", 0, kV, kNoChip, "Connection error", kCritical, "Connection error",
     "Connection error"},
    {"UnknownWrite", "alt", 0, kW, kUnknown, "Connection error", kCritical, "Ready", "Ready"},
    {"UnknownVerify", "alt", 0, kV, kUnknown, "Connection error", kCritical, "Ready", "Ready"},
    {"SmallChipOver", "base", 131073, kW,
     "File too big for Quelt JQ!\nYou need a Quelt JQ Ombrix to load such a big bios.\n",
     "File too big", kCritical, nullptr, "File too big.\n"},
    {"SmallChipVerify", "base", 0, kV,
     "This feature is only implemented for Quelt JQ Ombrix for now...", "Not Yet Implemented",
     QMessageBox::Warning, nullptr, "Ready"},
    {"EraseNeverEnds", "large,erase-polls=1000000", 1024, kW,
     "The chip did not finish erasing. Nothing was programmed.", "Erase error", kCritical, nullptr,
     "Erase error"},
    {"NoMemoryWrite", "large", 1024, kW, kNoMemory, "Error", kCritical, nullptr,
     "Not enough memory"},
    {"NoMemoryVerify", "large", 1024, kV, kNoMemory, "Error", kCritical, nullptr,
     "Not enough memory"},
    {"NoWorker", "large", 1024, kW, "The operation could not be started.", "Error", kCritical,
     nullptr, "Ready"},
};

class RefusalTest : public WriteVerifyTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, ShowsOneBoxAndLeavesTheWindowIdle) {
  const RefusalCase& c = GetParam();
  const std::string name = c.name;
  if (*c.sim == '\0') {
    UseRecording();
    recording_->SetOpenResult(1);
    OpenWindow();
  } else if (name.rfind("SmallChip", 0) == 0 || name.rfind("NoChip", 0) == 0 ||
             name.rfind("Unknown", 0) == 0) {
    UseSim(c.sim);
    OpenWindow();
  } else {
    OpenOnZeroedLargeChip(std::string(c.sim).substr(5));
  }
  if (c.image > 0) Drop({WriteImageFile(dir_, "img.qlz", c.image)});
  recorder_->events.clear();
  if (name == "EraseNeverEnds") SetEraseTimeout(std::chrono::milliseconds(30));
  if (name.rfind("NoMemory", 0) == 0)
    SetWorkBufferAllocatorForTests([](std::size_t) -> void* { return nullptr; });
  if (name == "NoWorker") window_->FailNextWorkerStartForTests();
  window_->Button(c.button)->click();
  WaitIdle();
  SetWorkBufferAllocatorForTests(nullptr);

  ASSERT_EQ(answerer_->boxes.size(), 1u);
  const SeenBox& box = answerer_->boxes[0];
  EXPECT_EQ(box.text, c.text);
  EXPECT_EQ(box.caption, c.caption);
  EXPECT_EQ(box.icon, c.icon);
  if (c.status_at_box) {
    EXPECT_EQ(box.parent, window_.get());
    EXPECT_EQ(box.window.status, c.status_at_box);
  }
  EXPECT_EQ(window_->StatusLine()->text(), c.status);
  EXPECT_EQ(answerer_->file_dialogs, 0);
  EXPECT_FALSE(BusyFlag());
  EXPECT_EQ(window_->Button(kWriteButtonId)->text(), "Write");
  if (*c.sim == '\0') {
    // Set after the box without blanking the line first; nothing but the open was sent.
    EXPECT_EQ(recorder_->events, (Events{"box:Quelt USB Adapter not found",
                                         "status:Can't connect to Quelt USB Adapter!\n"}));
    const std::vector<AdapterCall> calls = recording_->Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, AdapterCall::Open);
  } else if (c.image == 1024) {
    // Nothing programmed; only the write without a buffer got to erase.
    EXPECT_EQ(sim_->FlashContents().substr(0, 1024),
              std::string(1024, name == "NoMemoryWrite" ? '\xFF' : '\0'));
  }
  if (name == "NoWorker") {
    // The next press starts a run rather than asking to cancel.
    PressAndFinish(kWriteButtonId);
    EXPECT_EQ(answerer_->boxes.back().caption, "Success");
  }
}

INSTANTIATE_TEST_SUITE_P(Boxes, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quelt::test
