// Every command the window offers, and every way of closing it, at each phase of a write or a
// verify run while the worker thread works: what each does, and that the run and the chip come
// out of it whole. Run under ThreadSanitizer (label `threads`).
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <tuple>

#include "app/about_dlg.h"
#include "app/control_ids.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "link/program.h"
#include "settings/safe_mode.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

enum Phase { Erasing, Programming, SuccessBox, Verifying, VerifyBox };
enum Press { PressWrite, PressVerify, LoadBios, DropFile, SafeModeItem, About };
enum Way { Exit, Escape, CloseBox, Enter };
const char* const kPhaseNames[] = {"Erasing", "Programming", "SuccessBox", "Verifying",
                                   "VerifyBox"};
const char* const kPressNames[] = {"Write", "Verify", "LoadBios", "Drop", "SafeMode", "About"};
const char* const kWayNames[] = {"Exit", "Escape", "CloseBox", "Enter"};

bool IsWrite(Phase p) { return p <= SuccessBox; }

// Progress is reported once per chunk: more than two chunks leave work after the second report.
int32_t ImageSizeFor(Phase p) {
  return p == Programming || p == Verifying ? 2 * kChunkBytes + 4096 : 4096;
}

constexpr int32_t kFlashSize = 0x200000;

// The large chip's flash: zeros before a write, so that an erase shows; the image before a
// verify, so that it passes every chunk.
std::string MakeFlashFile(const QTemporaryDir& dir, Phase phase, int32_t n) {
  const QString path = dir.filePath("flash.bin");
  QByteArray bytes(kFlashSize, IsWrite(phase) ? '\0' : '\xFF');
  if (!IsWrite(phase)) {
    const std::vector<uint8_t> image = ImageBytes(n);
    std::copy(image.begin(), image.end(), bytes.begin());
  }
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  return path.toStdString();
}

// The status, progress, boxes and flash a run ends with.
void ExpectRunEnded(Phase phase, bool cancelled, const std::string& status, int progress,
                    const std::string& flash, int32_t n) {
  EXPECT_EQ(status, cancelled        ? "Write operation cancelled"
                    : IsWrite(phase) ? "Writing data - Finished"
                                     : "Verify OK");
  EXPECT_EQ(progress, cancelled ? 0 : n);
  EXPECT_FALSE(BusyFlag());
  const std::vector<uint8_t> image = ImageBytes(n);
  ASSERT_EQ(flash.size(), static_cast<size_t>(kFlashSize));
  EXPECT_TRUE(flash.substr(0, n) ==
              (cancelled ? std::string(n, '\xFF') : std::string(image.begin(), image.end())))
      << (cancelled ? "a cancelled write leaves the range erased" : "the chip holds the image");
  if (IsWrite(phase)) {
    EXPECT_EQ(flash.back(), '\0') << "blocks beyond the image are untouched";
  }
}

// Starts the phase's run and calls `act` on the window thread while the run is in that phase;
// returns once `act` has returned and whatever held the run has let it go on.
void RunPhase(FlasherDlg* dlg, SimAdapter* sim, Answerer* answerer, Phase phase,
              const std::function<void()>& act) {
  const bool box = phase == SuccessBox || phase == VerifyBox;
  if (phase == Erasing) sim->HoldNextStatusRead();
  if (box) answerer->hold_captions = {IsWrite(phase) ? "Success" : "Verify OK!"};
  // The worker waits until the window has shown each progress report: an act queued when the
  // second one shows runs inside the chunk loop.
  const QString running = IsWrite(phase) ? "Writing..." : "Verifying, please wait...";
  bool queued = false, acted = false;
  // Only the chunk phases listen, and they stop before this function returns.
  QMetaObject::Connection on_progress;
  if (phase == Programming || phase == Verifying)
    on_progress = QObject::connect(dlg, &FlasherDlg::progressSet, dlg, [&, dlg](int position) {
      if (queued || position != kChunkBytes || dlg->StatusLine()->text() != running) return;
      queued = true;
      QTimer::singleShot(0, dlg, [&, dlg] {
        EXPECT_EQ(dlg->ProgressBar()->value(), kChunkBytes) << "no longer in the chunk loop";
        act();
        acted = true;
      });
    });
  dlg->Button(IsWrite(phase) ? kWriteButtonId : kVerifyButtonId)->click();
  if (phase == Erasing) {
    ASSERT_TRUE(WaitFor([sim] { return sim->WaitForHeldRead(std::chrono::milliseconds(0)); }));
    act();
    sim->ReleaseHeldRead();
  } else if (box) {
    ASSERT_TRUE(WaitFor([answerer] { return answerer->Holding(); }));
    act();
    answerer->hold_captions.clear();
    answerer->ReleaseBox();
  } else {
    const bool done = WaitFor([&] { return acted; });
    QObject::disconnect(on_progress);
    ASSERT_TRUE(done) << "the run never reached its second chunk";
  }
}

