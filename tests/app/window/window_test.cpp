// The window driven as its user drives it, offscreen, through the tool's own start-up and
// shutdown, mostly on the chip emulator. Status texts, buttons, progress, boxes, file dialogs,
// About boxes and the adapter calls the window decides go to one log in order, compared with a
// literal log. Presses and closes during each phase of a run are the threaded part (`threads`).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "app/about_dlg.h"
#include "app/control_ids.h"
#include "app/flasher_app.h"
#include "app/flasher_dlg.h"
#include "app/paint/templates.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/work_buffer.h"
#include "settings/safe_mode.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

using Log = std::vector<std::string>;
constexpr int kW = kWriteButtonId, kV = kVerifyButtonId;

bool WaitFor(const std::function<bool()>& condition, int ms = 30000) {
  return QTest::qWaitFor(condition, ms);
}

// A widget's font and size, then where each of its children sits.
std::string Look(const QWidget* w) {
  std::string text = QFontInfo(w->font()).family().toStdString() + " " +
                     std::to_string(w->font().pixelSize()) + ":" + std::to_string(w->width()) +
                     "x" + std::to_string(w->height());
  for (const QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const QRect r = child->geometry();
    text += ";" + std::to_string(r.x()) + "," + std::to_string(r.y()) + "," +
            std::to_string(r.width()) + "," + std::to_string(r.height());
  }
  return text;
}

