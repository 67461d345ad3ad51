// Chip verification: the chip compares its flash with the streamed image, one pass bit per
// 128 KiB chunk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_status.h"

namespace quelt {

constexpr std::size_t kCompareGroupBytes = 6;

void FillCompareGroup(uint8_t* out, uint8_t b);

struct VerifyOutcome {
  LinkStatus status = LinkStatus::Ok;
  int result = 1;                   // 1: every chunk passed (also for count 0); 0: a chunk failed
  int32_t failed_chunk_start = -1;  // the start of the chunk that failed, -1 when none did
};

// Verifies image[0..count) against the flash from address 0 (ChipLarge). Stops after the first
// failing chunk. With NoMemory nothing was sent and result is 0.
[[nodiscard]] VerifyOutcome VerifyImage(const uint8_t* image, int32_t count,
                                        const ProgressFn& progress);

}  // namespace quelt
