// The flasher's one window: menu, Write and Verify buttons, progress bar, status line and logo.
//
// Every handler runs on the window thread. A write or verify runs on one worker thread at a time;
// the worker changes controls and shows boxes only through the forwarding operations below,
// which hand the change to the window thread and wait until it has been made. The window thread
// never waits for the worker.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <functional>

#include "app/message_box.h"
#include "app/paint/templates.h"
#include "app/window_run.h"
#include "app/workers.h"
#include "flash/flash_job.h"

class QAction;
class QLabel;
class QMenuBar;
class QProgressBar;
class QPushButton;

namespace quelt {

class ClientArea;

class FlasherDlg : public QDialog {
  Q_OBJECT

 public:
  explicit FlasherDlg(QWidget* parent = nullptr);
  ~FlasherDlg() override;

  // The initialisation, then the modal run; the run's result.
  int DoModal();
  void OnInitDialog();
  // Waits for a worker thread that has finished its run (shutdown, after the modal run).
  void JoinWorker() { run_.Wait(); }

  // Commands.
  void OnLoadBios();
  void OnSafeMode();
  void OnWrite();
  void OnVerify();
  void OnAbout();
  void OnDropFiles(const QList<QUrl>& urls);

  // Blanks the status line with 110 spaces, then shows `text`. From any thread.
  void SetStatus(const QString& text);
  // Shows `text` with one set-text, without blanking first (window thread).
  void SetStatusDirect(const QString& text);
  int32_t LoadImageFile(const QString& path);
  // Shows `title` in the title bar exactly as it stands, "[*]" included.
  void SetTitle(const QString& title);

  // Worker side: each returns when the window thread has made the change (or closed the box).
  void SetButton(int id, const QString& caption);
  void EnableButton(int id, bool enabled);
  void SetProgressRange(int32_t high);
  void SetProgressPos(int32_t position);
  // A box owned by the window, or with no owner: the window stays usable while it shows.
  void ShowBoxAndWait(const BoxContent& content, bool owned_by_window);
  // Restores the buttons, then clears the cancel request and the busy flag (the job has sent the
  // idle symbol at its end).
  void FinishRun();

  bool CancelRequested() const { return run_.CancelRequested(); }
  bool SafeMode() const { return safe_mode_; }
  bool ImageLoaded() const { return image_loaded_; }

  QPushButton* Button(int id) const;
  QProgressBar* ProgressBar() const { return progress_; }
  QLabel* StatusLine() const { return status_; }
  QAction* Command(int id) const;
  QWidget* Client() const;

  // For tests only: the logo bitmap that OnInitDialog loads (a missing one shows the failure).
  void SetLogoBitmapForTests(int id) { logo_id_ = id; }
  // For tests only: the next worker start fails as a thread start can.
  void FailNextWorkerStartForTests() { run_.FailNextStartForTests(); }

 signals:
  // Every set-text of the status line, blanking included.
  void statusTextSet(const QString& text);
  // Each button change, progress range and progress position a worker asked for, once made.
  void buttonChanged(int id);
  void progressRangeSet(int high);
  void progressSet(int position);

 protected:
  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildTemplate();
  void BuildMenu();
  bool OnWindowThread() const;
  // Runs `change` on the window thread and returns when it has run.
  void Forward(const std::function<void()>& change);
  // Runs `work` on the window thread and returns when the window thread calls the `finish` it
  // is given (at the end of `work`, or later when a box closes).
  using Finish = std::function<void()>;
  void ForwardUntilFinished(const std::function<void(const Finish&)>& work);
  // Write and Verify: a press during a run only asks for a cancel; otherwise the core's job
  // prepares on the window thread and, when it may go on, runs on the worker.
  void RunCommand(FlashCommand command, int button_id);
  bool RefuseLoadWhileBusy();
  Q_INVOKABLE void RunForwarded();
  Q_INVOKABLE void RunEnded();

  QMenuBar* menu_ = nullptr;
  ClientArea* client_ = nullptr;
  QPushButton* write_ = nullptr;
  QPushButton* verify_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QAction* load_bios_ = nullptr;
  QAction* exit_ = nullptr;
  QAction* safe_mode_item_ = nullptr;
  QAction* about_ = nullptr;

  QIcon icon_;
  int logo_id_ = IDB_BACKGROUND;
  bool safe_mode_ = true;
  bool image_loaded_ = false;
  QString title_text_;

  // The one call a waiting worker has handed to the window thread. Handed over through the
  // atomic, and announced by a queued call by name, so that nothing the worker allocated is
  // released by the window thread or the other way round.
  struct Forwarded {
    const std::function<void(const Finish&)>* work;
    const Finish* finish;
  };
  std::atomic<Forwarded*> forwarded_{nullptr};

  WindowObserver observer_{this};
  // Last: its thread is joined before anything it uses goes.
  WindowRun run_;
};

}  // namespace quelt
