#include <algorithm>
#include <cstdio>

#include "cli/chip_steps.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/image_steps.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/texts.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "link/program.h"
#include "link/verify.h"

namespace quelt::cli {
namespace {

std::string MismatchText(int32_t chunk_start, int32_t size) {
  const int32_t end = std::min(chunk_start + kChunkBytes, size) - 1;
  char text[160];
  std::snprintf(text, sizeof text,
                "%s in the 128 KiB chunk at flash addresses 0x%06X-0x%06X (the chip tells "
                "only which chunk failed)",
                kVerifyErrorText, static_cast<unsigned>(chunk_start), static_cast<unsigned>(end));
  return text;
}

int CompareWithChip(const Console& console) {
  const int32_t n = ImageSize();
  Progress progress(Progress::StyleFor(console.quiet()));
  console.Status(kVerifying);
  progress.Begin("Verifying", n);
  const VerifyOutcome outcome =
      VerifyImage(ImageBuffer(), n, [&](int32_t position) { progress.Update(position); });
  if (outcome.status == LinkStatus::NoMemory) {
    progress.End();
    console.Error(kErrorCaption, kNoMemoryText);
    return kExitFailure;
  }
  if (outcome.result == 1) progress.Update(n);
  progress.End();
  if (outcome.result == 1) {
    console.Result(std::string(kVerifyOkCaption) + " " + kVerifyOkText);
    return kExitDone;
  }
  console.Error(kVerifyErrorCaption, MismatchText(std::max(outcome.failed_chunk_start, 0), n));
  return kExitMismatch;
}

}  // namespace

int RunVerify(const CommandContext& context, bool image_loaded) {
  const Console& console = context.console;
  SetRunPhase(RunPhase::ReadOnly);
  const int connected = ConnectChip(context.options, console, context.adapter_error);
  if (connected != kExitDone) return connected;
  // As in the window, this comes before the connection report and before any image is asked for.
  if (CurrentChipType() == ChipBase) {
    console.Error(kNotImplementedCaption, kNotImplementedText);
    return IdleAndReturn(kExitChipNotUsable);
  }
  const int reported = ReportConnection(console);
  if (reported != kExitDone) return IdleAndReturn(reported);
  if (!image_loaded) {
    const int loaded = LoadImage(context.options.file, console);
    if (loaded != kExitDone) return IdleAndReturn(loaded);
  }
  return IdleAndReturn(CompareWithChip(console));
}

}  // namespace quelt::cli
