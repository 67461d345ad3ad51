#include "link/bus.h"

#include <algorithm>
#include <array>

#include "link/adapter.h"

namespace quelt {

uint32_t SendSymbol(uint8_t symbol) {
  const uint8_t e = EncodeSymbol(symbol);
  const uint8_t bytes[2] = {e, static_cast<uint8_t>(e | kStrobe)};
  uint32_t written = 0;
  return QueltProgrammerWrite(bytes, 2, &written);
}

uint32_t SendFrame(const uint8_t* symbols, std::size_t count) {
  count = std::min(count, kMaxFrameSymbols);
  // The whole frame goes out in one write so that its symbols reach the chip back to back.
  std::array<uint8_t, 2 * kMaxFrameSymbols> bytes;
  for (std::size_t k = 0; k < count; ++k) {
    const uint8_t e = EncodeSymbol(symbols[k]);
    bytes[2 * k] = e;
    bytes[2 * k + 1] = static_cast<uint8_t>(e | kStrobe);
  }
  uint32_t written = 0;
  return QueltProgrammerWrite(bytes.data(), static_cast<uint32_t>(2 * count), &written);
}

int ReadLines() {
  uint8_t input = 0;
  QueltProgrammerRead(&input);
  return input >> 6;
}

int ReadChipByte() {
  SendSymbol(13);
  int byte = 0;
  for (int bit = 0; bit < 8; ++bit) {
    // The data line is sampled before each strobe; the first bit sampled is bit 0.
    const int lines = ReadLines();
    SendSymbol(0);
    byte = (byte >> 1) | ((lines & 0x02) << 6);
  }
  return byte;
}

uint32_t IdleBus() { return SendSymbol(0); }

}  // namespace quelt