// One life of the tool: start-up on the emulator, `act` once the window shows, shutdown.
class Tool : public Adapter {
 public:
  Tool() {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.File("config")));
    ResetChipTypeForTests();
    ResetImageStoreForTests();
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(2);
  }

  TempDir dir;
  FlasherDlg* dlg = nullptr;
  std::unique_ptr<SimAdapter> sim;
  QString file_choice;                 // the file dialog's answer; empty: cancelled
  std::function<void()> after_choice;  // once the dialog has taken it
  QStringList hold;                    // captions of boxes left open
  QPointer<QWidget> held;
  Bytes image;

  void Add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    // A status text set after blanking the line shows as "say:"; runs of progress positions as
    // first..last; runs of other traffic as their last call.
    const std::string last = log_.empty() ? "" : log_.back();
    if (last == "status:<blank>" && entry.rfind("status:", 0) == 0) {
      log_.back() = "say:" + entry.substr(7);
    } else if (entry.rfind("pos:", 0) == 0 && last.rfind("pos:", 0) == 0) {
      log_.back() = last.substr(0, last.find("..")) + ".." + entry.substr(4);
    } else if ((entry == "idle" || entry == "io") && (last == "idle" || last == "io")) {
      log_.back() = entry;
    } else {
      log_.push_back(entry);
    }
  }
  Log Entries() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  // A file of `n` image bytes named `name`; the last one made is what the flash is checked for.
  std::string Image(int32_t n, const std::string& name = "TestBios", const char* file = "i.qlz") {
    image = ImageBytes(n, name, n);
    WriteFile(dir.File(file), image);
    return dir.File(file);
  }
  // The emulator's options ("" for the adapter QUELT_ADAPTER names); "!" first: its open fails;
  // flash=Z is a flash of zeros, flash=I one that holds the image.
  void Run(std::string options, const std::function<void(Tool&)>& act) {
    if (const size_t at = options.find("flash="); at != std::string::npos) {
      Bytes flash(0x200000, options[at + 6] == 'I' ? 0xFF : 0x00);
      if (flash[0]) std::copy(image.begin(), image.end(), flash.begin());
      WriteFile(dir.File("flash"), flash);
      options.replace(at + 6, 1, dir.File("flash"));
    }
    fail_open_ = !options.empty() && options[0] == '!';
    std::string error;
    if (!options.empty()) sim = SimAdapter::Create(options.substr(fail_open_), &error);
    ASSERT_TRUE(sim || options.empty()) << error;
    act_ = act;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    char arg0[] = "/usr/bin/quelt-flasher", arg1[] = "ignored.qlz";
    char* argv[] = {arg0, arg1, nullptr};
    int argc = 2;
    FlasherApp().InitInstance(argc, argv, sim ? this : nullptr);
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::istringstream err(::testing::internal::GetCapturedStderr());
    Add(ImageBuffer() ? "kept" : "freed");
    std::fputs(out.c_str(), stdout);  // failures inside `act` show too
    if (!out.empty()) Add("stdout:" + out);
    for (std::string line; std::getline(err, line);)
      if (line.rfind("quelt-flasher: ", 0) == 0) Add("stderr:" + line.substr(15));
    if (sim && !image.empty()) {
      const std::string flash = sim->FlashContents().substr(0, image.size());
      Add(flash == std::string(image.begin(), image.end()) ? "flash:image"
          : flash == std::string(image.size(), '\xFF')     ? "flash:erased"
                                                           : "flash:other");
    }
    SetWorkBufferAllocatorForTests(nullptr);
  }

  void Drop(const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
    data.setUrls(urls);
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg, &enter);
    QDropEvent drop({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg, &drop);
    Add(enter.isAccepted() && drop.isAccepted() ? "drop" : "drop refused");
    QCoreApplication::sendPostedEvents(dlg, QEvent::MetaCall);  // the load the drop queued
    Add("title:" + dlg->windowHandle()->title().toStdString());
  }
  void Press(int id) {
    dlg->Button(id)->click();
    EXPECT_TRUE(WaitFor([] { return !WindowRun::Busy(); })) << "the run did not finish";
    QApplication::processEvents();  // the run's end notice
  }
  void Load(const std::string& path) {
    file_choice = QString::fromStdString(path);
    dlg->Command(kLoadBiosCommand)->trigger();
  }
  std::string Safe() const {
    const char* stored[] = {"off", "on", "unchanged", "missing"};
    return std::string("mark") + "-+"[dlg->Command(kSafeModeCommand)->isChecked()] + " safe" +
           "-+"[dlg->SafeMode()] + " stored:" + stored[static_cast<int>(ReadStoredSafeMode())];
  }
  std::string Buttons() const {
    auto b = [this](int id) {
      return dlg->Button(id)->text().toStdString() + "-+"[dlg->Button(id)->isEnabled()];
    };
    return b(kW) + "," + b(kV);
  }

  uint32_t Open() override { return Add("open"), fail_open_ ? 1 : sim->Open(); }
  uint32_t Speed(int32_t s) override { return Add("speed:" + std::to_string(s)), sim->Speed(s); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    Add(count == 2 && bytes[0] == 0x00 && bytes[1] == 0x10 ? "idle" : "io");
    return sim->Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override { return Add("io"), sim->Read(input); }

 private:
  // Waits for the window; then answers boxes, file dialogs and About boxes as they show.
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible() || w->property("seen").toBool()) continue;
      w->setProperty("seen", true);
      if (!dlg && (dlg = qobject_cast<FlasherDlg*>(w))) {
        // The focused button, and the one a click on the Write button's place reaches.
        auto* focus = qobject_cast<QPushButton*>(dlg->focusWidget());
        auto* top = qobject_cast<QPushButton*>(
            dlg->Client()->childAt(kFlasherControls[0].Pixels().center()));
        Add(std::string("shown:") + "NWA"[dlg->windowModality()] + ":" +
            (focus ? focus->text().toStdString() : "?") + ":" +
            (top ? top->text().toStdString() : "?") + ":" + Look(dlg->Client()));
        QObject::connect(dlg, &FlasherDlg::statusTextSet, [this](const QString& text) {
          Add("status:" + (text == QString(110, ' ') ? "<blank>" : text.toStdString()));
        });
        QObject::connect(dlg, &FlasherDlg::buttonChanged, [this] { Add("btn:" + Buttons()); });
        QObject::connect(dlg, &FlasherDlg::progressRangeSet,
                         [this](int high) { Add("range:" + std::to_string(high)); });
        QObject::connect(dlg, &FlasherDlg::progressSet,
                         [this](int pos) { Add("pos:" + std::to_string(pos)); });
        QObject::connect(dlg, &QDialog::finished, [this] { Add("closed"); });
        // A timer of its own: this one goes on answering while `act` waits.
        QTimer::singleShot(0, dlg, [this] {
          act_(*this);
          Add("title:" + dlg->windowHandle()->title().toStdString());
          if (dlg->isVisible()) dlg->reject();
        });
        return;
      }
      std::string entry = w->windowTitle().toStdString() + ":" + "NWA"[w->windowModality()] + ":" +
                          (w->parentWidget() == dlg ? "win"
                           : w->parentWidget()      ? "?"
                                                    : "-");
      if (hold.contains(w->windowTitle())) held = w;
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        // The last reference to texts a worker made goes here, where ThreadSanitizer sees it,
        // not inside Qt, whose reference counts it cannot see.
        texts_ << box->text() << box->windowTitle();
        Add("box:" + entry + ":" + "NIWCQ"[box->icon()] + ":" + box->text().toStdString());
        if (held != w) box->button(QMessageBox::Ok)->click();
      } else if (qobject_cast<AboutDlg*>(w)) {
        entry = "about:" + entry + ":" + Look(w);
        for (QLabel* label : w->findChildren<QLabel*>()) {
          const QPixmap icon = label->pixmap();
          entry += ":" + (icon.isNull() ? label->text().toStdString()
                                        : "icon " + std::to_string(icon.width()));
        }
        Add(entry);
        if (held != w) w->findChild<QPushButton*>()->click();
      } else if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        entry = "dialog:" + entry + ":" + dialog->selectedNameFilter().toStdString();
        for (int i = 0; i < types->count(); ++i) entry += ";" + types->itemText(i).toStdString();
        types->setCurrentIndex(0);
        emit types->activated(0);  // what the first filter matches
        Add(entry + ":" +
            dialog->findChild<QFileSystemModel*>()->nameFilters().join(';').toStdString());
        if (file_choice.isEmpty()) {
          dialog->reject();
          continue;
        }
        dialog->selectFile(file_choice);
        static_cast<QDialog*>(dialog)->accept();  // as its Open button does
        if (after_choice) after_choice();
      }
    }
  }

  std::function<void(Tool&)> act_;
  QStringList texts_;
  QTimer poll_;
  std::mutex mutex_;
  Log log_;
  bool fail_open_ = false;
};

