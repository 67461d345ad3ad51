// Bus symbols and the link primitives on which every chip operation is built.
//
// A bus symbol is a 5-bit value on lines D0..D4 (bits 5..7 of the byte are dropped). It leaves
// the adapter as two adapter bytes: e with the strobe low, then e | 0x10 with the strobe high,
// where e carries D0..D3 in bits 0..3 and D4 in bit 5.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quelt {

constexpr std::size_t kMaxFrameSymbols = 256;

// The adapter byte of symbol s with the strobe low.
constexpr uint8_t EncodeSymbol(uint8_t s) {
  return static_cast<uint8_t>((s & 0x0F) | ((s & 0x10) ? 0x20 : 0x00));
}
constexpr uint8_t kStrobe = 0x10;

// One write of the two adapter bytes of the symbol.
uint32_t SendSymbol(uint8_t symbol);
// One write of 2 * count adapter bytes from one contiguous buffer (count 0 still writes once).
// count is at most kMaxFrameSymbols; larger counts are cut to it.
uint32_t SendFrame(const uint8_t* symbols, std::size_t count);
// One read; the input byte shifted right by 6 (bit 1: the chip's data line, bit 0: input bit 6).
int ReadLines();
// Shifts a byte out of the chip, least significant bit first (symbol 13, then eight samples each
// followed by a strobe of symbol 0).
int ReadChipByte();
// Leaves the bus quiet: SendSymbol(0).
uint32_t IdleBus();

}  // namespace quelt
