// Chip identification: finds the attached chip type once, then only sends its start frame.
#pragma once

#include "link/phases.h"

namespace quelt {

// 19 x 0x00, 0x1F, 0x0C, 0x12, then the short address phase of 0.
Frame ShortStartFrame();
// 19 x 0x00, 0x1F, 0x0D, 0x12, then the long address phase of 0.
Frame LongStartFrame();

void EnterIdMode();
void LeaveIdMode();
// Identifies the chip while the chip type is ChipNone, else sends the known type's start frame.
void IdentifyChip();

}  // namespace quelt
