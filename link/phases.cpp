#include "link/phases.h"

namespace quelt {
namespace {

// Five address bits as one bus symbol; arithmetic on the signed address keeps the bit pattern.
uint8_t AddressBits(int32_t address, int shift) {
  return static_cast<uint8_t>((static_cast<uint32_t>(address) >> shift) & 0x1F);
}

}  // namespace

Frame ShortAddressPhase(int32_t address) {
  return Frame{0x11, AddressBits(address, 15), AddressBits(address, 10), AddressBits(address, 5),
               AddressBits(address, 0)};
}

Frame LongAddressPhase(int32_t address) {
  return Frame{0x01,
               AddressBits(address, 20),
               AddressBits(address, 15),
               AddressBits(address, 10),
               AddressBits(address, 5),
               AddressBits(address, 0)};
}

Frame BytePhase(uint8_t d) {
  return Frame{static_cast<uint8_t>(0x10 | (d >> 5)), static_cast<uint8_t>(d & 0x1F), 0x00};
}

}  // namespace quelt
