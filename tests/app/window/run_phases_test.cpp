// Every command the window offers, and every way of closing it, at each phase of a write or a
// verify run, while the worker thread works: what each does, and that the run and the chip come
// out of it whole.
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

#include "app/about_dlg.h"
#include "app/control_ids.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "link/program.h"
#include "settings/safe_mode.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

enum class Phase { Erasing, Programming, SuccessBox, Verifying, VerifyBox };
enum class Press { Write, Verify, LoadBios, Drop, SafeMode, About };
enum class Way { Exit, Escape, CloseBox, Enter };

const char* Name(Phase p) {
  switch (p) {
    case Phase::Erasing:
      return "Erasing";
    case Phase::Programming:
      return "Programming";
    case Phase::SuccessBox:
      return "SuccessBox";
    case Phase::Verifying:
      return "Verifying";
    case Phase::VerifyBox:
      return "VerifyBox";
  }
  return "";
}

const char* Name(Press p) {
  switch (p) {
    case Press::Write:
      return "Write";
    case Press::Verify:
      return "Verify";
    case Press::LoadBios:
      return "LoadBios";
    case Press::Drop:
      return "Drop";
    case Press::SafeMode:
      return "SafeMode";
    case Press::About:
      return "About";
  }
  return "";
}

const char* Name(Way w) {
  switch (w) {
    case Way::Exit:
      return "Exit";
    case Way::Escape:
      return "Escape";
    case Way::CloseBox:
      return "CloseBox";
    case Way::Enter:
      return "Enter";
  }
  return "";
}

const Phase kPhases[] = {Phase::Erasing, Phase::Programming, Phase::SuccessBox, Phase::Verifying,
                         Phase::VerifyBox};

bool IsWrite(Phase p) {
  return p == Phase::Erasing || p == Phase::Programming || p == Phase::SuccessBox;
}

// Programming and verifying report progress once per chunk: an image of more than two chunks
// gives a report (the second) after which the chunk loop still has work to do.
int32_t ImageSizeFor(Phase p) {
  return p == Phase::Programming || p == Phase::Verifying ? 2 * kChunkBytes + 4096 : 4096;
}

constexpr int32_t kFlashSize = 0x200000;

// The large chip's flash as a file: zeros before a write, so that an erase shows; the image
// before a verify, so that it passes every chunk.
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

// Starts the phase's run and calls `act` on the window thread while the run is in that phase;
// returns once `act` has returned and whatever held the run has let it go on.
void ActDuringPhase(FlasherDlg* dlg, SimAdapter* sim, Answerer* answerer, Phase phase,
                    const std::function<void()>& act) {
  const int button = IsWrite(phase) ? kWriteButtonId : kVerifyButtonId;
  switch (phase) {
    case Phase::Erasing:
      sim->HoldNextStatusRead();
      dlg->Button(button)->click();
      ASSERT_TRUE(WaitFor([sim] { return sim->WaitForHeldRead(std::chrono::milliseconds(0)); }));
      act();
      sim->ReleaseHeldRead();
      break;
    case Phase::Programming:
    case Phase::Verifying: {
      // The worker waits until the window has shown each progress report. An act queued when
      // the second one shows runs before the next report can: inside the chunk loop.
      const QString running = IsWrite(phase) ? "Writing..." : "Verifying, please wait...";
      bool queued = false, acted = false;
      const QMetaObject::Connection on_progress =
          QObject::connect(dlg, &FlasherDlg::progressSet, dlg, [&, dlg, running](int position) {
            if (queued || position != kChunkBytes || dlg->StatusLine()->text() != running) return;
            queued = true;
            QTimer::singleShot(0, dlg, [&, dlg] {
              EXPECT_EQ(dlg->ProgressBar()->value(), kChunkBytes) << "no longer in the chunk loop";
              act();
              acted = true;
            });
          });
      dlg->Button(button)->click();
      const bool done = WaitFor([&] { return acted; });
      QObject::disconnect(on_progress);
      ASSERT_TRUE(done) << "the run never reached its second chunk";
      break;
    }
    case Phase::SuccessBox:
    case Phase::VerifyBox:
      answerer->hold_captions = {IsWrite(phase) ? "Success" : "Verify OK!"};
      dlg->Button(button)->click();
      ASSERT_TRUE(WaitFor([answerer] { return answerer->Holding(); }));
      act();
      answerer->hold_captions.clear();
      answerer->ReleaseBox();
      break;
  }
}