struct Row {
  const char* name;
  const char* sim;
  std::function<void(Tool&)> act;
  std::string log;
  int stored = -1;                       // the safe mode stored before start-up; -1: nothing stored
  std::optional<std::string> adapter{};  // QUELT_ADAPTER, for rows without `sim`
};

class ToolTest : public ::testing::TestWithParam<Row> {};

TEST_P(ToolTest, LogsWhatTheUserSeesInOrder) {
  const Row& row = GetParam();
  Tool tool;
  if (row.stored >= 0) SaveSafeMode(row.stored);
  ScopedEnv adapter("QUELT_ADAPTER", row.adapter);
  tool.Run(row.sim, row.act);
  Log expected;
  for (const QString& e : QString::fromStdString(row.log).split('|'))
    expected.push_back(e.toStdString());
  EXPECT_EQ(tool.Entries(), expected);
}

// Places worked out by hand from the templates: 1.5 px per horizontal dialog unit, 1.625 px per
// vertical one, each edge rounded to the nearest pixel, halves up; the group box goes first
// (behind the rest). About's icon control takes the 32 x 32 of its icon.
const std::string kShown =
    "idle|shown:W:Write:Write:Liberation Sans 11:354x153;9,0,207,124;23,29,90,23;120,29,83,23;12,"
    "138,332,13;23,72,180,29;11,132,333,1|";
const std::string kNotFound =
    "open|box:Quelt USB Adapter not found:W:win:C:Quelt USB Adapter not found!\nMake sure it's "
    "plugged correctly and that the driver is installed\nIf the error persists, unplug then replug "
    "the USB cable.|status:Can't connect to Quelt USB Adapter!\n|";
const std::string kNoChip =
    "idle|say:Connection error|box:Connection error:W:win:C:The Quelt USB "
    "Adapter was detected, but can't communicate with a Quelt JQ or Quelt JQ Ombrix chip.\nMake "
    "sure the DIP switch 2 is ON (Programming mode) and that JQ is turned on.|idle|";
const std::string kUnknown =
    "open|speed:3|io|box:Connection error:W:win:C:Unkown version of Quelt JQ detected.\nGet the "
    "latest version of this software.|idle|";
const std::string kOmbrix = "open|speed:2|io|say:Connected to the Quelt JQ Ombrix|";
const std::string kJq = "open|speed:2|io|say:Connected to the Quelt JQ|";
const std::string kEndW =
    "btn:Write+,Verify-|btn:Write+,Verify-|btn:Write+,Verify-|btn:Write+,Verify+|";
