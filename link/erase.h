// Chip erase: every flash block whose start lies below the image size, each followed by a wait
// until the chip is ready.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "link/link_status.h"
#include "link/phases.h"

namespace quelt {

// Called after each block has been erased: its start, the blocks done so far (this one
// included) and the blocks in all.
using EraseBlockFn = std::function<void(int32_t block_start, int blocks_done, int blocks_total)>;

// The bound on one block's wait, by elapsed time. 30 s by default; tests and the command line
// lower it.
void SetEraseTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds EraseTimeout();

// The block start that follows `start` for the current chip type.
int32_t NextBlockStart(int32_t start);
// The erase frame for the block at `start` for the current chip type.
Frame EraseFrame(int32_t start);

void SendAddress(int32_t address);
// Polls address 0 until two successive reads agree, then reads twice more. Returns EraseTimeout
// when the bound passed first.
[[nodiscard]] LinkStatus WaitReady();
[[nodiscard]] LinkStatus EraseBlock(int32_t start);
// Stops at the first block whose wait timed out.
[[nodiscard]] LinkStatus EraseImageRange(int32_t size, const EraseBlockFn& on_block = {});

}  // namespace quelt