// Closes any About box that opens, with its OK button.
class AboutCloser : public QObject {
 public:
  AboutCloser() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* about = qobject_cast<AboutDlg*>(w);
        if (!about || !about->isVisible()) continue;
        ++opened;
        owner = about->parentWidget();
        about->findChild<QPushButton*>()->click();
      }
    });
    timer_.start(2);
  }
  int opened = 0;
  QWidget* owner = nullptr;

 private:
  QTimer timer_;
};

// ---- Presses during a run ----

struct PressCase {
  Phase phase;
  Press press;
};

class PressDuringRunTest : public WindowTest, public ::testing::WithParamInterface<PressCase> {
 protected:
  // The press, and the checks of what it did at once.
  void DoPress(Press press, Phase phase) {
    const int running = IsWrite(phase) ? kWriteButtonId : kVerifyButtonId;
    const WindowState before = Snapshot(*window_);
    const size_t boxes_before = answerer_->boxes.size();
    const std::vector<uint8_t> image(ImageBuffer(), ImageBuffer() + ImageSize());
    switch (press) {
      case Press::Write:
      case Press::Verify: {
        const int id = press == Press::Write ? kWriteButtonId : kVerifyButtonId;
        QPushButton* button = window_->Button(id);
        EXPECT_EQ(button->isEnabled(), id == running);
        EXPECT_EQ(button->text(), id == running          ? "Cancel"
                                  : id == kWriteButtonId ? "Write"
                                                         : "Verify");
        button->click();
        if (id != running) {
          // A disabled button takes no click; its command delivered anyway only asks to cancel.
          EXPECT_FALSE(window_->CancelRequested());
          if (id == kWriteButtonId) {
            window_->OnWrite();
          } else {
            window_->OnVerify();
          }
        }
        EXPECT_TRUE(window_->CancelRequested());
        const WindowState after = Snapshot(*window_);
        EXPECT_EQ(after.write_caption, before.write_caption);
        EXPECT_EQ(after.verify_caption, before.verify_caption);
        EXPECT_EQ(after.write_enabled, before.write_enabled);
        EXPECT_EQ(after.verify_enabled, before.verify_enabled);
        break;
      }
      case Press::LoadBios:
      case Press::Drop: {
        // A file that would load if the window looked at it.
        const std::string other = WriteImageFile(dir_, "other.qlz", 900, "Other");
        answerer_->file_choice = QString::fromStdString(other);
        if (press == Press::Drop) {
          Drop({other});
        } else {
          window_->Command(kLoadBiosCommand)->trigger();
        }
        EXPECT_EQ(answerer_->file_dialogs, 0);
        // The refusal has been answered; a result box may have come in meanwhile.
        bool refused = false;
        for (size_t i = boxes_before; i < answerer_->boxes.size(); ++i) {
          const SeenBox& box = answerer_->boxes[i];
          if (box.caption != "Open file") continue;
          refused = true;
          EXPECT_EQ(box.text,
                    "A write or verify is in progress. Load the file when it has finished.");
          EXPECT_EQ(box.icon, QMessageBox::Information);
          EXPECT_EQ(box.parent, window_.get());
        }
        EXPECT_TRUE(refused);
        EXPECT_EQ(std::vector<uint8_t>(ImageBuffer(), ImageBuffer() + ImageSize()), image);
        EXPECT_EQ(window_->windowTitle(), "Quelt Flasher USB - 'TestBios' loaded");
        break;
      }
      case Press::SafeMode: {
        QAction* item = window_->Command(kSafeModeCommand);
        const bool was = item->isChecked();
        item->trigger();
        EXPECT_EQ(item->isChecked(), !was);
        EXPECT_EQ(window_->SafeMode(), !was);
        EXPECT_EQ(ReadStoredSafeMode(), was ? StoredSafeMode::Off : StoredSafeMode::On);
        break;
      }
      case Press::About: {
        AboutCloser closer;
        window_->Command(kAboutCommand)->trigger();  // returns when it has closed
        EXPECT_EQ(closer.opened, 1);
        EXPECT_EQ(closer.owner, window_.get());
        break;
      }
    }
    EXPECT_TRUE(window_->isVisible());
  }
};