const std::string kEndV =
    "btn:Write-,Cancel+|btn:Write+,Cancel+|btn:Write+,Verify+|btn:Write+,Verify+|";
const std::string kNoMemory =
    "box:Error:W:win:C:Not enough memory for this operation.|say:Not enough memory|idle|";
const std::string kDialog =
    "dialog:Please select a Quelt JQ Bios file:W:win:Bios files (*.qlz);All;Bios files (*.qlz):*|";
const std::string kLoaded = "status:The bios file has been loaded successfully - ";
const std::string kTitle = "title:Quelt Flasher USB - 'TestBios' loaded|";
const std::string kGood = "title:Quelt Flasher USB - 'Good' loaded|";
const std::string kRead = "box:Error while reading file:W:win:C:";
const std::string kDropFailed = "box:quelt-flasher:W:win:W:Error while reading input file|";
const std::string kFileError = "box:quelt-flasher:W:win:N:File error|";
const std::string kNoAdapter = kShown.substr(5) + kNotFound.substr(5) +
                               "title:Quelt Flasher USB 1.0|closed|freed|stderr:adapter: ";
const std::string kEnd = "title:Quelt Flasher USB 1.0|closed|idle|freed";
const std::string kAbout =
    "about:About Quelt Flasher USB:W:win:Liberation Sans 11:317x73;20,16,32,32;66,20,117,13;218,"
    "24,75,26:icon 32:Quelt Flasher USB 1.0|";
// The start of a write and of a verify of `n` bytes once the chip answers.
std::string WriteStart(const std::string& n) {
  return "btn:Write-,Verify+|btn:Write-,Verify-|btn:Cancel-,Verify-|btn:Cancel+,Verify-|range:" +
         n + "|pos:0|say:Erasing the chip, please wait...|idle|";
}
std::string VerifyStart(const std::string& n) {
  return "btn:Write-,Verify+|btn:Write-,Verify-|btn:Write-,Cancel-|btn:Write-,Cancel+|range:" + n +
         "|pos:0|say:Verifying, please wait...|";
}
// Runs that end well; `middle`: the programming's traffic and progress.
std::string Written(const std::string& n, const std::string& middle = "io|pos:0|io|") {
  return WriteStart(n) + "say:Writing...|" + middle + "box:Success:N:-:I:Write complete!\nDon't " +
         "forget to exit programming mode by switching off DIP switch 2!|pos:" + n +
         "|say:Writing data - Finished|idle|" + kEndW;
}
std::string Verified(const std::string& n) {
  return VerifyStart(n) + "io|pos:0|io|pos:" + n +
         "|box:Verify OK!:W:win:I:No error detected|say:Verify OK|idle|" + kEndV;
}

