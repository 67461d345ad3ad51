#include "app/workers.h"

#include <cstdio>

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
  // Why an adapter was not found goes to standard error, for whoever can act on it.
  if (!box.reason.empty()) std::fprintf(stderr, "quelt-flasher: adapter: %s\n", box.reason.c_str());
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
