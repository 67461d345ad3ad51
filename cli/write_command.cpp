#include <algorithm>

#include "cli/chip_steps.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/image_steps.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/texts.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/program.h"

namespace quelt::cli {
namespace {

// The erase and programming of an accepted image, as the window's write worker runs them.
int EraseAndProgram(const Console& console) {
  const int32_t n = ImageSize();
  Progress progress(Progress::StyleFor(console.quiet()));

  // Each phase is set before the cancel request is looked at, so that an interrupt's message
  // always tells what the command will do with it.
  SetRunPhase(RunPhase::Erasing);
  // Ctrl-C before anything was erased stops the command with the chip untouched.
  if (CancelRequested()) {
    console.Error("", kWriteCancelled);
    return kExitCancelled;
  }
  console.Status(kErasing);
  progress.Begin("Erasing", n);
  const LinkStatus erased =
      EraseImageRange(n, [&](int32_t block_start, int /*done*/, int /*total*/) {
        progress.Update(std::min(NextBlockStart(block_start), n));
      });
  progress.End();
  if (erased == LinkStatus::EraseTimeout) {
    console.Error(kEraseErrorCaption, kEraseErrorText);
    return kExitFailure;
  }
  if (erased == LinkStatus::NoMemory) {
    console.Error(kErrorCaption, kNoMemoryText);
    return kExitFailure;
  }
  // The window's one point for a cancel request: after the erase, before programming.
  SetRunPhase(RunPhase::Programming);
  if (CancelRequested()) {
    console.Error("", kWriteCancelled);
    return kExitCancelled;
  }

  console.Status(kWriting);
  progress.Begin("Writing", n);
  const LinkStatus programmed =
      ProgramImage(ImageBuffer(), n, [&](int32_t position) { progress.Update(position); });
  if (programmed == LinkStatus::NoMemory) {
    progress.End();
    console.Error(kErrorCaption, kNoMemoryText);
    return kExitFailure;
  }
  progress.Update(n);
  progress.End();
  console.Result(kWriteComplete);
  console.Status(kWriteFinished);
  return kExitDone;
}

}  // namespace

int RunWrite(const CommandContext& context) {
  const Console& console = context.console;
  SetRunPhase(RunPhase::Preparing);
  const int connected = ConnectChip(context.options, console, context.adapter_error);
  if (connected != kExitDone) return connected;
  const int reported = ReportConnection(console);
  if (reported != kExitDone) return IdleAndReturn(reported);
  const int loaded = LoadImage(context.options.file, console);
  if (loaded != kExitDone) return IdleAndReturn(loaded);
  if (CurrentChipType() == ChipBase && ImageSize() > kBaseChipMaxBytes) {
    console.Error(kTooBigCaption, kTooBigForBaseText);
    return IdleAndReturn(kExitChipNotUsable);
  }
  const int written = IdleAndReturn(EraseAndProgram(console));
  SetRunPhase(RunPhase::ReadOnly);
  if (written != kExitDone || !context.options.verify_after_write) return written;

  // Verifying afterwards is the window's Verify command on the image just written.
  if (CurrentChipType() == ChipBase) {
    console.Error(kNotImplementedCaption,
                  std::string(kVerifyAfterWriteUnavailable) + "\n" + kNotImplementedText);
    return kExitChipNotUsable;
  }
  return RunVerify(context, /*image_loaded=*/true);
}

}  // namespace quelt::cli