class PressDuringRunTest : public WindowTest,
                           public ::testing::WithParamInterface<std::tuple<Phase, Press>> {
 protected:
  void DoPress(Press press, Phase phase) {
    const int running = IsWrite(phase) ? kWriteButtonId : kVerifyButtonId;
    const WindowState before = Snapshot(*window_);
    const size_t boxes_before = answerer_->boxes.size();
    const std::vector<uint8_t> image(ImageBuffer(), ImageBuffer() + ImageSize());
    if (press == PressWrite || press == PressVerify) {
      const int id = press == PressWrite ? kWriteButtonId : kVerifyButtonId;
      QPushButton* button = window_->Button(id);
      EXPECT_EQ(button->isEnabled(), id == running);
      EXPECT_EQ(button->text(), id == running          ? "Cancel"
                                : id == kWriteButtonId ? "Write"
                                                       : "Verify");
      button->click();
      if (id != running) {
        // A disabled button takes no click; its command delivered anyway only asks to cancel.
        EXPECT_FALSE(window_->CancelRequested());
        id == kWriteButtonId ? window_->OnWrite() : window_->OnVerify();
      }
      EXPECT_TRUE(window_->CancelRequested());
      const WindowState after = Snapshot(*window_);
      EXPECT_EQ(std::tie(after.write_caption, after.verify_caption, after.write_enabled,
                         after.verify_enabled),
                std::tie(before.write_caption, before.verify_caption, before.write_enabled,
                         before.verify_enabled));
    } else if (press == LoadBios || press == DropFile) {
      const std::string other = WriteImageFile(dir_, "other.qlz", 900, "Other");
      answerer_->file_choice = QString::fromStdString(other);
      if (press == DropFile) {
        Drop({other});
      } else {
        window_->Command(kLoadBiosCommand)->trigger();
      }
      EXPECT_EQ(answerer_->file_dialogs, 0);
      // The refusal has been answered; a result box may have come in meanwhile.
      int refused = 0;
      for (size_t i = boxes_before; i < answerer_->boxes.size(); ++i) {
        const SeenBox& box = answerer_->boxes[i];
        if (box.caption != "Open file") continue;
        ++refused;
        EXPECT_EQ(box.text,
                  "A write or verify is in progress. Load the file when it has finished.");
        EXPECT_EQ(box.icon, QMessageBox::Information);
        EXPECT_EQ(box.parent, window_.get());
      }
      EXPECT_EQ(refused, 1);
      EXPECT_EQ(std::vector<uint8_t>(ImageBuffer(), ImageBuffer() + ImageSize()), image);
      EXPECT_EQ(window_->windowTitle(), "Quelt Flasher USB - 'TestBios' loaded");
    } else if (press == SafeModeItem) {
      QAction* item = window_->Command(kSafeModeCommand);
      const bool was = item->isChecked();
      item->trigger();
      EXPECT_EQ(item->isChecked(), !was);
      EXPECT_EQ(window_->SafeMode(), !was);
      EXPECT_EQ(ReadStoredSafeMode(), was ? StoredSafeMode::Off : StoredSafeMode::On);
    } else {
      // Closes the About box with its OK button; the command returns when it has closed.
      int opened = 0;
      QWidget* owner = nullptr;
      QTimer closer;
      QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          auto* about = qobject_cast<AboutDlg*>(w);
          if (!about || !about->isVisible()) continue;
          ++opened;
          owner = about->parentWidget();
          about->findChild<QPushButton*>()->click();
        }
      });
      closer.start(2);
      window_->Command(kAboutCommand)->trigger();
      EXPECT_EQ(opened, 1);
      EXPECT_EQ(owner, window_.get());
    }
    EXPECT_TRUE(window_->isVisible());
  }
};

