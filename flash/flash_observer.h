// What a flashing job tells its front end, in the order the front end shows it: status texts,
// the progress bar, message boxes. The window forwards each to its window thread; the command
// line prints them. Each call returns once the front end has shown it (a box: once it is closed).
#pragma once

#include <cstdint>
#include <string>

namespace quelt {

// How a job ended. The command line turns it into its exit status.
enum class FlashResult {
  Done,
  AdapterNotFound,  // the open failed; nothing was sent to the chip
  NoChip,
  UnknownVersion,
  VerifyOnBase,   // a verify, or a write to be verified, on "Quelt JQ", which has no verify
  TooBigForBase,  // an image over 131,072 bytes for "Quelt JQ"
  NoImage,        // the image step left no image loaded (its front end has said why)
  Cancelled,
  EraseTimeout,
  NoMemory,
  Mismatch,
};

enum class StatusId {
  CantConnect,
  ConnectionError,
  Connected,
  TooBig,
  Erasing,
  Cancelled,
  Writing,
  WriteFinished,
  Verifying,
  VerifyOk,
  VerifyError,
  EraseError,
  NoMemory,
};

struct FlashStatus {
  StatusId id;
  const char* text;
  // The window blanks the line with 110 spaces first; a few texts replace it at once.
  bool blank_first = true;
};

enum class BoxIcon { None, Error, Warning, Information };

// A message box with one OK button.
struct FlashBox {
  FlashResult result;  // what it reports; Done for the boxes of a finished write or verify
  const char* text;
  const char* caption;
  BoxIcon icon;
  bool owned_by_window = true;      // false: no owner, the window stays usable while it shows
  int32_t failed_chunk_start = -1;  // a mismatch: the start of the 128 KiB chunk that failed
  // An adapter not found: why its open failed, when the adapter can tell. Not for the box: the
  // user sees "Quelt USB Adapter not found"; the front ends put this on standard error.
  std::string reason = {};
};

class FlashObserver {
 public:
  virtual ~FlashObserver() = default;
  virtual void Status(const FlashStatus& status) = 0;
  // The progress bar's range 0..high, and its position 0.
  virtual void ProgressStart(int32_t high) = 0;
  // A position reached by programming or verifying (an image offset).
  virtual void Progress(int32_t position) = 0;
  // The bar filled at the end of a write or verify, whatever the result.
  virtual void ProgressFull(int32_t high) = 0;
  // The erase has reached `erased_up_to` (the window does not move its bar while erasing).
  virtual void Erased(int32_t erased_up_to) = 0;
  virtual void Box(const FlashBox& box) = 0;
};

}  // namespace quelt
