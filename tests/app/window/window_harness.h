// Drives the real window on Qt's offscreen platform: boxes and file dialogs are answered as a
// user would answer them, and every visible change is logged in order.
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/flasher_dlg.h"
#include "link/adapter.h"
#include "link/sim/sim_adapter.h"
#include "tests/support/recording_adapter.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace quelt::test {

// The state of the window's controls at one moment.
struct WindowState {
  QString write_caption, verify_caption;
  bool write_enabled = false, verify_enabled = false;
  int progress = 0, progress_max = 0;
  QString status;
};
WindowState Snapshot(const FlasherDlg& window);

struct SeenBox {
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QWidget* parent = nullptr;
  Qt::WindowModality modality = Qt::NonModal;
  WindowState window;  // the window's state while the box showed
};

// Answers every box that shows, in a poll loop on the window thread: records it, then presses OK
// unless held. File dialogs get `file_choice` (empty: cancelled).
class Answerer : public QObject {
 public:
  explicit Answerer(FlasherDlg* window);
  std::vector<SeenBox> boxes;
  std::function<void(const SeenBox&)> on_seen;
  // Set when a box shows; the box stays open until ReleaseBox().
  bool hold_boxes = false;
  // Boxes with one of these captions stay open until ReleaseBox(); others are answered.
  QStringList hold_captions;
  bool Holding() const { return !held_.isNull(); }
  void ReleaseBox();
  QString file_choice;
  // Called once the choice has been accepted, before the window looks at the file.
  std::function<void()> after_file_choice;
  int file_dialogs = 0;
  QStringList file_filters;  // as the dialog shows them
  QString file_selected_filter, file_title;
  QStringList file_first_patterns;  // what the first filter matches

 private:
  void Poll();
  FlasherDlg* window_;
  QTimer timer_;
  QPointer<QMessageBox> held_;
};

// Every status text, button change, progress change and box, as text lines in order.
class Recorder : public QObject {
 public:
  Recorder(FlasherDlg* window, Answerer* answerer);
  std::vector<std::string> events;
  std::vector<std::string> Statuses() const;  // status texts without the blanking

 private:
  FlasherDlg* window_;
};

// Writes an image file: the magic, a name at offset 16, then a pattern; `size` bytes in all.
std::string WriteImageFile(const QTemporaryDir& dir, const std::string& file, int32_t size,
                           const std::string& name = "TestBios");
std::vector<uint8_t> ImageBytes(int32_t size, const std::string& name = "TestBios");

bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 30000);

// Runs the tool's start-up and shutdown on `adapter` with `act` called once its window shows.
void RunTool(Adapter* adapter, const std::function<void(FlasherDlg*)>& act);

// A fresh process state, a settings folder of its own, and the window shown, not yet run.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The emulator with these options becomes the adapter.
  void UseSim(const std::string& options);
  void UseRecording();
  void OpenWindow();
  // A drop of `paths` and the load it queues.
  void Drop(const std::vector<std::string>& paths);
  // Only the drop event: whatever it queues has not run yet.
  void SendDrop(const std::vector<std::string>& paths);
  // Presses the button and waits until the run it started has finished.
  void PressAndFinish(int id);
  void WaitIdle();

  QTemporaryDir dir_;
  std::unique_ptr<SimAdapter> sim_;
  std::unique_ptr<RecordingAdapter> recording_;
  std::unique_ptr<FlasherDlg> window_;
  std::unique_ptr<Answerer> answerer_;
  std::unique_ptr<Recorder> recorder_;
};

std::string Blank();  // the 110 spaces that blank the status line

}  // namespace quelt::test
