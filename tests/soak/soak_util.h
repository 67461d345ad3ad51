// The chips' sizes and erase block layouts for the soak and kill tests, written out by hand, and
// opening the emulator as a command starts.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "tests/support/test_files.h"

namespace quelt::soak {

using namespace test;

constexpr int32_t kBaseSize = 0x20000;    // "Quelt JQ"
constexpr int32_t kLargeSize = 0x200000;  // "Quelt JQ Ombrix"
constexpr int32_t kChunk = 0x20000;       // one pass bit of the verify per chunk

enum class Chip { Base, Large };
inline const char* ChipName(Chip chip) { return chip == Chip::Base ? "base" : "large"; }
inline int32_t ChipSize(Chip chip) { return chip == Chip::Base ? kBaseSize : kLargeSize; }

// The end of the last erase block whose start lies below `size`: 4 KiB blocks on the base chip;
// 16, 8, 8 and 32 KiB, then 64 KiB blocks on the large one.
inline int32_t ErasedEnd(Chip chip, int32_t size) {
  if (chip == Chip::Base) return (size + 0xFFF) / 0x1000 * 0x1000;
  for (const int32_t end : {0x4000, 0x6000, 0x8000, 0x10000}) {
    if (size <= end) return end;
  }
  return (size + 0xFFFF) / 0x10000 * 0x10000;
}

// Opens, identifies and installs the emulator; false unless it identifies as `chip`.
inline bool OpenChip(Chip chip, const std::string& options, std::unique_ptr<SimAdapter>* sim) {
  std::string error;
  *sim = SimAdapter::Create(options, &error);
  if (!*sim) return false;
  SetAdapter(sim->get());
  ResetChipTypeForTests();
  AdapterOpen();
  AdapterSpeed(2);
  IdentifyChip();
  return CurrentChipType() == (chip == Chip::Base ? ChipBase : ChipLarge);
}

}  // namespace quelt::soak
