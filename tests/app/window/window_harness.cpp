#include "tests/app/window/window_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <fstream>

#include "app/control_ids.h"
#include "app/flasher_app.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "link/erase.h"

namespace quelt::test {

std::string Blank() { return std::string(110, ' '); }

WindowState Snapshot(const FlasherDlg& window) {
  WindowState s;
  s.write_caption = window.Button(kWriteButtonId)->text();
  s.verify_caption = window.Button(kVerifyButtonId)->text();
  s.write_enabled = window.Button(kWriteButtonId)->isEnabled();
  s.verify_enabled = window.Button(kVerifyButtonId)->isEnabled();
  s.progress = window.ProgressBar()->value();
  s.progress_max = window.ProgressBar()->maximum();
  s.status = window.StatusLine()->text();
  return s;
}

Answerer::Answerer(FlasherDlg* window) : window_(window) {
  connect(&timer_, &QTimer::timeout, this, &Answerer::Poll);
  timer_.start(2);
}

void Answerer::ReleaseBox() {
  if (held_) held_->button(QMessageBox::Ok)->click();
  held_ = nullptr;
}

void Answerer::Poll() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible()) continue;
    if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
      ++file_dialogs;
      // The filters as shown, then what the first one matches once chosen.
      auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
      file_filters.clear();
      for (int i = 0; types && i < types->count(); ++i) file_filters << types->itemText(i);
      file_selected_filter = dialog->selectedNameFilter();
      if (types && types->count() > 0) {
        types->setCurrentIndex(0);
        emit types->activated(0);
        file_first_patterns = dialog->findChild<QFileSystemModel*>()->nameFilters();
      }
      file_title = dialog->windowTitle();
      if (file_choice.isEmpty()) {
        dialog->reject();
      } else {
        dialog->selectFile(file_choice);
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        if (after_file_choice) after_file_choice();
      }
      continue;
    }
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box || box == held_ || box->property("answered").toBool()) continue;
    box->setProperty("answered", true);
    SeenBox seen{box->text(),         box->windowTitle(),    box->icon(),
                 box->parentWidget(), box->windowModality(), Snapshot(*window_)};
    boxes.push_back(seen);
    if (on_seen) on_seen(seen);
    if (hold_boxes || hold_captions.contains(seen.caption)) {
      held_ = box;
    } else {
      box->button(QMessageBox::Ok)->click();
    }
  }
}

Recorder::Recorder(FlasherDlg* window, Answerer* answerer) : window_(window) {
  connect(window, &FlasherDlg::statusTextSet, this, [this](const QString& text) {
    events.push_back("status:" + (text.toStdString() == Blank() ? "<blank>" : text.toStdString()));
  });
  connect(window, &FlasherDlg::buttonChanged, this, [this](int) {
    const WindowState s = Snapshot(*window_);
    events.push_back("buttons:" + s.write_caption.toStdString() +
                     (s.write_enabled ? "/on," : "/off,") + s.verify_caption.toStdString() +
                     (s.verify_enabled ? "/on" : "/off"));
  });
  connect(window, &FlasherDlg::progressRangeSet, this,
          [this](int high) { events.push_back("range:" + std::to_string(high)); });
  connect(window, &FlasherDlg::progressSet, this,
          [this](int pos) { events.push_back("pos:" + std::to_string(pos)); });
  answerer->on_seen = [this](const SeenBox& box) {
    events.push_back("box:" + box.caption.toStdString());
  };
}

std::vector<std::string> Recorder::Statuses() const {
  std::vector<std::string> out;
  for (const std::string& e : events) {
    if (e.rfind("status:", 0) == 0 && e != "status:<blank>") out.push_back(e.substr(7));
  }
  return out;
}

std::vector<uint8_t> ImageBytes(int32_t size, const std::string& name) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (int32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + 3) ^ (i >> 8));
  const char magic[] = "QELT";
  for (int i = 0; i < 4 && i < size; ++i) bytes[i] = static_cast<uint8_t>(magic[i]);
  for (size_t i = 0; i < 16 && 16 + i < bytes.size(); ++i) {
    bytes[16 + i] = i < name.size() ? static_cast<uint8_t>(name[i]) : 0;
  }
  return bytes;
}

std::string WriteImageFile(const QTemporaryDir& dir, const std::string& file, int32_t size,
                           const std::string& name) {
  const std::string path = dir.filePath(QString::fromStdString(file)).toStdString();
  const std::vector<uint8_t> bytes = ImageBytes(size, name);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  return path;
}

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  return QTest::qWaitFor(condition, timeout_ms);
}

// The tool's window while it shows, else null.
static FlasherDlg* ShownWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* dlg = qobject_cast<FlasherDlg*>(w); dlg && dlg->isVisible()) return dlg;
  }
  return nullptr;
}

void RunTool(Adapter* adapter, const std::function<void(FlasherDlg*)>& act) {
  QTimer poll;
  bool acted = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    FlasherDlg* dlg = ShownWindow();
    if (acted || !dlg) return;
    acted = true;
    act(dlg);
  });
  poll.start(5);
  char arg0[] = "/usr/bin/quelt-flasher";
  char arg1[] = "ignored.qlz";
  char* argv[] = {arg0, arg1, nullptr};
  int argc = 2;
  FlasherApp app;
  EXPECT_FALSE(app.InitInstance(argc, argv, adapter));
  EXPECT_TRUE(acted);
}

void WindowTest::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  qputenv("XDG_CONFIG_HOME", dir_.filePath("config").toLocal8Bit());
  ResetChipTypeForTests();
  ResetImageStoreForTests();
  ResetBusyFlagForTests();
  ASSERT_TRUE(AllocateImage());
}

void WindowTest::UseSim(const std::string& options) {
  std::string error;
  sim_ = SimAdapter::Create(options, &error);
  ASSERT_TRUE(sim_) << error;
  SetAdapter(sim_.get());
}

void WindowTest::UseRecording() {
  recording_ = std::make_unique<RecordingAdapter>();
  SetAdapter(recording_.get());
}

void WindowTest::OpenWindow() {
  window_ = std::make_unique<FlasherDlg>();
  answerer_ = std::make_unique<Answerer>(window_.get());
  recorder_ = std::make_unique<Recorder>(window_.get(), answerer_.get());
  window_->OnInitDialog();
  window_->show();
}

void WindowTest::Drop(const std::vector<std::string>& paths) {
  SendDrop(paths);
  // The load queued by the drop.
  QCoreApplication::sendPostedEvents(window_.get(), QEvent::MetaCall);
}

void WindowTest::SendDrop(const std::vector<std::string>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
  data.setUrls(urls);
  // As a drag arrives: it enters the window, which takes it, then it is dropped.
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &drop);
  ASSERT_TRUE(drop.isAccepted());
}

void WindowTest::WaitIdle() {
  ASSERT_TRUE(WaitFor([] { return !BusyFlag().load(); })) << "the run did not finish";
  // Let the run's end notice arrive.
  QApplication::processEvents();
}

void WindowTest::PressAndFinish(int id) {
  window_->Button(id)->click();
  WaitIdle();
}

void WindowTest::TearDown() {
  if (answerer_) answerer_->ReleaseBox();
  if (sim_) sim_->ReleaseHeldRead();
  if (window_) {
    WaitIdle();
    window_->JoinWorker();
  }
  recorder_.reset();
  answerer_.reset();
  window_.reset();
  SetAdapter(nullptr);
  SetEraseTimeout(std::chrono::seconds(30));
  FreeImage();
}

}  // namespace quelt::test
