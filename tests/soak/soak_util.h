// The chips' sizes and erase block layouts for the soak and kill tests, written out by hand.
#pragma once

#include <cstdint>
#include <random>

#include "tests/support/test_files.h"

namespace quelt::soak {

using test::EnvNumber;
using test::RandomBytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int32_t kBaseSize = 0x20000;    // "Quelt JQ"
constexpr int32_t kLargeSize = 0x200000;  // "Quelt JQ Ombrix"
constexpr int32_t kChunk = 0x20000;       // one pass bit of the verify per chunk

enum class Chip { Base, Large };

inline const char* ChipName(Chip chip) { return chip == Chip::Base ? "base" : "large"; }
inline int32_t ChipSize(Chip chip) { return chip == Chip::Base ? kBaseSize : kLargeSize; }

// The end of the last erase block whose start lies below `size`: 4 KiB blocks on the base chip;
// 16, 8, 8 and 32 KiB, then 64 KiB blocks on the large one.
inline int32_t ErasedEnd(Chip chip, int32_t size) {
  if (size <= 0) return 0;
  if (chip == Chip::Base) return (size + 0xFFF) / 0x1000 * 0x1000;
  for (const int32_t end : {0x4000, 0x6000, 0x8000, 0x10000}) {
    if (size <= end) return end;
  }
  return (size + 0xFFFF) / 0x10000 * 0x10000;
}

}  // namespace quelt::soak
