// Status of the chip operations that can fail on the host side.
//
// The chip itself reports nothing but its answers; these are the host-side failures that must
// never be taken for success: an erase whose wait never settled, and a working buffer that
// could not be obtained.
#pragma once

#include <cstdint>
#include <functional>

namespace quelt {

enum class LinkStatus {
  Ok,
  EraseTimeout,  // a block erase did not finish within the erase wait bound
  NoMemory,      // the working buffer could not be obtained; nothing was sent to the chip
};

// Progress position (an image offset). Called on the thread of the chip operation; returns only
// when the position has been shown.
using ProgressFn = std::function<void(int32_t position)>;

}  // namespace quelt