const Row kRows[] = {
    // Enter presses a focused button; without one it ends the window.
    {"NotFound", "!large",
     [](Tool& t) {
       t.Add(t.Safe()), t.Press(kW), t.Press(kV);
       t.dlg->activateWindow();
       t.dlg->Button(kV)->setFocus();
       QTest::keyClick(t.dlg->Button(kV), Qt::Key_Return);
       t.dlg->Button(kV)->clearFocus();
       QTest::keyClick(t.dlg, Qt::Key_Return);
     },
     kShown + "mark+ safe+ stored:unchanged|" + kNotFound + kNotFound + kNotFound +
         "closed|title:Quelt Flasher USB 1.0|idle|freed",
     2},
    {"UnknownVersion", "alt", [](Tool& t) { t.Add(t.Safe()), t.Press(kW), t.Press(kV); },
     kShown + "mark+ safe+ stored:on|" + kUnknown + kUnknown + kEnd, 1},
    {"SmallChip", "base",
     [](Tool& t) {
       t.Drop({t.Image(131073)}), t.Press(kW), t.Press(kV);
       t.Drop({t.Image(131072)}), t.Press(kW);
     },
     kShown + "drop|" + kLoaded + "128 KBytes read|" + kTitle + kJq +
         "box:File too big:W:win:C:File too big for Quelt JQ!\nYou need a Quelt JQ Ombrix to load "
         "such a big bios.\n|status:File too big.\n|idle|open|speed:2|io|box:Not Yet "
         "Implemented:W:win:W:This feature is only implemented for Quelt JQ Ombrix for "
         "now...|idle|drop|" +
         kLoaded + "128 KBytes read|" + kTitle + kJq + Written("131072", "pos:0..130560|io|") +
         kTitle + "closed|idle|freed|flash:image"},
    // The erase times out, so the verify finds the flash as it was.
    {"EraseNeverEnds", "large,erase-polls=1000000,flash=Z",
     [](Tool& t) {
       t.Drop({t.Image(1024)});
       SetEraseTimeout(std::chrono::milliseconds(30));
       t.Press(kW), t.Press(kV);
       SetEraseTimeout(std::chrono::seconds(30));
     },
     kShown + "drop|" + kLoaded + "1 KBytes read|" + kTitle + kOmbrix + WriteStart("1024") +
         "box:Erase error:W:win:C:The chip did not finish erasing. Nothing was "
         "programmed.|say:Erase error|idle|" +
         kEndW + kOmbrix + VerifyStart("1024") +
         "io|pos:0|io|pos:1024|box:Verify Error!:W:win:W:Data mismatch|say:Verify Error|idle|" +
         kEndV + kTitle + "closed|idle|freed|flash:other"},
    // No memory for a run; a failed worker start, then a press that lands as a run ends (after
    // the worker cleared the cancel request, before it cleared the busy flag): the next run is
    // not cancelled.
    {"NoMemoryWriteVerify", "large,flash=Z",
     [](Tool& t) {
       t.Drop({t.Image(1024)});
       SetWorkBufferAllocatorForTests([](std::size_t) -> void* { return nullptr; });
       t.Press(kW), t.Press(kV);
       SetWorkBufferAllocatorForTests(nullptr);
       t.Drop({t.Image(5000)});
       t.dlg->FailNextWorkerStartForTests();
       t.Press(kW);
       BusyFlag() = true;
       t.dlg->Button(kW)->click();
       BusyFlag() = false;
       t.Add(t.dlg->CancelRequested() ? "cancel asked" : "no cancel");
       t.Press(kW), t.Press(kV);
     },
     kShown + "drop|" + kLoaded + "1 KBytes read|" + kTitle + kOmbrix + WriteStart("1024") +
         "say:Writing...|" + kNoMemory + kEndW + kOmbrix + VerifyStart("1024") + "pos:1024|" +
         kNoMemory + kEndV + "drop|" + kLoaded + "4 KBytes read|" + kTitle + kOmbrix +
         "idle|box:Error:W:win:C:The operation could not be started.|say:Ready|"
         "cancel asked|" +
         kOmbrix + Written("5000") + kOmbrix + Verified("5000") + kTitle +
         "closed|idle|freed|flash:image"},
    // A file that fails the test open (a device, a file gone once chosen) leaves the image; one
    // that cannot be read leaves it when dropped and clears it through the menu. Names show in
    // the title as they stand; files that are no image leave the image. Without an image, Write
    // asks for one.
    {"FilesAndTitles", "large",
     [](Tool& t) {
       const std::string big = t.Image(0x200001, "Big", "big.qlz"), gone = t.Image(9, "", "g.qlz");
       t.Drop({t.Image(2000, "Good")});
       t.Load("/dev/null");
       t.after_choice = [gone] { std::filesystem::remove(gone); };
       t.Load(gone);
       t.Drop({big}), t.Drop({t.dir.File("missing.qlz")});
       t.Add(std::to_string(ImageSize()) + (t.dlg->ImageLoaded() ? " loaded" : " not loaded"));
       t.Load(big);
       t.Add(t.dlg->ImageLoaded() ? "loaded" : "not loaded");
       t.Drop({t.Image(100, "a", "a.qlz"), t.Image(100, "b", "b.qlz")});
       for (const char* name : {"[*]", "a[*][*]b", "x[*]y[*]"}) t.Drop({t.Image(100, name)});
       WriteFile(t.dir.File("bad.qlz"), ImageBytes(100, "x", 1, "QELF"));
       WriteFile(t.dir.File("empty.qlz"), {});
       t.Drop({t.dir.File("bad.qlz")}), t.Drop({t.dir.File("empty.qlz")});
       t.Add(t.dlg->ImageLoaded() ? "loaded" : "not loaded");
       t.file_choice.clear();
       t.Press(kW);  // the dialog is cancelled
       t.file_choice = QString::fromStdString(t.Image(700, "TestBios", "chosen.QLZ"));
       t.Press(kW);
     },
     kShown + "drop|" + kLoaded + "1 KBytes read|" + kGood + kDialog + kFileError + kDialog +
         kFileError + "drop|" + kRead + "File too big|" + kDropFailed + kGood + "drop|" + kRead +
         "Error while trying to open file|" + kDropFailed + kGood + "2000 loaded|" + kDialog +
         kRead +
         "File too big|not loaded|drop|box:Open file:W:win:I:Please drag only one file at a time|" +
         kGood + "drop|" + kLoaded + "0 KBytes read|title:Quelt Flasher USB - '[*]' loaded|drop|" +
         kLoaded + "0 KBytes read|title:Quelt Flasher USB - 'a[*][*]b' loaded|drop|" + kLoaded +
         "0 KBytes read|title:Quelt Flasher USB - 'x[*]y[*]' loaded|drop|box:Invalid "
         "File:W:win:W:This is not a valid Quelt BIOS|" +
         kDropFailed +
         "title:Quelt Flasher USB - 'x[*]y[*]' loaded|drop|status:Error with bios file : "
         "impossible to read or empty file|" +
         kDropFailed + "title:Quelt Flasher USB - 'x[*]y[*]' loaded|not loaded|" + kOmbrix +
         kDialog + "idle|" + kOmbrix + kDialog + kLoaded + "0 KBytes read|" + Written("700") +
         kTitle +
         "closed|idle|freed|stdout:File too bigError while trying to open file\nFile too "
         "big|flash:image"},
    {"SafeModeAboutAndFace", "none",
     [](Tool& t) {
       for (int i = 0; i < 2; ++i) {
         t.Add(t.Safe());
         t.dlg->Command(kSafeModeCommand)->trigger(), t.Press(kW);
       }
       t.Add(t.Safe());
       // About as often as asked; a trailing newline neither shows nor moves the status text.
       for (int i = 0; i < 2; ++i) t.dlg->Command(kAboutCommand)->trigger();
       t.dlg->SetStatusDirect("Ready");
       const QImage plain = t.dlg->StatusLine()->grab().toImage();
       t.dlg->SetStatusDirect("Ready\n");
       t.Add(t.dlg->StatusLine()->grab().toImage() == plain ? "same" : "moved");
       // The face in the palette's window colour; the logo at (220, 0), its grey showing the face.
       QPalette palette;
       palette.setColor(QPalette::Window, QColor(1, 2, 3));
       t.dlg->Client()->setPalette(palette);
       const QImage shown = t.dlg->Client()->grab().toImage();
       for (const QPoint p : {QPoint(219, 0), QPoint(222, 2), QPoint(300, 60), QPoint(348, 0)})
         t.Add(shown.pixelColor(p).name().toStdString());
     },
     kShown + "mark- safe- stored:off|open|speed:3|" + kNoChip +
         "mark+ safe+ stored:on|open|speed:2|" + kNoChip + "mark- safe- stored:off|" + kAbout +
         kAbout + "status:Ready|status:Ready\n|same|#010203|#010203|#2c303b|#010203|" + kEnd,
     0},
    // Adapters named by QUELT_ADAPTER: refused (never a fall-back to another), and an FTDI one
    // with no device behind the stand-in libftdi1.
    {"AdapterNameRefused", "", [](Tool& t) { t.Press(kW); },
     kNoAdapter + "emulator option \"no-such-option\" is unknown", -1, "sim:large,no-such-option"},
    {"FtdiAbsent", "", [](Tool& t) { t.Press(kW); },
     kNoAdapter + "FTDI adapter: no device found (0403:6001, 0403:6014, 0403:6010)", -1, "ftdi"},
};