TEST_P(PressDuringRunTest, DoesWhatItSaysAndTheRunEndsWhole) {
  const PressCase c = GetParam();
  const int32_t n = ImageSizeFor(c.phase);
  UseSim("large,flash=" + MakeFlashFile(dir_, c.phase, n));
  OpenWindow();
  Drop({WriteImageFile(dir_, "img.qlz", n)});
  ASSERT_TRUE(window_->ImageLoaded());
  const StoredSafeMode stored_before = ReadStoredSafeMode();

  ActDuringPhase(window_.get(), sim_.get(), answerer_.get(), c.phase,
                 [&] { DoPress(c.press, c.phase); });
  ASSERT_FALSE(HasFatalFailure());
  WaitIdle();

  // Only a Write or Verify command during the erase stops the run, and only the write.
  const bool cancelled =
      c.phase == Phase::Erasing && (c.press == Press::Write || c.press == Press::Verify);
  std::vector<QString> captions;
  for (const SeenBox& box : answerer_->boxes) captions.push_back(box.caption);
  std::vector<QString> expected;
  if (!cancelled) expected.push_back(IsWrite(c.phase) ? "Success" : "Verify OK!");
  if (c.press == Press::LoadBios || c.press == Press::Drop) expected.push_back("Open file");
  std::sort(captions.begin(), captions.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(captions, expected);

  const WindowState after = Snapshot(*window_);
  EXPECT_EQ(after.status, cancelled          ? "Write operation cancelled"
                          : IsWrite(c.phase) ? "Writing data - Finished"
                                             : "Verify OK");
  EXPECT_EQ(after.progress, cancelled ? 0 : n);
  EXPECT_EQ(after.write_caption, "Write");
  EXPECT_EQ(after.verify_caption, "Verify");
  EXPECT_TRUE(after.write_enabled && after.verify_enabled);
  EXPECT_FALSE(window_->CancelRequested());
  EXPECT_FALSE(BusyFlag());
  if (c.press != Press::SafeMode) {
    EXPECT_EQ(ReadStoredSafeMode(), stored_before);
  }

  const std::vector<uint8_t> image = ImageBytes(n);
  const std::string flash = sim_->FlashContents();
  ASSERT_EQ(flash.size(), static_cast<size_t>(kFlashSize));
  EXPECT_TRUE(flash.substr(0, n) ==
              (cancelled ? std::string(n, '\xFF') : std::string(image.begin(), image.end())))
      << (cancelled ? "a cancelled write leaves the range erased" : "the chip holds the image");
  if (IsWrite(c.phase)) {
    EXPECT_EQ(flash.back(), '\0') << "blocks beyond the image are untouched";
  }
}

std::vector<PressCase> AllPresses() {
  std::vector<PressCase> cases;
  for (Phase phase : kPhases) {
    for (Press press : {Press::Write, Press::Verify, Press::LoadBios, Press::Drop, Press::SafeMode,
                        Press::About}) {
      cases.push_back({phase, press});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(PhaseByPress, PressDuringRunTest, ::testing::ValuesIn(AllPresses()),
                         [](const ::testing::TestParamInfo<PressCase>& info) {
                           return std::string(Name(info.param.phase)) + Name(info.param.press);
                         });

// ---- Closing the window during a run ----

// The emulator behind a log of the calls that matter here: the idle symbol, other link traffic,
// and the moment the window has closed.
class LoggingAdapter : public Adapter {
 public:
  explicit LoggingAdapter(Adapter* inner) : inner_(inner) {}
  uint32_t Open() override {
    Log("open");
    return inner_->Open();
  }
  uint32_t Speed(int32_t speed) override {
    Log("speed");
    return inner_->Speed(speed);
  }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    Log(count == 2 && bytes[0] == 0x00 && bytes[1] == 0x10 ? "idle" : "write");
    return inner_->Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override {
    Log("read");
    return inner_->Read(input);
  }
  void Log(const char* what) {
    std::lock_guard lock(mutex_);
    log_.push_back(what);
  }
  // What followed the first "closed" entry.
  std::vector<std::string> AfterClose() const {
    std::lock_guard lock(mutex_);
    const auto closed = std::find(log_.begin(), log_.end(), "closed");
    if (closed == log_.end()) return {"<never closed>"};
    return std::vector<std::string>(closed + 1, log_.end());
  }
  std::string BeforeClose() const {
    std::lock_guard lock(mutex_);
    const auto closed = std::find(log_.begin(), log_.end(), "closed");
    return closed == log_.begin() ? "" : *(closed - 1);
  }

 private:
  Adapter* inner_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
};

struct CloseCase {
  Phase phase;
  Way way;
};

class CloseDuringRunTest : public WindowTest, public ::testing::WithParamInterface<CloseCase> {};

void CloseWindow(FlasherDlg* dlg, Way way) {
  switch (way) {
    case Way::Exit:
      dlg->Command(kExitCommand)->trigger();
      break;
    case Way::Escape:
      QTest::keyClick(dlg, Qt::Key_Escape);
      break;
    case Way::CloseBox:
      dlg->close();
      break;
    case Way::Enter:
      // Enter ends the window only while no push button has the focus.
      if (QWidget* focus = dlg->focusWidget(); qobject_cast<QPushButton*>(focus)) {
        focus->clearFocus();
      }
      QTest::keyClick(dlg, Qt::Key_Return);
      break;
  }
}

TEST_P(CloseDuringRunTest, RunFinishesThenTheWindowClosesAndShutdownIdlesOnce) {
  const CloseCase c = GetParam();
  ResetImageStoreForTests();
  const int32_t n = ImageSizeFor(c.phase);
  std::string error;
  std::unique_ptr<SimAdapter> sim =
      SimAdapter::Create("large,flash=" + MakeFlashFile(dir_, c.phase, n), &error);
  ASSERT_TRUE(sim) << error;
  LoggingAdapter adapter(sim.get());
  const std::string image_file = WriteImageFile(dir_, "img.qlz", n);
  std::vector<std::string> statuses;
  std::vector<QString> captions;
  bool visible_after_close = false, busy_after_close = false;

  RunTool(&adapter, [&](FlasherDlg* dlg) {
    QObject::connect(dlg, &FlasherDlg::statusTextSet,
                     [&](const QString& t) { statuses.push_back(t.toStdString()); });
    QObject::connect(dlg, &QDialog::finished, [&] { adapter.Log("closed"); });
    Answerer answerer(dlg);
    EXPECT_EQ(dlg->LoadImageFile(QString::fromStdString(image_file)), n);
    ActDuringPhase(dlg, sim.get(), &answerer, c.phase, [&] {
      CloseWindow(dlg, c.way);
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
  EXPECT_FALSE(BusyFlag());
  EXPECT_EQ(ImageBuffer(), nullptr);
  // The run's own end idled the bus before the window closed; shutdown idles it once more.
  EXPECT_EQ(adapter.BeforeClose(), "idle");
  EXPECT_EQ(adapter.AfterClose(), std::vector<std::string>{"idle"});

  const bool cancelled = c.phase == Phase::Erasing;
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), cancelled          ? "Write operation cancelled"
                             : IsWrite(c.phase) ? "Writing data - Finished"
                                                : "Verify OK");
  EXPECT_EQ(captions, cancelled
                          ? std::vector<QString>{}
                          : std::vector<QString>{IsWrite(c.phase) ? "Success" : "Verify OK!"});
  const std::vector<uint8_t> image = ImageBytes(n);
  const std::string flash = sim->FlashContents();
  EXPECT_TRUE(flash.substr(0, static_cast<size_t>(n)) ==
              (cancelled ? std::string(n, '\xFF') : std::string(image.begin(), image.end())))
      << (cancelled ? "a cancelled write leaves the range erased" : "the chip holds the image");
  if (IsWrite(c.phase)) {
    EXPECT_EQ(flash.back(), '\0') << "blocks beyond the image are untouched";
  }
}

std::vector<CloseCase> AllCloses() {
  std::vector<CloseCase> cases;
  for (Phase phase : kPhases) {
    for (Way way : {Way::Exit, Way::Escape, Way::CloseBox, Way::Enter}) {
      cases.push_back({phase, way});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(PhaseByWay, CloseDuringRunTest, ::testing::ValuesIn(AllCloses()),
                         [](const ::testing::TestParamInfo<CloseCase>& info) {
                           return std::string(Name(info.param.phase)) + Name(info.param.way);
                         });

}  // namespace
}  // namespace quelt::test
