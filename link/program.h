// Chip programming: the image streamed as program groups of 40 adapter bytes per byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_status.h"

namespace quelt {

constexpr std::size_t kProgramGroupBytes = 40;
constexpr int32_t kChunkBytes = 0x20000;

// Fills the 40 adapter bytes of image offset i holding byte b, in the form of each chip type.
void FillBaseProgramGroup(uint8_t* out, int32_t i, uint8_t b);
void FillLargeProgramGroup(uint8_t* out, int32_t i, uint8_t b);

// Programs image[0..count) from flash address 0 in the wire form of the current chip type
// (ChipBase or ChipLarge). Returns NoMemory, having sent nothing, when the working buffer cannot
// be obtained.
[[nodiscard]] LinkStatus ProgramImage(const uint8_t* image, int32_t count,
                                      const ProgressFn& progress);

}  // namespace quelt