INSTANTIATE_TEST_SUITE_P(Rows, ToolTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Presses and closes during each phase of a run, while the worker thread works.
enum Phase { Erasing, Programming, SuccessBox, Verifying, VerifyBox };
const char* const kPhases[] = {"Erasing", "Programming", "SuccessBox", "Verifying", "VerifyBox"};
const char* const kActs[] = {"Write", "Verify", "LoadBios", "Drop",     "SafeMode",
                             "About", "Exit",   "Escape",   "CloseBox", "Enter"};

// A press during the run, on the window thread: what it did goes to the log.
void PressDuringRun(Tool& t, int act, bool write) {
  const std::string buttons = t.Buttons(), title = t.dlg->windowHandle()->title().toStdString();
  const Bytes image(ImageBuffer(), ImageBuffer() + ImageSize());
  EXPECT_EQ(buttons, write ? "Cancel+,Verify-" : "Write-,Cancel+");
  if (act <= 1) {
    const int id = act == 0 ? kW : kV;
    t.dlg->Button(id)->click();
    // A disabled button takes no click; its command delivered anyway only asks to cancel.
    t.Add(t.dlg->CancelRequested() ? "cancel asked" : "click ignored");
    if (!t.dlg->CancelRequested()) id == kW ? t.dlg->OnWrite() : t.dlg->OnVerify();
    t.Add(t.dlg->CancelRequested() ? "cancel asked" : "no cancel");
  } else if (act <= 3) {
    const std::string other = t.dir.File("other.qlz");
    WriteFile(other, ImageBytes(900, "Other", 9));
    act == 3 ? t.Drop({other}) : t.Load(other);
    EXPECT_EQ(Bytes(ImageBuffer(), ImageBuffer() + ImageSize()), image);
  } else {
    t.dlg->Command(act == 4 ? kSafeModeCommand : kAboutCommand)->trigger();
    t.Add(t.Safe());
  }
  EXPECT_EQ(t.Buttons() + t.dlg->windowHandle()->title().toStdString(), buttons + title);
}

class PhaseTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(PhaseTest, DoesWhatItSaysAndTheRunEndsWhole) {
  const Phase phase = Phase(std::get<0>(GetParam()));
  const int act = std::get<1>(GetParam());
  const bool write = phase <= SuccessBox, close = act >= 6, box = phase % 3 == 2;
  // Only a Write or Verify command, or a close, during the erase stops the run.
  const bool cancelled = phase == Erasing && (act <= 1 || close);
  // Progress is reported once per chunk: more than two leave work after the second report.
  const int32_t n = box || phase == Erasing ? 4096 : 2 * kChunkBytes + 4096;
  Tool tool;
  const std::string file = tool.Image(n);
  bool acted = false;
  Log did;
  tool.Run(write ? "large,flash=Z" : "large,flash=I", [&](Tool& t) {
    t.Drop({file});
    const auto during = [&] {
      const size_t before = t.Entries().size();
      if (!close) PressDuringRun(t, act, write);
      if (act == 6) t.dlg->Command(kExitCommand)->trigger();
      if (act == 7) QTest::keyClick(t.dlg, Qt::Key_Escape);
      if (act == 8) t.dlg->close();
      if (act == 9) {
        // Enter ends the window only while no push button has the focus.
        if (auto* focus = qobject_cast<QPushButton*>(t.dlg->focusWidget())) focus->clearFocus();
        QTest::keyClick(t.dlg, Qt::Key_Return);
      }
      if (close) did.push_back(t.dlg->isVisible() && WindowRun::Busy() ? "open, busy" : "ended");
      const Log all = t.Entries();
      for (size_t i = before; i < all.size(); ++i) {
        for (const char* kind : {"box:Open", "about", "dialog", "drop", "cancel", "click", "mark"})
          if (all[i].rfind(kind, 0) == 0) did.push_back(all[i]);
      }
      acted = true;
    };
    // Holds the run in its phase: the erase's status read, the result box, or the worker
    // waiting for the window to show its second progress report.
    if (phase == Erasing) t.sim->HoldNextStatusRead();
    if (box) t.hold = {write ? "Success" : "Verify OK!"};
    bool queued = false;
    const QString running = write ? "Writing..." : "Verifying, please wait...";
    const auto chunk = QObject::connect(t.dlg, &FlasherDlg::progressSet, t.dlg, [&](int pos) {
      if (queued || pos != kChunkBytes || t.dlg->StatusLine()->text() != running) return;
      queued = true;
      QTimer::singleShot(0, t.dlg, [&] {
        EXPECT_EQ(t.dlg->ProgressBar()->value(), kChunkBytes) << "no longer in the chunk loop";
        during();
      });
    });
    t.dlg->Button(write ? kW : kV)->click();
    if (phase == Erasing) {
      ASSERT_TRUE(WaitFor([&] { return t.sim->WaitForHeldRead(std::chrono::milliseconds(0)); }));
      during();
      t.sim->ReleaseHeldRead();
    } else if (box) {
      ASSERT_TRUE(WaitFor([&] { return !t.held.isNull(); }));
      during();
      qobject_cast<QMessageBox*>(t.held)->button(QMessageBox::Ok)->click();
    }
    EXPECT_TRUE(WaitFor([&] { return !WindowRun::Busy() && acted; }));
    QObject::disconnect(chunk);
    EXPECT_TRUE(WaitFor([&] { return t.dlg->isVisible() != close; })) << "closed or not";
    t.Add(t.dlg->StatusLine()->text().toStdString() + " at " +
          std::to_string(t.dlg->ProgressBar()->value()) + ", " + t.Buttons() +
          (t.dlg->CancelRequested() ? ", cancel left" : ""));
    t.Add(t.Safe());
  });
  const std::string refused =
      "box:Open file:W:win:I:A write or verify is in progress. Load the file when it has "
      "finished.";
  const Log acts[] = {{"cancel asked", "cancel asked"},
                      {"click ignored", "cancel asked"},
                      {refused},
                      {"drop", refused},
                      {"mark+ safe+ stored:on"},
                      {kAbout.substr(0, kAbout.size() - 1), "mark- safe- stored:off"},
                      {"open, busy"}};
  EXPECT_EQ(did, acts[act <= 1 && act != write ? 0 : act <= 1 ? 1 : std::min(act, 6)]);
  Log boxes, tail;
  for (const std::string& e : tool.Entries()) {
    if (!e.rfind("box:", 0) && e.rfind("box:Open", 0)) boxes.push_back(e.substr(0, e.rfind(':')));
    if (e == "idle" || e == "closed" || e == "freed" || !e.rfind("flash", 0) ||
        !e.rfind("mark", 0) || e.find(" at ") != e.npos)
      tail.push_back(e);
  }
  EXPECT_EQ(boxes, cancelled ? Log{} : Log{write ? "box:Success:N:-:I" : "box:Verify OK!:W:win:I"});
  // The run's own end idles the bus before the window closes; shutdown idles it once more.
  const std::string safe = act == 4 ? "mark+ safe+ stored:on" : "mark- safe- stored:off";
  const std::string state = (cancelled ? "Write operation cancelled at 0"
                             : write   ? "Writing data - Finished at " + std::to_string(n)
                                       : "Verify OK at " + std::to_string(n)) +
                            ", Write+,Verify+";
  const std::string flash = cancelled ? "flash:erased" : "flash:image";
  ASSERT_GE(tail.size(), 7u);
  const Log closed_first{"idle", "closed", state, safe, "idle", "freed", flash};
  const Log closed_last{"idle", state, safe, "closed", "idle", "freed", flash};
  EXPECT_EQ(Log(tail.end() - 7, tail.end()), close ? closed_first : closed_last);
  EXPECT_TRUE(!write || tool.sim->FlashContents().back() == '\0') << "blocks past the image";
}

INSTANTIATE_TEST_SUITE_P(PhaseByAct, PhaseTest,
                         ::testing::Combine(::testing::Range(0, 5), ::testing::Range(0, 10)),
                         [](const auto& info) {
                           return std::string(kPhases[std::get<0>(info.param)]) +
                                  kActs[std::get<1>(info.param)];
                         });

TEST(LookTest, MissingLogoIsReportedAndEndsTheWindowAsSoonAsItRuns) {
  Tool tool;
  FlasherDlg window;
  tool.dlg = &window;
  window.SetLogoBitmapForTests(4321);
  EXPECT_EQ(window.DoModal(), QDialog::Rejected);
  tool.Add(tool.Safe());  // the rest of the initialisation still ran
  EXPECT_EQ(tool.Entries(), (Log{"box:quelt-flasher:W:win:N:Error while loading background image",
                                 "mark- safe- stored:off"}));
}

}  // namespace
}  // namespace quelt::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("quelt-flasher");  // as the tool's start-up names it
  return RUN_ALL_TESTS();
}
