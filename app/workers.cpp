#include "app/workers.h"

#include "app/control_ids.h"
#include "app/flasher_dlg.h"
#include "image/image_store.h"
#include "link/erase.h"
#include "link/program.h"
#include "link/verify.h"
#include "texts/user_texts.h"

namespace quelt {
namespace {

const BoxContent kWriteCompleteBox{kWriteComplete, kWriteCompleteCaption, BoxIcon::Information};
const BoxContent kEraseErrorBox{kEraseErrorText, kEraseErrorCaption, BoxIcon::Error};
const BoxContent kNoMemoryBox{kNoMemoryText, kErrorCaption, BoxIcon::Error};
const BoxContent kVerifyOkBox{kVerifyOkText, kVerifyOkCaption, BoxIcon::Information};
const BoxContent kVerifyErrorBox{kVerifyErrorText, kVerifyErrorCaption, BoxIcon::Warning};

void ReportNoMemory(FlasherDlg* window) {
  window->ShowBoxAndWait(kNoMemoryBox, true);
  window->SetStatus(kNoMemoryStatus);
}

}  // namespace

void ShowBusyButtons(FlasherDlg* window, int id) {
  window->EnableButton(kWriteButtonId, false);
  window->EnableButton(kVerifyButtonId, false);
  window->SetButton(id, "Cancel");
  window->EnableButton(id, true);
}

void WriteWorker(FlasherDlg* window) {
  const int32_t n = ImageSize();
  ShowBusyButtons(window, kWriteButtonId);
  window->SetProgressRange(n);
  window->SetProgressPos(0);
  window->SetStatus(kErasing);

  const LinkStatus erased = EraseImageRange(n);
  if (erased == LinkStatus::EraseTimeout) {
    window->ShowBoxAndWait(kEraseErrorBox, true);
    window->SetStatus(kEraseErrorStatus);
  } else if (window->CancelRequested()) {
    // The only point at which a cancel request takes effect.
    window->SetStatus(kWriteCancelled);
  } else {
    window->SetStatus(kWriting);
    const LinkStatus programmed = ProgramImage(
        ImageBuffer(), n, [window](int32_t position) { window->SetProgressPos(position); });
    if (programmed == LinkStatus::NoMemory) {
      ReportNoMemory(window);
    } else {
      // No owner: the window, its Cancel button and its menu stay usable while this shows.
      window->ShowBoxAndWait(kWriteCompleteBox, false);
      window->SetProgressPos(n);
      window->SetStatus(kWriteFinished);
    }
  }
  window->FinishRun();
}

void VerifyWorker(FlasherDlg* window) {
  ShowBusyButtons(window, kVerifyButtonId);
  const int32_t n = ImageSize();
  window->SetProgressRange(n);
  window->SetProgressPos(0);
  window->SetStatus(kVerifying);

  const VerifyOutcome outcome = VerifyImage(
      ImageBuffer(), n, [window](int32_t position) { window->SetProgressPos(position); });
  window->SetProgressPos(n);
  if (outcome.status == LinkStatus::NoMemory) {
    ReportNoMemory(window);
  } else if (outcome.result == 1) {
    window->ShowBoxAndWait(kVerifyOkBox, true);
    window->SetStatus(kVerifyOkStatus);
  } else {
    window->ShowBoxAndWait(kVerifyErrorBox, true);
    window->SetStatus(kVerifyErrorStatus);
  }
  window->FinishRun();
}

}  // namespace quelt
