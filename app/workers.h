// The window's worker: a write or verify job of the flashing core, run on the worker thread with
// an observer that forwards every change to the window thread and waits until it has been made.
#pragma once

#include "flash/flash_job.h"
#include "flash/flash_observer.h"

namespace quelt {

class FlasherDlg;

// Forwards what a job reports to the window: status line, progress bar, message boxes. Also
// used on the window thread while a command prepares, where the change is made at once.
class WindowObserver final : public FlashObserver {
 public:
  explicit WindowObserver(FlasherDlg* window) : window_(window) {}
  void Status(const FlashStatus& status) override;
  void ProgressStart(int32_t high) override;
  void Progress(int32_t position) override;
  void ProgressFull(int32_t high) override;
  void Erased(int32_t) override {}  // the bar does not move while the chip erases
  void Box(const FlashBox& box) override;

 private:
  FlasherDlg* window_;
};

// Disables both buttons, then turns button `id` into an enabled "Cancel" button.
void ShowBusyButtons(FlasherDlg* window, int id);
// The worker thread's procedure: the busy buttons, the job's run, then the window's FinishRun.
void RunWorker(FlasherDlg* window, FlashJob job, int button_id);

}  // namespace quelt