TEST_P(PressDuringRunTest, DoesWhatItSaysAndTheRunEndsWhole) {
  const Phase phase = std::get<0>(GetParam());
  const Press press = std::get<1>(GetParam());
  const int32_t n = ImageSizeFor(phase);
  UseSim("large,flash=" + MakeFlashFile(dir_, phase, n));
  OpenWindow();
  Drop({WriteImageFile(dir_, "img.qlz", n)});
  ASSERT_TRUE(window_->ImageLoaded());
  const StoredSafeMode stored_before = ReadStoredSafeMode();

  RunPhase(window_.get(), sim_.get(), answerer_.get(), phase, [&] { DoPress(press, phase); });
  ASSERT_FALSE(HasFatalFailure());
  WaitIdle();

  // Only a Write or Verify command during the erase stops the run, and only the write.
  const bool cancelled = phase == Erasing && (press == PressWrite || press == PressVerify);
  std::vector<QString> captions, expected;
  for (const SeenBox& box : answerer_->boxes) captions.push_back(box.caption);
  if (!cancelled) expected.push_back(IsWrite(phase) ? "Success" : "Verify OK!");
  if (press == LoadBios || press == DropFile) expected.push_back("Open file");
  std::sort(captions.begin(), captions.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(captions, expected);

  const WindowState after = Snapshot(*window_);
  ExpectRunEnded(phase, cancelled, after.status.toStdString(), after.progress,
                 sim_->FlashContents(), n);
  EXPECT_EQ(after.write_caption + after.verify_caption, "WriteVerify");
  EXPECT_TRUE(after.write_enabled && after.verify_enabled);
  EXPECT_FALSE(window_->CancelRequested());
  if (press != SafeModeItem) {
    EXPECT_EQ(ReadStoredSafeMode(), stored_before);
  }
}

INSTANTIATE_TEST_SUITE_P(PhaseByPress, PressDuringRunTest,
                         ::testing::Combine(::testing::Values(Erasing, Programming, SuccessBox,
                                                              Verifying, VerifyBox),
                                            ::testing::Values(PressWrite, PressVerify, LoadBios,
                                                              DropFile, SafeModeItem, About)),
                         [](const auto& info) {
                           return std::string(kPhaseNames[std::get<0>(info.param)]) +
                                  kPressNames[std::get<1>(info.param)];
                         });

// The emulator behind a log of the calls that matter here: the idle symbol, other link traffic,
// and the moment the window has closed.
class LoggingAdapter : public Adapter {
 public:
  explicit LoggingAdapter(Adapter* inner) : inner_(inner) {}
  uint32_t Open() override { return Log("open"), inner_->Open(); }
  uint32_t Speed(int32_t speed) override { return Log("speed"), inner_->Speed(speed); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    Log(count == 2 && bytes[0] == 0x00 && bytes[1] == 0x10 ? "idle" : "write");
    return inner_->Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override { return Log("read"), inner_->Read(input); }
  void Log(const char* what) {
    std::lock_guard lock(mutex_);
    log_.push_back(what);
  }
  // The entry before the first "closed" and those after it.
  std::vector<std::string> AroundClose() const {
    std::lock_guard lock(mutex_);
    const auto closed = std::find(log_.begin(), log_.end(), "closed");
    if (closed == log_.end() || closed == log_.begin()) return {"<never closed>"};
    std::vector<std::string> out(closed + 1, log_.end());
    out.insert(out.begin(), *(closed - 1));
    return out;
  }

 private:
  Adapter* inner_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
};

class CloseDuringRunTest : public WindowTest,
                           public ::testing::WithParamInterface<std::tuple<Phase, Way>> {};

TEST_P(CloseDuringRunTest, RunFinishesThenTheWindowClosesAndShutdownIdlesOnce) {
  const Phase phase = std::get<0>(GetParam());
  const Way way = std::get<1>(GetParam());
  ResetImageStoreForTests();
  const int32_t n = ImageSizeFor(phase);
  std::string error;
  std::unique_ptr<SimAdapter> sim =
      SimAdapter::Create("large,flash=" + MakeFlashFile(dir_, phase, n), &error);
  ASSERT_TRUE(sim) << error;
  LoggingAdapter adapter(sim.get());
  const std::string image_file = WriteImageFile(dir_, "img.qlz", n);
  std::string status;
  std::vector<QString> captions;
  bool visible_after_close = false, busy_after_close = false;

  RunTool(&adapter, [&](FlasherDlg* dlg) {
    QObject::connect(dlg, &FlasherDlg::statusTextSet,
                     [&](const QString& t) { status = t.toStdString(); });
    QObject::connect(dlg, &QDialog::finished, [&] { adapter.Log("closed"); });
    Answerer answerer(dlg);
    EXPECT_EQ(dlg->LoadImageFile(QString::fromStdString(image_file)), n);
    RunPhase(dlg, sim.get(), &answerer, phase, [&] {
      if (way == Exit) dlg->Command(kExitCommand)->trigger();
      if (way == Escape) QTest::keyClick(dlg, Qt::Key_Escape);
      if (way == CloseBox) dlg->close();
      if (way == Enter) {
        // Enter ends the window only while no push button has the focus.
        if (QWidget* focus = dlg->focusWidget(); qobject_cast<QPushButton*>(focus))
          focus->clearFocus();
        QTest::keyClick(dlg, Qt::Key_Return);
      }
      visible_after_close = dlg->isVisible();
      busy_after_close = BusyFlag();
    });
    if (HasFailure() && !visible_after_close) {
      // The run never got to the close: let it end, then end the window.
      sim->ReleaseHeldRead();
      answerer.hold_captions.clear();
      answerer.ReleaseBox();
      WaitFor([] { return !BusyFlag().load(); });
      dlg->reject();
    }
    // The answerer stays until the window has gone, to answer the run's result box.
    EXPECT_TRUE(WaitFor([dlg] { return !dlg->isVisible(); })) << "the window never closed";
    for (const SeenBox& box : answerer.boxes) captions.push_back(box.caption);
  });

  EXPECT_TRUE(visible_after_close) << "the window closed while its run lasted";
  EXPECT_TRUE(busy_after_close);
  EXPECT_EQ(ImageBuffer(), nullptr);
  // The run's own end idled the bus before the window closed; shutdown idles it once more.
  EXPECT_EQ(adapter.AroundClose(), (std::vector<std::string>{"idle", "idle"}));
  const bool cancelled = phase == Erasing;
  EXPECT_EQ(captions, cancelled ? std::vector<QString>{}
                                : std::vector<QString>{IsWrite(phase) ? "Success" : "Verify OK!"});
  ExpectRunEnded(phase, cancelled, status, cancelled ? 0 : n, sim->FlashContents(), n);
}

INSTANTIATE_TEST_SUITE_P(PhaseByWay, CloseDuringRunTest,
                         ::testing::Combine(::testing::Values(Erasing, Programming, SuccessBox,
                                                              Verifying, VerifyBox),
                                            ::testing::Values(Exit, Escape, CloseBox, Enter)),
                         [](const auto& info) {
                           return std::string(kPhaseNames[std::get<0>(info.param)]) +
                                  kWayNames[std::get<1>(info.param)];
                         });

}  // namespace
}  // namespace quelt::test
