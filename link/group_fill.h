// Whole blocks of program and compare groups filled with 256-bit vector stores, on processors
// that have them. Each group is a fixed pattern with a few bytes taken from the image byte (and,
// for ChipBase, from the offset); the blocks are built by shuffling those bytes into place over
// constant patterns, so that filling runs at the speed of plain stores.
#pragma once

#include <cstdint>

namespace quelt {

// Offsets per block of each filler.
constexpr int32_t kBaseVectorRun = 32;  // one run of ChipBase offsets sharing address bits 16..5
constexpr int32_t kLargeVectorBlock = 8;
constexpr int32_t kCompareVectorBlock = 16;

// True when the vector fillers may be used (the processor has them and tests have not turned
// them off).
bool VectorFillAvailable();
// For tests only: false forces the plain fillers, true goes back to using the processor's.
void EnableVectorFillForTests(bool enable);

// ChipBase groups of `runs` whole runs from offset `from` (a multiple of 32).
void FillBaseRunsVector(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t runs);
// ChipLarge groups of `blocks` blocks, every group with bit 3 set (the image's first group is
// patched by the caller).
void FillLargeBlocksVector(uint8_t* out, const uint8_t* bytes, int32_t blocks);
// Compare groups of `blocks` blocks.
void FillCompareBlocksVector(uint8_t* out, const uint8_t* bytes, int32_t blocks);

}  // namespace quelt
