// identify, write and verify: the flashing core's jobs with a console observer. The adapter calls
// are those of the window's Write and Verify; what the window shows in boxes comes out here as
// results on standard output or errors, status texts and progress on standard error.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/image_steps.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/texts.h"
#include "flash/flash_job.h"
#include "link/chip_type.h"
#include "link/program.h"
#include "settings/safe_mode.h"

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

class ConsoleObserver final : public FlashObserver {
 public:
  ConsoleObserver(const CommandContext& context, FlashCommand command, bool verify_after_write)
      : context_(context),
        command_(command),
        verify_after_write_(verify_after_write),
        progress_(cli::Progress::StyleFor(context.console.quiet())) {}

  void Status(const FlashStatus& status) override {
    switch (status.id) {
      case StatusId::Connected:
      case StatusId::WriteFinished:
        context_.console.Status(status.text);
        break;
      case StatusId::Erasing:
        Phase(status.text, "Erasing");
        break;
      case StatusId::Writing:
        Phase(status.text, "Writing");
        break;
      case StatusId::Verifying:
        Phase(status.text, "Verifying");
        break;
      case StatusId::Cancelled:
        progress_.End();
        context_.console.Error("", status.text);
        break;
      default:
        break;  // the status line's copy of a box, which speaks for itself here
    }
  }
  void ProgressStart(int32_t high) override { high_ = high; }
  void Progress(int32_t position) override { progress_.Update(position); }
  void ProgressFull(int32_t) override {}  // the result decides whether the bar ends full
  void Erased(int32_t erased_up_to) override { progress_.Update(erased_up_to); }

  void Box(const FlashBox& box) override {
    const Console& console = context_.console;
    if (box.result == FlashResult::Done) {
      progress_.Update(high_);
      progress_.End();
      console.Result(command_ == FlashCommand::Verify ? std::string(box.caption) + " " + box.text
                                                      : box.text);
      return;
    }
    progress_.End();
    std::string text = box.text;
    if (box.result == FlashResult::AdapterNotFound) {
      if (!context_.adapter_error.empty()) console.Error("", context_.adapter_error);
      if (!box.reason.empty()) console.Error("", box.reason);
    } else if (box.result == FlashResult::Mismatch) {
      text = MismatchText(box.failed_chunk_start, high_);
    } else if (box.result == FlashResult::VerifyOnBase && verify_after_write_) {
      text = std::string(kVerifyAfterWriteRefused) + "\n" + box.text;
    }
    console.Error(box.caption, text);
  }

 private:
  void Phase(const char* text, const char* name) {
    progress_.End();
    context_.console.Status(text);
    progress_.Begin(name, high_);
  }

  const CommandContext& context_;
  FlashCommand command_;
  bool verify_after_write_;
  cli::Progress progress_;
  int32_t high_ = 0;
};

int ExitStatusFor(FlashResult result) {
  switch (result) {
    case FlashResult::Done:
      return kExitDone;
    case FlashResult::AdapterNotFound:
      return kExitAdapterNotFound;
    case FlashResult::NoImage:
      return kExitImageRefused;
    case FlashResult::NoChip:
    case FlashResult::UnknownVersion:
    case FlashResult::VerifyOnBase:
    case FlashResult::TooBigForBase:
      return kExitChipNotUsable;
    case FlashResult::Mismatch:
      return kExitMismatch;
    case FlashResult::Cancelled:
      return kExitCancelled;
    case FlashResult::EraseTimeout:
    case FlashResult::NoMemory:
      break;
  }
  return kExitFailure;
}

// The stored setting is only read.
bool SafeModeFor(Options::Speed speed) {
  switch (speed) {
    case Options::Speed::Safe:
      return true;
    case Options::Speed::Fast:
      return false;
    case Options::Speed::Stored:
      break;
  }
  return StoredSafeModeForCommandLine();
}

int RunJob(const CommandContext& context, FlashCommand command, FlashSteps steps) {
  ConsoleObserver observer(context, command, steps.verify_after_write);
  steps.safe_mode = SafeModeFor(context.options.speed);
  FlashJob job(command, observer, std::move(steps));
  if (job.Prepare()) {
    if (command == FlashCommand::Identify) {
      context.console.Result(CurrentChipType() == ChipBase ? kBaseChipName : kLargeChipName);
    }
    job.Run();
  }
  return ExitStatusFor(job.result());
}

}  // namespace

int RunIdentify(const CommandContext& context) {
  return RunJob(context, FlashCommand::Identify, {});
}

int RunWrite(const CommandContext& context) {
  SetRunPhase(RunPhase::Preparing);
  FlashSteps steps;
  steps.verify_after_write = context.options.verify_after_write;
  steps.image_needed = [&context] {
    return LoadImage(context.options.file, context.console) == kExitDone;
  };
  // Each phase is set before the cancel request is looked at, so that an interrupt's message
  // always tells what the command will do with it.
  steps.cancel_before_erase = [] {
    SetRunPhase(RunPhase::Erasing);
    return CancelRequested();
  };
  steps.cancel_after_erase = [] {
    SetRunPhase(RunPhase::Programming);
    return CancelRequested();
  };
  const int written = RunJob(context, FlashCommand::Write, std::move(steps));
  SetRunPhase(RunPhase::ReadOnly);
  if (written != kExitDone || !context.options.verify_after_write) return written;
  // Verifying afterwards is the window's Verify command on the image just written.
  return RunVerify(context, /*image_loaded=*/true);
}

int RunVerify(const CommandContext& context, bool image_loaded) {
  SetRunPhase(RunPhase::ReadOnly);
  FlashSteps steps;
  steps.image_needed = [&context, image_loaded] {
    return image_loaded || LoadImage(context.options.file, context.console) == kExitDone;
  };
  return RunJob(context, FlashCommand::Verify, std::move(steps));
}

}  // namespace quelt::cli
