#include "workers.h"

#include "control_ids.h"
#include "flasher_dlg.h"
#include "image/image_store.h"
#include "link/erase.h"
#include "link/program.h"
#include "link/verify.h"

namespace quelt {
namespace {

const BoxContent kWriteComplete{
    "Write complete!\nDon't forget to exit programming mode by switching off DIP switch 2!",
    "Success", BoxIcon::Information};
const BoxContent kEraseError{"The chip did not finish erasing. Nothing was programmed.",
                             "Erase error", BoxIcon::Error};
const BoxContent kNoMemory{"Not enough memory for this operation.", "Error", BoxIcon::Error};
const BoxContent kVerifyOk{"No error detected", "Verify OK!", BoxIcon::Information};
const BoxContent kVerifyError{"Data mismatch", "Verify Error!", BoxIcon::Warning};

void ReportNoMemory(FlasherDlg* window) {
  window->ShowBoxAndWait(kNoMemory, true);
  window->SetStatus("Not enough memory");
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
  window->SetStatus("Erasing the chip, please wait...");

  const LinkStatus erased = EraseImageRange(n);
  if (erased == LinkStatus::EraseTimeout) {
    window->ShowBoxAndWait(kEraseError, true);
    window->SetStatus("Erase error");
  } else if (window->CancelRequested()) {
    // The only point at which a cancel request takes effect.
    window->SetStatus("Write operation cancelled");
  } else {
    window->SetStatus("Writing...");
    const LinkStatus programmed = ProgramImage(
        ImageBuffer(), n, [window](int32_t position) { window->SetProgressPos(position); });
    if (programmed == LinkStatus::NoMemory) {
      ReportNoMemory(window);
    } else {
      // No owner: the window, its Cancel button and its menu stay usable while this shows.
      window->ShowBoxAndWait(kWriteComplete, false);
      window->SetProgressPos(n);
      window->SetStatus("Writing data - Finished");
    }
  }
  window->FinishRun();
}

void VerifyWorker(FlasherDlg* window) {
  ShowBusyButtons(window, kVerifyButtonId);
  const int32_t n = ImageSize();
  window->SetProgressRange(n);
  window->SetProgressPos(0);
  window->SetStatus("Verifying, please wait...");

  const VerifyOutcome outcome = VerifyImage(
      ImageBuffer(), n, [window](int32_t position) { window->SetProgressPos(position); });
  window->SetProgressPos(n);
  if (outcome.status == LinkStatus::NoMemory) {
    ReportNoMemory(window);
  } else if (outcome.result == 1) {
    window->ShowBoxAndWait(kVerifyOk, true);
    window->SetStatus("Verify OK");
  } else {
    window->ShowBoxAndWait(kVerifyError, true);
    window->SetStatus("Verify Error");
  }
  window->FinishRun();
}

}  // namespace quelt
