// The flashing core under both front ends: one identification, write or verify of the chip, from
// the open of the adapter to the idle symbol that ends it.
//
//   FlashJob job(FlashCommand::Write, observer, steps);
//   if (job.Prepare()) job.Run();    // Run may go on another thread (the window's worker)
//
// Prepare opens the adapter, sets the speed, identifies and reports the chip, refuses what cannot
// be done, and takes the image step; Run erases and programs, or verifies. Everything the user is
// to see goes through the observer; what differs between the front ends comes in as steps.
#pragma once

#include <cstdint>
#include <functional>

#include "flash/flash_observer.h"

namespace quelt {

enum class FlashCommand { Identify, Write, Verify };

struct FlashSteps {
  bool safe_mode = false;  // adapter speed 3, else 2
  // A write that a verify is to follow: refused on "Quelt JQ" before anything is erased.
  bool verify_after_write = false;
  // Asked after the connection has been reported, with the adapter open: whether an image is
  // loaded now (the window asks for a file when none is; the command line loads its FILE).
  std::function<bool()> image_needed;
  // Optional: a cancel point before the erase (the command line's).
  std::function<bool()> cancel_before_erase;
  // The one cancel point of every write: after the erase, before programming.
  std::function<bool()> cancel_after_erase;
};

class FlashJob {
 public:
  FlashJob(FlashCommand command, FlashObserver& observer, FlashSteps steps);

  // On the caller's thread. True when Run() is to follow; false when the command has ended here
  // (result() says how; the bus was sent to idle unless the open failed).
  bool Prepare();
  // After Prepare() returned true: the chip work, then the idle symbol.
  FlashResult Run();

  FlashResult result() const { return result_; }

 private:
  bool ReportConnection();
  bool EndHere(FlashResult result);
  FlashResult Write();
  FlashResult Verify();
  void Say(StatusId id, const char* text, bool blank_first = true) {
    observer_->Status({id, text, blank_first});
  }

  FlashCommand command_;
  FlashObserver* observer_;
  FlashSteps steps_;
  FlashResult result_ = FlashResult::Done;
};

}  // namespace quelt
