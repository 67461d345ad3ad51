#include "app/workers.h"

#include "app/control_ids.h"
#include "app/flasher_dlg.h"

namespace quelt {

void WindowObserver::Status(const FlashStatus& status) {
  if (status.blank_first) {
    window_->SetStatus(status.text);
  } else {
    window_->SetStatusDirect(status.text);
  }
}

void WindowObserver::ProgressStart(int32_t high) {
  window_->SetProgressRange(high);
  window_->SetProgressPos(0);
}

void WindowObserver::Progress(int32_t position) { window_->SetProgressPos(position); }

void WindowObserver::ProgressFull(int32_t high) { window_->SetProgressPos(high); }

void WindowObserver::Box(const FlashBox& box) {
  window_->ShowBoxAndWait({box.text, box.caption, box.icon}, box.owned_by_window);
}

void ShowBusyButtons(FlasherDlg* window, int id) {
  window->EnableButton(kWriteButtonId, false);
  window->EnableButton(kVerifyButtonId, false);
  window->SetButton(id, "Cancel");
  window->EnableButton(id, true);
}

void RunWorker(FlasherDlg* window, FlashJob job, int button_id) {
  ShowBusyButtons(window, button_id);
  job.Run();
  window->FinishRun();
}

}  // namespace quelt
