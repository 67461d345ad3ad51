#include "flash/flash_job.h"

#include <algorithm>
#include <utility>

#include "image/image_store.h"
#include "link/adapter.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/verify.h"
#include "texts/user_texts.h"

namespace quelt {

FlashJob::FlashJob(FlashCommand command, FlashObserver& observer, FlashSteps steps)
    : command_(command), observer_(&observer), steps_(std::move(steps)) {}

bool FlashJob::EndHere(FlashResult result) {
  IdleBus();
  result_ = result;
  return false;
}

bool FlashJob::ReportConnection() {
  switch (CurrentChipType()) {
    case ChipNone:
      Say(StatusId::ConnectionError, kConnectionErrorCaption);
      observer_->Box({FlashResult::NoChip, kNoChipText, kConnectionErrorCaption, BoxIcon::Error});
      return EndHere(FlashResult::NoChip);
    case ChipBase:
      Say(StatusId::Connected, kConnectedBase);
      return true;
    case ChipLarge:
      Say(StatusId::Connected, kConnectedLarge);
      return true;
    case ChipAlt:
      break;
  }
  observer_->Box(
      {FlashResult::UnknownVersion, kUnknownVersionText, kConnectionErrorCaption, BoxIcon::Error});
  return EndHere(FlashResult::UnknownVersion);
}

bool FlashJob::Prepare() {
  result_ = FlashResult::Done;
  if (AdapterOpen() != 0) {
    // Nothing is sent to the chip after a failed open, not even the idle symbol.
    FlashBox not_found{FlashResult::AdapterNotFound, kAdapterNotFoundText, kAdapterNotFoundCaption,
                       BoxIcon::Error};
    not_found.reason = AdapterOpenError();
    observer_->Box(not_found);
    Say(StatusId::CantConnect, kCantConnectStatus, false);
    result_ = FlashResult::AdapterNotFound;
    return false;
  }
  AdapterSpeed(steps_.safe_mode ? 3 : 2);
  IdentifyChip();

  const FlashBox not_implemented{FlashResult::VerifyOnBase, kNotImplementedText,
                                 kNotImplementedCaption, BoxIcon::Warning};
  // A verify refuses "Quelt JQ" before the connection is reported and before any image is asked
  // for.
  if (command_ == FlashCommand::Verify && CurrentChipType() == ChipBase) {
    observer_->Box(not_implemented);
    return EndHere(FlashResult::VerifyOnBase);
  }
  if (!ReportConnection()) return false;
  if (command_ == FlashCommand::Identify) return true;
  if (!steps_.image_needed || !steps_.image_needed()) return EndHere(FlashResult::NoImage);

  if (command_ == FlashCommand::Write && CurrentChipType() == ChipBase) {
    if (ImageSize() > kBaseChipMaxBytes) {
      observer_->Box(
          {FlashResult::TooBigForBase, kTooBigForBaseText, kTooBigCaption, BoxIcon::Error});
      Say(StatusId::TooBig, kTooBigStatus, false);
      return EndHere(FlashResult::TooBigForBase);
    }
    if (steps_.verify_after_write) {
      observer_->Box(not_implemented);
      return EndHere(FlashResult::VerifyOnBase);
    }
  }
  return true;
}

FlashResult FlashJob::Run() {
  switch (command_) {
    case FlashCommand::Write:
      result_ = Write();
      break;
    case FlashCommand::Verify:
      result_ = Verify();
      break;
    case FlashCommand::Identify:
      result_ = FlashResult::Done;
      break;
  }
  IdleBus();
  return result_;
}

FlashResult FlashJob::Write() {
  const int32_t n = ImageSize();
  if (steps_.cancel_before_erase && steps_.cancel_before_erase()) {
    Say(StatusId::Cancelled, kWriteCancelled);
    return FlashResult::Cancelled;
  }
  observer_->ProgressStart(n);
  Say(StatusId::Erasing, kErasing);
  const LinkStatus erased = EraseImageRange(n, [this, n](int32_t block_start, int, int) {
    observer_->Erased(std::min(NextBlockStart(block_start), n));
  });
  if (erased == LinkStatus::EraseTimeout) {
    observer_->Box(
        {FlashResult::EraseTimeout, kEraseErrorText, kEraseErrorCaption, BoxIcon::Error});
    Say(StatusId::EraseError, kEraseErrorStatus);
    return FlashResult::EraseTimeout;
  }
  // Every block the image covers has been erased; a cancel asked for until now stops here.
  if (steps_.cancel_after_erase && steps_.cancel_after_erase()) {
    Say(StatusId::Cancelled, kWriteCancelled);
    return FlashResult::Cancelled;
  }
  Say(StatusId::Writing, kWriting);
  // A finished programming pass counts as success: only a verify looks at the chip's contents.
  if (ProgramImage(ImageBuffer(), n, [this](int32_t at) { observer_->Progress(at); }) ==
      LinkStatus::NoMemory) {
    observer_->Box({FlashResult::NoMemory, kNoMemoryText, kErrorCaption, BoxIcon::Error});
    Say(StatusId::NoMemory, kNoMemoryStatus);
    return FlashResult::NoMemory;
  }
  observer_->Box({FlashResult::Done, kWriteComplete, kWriteCompleteCaption, BoxIcon::Information,
                  /*owned_by_window=*/false});
  observer_->ProgressFull(n);
  Say(StatusId::WriteFinished, kWriteFinished);
  return FlashResult::Done;
}

FlashResult FlashJob::Verify() {
  const int32_t n = ImageSize();
  observer_->ProgressStart(n);
  Say(StatusId::Verifying, kVerifying);
  const VerifyOutcome outcome =
      VerifyImage(ImageBuffer(), n, [this](int32_t at) { observer_->Progress(at); });
  observer_->ProgressFull(n);
  if (outcome.status == LinkStatus::NoMemory) {
    observer_->Box({FlashResult::NoMemory, kNoMemoryText, kErrorCaption, BoxIcon::Error});
    Say(StatusId::NoMemory, kNoMemoryStatus);
    return FlashResult::NoMemory;
  }
  if (outcome.result == 1) {
    observer_->Box({FlashResult::Done, kVerifyOkText, kVerifyOkCaption, BoxIcon::Information});
    Say(StatusId::VerifyOk, kVerifyOkStatus);
    return FlashResult::Done;
  }
  observer_->Box({FlashResult::Mismatch, kVerifyErrorText, kVerifyErrorCaption, BoxIcon::Warning,
                  true, std::max(outcome.failed_chunk_start, 0)});
  Say(StatusId::VerifyError, kVerifyErrorStatus);
  return FlashResult::Mismatch;
}

}  // namespace quelt
