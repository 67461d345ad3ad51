// The command line's exit status. Scripts rely on these values; they never change.
#pragma once

namespace quelt::cli {

enum ExitStatus : int {
  kExitDone = 0,
  kExitUsage = 1,
  kExitImageRefused = 2,
  kExitAdapterNotFound = 3,
  kExitChipNotUsable = 4,  // no chip, unknown version, image too big for "Quelt JQ", verify on it
  kExitMismatch = 5,
  kExitCancelled = 6,
  kExitFailure = 7,  // erase that never finished, no memory
};

}  // namespace quelt::cli
