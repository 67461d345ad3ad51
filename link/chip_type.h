// The process-wide chip type, written only by identification and only out of ChipNone.
#pragma once

namespace quelt {

enum ChipType : int {
  ChipNone = 0,
  ChipBase = 1,   // "Quelt JQ", 128 KiB, short protocol
  ChipAlt = 2,    // answers as an unknown version; refused
  ChipLarge = 3,  // "Quelt JQ Ombrix", 2 MiB, long protocol
};

ChipType CurrentChipType();
// Used by identification only.
void SetCurrentChipType(ChipType type);
// For tests only: returns the process to its start state (ChipNone).
void ResetChipTypeForTests();

}  // namespace quelt
