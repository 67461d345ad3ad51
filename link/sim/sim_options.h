// The emulator's option string, as after "sim:": TYPE[,OPTION...].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/sim/sim_chip.h"

namespace quelt {

struct SimBadCell {
  uint32_t address = 0;
  uint8_t mask = 0xFF;
};

struct SimOptions {
  enum class Stuck { No, Low, High };

  SimChipType type = SimChipType::Large;
  std::string flash_file;  // empty: the flash lives in memory
  uint32_t erase_polls = 3;
  Stuck stuck = Stuck::No;
  std::vector<SimBadCell> bad;
  bool slow = false;
  uint64_t rate = 0;  // adapter bytes per second; 0: as fast as possible
};

// Parses `text`. A malformed, unknown, repeated (except bad=) or out-of-range option is refused:
// false, with `error` naming it.
bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error);

}  // namespace quelt
